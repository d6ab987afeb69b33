#include "app/ApplicationError.h"

#include "app/Platform.h"

void ReportApplicationError(Platform& platform, QWidget* owner, const QString& description,
                            const QString& location, int statementNumber) {
    platform.showMessage(owner, ApplicationErrorMessage(description, location, statementNumber),
                         QStringLiteral("Application Error"), MessageButtons::Ok,
                         MessageIcon::Exclamation);
}
