// Filling the input list: "Add XML File(s)" (the open dialog's result turned into input rows),
// and dropping files and folders onto the input list of the real window.

#include "FileList.h"
#include "files/OpenDialogResult.h"
#include "files/PathUtil.h"
#include "tests/support/FolderTree.h"
#include "tests/support/TestEnv.h"

#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace {

const QString kTitle = "Load List(s) - Hold Ctrl to select multiple list files";
const QString kTooMany =
    "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.";

// Clicks "Add XML File(s)" with the dialog answering `paths` (nothing: Cancel).
void addThroughDialog(TestEnv& env, Form1& form, const QStringList& paths) {
    env.platform.openAnswers.push_back(paths);
    QTest::mouseClick(form.PushButton5, Qt::LeftButton);
}

std::unique_ptr<QMimeData> filesData(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data->setUrls(urls);
    return data;
}

// Drags the data over the input list and drops it there, as the mouse would. Returns whether
// the list accepted the drag (the pointer shows the drop is possible).
bool dragAndDrop(Form1& form, const QMimeData& data) {
    QWidget* target = form.ListView1->viewport();
    const QPoint at(20, 20);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    if (enter.isAccepted() != move.isAccepted())
        qFatal("the drag was judged differently on entering and moving");
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted();
}

}  // namespace

class TestAddFiles : public QObject {
    Q_OBJECT
private slots:
    void resultPartsLengthAndRows() {
        QCOMPARE(OpenDialogParts({}), QStringList());
        QCOMPARE(OpenDialogParts({"/data//odd.xml"}), QStringList{"/data//odd.xml"});
        // A root folder keeps its separator, as a drive root keeps its backslash; a share
        // keeps its two leading backslashes.
        QCOMPARE(OpenDialogParts({"/a.xml", "/b.xml"}), QStringList({"/", "a.xml", "b.xml"}));
        QCOMPARE(OpenDialogParts({"C:\\a.xml", "C:\\b.xml"}, '\\'),
                 QStringList({"C:\\", "a.xml", "b.xml"}));
        QCOMPARE(NormalizePath(FolderEntry("C:\\", "a.xml", '\\'), '\\'), "C:\\a.xml");
        QCOMPARE(OpenDialogParts({"\\\\srv\\share\\a.xml", "\\\\srv\\share\\b.xml"}, '\\'),
                 QStringList({"\\\\srv\\share", "a.xml", "b.xml"}));
        QCOMPARE(NormalizePath(FolderEntry("\\\\srv\\share", "a.xml", '\\'), '\\'),
                 "\\\\srv\\share\\a.xml");
        // Typed names may lie in different folders: the folder is the one holding them all.
        QCOMPARE(OpenDialogParts({"/d/x/a.xml", "/d/y/b.xml", "/d/xy.xml"}),
                 QStringList({"/d", "x/a.xml", "y/b.xml", "xy.xml"}));
        QCOMPARE(OpenDialogParts({"C:\\a.xml", "D:\\b.xml"}, '\\'),
                 QStringList({"", "C:\\a.xml", "D:\\b.xml"}));
        QCOMPARE(FolderEntry("", "C:\\a.xml", '\\'), "C:\\a.xml");
        QCOMPARE(OpenDialogResultLength({}), 0);
        QCOMPARE(OpenDialogResultLength({"/data", "a.xml", "bb.xml"}), 5 + 1 + 5 + 1 + 6);
    }

    void cancelAddsNothing() {
        TestEnv env;
        auto form = env.makeForm();
        addThroughDialog(env, *form, {});
        QCOMPARE(form->ListView1->count(), 0);
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        QCOMPARE(env.platform.messageTexts(), QStringList());
        const QList<PlatformCall> opens = env.platform.callsOf("open");
        QCOMPARE(opens.size(), 1);
        QCOMPARE(opens[0].title, kTitle);
        QCOMPARE(opens[0].arguments, QStringList{"XML Files (*.xml)|*.xml"});
    }

    void chosenFilesBecomeRowsInTheDialogsOrder() {
        TestEnv env;
        auto form = env.makeForm();
        form->ListView1->append("/earlier.xml");
        // One file: exactly as returned, a typed name of a missing file included.
        addThroughDialog(env, *form, {"/no/such//file.xml"});
        // Three files in one folder, in the dialog's order.
        addThroughDialog(env, *form, {"/data/c.xml", "/data/a.xml", "/data/b b.xml"});
        // Several files in the root folder: no doubled separator.
        addThroughDialog(env, *form, {"/r1.xml", "/r2.xml"});
        QCOMPARE(form->ListView1->texts(),
                 QStringList({"/earlier.xml", "/no/such//file.xml", "/data/c.xml", "/data/a.xml",
                              "/data/b b.xml", "/r1.xml", "/r2.xml"}));
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        QCOMPARE(env.platform.messageTexts(), QStringList());
    }

    void sameFileTwiceGivesTwoRows() {
        TestEnv env;
        auto form = env.makeForm();
        const QString file = env.write("a.xml", "<a/>");
        addThroughDialog(env, *form, {file});
        addThroughDialog(env, *form, {file});
        QCOMPARE(form->ListView1->texts(), QStringList({file, file}));
    }

    void tooManyFilesAddNothing() {
        TestEnv env;
        auto form = env.makeForm();
        // "/data" and 2999 names of 9 characters: 5 + 2999 * 10 = 29995 characters fit ...
        QStringList fits;
        for (int i = 0; i < 2999; ++i)
            fits.append(QString("/data/%1.xml").arg(i, 5, 10, QChar('0')));
        QStringList tooMany = fits;
        tooMany.append("/data/extra.xml");  // ... 10 more do not.
        QCOMPARE(OpenDialogResultLength(OpenDialogParts(fits)), 29995);
        QCOMPARE(OpenDialogResultLength(OpenDialogParts(tooMany)), 30005);

        addThroughDialog(env, *form, tooMany);
        QCOMPARE(form->ListView1->count(), 0);
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        const QList<PlatformCall> boxes = env.platform.callsOf("message");
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, kTooMany);
        QCOMPARE(boxes[0].title, form->ApplicationTitle);
        QCOMPARE(boxes[0].buttons, MessageButtons::Ok);
        QCOMPARE(boxes[0].icon, MessageIcon::None);

        addThroughDialog(env, *form, fits);
        QCOMPARE(form->ListView1->count(), 2999);
        QCOMPARE(form->ListView1->text(2999), "/data/02998.xml");
    }

    void aBusyWindowStaysBusy() {
        // Started from the event pump of a longer command, the command's busy mark survives.
        TestEnv env;
        auto form = env.makeForm();
        form->SetWindowPointer(WindowPointer::Busy);
        addThroughDialog(env, *form, {"/a.xml"});
        QCOMPARE(form->ListView1->count(), 1);
        QVERIFY(form->IsBusy());
    }

    void dataWithoutLocalFilesCannotBeDropped() {
        TestEnv env;
        auto form = env.makeForm();
        QMimeData text;
        text.setText("/tmp/a.xml");
        QVERIFY(!dragAndDrop(*form, text));
        QMimeData web;
        web.setUrls({QUrl("https://example.org/a.xml")});
        QVERIFY(!dragAndDrop(*form, web));
        QCOMPARE(form->ListView1->count(), 0);
        QVERIFY(env.platform.calls.isEmpty());
    }

    void filesAreAddedExactlyAsDelivered() {
        TestEnv env;
        const QString a = env.write("a.txt", "text");
        const QString b = env.write("b.xml", "<b/>");
        const QString tilde = env.write("~c.xml", "<c/>");
        const QString missing = env.path("not there.doc");
        auto form = env.makeForm();
        QVERIFY(dragAndDrop(*form, *filesData({b, a, tilde, missing})));
        QCOMPARE(form->ListView1->texts(), QStringList({b, a, tilde, missing}));
    }

    void foldersAddTheirWholeTreesInTheOrderDropped() {
        TestEnv env;
        const QString first = env.path("first");
        for (const char* file : {"a.xml", "b.txt", "~c.xml", ".hidden", "sub/d.doc"})
            tree::makeFile(first + "/" + file);
        tree::makeLink(first, first + "/sub/loop");
        const QString second = env.path("second");
        tree::makeFile(second + "/e");
        const QString file = env.write("between.xml", "<x/>");
        env.settings.write("Extension", "keep");
        auto form = env.makeForm();
        WindowPointer during = WindowPointer::Custom;
        QTimer::singleShot(0, form.get(), [&] { during = form->windowPointer(); });

        QVERIFY(dragAndDrop(*form, *filesData({first, file, second})));
        QCOMPARE(form->ListView1->texts(),
                 QStringList({first + "/a.xml", first + "/b.txt", first + "/sub/d.doc", file,
                              second + "/e"}));
        // No question, no hourglass, the scan's settings untouched.
        QCOMPARE(during, WindowPointer::Default);
        QVERIFY(env.platform.calls.isEmpty());
        QCOMPARE(env.settings.read("Extension", ""), "keep");
        QCOMPARE(env.settings.read("LastFolder", "<absent>"), "<absent>");
    }

    void aFailureIsReportedAndTheDropGoesOn() {
        TestEnv env;
        // A folder whose path is as long as a path may be: it can be dropped, but with the
        // separator added its files cannot be listed.
        QString folder = env.path("long");
        int remaining = PathLengthLimit() - 1 - int(QFile::encodeName(folder).size());
        for (int parts = (remaining + 200) / 201; parts > 0; --parts) {
            const int share = remaining / parts;  // a separator and share - 1 letters
            folder += "/" + QString(share - 1, 'd');
            remaining -= share;
        }
        QCOMPARE(QFile::encodeName(folder).size(), PathLengthLimit() - 1);
        tree::makeFolder(folder);
        const QString file = env.write("after.xml", "<x/>");
        const QString other = env.path("other");
        tree::makeFile(other + "/a.xml");
        auto form = env.makeForm();

        QVERIFY(dragAndDrop(*form, *filesData({folder, file, other})));
        const QStringList boxes = env.platform.messageTexts();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(
            boxes[0].startsWith("File name too long: " + folder +
                                "/\r\n"
                                "in Brellix2021/08/31.Form1.ListView1_OLEDragDrop at line 120"),
            qPrintable(boxes[0]));
        // The drop went on with the next items, and the program with the next drop.
        QCOMPARE(form->ListView1->texts(), QStringList({file, other + "/a.xml"}));
        QVERIFY(dragAndDrop(*form, *filesData({file})));
        QCOMPARE(form->ListView1->count(), 3);
    }
};

QTEST_MAIN(TestAddFiles)
#include "test_add_files.moc"
