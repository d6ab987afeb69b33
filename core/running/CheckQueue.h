#pragma once
// Checks a sequence of files on worker threads, a bounded number ahead of the file whose result
// is taken next. Results are taken in the order the files were queued, whatever the number of
// threads, so the checking run and the command-line checker show the same order.

#include "check/XmlCheck.h"
#include "running/WorkerPool.h"

#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <optional>

// How many files a taker of results is best served with per worker thread: twice the batch it
// waits for at once.
constexpr int kCheckAheadPerThread = 64;

class CheckQueue {
public:
    // The check each file gets on a worker.
    using Check = std::function<CheckResult(const QString& path)>;

    // `threads` workers (0: one per usable processor); at most `ahead` files queued or being
    // checked, each with CheckXmlFile and `options` (a worker sets large trees aside until it
    // handed over their verdicts).
    CheckQueue(int threads, int ahead, XmlCheckOptions options = {});
    // The same with another check than CheckXmlFile (an empty one means CheckXmlFile with
    // `options`).
    CheckQueue(int threads, int ahead, Check check, XmlCheckOptions options = {});

    int threads() const { return pool_.threads(); }
    int ahead() const { return ahead_; }
    int queued() const { return static_cast<int>(pending_.size()); }
    bool full() const { return queued() >= ahead_; }
    bool empty() const { return pending_.empty(); }

    // Queues the check of `path` (taken exactly as given). Call only when not full().
    void push(const QString& path);
    // The path of the file whose result is taken next.
    const QString& frontPath() const { return pending_.front().path; }
    // Replaces the file whose result is taken next by `path` (the file it stood for changed
    // after it was queued): the old check's result is dropped, and `path` is checked before
    // any other file that has not started yet.
    void replaceFront(const QString& path);

    // Waits for the first queued file's result and takes it. While it is not ready, the wait
    // is for a batch of up to 32 results (the taker wakes once for them all), and
    // `whileWaiting` runs every `slice` (the window lets its events run there); when it returns
    // false the wait is abandoned and the result is dropped (nullopt). A check that threw
    // (out of memory) comes back as a failed check at the loading step, never as valid.
    std::optional<CheckResult> takeFront(
        const std::function<bool()>& whileWaiting = {},
        std::chrono::milliseconds slice = std::chrono::milliseconds(10));

    // Drops every queued file; checks already running finish on their worker unseen.
    void clear() { pending_.clear(); }

private:
    // The result to wait for while the first one is not ready.
    std::future<CheckResult>& nextToAwait();

    struct Pending {
        QString path;
        std::future<CheckResult> result;
    };
    WorkerPool<CheckResult> pool_;
    int ahead_;
    std::deque<Pending> pending_;
};

// The result of a check that threw instead of giving a verdict (call only inside a catch
// block): failed at the loading step (102) with the exception's description, never valid.
CheckResult FailedCheckResult();

// The run loop of a checking run, shared by the window's "Start Checking" and brellix-check:
// files go to the workers in batches, once half of what they hold is done (waking a worker for
// every single file would cost more than checking a small one), and the verdicts come back in
// the order of the run.
class OrderedChecks {
public:
    explicit OrderedChecks(CheckQueue& queue) : queue_(queue) {}

    // When half of what the workers hold is done, hands them files from `next` until they are
    // full or `next` has none left (nullopt).
    void refill(const std::function<std::optional<QString>()>& next);
    // The verdict on `path`, the next file of the run: queued first (or in place of the file
    // that was queued for it, when the run's file changed meanwhile) when it is not at the
    // front. Waits as CheckQueue::takeFront waits; nullopt when `whileWaiting` gave up. A wait
    // that itself failed (out of memory) is a failed check, never a verdict.
    std::optional<CheckResult> verdictFor(const QString& path,
                                          const std::function<bool()>& whileWaiting = {});

private:
    CheckQueue& queue_;
};
