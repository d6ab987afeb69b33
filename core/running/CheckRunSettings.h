#pragma once
// How "Start Checking" spreads its files over worker threads.

#include "check/XmlCheck.h"
#include "running/CheckQueue.h"

#include <functional>

struct CheckRunSettings {
    // Worker threads; 0: one per usable processor.
    int threads = 0;
    // Files handed to the workers ahead of the row the run has reached, per worker: enough for
    // the window to take the results of a batch at a time (see CheckQueue::takeFront).
    int aheadPerThread = kCheckAheadPerThread;
    // The check each file gets on a worker; empty: CheckXmlFile with `options`.
    std::function<CheckResult(const QString& path)> check;
    XmlCheckOptions options;
};
