// From a failing row to the error: the menu of a row of each list, the report window, opening
// the file at its error line, and copying rows, through the real window.

#include "FileList.h"
#include "FileListModel.h"
#include "ReportWindow.h"
#include "Widgets.h"
#include "results/ResultRow.h"
#include "tests/support/TestEnv.h"

#include <QContextMenuEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

const QByteArray kGood = "<a><b/></a>\n";
// The error stands in line 3, column 6, after a tab.
const QByteArray kBad = "<a>\n<b/>\n\t<c></d>\n</a>\n";

const QStringList kInvalidItems = {"Open at Error", "Show Report", "Show in Folder", "Copy Path",
                                   "Copy Row"};
const QStringList kOtherItems = {"Open", "Show in Folder", "Copy Path", "Copy Row"};
const QString kAgainstSchema = "Start Checking Against Schema...";
const QString kOwnSchemas = "Start Checking With The Documents' Own Schemas";
const QString kProject = "Start Checking With Project Settings...";
const QStringList kInputItems = kOtherItems + QStringList{kAgainstSchema, kOwnSchemas, kProject};

QString schemaFile(const QString& name) {
    return QStringLiteral(BRELLIX_SOURCE_DIR "/tests/schemas/") + name;
}

// A window that has checked one valid and one invalid file, with the option as given.
struct CheckedWindow {
    TestEnv env;
    std::unique_ptr<Form1> form;
    QString good;
    QString bad;

    explicit CheckedWindow(int option = 1) {
        good = env.write("good.xml", kGood);
        bad = env.write("dir with blanks/bad.xml", kBad);
        form = env.makeForm();
        form->Check1->setValue(option);
        form->ListView1->appendAll({good, bad});
        QTest::mouseClick(form->PushButton4, Qt::LeftButton);
        env.platform.calls.clear();
    }

    // Right-clicks row `row` of `list` (0: below the rows) with the menu answering `answer`.
    QStringList rightClick(FileList* list, int row, const QString& answer = {}) {
        env.platform.menuAnswers.push_back(answer);
        const qsizetype before = env.platform.callsOf("menu").size();
        const QPoint at = row > 0 ? list->visualRect(list->model().index(row - 1)).center()
                                  : QPoint(5, list->viewport()->height() - 3);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &event);
        const QList<PlatformCall> menus = env.platform.callsOf("menu");
        if (menus.size() == before) {
            env.platform.menuAnswers.pop_back();
            return {};
        }
        return menus.last().arguments;
    }
    QList<PlatformCall> callsOf(const QString& kind) const { return env.platform.callsOf(kind); }
};

void press(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(widget, key, modifiers);
}

}  // namespace

class TestRowMenu : public QObject {
    Q_OBJECT
private slots:
    void anInvalidRowLeadsToItsError() {
        CheckedWindow w;
        const CheckResult result = CheckXmlFile(w.bad);
        QCOMPARE(result.error.line, 3);
        const QString row = w.form->ListView3->text(1);
        QCOMPARE(row, CheckResultRow(w.bad, result, true));

        QCOMPARE(w.rightClick(w.form->ListView3, 1, "Open at Error"), kInvalidItems);
        QCOMPARE(w.form->ListView3->selectedRow(), 1);
        const QList<PlatformCall> opened = w.callsOf("editor");
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened[0].text, w.bad);
        QCOMPARE(opened[0].arguments, QStringList({"3", QString::number(result.error.linepos)}));

        // Copy Row gives the row as "Save Results" writes it, CR LF and all.
        w.rightClick(w.form->ListView3, 1, "Copy Row");
        QCOMPARE(w.env.platform.clipboard, row);
        QVERIFY(row.contains("\r\n"));
        w.rightClick(w.form->ListView3, 1, "Copy Path");
        QCOMPARE(w.env.platform.clipboard, w.bad);
        w.rightClick(w.form->ListView3, 1, "Show in Folder");
        QCOMPARE(w.callsOf("fileManager").size(), 1);
        QCOMPARE(w.callsOf("fileManager")[0].text, w.bad);
        QVERIFY(w.callsOf("message").isEmpty());

        // A menu closed without a choice does nothing; below the rows there is no menu.
        w.env.platform.calls.clear();
        w.rightClick(w.form->ListView3, 1, "");
        QCOMPARE(w.env.platform.calls.size(), 1);
        QVERIFY(w.rightClick(w.form->ListView3, 0).isEmpty());
        QVERIFY(w.env.platform.unexpected.isEmpty());
    }

    void withoutTheReportInTheRowTheErrorIsStillKnown() {
        CheckedWindow w(0);
        QCOMPARE(w.form->ListView3->text(1), w.bad);
        QCOMPARE(w.rightClick(w.form->ListView3, 1, "Open at Error"), kInvalidItems);
        QCOMPARE(w.callsOf("editor").at(0).arguments.at(0), "3");
        // A file that could not be checked has no report to lead to.
        w.form->checkRunSettings().check = [](const QString&) {
            CheckResult failed;
            failed.failedStep = 102;
            failed.failure = "Out of memory";
            return failed;
        };
        w.env.platform.messageAnswers.clear();
        QTest::mouseClick(w.form->PushButton4, Qt::LeftButton);
        QCOMPARE(w.rightClick(w.form->ListView3, 1, ""),
                 QStringList({"Show in Folder", "Copy Path", "Copy Row"}));
    }

    void inputAndValidRowsOpenAsTheyAre() {
        CheckedWindow w;
        for (FileList* list : {w.form->ListView1, w.form->ListView2}) {
            w.env.platform.calls.clear();
            QCOMPARE(w.rightClick(list, 1, "Open"),
                     list == w.form->ListView1 ? kInputItems : kOtherItems);
            QCOMPARE(w.callsOf("url").size(), 1);
            QCOMPARE(w.callsOf("url")[0].text, QUrl::fromLocalFile(w.good).toString());
            w.rightClick(list, 1, "Copy Row");
            QCOMPARE(w.env.platform.clipboard, w.good);
        }
    }

    void aFailureGivesOneClearBox() {
        CheckedWindow w;
        w.env.platform.editorFailure = "No plain-text editor was found to open it.";
        w.rightClick(w.form->ListView3, 1, "Open at Error");
        w.env.platform.fileManagerFailure = "No file manager could show the folder /x";
        w.rightClick(w.form->ListView2, 1, "Show in Folder");
        w.env.platform.urlResult = false;
        w.rightClick(w.form->ListView1, 2, "Open");
        const QList<PlatformCall> boxes = w.callsOf("message");
        QCOMPARE(boxes.size(), 3);
        QCOMPARE(boxes[0].text, "No plain-text editor was found to open it.");
        QCOMPARE(boxes[1].text, "No file manager could show the folder /x");
        QCOMPARE(boxes[2].text, "No program could open " + w.bad);
        for (const PlatformCall& box : boxes) {
            QCOMPARE(box.title, w.form->ApplicationTitle);
            QCOMPARE(box.icon, MessageIcon::Exclamation);
        }
    }

    void theKeyboardReachesTheSameThings() {
        CheckedWindow w;
        FileList* invalid = w.form->ListView3;
        invalid->select(1);
        press(invalid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(w.env.platform.clipboard, invalid->text(1));  // the real text, not the shown one
        QVERIFY(invalid->model().data(invalid->model().index(0), Qt::DisplayRole).toString() !=
                invalid->text(1));
        w.env.platform.menuAnswers = {"", ""};
        press(invalid, Qt::Key_Menu);
        press(invalid, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(w.callsOf("menu").size(), 2);
        w.form->ListView1->select(2);
        press(w.form->ListView1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(w.env.platform.clipboard, w.bad);
        // Delete still removes a result row.
        w.form->ListView2->select(1);
        press(w.form->ListView2, Qt::Key_Delete);
        QCOMPARE(w.form->ListView2->count(), 0);
    }

    void theReportWindowShowsTheErrorWithACaret() {
        CheckedWindow w;
        QVERIFY(w.form->findChildren<ReportWindow*>().isEmpty());
        w.form->ListView3->select(1);
        press(w.form->ListView3, Qt::Key_Return);
        const QList<ReportWindow*> windows = w.form->findChildren<ReportWindow*>();
        QCOMPARE(windows.size(), 1);
        ReportWindow* report = windows.first();
        QVERIFY(report->isWindow());
        QCOMPARE(report->windowTitle(), w.form->ApplicationTitle + " - bad.xml");
        const ParseErrorReport error = CheckXmlFile(w.bad).error;
        QCOMPARE(report->reportText(),
                 w.bad + "\n" + QString(ErrorReportText(error)).replace("\r\n", "\n"));
        // The caret stands under the error's column; the tab before it stays a tab.
        QCOMPARE(report->sourceText(),
                 error.srcText + "\n\t" + QString(error.linepos - 2, ' ') + "^");

        QTest::mouseClick(report->copyButton(), Qt::LeftButton);
        QCOMPARE(w.env.platform.clipboard, report->reportText());
        QTest::mouseClick(report->openAtErrorButton(), Qt::LeftButton);
        QCOMPARE(w.callsOf("editor").size(), 1);
        QCOMPARE(w.callsOf("editor")[0].arguments.at(0), "3");
        w.rightClick(w.form->ListView3, 1, "Show Report");
        QCOMPARE(w.form->findChildren<ReportWindow*>().size(), 2);
    }

    // The input list's schema commands run "Start Checking" with the schema added, once.
    void checkingAgainstAChosenSchema() {
        CheckedWindow w;
        const QString order = schemaFile("cases/order/valid-basic.xml");
        const QString wrongType = schemaFile("cases/order/invalid-type-int.xml");
        w.form->ListView1->clear();
        w.form->ListView1->appendAll({order, wrongType, w.good});
        QTest::mouseClick(w.form->PushButton4, Qt::LeftButton);
        QCOMPARE(w.form->ListView2->count(), 3);  // well-formed, all of them
        w.env.platform.calls.clear();

        w.env.platform.openAnswers.push_back({schemaFile("order.xsd")});
        QCOMPARE(w.rightClick(w.form->ListView1, 0, kAgainstSchema),
                 QStringList({kAgainstSchema, kOwnSchemas, kProject}));
        const QList<PlatformCall> dialogs = w.callsOf("open");
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs[0].arguments.join(" ").contains("*.xsd;*.rng"));
        QCOMPARE(w.form->ListView2->count(), 1);
        QCOMPARE(w.form->ListView2->text(1), order);
        QCOMPARE(w.form->ListView3->count(), 2);
        QVERIFY(w.form->ListView3->text(1).startsWith(wrongType + " - "));
        QVERIFY(w.form->ListView3->text(1).contains("'forty-two' is not a valid value"));
        QVERIFY(w.form->ListView3->text(2).contains("No matching global declaration"));
        QCOMPARE(w.env.platform.messageTexts(), QStringList({"Done."}));

        // The next plain run is the plain check again.
        QTest::mouseClick(w.form->PushButton4, Qt::LeftButton);
        QCOMPARE(w.form->ListView2->count(), 3);
        QCOMPARE(w.form->ListView3->count(), 0);

        // RELAX NG, chosen by the file's extension, from a row's menu.
        w.form->ListView1->clear();
        w.form->ListView1->appendAll({schemaFile("cases/address/valid-book.xml"),
                                      schemaFile("cases/address/invalid-wrong-root.xml")});
        w.env.platform.openAnswers.push_back({schemaFile("address.rng")});
        QCOMPARE(w.rightClick(w.form->ListView1, 1, kAgainstSchema), kInputItems);
        QCOMPARE(w.form->ListView2->count(), 1);
        QCOMPARE(w.form->ListView3->count(), 1);
        QVERIFY(w.env.platform.unexpected.isEmpty());
    }

    void aSchemaThatCannotBeUsedChangesNothing() {
        CheckedWindow w;
        const QStringList valid = {w.form->ListView2->text(1)};
        const QString invalid = w.form->ListView3->text(1);
        w.env.platform.openAnswers.push_back({schemaFile("broken.xsd")});
        w.rightClick(w.form->ListView1, 1, kAgainstSchema);
        const QList<PlatformCall> boxes = w.callsOf("message");
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].text.contains("broken.xsd:3: element decl. 'a'"),
                 qPrintable(boxes[0].text));
        QCOMPARE(boxes[0].icon, MessageIcon::Exclamation);
        QCOMPARE(w.form->ListView2->count(), 1);
        QCOMPARE(w.form->ListView2->text(1), valid.front());
        QCOMPARE(w.form->ListView3->text(1), invalid);
        // Cancel in the dialog: nothing at all.
        w.env.platform.calls.clear();
        w.env.platform.openAnswers.push_back({});
        w.rightClick(w.form->ListView1, 1, kAgainstSchema);
        QCOMPARE(w.callsOf("message").size(), 0);
        QCOMPARE(w.form->ListView3->text(1), invalid);
    }

    void checkingWithTheDocumentsOwnSchemas() {
        CheckedWindow w;
        w.form->ListView1->clear();
        const QStringList files = {schemaFile("hints/relative.xml"),
                                   schemaFile("hints/relative-invalid.xml"),
                                   schemaFile("hints/remote.xml"), schemaFile("hints/none.xml")};
        w.form->ListView1->appendAll(files);
        w.rightClick(w.form->ListView1, 2, kOwnSchemas);
        QCOMPARE(w.form->ListView2->count(), 2);
        QCOMPARE(w.form->ListView2->text(1), files[0]);
        QCOMPARE(w.form->ListView2->text(2), files[3]);
        QCOMPARE(w.form->ListView3->count(), 2);
        QVERIFY(w.form->ListView3->text(2).contains("could not be loaded offline"));
        QCOMPARE(w.env.platform.messageTexts(), QStringList({"Done."}));
        QCOMPARE(w.callsOf("open").size(), 0);
    }

    // The rows checked by a project's rules: the configuration nearest to the first row is
    // proposed, and one that cannot be used shows one box and changes nothing.
    void checkingWithProjectSettings() {
        CheckedWindow w;
        const QString config =
            w.env.write("project/.brellix.toml",
                        "[[rule]]\nfiles = [\"orders/*.xml\"]\nxsd = \"" BRELLIX_SOURCE_DIR
                        "/tests/schemas/order.xsd\"\n\n[[rule]]\nfiles = [\"books/*.xml\"]\n"
                        "relaxng = \"" BRELLIX_SOURCE_DIR "/tests/schemas/address.rng\"\n");
        QFile order(schemaFile("cases/order/invalid-type-int.xml"));
        QVERIFY(order.open(QIODevice::ReadOnly));
        const QString wrongType = w.env.write("project/orders/o.xml", order.readAll());
        const QString book = w.env.write("project/books/b.xml", "<book/>");  // not an address
        const QString other = w.env.write("project/other/b.xml", "<book/>");
        w.form->ListView1->clear();
        w.form->ListView1->appendAll({wrongType, book, other});
        w.env.platform.openFileAnswers.push_back(config);
        w.rightClick(w.form->ListView1, 0, kProject);
        const QList<PlatformCall> dialogs = w.callsOf("openFile");
        QCOMPARE(dialogs.size(), 1);
        QCOMPARE(dialogs[0].text, config);
        QCOMPARE(w.form->ListView2->count(), 1);
        QCOMPARE(w.form->ListView2->text(1), other);
        QCOMPARE(w.form->ListView3->count(), 2);
        QCOMPARE(w.env.platform.messageTexts(), QStringList({"Done."}));

        w.env.write("project/.brellix.toml", "[[rule]]\nfiles = [\"../*.xml\"]\nplain = true\n");
        w.env.platform.calls.clear();
        w.env.platform.openFileAnswers.push_back(config);
        w.rightClick(w.form->ListView1, 1, kProject);
        const QStringList boxes = w.env.platform.messageTexts();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(".brellix.toml:2: \"../*.xml\" climbs out"),
                 qPrintable(boxes[0]));
        QCOMPARE(w.form->ListView2->text(1), other);
        QVERIFY(w.env.platform.unexpected.isEmpty());
    }

    void caretLines() {
        QCOMPARE(CaretLine("abc", 1), "^");
        QCOMPARE(CaretLine("abc", 3), "  ^");
        QCOMPARE(CaretLine("\t x", 3), "\t ^");
        QCOMPARE(CaretLine("ab", 5), "    ^");  // past the line's end
        QCOMPARE(CaretLine("ab", 0), "");
    }
};

QTEST_MAIN(TestRowMenu)
#include "test_row_menu.moc"
