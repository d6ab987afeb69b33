// Writing a result file: its exact bytes, and an existing file kept whole whatever goes wrong.

#include "app/ErrorReport.h"
#include "output/ResultFile.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
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

class TestResultFile : public QObject {
    Q_OBJECT
private slots:
    void entriesEndInCrLfInUtf8() {
        QCOMPARE(ResultFileEntry("/data/a.xml"), QByteArray("/data/a.xml\r\n"));
        QCOMPARE(ResultFileEntry(""), QByteArray("\r\n"));
        QCOMPARE(ResultFileEntry("/d/b.xml - line\r\nmore"),
                 QByteArray("/d/b.xml - line\r\nmore\r\n"));
        QCOMPARE(ResultFileEntry(QString::fromUtf8("/d/\xc3\xa9t\xc3\xa9 \xe2\x82\xac.xml")),
                 QByteArray("/d/\xc3\xa9t\xc3\xa9 \xe2\x82\xac.xml\r\n"));
    }

    void writesExactlyTheRowsAndLeavesNothingElse() {
        TestEnv env;
        const QString target = env.path("out/list.txt");
        QDir().mkpath(env.path("out"));
        ResultFileWriter writer(target);
        writer.open();
        writer.writeRow("/a.xml");
        writer.writeRow("/b.xml");
        QVERIFY(!QFileInfo::exists(target));  // nothing in place before the commit
        writer.commit();
        QVERIFY(!writer.isOpen());
        QCOMPARE(contentOf(target), QByteArray("/a.xml\r\n/b.xml\r\n"));
        QCOMPARE(namesIn(env.path("out")), QStringList{"list.txt"});

        // No rows: an empty file.
        ResultFileWriter empty(env.path("out/empty"));
        empty.open();
        empty.commit();
        QCOMPARE(QFileInfo(env.path("out/empty")).size(), 0);
    }

    void replacingKeepsPermissionsAndLinks() {
        TestEnv env;
        const QString real = env.write("real.txt", "old");
        QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(QFile::link(real, env.path("link.txt")));
        ResultFileWriter writer(env.path("link.txt"));
        writer.open();
        writer.writeRow("new");
        writer.commit();
        QVERIFY(QFileInfo(env.path("link.txt")).isSymLink());
        QCOMPARE(contentOf(real), QByteArray("new\r\n"));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(real).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
    }

    void discardedOrAbandonedSavesLeaveTheOldFile() {
        TestEnv env;
        const QString target = env.write("list.txt", "old content\r\n");
        {
            ResultFileWriter writer(target);
            writer.open();
            writer.writeRow("new row");
            writer.discard();
            QCOMPARE(namesIn(env.dir.path()), QStringList{"list.txt"});
            QVERIFY(failureOf([&] { writer.writeRow("late"); }).contains("cancelled"));
            writer.open();
            writer.writeRow("again");
        }  // gone without a commit
        QCOMPARE(contentOf(target), QByteArray("old content\r\n"));
        QCOMPARE(namesIn(env.dir.path()), QStringList{"list.txt"});
    }

    void refusedTargetsNameFileAndReason() {
        TestEnv env;
        const QString missingFolder = env.path("no/such/list.txt");
        QCOMPARE(failureOf([&] { ResultFileWriter(missingFolder).open(); }),
                 "Cannot save to \"" + missingFolder +
                     "\": No such file or directory. Nothing was saved.");
        QVERIFY(!QFileInfo::exists(env.path("no")));

        QDir().mkpath(env.path("folder"));
        QCOMPARE(failureOf([&] { ResultFileWriter(env.path("folder")).open(); }),
                 "Cannot save to \"" + env.path("folder") +
                     "\": This is a folder. "
                     "The file was left unchanged.");

        // A pipe is neither written (which could wait for a reader forever) nor replaced.
        const QString pipe = env.path("pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(failureOf([&] { ResultFileWriter(pipe).open(); }).contains("not a regular file"));
        QVERIFY(!QFileInfo(pipe).isFile());
        QCOMPARE(namesIn(env.dir.path()), QStringList({"folder", "pipe"}));
    }

    void aWriteFailingPartWayKeepsTheOldFile() {
        TestEnv env;
        const QByteArray old(3000, 'o');
        const QString target = env.write("list.txt", old);
        ResultFileWriter writer(target);
        writer.open();
        QString failure;
        {
            const FileSizeLimit limit(1000);
            // Rows well past the limit: a block of them fails when it reaches the file.
            failure = failureOf([&] {
                for (int i = 0; i < 10000; ++i)
                    writer.writeRow(QString(60, 'r'));
            });
        }
        QCOMPARE(failure, "Cannot write to \"" + target +
                              "\": File too large. The file was left unchanged.");
        QVERIFY(!writer.isOpen());
        QCOMPARE(contentOf(target), old);

        // The last block, written by the commit, fails the same way; a new file is not made.
        ResultFileWriter fresh(env.path("new.txt"));
        fresh.open();
        fresh.writeRow(QString(2000, 'n'));
        {
            const FileSizeLimit limit(1000);
            failure = failureOf([&] { fresh.commit(); });
        }
        QCOMPARE(failure, "Cannot write to \"" + env.path("new.txt") +
                              "\": File too large. Nothing was saved.");
        QCOMPARE(namesIn(env.dir.path()), QStringList{"list.txt"});
        QCOMPARE(namesIn(env.dir.path()), QStringList{"list.txt"});
    }
};

QTEST_MAIN(TestResultFile)
#include "test_result_file.moc"
