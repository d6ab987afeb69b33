// The path and file routines.

#include "files/PathUtil.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

class TestPaths : public QObject {
    Q_OBJECT
private slots:
    void fileNameOf_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("expected");
        QTest::newRow("drive path") << R"(C:\data\a.xml)"
                                    << "\\"
                                    << "a.xml";
        QTest::newRow("bare name") << "a.xml"
                                   << "\\"
                                   << "a.xml";
        QTest::newRow("trailing separator") << R"(C:\data\)"
                                            << "\\"
                                            << "";
        QTest::newRow("empty") << ""
                               << "\\"
                               << "";
        QTest::newRow("share") << R"(\\server\share)"
                               << "\\"
                               << "share";
        QTest::newRow("unix path") << "/home/u/a.xml"
                                   << "/"
                                   << "a.xml";
        QTest::newRow("backslash is a name character on unix") << R"(a\b.xml)"
                                                               << "/"
                                                               << R"(a\b.xml)";
        QTest::newRow("percent signs kept") << "/t/%p %v.xml"
                                            << "/"
                                            << "%p %v.xml";
    }
    void fileNameOf() {
        QFETCH(QString, path);
        QFETCH(QString, separator);
        QFETCH(QString, expected);
        QCOMPARE(FileNameOf(path, separator.at(0)), expected);
    }

    void normalizePath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("expected");
        QTest::newRow("drive root join") << R"(C:\\a.xml)"
                                         << "\\"
                                         << R"(C:\a.xml)";
        QTest::newRow("three become two") << R"(C:\data\\\a.xml)"
                                          << "\\"
                                          << R"(C:\data\\a.xml)";
        QTest::newRow("four become two") << R"(C:\data\\\\a.xml)"
                                         << "\\"
                                         << R"(C:\data\\a.xml)";
        QTest::newRow("share keeps two") << R"(\\server\share\\a.xml)"
                                         << "\\"
                                         << R"(\\server\share\a.xml)";
        QTest::newRow("four leading") << R"(\\\\server\share)"
                                      << "\\"
                                      << R"(\\server\share)";
        QTest::newRow("one leading") << R"(\server\a.xml)"
                                     << "\\"
                                     << R"(\\server\a.xml)";
        QTest::newRow("only one backslash") << R"(\)"
                                            << "\\"
                                            << R"(\\)";
        QTest::newRow("only backslashes") << R"(\\\)"
                                          << "\\"
                                          << R"(\\)";
        QTest::newRow("empty") << ""
                               << "\\"
                               << "";
        QTest::newRow("unchanged") << R"(C:\data\a.xml)"
                                   << "\\"
                                   << R"(C:\data\a.xml)";
        QTest::newRow("unix root join") << "//a.xml"
                                        << "/"
                                        << "/a.xml";
        QTest::newRow("unix folder join") << "/home/u//a.xml"
                                          << "/"
                                          << "/home/u/a.xml";
        QTest::newRow("unix run of three") << "/a///b"
                                           << "/"
                                           << "/a//b";
        QTest::newRow("unix unchanged") << "/home/u/a.xml"
                                        << "/"
                                        << "/home/u/a.xml";
        QTest::newRow("relative") << "a//b"
                                  << "/"
                                  << "a/b";
    }
    void normalizePath() {
        QFETCH(QString, path);
        QFETCH(QString, separator);
        QFETCH(QString, expected);
        QCOMPARE(NormalizePath(path, separator.at(0)), expected);
    }

    void fileSystemTests() {
        QTemporaryDir dir;
        const QString file = dir.filePath("a.xml");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<a/>");
        f.close();
        const QString folder = dir.filePath("sub");
        QVERIFY(QDir().mkdir(folder));
        const QString missing = dir.filePath("missing.xml");

        QVERIFY(FileExists(file));
        QVERIFY(!FileExists(missing));
        QVERIFY(!FileExists(QString()));

        QVERIFY(IsDirectory(folder));
        QVERIFY(IsDirectory(folder + "/"));
        QVERIFY(!IsDirectory(file));
        QVERIFY(!IsDirectory(missing));
        QVERIFY(!IsDirectory(QString()));

        QVERIFY(IsOpenableFile(file));
        QVERIFY(!IsOpenableFile(folder));
        QVERIFY(!IsOpenableFile(missing));
        QVERIFY(!IsOpenableFile(QString()));

        // A link to a file is openable, a dangling link is not.
        QVERIFY(QFile::link(file, dir.filePath("link.xml")));
        QVERIFY(IsOpenableFile(dir.filePath("link.xml")));
        QVERIFY(QFile::link(missing, dir.filePath("dangling.xml")));
        QVERIFY(!IsOpenableFile(dir.filePath("dangling.xml")));
        QVERIFY(!FileExists(dir.filePath("dangling.xml")));
    }

    void specialFilesAreNeverOpenable() {
        QTemporaryDir dir;
        // A FIFO without a writer would block an ordinary open; it must answer at once.
        const QByteArray fifo = QFile::encodeName(dir.filePath("pipe.xml"));
        QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
        QVERIFY(FileExists(QString::fromUtf8(fifo)));
        QVERIFY(!IsOpenableFile(QString::fromUtf8(fifo)));
        QVERIFY(!IsOpenableFile("/dev/null"));
        QVERIFY(!IsOpenableFile("/dev/zero"));

        const QByteArray socketPath = QFile::encodeName(dir.filePath("s.xml"));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (socketPath.size() < static_cast<int>(sizeof(address.sun_path))) {
            std::memcpy(address.sun_path, socketPath.constData(), socketPath.size());
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
            QVERIFY(!IsOpenableFile(QString::fromUtf8(socketPath)));
        }
        ::close(fd);
    }

    void pathsOverTheLimitAreRefused() {
        QTemporaryDir dir;
        const QString longPath = dir.path() + "/" + QString(PathLengthLimit(), 'a');
        QVERIFY(!FileExists(longPath));
        QVERIFY(!IsDirectory(longPath));
        QVERIFY(!IsOpenableFile(longPath));
        QVERIFY(!FileExists(dir.path() + QChar(0) + "x"));
    }
};

QTEST_GUILESS_MAIN(TestPaths)
#include "test_paths.moc"
