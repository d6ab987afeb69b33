#pragma once

#include <QApplication>

class Platform;

// The application object: an exception that escapes an event handler is shown in the
// "Application Error" box of `platform` instead of ending the program.
class Application final : public QApplication {
public:
    Application(int& argc, char** argv, Platform& platform)
        : QApplication(argc, argv), platform_(platform) {}
    bool notify(QObject* receiver, QEvent* event) override;

private:
    Platform& platform_;
};
