// The main window as a person sees it: controls, start-up, pointers, Help and the option.

#include "FileList.h"
#include "Widgets.h"
#include "tests/support/TestEnv.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>

namespace {
// Sends a pointer move to a widget, as the mouse would.
void hover(QWidget* widget, QPoint at = {5, 5}) {
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

QString settingsText(TestEnv& env, const QString& key) {
    return env.settings.read(key, "<absent>");
}
}  // namespace

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void controlsMatchTheDesign() {
        TestEnv env;
        auto form = env.makeForm();
        QCOMPARE(form->windowTitle(), "Brellix");
        QCOMPARE(form->size(), QSize(536, 637));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form->font().family(), "Arial");
        QCOMPARE(form->font().weight(), QFont::Bold);
        QCOMPARE(form->font().pointSizeF(), 9.0);

        // Top to bottom, one control or a pair of buttons side by side on each row, each
        // whole inside the window, none overlapping, every caption fully readable.
        const QList<QList<QWidget*>> rows = {
            {form->PushButton8},
            {form->ListView1},
            {form->PushButton5, form->PushButton3},
            {form->PushButton11, form->PushButton7},
            {form->Frame1},
            {form->PushButton4},
            {form->ListView2},
            {form->PushButton6, form->PushButton9},
            {form->ListView3},
            {form->PushButton1, form->PushButton2},
            {form->ProgressBar1},
        };
        const QStringList captions = {"Help",
                                      "Add XML File(s)",
                                      "Add All XML File(s) In Folder",
                                      "Clear List",
                                      "Load Sample/Example Files",
                                      "Start Checking",
                                      "Save Results",
                                      "Clear List",
                                      "Save Results",
                                      "Clear List"};
        QStringList shown;
        int bottom = 0;
        for (const QList<QWidget*>& row : rows) {
            const QRect first = row.first()->geometry();
            QVERIFY2(first.top() > bottom, qPrintable(row.first()->objectName()));
            int right = 0;
            for (QWidget* w : row) {
                QVERIFY(form->rect().contains(w->geometry()));
                QCOMPARE(w->geometry().top(), first.top());
                QCOMPARE(w->height(), first.height());
                QVERIFY2(w->geometry().left() > right, qPrintable(w->objectName()));
                right = w->geometry().right();
                if (auto* b = qobject_cast<QPushButton*>(w)) {
                    shown << b->text();
                    QVERIFY(QFontMetrics(b->font()).horizontalAdvance(b->text()) + 8 < b->width());
                    QCOMPARE(b->font().pointSizeF(), 11.25);
                    QCOMPARE(b->font().weight(), QFont::Bold);
                    QVERIFY(b->toolTip().isEmpty());
                }
            }
            bottom = first.bottom();
        }
        QCOMPARE(shown, captions);
        // The lists and the wide controls span the window's width with the same margins.
        for (QWidget* w :
             QList<QWidget*>{form->PushButton8, form->ListView1, form->Frame1, form->PushButton4,
                             form->ListView2, form->ListView3, form->ProgressBar1}) {
            QCOMPARE(w->x(), form->PushButton5->x());
            QCOMPARE(w->geometry().right(), form->PushButton3->geometry().right());
            QCOMPARE(form->width() - w->geometry().right() - 1, w->x());
        }
        QVERIFY(form->Frame1->rect().contains(form->Check1->geometry()));
        QVERIFY(form->Check1->sizeHint().width() <= form->Check1->width());
        QCOMPARE(form->Check1->parentWidget(), form->Frame1);
        QCOMPARE(form->Frame1->title(), "Option For Invalid Results");
        QCOMPARE(form->Check1->text(), "Show XML error message in invalid results");
        QCOMPARE(form->ProgressBar1->value(), 0);
        QCOMPARE(form->ProgressBar1->text(), "Progress Bar");
        QVERIFY(form->Frame1->toolTip().isEmpty() && form->Check1->toolTip().isEmpty());
    }

    void listsHaveTheirHeadersToolTipsAndColumns() {
        TestEnv env;
        auto form = env.makeForm();
        QCOMPARE(form->ListView1->headerText(), "XML File(s)");
        QCOMPARE(form->ListView2->headerText(), " Valid XML File(s)");
        QCOMPARE(form->ListView3->headerText(), "Invalid XML File(s)");
        for (FileList* list : {form->ListView1, form->ListView2, form->ListView3}) {
            // One column nearly as wide as the list: the names show without scrolling.
            QVERIFY(list->columnWidth(0) < list->width());
            QVERIFY(list->columnWidth(0) > list->width() * 9 / 10);
            QVERIFY(!list->header()->isHidden());
            QCOMPARE(list->count(), 0);
        }
        QCOMPARE(form->ListView1->toolTip(),
                 "Drag and drop files here. Double-click item to remove it. Move | line to right "
                 "and out of window to reveal full names.");
        QCOMPARE(form->ListView2->toolTip(),
                 "Double-click item to remove it. Move | line to right and out of window to "
                 "reveal full names.");
        QCOMPARE(form->ListView3->toolTip(), form->ListView2->toolTip());
        QVERIFY(form->ListView1->acceptDrops());
        QVERIFY(!form->ListView2->acceptDrops());
    }

    void tabOrderFollowsTheDesign() {
        TestEnv env;
        auto form = env.makeForm();
        const QList<QWidget*> expected = {form->ListView1,    form->PushButton5, form->PushButton3,
                                          form->PushButton11, form->PushButton7, form->PushButton4,
                                          form->ListView2,    form->PushButton6, form->PushButton9,
                                          form->ListView3,    form->PushButton1, form->PushButton2,
                                          form->Check1,       form->PushButton8};
        QWidget* w = form->ListView1;
        for (qsizetype i = 1; i < expected.size(); ++i) {
            do {
                w = w->nextInFocusChain();
            } while (!(w->focusPolicy() & Qt::TabFocus));
            QCOMPARE(w->objectName(), expected[i]->objectName());
        }
    }

    void iconHasEverySize() {
        TestEnv env;
        auto form = env.makeForm();
        const QList<QSize> sizes = form->windowIcon().availableSizes();
        for (const QSize s : {QSize(32, 32), QSize(48, 48), QSize(128, 128), QSize(256, 256)})
            QVERIFY2(sizes.contains(s), qPrintable(QString::number(s.width())));
    }

    void firstStartTicksTheOptionAndStoresIt() {
        TestEnv env;
        auto form = env.makeForm();
        QCOMPARE(form->Check1->checkState(), Qt::Checked);
        QCOMPARE(settingsText(env, "Check1"), "1");
        QVERIFY(env.platform.calls.isEmpty());  // no box at start

        // Unticking stores "0" at once; the next start opens unticked and writes nothing.
        QTest::mouseClick(form->Check1, Qt::LeftButton);
        QCOMPARE(form->Check1->checkState(), Qt::Unchecked);
        QCOMPARE(settingsText(env, "Check1"), "0");
        form.reset();
        auto again = env.makeForm();
        QCOMPARE(again->Check1->checkState(), Qt::Unchecked);
        QCOMPARE(settingsText(env, "Check1"), "0");
    }

    void storedThirdStateShowsDimmedAndClicksToTicked() {
        TestEnv env;
        env.settings.write("Check1", "2");
        auto form = env.makeForm();
        QCOMPARE(form->Check1->checkState(), Qt::PartiallyChecked);
        QCOMPARE(settingsText(env, "Check1"), "2");
        QTest::mouseClick(form->Check1, Qt::LeftButton);
        QCOMPARE(form->Check1->checkState(), Qt::Checked);
        QTest::mouseClick(form->Check1, Qt::LeftButton);
        QCOMPARE(form->Check1->checkState(), Qt::Unchecked);  // never back to the dimmed state
        QCOMPARE(settingsText(env, "Check1"), "0");
    }

    void badStoredOptionShowsTheBoxAt140() {
        for (const char* stored : {"abc", "7", "-1"}) {
            TestEnv env;
            env.settings.write("Check1", stored);
            auto form = env.makeForm();
            QCOMPARE(env.platform.calls.size(), 1);
            const PlatformCall& box = env.platform.calls.first();
            QCOMPARE(box.title, "Application Error");
            QCOMPARE(box.icon, MessageIcon::Exclamation);
            QVERIFY2(box.text.contains("\r\nin Brellix2021/08/31.Form1.Form_Load at line 140\r\r"),
                     qPrintable(box.text));
            QCOMPARE(form->Check1->checkState(), Qt::Unchecked);
            QCOMPARE(settingsText(env, "Check1"), QString(stored));  // nothing written back
            form->show();
            QVERIFY(form->isVisible());
            QCOMPARE(form->ListView3->headerText(), "Invalid XML File(s)");
        }
    }

    void plainProgramFolderGivesAPlainWindow() {
        TestEnv env;
        QDir().mkpath(env.path("prog"));
        auto form = env.makeForm(env.path("prog"));
        QVERIFY(env.platform.calls.isEmpty());
        QCOMPARE(form->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form->customPointer().shape(), Qt::PointingHandCursor);
        // As drawn: the frame and the check box on white, the label in the window's bold font.
        const QImage frame = form->Frame1->grab().toImage();
        QCOMPARE(frame.pixelColor(frame.width() - 12, frame.height() / 2), QColor(Qt::white));
        const QImage box = form->Check1->grab().toImage();
        QCOMPARE(box.pixelColor(box.width() - 3, box.height() / 2), QColor(Qt::white));
        for (QWidget* w :
             {static_cast<QWidget*>(form->Frame1), static_cast<QWidget*>(form->Check1)}) {
            QCOMPARE(QFontInfo(w->font()).family(), QFontInfo(form->font()).family());
            QVERIFY(QFontInfo(w->font()).bold());
            QCOMPARE(w->font().pointSizeF(), 9.0);
        }
    }

    void returnClicksTheFocusedButton() {
        TestEnv env;
        auto form = env.makeForm();
        env.platform.messageAnswers = {MessageAnswer::No, MessageAnswer::No};
        form->PushButton8->setFocus();
        QTest::keyClick(form->PushButton8, Qt::Key_Return);
        QTest::keyClick(form->PushButton8, Qt::Key_Enter);
        QCOMPARE(env.platform.callsOf("message").size(), 2);  // Help asked twice
        QVERIFY(env.platform.callsOf("url").isEmpty());
    }

    void aWindowTallerThanTheScreenOpensWithItsTitleBarOnIt() {
        // 1366x768 at 125 %: 1093x614 logical pixels, less a panel at the top.
        const QRect small(0, 27, 1093, 587);
        const QPoint at = CentredPosition(QSize(540, 670), small);
        QCOMPARE(at.y(), 27);
        QVERIFY(qAbs(at.x() - (1093 - 540) / 2) <= 1);
        // A screen with room: centred.
        QVERIFY((CentredPosition(QSize(540, 670), QRect(0, 0, 1280, 1024)) - QPoint(370, 177))
                    .manhattanLength() <= 2);
    }

    void skinGivesButtonFaceColoursAndStyle() {
        TestEnv env;
        env.write("prog/x/o.cjs", "QPushButton { color: rgb(1, 2, 3); }");
        auto form = env.makeForm(env.path("prog"));
        QVERIFY(env.platform.calls.isEmpty());
        const QColor face = QGuiApplication::palette().color(QPalette::Button);
        QCOMPARE(form->palette().color(QPalette::Window), face);
        const QImage frame = form->Frame1->grab().toImage();
        QCOMPARE(frame.pixelColor(frame.width() - 12, frame.height() / 2), face);
        QCOMPARE(form->Check1->palette().color(QPalette::Window), face);
        QVERIFY(form->styleSheet().contains("rgb(1, 2, 3)"));
    }

    void unreadableSkinAndPointerAreReportedAndTheWindowStillOpens() {
        TestEnv env;
        env.write("prog/x/o.cjs", QByteArray("\xff\xfe\x00garbage", 10));
        env.write("prog/HAND-M.CUR", "this is not a picture");
        auto form = env.makeForm(env.path("prog"));
        const QStringList texts = env.platform.messageTexts();
        QCOMPARE(texts.size(), 2);
        QVERIFY(texts[0].contains("in Brellix2021/08/31.Form1.Form_Load at line 100\r"));
        QVERIFY(texts[1].contains("in Brellix2021/08/31.Form1.Form_Load at line 106\r"));
        // The colours of the skin stay; the later steps still ran.
        QCOMPARE(form->palette().color(QPalette::Window),
                 QGuiApplication::palette().color(QPalette::Button));
        QCOMPARE(form->windowTitle(), "Brellix");
        QCOMPARE(form->ListView1->headerText(), "XML File(s)");
        QCOMPARE(form->Check1->checkState(), Qt::Checked);
    }

    void handPointerComesFromTheProgramFolder() {
        TestEnv env;
        auto form = env.makeForm();  // the build's program folder holds HAND-M.CUR
        QCOMPARE(form->customPointer().shape(), Qt::BitmapCursor);
        QCOMPARE(form->customPointer().hotSpot(), QPoint(13, 1));
    }

    void pointerFollowsButtonsAndBackground() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        hover(form->PushButton5);
        QCOMPARE(form->windowPointer(), WindowPointer::Custom);
        QCOMPARE(form->cursor().shape(), Qt::BitmapCursor);
        // The check box and the progress bar leave the pointer as it is.
        hover(form->Check1);
        QCOMPARE(form->windowPointer(), WindowPointer::Custom);
        hover(form->ProgressBar1);
        QCOMPARE(form->windowPointer(), WindowPointer::Custom);
        hover(form.get(), {2, 300});
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
        for (QWidget* w : {static_cast<QWidget*>(form->Frame1), form->ListView1->viewport(),
                           form->ListView2->viewport(), form->ListView3->viewport()}) {
            hover(form->PushButton8);
            QCOMPARE(form->windowPointer(), WindowPointer::Custom);
            hover(w);
            QCOMPARE(form->windowPointer(), WindowPointer::Default);
        }
        // While busy nothing replaces the hourglass.
        form->SetWindowPointer(WindowPointer::Busy);
        QCOMPARE(form->cursor().shape(), Qt::WaitCursor);
        for (QWidget* w :
             {static_cast<QWidget*>(form->PushButton4), static_cast<QWidget*>(form.get()),
              static_cast<QWidget*>(form->Frame1), form->ListView2->viewport()}) {
            hover(w);
            QCOMPARE(form->windowPointer(), WindowPointer::Busy);
        }
    }

    void helpAsksAndOpensOnlyOnYes() {
        TestEnv env;
        auto form = env.makeForm();
        const QString address = Form1::helpAddress();
        const QString question =
            "This software will syntax-check your multiple XML files just like " + address +
            ".\r\rWould you like to open the web site " + address + " ?";

        env.platform.messageAnswers = {MessageAnswer::No};
        QTest::mouseClick(form->PushButton8, Qt::LeftButton);
        QCOMPARE(env.platform.calls.size(), 1);
        QCOMPARE(env.platform.calls[0].text, question);
        QCOMPARE(env.platform.calls[0].title, "Brellix");
        QCOMPARE(env.platform.calls[0].buttons, MessageButtons::YesNo);
        QCOMPARE(env.platform.calls[0].icon, MessageIcon::None);
        QVERIFY(env.platform.callsOf("url").isEmpty());

        env.platform.messageAnswers = {MessageAnswer::Yes};
        QTest::mouseClick(form->PushButton8, Qt::LeftButton);
        QCOMPARE(env.platform.callsOf("url").size(), 1);
        QCOMPARE(env.platform.callsOf("url")[0].text, address);
        QVERIFY(address.startsWith("https://"));
    }

    void closingEndsTheProgramAndStopsLoops() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        const QString before = settingsText(env, "Check1");
        QVERIFY(form->PumpEvents());
        form->close();
        QVERIFY(env.platform.ended);
        QVERIFY(!form->PumpEvents());                   // a loop waiting in its event pump stops
        QCOMPARE(settingsText(env, "Check1"), before);  // nothing written at exit
    }

    void progressBarShowsFileNamesLiterally() {
        TestEnv env;
        auto form = env.makeForm();
        form->ProgressBar1->setValue(50);
        form->ProgressBar1->setText("Processing: 100%p %v %m.xml");
        QCOMPARE(form->ProgressBar1->text(), "Processing: 100%p %v %m.xml");
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
