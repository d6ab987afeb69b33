// "Add All XML File(s) In Folder" in the real window: the questions, the stored answers, the
// hourglass and the rows a person sees.

#include "FileList.h"
#include "tests/support/FolderTree.h"
#include "tests/support/TestEnv.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const char kPrompt[] =
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc "
    "files, etc.)";

QString stored(TestEnv& env, const QString& key) {
    return env.settings.read(key, "<absent>");
}

// The window's pointer the first time the scan lets events run.
struct PointerDuringScan {
    WindowPointer pointer = WindowPointer::Custom;
    Qt::CursorShape shape = Qt::BitmapCursor;
    bool seen = false;
    explicit PointerDuringScan(Form1& form) {
        QTimer::singleShot(0, &form, [this, &form] {
            pointer = form.windowPointer();
            shape = form.cursor().shape();
            seen = true;
        });
    }
};

// Queues the answers of the extension box and the folder chooser.
void answer(TestEnv& env, const QString& extension, const QString& folder) {
    env.platform.inputAnswers.push_back(extension);
    env.platform.folderAnswers.push_back(folder);
}

}  // namespace

class TestAddFolder : public QObject {
    Q_OBJECT
private slots:
    void addsTheTreesMatchingFilesWithTheHourglass() {
        TestEnv env;
        const QString root = env.path("data");
        for (const char* file : {"sub2/two.xml", "sub1/deep/d.XML", "sub1/one.xml", "a.xml",
                                 "b.XML", "c.txt", "~d.xml", ".hidden.xml"})
            tree::makeFile(root + "/" + file);
        auto form = env.makeForm();
        form->ListView1->append("/earlier/row.xml");
        answer(env, "xml", root);
        PointerDuringScan during(*form);
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);

        const auto inputs = env.platform.callsOf("input");
        QCOMPARE(inputs.size(), 1);
        QCOMPARE(inputs[0].text, kPrompt);
        QCOMPARE(inputs[0].title, form->ApplicationTitle);
        QCOMPARE(inputs[0].arguments, QStringList({"xml"}));  // first run: the default
        const auto folders = env.platform.callsOf("folder");
        QCOMPARE(folders.size(), 1);
        QCOMPARE(folders[0].title, "Please select folder:");
        QCOMPARE(folders[0].arguments, QStringList({""}));

        QCOMPARE(form->ListView1->texts().first(), "/earlier/row.xml");
        QCOMPARE(
            tree::relative(form->ListView1->texts().mid(1), root),
            QStringList({"a.xml", "b.XML", "sub1/one.xml", "sub2/two.xml", "sub1/deep/d.XML"}));
        QVERIFY(during.seen);
        QCOMPARE(during.pointer, WindowPointer::Busy);
        QCOMPARE(during.shape, Qt::WaitCursor);
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        QCOMPARE(stored(env, "Extension"), "xml");
        QCOMPARE(stored(env, "LastFolder"), root);
        QVERIFY(env.platform.messageTexts().isEmpty());  // no count, no summary
        QVERIFY(env.platform.unexpected.isEmpty());
    }

    void starTakesEveryFileAndAddingTwiceGivesEveryRowTwice() {
        TestEnv env;
        const QString root = env.path("data");
        for (const char* file : {"README", "a.xml", "b.doc", "~skip.txt", "sub/c"})
            tree::makeFile(root + "/" + file);
        auto form = env.makeForm();
        answer(env, "*", root);
        answer(env, "*", root);
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        const QStringList once = {"a.xml", "b.doc", "README", "sub/c"};
        QCOMPARE(tree::relative(form->ListView1->texts(), root), once + once);
    }

    void answersAreRememberedAcrossARestart() {
        TestEnv env;
        const QString root = env.path("data");
        tree::makeFile(root + "/notes.txt");
        {
            auto form = env.makeForm();
            answer(env, "txt", root);
            QTest::mouseClick(form->PushButton3, Qt::LeftButton);
            QCOMPARE(form->ListView1->texts(), QStringList({root + "/notes.txt"}));
        }
        env.platform.calls.clear();
        auto restarted = env.makeForm();
        answer(env, "doc", "");  // Cancel in the chooser
        QTest::mouseClick(restarted->PushButton3, Qt::LeftButton);
        QCOMPARE(env.platform.callsOf("input")[0].arguments, QStringList({"txt"}));
        QCOMPARE(env.platform.callsOf("folder")[0].arguments, QStringList({root}));
        // The new extension stays although the chooser was cancelled; the folder is unchanged.
        QCOMPARE(stored(env, "Extension"), "doc");
        QCOMPARE(stored(env, "LastFolder"), root);
        QCOMPARE(restarted->ListView1->count(), 0);
        QCOMPARE(restarted->windowPointer(), WindowPointer::Default);
    }

    void cancelAtTheExtensionBoxDoesNothing() {
        TestEnv env;
        env.settings.write("Extension", "abc");
        auto form = env.makeForm();
        env.platform.inputAnswers = {""};
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        QCOMPARE(env.platform.callsOf("input")[0].arguments, QStringList({"abc"}));
        QVERIFY(env.platform.callsOf("folder").isEmpty());
        QCOMPARE(stored(env, "Extension"), "abc");
        QCOMPARE(stored(env, "LastFolder"), "<absent>");
        QCOMPARE(form->ListView1->count(), 0);
    }

    void unlistableChosenFolderAddsNothingAndShowsNoBox() {
        TestEnv env;
        const QString root = env.path("locked");
        tree::makeFile(root + "/own.xml");
        auto form = env.makeForm();
        answer(env, "xml", root);
        {
            tree::UnlistableFolder locked(root);
            if (!locked.effective())
                QSKIP("this process can list any folder");
            QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        }
        QCOMPARE(form->ListView1->count(), 0);
        QVERIFY(env.platform.messageTexts().isEmpty());
        QCOMPARE(stored(env, "LastFolder"), root);
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
    }

    void failingSettingsAreReportedAndTheScanGoesOn() {
        TestEnv env;
        const QString root = env.path("data");
        tree::makeFile(root + "/a.xml");
        auto form = env.makeForm();
        // The settings file becomes a folder: every write fails from now on.
        QVERIFY(QFile::remove(env.settings.fileName()));
        tree::makeFolder(env.settings.fileName());
        answer(env, "xml", root);
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        QStringList lines;
        for (const PlatformCall& box : env.platform.callsOf("message")) {
            QCOMPARE(box.title, "Application Error");
            lines.append(box.text.section("\r\n", 1, 1).section('\r', 0, 0));
        }
        QCOMPARE(lines, QStringList({"in Brellix2021/08/31.Form1.PushButton3_Click at line 100",
                                     "in Brellix2021/08/31.Form1.PushButton3_Click at line 104",
                                     "in Brellix2021/08/31.Form1.PushButton3_Click at line 334"}));
        QCOMPARE(form->ListView1->texts(), QStringList({root + "/a.xml"}));
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
    }

    void busyWindowIgnoresTheButton() {
        TestEnv env;
        auto form = env.makeForm();
        form->SetWindowPointer(WindowPointer::Busy);
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        QVERIFY(env.platform.calls.isEmpty());
        QCOMPARE(form->windowPointer(), WindowPointer::Busy);
    }

    void closingTheWindowDuringTheScanStopsIt() {
        TestEnv env;
        const QString root = env.path("data");
        tree::makeFile(root + "/a.xml");
        tree::makeFile(root + "/sub/b.xml");
        auto form = env.makeForm();
        form->show();
        answer(env, "xml", root);
        QTimer::singleShot(0, form.get(), [&] { form->close(); });
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        QVERIFY(env.platform.ended);
        QCOMPARE(form->ListView1->count(), 0);
    }
};

QTEST_MAIN(TestAddFolder)
#include "test_addfolder.moc"
