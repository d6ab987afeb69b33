#include "running/CheckQueue.h"

#include "common/ErrorReport.h"

#include <algorithm>

namespace {

// The tree a worker's check set aside, freed once the verdict was handed over.
thread_local SetAsideTree tWorkersTree;

}  // namespace

CheckQueue::CheckQueue(int threads, int ahead, XmlCheckOptions options)
    : CheckQueue(threads, ahead, Check(), std::move(options)) {}

CheckQueue::CheckQueue(int threads, int ahead, Check check, XmlCheckOptions options)
    : pool_(check ? std::move(check) : Check([options = std::move(options)](const QString& path) {
                // Each worker's own copy: the workers share `options`.
                XmlCheckOptions own = options;
                own.setAside = &tWorkersTree;
                return CheckXmlFile(path, own);
            }),
            threads, [] { tWorkersTree.reset(); }),
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

namespace {

bool isReady(const std::future<CheckResult>& result) {
    return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// How many results the taker waits for at once, and for how long at most before it looks at
// the first one again.
constexpr int kBatch = kCheckAheadPerThread / 2;
constexpr std::chrono::microseconds kBatchWait(1000);

}  // namespace

std::future<CheckResult>& CheckQueue::nextToAwait() {
    // Files finish in about the order they were queued: when a later one is done, those before
    // it mostly are too. Waiting for one a few places on wakes the taker once for a batch of
    // results instead of once for every file (each wake costs more than a small file's check).
    for (int i = std::min(queued(), kBatch) - 1; i > 0; --i) {
        if (!isReady(pending_[i].result))
            return pending_[i].result;
    }
    return pending_.front().result;
}

std::optional<CheckResult> CheckQueue::takeFront(const std::function<bool()>& whileWaiting,
                                                 std::chrono::milliseconds slice) {
    Pending& front = pending_.front();
    auto lastTurn = std::chrono::steady_clock::now();
    while (!isReady(front.result)) {
        std::future<CheckResult>& awaited = nextToAwait();
        // A later file may be a slow one: then the first is looked at again soon.
        if (&awaited == &front.result)
            awaited.wait_for(slice);
        else
            awaited.wait_for(std::min<std::chrono::microseconds>(slice, kBatchWait));
        if (!whileWaiting || isReady(front.result) ||
            std::chrono::steady_clock::now() - lastTurn < slice)
            continue;
        if (!whileWaiting()) {
            pending_.pop_front();
            return std::nullopt;
        }
        lastTurn = std::chrono::steady_clock::now();
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

void OrderedChecks::refill(const std::function<std::optional<QString>()>& next) {
    if (queue_.queued() > queue_.ahead() / 2)
        return;
    while (!queue_.full()) {
        std::optional<QString> path = next();
        if (!path)
            return;
        queue_.push(*path);
    }
}

std::optional<CheckResult> OrderedChecks::verdictFor(const QString& path,
                                                     const std::function<bool()>& whileWaiting) {
    try {
        if (queue_.empty())
            queue_.push(path);
        else if (queue_.frontPath() != path)
            queue_.replaceFront(path);
        return queue_.takeFront(whileWaiting, std::chrono::milliseconds(10));
    } catch (...) {
        return FailedCheckResult();
    }
}
