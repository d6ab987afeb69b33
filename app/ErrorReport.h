#pragma once
// The one way the program reports an unexpected failure: the "Application Error" box, and the
// guarded-step mechanism that every guarded procedure runs its numbered steps through.

#include <QString>

#include <stdexcept>
#include <string>
#include <utility>

class Platform;
class QWidget;

inline constexpr char kSupportAddress[] = "support@brellix.example";

// A failure of a step, with a description the user can act on.
class StepFailure : public std::runtime_error {
public:
    explicit StepFailure(const QString& description)
        : std::runtime_error(description.toStdString()) {}
};

// "in " + project + "2021/08/31." + module + "." + procedure + " "
QString LocationText(const QString& project, const QString& module, const QString& procedure);
// The location text of a procedure of the main window: project "Brellix", module "Form1".
QString Form1Location(const QString& procedure);

// The text of the "Application Error" box.
QString ApplicationErrorMessage(const QString& description, const QString& location,
                                int statementNumber);

// Shows the "Application Error" box (exclamation icon, OK) and returns when it is closed.
void ReportApplicationError(Platform& platform, QWidget* owner, const QString& description,
                            const QString& location, int statementNumber);

// The description of the exception being handled (call only inside a catch block).
QString CurrentExceptionDescription();

// Runs the numbered steps of one guarded procedure. A step that throws is reported with the
// procedure's location text and the step's number, and the procedure goes on with its next
// step.
class Guard {
public:
    Guard(Platform& platform, QWidget* owner, QString location)
        : platform_(platform), owner_(owner), location_(std::move(location)) {}

    // Runs a step; true when it completed.
    template <class F>
    bool step(int number, F&& body) {
        try {
            std::forward<F>(body)();
            return true;
        } catch (...) {
            report(number, CurrentExceptionDescription());
            return false;
        }
    }

    // Runs the test of a conditional step. A failing test is reported and counts as passed.
    template <class F>
    bool test(int number, F&& condition) {
        try {
            return static_cast<bool>(std::forward<F>(condition)());
        } catch (...) {
            report(number, CurrentExceptionDescription());
            return true;
        }
    }

    // Reports a failure of step `number` that was detected without an exception.
    void report(int number, const QString& description);

    const QString& location() const { return location_; }

private:
    Platform& platform_;
    QWidget* owner_;
    QString location_;
};
