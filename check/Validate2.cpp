#include "check/Validate2.h"

#include "app/ErrorReport.h"
#include "check/ResultRow.h"
#include "check/XmlCheck.h"
#include "lists/FileList.h"

void ValidateXML2(const QString& path, FileList& validList, FileList& invalidList, bool showErrors,
                  Platform& platform, QWidget* owner) {
    FileCheckResult(path, CheckXmlFile(path), validList, invalidList, showErrors, platform, owner);
}

void FileCheckResult(const QString& path, const CheckResult& result, FileList& validList,
                     FileList& invalidList, bool showErrors, Platform& platform, QWidget* owner) {
    Guard guard(platform, owner, ValidateLocation());
    // 100 creating the parser and 102 loading ran in CheckXmlFile.
    if (result.failedStep != 0) {
        guard.report(result.failedStep, result.failure);
        guard.step(112, [&] { invalidList.append(path); });
        return;
    }
    if (result.loaded) {
        guard.step(104, [&] { validList.append(path); });
        return;
    }
    // 106 and 108, taking the error record and reading it, cannot fail here: the record is
    // part of the result.
    QString report;
    guard.step(110, [&] { report = ErrorReportText(result.error); });
    guard.step(112, [&] {
        invalidList.append(showErrors ? path + QStringLiteral(" - ") + report : path);
    });
}
