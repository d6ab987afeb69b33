#pragma once
// The command line of brellix-check, read into its options.

#include "CheckCommand.h"
#include "Output.h"

#include <QStringList>

#include <optional>

struct Parsed {
    std::optional<CheckOptions> options;
    int exitStatus = kExitAllValid;  // when there are no options: --help, --version or an error
};

// Reads the arguments (program name first). --help and --version are answered on `out`, bad
// usage on `err`: both leave no options.
Parsed ParseArguments(const QStringList& arguments, Output& out, Output& err);
