// "Start Checking" through the real window: the bar, the pointer, the rows and the boxes a
// person sees during and after a run.

#include "FileList.h"
#include "FileListModel.h"
#include "Widgets.h"
#include "check/XmlCheck.h"
#include "tests/support/PumpWatcher.h"
#include "tests/support/TestEnv.h"

#include <QPushButton>
#include <QTest>

namespace {

const QByteArray kGood = "<a><b/></a>";
const QByteArray kBad = "<a><b></a>";

QString reportOf(const QString& path) {
    return ErrorReportText(CheckXmlFile(path).error);
}

void clickStart(Form1& form) {
    QTest::mouseClick(form.PushButton4, Qt::LeftButton);
}

}  // namespace

class TestCheckRun : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitXmlChecking(); }

    void emptyInputListOnlySaysNoXmlAdded() {
        TestEnv env;
        auto form = env.makeForm();
        form->ListView2->append("old valid");
        form->ListView3->append("old invalid");
        form->ProgressBar1->setValue(40);
        form->ProgressBar1->setText("left over");
        clickStart(*form);
        QCOMPARE(env.platform.calls.size(), 1);
        const PlatformCall box = env.platform.calls[0];
        QCOMPARE(box.text, "No XML(s) added.");
        QCOMPARE(box.title, form->ApplicationTitle);
        QCOMPARE(box.buttons, MessageButtons::Ok);
        QCOMPARE(box.icon, MessageIcon::None);
        QCOMPARE(form->ListView2->texts(), QStringList{"old valid"});
        QCOMPARE(form->ListView3->texts(), QStringList{"old invalid"});
        QCOMPARE(form->ProgressBar1->value(), 40);
        QCOMPARE(form->ProgressBar1->text(), "left over");
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
    }

    void threeFilesCountUpNameEachFileAndEndWithDone() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        const QStringList input = {env.write("one.xml", kGood), env.write("two.xml", kBad),
                                   env.write("three.xml", kGood)};
        form->ListView1->appendAll(input);
        form->ListView1->select(2);
        form->ListView2->append("from an earlier run");
        form->ListView3->append("from an earlier run");
        form->Check1->setValue(1);

        bool doneSeen = false;
        env.platform.onMessage = [&](const PlatformCall& box) {
            QCOMPARE(box.text, "Done.");
            QCOMPARE(box.title, form->ApplicationTitle);
            QCOMPARE(box.icon, MessageIcon::None);
            QCOMPARE(form->ProgressBar1->value(), 0);
            QCOMPARE(form->ProgressBar1->text(), "Progress Bar");
            QCOMPARE(form->windowPointer(), WindowPointer::Default);
            QCOMPARE(form->ListView2->count() + form->ListView3->count(), 3);
            doneSeen = true;
        };
        PumpWatcher watcher(*form);
        clickStart(*form);

        QVERIFY(doneSeen);
        QCOMPARE(env.platform.calls.size(), 1);
        QCOMPARE(watcher.seen.size(), 3);
        const int values[] = {33, 67, 100};
        const char* names[] = {"one.xml", "two.xml", "three.xml"};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(watcher.seen[i].value, values[i]);
            QCOMPARE(watcher.seen[i].text, QString("Processing: ") + names[i]);
            QCOMPARE(watcher.seen[i].pointer, WindowPointer::Busy);
            // Earlier rows are gone at once; each file adds its row after the pump.
            QCOMPARE(watcher.seen[i].validRows + watcher.seen[i].invalidRows, i);
        }
        QCOMPARE(form->ListView2->texts(), (QStringList{input[0], input[2]}));
        QCOMPARE(form->ListView3->texts(), QStringList{input[1] + " - " + reportOf(input[1])});
        // Every row is in sight once the run is over (the lists take rows in batches during it).
        QCOMPARE(form->ListView2->model().rowCount(), 2);
        QCOMPARE(form->ListView3->model().rowCount(), 1);
        // The input list is only read.
        QCOMPARE(form->ListView1->texts(), input);
        QCOMPARE(form->ListView1->selectedRow(), 2);
    }

    void theOptionIsReadForEveryFile() {
        TestEnv env;
        auto form = env.makeForm();
        QStringList input;
        for (int i = 1; i <= 4; ++i)
            input << env.write(QString("bad%1.xml").arg(i), kBad);
        form->ListView1->appendAll(input);
        form->Check1->setValue(0);
        // Ticked while the second file is shown on the bar: from that file on, rows carry the
        // report; the stored third (dimmed) state counts as unticked.
        PumpWatcher watcher(*form, [&](int row) {
            if (row == 2)
                QTest::mouseClick(form->Check1, Qt::LeftButton);
            if (row == 4)
                form->Check1->setValue(2);
        });
        clickStart(*form);
        const QStringList rows = form->ListView3->texts();
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0], input[0]);
        QCOMPARE(rows[1], input[1] + " - " + reportOf(input[1]));
        QCOMPARE(rows[2], input[2] + " - " + reportOf(input[2]));
        QCOMPARE(rows[3], input[3]);
    }

    void missingFilesAndDuplicatesGiveRowsNotBoxes() {
        TestEnv env;
        auto form = env.makeForm();
        const QString good = env.write("good.xml", kGood);
        const QString missing = env.path("missing.xml");
        form->ListView1->appendAll({good, missing, good, missing});
        form->Check1->setValue(1);
        clickStart(*form);
        QCOMPARE(env.platform.messageTexts(), QStringList{"Done."});
        QCOMPARE(form->ListView2->texts(), (QStringList{good, good}));
        QCOMPARE(form->ListView3->count(), 2);
        QVERIFY(form->ListView3->text(1).startsWith(
            missing +
            " - Your XML Document failed to loaddue the following error.\r\nError #: 1549: "));
    }

    void barShowsTheNameLiterally() {
        TestEnv env;
        auto form = env.makeForm();
        const QString odd = env.write("100%p %v %m.xml", kGood);
        form->ListView1->appendAll({odd, "no-separator.xml"});
        PumpWatcher watcher(*form);
        clickStart(*form);
        QCOMPARE(watcher.seen.size(), 2);
        QCOMPARE(watcher.seen[0].text, "Processing: 100%p %v %m.xml");
        QCOMPARE(watcher.seen[1].text, "Processing: no-separator.xml");
        QCOMPARE(form->ListView3->count(), 1);  // the relative name names no file here
    }

    void startDuringARunIsIgnored() {
        TestEnv env;
        auto form = env.makeForm();
        QStringList input;
        for (int i = 1; i <= 3; ++i)
            input << env.write(QString("f%1.xml").arg(i), i == 2 ? kBad : kGood);
        form->ListView1->appendAll(input);
        PumpWatcher watcher(*form, [&](int row) {
            if (row == 1 || row == 3) {
                clickStart(*form);
                form->PushButton4->animateClick();  // by keyboard too
            }
        });
        clickStart(*form);
        QCOMPARE(watcher.seen.size(), 3);
        QCOMPARE(env.platform.messageTexts(), QStringList{"Done."});
        QCOMPARE(form->ListView2->texts(), (QStringList{input[0], input[2]}));
        QCOMPARE(form->ListView3->count(), 1);

        // Once the run is over, Start works again.
        clickStart(*form);
        QCOMPARE(env.platform.messageTexts(), (QStringList{"Done.", "Done."}));
        QCOMPARE(form->ListView2->count(), 2);
    }

    void busyRulesHoldDuringARun() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        QStringList input;
        for (int i = 1; i <= 4; ++i)
            input << env.write(QString("g%1.xml").arg(i), kGood);
        form->ListView1->appendAll(input);
        form->ListView1->select(1);
        PumpWatcher watcher(*form, [&](int row) {
            if (row != 3)
                return;
            form->ListView1_DblClick();
            form->ListView2->select(1);
            QTest::keyClick(form->ListView2, Qt::Key_Delete);
            form->ListView2_DblClick();
            QTest::mouseClick(form->PushButton11, Qt::LeftButton);
            QCOMPARE(form->ListView1->count(), 4);
            QCOMPARE(form->ListView2->count(), 2);
            QTest::mouseClick(form->PushButton9, Qt::LeftButton);  // performed while busy
            QCOMPARE(form->ListView2->count(), 0);
        });
        clickStart(*form);
        QCOMPARE(form->ListView1->texts(), input);
        QCOMPARE(form->ListView2->texts(), (QStringList{input[2], input[3]}));
        QCOMPARE(env.platform.messageTexts(), QStringList{"Done."});
    }

    void closingTheWindowEndsTheRunAtOnce() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        QStringList input;
        for (int i = 1; i <= 3; ++i)
            input << env.write(QString("c%1.xml").arg(i), kGood);
        form->ListView1->appendAll(input);
        PumpWatcher watcher(*form, [&](int row) {
            if (row == 2)
                form->close();
        });
        clickStart(*form);
        QVERIFY(env.platform.ended);
        QCOMPARE(watcher.seen.size(), 2);
        QCOMPARE(form->ListView2->count(), 1);  // nothing checked after the close
        QVERIFY(env.platform.messageTexts().isEmpty());
    }
};

QTEST_MAIN(TestCheckRun)
#include "test_checkrun.moc"
