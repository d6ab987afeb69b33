// Writing a result file: what it replaces and what it refuses. The bytes written are checked
// through the window in test_save_results.

#include "common/ErrorReport.h"
#include "output/ResultFile.h"
#include "tests/support/FileContent.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestEnv.h"

#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

namespace {

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

class TestResultFile : public QObject {
    Q_OBJECT
private slots:
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

QTEST_MAIN(TestResultFile)
#include "test_result_file.moc"
