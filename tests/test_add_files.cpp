// "Add XML File(s)": the open dialog's result turned into input rows.

#include "app/FileList.h"
#include "lists/OpenDialogResult.h"
#include "tests/support/TestEnv.h"

#include <QPushButton>
#include <QTest>

namespace {

const QString kTitle = "Load List(s) - Hold Ctrl to select multiple list files";
const QString kTooMany =
    "You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.";

// Clicks "Add XML File(s)" with the dialog answering `paths` (nothing: Cancel).
void addThroughDialog(TestEnv& env, Form1& form, const QStringList& paths) {
    env.platform.openAnswers.push_back(paths);
    QTest::mouseClick(form.PushButton5, Qt::LeftButton);
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
};

QTEST_MAIN(TestAddFiles)
#include "test_add_files.moc"
