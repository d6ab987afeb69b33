// Checking files on worker threads with results taken in queue order.

#include "check/CheckQueue.h"
#include "tests/support/TestEnv.h"

#include <QTest>

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
        QByteArray big = "<r>";
        for (int i = 0; i < 300000; ++i)
            big += "<e a='1'>text</e>";
        big += "</r>";
        const QString file = env.write("big.xml", big);

        CheckQueue queue(1, 2);
        queue.push(file);
        int calls = 0;
        const auto result = queue.takeFront([&] { return ++calls < 1000000; },
                                            std::chrono::milliseconds(1));
        QVERIFY(result.has_value() && result->loaded);

        queue.push(file);
        queue.push(file);
        QVERIFY(queue.full());
        QVERIFY(!queue.takeFront([] { return false; }, std::chrono::milliseconds(1)).has_value());
        QCOMPARE(queue.queued(), 1);
        queue.clear();
        QVERIFY(queue.empty());
    }
};

QTEST_GUILESS_MAIN(TestCheckQueue)
#include "test_checkqueue.moc"
