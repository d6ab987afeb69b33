#pragma once
// The files a run checks, gathered from the paths given: files as they stand, folders walked
// as the window walks them.

#include "CheckCommand.h"
#include "Output.h"
#include "Reports.h"
#include "check/XmlCheck.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// A file to check and what the command line knows of it before the check.
struct Entry {
    QString path;                      // as shown and listed
    bool stream = false;               // read by the command line: "-", a FIFO or a device
    bool standardInput = false;        // "-" on the command line
    QString unreadable;                // why a PATH named directly cannot be read
    std::optional<CheckResult> known;  // the verdict without a check (a folder that cannot be read)
    bool walked = false;               // found in a folder (not named directly)
    qsizetype position = 0;            // its place among all the files of the run
    // What the check opens: the path, or "./-" for a file named "-" in a list.
    QString checkPath() const {
        return !standardInput && path == QLatin1String("-") ? QStringLiteral("./-") : path;
    }
};

// The folders that the walks left out, by reason.
struct LeftOutFolders {
    int unusableName = 0;
    int pathTooLong = 0;
};

struct Gathered {
    std::vector<Entry> entries;
    SkippedFiles skipped;
    LeftOutFolders leftOut;
    int excluded = 0;  // files of the folders that the configuration excludes
    int ignored = 0;   // ... and that git ignores
};

// The folders the walks left out, as told at the end of a run; empty when there were none.
QString LeftOutText(const LeftOutFolders& leftOut);

// The files to check, in the order given: a file as it stands, a folder's files as the folder
// scan gathers them (for each folder, the files of each extension in turn). Of `paths`, the
// first `commandLine` were named on the command line, where "-" is standard input; the rest
// come from --files-from lists, where "-" is a file of that name. Paths that cannot be read are
// told on `err`.
Gathered GatherEntries(const CheckOptions& options, const QStringList& paths, qsizetype commandLine,
                       Output& err);

// Why a run found no file to check.
QString SearchedText(const CheckOptions& options, const QStringList& paths);
// The message that counts the files of the folders that the configuration left out; empty when
// there were none.
QString ExcludedText(const Gathered& gathered);
// The message that counts the files that the folder scans left out.
QString SkippedText(const SkippedFiles& skipped);
