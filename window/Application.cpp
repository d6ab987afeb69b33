#include "Application.h"

#include "ApplicationError.h"

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportApplicationError(platform_, activeWindow(), CurrentExceptionDescription(),
                               Form1Location(QStringLiteral("EventLoop")), 0);
        return false;
    }
}
