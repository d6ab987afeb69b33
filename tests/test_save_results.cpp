// "Save Results" under the valid and the invalid list, through the window, and writing a
// result file: what it replaces and what it refuses.

#include "FileList.h"
#include "common/ErrorReport.h"
#include "results/ResultFile.h"
#include "tests/support/FileContent.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestEnv.h"

#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

namespace {

const QStringList kFilters{"Text Files (*.txt)|*.txt", "All Files (*.*)|*.*"};

// A path in the test's own output folder (the scratch folder also holds the settings).
QString outPath(TestEnv& env, const QString& name = {}) {
    QDir().mkpath(env.path("out"));
    return env.path("out/" + name);
}

// Clicks a "Save Results" button, the save dialog answering `path` ("" is Cancel).
void save(TestEnv& env, QPushButton* button, const QString& path) {
    env.platform.saveAnswers.push_back(path);
    QTest::mouseClick(button, Qt::LeftButton);
}

// The description of the StepFailure that `body` throws, or "<none>".
template <class F>
QString failureOf(F&& body) {
    try {
        body();
    } catch (const StepFailure& failure) {
        return QString::fromUtf8(failure.what());
    }
    return QStringLiteral("<none>");
}

}  // namespace

class TestSaveResults : public QObject {
    Q_OBJECT
private slots:
    void bothListsSaveByteExact() {
        TestEnv env;
        auto form = env.makeForm();
        form->ListView2->appendAll(
            {"/data/a.xml", "/data/b b.xml", QString::fromUtf8("/d/\xc3\xa9.xml")});
        const QString report =
            "/data/bad.xml - Error Number: -1072896659\r\nReason: Only one top level element is "
            "allowed.\r\nLine: 2\r\nPosition: 1\r\nFile Position: 10\r\nSource Text: <b/>";
        form->ListView3->appendAll({report, "/data/plain.xml"});

        bool busyWhileWriting = false;
        QTimer::singleShot(0, form.get(), [&] {
            busyWhileWriting = form->IsBusy() && form->cursor().shape() == Qt::WaitCursor;
        });
        save(env, form->PushButton6, outPath(env, "valid.txt"));
        save(env, form->PushButton1, outPath(env, "invalid.txt"));

        QCOMPARE(ContentOf(outPath(env, "valid.txt")),
                 QByteArray("/data/a.xml\r\n/data/b b.xml\r\n/d/\xc3\xa9.xml\r\n"));
        QCOMPARE(ContentOf(outPath(env, "invalid.txt")),
                 report.toUtf8() + "\r\n/data/plain.xml\r\n");
        QVERIFY(busyWhileWriting);
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        QCOMPARE(env.platform.messageTexts(), QStringList());  // no word on success
        const QList<PlatformCall> dialogs = env.platform.callsOf("save");
        QCOMPARE(dialogs.size(), 2);
        for (const PlatformCall& dialog : dialogs) {
            QCOMPARE(dialog.title, "Save List");
            QCOMPARE(dialog.arguments, kFilters);
        }
        QCOMPARE(NamesIn(outPath(env)), QStringList({"invalid.txt", "valid.txt"}));
    }

    void emptyListCancelAndTypedNameWithoutExtension() {
        TestEnv env;
        auto form = env.makeForm();
        save(env, form->PushButton6, "");  // Cancel
        QCOMPARE(NamesIn(outPath(env)), QStringList());
        save(env, form->PushButton6, outPath(env, "results"));  // empty list, no extension
        QCOMPARE(NamesIn(outPath(env)), QStringList{"results"});
        QCOMPARE(ContentOf(outPath(env, "results")), QByteArray());
        QCOMPARE(env.platform.callsOf("save").size(), 2);
        QCOMPARE(env.platform.messageTexts(), QStringList());
        QVERIFY(env.platform.unexpected.isEmpty());
    }

    void overwriteAsksFirst() {
        TestEnv env;
        auto form = env.makeForm();
        const QString existing = env.write("out/list.txt", "old\r\n");
        form->ListView2->append("/new.xml");

        env.platform.messageAnswers.push_back(MessageAnswer::No);
        save(env, form->PushButton6, existing);
        QCOMPARE(ContentOf(existing), QByteArray("old\r\n"));
        const QList<PlatformCall> asked = env.platform.callsOf("message");
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].text, "Are you sure you wish to overwrite " + existing + " ?");
        QCOMPARE(asked[0].title, form->ApplicationTitle);
        QCOMPARE(asked[0].buttons, MessageButtons::YesNo);
        QCOMPARE(asked[0].icon, MessageIcon::None);

        env.platform.messageAnswers.push_back(MessageAnswer::Yes);
        save(env, form->PushButton6, existing);
        QCOMPARE(ContentOf(existing), QByteArray("/new.xml\r\n"));
        QCOMPARE(env.platform.messageTexts().size(), 2);
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
    }

    void aSaveFailingPartWayKeepsTheOldFile() {
        TestEnv env;
        auto form = env.makeForm();
        const QString existing = env.write("out/list.txt", "precious\r\n");
        for (int i = 0; i < 5000; ++i)
            form->ListView2->append(QString("/data/%1.xml").arg(i, 40, 10, QChar('0')));
        {
            const FileSizeLimit limit(20000);
            env.platform.messageAnswers.push_back(MessageAnswer::Yes);
            save(env, form->PushButton6, existing);
        }
        const QStringList boxes = env.platform.messageTexts();
        QCOMPARE(boxes.size(), 2);  // the overwrite question and one error box
        QVERIFY(boxes[1].startsWith("Cannot write to \"" + existing +
                                    "\": File too large. The file was left unchanged.\r\n"
                                    "in Brellix2021/08/31.Form1.PushButton6_Click at line 136\r"));
        QCOMPARE(env.platform.callsOf("message")[1].title, "Application Error");
        QCOMPARE(ContentOf(existing), QByteArray("precious\r\n"));
        QCOMPARE(NamesIn(outPath(env)), QStringList{"list.txt"});
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
    }

    void aFileThatCannotBeOpenedGivesOneBox() {
        TestEnv env;
        auto form = env.makeForm();
        for (int i = 0; i < 1000; ++i)
            form->ListView3->append("/bad.xml");
        const QString target = env.path("no/such/folder/list.txt");
        save(env, form->PushButton1, target);
        const QList<PlatformCall> boxes = env.platform.callsOf("message");
        QCOMPARE(boxes.size(), 1);
        QVERIFY(
            boxes[0].text.startsWith("Cannot save to \"" + target +
                                     "\": No such file or directory. Nothing was saved.\r\n"
                                     "in Brellix2021/08/31.Form1.PushButton1_Click at line 130\r"));
        QCOMPARE(boxes[0].icon, MessageIcon::Exclamation);
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        QCOMPARE(NamesIn(outPath(env)), QStringList());

        // The program goes on: the next save works.
        save(env, form->PushButton1, outPath(env, "ok.txt"));
        QCOMPARE(ContentOf(outPath(env, "ok.txt")).size(), 1000 * 10);
    }

    void closingTheWindowDuringASaveKeepsTheOldFile() {
        TestEnv env;
        auto form = env.makeForm();
        const QString existing = env.write("out/list.txt", "old\r\n");
        for (int i = 0; i < 100; ++i)
            form->ListView2->append("/x.xml");
        // What the folder holds at the moment the program would end.
        QStringList namesAtEnd;
        QByteArray contentAtEnd;
        struct AtClose : QObject {
            std::function<void()> seen;
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::Close)
                    seen();
                return false;
            }
        } atClose;
        atClose.seen = [&] {
            namesAtEnd = NamesIn(outPath(env));
            contentAtEnd = ContentOf(existing);
        };
        form->installEventFilter(&atClose);
        int rowsPumped = 0;
        std::function<void()> closeLater = [&] {
            if (++rowsPumped == 50)
                form->close();
            else
                QTimer::singleShot(0, form.get(), closeLater);
        };
        QTimer::singleShot(0, form.get(), closeLater);
        env.platform.messageAnswers.push_back(MessageAnswer::Yes);
        save(env, form->PushButton6, existing);

        QVERIFY(env.platform.ended);
        QCOMPARE(namesAtEnd, QStringList{"list.txt"});
        QCOMPARE(contentAtEnd, QByteArray("old\r\n"));
        QCOMPARE(ContentOf(existing), QByteArray("old\r\n"));
        QCOMPARE(NamesIn(outPath(env)), QStringList{"list.txt"});
        QCOMPARE(env.platform.messageTexts().size(), 1);  // the overwrite question only
    }

    void listChangesDuringASaveDoNotMixIn() {
        TestEnv env;
        auto form = env.makeForm();
        form->ListView2->appendAll({"/1.xml", "/2.xml", "/3.xml"});
        // "Clear List" pressed while the save lets events run.
        QTimer::singleShot(0, form.get(),
                           [&] { QTest::mouseClick(form->PushButton9, Qt::LeftButton); });
        save(env, form->PushButton6, outPath(env, "list.txt"));
        QCOMPARE(form->ListView2->count(), 0);
        QCOMPARE(ContentOf(outPath(env, "list.txt")), QByteArray("/1.xml\r\n/2.xml\r\n/3.xml\r\n"));
        QCOMPARE(env.platform.messageTexts(), QStringList());
    }

    void aSaveInsideABusyCommandLeavesItBusy() {
        TestEnv env;
        auto form = env.makeForm();
        form->ListView3->append("/a.xml");
        form->SetWindowPointer(WindowPointer::Busy);
        save(env, form->PushButton1, outPath(env, "list.txt"));
        QCOMPARE(ContentOf(outPath(env, "list.txt")), QByteArray("/a.xml\r\n"));
        QVERIFY(form->IsBusy());
    }

    void replacingKeepsPermissionsAndLinks() {
        TestEnv env;
        const QString real = env.write("real.txt", "old");
        QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(QFile::link(real, env.path("link.txt")));
        ResultFileWriter writer(env.path("link.txt"));
        writer.open();
        writer.writeRow("new");
        QCOMPARE(ContentOf(real), QByteArray("old"));  // nothing in place before the commit
        writer.commit();
        QVERIFY(QFileInfo(env.path("link.txt")).isSymLink());
        QCOMPARE(ContentOf(real), QByteArray("new\r\n"));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(real).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
    }

    void discardedOrAbandonedSavesLeaveTheOldFile() {
        TestEnv env;
        const QString target = env.write("out/list.txt", "old content\r\n");
        {
            ResultFileWriter writer(target);
            writer.open();
            writer.writeRow("new row");
            writer.discard();
            QVERIFY(failureOf([&] { writer.writeRow("late"); }).contains("cancelled"));
            writer.open();
            writer.writeRow("again");
        }  // gone without a commit
        QCOMPARE(ContentOf(target), QByteArray("old content\r\n"));
        QCOMPARE(NamesIn(env.path("out")), QStringList{"list.txt"});
    }

    void foldersAndSpecialFilesAreRefused() {
        TestEnv env;
        QDir().mkpath(env.path("out/folder"));
        QCOMPARE(failureOf([&] { ResultFileWriter(env.path("out/folder")).open(); }),
                 "Cannot save to \"" + env.path("out/folder") +
                     "\": This is a folder. The file was left unchanged.");
        // A pipe is neither written (which could wait for a reader forever) nor replaced.
        const QString pipe = env.path("out/pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(failureOf([&] { ResultFileWriter(pipe).open(); }).contains("not a regular file"));
        QVERIFY(!QFileInfo(pipe).isFile());
        QCOMPARE(NamesIn(env.path("out")), QStringList({"folder", "pipe"}));
    }

    void theLastBlockFailingAtTheCommitSavesNothing() {
        TestEnv env;
        QDir().mkpath(env.path("out"));
        ResultFileWriter writer(env.path("out/new.txt"));
        writer.open();
        writer.writeRow(QString(2000, 'n'));
        QString failure;
        {
            const FileSizeLimit limit(1000);
            failure = failureOf([&] { writer.commit(); });
        }
        QCOMPARE(failure, "Cannot write to \"" + env.path("out/new.txt") +
                              "\": File too large. Nothing was saved.");
        QVERIFY(!writer.isOpen());
        QCOMPARE(NamesIn(env.path("out")), QStringList());
    }
};

QTEST_MAIN(TestSaveResults)
#include "test_save_results.moc"
