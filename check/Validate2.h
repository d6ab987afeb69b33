#pragma once
// Checking one file for the window: the verdict of CheckXmlFile filed as one row of the valid
// or the invalid list. A failure of the check itself is shown in the "Application Error" box
// with the location "in Brellix2021/08/31.Validate2.ValidateXML2 ".

#include <QString>

class FileList;
class Platform;
class QWidget;
struct CheckResult;

// Checks the file at `path` on the calling thread and files the result (steps 100 to 112).
void ValidateXML2(const QString& path, FileList& validList, FileList& invalidList, bool showErrors,
                  Platform& platform, QWidget* owner);

// Files the result of a check that has already run, possibly on another thread: reports a
// failure of the check at its step (100 or 102), then appends exactly one row: the path to
// `validList` when the file loaded, otherwise to `invalidList` the path alone, or with
// `showErrors` the path, " - " and the error report. A file whose check failed is never
// valid; its row is the path alone.
void FileCheckResult(const QString& path, const CheckResult& result, FileList& validList,
                     FileList& invalidList, bool showErrors, Platform& platform, QWidget* owner);
