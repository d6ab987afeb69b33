#pragma once
// Documents that the command line reads from something other than a regular file: standard
// input ("-"), and a FIFO or device named on the command line. The folder scans never gather
// such files; named on the command line, they are read to their end like a file.

#include "check/XmlCheck.h"

#include <QString>

// Reads the document from standard input (`standardInput`, with `path` "-": the address shown
// is "-", relative references resolve from the working folder) or from the FIFO or device at
// `path`, and
// checks it. At most ParserMemoryLimit() bytes are read: a longer input is invalid as too
// large, and an input that cannot be opened or read is invalid with the reason.
CheckResult CheckStreamArgument(const QString& path, bool standardInput,
                                const XmlCheckOptions& options);
