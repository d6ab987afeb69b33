#include "results/ResultRow.h"

#include "common/ErrorReport.h"

namespace {

// The row of an invalid file shown with its report.
QString rowWithReport(const QString& path, const QString& report) {
    return path + QStringLiteral(" - ") + report;
}

}  // namespace

QString CheckResultRow(const QString& path, const CheckResult& result, bool showErrors) {
    if (result.loaded || result.failedStep != 0 || !showErrors)
        return path;
    return rowWithReport(path, ErrorReportText(result.error));
}

QString ValidateLocation() {
    // Every row's filing needs it, and it never changes: composed once (a copy shares it).
    static const QString location = LocationText(
        QStringLiteral("Brellix"), QStringLiteral("Validate2"), QStringLiteral("ValidateXML2"));
    return location;
}

void FileCheckResult(const QString& path, const CheckResult& result, ResultRowSink& rows,
                     bool showErrors, FailureReporter& reporter) {
    Guard guard(reporter, ValidateLocation());
    // 100 creating the parser and 102 loading ran in the check.
    if (result.failedStep != 0) {
        guard.report(result.failedStep, result.failure);
        guard.step(112, [&] { rows.appendInvalid(path); });
        return;
    }
    if (result.loaded) {
        guard.step(104, [&] { rows.appendValid(path); });
        return;
    }
    // 106 and 108, taking the error record and reading it, cannot fail here: the record is
    // part of the result. Should composing the report fail, the row is filed without it.
    QString report;
    guard.step(110, [&] { report = ErrorReportText(result.error); });
    guard.step(112, [&] { rows.appendInvalid(showErrors ? rowWithReport(path, report) : path); });
}
