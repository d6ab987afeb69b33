// A folder of hostile files through the real window, as a person would meet it: "Add All XML
// File(s) In Folder" over the folder, "Start Checking" with the error messages ticked, and the
// invalid list saved. Every file gets one row with a report that says why, the window lets
// events run between files, and the things that are no files are left out by the scan.

#include "FileList.h"
#include "Widgets.h"
#include "check/XmlCheck.h"
#include "files/PathUtil.h"
#include "tests/support/FileContent.h"
#include "tests/support/FolderTree.h"
#include "tests/support/LibxmlRelease.h"
#include "tests/support/TestEnv.h"

#include <QDirIterator>
#include <QPushButton>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Counts the turns of the event loop while a command runs.
class PumpCounter {
public:
    PumpCounter() {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { ++turns; });
        timer_.start();
    }
    int turns = 0;

private:
    QTimer timer_;
};

// Makes a socket file in `folder`; the descriptor stays open for the test's life.
void makeSocket(const QString& path) {
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    QVERIFY(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
}

// The hostile corpus copied into `folder`, with its definitions beside it.
QStringList copyCorpus(const QString& folder) {
    QStringList xml;
    QDirIterator it(QStringLiteral(BRELLIX_SOURCE_DIR "/tests/hostile"), QDir::Files);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = folder + "/" + it.fileName();
        tree::makeFile(target, ContentOf(source));
        if (target.endsWith(".xml"))
            xml << target;
    }
    return xml;
}

bool usable(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() >= 0x20 || c == QLatin1Char('\r') || c == QLatin1Char('\n') ||
               c == QLatin1Char('\t');
    });
}

}  // namespace

class TestHostileRun : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitXmlChecking(); }

    void aHostileFolderIsScannedCheckedAndSaved() {
        TestEnv env;
        const QString root = env.path("Downloads");
        QStringList expected = copyCorpus(root + "/corpus");
        for (const char* name : {"with blank.xml", "new\nline.xml", "-dash.xml", "hash#%41?.xml"})
            expected << tree::makeFile(root + "/odd/" + name, "<a/>");
        expected << tree::makeFile(root + "/big/huge-text.xml",
                                   "<a>" + QByteArray(11 << 20, 't') + "</a>");
        const QString gone = tree::makeFile(root + "/gone.xml");
        expected << gone;
        // Things the scan leaves out: no regular file, a link back up.
        QCOMPARE(::mkfifo(QFile::encodeName(root + "/pipe.xml").constData(), 0600), 0);
        makeSocket(root + "/socket.xml");
        tree::makeLink("/dev/zero", root + "/zero.xml");
        tree::makeLink("/dev/null", root + "/null.xml");
        tree::makeLink(root, root + "/odd/loop");
        // A name that is no text is checked like any other.
        const QByteArray raw = PathBytes(root) + "/caf\xe9.xml";
        QVERIFY(::close(::open(raw.constData(), O_WRONLY | O_CREAT, 0644)) == 0);
        expected << PathFromBytes(raw);
        const auto removeRaw = qScopeGuard([&] { ::unlink(raw.constData()); });

        auto form = env.makeForm();
        env.platform.inputAnswers.push_back("xml");
        env.platform.folderAnswers.push_back(root);
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        QVERIFY(env.platform.messageTexts().isEmpty());
        const QStringList scanned = form->ListView1->texts();
        QCOMPARE(QSet<QString>(scanned.begin(), scanned.end()),
                 QSet<QString>(expected.begin(), expected.end()));
        QCOMPARE(scanned.size(), expected.size());  // the loop added nothing twice

        // Between the scan and the check the file goes away.
        QVERIFY(QFile::remove(gone));
        form->Check1->setValue(1);
        PumpCounter pumps;
        QTest::mouseClick(form->PushButton4, Qt::LeftButton);
        QCOMPARE(env.platform.messageTexts(), QStringList{"Done."});
        QVERIFY2(pumps.turns >= scanned.size(), "the window must get its turn for every file");

        const QStringList valid = form->ListView2->texts();
        const QStringList invalid = form->ListView3->texts();
        QCOMPARE(valid.size() + invalid.size(), scanned.size());
        // With libxml2 2.15 the parser's length limits are lifted to a gigabyte: the huge text
        // loads there.
        for (const QString& path : valid)
            QVERIFY2(path.contains("/odd/") || path.endsWith("utf16-without-bom.xml") ||
                         (kLibxml215 && path.endsWith("huge-text.xml")),
                     qPrintable(path));
        const QString failed = " - Your XML Document failed to loaddue the following error.\r\n";
        for (const QString& row : invalid) {
            QVERIFY2(row.contains(failed), qPrintable(row.left(200)));
            QVERIFY2(usable(row), qPrintable(row.left(200)));
            QVERIFY(row.size() < 2000);  // a report, not the file
        }
        const auto rowOf = [&](const QString& path) {
            for (const QString& row : invalid)
                if (row.startsWith(path + failed))
                    return row;
            return QString();
        };
        QVERIFY(rowOf(gone).contains("No such file or directory"));
        QVERIFY(kLibxml215 || rowOf(root + "/big/huge-text.xml").contains("the parser's limit"));
        QVERIFY(
            rowOf(root + "/corpus/dtd-remote.xml").contains("nothing is loaded from the network"));

        // The invalid list saved: one entry per row, nothing that breaks a text file.
        const QString saved = env.path("invalid.txt");
        env.platform.saveAnswers.push_back(saved);
        QTest::mouseClick(form->PushButton1, Qt::LeftButton);
        const QByteArray written = ContentOf(saved);
        QCOMPARE(written.count("Your XML Document failed to load"), invalid.size());
        QVERIFY(!written.contains('\0'));
    }
};

QTEST_MAIN(TestHostileRun)
#include "test_hostile_run.moc"
