#pragma once
// brellix-check merge: the json outputs of the shards of one run made into the report of the
// whole run, in any format, with the exit status the whole run would have had.

#include "Output.h"

#include <QStringList>

// Runs "brellix-check merge" with its arguments (the program name first, "merge" left out).
int RunMergeCommand(const QStringList& arguments, Output& out, Output& err);
