// Reordering the input list by dragging a row, as the mouse does it on the list's rows.

#include "EdgeScroll.h"
#include "FileList.h"
#include "FileListModel.h"
#include "tests/support/TestEnv.h"

#include <QDir>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <sys/stat.h>

namespace {

QStringList numberedRows(int count) {
    QStringList rows;
    for (int i = 1; i <= count; ++i)
        rows.append(QStringLiteral("/data/file%1.xml").arg(i));
    return rows;
}

// Drives the input list of a shown window with the mouse.
struct Mouse {
    Form1& form;

    QWidget* viewport() const { return form.ListView1->viewport(); }
    QRect rect(int row) const {
        return form.ListView1->visualRect(form.ListView1->model().index(row - 1));
    }
    QPoint centre(int row) const { return rect(row).center(); }
    // A point below the last row, on no row.
    QPoint belowRows() const { return {10, viewport()->height() - 2}; }

    void press(QPoint at) { QTest::mousePress(viewport(), Qt::LeftButton, {}, at); }
    void press(int row) { press(centre(row)); }
    void release(QPoint at) { QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at); }
    void move(QPoint at, Qt::MouseButtons buttons = Qt::LeftButton) {
        QMouseEvent event(QEvent::MouseMove, at, viewport()->mapToGlobal(at), Qt::NoButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport(), &event);
    }
    void move(int row, Qt::MouseButtons buttons = Qt::LeftButton) { move(centre(row), buttons); }
    bool fullyVisible(int row) const { return viewport()->rect().contains(rect(row)); }
    int scrollValue() const { return form.ListView1->verticalScrollBar()->value(); }
};

std::unique_ptr<Form1> shownForm(TestEnv& env, const QStringList& rows,
                                 const QString& programFolder = BuildProgramFolder()) {
    auto form = env.makeForm(programFolder);
    form->ListView1->appendAll(rows);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qFatal("the window was not shown");
    return form;
}

}  // namespace

class TestReorder : public QObject {
    Q_OBJECT
private slots:
    void edgeZonesAreQuartersOfTheList() {
        QCOMPARE(EdgeScrollAt(0, 100), EdgeScroll::Up);
        QCOMPARE(EdgeScrollAt(24, 100), EdgeScroll::Up);
        QCOMPARE(EdgeScrollAt(25, 100), EdgeScroll::None);
        QCOMPARE(EdgeScrollAt(74, 100), EdgeScroll::None);
        QCOMPARE(EdgeScrollAt(75, 100), EdgeScroll::Down);
        QCOMPARE(EdgeScrollAt(150, 100), EdgeScroll::Down);
        QCOMPARE(EdgeScrollAt(0, 0), EdgeScroll::None);

        QCOMPARE(RowToScrollIntoView(EdgeScroll::Up, 1, 10), 0);
        QCOMPARE(RowToScrollIntoView(EdgeScroll::Up, 4, 10), 3);
        QCOMPARE(RowToScrollIntoView(EdgeScroll::Down, 10, 10), 0);
        QCOMPARE(RowToScrollIntoView(EdgeScroll::Down, 4, 10), 5);
        QCOMPARE(RowToScrollIntoView(EdgeScroll::None, 4, 10), 0);
    }

    void movingWithoutAClickedRowChangesNothing() {
        TestEnv env;
        const QStringList rows = numberedRows(3);
        auto form = shownForm(env, rows);
        Mouse mouse{*form};
        mouse.press(mouse.belowRows());  // the button is down, but no row was clicked
        QVERIFY(form->listButtonDown());
        mouse.move(1);
        mouse.move(2);
        mouse.move(3);
        QCOMPARE(form->ListView1->texts(), rows);
        QCOMPARE(form->ListView1->selectedRow(), 0);  // the list did not drag-select either
        mouse.release(mouse.centre(3));
        QVERIFY(!form->listButtonDown());
    }

    void draggingCarriesThePathRowByRow() {
        TestEnv env;
        auto form = shownForm(env, {"/a.xml", "/b.xml", "/c.xml", "/d.xml", "/e.xml"});
        Mouse mouse{*form};
        mouse.press(1);
        QCOMPARE(form->ListView1->selectedRow(), 1);
        QCOMPARE(mouse.viewport()->cursor().shape(), Qt::BitmapCursor);  // drag.ico

        mouse.move(2);
        QCOMPARE(form->ListView1->texts(),
                 QStringList({"/b.xml", "/a.xml", "/c.xml", "/d.xml", "/e.xml"}));
        QCOMPARE(form->ListView1->selectedRow(), 2);
        mouse.move(2);  // still on the same row: nothing more happens
        mouse.move(3);
        QCOMPARE(form->ListView1->texts(),
                 QStringList({"/b.xml", "/c.xml", "/a.xml", "/d.xml", "/e.xml"}));
        QCOMPARE(form->ListView1->selectedRow(), 3);
        // A jump over a row exchanges only the two rows involved.
        mouse.move(5);
        QCOMPARE(form->ListView1->texts(),
                 QStringList({"/b.xml", "/c.xml", "/e.xml", "/d.xml", "/a.xml"}));
        QCOMPARE(form->ListView1->selectedRow(), 5);
        // Back up again.
        mouse.move(4);
        QCOMPARE(form->ListView1->texts(),
                 QStringList({"/b.xml", "/c.xml", "/e.xml", "/a.xml", "/d.xml"}));

        mouse.release(mouse.centre(4));
        QVERIFY(!form->listButtonDown());
        QVERIFY(!mouse.viewport()->testAttribute(Qt::WA_SetCursor));
        QCOMPARE(mouse.viewport()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(form->ListView1->selectedRow(), 4);
        // Moving with no button held never exchanges.
        mouse.move(1, Qt::NoButton);
        mouse.move(2, Qt::NoButton);
        QCOMPARE(form->ListView1->texts(),
                 QStringList({"/b.xml", "/c.xml", "/e.xml", "/a.xml", "/d.xml"}));
        QVERIFY(env.platform.calls.isEmpty());
    }

    void equalTextsAreNotExchanged() {
        TestEnv env;
        const QStringList rows{"/same.xml", "/other.xml", "/same.xml"};
        auto form = shownForm(env, rows);
        Mouse mouse{*form};
        mouse.press(1);
        mouse.move(3);
        mouse.move(1);
        QCOMPARE(form->ListView1->texts(), rows);
        QCOMPARE(form->ListView1->selectedRow(), 1);
    }

    void aLostReleaseEndsTheDrag() {
        // The release can go elsewhere, e.g. to a box that opened during the drag: the next
        // move without a button ends the drag instead of exchanging rows.
        TestEnv env;
        const QStringList rows = numberedRows(3);
        auto form = shownForm(env, rows);
        Mouse mouse{*form};
        mouse.press(1);
        mouse.move(2, Qt::NoButton);
        QVERIFY(!form->listButtonDown());
        QVERIFY(!mouse.viewport()->testAttribute(Qt::WA_SetCursor));
        mouse.move(3, Qt::LeftButton);
        QCOMPARE(form->ListView1->texts(), rows);
    }

    void listScrollsOneRowNearItsEdges() {
        // The zones are measured against the list itself: where the window stands on the
        // screen does not matter.
        for (const QPoint windowAt : {QPoint(0, 0), QPoint(300, 250)}) {
            TestEnv env;
            auto form = shownForm(env, numberedRows(10));
            form->move(windowAt);
            Mouse mouse{*form};
            QScrollBar* bar = form->ListView1->verticalScrollBar();
            const int height = mouse.viewport()->height();
            const int upperEnd = height / 4;
            const int lowerStart = height - height / 4;

            // Upper part: an exchange onto row 1 scrolls nothing...
            mouse.press(2);
            mouse.move(QPoint(10, mouse.rect(1).top() + 1));
            QCOMPARE(form->ListView1->text(1), "/data/file2.xml");
            QCOMPARE(mouse.scrollValue(), 0);
            mouse.release(mouse.centre(1));

            // ... an exchange onto row 4 at the top scrolls row 3 into view.
            form->ListView1->scrollTo(form->ListView1->model().index(3),
                                      QAbstractItemView::PositionAtTop);
            QVERIFY(!mouse.fullyVisible(3));
            mouse.press(5);
            QVERIFY(mouse.rect(4).top() < upperEnd);
            mouse.move(QPoint(10, mouse.rect(4).top() + 1));
            QCOMPARE(form->ListView1->text(4), "/data/file5.xml");
            QVERIFY(mouse.fullyVisible(3));
            mouse.release(mouse.centre(4));

            // Middle: no scrolling.
            bar->setValue(0);
            const int middleRow = form->ListView1->rowAt({10, height / 2});
            QVERIFY(middleRow > 1);
            mouse.press(middleRow - 1);
            mouse.move(QPoint(10, height / 2));
            QCOMPARE(form->ListView1->selectedRow(), middleRow);
            QCOMPARE(mouse.scrollValue(), 0);
            mouse.release(QPoint(10, height / 2));

            // Lower part: an exchange onto the lowest row in view scrolls the row below it
            // into view.
            const QPoint low(10, height - 2);
            QVERIFY(low.y() >= lowerStart);
            const int lowRow = form->ListView1->rowAt(low);
            QVERIFY(lowRow > 1 && lowRow < 10);
            QVERIFY(!mouse.fullyVisible(lowRow + 1));
            mouse.press(lowRow - 1);
            mouse.move(low);
            QCOMPARE(form->ListView1->selectedRow(), lowRow);
            QVERIFY(mouse.fullyVisible(lowRow + 1));
            mouse.release(low);

            // ... but an exchange onto the last row scrolls nothing.
            bar->setValue(bar->maximum());
            const int before = mouse.scrollValue();
            QVERIFY(mouse.rect(10).bottom() >= lowerStart);
            mouse.press(9);
            mouse.move(QPoint(10, mouse.rect(10).bottom() - 1));
            QCOMPARE(form->ListView1->selectedRow(), 10);
            QCOMPARE(mouse.scrollValue(), before);
            mouse.release(mouse.centre(10));
        }
    }

    void removedOrClearedDraggedRowIsForgotten() {
        TestEnv env;
        auto form = shownForm(env, numberedRows(4));
        Mouse mouse{*form};

        mouse.press(2);
        mouse.release(mouse.centre(2));
        QVERIFY(form->draggedRow().isValid());
        form->ListView1_DblClick();  // removes the selected, dragged row
        QCOMPARE(form->ListView1->count(), 3);
        QVERIFY(!form->draggedRow().isValid());
        const QStringList afterRemoval = form->ListView1->texts();
        form->ListView1_MouseDown();
        mouse.move(2);
        mouse.move(1);
        QCOMPARE(form->ListView1->texts(), afterRemoval);
        mouse.release(mouse.centre(1));

        mouse.press(3);
        mouse.release(mouse.centre(3));
        QTest::mouseClick(form->PushButton11, Qt::LeftButton);  // Clear List
        QCOMPARE(form->ListView1->count(), 0);
        QVERIFY(!form->draggedRow().isValid());
        form->ListView1->appendAll(numberedRows(4));
        form->ListView1_MouseDown();
        mouse.move(3);
        mouse.move(1);
        QCOMPARE(form->ListView1->texts(), numberedRows(4));
        QVERIFY(env.platform.calls.isEmpty());
    }

    void reorderingWorksWhileBusy() {
        TestEnv env;
        auto form = shownForm(env, numberedRows(3));
        Mouse mouse{*form};
        form->SetWindowPointer(WindowPointer::Busy);
        mouse.press(1);
        QCOMPARE(mouse.viewport()->cursor().shape(), Qt::BitmapCursor);
        mouse.move(2);
        QCOMPARE(form->ListView1->text(2), "/data/file1.xml");
        QCOMPARE(form->windowPointer(), WindowPointer::Busy);
        mouse.release(mouse.centre(2));
        // Back to the window's pointer, which is still the hourglass.
        QCOMPARE(mouse.viewport()->cursor().shape(), Qt::WaitCursor);
        QCOMPARE(form->windowPointer(), WindowPointer::Busy);
    }

    void missingOrUnreadableDragPictureFallsBack() {
        TestEnv env;
        QDir().mkpath(env.path("plain"));
        env.write("broken/drag.ico", "not an icon at all");
        QDir().mkpath(env.path("fifo"));
        const QByteArray fifo = QFile::encodeName(env.path("fifo/drag.ico"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);  // must never be opened
        for (const char* folder : {"plain", "broken", "fifo"}) {
            auto form = shownForm(env, numberedRows(2), env.path(folder));
            Mouse mouse{*form};
            mouse.press(1);
            QCOMPARE(mouse.viewport()->cursor().shape(), Qt::ClosedHandCursor);
            QVERIFY(form->draggedRow().isValid());
            mouse.move(2);
            QCOMPARE(form->ListView1->text(2), "/data/file1.xml");
            mouse.release(mouse.centre(2));
            QCOMPARE(mouse.viewport()->cursor().shape(), Qt::ArrowCursor);
        }
        QVERIFY(env.platform.calls.isEmpty());
    }
};

QTEST_MAIN(TestReorder)
#include "test_reorder.moc"
