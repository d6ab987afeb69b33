// Checking files on worker threads with results taken in queue order, and the worker pool
// behind the checking run and the command-line checker.

#include "common/ProcessLimits.h"
#include "parse/ParserMemory.h"
#include "running/CheckQueue.h"
#include "running/WorkerPool.h"
#include "tests/support/CoreTestEnv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <sched.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

// A document of `count` small elements (its tree takes many times its size).
QByteArray manyElements(int count) {
    return "<r>" + QByteArray("<e a='1'>text</e>").repeated(count) + "</r>";
}

long residentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong() / 1024;
    }
    return -1;
}

}  // namespace

class TestCheckQueue : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitXmlChecking(); }

    void resultsMatchTheOneThreadCheckInQueueOrder() {
        TestEnv env;
        QStringList paths;
        for (int i = 0; i < 60; ++i) {
            const bool broken = i % 3 == 0;
            paths << env.write(QString("f%1.xml").arg(i),
                               broken ? QByteArray("<a><b></a>") : QByteArray("<a><b/></a>"));
        }
        paths << env.path("missing.xml");
        for (int threads : {1, 2, 4}) {
            CheckQueue queue(threads, 8);
            QStringList taken;
            int next = 0;
            while (next < paths.size() || !queue.empty()) {
                while (next < paths.size() && !queue.full())
                    queue.push(paths[next++]);
                QVERIFY(queue.queued() <= 8);
                const QString path = queue.frontPath();
                const std::optional<CheckResult> result = queue.takeFront();
                QVERIFY(result.has_value());
                const CheckResult alone = CheckXmlFile(path);
                QCOMPARE(result->loaded, alone.loaded);
                QCOMPARE(result->error, alone.error);
                taken << path;
            }
            QCOMPARE(taken, paths);
        }
    }

    void waitingRunsTheCallbackAndCanBeAbandoned() {
        TestEnv env;
        // A document large enough that its check is not done within one slice.
        const QString file = env.write("big.xml", manyElements(300000));

        CheckQueue queue(1, 2);
        queue.push(file);
        int calls = 0;
        const auto result =
            queue.takeFront([&] { return ++calls < 1000000; }, std::chrono::milliseconds(1));
        QVERIFY(result.has_value() && result->loaded);

        queue.push(file);
        queue.push(file);
        QVERIFY(queue.full());
        QVERIFY(!queue.takeFront([] { return false; }, std::chrono::milliseconds(1)).has_value());
        QCOMPARE(queue.queued(), 1);
        queue.clear();
        QVERIFY(queue.empty());
    }

    // The taker waits for a batch of results at once, but a slow file further on must not hold
    // up the results before it, and the callback still runs every slice meanwhile.
    void aSlowFileAheadHoldsUpNoEarlierResult() {
        CheckQueue queue(2, 64, [](const QString& path) {
            if (path == "slow")
                std::this_thread::sleep_for(std::chrono::seconds(3));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            CheckResult result;
            result.loaded = true;
            return result;
        });
        for (int i = 0; i < 40; ++i)
            queue.push(i == 20 ? QStringLiteral("slow") : QString::number(i));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(queue.frontPath(), QString::number(i));
            QVERIFY(queue.takeFront().has_value());
        }
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        int calls = 0;
        QVERIFY(queue.takeFront([&] { return ++calls > 0; }, std::chrono::milliseconds(10)));
        QVERIFY(calls >= 50);  // the three seconds went by in slices of about 10 ms
        queue.clear();
    }

    // The workers end with the run; the memory their documents took must not stay with the
    // program after it.
    void memoryOfFinishedChecksGoesBack() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer keeps freed memory in quarantine");
#endif
        TestEnv env;
        const QString file = env.write("many.xml", manyElements(400000));
        const long before = residentMb();
        {
            CheckQueue queue(2, 4);
            queue.push(file);
            queue.push(file);
            QVERIFY(queue.takeFront()->loaded);
            QVERIFY(queue.takeFront()->loaded);
        }
        const long held = residentMb();
        std::thread([] { ReleaseFreedParserMemory(); }).join();
        const long after = residentMb();
        QVERIFY2(after < before + 40,
                 qPrintable(QStringLiteral("%1 MB before, %2 MB held, %3 MB after")
                                .arg(before)
                                .arg(held)
                                .arg(after)));
    }

    void aReplacedFrontIsCheckedAheadOfTheRest() {
        // One worker, held on the first file until the others are queued: the replacement is
        // checked next, before the files queued after it, and its result is the one taken.
        std::atomic<bool> go{false};
        std::atomic<int> started{0};
        QStringList order;
        std::mutex orderLock;
        CheckQueue queue(1, 8, [&](const QString& path) {
            ++started;
            while (!go)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard lock(orderLock);
            order << path;
            CheckResult result;
            result.loaded = path != "x";
            return result;
        });
        for (const char* path : {"a", "b", "c"})
            queue.push(path);
        while (started == 0)  // "a" is running
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        queue.replaceFront("x");
        QCOMPARE(queue.frontPath(), "x");
        go = true;
        QCOMPARE(queue.takeFront()->loaded, false);
        QVERIFY(queue.takeFront()->loaded);
        QVERIFY(queue.takeFront()->loaded);
        QVERIFY(queue.empty());
        QCOMPARE(order, (QStringList{"a", "x", "b", "c"}));
    }

    void aCheckThatThrowsIsAFailedLoadNeverValid() {
        CheckQueue queue(
            2, 4, [](const QString&) -> CheckResult { throw std::runtime_error("disk gone"); });
        queue.push("f.xml");
        const CheckResult result = *queue.takeFront();
        QVERIFY(!result.loaded);
        QCOMPARE(result.failedStep, 102);
        QCOMPARE(result.failure, "disk gone");
    }

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

    // By default a run takes the processors the process may run on, not the machine's count.
    void theDefaultThreadsFollowTheProcessorsAllowed() {
        QCOMPARE(WorkerThreadCount(3), 3);
        cpu_set_t all;
        QCOMPARE(::sched_getaffinity(0, sizeof all, &all), 0);
        QVERIFY(WorkerThreadCount(0) >= 1 && WorkerThreadCount(0) <= CPU_COUNT(&all));
        int first = 0;
        while (!CPU_ISSET(first, &all))
            ++first;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        QCOMPARE(::sched_setaffinity(0, sizeof one, &one), 0);
        const int restricted = WorkerThreadCount(0);
        QCOMPARE(::sched_setaffinity(0, sizeof all, &all), 0);
        QCOMPARE(restricted, 1);

        // A cgroup's quota: of the process's own group or of one above it, v2 or v1, rounded
        // up; "max" and -1 set none.
        TestFolder cgroups;
        const auto quota = [&](const QByteArray& groups) {
            cgroups.write("self-cgroup", groups);
            return ProcessorsWithinQuota(8, cgroups.path("self-cgroup").toStdString(),
                                         cgroups.path("sys").toStdString());
        };
        cgroups.write("sys/ci/job/cpu.max", "100000 100000\n");
        cgroups.write("sys/ci/cpu.max", "max 100000\n");
        QCOMPARE(quota("0::/ci/job\n"), 1);
        cgroups.write("sys/ci/job/cpu.max", "max 100000\n");
        cgroups.write("sys/ci/cpu.max", "250000 100000\n");
        QCOMPARE(quota("0::/ci/job\n"), 3);
        cgroups.write("sys/cpu/docker/x/cpu.cfs_quota_us", "150000\n");
        cgroups.write("sys/cpu/docker/x/cpu.cfs_period_us", "100000\n");
        QCOMPARE(quota("5:cpu,cpuacct:/docker/x\n"), 2);
        cgroups.write("sys/cpu/docker/x/cpu.cfs_quota_us", "-1\n");
        QCOMPARE(quota("5:cpu,cpuacct:/docker/x\n"), 8);
        QCOMPARE(quota("5:memory:/docker/x\n"), 8);
    }
};

QTEST_GUILESS_MAIN(TestCheckQueue)
#include "test_checkqueue.moc"
