#include "lists/WindowWalkServices.h"

#include "app/ErrorReport.h"
#include "app/Form1.h"

bool WindowWalkServices::pumpEvents() {
    return form_.PumpEvents();
}

void WindowWalkServices::reportFailure(const QString& description, const QString& location,
                                       int statementNumber) {
    ReportApplicationError(form_.platform(), &form_, description, location, statementNumber);
}
