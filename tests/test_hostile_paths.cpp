// Hostile paths and references through the real check: odd file names, paths at the length
// limit, files that vanish or change before they are checked, files of the kernel that report
// no size, and references to other machines, which must never be contacted.

#include "check/XmlCheck.h"
#include "files/PathUtil.h"
#include "tests/support/CoreTestEnv.h"
#include "tests/support/FolderTree.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

namespace {

const QByteArray kDtd = "<!ELEMENT a (b)>\n<!ELEMENT b EMPTY>\n";
const QByteArray kUsesDtd = "<?xml version=\"1.0\"?>\n<!DOCTYPE a SYSTEM \"rules.dtd\">\n";

// A TCP port on the loopback that counts every connection made to it. Each one is closed at
// once, so that a check that connected anyway ends quickly instead of waiting for a reply.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(fd_, 64) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            qFatal("cannot listen on the loopback interface");
        port_ = ntohs(address.sin_port);
        watcher_ = std::thread([this] {
            while (!stop_) {
                pollfd waiting{fd_, POLLIN, 0};
                if (::poll(&waiting, 1, 20) <= 0)
                    continue;
                const int peer = ::accept(fd_, nullptr, nullptr);
                if (peer >= 0) {
                    ++connections_;
                    ::close(peer);
                }
            }
        });
    }
    ~Listener() {
        stop_ = true;
        watcher_.join();
        ::close(fd_);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    QByteArray port() const { return QByteArray::number(port_); }
    QByteArray address() const { return "http://127.0.0.1:" + port(); }
    // The connections made so far, counted once the queue is drained (at most 200 ms).
    int connections() const {
        for (int i = 0; i < 10; ++i) {
            pollfd waiting{fd_, POLLIN, 0};
            if (::poll(&waiting, 1, 20) == 0)
                break;
        }
        return connections_;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<bool> stop_{false};
    std::thread watcher_;
};

}  // namespace

class TestHostilePaths : public QObject {
    Q_OBJECT
    Listener network;  // before the catalog that names it
    TestEnv env;
    std::mutex warningsLock;
    QStringList warnings;

private slots:
    void initTestCase() {
        // The catalog the checks read names remote catalogs beside local ones: a chained
        // catalog, and catalogs delegated to for public and system identifiers. It must be named
        // before checking is set up.
        const QByteArray remote = network.address();
        const QByteArray head =
            "<?xml version=\"1.0\"?>\n"
            "<catalog xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\">\n";
        env.write("catalog/rules.dtd", kDtd);
        env.write("catalog/catalog.xml",
                  head + "<public publicId=\"-//Brellix//DTD Here//EN\" uri=\"rules.dtd\"/>\n" +
                      "<delegatePublic publicIdStartString=\"-//Remote//\" catalog=\"" + remote +
                      "/delegate-public.xml\"/>\n"
                      "<delegateSystem systemIdStartString=\"" +
                      remote + "/\" catalog=\"" + remote + "/delegate-system.xml\"/>\n" +
                      "<nextCatalog catalog=\"" + remote + "/next-catalog.xml\"/>\n" +
                      "<nextCatalog catalog=\"next.xml\"/>\n</catalog>\n");
        env.write("catalog/next.xml",
                  head + "<public publicId=\"-//Brellix//DTD Next//EN\" uri=\"rules.dtd\"/>\n" +
                      "</catalog>\n");
        qputenv("XML_CATALOG_FILES", QFile::encodeName(env.path("catalog/catalog.xml")));
        SetXmlCheckWarningHandler([this](const QString& warning) {
            const std::lock_guard<std::mutex> hold(warningsLock);
            warnings.append(warning);
        });
        InitXmlChecking();
    }
    void cleanupTestCase() { SetXmlCheckWarningHandler(nullptr); }

    void oddFileNamesAreCheckedAndTheirReferencesResolve() {
        const QStringList names{"with blank.xml",    "per%41cent%.xml",     "hash#part.xml",
                                "question?.xml",     "star*.xml",           "new\nline.xml",
                                "-leading-dash.xml", "tab\tand ;&=+$,@.xml"};
        for (const QString& folder : {QStringLiteral("plain"), QStringLiteral("odd %23 #?* -x")}) {
            env.write(folder + "/rules.dtd", kDtd);
            for (const QString& name : names) {
                const QString good = env.write(folder + "/" + name, kUsesDtd + "<a><b/></a>\n");
                const CheckResult result = CheckXmlFile(good);
                QVERIFY2(result.loaded, qPrintable(good + ": " + ErrorReportText(result.error)));
                const QString bad = env.write(folder + "/bad " + name, kUsesDtd + "<a/>\n");
                const CheckResult invalid = CheckXmlFile(bad);
                QVERIFY(!invalid.loaded);
                QCOMPARE(invalid.error.errorCode, 504);  // the DTD was read and applied
                QCOMPARE(invalid.error.url, bad);
            }
        }
    }

    void namesThatAreNoTextAndPathsAtTheLengthLimit() {
        // A name whose bytes are not UTF-8 arrives as text with U+FFFD, which names nothing.
        const QByteArray raw = QFile::encodeName(env.path("caf")) + "\xe9.xml";
        QVERIFY(::close(::open(raw.constData(), O_WRONLY | O_CREAT, 0644)) == 0);
        const QString decoded = QFile::decodeName(raw);
        const CheckResult lost = CheckXmlFile(decoded);
        ::unlink(raw.constData());  // the temporary folder's clean-up could not name it
        QVERIFY(!lost.loaded);
        QCOMPARE(lost.error.errorCode, 1549);
        QVERIFY(lost.error.reason.contains("No such file or directory"));
        QCOMPARE(lost.error.url, decoded);

        // The longest path the system takes: its folders made one by one.
        const int limit = PathLengthLimit() - 1;
        QString folder = env.path("long");
        QVERIFY(QDir().mkdir(folder));
        while (QFile::encodeName(folder).size() + 1 + 255 + 1 < limit) {
            folder += "/" + QString(200, QLatin1Char('d'));
            QVERIFY(QDir().mkdir(folder));
        }
        const int room = limit - static_cast<int>(QFile::encodeName(folder).size()) - 1;
        const QString name = QString(room - 4, QLatin1Char('n')) + ".xml";
        const QString atLimit = folder + "/" + name;
        QCOMPARE(QFile::encodeName(atLimit).size(), limit);
        QFile out(atLimit);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("<a>at the limit</a>");
        out.close();
        QVERIFY(CheckXmlFile(atLimit).loaded);
        const CheckResult over = CheckXmlFile(atLimit + "x/more.xml");
        QVERIFY(!over.loaded);
        QCOMPARE(over.failedStep, 0);
        QVERIFY2(over.error.reason.contains("too long"), qPrintable(over.error.reason));
    }

    void filesThatChangeBeforeTheirCheck() {
        const QString gone = env.write("gone.xml", "<a/>");
        QVERIFY(QFile::remove(gone));
        const CheckResult missing = CheckXmlFile(gone);
        QVERIFY(!missing.loaded);
        QVERIFY(missing.error.reason.contains("No such file or directory"));

        const QString piped = env.write("piped.xml", "<a/>");
        QVERIFY(QFile::remove(piped));
        QCOMPARE(::mkfifo(QFile::encodeName(piped).constData(), 0600), 0);
        const CheckResult pipe = CheckXmlFile(piped);  // at once: nobody writes to it
        QVERIFY(!pipe.loaded);
        QVERIFY(pipe.error.reason.contains("FIFO"));

        const QString locked = env.write("locked.xml", "<a/>");
        tree::UnlistableFolder unreadable(locked);  // no permission, and root gives up its own
        const int probe = ::open(QFile::encodeName(locked).constData(), O_RDONLY);
        if (probe >= 0) {
            ::close(probe);
            QSKIP("this process can read any file");
        }
        const CheckResult denied = CheckXmlFile(locked);
        QVERIFY(!denied.loaded);
        QVERIFY2(denied.error.reason.contains("Permission denied"),
                 qPrintable(denied.error.reason));
    }

    void kernelFilesWithoutSizeAreReadToTheirEnd() {
        const QString status = QStringLiteral("/proc/self/status");
        struct stat info {};
        if (::stat(QFile::encodeName(status).constData(), &info) != 0)
            QSKIP("no /proc here");
        QCOMPARE(info.st_size, 0);
        const CheckResult result = CheckXmlFile(status);
        QVERIFY(!result.loaded);
        QCOMPARE(result.error.errorCode, 4);
        QVERIFY2(result.error.srcText.startsWith("Name:"), qPrintable(result.error.srcText));
        // One that refuses reading says so; it is not taken for an empty document.
        const CheckResult memory = CheckXmlFile(QStringLiteral("/proc/self/mem"));
        QVERIFY(!memory.loaded);
        QCOMPARE(memory.error.errorCode, 1549);
        QVERIFY2(
            memory.error.reason.startsWith("failed to read \"/proc/self/mem\" after 0 bytes: "),
            qPrintable(memory.error.reason));
        // As an external entity its text is read the same way: here it is text where the DTD
        // allows none.
        const CheckResult entity =
            CheckXmlFile(env.write("proc.xml",
                                   "<!DOCTYPE a [<!ELEMENT a EMPTY><!ENTITY e SYSTEM "
                                   "\"/proc/self/status\">]>\n<a>&e;</a>"));
        QVERIFY(!entity.loaded);
        QVERIFY2(entity.error.reason.contains("declared EMPTY"), qPrintable(entity.error.reason));
    }

    void remoteCatalogsAreSkippedWithAWarning() {
        const QByteArray local = kUsesDtd + "<a><b/></a>\n";
        const QByteArray fromCatalog =
            "<!DOCTYPE a PUBLIC \"-//Brellix//DTD Here//EN\" \"nowhere.dtd\"><a><b/></a>\n";
        const QByteArray fromNext =
            "<!DOCTYPE a PUBLIC \"-//Brellix//DTD Next//EN\" \"nowhere.dtd\"><a><b/></a>\n";
        env.write("cat/rules.dtd", kDtd);
        for (const QByteArray& doc : {local, fromCatalog, fromNext}) {
            const CheckResult result = CheckXmlFile(env.write("cat/doc.xml", doc));
            QVERIFY2(result.loaded, qPrintable(ErrorReportText(result.error)));
        }
        // Delegated to a remote catalog only: there is no local copy.
        const CheckResult delegated = CheckXmlFile(
            env.write("cat/delegated.xml", "<!DOCTYPE a PUBLIC \"-//Remote//DTD A//EN\" \"" +
                                               network.address() + "/a.dtd\"><a/>"));
        QVERIFY(!delegated.loaded);
        QCOMPARE(delegated.error.errorCode, 1543);
        const CheckResult delegatedPublic = CheckXmlFile(env.write(
            "cat/public.xml", "<!DOCTYPE a PUBLIC \"-//Remote//DTD B//EN\" \"nowhere.dtd\"><a/>"));
        QVERIFY(!delegatedPublic.loaded);
        QVERIFY2(delegatedPublic.error.reason.contains("nowhere.dtd\": No such file"),
                 qPrintable(delegatedPublic.error.reason));
        QCOMPARE(network.connections(), 0);

        const std::lock_guard<std::mutex> hold(warningsLock);
        const QString next = QString::fromLatin1(network.address() + "/next-catalog.xml");
        QCOMPARE(warnings.count("skipped the XML catalog \"" + next +
                                "\": catalogs are read from local files only, never from the "
                                "network"),
                 1);
        for (const char* name : {"/delegate-public.xml", "/delegate-system.xml"})
            QVERIFY2(warnings.filter(QString::fromLatin1(network.address() + name)).size() == 1,
                     qPrintable(warnings.join('\n')));
    }

    void anEscapedNulNeverCutsAReference() {
        // Cut at the NUL, each would name ok.ent, which exists and is fine.
        env.write("nul/ok.ent", "<!ELEMENT a EMPTY>");
        const QByteArray refused[] = {
            "<!DOCTYPE a [<!ENTITY % p SYSTEM \"ok.ent%00/../x.ent\"> %p;]><a/>",
            "<!DOCTYPE a [<!ELEMENT a ANY><!ENTITY e SYSTEM \"ok.ent%00.txt\">]><a>&e;</a>",
            "<!DOCTYPE a SYSTEM \"file:" + QFile::encodeName(env.path("nul/ok.ent")) + "%00\"><a/>",
        };
        for (const QByteArray& doc : refused) {
            const CheckResult result = CheckXmlFile(env.write("nul/doc.xml", doc));
            QVERIFY2(!result.loaded, doc.constData());
            QCOMPARE(result.error.errorCode, 1549);
            QVERIFY2(result.error.reason.contains("holds an escaped NUL character (%00)"),
                     qPrintable(result.error.reason));
            QCOMPARE(result.error.url, env.path("nul/doc.xml"));
        }
        // An unparsed entity is never read, and "%2500" is a plain percent sign and two zeros.
        QVERIFY(CheckXmlFile(env.write("nul/unparsed.xml",
                                       "<!DOCTYPE a [<!ELEMENT a EMPTY><!NOTATION n SYSTEM \"n\">"
                                       "<!ENTITY u SYSTEM \"u%00.gif\" NDATA n>]><a/>"))
                    .loaded);
        env.write("nul/ok.ent%00", "<!ELEMENT a EMPTY>");
        QVERIFY(
            CheckXmlFile(env.write("nul/percent.xml", "<!DOCTYPE a SYSTEM \"ok.ent%2500\"><a/>"))
                .loaded);
    }

    void noReferenceEverReachesTheNetwork() {
        const QByteArray at = "127.0.0.1:" + network.port();
        const QByteArray refused[] = {
            "<!DOCTYPE a SYSTEM \"http://" + at + "/a.dtd\"><a/>",
            "<!DOCTYPE a PUBLIC \"-//Nobody//DTD A//EN\" \"https://" + at + "/a.dtd\"><a/>",
            "<!DOCTYPE a [<!ENTITY e SYSTEM \"http://" + at + "/e.ent\">]><a>&e;</a>",
            "<!DOCTYPE a [<!ENTITY % p SYSTEM \"ftp://" + at + "/p.ent\"> %p;]><a/>",
            "<!DOCTYPE a SYSTEM \"//" + at + "/a.dtd\"><a/>",
            "<!DOCTYPE a SYSTEM \"file://" + at + "/a.dtd\"><a/>",
        };
        for (const QByteArray& doc : refused) {
            const CheckResult result = CheckXmlFile(env.write("net.xml", doc));
            QVERIFY2(!result.loaded, doc.constData());
            QCOMPARE(result.error.errorCode, 1543);
            QVERIFY2(result.error.reason.contains("nothing is loaded from the network"),
                     qPrintable(result.error.reason));
        }
        // Addresses that a DOM load does not follow at all stay unread, and the file is valid.
        const QByteArray ignored[] = {
            "<?xml-stylesheet href=\"http://" + at + "/s.xsl\"?><a/>",
            "<a xmlns:xi=\"http://www.w3.org/2001/XInclude\"><xi:include href=\"http://" + at +
                "/i.xml\"/></a>",
            "<a xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xsi:noNamespaceSchemaLocation=\"http://" +
                at + "/a.xsd\"/>",
        };
        for (const QByteArray& doc : ignored)
            QVERIFY2(CheckXmlFile(env.write("net.xml", doc)).loaded, doc.constData());
        QCOMPARE(network.connections(), 0);
    }
};

QTEST_MAIN(TestHostilePaths)
#include "test_hostile_paths.moc"
