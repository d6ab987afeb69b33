// The folder walk and the gathering of files, on real folder trees in a temporary folder.

#include "common/ErrorReport.h"
#include "files/AddFolder.h"
#include "files/FolderListing.h"
#include "files/PathUtil.h"
#include "files/Wildcard.h"
#include "tests/support/FolderTree.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/wait.h>

#include <functional>
#include <tuple>

namespace {

// Records what the walk asks of its surroundings.
struct Recorder final : WalkServices {
    int pumps = 0;
    std::function<bool(int pump)> onPump;  // may throw; false stops the walk
    QList<std::tuple<QString, QString, int>> failures;

    QList<std::pair<QString, LeftOutFolder>> leftOut;

    void folderLeftOut(const QString& folder, LeftOutFolder reason) override {
        leftOut.append({folder, reason});
    }
    bool pumpEvents() override {
        ++pumps;
        return onPump ? onPump(pumps) : true;
    }
    void reportFailure(const QString& description, const QString& location, int number) override {
        failures.append({description, location, number});
    }
};

struct Scan {
    FolderList folders;
    QStringList rows;
    QList<std::pair<int, QString>> gatherFailures;
};

Scan scan(const QString& root, const QString& pattern, Recorder& services) {
    Scan result;
    result.folders = {root + "/"};
    GetSubDirectories2016(result.folders, true, services);
    GatherFiles(
        result.folders, pattern, [&](const QStringList& rows) { result.rows += rows; },
        [&](int number, const QString& text) {
            result.gatherFailures.append({number, text});
        });
    return result;
}

// Makes a file or folder whose name is given as raw bytes (names that are not UTF-8 text).
void makeRaw(const QString& folder, const QByteArray& name, bool isFolder) {
    const QByteArray path = QFile::encodeName(folder) + "/" + name;
    if (isFolder) {
        QVERIFY(::mkdir(path.constData(), 0755) == 0);
    } else {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
}

}  // namespace

class TestFolderWalk : public QObject {
    Q_OBJECT
private slots:
    void levelOrderOverSeveralLevels() {
        QTemporaryDir dir;
        const QString r = dir.path();
        // Made out of order: the listing order is by name, without regard to case.
        for (const char* file : {"sub2/deeper/x.xml", "Sub3/s3.xml", "sub1/deep/deepest/e.xml",
                                 "sub1/deep/d.xml", "sub1/s1.xml", "sub2/s2.xml", "r.xml"})
            tree::makeFile(r + "/" + file);
        Recorder services;
        const Scan s = scan(r, "*.xml", services);
        QCOMPARE(s.folders.first(), r + "/");
        QCOMPARE(tree::relative(s.folders.mid(1), r),
                 QStringList({"sub1/", "sub2/", "Sub3/", "sub1/deep/", "sub2/deeper/",
                              "sub1/deep/deepest/"}));
        QCOMPARE(tree::relative(s.rows, r),
                 QStringList({"r.xml", "sub1/s1.xml", "sub2/s2.xml", "Sub3/s3.xml",
                              "sub1/deep/d.xml", "sub2/deeper/x.xml", "sub1/deep/deepest/e.xml"}));
        QVERIFY(services.failures.isEmpty() && s.gatherFailures.isEmpty());

        // Without recursion: the first level only.
        FolderList one{r + "/"};
        QVERIFY(GetSubDirectories2016(one, false, services));
        QCOMPARE(tree::relative(one.mid(1), r), QStringList({"sub1/", "sub2/", "Sub3/"}));
    }

    void extensionsMatchWithoutRegardToCase() {
        QTemporaryDir dir;
        const QString r = dir.path();
        for (const char* file : {"a.xml", "b.XML", "c.txt", "~d.xml", "noext", "e.xml.bak", "f.Xml",
                                 "what?.xml", "sub/g.xml"})
            tree::makeFile(r + "/" + file);
        // Never added, and never waited for: a pipe and a folder with the extension.
        QVERIFY(::mkfifo(QFile::encodeName(r + "/pipe.xml").constData(), 0644) == 0);
        tree::makeFolder(r + "/folder.xml");
        Recorder services;
        QCOMPARE(tree::relative(scan(r, "*.xml", services).rows, r),
                 QStringList({"a.xml", "b.XML", "f.Xml", "what?.xml", "sub/g.xml"}));
        QCOMPARE(tree::relative(scan(r, "*.*", services).rows, r),
                 QStringList({"a.xml", "b.XML", "c.txt", "e.xml.bak", "f.Xml", "noext", "what?.xml",
                              "sub/g.xml"}));
        QCOMPARE(tree::relative(scan(r, "*.?ml", services).rows, r),
                 QStringList({"a.xml", "b.XML", "f.Xml", "what?.xml", "sub/g.xml"}));
        // The "~" rule belongs to the gathering, not to the listing of one folder.
        QVERIFY(GetFilesInFolder(r, "*.xml").contains("~d.xml"));
        QCOMPARE(GetFilesInFolder(r + "/", "*.txt"), QStringList({"c.txt"}));
    }

    void wildcardMatching_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("star dot star, no dot") << "README"
                                               << "*.*" << true;
        QTest::newRow("unicode case") << "ÄRGER.XML"
                                      << "ärger.*ml" << true;
        QTest::newRow("other extension") << "a.xmlx"
                                         << "*.xml" << false;
        QTest::newRow("question is one") << "a.xl"
                                         << "*.x?l" << false;
        QTest::newRow("star backtracks") << "a.aab"
                                         << "*.*ab" << true;
        QTest::newRow("long name, many stars") << QString(300, 'a') << "*a*a*a*b" << false;
    }
    void wildcardMatching() {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(bool, matches);
        QCOMPARE(MatchesWildcard(name, pattern), matches);
    }

    void hiddenFilesAndFoldersAndDerivedAttributes() {
        QTemporaryDir dir;
        const QString r = dir.path();
        tree::makeFile(r + "/.hidden.xml");
        const QString readOnly = tree::makeFile(r + "/.readonly.xml");
        QVERIFY(::chmod(QFile::encodeName(readOnly).constData(), 0444) == 0);
        tree::makeFile(r + "/.folder/in.xml");
        tree::makeLink(r + "/.folder", r + "/folderlink");
        tree::makeLink(r + "/.hidden.xml", r + "/filelink.xml");
        tree::makeLink(r + "/gone", r + "/dangling.xml");

        QCOMPARE(AttributesOf(r + "/.hidden.xml"), 34);
        QCOMPARE(AttributesOf(readOnly), 35);
        QCOMPARE(AttributesOf(r + "/.folder"), 18);
        QCOMPARE(AttributesOf(r + "/.folder/"), 18);
        QCOMPARE(AttributesOf(r), 16);
        QCOMPARE(AttributesOf(r + "/folderlink/"), 1040);
        QCOMPARE(AttributesOf(r + "/filelink.xml"), 1056);
        QCOMPARE(AttributesOf(r + "/dangling.xml"), 1024);
        QCOMPARE(AttributesOf(r + "/missing"), std::nullopt);
        QCOMPARE(AttributesOf(""), std::nullopt);

        // The hidden folder is walked; of the hidden files only the read-only one (35) is
        // added; the link to the hidden file is a reparse point (1056), not 34. The link to the
        // hidden folder is the same real folder and is not walked twice.
        Recorder services;
        const Scan s = scan(r, "*.xml", services);
        QCOMPARE(tree::relative(s.rows, r),
                 QStringList({".readonly.xml", "filelink.xml", ".folder/in.xml"}));
        QCOMPARE(tree::relative(s.folders.mid(1), r), QStringList({".folder/"}));
    }

    void descendTestComparesWholeValues() {
        const auto notRoot = [] { return false; };
        for (int entered : {16, 18, 20, 23, 1040})
            QVERIFY(EntersFolder(entered, notRoot));
        QVERIFY(!EntersFolder(22, notRoot) && !EntersFolder(1046, notRoot));
        QVERIFY(EntersFolder(22, [] { return true; }) && EntersFolder(1046, [] { return true; }));
        QVERIFY(IsFileSystemRoot("/") && IsFileSystemRoot("//"));
        QVERIFY(!IsFileSystemRoot(QDir::tempPath()));
    }

    void linkLoopsAddEveryFileOnce() {
        QTemporaryDir dir;
        const QString r = dir.path();
        tree::makeFile(r + "/top.xml");
        tree::makeFile(r + "/a/f.xml");
        tree::makeFile(r + "/a/b/g.xml");
        tree::makeLink(r, r + "/a/b/back");  // to an ancestor
        tree::makeLink("..", r + "/a/up");   // relative, to the parent
        tree::makeLink(r + "/a", r + "/z-sibling");
        tree::makeLink(".", r + "/self");
        Recorder services;
        const Scan s = scan(r, "*.xml", services);
        QCOMPARE(tree::relative(s.rows, r), QStringList({"top.xml", "a/f.xml", "a/b/g.xml"}));
        QCOMPARE(tree::relative(s.folders.mid(1), r), QStringList({"a/", "a/b/"}));

        // A link whose real folder lies outside the tree is walked like a folder.
        QTemporaryDir outside;
        tree::makeFile(outside.path() + "/o.xml");
        tree::makeLink(outside.path(), r + "/ext");
        QCOMPARE(tree::relative(scan(r, "*.xml", services).rows, r),
                 QStringList({"top.xml", "a/f.xml", "ext/o.xml", "a/b/g.xml"}));
    }

    void unusableFolderNamesAreToldAndNotWalkedNamesThatAreNoTextAre() {
        QTemporaryDir dir;
        const QString r = dir.path();
        for (const QString& folder :
             {QString("ctl\x01name"), QString("tab\tname"), QString("del\x7fname"),
              QString("c1\u0085name"), QString("what?"), QString("ünïcödé")})
            tree::makeFile(r + "/" + folder + "/in.xml");
        makeRaw(r, "bad\xff", true);
        makeRaw(r, "bad\xff/in.xml", false);
        makeRaw(r, "raw\xfe.xml", false);
        Recorder services;
        const Scan s = scan(r, "*.xml", services);
        // Names that are not text are beyond QTemporaryDir's clean-up.
        const QByteArray raw = QFile::encodeName(r);
        ::unlink(raw + "/raw\xfe.xml");
        ::unlink(raw + "/bad\xff/in.xml");
        ::rmdir(raw + "/bad\xff");
        // Bytes that are not text are kept: those names lead back to their files.
        QCOMPARE(tree::relative(s.rows, r),
                 QStringList({PathFromBytes("raw\xfe.xml"), PathFromBytes("bad\xff/in.xml"),
                              "ünïcödé/in.xml"}));
        QVERIFY(services.failures.isEmpty() && s.gatherFailures.isEmpty());
        QStringList leftOut;
        for (const auto& [folder, reason] : services.leftOut) {
            QCOMPARE(reason, LeftOutFolder::UnusableName);
            leftOut.append(folder);
        }
        QCOMPARE(tree::relative(leftOut, r), QStringList({"c1\u0085name/", "ctl\x01name/",
                                                          "del\x7fname/", "tab\tname/", "what?/"}));
    }

    void unusableCharacters_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("unusable");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("question mark") << "a?b" << true;
        QTest::newRow("31 and 32") << "a\x1f" << true;
        QTest::newRow("blank and tilde") << " ~" << false;
        QTest::newRow("127") << "\x7f" << true;
        QTest::newRow("159") << QString(QChar(0x9f)) << true;
        QTest::newRow("160 and accents") << QString(QChar(0xa0)) + "café" << false;
        QTest::newRow("beyond the first plane") << "\U0001F600" << false;
        QTest::newRow("lone surrogate") << QString(QChar(0xd800)) + "x" << true;
        QTest::newRow("kept byte") << PathFromBytes("caf\xe9") << false;
    }
    void unusableCharacters() {
        QFETCH(QString, name);
        QFETCH(bool, unusable);
        QCOMPARE(HasUnusableChars(name), unusable);
    }

    void foldersThatCannotBeListedAreRemovedWithoutABox() {
        QTemporaryDir dir;
        const QString r = dir.path();
        tree::makeFile(r + "/own.xml");
        tree::makeFile(r + "/a/a.xml");
        tree::makeFile(r + "/locked/inner/i.xml");
        tree::makeFile(r + "/z/z.xml");
        Recorder services;
        Scan sub;
        Scan chosen;
        {
            tree::UnlistableFolder locked(r + "/locked");
            if (!locked.effective())
                QSKIP("this process can list any folder");
            sub = scan(r, "*.xml", services);
            chosen = scan(r + "/locked", "*.xml", services);
        }
        // Its siblings are still walked.
        QCOMPARE(tree::relative(sub.folders.mid(1), r), QStringList({"a/", "z/"}));
        QCOMPARE(tree::relative(sub.rows, r), QStringList({"own.xml", "a/a.xml", "z/z.xml"}));
        // The chosen folder itself: nothing at all.
        QVERIFY(chosen.folders.isEmpty() && chosen.rows.isEmpty());
        QVERIFY(services.failures.isEmpty());
        QVERIFY(sub.gatherFailures.isEmpty() && chosen.gatherFailures.isEmpty());
    }

    // Pumps in this tree: 1 root opened, 2 "a" listed, 3 "a" opened, 4 "a" kept.
    void failurePaths_data() {
        QTest::addColumn<int>("failingPump");
        QTest::addColumn<int>("boxAtLine");  // 0: no box
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("before a folder is entered: box, go on")
            << 1 << 114 << QStringList{"own.xml", "a/a.xml"};
        QTest::newRow("while listing: no box, that folder ends")
            << 2 << 0 << QStringList{"own.xml"};
        QTest::newRow("a new level starts on the plain path")
            << 3 << 114 << QStringList{"own.xml", "a/a.xml"};
        QTest::newRow("while keeping folders: box, go on")
            << 4 << 156 << QStringList{"own.xml", "a/a.xml"};
    }
    void failurePaths() {
        QFETCH(int, failingPump);
        QFETCH(int, boxAtLine);
        QFETCH(QStringList, rows);
        QTemporaryDir dir;
        const QString r = dir.path();
        tree::makeFile(r + "/own.xml");
        tree::makeFile(r + "/a/a.xml");
        Recorder services;
        services.onPump = [&](int pump) -> bool {
            if (pump == failingPump)
                throw StepFailure("The event queue broke.");
            return true;
        };
        const Scan s = scan(r, "*.xml", services);
        QCOMPARE(tree::relative(s.rows, r), rows);
        QCOMPARE(s.folders.first(), r + "/");  // never removed: no listing failure
        if (boxAtLine == 0) {
            QVERIFY(services.failures.isEmpty());
            return;
        }
        QCOMPARE(services.failures.size(), 1);
        const auto& [text, location, number] = services.failures.first();
        QCOMPARE(text, "The event queue broke.");
        QCOMPARE(location, "in TernwickTitle2021/08/31.AddFolder.GetSubDirectories2016 ");
        QCOMPARE(number, boxAtLine);
    }

    void eventsRunPerFolderAndSubfolderAndTheWalkStopsWhenTold() {
        QTemporaryDir dir;
        const QString r = dir.path();
        tree::makeFile(r + "/sub1/deep/d.xml");
        tree::makeFile(r + "/sub2/s.xml");
        for (int i = 0; i < 50; ++i)
            tree::makeFile(r + QString("/sub2/f%1.xml").arg(i));
        Recorder services;
        FolderList folders{r + "/"};
        QVERIFY(GetSubDirectories2016(folders, true, services));
        // Four folders opened, three subfolders listed, three folders kept; none per file.
        QCOMPARE(services.pumps, 10);

        Recorder closing;
        closing.onPump = [](int pump) { return pump < 3; };
        FolderList stopped{r + "/"};
        QVERIFY(!GetSubDirectories2016(stopped, true, closing));
        QCOMPARE(closing.pumps, 3);  // nothing more after the window went away
        QCOMPARE(stopped, FolderList({r + "/"}));
    }

    void rootFolderGivesSingleSeparators() {
        // The file system's root, in a child process whose root is a small temporary tree.
        QTemporaryDir dir;
        tree::makeFile(dir.path() + "/top.xml");
        tree::makeFile(dir.path() + "/sub/inner.xml");
        int pipeEnds[2];
        QVERIFY(::pipe(pipeEnds) == 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::close(pipeEnds[0]);
            if (::chroot(QFile::encodeName(dir.path()).constData()) != 0 || ::chdir("/") != 0)
                ::_exit(77);
            struct Quiet final : WalkServices {
                bool pumpEvents() override { return true; }
                void reportFailure(const QString&, const QString&, int) override {}
            } services;
            FolderList folders{"/" + QString("/")};  // the chosen "/" and its separator
            GetSubDirectories2016(folders, true, services);
            QStringList rows;
            GatherFiles(
                folders, "*.xml", [&](const QStringList& r) { rows += r; }, [](int, QString) {});
            const QByteArray out = (folders.join('|') + "\n" + rows.join('|')).toUtf8();
            const bool written = ::write(pipeEnds[1], out.constData(), out.size()) == out.size();
            ::_exit(written ? 0 : 1);
        }
        ::close(pipeEnds[1]);
        QByteArray got;
        char buffer[512];
        for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
            got.append(buffer, n);
        ::close(pipeEnds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
            QSKIP("this process may not change its root folder");
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QCOMPARE(QString::fromUtf8(got), "//|//sub/\n/top.xml|/sub/inner.xml");
    }

    void gatheringReportsAFolderItCannotListAndGoesOn() {
        QTemporaryDir dir;
        const QString r = dir.path();
        tree::makeFile(r + "/b/b.xml");
        QStringList rows;
        QList<std::pair<int, QString>> failures;
        GatherFiles(
            {r + "/gone/", r + "/b/"}, "*.xml", [&](const QStringList& got) { rows += got; },
            [&](int number, const QString& text) {
                failures.append({number, text});
            });
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures.first().first, 120);
        QCOMPARE(failures.first().second, "No such file or directory: " + r + "/gone/");
        QCOMPARE(rows, QStringList({r + "/b/b.xml"}));
    }
};

QTEST_GUILESS_MAIN(TestFolderWalk)
#include "test_folderwalk.moc"
