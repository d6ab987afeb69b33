#pragma once
// The texts of an unexpected failure (the "Application Error" box and its location texts), and
// the guarded-step mechanism that every guarded procedure runs its numbered steps through.
// Plain code: where a failure is shown (a box of the window, a line on the command line) is up
// to the FailureReporter.

#include <QString>

#include <stdexcept>
#include <string>
#include <utility>

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

// The description of the exception being handled (call only inside a catch block).
QString CurrentExceptionDescription();

// Where the failed steps of guarded procedures are reported.
class FailureReporter {
public:
    virtual ~FailureReporter() = default;
    // A failed step: the failure's description, the procedure's location text and the step's
    // number.
    virtual void reportFailure(const QString& description, const QString& location,
                               int statementNumber) = 0;
};

// Runs the numbered steps of one guarded procedure. A step that throws is reported with the
// procedure's location text and the step's number, and the procedure goes on with its next
// step.
class Guard {
public:
    Guard(FailureReporter& reporter, QString location)
        : reporter_(reporter), location_(std::move(location)) {}

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
    void report(int number, const QString& description) {
        reporter_.reportFailure(description, location_, number);
    }

    const QString& location() const { return location_; }

private:
    FailureReporter& reporter_;
    QString location_;
};
