// "Start Checking" with its files parsed on worker threads: the rows come out as if every file
// were checked on the window's thread at its turn, whatever the number of workers and whatever
// the user does meanwhile.

#include "check/XmlCheck.h"
#include "running/CheckQueue.h"
#include "tests/support/PumpWatcher.h"
#include "tests/support/TestEnv.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

const QByteArray kGood = "<a><b/></a>";
const QByteArray kBad = "<a><b></a>";

// A check that holds back its verdict on one file until released (a large file, as the run
// sees it); every other file gets the real check.
struct SlowFile {
    QString name;
    std::atomic<bool> released{false};
    std::atomic<bool> finished{false};

    CheckQueue::Check check() {
        return [this](const QString& path) {
            if (path.endsWith(name)) {
                QElapsedTimer limit;
                limit.start();
                while (!released && limit.elapsed() < 20000)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                finished = true;
            }
            return CheckXmlFile(path);
        };
    }
};

// The rows one check of each path in order would give, with the option ticked.
QPair<QStringList, QStringList> expectedRows(const QStringList& paths) {
    QStringList valid, invalid;
    for (const QString& path : paths) {
        const CheckResult r = CheckXmlFile(path);
        if (r.loaded)
            valid << path;
        else
            invalid << path + " - " + ErrorReportText(r.error);
    }
    return {valid, invalid};
}

}  // namespace

class TestParallelRun : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitXmlChecking(); }

    void oneThreadAndManyGiveTheSameRows() {
        TestEnv env;
        env.write("ext.dtd", "<!ELEMENT a (b)><!ELEMENT b EMPTY>");
        const QByteArray kinds[] = {
            kGood,
            kBad,
            "<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b EMPTY>]><a><b/></a>",
            "<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b EMPTY>]><a><c/></a>",
            "<!DOCTYPE a SYSTEM \"ext.dtd\"><a><b/></a>",
            "<!DOCTYPE a SYSTEM \"ext.dtd\"><a/>",
            "<!DOCTYPE a SYSTEM \"gone.dtd\"><a/>",
            "<p:a/>",
            "",
            "<a>&undefined;</a>",
        };
        QStringList input;
        for (int i = 0; i < 70; ++i)
            input << env.write(QString("f%1.xml").arg(i), kinds[(i * 7) % std::size(kinds)]);
        input << env.path("missing.xml") << input[3] << input[3] << input[0];
        const auto [valid, invalid] = expectedRows(input);
        QVERIFY(!valid.isEmpty() && !invalid.isEmpty());

        // threads, files ahead per thread (small windows make the run refill them often)
        const QPair<int, int> setups[] = {{1, 1}, {1, 16}, {2, 3}, {4, 2}, {8, 100}};
        for (const auto& [threads, ahead] : setups) {
            auto form = env.makeForm();
            form->checkRunSettings().threads = threads;
            form->checkRunSettings().aheadPerThread = ahead;
            form->ListView1->appendAll(input);
            form->Check1->setValue(1);
            PumpWatcher watcher(*form);
            QTest::mouseClick(form->PushButton4, Qt::LeftButton);
            QCOMPARE(form->ListView2->texts(), valid);
            QCOMPARE(form->ListView3->texts(), invalid);
            QCOMPARE(watcher.seen.size(), input.size());
            for (int i = 0; i < input.size(); ++i)
                QCOMPARE(watcher.seen[i].validRows + watcher.seen[i].invalidRows, i);
            QCOMPARE(form->ListView1->texts(), input);
        }
    }

    void reorderingDuringARunChecksEachRowsCurrentPath() {
        TestEnv env;
        QStringList input;
        for (int i = 1; i <= 8; ++i)
            input << env.write(QString("r%1.xml").arg(i), i == 4 || i == 8 ? kBad : kGood);
        const QString newcomer = env.write("newcomer.xml", kBad);
        auto form = env.makeForm();
        form->checkRunSettings().threads = 2;
        form->checkRunSettings().aheadPerThread = 8;  // every row handed out at the start
        form->ListView1->appendAll(input);
        form->Check1->setValue(0);
        // While row 2 is shown, the user exchanges rows 4 and 6 (as dragging does), and row 7
        // comes to hold a path that was not in the list when the run started.
        PumpWatcher watcher(*form, [&](int row) {
            if (row != 2)
                return;
            form->ListView1->setText(4, input[5]);
            form->ListView1->setText(6, input[3]);
            form->ListView1->setText(7, newcomer);
        });
        QTest::mouseClick(form->PushButton4, Qt::LeftButton);
        QCOMPARE(watcher.seen[3].text, "Processing: r6.xml");
        QCOMPARE(form->ListView2->texts(),
                 (QStringList{input[0], input[1], input[2], input[5], input[4]}));
        QCOMPARE(form->ListView3->texts(), (QStringList{input[3], newcomer, input[7]}));
    }

    void theOptionIsReadWhenTheSlowFilesRowIsFiled() {
        TestEnv env;
        SlowFile slow;
        slow.name = "slow.xml";
        const QStringList input = {env.write("quick.xml", kBad), env.write("slow.xml", kBad),
                                   env.write("last.xml", kBad)};
        auto form = env.makeForm();
        form->checkRunSettings().check = slow.check();
        form->ListView1->appendAll(input);
        form->Check1->setValue(0);
        // The window keeps letting events run while the slow verdict is awaited; the option
        // ticked meanwhile applies to the slow file's row.
        int pumpsOnSlow = 0;
        PumpWatcher watcher(*form, {}, [&] {
            if (form->ProgressBar1->text() != "Processing: slow.xml" || ++pumpsOnSlow != 5)
                return;
            QCOMPARE(form->ListView3->count(), 1);
            QCOMPARE(form->windowPointer(), WindowPointer::Busy);
            QTest::mouseClick(form->Check1, Qt::LeftButton);
            slow.released = true;
        });
        QTest::mouseClick(form->PushButton4, Qt::LeftButton);
        QVERIFY(pumpsOnSlow >= 5);
        const QStringList rows = form->ListView3->texts();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0], input[0]);
        QVERIFY(rows[1].startsWith(input[1] + " - Your XML Document failed to load"));
        QVERIFY(rows[2].startsWith(input[2] + " - "));
        QCOMPARE(env.platform.messageTexts(), QStringList{"Done."});
    }

    void closingWhileASlowFileIsCheckedEndsTheRunAtOnce() {
        TestEnv env;
        SlowFile slow;  // outlives the window, whose destruction waits for the check
        slow.name = "slow.xml";
        const QStringList input = {env.write("first.xml", kGood), env.write("slow.xml", kGood),
                                   env.write("after.xml", kGood)};
        auto form = env.makeForm();
        form->show();
        form->checkRunSettings().check = slow.check();
        form->ListView1->appendAll(input);
        int pumpsOnSlow = 0;
        PumpWatcher watcher(*form, {}, [&] {
            if (form->ProgressBar1->text() == "Processing: slow.xml" && ++pumpsOnSlow == 3)
                form->close();
        });
        QTest::mouseClick(form->PushButton4, Qt::LeftButton);
        // The run returned without waiting for the slow check, which is still going on.
        QVERIFY(!slow.finished);
        QVERIFY(env.platform.ended);
        QCOMPARE(form->ListView2->texts(), QStringList{input[0]});
        QCOMPARE(form->ListView3->count(), 0);
        QVERIFY(env.platform.messageTexts().isEmpty());
        slow.released = true;
        form.reset();
        QVERIFY(slow.finished);
    }

    void aWorkerFailureIsShownAtThatFilesTurn() {
        TestEnv env;
        const QStringList input = {env.write("w1.xml", kGood), env.write("w2.xml", kGood),
                                   env.write("w3.xml", kGood), env.write("w4.xml", kGood)};
        auto form = env.makeForm();
        // w2: the check throws on its worker; w3: it reports that no parser could be made.
        form->checkRunSettings().check = [](const QString& path) -> CheckResult {
            if (path.endsWith("w2.xml"))
                throw std::runtime_error("The disk went away");
            if (path.endsWith("w3.xml")) {
                CheckResult failed;
                failed.failedStep = 100;
                failed.failure = "Out of memory: no XML parser could be created";
                return failed;
            }
            return CheckXmlFile(path);
        };
        form->ListView1->appendAll(input);
        form->Check1->setValue(1);
        QStringList barAtBox;
        QList<int> rowsAtBox;
        env.platform.onMessage = [&](const PlatformCall& box) {
            barAtBox << form->ProgressBar1->text();
            rowsAtBox << form->ListView2->count() + form->ListView3->count();
            if (box.text != "Done.")
                QCOMPARE(box.icon, MessageIcon::Exclamation);
        };
        QTest::mouseClick(form->PushButton4, Qt::LeftButton);

        const QList<PlatformCall> boxes = env.platform.callsOf("message");
        QCOMPARE(boxes.size(), 3);
        QCOMPARE(boxes[0].title, "Application Error");
        QVERIFY(boxes[0].text.startsWith(
            "The disk went away\r\nin Brellix2021/08/31.Validate2.ValidateXML2 at line 102\r\r"));
        QVERIFY(
            boxes[1].text.startsWith("Out of memory: no XML parser could be created\r\nin "
                                     "Brellix2021/08/31.Validate2.ValidateXML2 at line 100"));
        QCOMPARE(boxes[2].text, "Done.");
        QCOMPARE(barAtBox.mid(0, 2), (QStringList{"Processing: w2.xml", "Processing: w3.xml"}));
        QCOMPARE(rowsAtBox.mid(0, 2), (QList<int>{1, 2}));
        // A failed check is never valid; its row is the path alone.
        QCOMPARE(form->ListView2->texts(), (QStringList{input[0], input[3]}));
        QCOMPARE(form->ListView3->texts(), (QStringList{input[1], input[2]}));
    }
};

QTEST_MAIN(TestParallelRun)
#include "test_parallel_run.moc"
