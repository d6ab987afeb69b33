#pragma once
// A fixed set of worker threads that run jobs taking a path, each job's result handed back
// through a future. Callers keep the futures in the order they want the results (the checking
// run and the command-line checker take them in input order) and decide how far ahead of the
// result they wait for they submit.

#include <QString>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

// The worker threads a run uses: `requested` when it is positive, else one per core.
inline int WorkerThreadCount(int requested) {
    return requested > 0 ? requested
                         : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

template <class Result>
class WorkerPool {
public:
    using Job = std::function<Result(const QString&)>;

    // `threads` workers (at least one); 0 means one per core. `afterJob`, when given, runs on
    // the worker after each job, once the job's result has been handed over.
    WorkerPool(Job job, int threads, std::function<void()> afterJob = {})
        : job_(std::move(job)), afterJob_(std::move(afterJob)) {
        threads = WorkerThreadCount(threads);
        workers_.reserve(threads);
        for (int i = 0; i < threads; ++i)
            workers_.emplace_back([this] { work(); });
    }

    // Jobs not yet started are dropped (their futures report a broken promise); jobs running
    // are waited for.
    ~WorkerPool() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        wake_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const { return static_cast<int>(workers_.size()); }

    // Queues the job for `path`. An exception thrown by the job comes out of the future's get().
    std::future<Result> submit(const QString& path) { return enqueue(path, false); }
    // Queues the job for `path` ahead of every job not yet started.
    std::future<Result> submitFirst(const QString& path) { return enqueue(path, true); }

private:
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
    std::vector<std::thread> workers_;
};
