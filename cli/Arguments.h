#pragma once
// The command line of brellix-check, read into its options.

#include "CheckCommand.h"
#include "Output.h"

#include <QStringList>

#include <optional>
#include <utility>
#include <variant>

struct Parsed {
    std::optional<CheckOptions> options;
    int exitStatus = kExitAllValid;  // when there are no options: --help, --version or an error
};

// The output format of a name of --format ("text", "json" ...); nothing for another name.
std::optional<OutputFormat> OutputFormatNamed(const QString& name);
// The format and file of an --output FORMAT:FILE value, or the usage error that refuses it.
std::variant<std::pair<OutputFormat, QString>, QString> OutputNamed(const QString& value);

// The shard that the CI system the process runs in gives it (the first system whose two
// variables are set); `error` when their values name none.
struct CiShard {
    int shard = 0;  // from 1
    int count = 0;
    QString statusFile;  // Bazel's TEST_SHARD_STATUS_FILE, touched to say the split is honoured
    QString error;
};
std::optional<CiShard> CiShardOfEnvironment();

// Reads the arguments (program name first). --help and --version are answered on `out`, bad
// usage on `err`: both leave no options.
Parsed ParseArguments(const QStringList& arguments, Output& out, Output& err);
