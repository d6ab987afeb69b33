// The window during long work: repaints coalesced to a frame rate while a throttle lives,
// lists that lay out their rows at most once a frame yet are always up to date when asked, and
// a folder scan that lets events run while it gathers a large tree.

#include "FileList.h"
#include "FileListModel.h"
#include "RepaintThrottle.h"
#include "tests/support/FolderTree.h"
#include "tests/support/TestEnv.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace {

class CountingWidget final : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

// Lets pending events run once, as the long loops do between items.
void pump() {
    QCoreApplication::processEvents();
}

}  // namespace

class TestResponsiveness : public QObject {
    Q_OBJECT
private slots:
    void repaintsAreHeldBackUntilTheFrameIsOver() {
        CountingWidget w;
        w.resize(200, 100);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        pump();
        w.paints = 0;
        {
            RepaintThrottle throttle(w, std::chrono::milliseconds(300));
            for (int i = 0; i < 50; ++i) {
                w.update();
                pump();
            }
            QCOMPARE(w.paints, 1);  // the first goes through, the rest wait for the frame
            QTRY_COMPARE_WITH_TIMEOUT(w.paints, 2, 2000);  // ... and come without another update
            w.update();
            pump();
            QCOMPARE(w.paints, 2);
        }
        // Ending the throttle lets the held repaint through at once, and from then on every
        // update repaints at the next turn.
        pump();
        QCOMPARE(w.paints, 3);
        for (int i = 0; i < 3; ++i) {
            w.update();
            pump();
        }
        QCOMPARE(w.paints, 6);
    }

    void aListGrowingRowByRowIsLaidOutWhenAsked() {
        FileList list;
        list.resize(400, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        // As during a checking run: few repaints, so the layouts come from the list's timer.
        RepaintThrottle throttle(list);
        for (int i = 1; i <= 3000; ++i) {
            list.append(QStringLiteral("/data/file%1.xml").arg(i));
            pump();
            if (i % 1000 == 0 || i > 2990) {
                // Whatever layout is still pending is done before the list answers.
                list.scrollIntoView(i);
                const QRect last = list.visualRect(list.model().index(i - 1));
                QVERIFY(list.viewport()->rect().contains(last.center()));
                QCOMPARE(list.rowAt(last.center()), i);
            }
        }
        list.clear();
        list.append(QStringLiteral("/only.xml"));
        QCOMPARE(list.rowAt(list.visualRect(list.model().index(0)).center()), 1);
    }

    void theScanLetsEventsRunWhileGatheringAndStopsWhenClosed() {
        TestEnv env;
        const QString root = env.path("tree");
        for (int f = 0; f < 40; ++f)
            for (int i = 0; i < 250; ++i)
                tree::makeFile(QString("%1/d%2/f%3.xml").arg(root).arg(f).arg(i));
        auto form = env.makeForm();
        form->show();
        env.platform.inputAnswers.push_back("xml");
        env.platform.folderAnswers.push_back(root);
        // Rows in the list at a pass of the event pump: the gathering is under way.
        int rowsAtClose = -1;
        QTimer watcher;
        watcher.setInterval(0);
        connect(&watcher, &QTimer::timeout, [&] {
            if (rowsAtClose < 0 && form->ListView1->count() > 0) {
                rowsAtClose = form->ListView1->count();
                QCOMPARE(form->windowPointer(), WindowPointer::Busy);
                form->close();
            }
        });
        watcher.start();
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        QVERIFY(rowsAtClose > 0);
        QVERIFY(env.platform.ended);
        // Nothing was added after the window closed.
        QCOMPARE(form->ListView1->count(), rowsAtClose);
        QVERIFY(rowsAtClose < 10000);
        QVERIFY(env.platform.messageTexts().isEmpty());
    }
};

QTEST_MAIN(TestResponsiveness)
#include "test_responsiveness.moc"
