#pragma once
// The "Application Error" box: how the window shows an unexpected failure.

#include "common/ErrorReport.h"

class Platform;
class QWidget;

// Shows the "Application Error" box (exclamation icon, OK) and returns when it is closed.
void ReportApplicationError(Platform& platform, QWidget* owner, const QString& description,
                            const QString& location, int statementNumber);

// Reports failed steps in the "Application Error" box, owned by `owner`.
class ApplicationErrorBox final : public FailureReporter {
public:
    ApplicationErrorBox(Platform& platform, QWidget* owner) : platform_(platform), owner_(owner) {}
    void reportFailure(const QString& description, const QString& location,
                       int statementNumber) override {
        ReportApplicationError(platform_, owner_, description, location, statementNumber);
    }

private:
    Platform& platform_;
    QWidget* owner_;
};
