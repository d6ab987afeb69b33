#include "app/Application.h"

#include "app/ErrorReport.h"

#include <QMessageBox>

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        const QString text =
            ApplicationErrorMessage(CurrentExceptionDescription(),
                                    Form1Location(QStringLiteral("EventLoop")), 0);
        QMessageBox::warning(activeWindow(), QStringLiteral("Application Error"),
                             QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
        return false;
    }
}
