#include "WindowWalkServices.h"

#include "Form1.h"
#include "common/ErrorReport.h"

bool WindowWalkServices::pumpEvents() {
    return form_.PumpEvents();
}

void WindowWalkServices::reportFailure(const QString& description, const QString& location,
                                       int statementNumber) {
    form_.errorBox().reportFailure(description, location, statementNumber);
}
