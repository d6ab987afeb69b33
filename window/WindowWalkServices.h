#pragma once
// The main window's services for the folder walk: its event pump, and the "Application Error"
// box owned by the window.

#include "files/AddFolder.h"

class Form1;

class WindowWalkServices final : public WalkServices {
public:
    explicit WindowWalkServices(Form1& form) : form_(form) {}
    bool pumpEvents() override;
    void reportFailure(const QString& description, const QString& location,
                       int statementNumber) override;

private:
    Form1& form_;
};
