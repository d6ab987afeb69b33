#pragma once
// The folder walk and the gathering of files: plain routines, shared by "Add All XML File(s) In
// Folder", by dropping folders onto the input list, and by anything else that collects the
// files of a folder tree. They need no window: what they need from their surroundings comes
// through WalkServices and the callbacks of GatherFiles.

#include "common/ErrorReport.h"

#include <QString>
#include <QStringList>

#include <functional>

// An ordered list of folder paths, each ending in the separator. Entries are not unique.
using FolderList = QStringList;

// Why the walk left out a folder it found.
enum class LeftOutFolder {
    UnusableName,  // its name holds "?" or a control character (HasUnusableChars)
    PathTooLong,   // its path is too long for the file system
};

// What the walk needs from its surroundings: where its failed steps are reported (the
// "Application Error" box, or the command line's error stream), and an event pump.
class WalkServices : public FailureReporter {
public:
    // Lets pending window events run once. False when the walk must stop at once (the window
    // was closed meanwhile).
    virtual bool pumpEvents() = 0;
    // Told of each subfolder that the walk leaves out (its path, ending in the separator), so
    // that it can be counted; nothing by default.
    virtual void folderLeftOut(const QString& folder, LeftOutFolder reason) {
        Q_UNUSED(folder);
        Q_UNUSED(reason);
    }
};

// "in TernwickTitle2021/08/31.AddFolder.GetSubDirectories2016 "
QString WalkLocation();

// Extends `folders` in place, level by level, by every folder below its entries that the walk
// keeps: first all folders one level below (grouped by parent in the order of the list, each
// parent's in listing order), then two levels below, and so on; only one level when `recurse`
// is false. Each real folder is walked at most once per call, so a link back to an ancestor
// adds nothing twice. An entry whose folder cannot be listed (permission denied, path not
// found) is removed without a message; other failures go to services.reportFailure. Lets
// events run once per folder opened and once per subfolder listed.
// Returns false when the walk stopped because services.pumpEvents() said so.
bool GetSubDirectories2016(FolderList& folders, bool recurse, WalkServices& services);

// The names (no folder part) of the files directly in `folder` that match the wildcard
// `pattern` and can be opened, in listing order. Throws StepFailure when the folder cannot be
// listed.
QStringList GetFilesInFolder(const QString& folder, const QString& pattern);

// True when a folder name holds a character that keeps it out of the walk: a control
// character (below 32, or 127 to 159), "?", or one that the file-name encoding cannot hold
// (a lone surrogate that is no kept byte; a kept byte is usable).
bool HasUnusableChars(const QString& name);

// The descend test: a folder is entered unless its attribute value is exactly 22 or 1046
// (hidden, system, directory, and possibly reparse point); a root folder is always entered.
bool EntersFolder(int attributes, const std::function<bool()>& isRoot);

// Receives the rows that the folders contribute, in order, a part at a time (a folder's rows
// may come in several parts; an empty folder gives none).
using RowSink = std::function<void(const QStringList& rows)>;
// Receives a failed step of the gathering: its number (120 listing a folder's files, 128
// examining one file) and the failure's description. The gathering then goes on.
using StepReport = std::function<void(int statementNumber, const QString& description)>;

// Why a file that matches the pattern was left out.
enum class SkipReason { Tilde, NotOpenable, Hidden };
// Receives each matching file that was left out, with its full path.
using SkipSink = std::function<void(const QString& path, SkipReason reason)>;

// For each folder of `folders` in order, the full paths of its files that match `pattern`,
// can be opened, do not start with "~" and whose attribute value is not exactly 34 (hidden
// archive), each passed through NormalizePath; the matching files left out go to `skipped`
// when one is given. Lets no events run itself; a sink may.
void GatherFiles(const FolderList& folders, const QString& pattern, const RowSink& sink,
                 const StepReport& report, const SkipSink& skipped = {});

// A folder tree's files for several extensions ("xml", or "*" for every file), as the folder
// scan gathers them: the folder and every folder below it (GetSubDirectories2016), and in each
// folder the files of each extension in turn (GatherFiles), each file once. A file left out
// goes to `skipped` once, whatever number of extensions it matched.
void GatherFolderTree(const QString& folder, const QStringList& extensions, WalkServices& services,
                      const RowSink& sink, const SkipSink& skipped = {});

// The files that one named item stands for: a folder's files as GatherFiles gathers them from
// the folder and every folder below it, anything else as it stands. False when the walk
// stopped because services.pumpEvents() said so.
bool GatherPath(const QString& path, const QString& pattern, WalkServices& services,
                const RowSink& sink, const StepReport& report);
