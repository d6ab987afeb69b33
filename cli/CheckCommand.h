#pragma once
// brellix-check: the window's checks from the command line. Files and folders named on the
// command line are gathered exactly as the window gathers them, checked on worker threads and
// reported in the order given.

#include <QString>
#include <QStringList>

#include <cstdio>
#include <utility>
#include <vector>

enum class OutputFormat { Text, Json, Junit, Gnu, Github, Sarif, Gitlab };

struct CheckOptions {
    QStringList paths;  // files (checked as given), folders (walked), "-" for standard input
    QStringList extensions{QStringLiteral("xml")};  // for folders; "*" for every file
    bool report = false;                            // invalid files carry the error report
    QString validListFile;    // written as "Save Results" writes the valid list
    QString invalidListFile;  // ... and the invalid list
    OutputFormat format = OutputFormat::Text;
    int threads = 0;        // 0: one per usable processor
    bool timing = false;    // the json output carries the run time
    bool quiet = false;     // print only what failed
    int errorsPerFile = 1;  // --all-errors: up to kMaxErrorsPerFile
    QStringList filesFrom;  // lists of paths to check ("-": standard input)
    bool nulSeparated = false;
    int shard = 0;  // check only the shard-th part (from 1) of shardCount; 0: all
    int shardCount = 0;
    bool shardBySize = false;  // --shard-by size: parts of about the same number of bytes
    QString shardStatusFile;   // touched when the run starts (Bazel's test sharding)
    bool colour = false;       // colour the text output (a terminal, and NO_COLOR not set)
    // --schema: every file is also checked against the XML Schema made of these documents.
    QStringList xmlSchemas;
    QString relaxNg;               // --relaxng: ... against this RELAX NG schema (XML syntax)
    bool schemaHints = false;      // --schema-hints: against the schemas each file names
    bool extensionsGiven = false;  // --ext was given: it overrides the configuration's
    QString configFile;            // --config; empty: the nearest .brellix.toml
    bool noConfig = false;         // --no-config
    bool printConfig = false;      // --print-config
    QStringList catalogs;          // --catalog, added to the configuration's
    QStringList excludes;          // --exclude, added to the configuration's
    // --output FORMAT:FILE: more reports of the same run, each written to its file at the end.
    std::vector<std::pair<OutputFormat, QString>> outputs;
    bool cache = false;       // --cache: reuse the results of earlier runs
    QString cacheLocation;    // --cache-location; empty: the default folder
    bool cacheClear = false;  // --cache-clear
};

// Exit statuses.
inline constexpr int kExitAllValid = 0;
inline constexpr int kExitSomeInvalid = 1;
// Bad usage, an unreadable argument, no file to check, an unwritable list or output.
inline constexpr int kExitTrouble = 2;

// How many errors --all-errors reports for one file at most.
inline constexpr int kMaxErrorsPerFile = 100;

// The part (0 to count - 1) that --shard puts `path` in: from a hash of the path's UTF-8
// bytes, the same on every machine.
int ShardOfPath(const QString& path, int count);

struct Entry;
// --shard-by size: the part (0 to count - 1) of each of `entries`, parts of about the same
// number of bytes; the same for the same files and sizes on every machine.
std::vector<int> ShardsBySize(const std::vector<Entry>& entries, int count);

// Runs the command with its arguments (program name first); writes results to `out` and
// messages to `err`; returns the exit status.
int RunCheckCommand(const QStringList& arguments, std::FILE* out, std::FILE* err);
