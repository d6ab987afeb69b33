// The worker pool behind the checking run and the command-line checker.

#include "check/WorkerPool.h"

#include <QTest>

#include <atomic>
#include <set>

class TestWorkerPool : public QObject {
    Q_OBJECT
private slots:
    void resultsComeBackPerPathWhateverTheThreadCount() {
        for (int threads : {1, 2, 8}) {
            WorkerPool<QString> pool([](const QString& path) { return path + "!"; }, threads);
            QCOMPARE(pool.threads(), threads);
            std::vector<std::future<QString>> results;
            for (int i = 0; i < 500; ++i)
                results.push_back(pool.submit(QString::number(i)));
            for (int i = 0; i < 500; ++i)
                QCOMPARE(results[i].get(), QString::number(i) + "!");
        }
    }

    void jobsRunOnSeveralThreadsAtOnce() {
        std::mutex mutex;
        std::set<std::thread::id> seen;
        std::atomic<int> running{0};
        std::atomic<int> most{0};
        WorkerPool<int> pool(
            [&](const QString&) {
                const int now = ++running;
                int before = most.load();
                while (now > before && !most.compare_exchange_weak(before, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                {
                    std::lock_guard lock(mutex);
                    seen.insert(std::this_thread::get_id());
                }
                --running;
                return 0;
            },
            4);
        std::vector<std::future<int>> results;
        for (int i = 0; i < 40; ++i)
            results.push_back(pool.submit("x"));
        for (auto& r : results)
            r.get();
        QVERIFY(seen.size() > 1);
        QVERIFY(most.load() > 1);
        QVERIFY(seen.count(std::this_thread::get_id()) == 0);  // never on the caller's thread
    }

    void aFailingJobReportsThroughItsFuture() {
        WorkerPool<int> pool(
            [](const QString& path) {
                if (path == "bad")
                    throw std::runtime_error("cannot check bad");
                return 1;
            },
            2);
        auto good = pool.submit("good");
        auto bad = pool.submit("bad");
        QCOMPARE(good.get(), 1);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, bad.get());
        QCOMPARE(pool.submit("after").get(), 1);  // the worker goes on
    }

    void destroyingThePoolDropsWaitingJobs() {
        std::atomic<int> ran{0};
        std::future<int> last;
        {
            WorkerPool<int> pool(
                [&](const QString&) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    return ++ran;
                },
                1);
            for (int i = 0; i < 50; ++i)
                last = pool.submit("x");
        }
        QVERIFY(ran.load() < 50);
        QVERIFY_THROWS_EXCEPTION(std::future_error, last.get());
    }
};

QTEST_GUILESS_MAIN(TestWorkerPool)
#include "test_workerpool.moc"
