#include "ApplicationError.h"

#include "Platform.h"

void ReportApplicationError(Platform& platform, QWidget* owner, const QString& description,
                            const QString& location, int statementNumber) {
    platform.showMessage(owner, ApplicationErrorMessage(description, location, statementNumber),
                         QStringLiteral("Application Error"), MessageButtons::Ok,
                         MessageIcon::Exclamation);
}
