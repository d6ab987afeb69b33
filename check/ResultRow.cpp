#include "check/ResultRow.h"

#include "app/ErrorReport.h"

QString CheckResultRow(const QString& path, const CheckResult& result, bool showErrors) {
    if (result.loaded || result.failedStep != 0 || !showErrors)
        return path;
    return path + QStringLiteral(" - ") + ErrorReportText(result.error);
}

QString ValidateLocation() {
    return LocationText(QStringLiteral("Brellix"), QStringLiteral("Validate2"),
                        QStringLiteral("ValidateXML2"));
}
