#pragma once
// brellix-check: the window's checks from the command line. Files and folders named on the
// command line are gathered exactly as the window gathers them, checked on worker threads and
// reported in the order given.

#include <QString>
#include <QStringList>

#include <cstdio>

enum class OutputFormat { Text, Json, Junit };

struct CheckOptions {
    QStringList paths;                // files (checked as given) and folders (walked)
    QString extension = QStringLiteral("xml");  // for folders; "*" for every file
    bool report = false;              // invalid files carry the error report
    QString validListFile;            // written as "Save Results" writes the valid list
    QString invalidListFile;          // ... and the invalid list
    OutputFormat format = OutputFormat::Text;
    int threads = 0;                  // 0: one per core
};

// Exit statuses.
inline constexpr int kExitAllValid = 0;
inline constexpr int kExitSomeInvalid = 1;
inline constexpr int kExitTrouble = 2;  // bad usage, an unreadable argument, an unwritable list

// Runs the command with its arguments (program name first); writes results to `out` and
// messages to `err`; returns the exit status.
int RunCheckCommand(const QStringList& arguments, std::FILE* out, std::FILE* err);
