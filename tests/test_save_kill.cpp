// Nothing lost: a save over an existing file, killed (SIGKILL) at random moments, leaves the
// old content or the complete new one, never a part, and nothing beside it.
//
// The program that is killed is this test itself, started again as a helper that saves a
// large list through ResultFileWriter, the routine behind "Save Results".

#include "results/ResultFile.h"
#include "tests/support/FileContent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kHelperFlag[] = "--save-rows";
constexpr int kRows = 150000;

// The rows of list number `generation`.
QString row(int generation, int i) {
    return QStringLiteral(
               "/data/generation %1/folder %2/file-%3.xml - a row long enough to "
               "take some time")
        .arg(generation)
        .arg(i / 100)
        .arg(i);
}

QByteArray fileOf(int generation) {
    QByteArray all;
    for (int i = 0; i < kRows; ++i)
        all += ResultFileEntry(row(generation, i));
    return all;
}

// The helper: says "go" once it starts writing, then saves list `generation` to `path`.
int saveRows(const QString& path, int generation) {
    try {
        ResultFileWriter writer(path);
        writer.open();
        std::fputs("go\n", stdout);
        std::fflush(stdout);
        for (int i = 0; i < kRows; ++i)
            writer.writeRow(row(generation, i));
        writer.commit();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

}  // namespace

class TestSaveKill : public QObject {
    Q_OBJECT

    // Starts the helper saving `generation` to `path`; true once it writes.
    static bool startSave(QProcess& helper, const QString& path, int generation) {
        helper.start(QCoreApplication::applicationFilePath(),
                     {kHelperFlag, path, QString::number(generation)});
        return helper.waitForStarted() && helper.waitForReadyRead(30000);
    }

private slots:
    void aKilledSaveLeavesTheOldOrTheWholeNewFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("results.txt");
        const QByteArray first = fileOf(1);
        const QByteArray second = fileOf(2);

        // How long one whole save takes here.
        QProcess helper;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(startSave(helper, path, 1));
        QVERIFY(helper.waitForFinished(60000));
        QCOMPARE(helper.exitCode(), 0);
        const qint64 saveMs = std::max<qint64>(clock.elapsed(), 20);
        QVERIFY(ContentOf(path) == first);

        int kept = 0;
        int replaced = 0;
        int strays = 0;
        QRandomGenerator random(20240607);
        for (int round = 0; round < 40; ++round) {
            const int generation = round % 2 == 0 ? 2 : 1;
            const QByteArray& before = generation == 2 ? first : second;
            const QByteArray& after = generation == 2 ? second : first;
            QCOMPARE(ContentOf(path), before);
            QProcess killed;
            QVERIFY(startSave(killed, path, generation));
            QThread::usleep(random.bounded(static_cast<int>(saveMs * 1000)));
            ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
            QVERIFY(killed.waitForFinished(30000));
            const QByteArray now = ContentOf(path);
            QVERIFY2(now == before || now == after,
                     qPrintable(QStringLiteral("round %1: %2 bytes, neither the old nor the new "
                                               "file")
                                    .arg(round)
                                    .arg(now.size())));
            if (now == before) {
                ++kept;
                // The next round expects the other content: finish this save first.
                QProcess finish;
                QVERIFY(startSave(finish, path, generation));
                QVERIFY(finish.waitForFinished(60000));
            } else {
                ++replaced;
            }
            // The new content is written to a file without a name, which gets one only to
            // replace the old file: a kill between the two steps (microseconds) leaves it
            // beside, complete. Nothing else is ever left.
            for (const QString& name : NamesIn(dir.path())) {
                if (name == QLatin1String("results.txt"))
                    continue;
                QVERIFY2(name.startsWith("results.txt.") && name.size() == 18, qPrintable(name));
                QVERIFY(ContentOf(dir.filePath(name)) == after);
                QVERIFY(QFile::remove(dir.filePath(name)));
                ++strays;
            }
        }
        qInfo(
            "40 saves killed: %d left the old file, %d had already put the new one in place, "
            "%d left a complete copy beside it (a whole save takes %lld ms)",
            kept, replaced, strays, saveMs);
        QVERIFY(kept > 0);
    }
};

int main(int argc, char* argv[]) {
    if (argc == 4 && std::strcmp(argv[1], kHelperFlag) == 0)
        return saveRows(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    QCoreApplication app(argc, argv);
    TestSaveKill test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_save_kill.moc"
