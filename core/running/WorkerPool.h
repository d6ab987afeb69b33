#pragma once
// A fixed set of worker threads that run jobs taking a path, each job's result handed back
// through a future. Callers keep the futures in the order they want the results (the checking
// run and the command-line checker take them in input order) and decide how far ahead of the
// result they wait for they submit.

#include "common/ProcessLimits.h"

#include <QString>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/resource.h>

// The worker threads a run uses: `requested` when it is positive, else one per processor this
// process may use (its affinity and its cgroup's quota, as in a container limited to fewer
// cores than the machine has).
inline int WorkerThreadCount(int requested) {
    return requested > 0 ? requested : UsableProcessorCount();
}

// The stack of each of `threads` worker threads. The validators recurse for each level of a
// document's nesting (RELAX NG on an element it cannot check as it streams takes about 1.4 KB a
// level), and the parser accepts 100,000 levels: far more than the 8 MB that threads get by
// default. Only the pages a check touches are taken from memory, but the whole stack counts
// against an address-space limit (RLIMIT_AS): there all stacks together take at most a
// sixteenth of it. A check gives up before the end of its stack (see
// ParserMemoryBudget::stackRanShort).
inline std::size_t WorkerStackBytes(int threads) {
    constexpr std::size_t kLargest = std::size_t{256} << 20;
    constexpr std::size_t kLeast = std::size_t{8} << 20;
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kLargest;
    const std::size_t share = static_cast<std::size_t>(limit.rlim_cur) /
                              (16 * static_cast<std::size_t>(std::max(1, threads)));
    return std::clamp(share, kLeast, kLargest);
}

// A thread that runs `body` on a stack of `stackBytes` (or the system's default size where so
// much cannot be had), joined when it goes.
class WorkerThread {
public:
    WorkerThread(std::function<void()> body, std::size_t stackBytes)
        : body_(std::make_unique<std::function<void()>>(std::move(body))) {
        pthread_attr_t attributes;
        int failed = pthread_attr_init(&attributes);
        if (failed == 0) {
            if (pthread_attr_setstacksize(&attributes, stackBytes) == 0)
                failed = pthread_create(&thread_, &attributes, &WorkerThread::run, body_.get());
            else
                failed = -1;
            pthread_attr_destroy(&attributes);
        }
        if (failed != 0)
            failed = pthread_create(&thread_, nullptr, &WorkerThread::run, body_.get());
        if (failed != 0)
            throw std::system_error(failed, std::generic_category(), "pthread_create");
    }
    ~WorkerThread() { pthread_join(thread_, nullptr); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

private:
    static void* run(void* body) {
        (*static_cast<std::function<void()>*>(body))();
        return nullptr;
    }
    std::unique_ptr<std::function<void()>> body_;
    pthread_t thread_{};
};

template <class Result>
class WorkerPool {
public:
    using Job = std::function<Result(const QString&)>;

    // `threads` workers (at least one); 0 means one per usable processor. `afterJob`, when given,
    // runs on the worker after each job, once the job's result has been handed over.
    WorkerPool(Job job, int threads, std::function<void()> afterJob = {})
        : job_(std::move(job)), afterJob_(std::move(afterJob)) {
        threads = WorkerThreadCount(threads);
        workers_.reserve(threads);
        const std::size_t stack = WorkerStackBytes(threads);
        try {
            for (int i = 0; i < threads; ++i)
                workers_.push_back(std::make_unique<WorkerThread>([this] { work(); }, stack));
        } catch (...) {
            stop();
            throw;
        }
    }

    // Jobs not yet started are dropped (their futures report a broken promise); jobs running
    // are waited for.
    ~WorkerPool() { stop(); }

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const { return static_cast<int>(workers_.size()); }

    // Queues the job for `path`. An exception thrown by the job comes out of the future's get().
    std::future<Result> submit(const QString& path) { return enqueue(path, false); }
    // Queues the job for `path` ahead of every job not yet started.
    std::future<Result> submitFirst(const QString& path) { return enqueue(path, true); }

private:
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        wake_.notify_all();
        workers_.clear();  // each joins as it goes
    }

    std::future<Result> enqueue(const QString& path, bool first) {
        std::packaged_task<Result()> task([this, path] { return job_(path); });
        std::future<Result> result = task.get_future();
        {
            std::lock_guard lock(mutex_);
            if (first)
                queue_.push_front(std::move(task));
            else
                queue_.push_back(std::move(task));
        }
        wake_.notify_one();
        return result;
    }

    void work() {
        for (;;) {
            std::packaged_task<Result()> task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (stopping_)
                    return;
                task = std::move(queue_.front());
                queue_.pop_front();
            }
            task();
            if (afterJob_)
                afterJob_();
        }
    }

    Job job_;
    std::function<void()> afterJob_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::packaged_task<Result()>> queue_;
    bool stopping_ = false;
    std::vector<std::unique_ptr<WorkerThread>> workers_;
};
