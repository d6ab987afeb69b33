#pragma once

#include <QApplication>

// The application object: an exception that escapes an event handler is shown in the
// "Application Error" box instead of ending the program.
class Application final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override;
};
