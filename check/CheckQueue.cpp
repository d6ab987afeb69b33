#include "check/CheckQueue.h"

#include "app/ErrorReport.h"

#include <algorithm>

CheckQueue::CheckQueue(int threads, int ahead) : CheckQueue(threads, ahead, Check()) {}

CheckQueue::CheckQueue(int threads, int ahead, Check check)
    : pool_(
          check ? std::move(check) : Check([](const QString& path) { return CheckXmlFile(path); }),
          threads),
      ahead_(std::max(1, ahead)) {
    // libxml2's process-wide set-up must be done before any worker parses.
    InitXmlChecking();
}

void CheckQueue::push(const QString& path) {
    pending_.push_back({path, pool_.submit(path)});
}

void CheckQueue::replaceFront(const QString& path) {
    Pending& front = pending_.front();
    front.path = path;
    front.result = pool_.submitFirst(path);
}

std::optional<CheckResult> CheckQueue::takeFront(const std::function<bool()>& whileWaiting,
                                                 std::chrono::milliseconds slice) {
    Pending& front = pending_.front();
    if (whileWaiting) {
        while (front.result.wait_for(slice) != std::future_status::ready) {
            if (!whileWaiting()) {
                pending_.pop_front();
                return std::nullopt;
            }
        }
    }
    CheckResult result;
    try {
        result = front.result.get();
    } catch (...) {
        result = FailedCheckResult();
    }
    pending_.pop_front();
    return result;
}

CheckResult FailedCheckResult() {
    CheckResult result;
    result.failedStep = 102;
    result.failure = CurrentExceptionDescription();
    return result;
}
