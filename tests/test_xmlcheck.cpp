// Checking single files on disk: verdicts, the report's fields, and the report text.

#include "check/XmlCheck.h"
#include "parse/EncodingDeclaration.h"
#include "parse/InputFile.h"
#include "parse/Libxml.h"
#include "parse/ParserMemory.h"
#include "parse/XmlErrorCapture.h"
#include "running/WorkerPool.h"
#include "schemas/SchemaCheck.h"
#include "tests/support/CoreTestEnv.h"
#include "tests/support/GeneratedDocuments.h"
#include "tests/support/LibxmlRelease.h"

#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <QDir>
#include <QProcess>
#include <QTest>

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <future>
#include <tuple>

namespace {

// libxml2's code for a reference to an unknown ID (XML_DTD_UNKNOWN_ID).
constexpr int XmlUnknownIdCode = 536;

const QByteArray kExternalDtd = "<!ELEMENT a (b)>\n<!ELEMENT b EMPTY>\n";

// The content packed by a compressor on the path ("gzip", "xz"); empty when it is missing.
QByteArray packed(const char* program, const QByteArray& data) {
    QProcess p;
    p.start(QString::fromLatin1(program), {QStringLiteral("-c")});
    if (!p.waitForStarted())
        return {};
    p.write(data);
    p.closeWriteChannel();
    p.waitForFinished();
    return p.readAllStandardOutput();
}

QByteArray utf16WithBom(const QString& text) {
    QByteArray bytes("\xff\xfe", 2);
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xff));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

QByteArray nested(int depth) {
    return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
}

QString schemaFile(const QString& name) {
    return QStringLiteral(BRELLIX_SOURCE_DIR "/tests/schemas/") + name;
}

// The options of this thread's checks below, set as a run sets them for the checks of its
// workers.
thread_local XmlCheckOptions tOptions;

CheckResult checkFile(const QString& path) {
    return CheckXmlFile(path, tOptions);
}
CheckResult checkBytes(QByteArrayView bytes, const QString& path) {
    return CheckXmlBytes(bytes, path, tOptions);
}
void useSchema(std::shared_ptr<const SchemaSet> set) {
    tOptions.schemas = std::move(set);
}
void keepErrors(int count) {
    tOptions.errorsKept = count;
}
void freeSubtrees(bool freed, int every = 0) {
    tOptions.freeFinishedSubtrees = freed;
    tOptions.foldEvery = every;
}

// Sets the schema for checks on this thread while it lives.
struct SchemaForThisThread {
    explicit SchemaForThisThread(std::shared_ptr<const SchemaSet> set) {
        useSchema(std::move(set));
    }
    ~SchemaForThisThread() { useSchema(nullptr); }
};

QByteArray billionLaughs() {
    QByteArray dtd = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i <= 10; ++i)
        dtd += "<!ENTITY lol" + QByteArray::number(i) + " \"" +
               ("&lol" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
    return dtd + "]>\n<lolz>&lol10;</lolz>\n";
}

}  // namespace

class TestXmlCheck : public QObject {
    Q_OBJECT
    TestEnv env;

private slots:
    void initTestCase() {
        // A catalog of our own maps a web address to a local copy; it is read when checking
        // is set up, so it must be named first.
        env.write("catalogued.dtd", kExternalDtd);
        env.write("catalog.xml",
                  "<?xml version=\"1.0\"?>\n<catalog "
                  "xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\">\n"
                  "<public publicId=\"-//Brellix//DTD Test//EN\" uri=\"file://" +
                      QFile::encodeName(env.path("catalogued.dtd")) +
                      "\"/>\n<uri name=\"http://schemas.example.com/catalogued/note.xsd\" "
                      "uri=\"file://" +
                      QFile::encodeName(schemaFile("note.xsd")) + "\"/>\n</catalog>\n");
        qputenv("XML_CATALOG_FILES", QFile::encodeName(env.path("catalog.xml")));
        InitXmlChecking();
        InitXmlChecking();  // a second call changes nothing
    }

    void verdictsOfWellFormedAndBrokenDocuments_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<int>("code");
        QTest::newRow("well-formed") << QByteArray("<a><b x='1'/>text</a>") << true << 0;
        QTest::newRow("mismatched tag") << QByteArray("<a><b></a>") << false << 76;
        QTest::newRow("empty file") << QByteArray() << false << 4;
        QTest::newRow("undeclared prefix") << QByteArray("<a><x:b/></a>") << false << 201;
        QTest::newRow("declared prefix")
            << QByteArray("<a xmlns:x='urn:x'><x:b/></a>") << true << 0;
        QTest::newRow("internal DTD, valid")
            << QByteArray("<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b EMPTY>]><a><b/></a>") << true
            << 0;
        QTest::newRow("internal DTD, invalid")
            << QByteArray("<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b EMPTY>]><a><c/></a>") << false
            << 534;
        QTest::newRow("doctype without declarations")
            << QByteArray("<!DOCTYPE a><a/>") << false << 522;
        QTest::newRow("Latin-1 declared")
            << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xe9</a>") << true << 0;
        // 2.15 reports bytes that are not UTF-8 as an encoding error, and stops an entity bomb
        // by its amplification, 2.9.14 as a loop.
        QTest::newRow("bytes not UTF-8")
            << QByteArray("<a>caf\xe9</a>") << false << ByRelease(9, 81);
        QTest::newRow("entity bomb") << billionLaughs() << false << ByRelease(89, 114);
        QTest::newRow("as deep as the parser allows")
            << nested(libxml::MaxElementDepth()) << true << 0;
    }
    void verdictsOfWellFormedAndBrokenDocuments() {
        QFETCH(QByteArray, content);
        QFETCH(bool, loaded);
        QFETCH(int, code);
        const QString file = env.write("verdict.xml", content);
        const CheckResult result = checkFile(file);
        QCOMPARE(result.loaded, loaded);
        QCOMPARE(result.failedStep, 0);
        if (!loaded) {
            QCOMPARE(result.error.errorCode, code);
            QVERIFY(result.error.reason.endsWith("\r\n"));
            QCOMPARE(result.error.url, file);
        } else {
            QCOMPARE(result.error, ParseErrorReport{});
        }
    }

    void compressedDocumentsAreNotXml() {
        // libxml2 would unpack these by itself; the file's bytes are what counts.
        for (const char* program : {"gzip", "xz"}) {
            const QByteArray bytes = packed(program, "<?xml version='1.0'?><a/>");
            if (bytes.isEmpty())
                QSKIP("compressor missing");
            const CheckResult result = checkFile(env.write("packed.xml", bytes));
            QVERIFY(!result.loaded);
            QCOMPARE(result.error.errorCode, 4);
        }
    }

    void deepButNotEndlessNesting() {
        // Deeper than the nesting limit is refused with a report, not a crash.
        const CheckResult result = checkFile(env.write("deeper.xml", nested(100010)));
        QVERIFY(!result.loaded);
        QVERIFY2(result.error.reason.contains("depth"), qPrintable(result.error.reason));
        QVERIFY(result.error.srcText.size() <= 2001);  // the line around the error, not all of it
    }

    void quadraticEntityExpansionIsRefused() {
        const QByteArray big = "x";
        const QByteArray doc = "<!DOCTYPE q [<!ENTITY big \"" + big.repeated(100000) +
                               "\">]>\n<q>" + QByteArray("&big;").repeated(100000) + "</q>\n";
        const CheckResult result = checkFile(env.write("quadratic.xml", doc));
        QVERIFY(!result.loaded);
        QCOMPARE(result.error.errorCode, ByRelease(89, 114));
    }

    void utf16WithByteOrderMark() {
        const QString good =
            QString::fromUtf8("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<a>\u00e9\u4e2d</a>\n");
        QVERIFY(checkFile(env.write("utf16.xml", utf16WithBom(good))).loaded);

        const QString bad =
            QString::fromUtf8("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<a>\u00e9\u4e2d</b>\n");
        const CheckResult result = checkFile(env.write("utf16bad.xml", utf16WithBom(bad)));
        QVERIFY(!result.loaded);
        QCOMPARE(result.error.line, 2);
        QCOMPARE(result.error.linepos, 10);
        // The source line is decoded; the position counts the file's own bytes.
        QCOMPARE(result.error.srcText, QString::fromUtf8("<a>\u00e9\u4e2d</b>"));
        QCOMPARE(result.error.filepos, 100);
    }

    void exactReportOfAMismatchedTag() {
        const QString file = env.write(
            "exact.xml", "<?xml version=\"1.0\"?>\n<root>\n  <item>one</itemx>\n</root>\n");
        const CheckResult result = checkFile(file);
        QVERIFY(!result.loaded);
        const QString expected =
            "Your XML Document failed to loaddue the following error.\r\n"
            "Error #: 76: Opening and ending tag mismatch: item line 3 and itemx\r\n"
            "Line #: 3\r\n"
            "Line Position: 20\r\n"
            "Position In File: 48\r\n"
            "Source Text:   <item>one</itemx>\r\n"
            "Document URL: " +
            file;
        QCOMPARE(ErrorReportText(result.error), expected);
    }

    void reportTextKeepsEveryLabel() {
        ParseErrorReport report;
        report.errorCode = -2146697210;
        report.reason = "The system cannot locate the object specified.\r\n";
        report.line = -1;
        const QString text = ErrorReportText(report);
        QVERIFY(
            text.contains("\r\nError #: -2146697210: The system cannot locate the object "
                          "specified.\r\nLine #: -1\r\n"));
        QVERIFY(text.contains("\r\nSource Text: \r\nDocument URL: "));
        QVERIFY(text.endsWith("Document URL: "));
        QVERIFY(text.startsWith("Your XML Document failed to loaddue the following error.\r\n"));
    }

    void externalDtdIsLoadedAndEnforced() {
        env.write("dtd/ext.dtd", kExternalDtd);
        const QByteArray head = "<?xml version=\"1.0\"?>\n<!DOCTYPE a SYSTEM \"ext.dtd\">\n";
        QVERIFY(checkFile(env.write("dtd/good.xml", head + "<a><b/></a>\n")).loaded);
        const CheckResult invalid = checkFile(env.write("dtd/bad.xml", head + "<a><b/><b/></a>\n"));
        QVERIFY(!invalid.loaded);
        QCOMPARE(invalid.error.errorCode, 504);
        QCOMPARE(invalid.error.line, 3);

        // Blanks and URI characters in the folder name: the DTD still resolves beside the file.
        env.write("odd dir %41#/ext.dtd", kExternalDtd);
        const CheckResult oddGood =
            checkFile(env.write("odd dir %41#/good.xml", head + "<a><b/></a>\n"));
        QVERIFY2(oddGood.loaded, qPrintable(ErrorReportText(oddGood.error)));
        const CheckResult odd = checkFile(env.write("odd dir %41#/bad.xml", head + "<a/>\n"));
        QVERIFY(!odd.loaded);
        QCOMPARE(odd.error.url, env.path("odd dir %41#/bad.xml"));

        // System identifiers that are plain file names with a blank or a letter beyond ASCII.
        env.write(QString::fromUtf8("names/m\u00fc dtd.dtd"), kExternalDtd);
        env.write("names/my part.ent", "<b/>");
        QVERIFY(checkFile(env.write("names/plain.xml",
                                    "<!DOCTYPE a SYSTEM \"m\xc3\xbc dtd.dtd\" [<!ENTITY e "
                                    "SYSTEM \"my part.ent\">]>\n<a>&e;</a>\n"))
                    .loaded);
    }

    // Blanks between elements make no text when nothing validates them, but where a DTD
    // applies they count: a standalone document may not have blanks in element content that
    // is declared outside it, nor an EMPTY element any content at all.
    // Also with a schema in the same parse: its handlers must not take the blanks from the DTD.
    void blanksCountWhereValidationSeesThem() {
        env.write("blanks/ext.dtd", kExternalDtd);
        const QString xsd = env.write(
            "blanks/ab.xsd",
            "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:element name='a'>"
            "<xs:complexType><xs:sequence><xs:element name='b'><xs:complexType/></xs:element>"
            "</xs:sequence></xs:complexType></xs:element></xs:schema>");
        const QString rng =
            env.write("blanks/ab.rng",
                      "<element name='a' xmlns='http://relaxng.org/ns/structure/1.0'>"
                      "<element name='b'><empty/></element></element>");
        const std::shared_ptr<const SchemaSet> schemas[] = {
            nullptr, SchemaSet::compile(SchemaLanguage::XmlSchema, xsd, nullptr),
            SchemaSet::compile(SchemaLanguage::RelaxNg, rng, nullptr)};
        for (const auto& schema : schemas) {
            SchemaForThisThread use(schema);
            const QByteArray body = "<a>\n  <b/>\n</a>\n";
            const QByteArray doctype = "<!DOCTYPE a SYSTEM \"ext.dtd\">\n";
            QVERIFY(checkFile(env.write("blanks/plain.xml", "<?xml version=\"1.0\"?>\n" + body))
                        .loaded);
            QVERIFY(checkFile(env.write("blanks/valid.xml", doctype + body)).loaded);
            const CheckResult standalone = checkFile(
                env.write("blanks/standalone.xml",
                          "<?xml version=\"1.0\" standalone=\"yes\"?>\n" + doctype + body));
            QVERIFY(!standalone.loaded);
            QCOMPARE(standalone.error.errorCode, 532);
            QVERIFY2(standalone.error.reason.contains("white spaces"),
                     qPrintable(standalone.error.reason));
            const CheckResult empty =
                checkFile(env.write("blanks/empty.xml", doctype + "<a>\n  <b> </b>\n</a>\n"));
            QVERIFY(!empty.loaded);
            QCOMPARE(empty.error.line, 3);
            QVERIFY(empty.error.reason.contains("EMPTY"));  // the DTD's error, not the schema's
        }
    }

    void unavailableDtdFailsAndSaysWhy() {
        const CheckResult missing = checkFile(
            env.write("missingdtd.xml",
                      "<?xml version=\"1.0\"?>\n<!DOCTYPE a SYSTEM \"nothere.dtd\">\n<a/>\n"));
        QVERIFY(!missing.loaded);
        QCOMPARE(missing.error.errorCode, 1549);
        QVERIFY2(missing.error.reason.contains("nothere.dtd") &&
                     missing.error.reason.contains("No such file or directory"),
                 qPrintable(missing.error.reason));
        QCOMPARE(missing.error.line, 2);

        const CheckResult web = checkFile(env.write(
            "webdtd.xml",
            "<!DOCTYPE a PUBLIC \"-//Nobody//DTD X//EN\" \"http://127.0.0.1:9/x.dtd\">\n<a/>\n"));
        QVERIFY(!web.loaded);
        QCOMPARE(web.error.errorCode, 1543);
        QVERIFY2(web.error.reason.contains("network"), qPrintable(web.error.reason));
    }

    void catalogSuppliesALocalCopy() {
        const QByteArray head =
            "<!DOCTYPE a PUBLIC \"-//Brellix//DTD Test//EN\" "
            "\"http://127.0.0.1:9/catalogued.dtd\">\n";
        QVERIFY(checkFile(env.write("catalogued-good.xml", head + "<a><b/></a>")).loaded);
        const CheckResult bad = checkFile(env.write("catalogued-bad.xml", head + "<a><c/></a>"));
        QVERIFY(!bad.loaded);
        QCOMPARE(bad.error.errorCode, 534);
    }

    void externalParsedEntitiesAreReadAndChecked() {
        const QByteArray head =
            "<!DOCTYPE a [<!ELEMENT a ANY><!ELEMENT b EMPTY>"
            "<!ENTITY e SYSTEM \"part.ent\">]>\n";
        env.write("ent/part.ent", "<b/><b/>");
        QVERIFY(checkFile(env.write("ent/good.xml", head + "<a>&e;</a>")).loaded);
        env.write("ent2/part.ent", "<b></c>");
        QVERIFY(!checkFile(env.write("ent2/broken.xml", head + "<a>&e;</a>")).loaded);

        const CheckResult missing = checkFile(env.write("ent3/missing.xml", head + "<a>&e;</a>"));
        QVERIFY(!missing.loaded);
        QCOMPARE(missing.error.errorCode, 1549);
        QCOMPARE(missing.error.url, env.path("ent3/missing.xml"));
        QCOMPARE(missing.error.srcText, "<a>&e;</a>");

        QDir().mkpath(env.path("ent4"));
        QCOMPARE(::mkfifo(QFile::encodeName(env.path("ent4/part.ent")).constData(), 0600), 0);
        const CheckResult fifo = checkFile(env.write("ent4/fifo.xml", head + "<a>&e;</a>"));
        QVERIFY(!fifo.loaded);
        QVERIFY2(fifo.error.reason.contains("FIFO"), qPrintable(fifo.error.reason));
    }

    // A file's start is read ahead for the encoding test and handed to the parser from there:
    // no byte may be lost or doubled where the read-ahead ends, whatever the file's size.
    void fileGivesTheSameVerdictAsItsBytes() {
        for (const int size : {0, 1, 7, 511, 512, 513, 4000, 4096, 65535, 65536, 65537, 300000}) {
            for (const bool broken : {false, true}) {
                QByteArray bytes;
                if (size >= 7) {
                    bytes = "<r>" + QByteArray(size - 7, 'x') + "</r>";
                    // Numbered characters show a lost or doubled chunk in the position too.
                    for (qsizetype i = 3; i + 1 < size - 4; i += 97)
                        bytes[i] = '\n';
                    if (broken)
                        bytes[size - 2] = 'q';
                } else {
                    bytes = QByteArray(size, '<');
                }
                const QString name = QStringLiteral("sizes/%1-%2.xml").arg(size).arg(broken);
                const CheckResult fromFile = checkFile(env.write(name, bytes));
                const CheckResult fromBytes = checkBytes(bytes, env.path(name));
                const QByteArray what = name.toUtf8();
                QVERIFY2(fromFile.loaded == (size >= 7 && !broken), what.constData());
                QCOMPARE(fromFile.loaded, fromBytes.loaded);
                QCOMPARE(fromFile.error.errorCode, fromBytes.error.errorCode);
                QCOMPARE(fromFile.error.line, fromBytes.error.line);
                QCOMPARE(fromFile.error.linepos, fromBytes.error.linepos);
                QCOMPARE(fromFile.error.filepos, fromBytes.error.filepos);
                QCOMPARE(fromFile.error.reason, fromBytes.error.reason);
            }
        }
        // A file that grows after it was opened is read to its new end, not to the size it
        // had when opened.
        const QString growing = env.write("sizes/growing.xml", "<r>");
        InputFile file;
        QVERIFY(file.open(QFile::encodeName(growing)));
        QFile more(growing);
        QVERIFY(more.open(QIODevice::Append));
        more.write("text</r>");
        more.close();
        QCOMPARE(file.head(kEncodingHeadSize), "<r>text</r>");
        QByteArray read;
        char piece[4];
        for (long long n; (n = file.read(piece, sizeof piece)) > 0;)
            read.append(piece, n);
        QCOMPARE(read, "<r>text</r>");
    }

    void filesThatCannotBeReadAreInvalidAtOnce() {
        QCOMPARE(::mkfifo(QFile::encodeName(env.path("pipe.xml")).constData(), 0600), 0);
        const QByteArray socketPath = QFile::encodeName(env.path("sock.xml"));
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path);
        QCOMPARE(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

        const struct {
            QString path;
            const char* why;
        } cases[] = {
            {env.path("nothing-here.xml"), "No such file or directory"},
            {env.path("pipe.xml"), "FIFO"},
            {env.path("sock.xml"), "socket"},
            {QStringLiteral("/dev/zero"), "device"},
            {env.dir.path(), "folder"},
            {QString(), "empty"},
        };
        for (const auto& c : cases) {
            const CheckResult result = checkFile(c.path);
            QVERIFY(!result.loaded);
            QCOMPARE(result.failedStep, 0);
            QCOMPARE(result.error.errorCode, 1549);
            QVERIFY2(result.error.reason.contains(c.why), qPrintable(result.error.reason));
            QCOMPARE(result.error.url, c.path);
            QCOMPARE(result.error.line, 0);
        }
        ::close(s);
    }

    void unreadableFile() {
        if (::geteuid() == 0)
            QSKIP("root may read any file");
        const QString file = env.write("secret.xml", "<a/>");
        QFile::setPermissions(file, {});
        const CheckResult result = checkFile(file);
        QVERIFY(!result.loaded);
        QVERIFY(result.error.reason.contains("Permission denied"));
    }

    void freedSubtreesChangeNoReport() {
        // Freeing each finished part of the tree as the parse goes must give the verdict, the
        // first error and every later one exactly as a check that keeps the whole tree. The
        // content of an element whose children were freed is checked apart from the
        // validator, so every kind of content model, error and report text is tried here.
        keepErrors(1000000);
        GeneratedDocuments documents(7);
        int invalid = 0;
        // BRELLIX_COMPARED_DOCUMENTS asks for a longer run than the usual 600.
        const int count = std::max(600, qEnvironmentVariableIntValue("BRELLIX_COMPARED_DOCUMENTS"));
        for (int i = 0; i < count; ++i) {
            const QByteArray doc = documents.next();
            env.write("gen/ext.dtd", documents.externalSubset());
            const QString file = env.write("gen/doc.xml", doc);
            freeSubtrees(false);
            const CheckResult whole = checkFile(file);
            // Freed at every end of an element, or every few, for the most varied states.
            freeSubtrees(true, 1 + i % 3);
            const CheckResult freed = checkFile(file);
            // The first error that differs, for the message. The references to unknown IDs
            // come last, in the order of libxml2's hash table, which is seeded at random: they
            // are compared as a set.
            const auto allErrors = [](const CheckResult& r) {
                std::vector<ParseErrorReport> all;
                if (!r.loaded)
                    all.push_back(r.error);
                all.insert(all.end(), r.laterErrors.begin(), r.laterErrors.end());
                auto tail = all.end();
                while (tail != all.begin() && (tail - 1)->errorCode == XmlUnknownIdCode)
                    --tail;
                std::sort(tail, all.end(), [](const auto& a, const auto& b) {
                    return std::tie(a.line, a.reason) < std::tie(b.line, b.reason);
                });
                return all;
            };
            const auto describe = [](const ParseErrorReport& r) {
                return QStringLiteral("%1 line %2:%3 at %4: %5")
                    .arg(r.errorCode)
                    .arg(r.line)
                    .arg(r.linepos)
                    .arg(r.filepos)
                    .arg(r.reason.trimmed());
            };
            std::vector<ParseErrorReport> expected = allErrors(whole);
            std::vector<ParseErrorReport> got = allErrors(freed);
            // libxml2 2.13 and later report at most a hundred errors: which of the unknown IDs
            // get in then depends on the hash order, and only their number is compared.
            if (expected.size() >= 100 && got.size() == expected.size())
                for (auto* all : {&expected, &got})
                    while (!all->empty() && all->back().errorCode == XmlUnknownIdCode)
                        all->pop_back();
            QString differs;
            for (std::size_t k = 0; differs.isEmpty() && k < expected.size(); ++k)
                if (k >= got.size() || got[k] != expected[k])
                    differs = QStringLiteral("error %1: ").arg(k) + describe(expected[k]) + " / " +
                              (k < got.size() ? describe(got[k]) : QStringLiteral("none"));
            if (differs.isEmpty() && got.size() != expected.size())
                differs = QStringLiteral("%1 errors / %2").arg(expected.size()).arg(got.size());
            QVERIFY2(freed.loaded == whole.loaded && differs.isEmpty(),
                     qPrintable(QStringLiteral("document %1: %2\n%3")
                                    .arg(i)
                                    .arg(differs, QString::fromUtf8(doc))));
            invalid += whole.loaded ? 0 : 1;
        }
        keepErrors(1);
        freeSubtrees(true);
        qInfo("%d documents, %d invalid, the same with and without freeing", count, invalid);
        QVERIFY2(invalid > count / 6 && invalid < count - count / 60,
                 qPrintable(QString::number(invalid)));
    }

    void textRunsAtTheBuildersLimit() {
        // A document without a DOCTYPE builds no tree, but its runs of text are still refused
        // where the tree builder refuses them: the same verdict, at the same byte, as the check
        // that builds the tree, on either side of the limit, for text broken up by references,
        // blanks before end tags and CDATA sections.
        const int limit = 10000000;  // libxml2's XML_MAX_TEXT_LENGTH
        const QList<QByteArray> runs = {
            QByteArray(limit, 'x'),
            QByteArray(limit - 1, 'x') + "&amp;&amp;",
            QByteArray(limit - 5, 'x') + "&amp;",
            "<b/>" + QByteArray(limit + 100, ' '),
            "<b/>" + QByteArray(limit - 200, ' ') + "\r\n" + QByteArray(300, ' '),
            "<![CDATA[" + QByteArray(limit / 2, 'c') + "]]><![CDATA[" +
                QByteArray(limit / 2 + 1, 'c') + "]]>",
            QByteArray(limit / 2, 't') + "<![CDATA[c]]>" + QByteArray(limit / 2 + 10, 't'),
            QByteArray(limit / 2, 't') + "<!-- c -->" + QByteArray(limit / 2 + 10, 't'),
        };
        for (const QByteArray& run : runs) {
            const QString file = env.write("run.xml", "<a>" + run + "</a>\n");
            freeSubtrees(false);
            const CheckResult whole = checkFile(file);
            freeSubtrees(true);
            const CheckResult light = checkFile(file);
            QCOMPARE(light.loaded, whole.loaded);
            QCOMPARE(light.error, whole.error);
        }
        // Where the parse lifts the length limits (libxml2 2.13 and later, for deep documents),
        // the builder's limit is a gigabyte: these runs are far below it.
        const bool lifted = (libxml::ParseOptions() & XML_PARSE_HUGE) != 0;
        QCOMPARE(checkFile(env.write("run.xml", "<a>" + runs[1] + "</a>")).loaded, lifted);
        QVERIFY(checkFile(env.write("run.xml", "<a>" + runs[2] + "</a>")).loaded);
        QFile::remove(env.path("run.xml"));
    }

    void nothingOfOneCheckReachesTheNext() {
        // Whatever a check keeps between files must not change another file's verdict: an
        // entity or an ID of one file is unknown in the next, and a DTD edited between two
        // checks is read again.
        const QString first = env.write(
            "one/first.xml", "<!DOCTYPE a [<!ENTITY e 'x'><!ELEMENT a (#PCDATA)>]><a>&e;</a>");
        const QString second =
            env.write("one/second.xml", "<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a>&e;</a>");
        const QString doc = env.write("one/doc.xml", "<!DOCTYPE a SYSTEM 'one.dtd'><a><b/></a>");
        for (int round = 0; round < 2; ++round) {
            QVERIFY(checkFile(first).loaded);
            QCOMPARE(checkFile(second).error.errorCode, 26);  // XML_ERR_UNDECLARED_ENTITY
            env.write("one/one.dtd", "<!ELEMENT a (b)><!ELEMENT b EMPTY>");
            QVERIFY(checkFile(doc).loaded);
            env.write("one/one.dtd", "<!ELEMENT a (c)><!ELEMENT b EMPTY><!ELEMENT c EMPTY>");
            QCOMPARE(checkFile(doc).error.errorCode, 504);  // XML_DTD_CONTENT_MODEL
        }
    }

    void documentsBeyondTheTreeLimitAreChecked() {
        // A valid document whose tree would take far more than the memory limit for one file
        // is valid; an error in its last record is reported at its true line.
        SetParserMemoryLimit(std::size_t{16} << 20);
        QByteArray doc =
            "<?xml version='1.0'?>\n<!DOCTYPE data [\n<!ELEMENT data (r)*>\n"
            "<!ELEMENT r (k, v)>\n<!ELEMENT k (#PCDATA)>\n<!ELEMENT v (#PCDATA)>\n"
            "<!ATTLIST r n CDATA #REQUIRED>\n]>\n<data>\n";
        const QByteArray record = "<r n='1'><k>key</k><v>some value</v></r>\n";
        const int records = 400000;  // 16 MB of text, a tree of far more than 16 MB
        doc.reserve(doc.size() + record.size() * (records + 2));
        for (int i = 0; i < records; ++i)
            doc += record;
        const QString file = env.write("big.xml", doc + "</data>\n");
        const CheckResult valid = checkFile(file);
        QVERIFY2(valid.loaded, qPrintable(valid.error.reason));
        const int lastLine = static_cast<int>(doc.count('\n')) + 1;
        const QString broken = env.write("big.xml", doc + "<r n='1'><k>key</k></r>\n</data>\n");
        const CheckResult invalid = checkFile(broken);
        QVERIFY(!invalid.loaded);
        QCOMPARE(invalid.error.errorCode, 504);  // XML_DTD_CONTENT_MODEL
        QCOMPARE(invalid.error.line, lastLine);
        QVERIFY(invalid.error.filepos > doc.size());
        SetParserMemoryLimit(0);
        QFile::remove(file);
    }

    void threadsAgreeWithOneThread() {
        QStringList files;
        for (int i = 0; i < 40; ++i) {
            const QByteArray body = i % 3 == 0   ? "<a><b/></a>"
                                    : i % 3 == 1 ? "<a><x:b/></a>"
                                                 : "<!DOCTYPE a [<!ELEMENT a EMPTY>]><a>t</a>";
            files << env.write(QStringLiteral("mt/%1.xml").arg(i), body);
        }
        QList<CheckResult> sequential;
        for (const QString& f : files)
            sequential << checkFile(f);
        const auto checkAll = [&files] {
            QList<CheckResult> results;
            for (const QString& f : files)
                results << checkFile(f);
            return results;
        };
        std::vector<std::future<QList<CheckResult>>> workers;
        for (int t = 0; t < 4; ++t)
            workers.push_back(std::async(std::launch::async, checkAll));
        for (auto& w : workers) {
            const QList<CheckResult> results = w.get();
            for (qsizetype i = 0; i < files.size(); ++i) {
                QCOMPARE(results[i].loaded, sequential[i].loaded);
                QCOMPARE(results[i].error, sequential[i].error);
            }
        }
    }

    // Each case's name says the verdict: valid-* or invalid-*, against its folder's schema.
    void schemaVerdictsOfTheCaseSet_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("schema");
        QTest::addColumn<bool>("valid");
        const QList<QPair<QString, QString>> folders{
            {"order", "order.xsd"}, {"person", "person-redefined.xsd"}, {"note", "note.xsd"},
            {"note", "note.rng"},   {"measure", "measure.xsd"},         {"address", "address.rng"}};
        for (const auto& [folder, schema] : folders) {
            const QDir dir(schemaFile("cases/" + folder));
            for (const QString& name : dir.entryList({"*.xml"}, QDir::Files, QDir::Name))
                QTest::newRow(qPrintable(schema + "/" + name))
                    << dir.filePath(name) << schema << name.startsWith("valid-");
        }
    }
    void schemaVerdictsOfTheCaseSet() {
        QFETCH(QString, file);
        QFETCH(QString, schema);
        QFETCH(bool, valid);
        ParseErrorReport why;
        const auto set = SchemaSet::compile(
            schema.endsWith(".rng") ? SchemaLanguage::RelaxNg : SchemaLanguage::XmlSchema,
            schemaFile(schema), &why);
        QVERIFY2(set, qPrintable(SchemaErrorText(why)));
        SchemaForThisThread use(set);
        const CheckResult result = checkFile(file);
        QCOMPARE(result.failedStep, 0);
        QVERIFY2(result.loaded == valid, qPrintable(result.error.reason));
        if (!valid) {
            QCOMPARE(result.error.url, file);
            QVERIFY(result.error.line > 0);
            QVERIFY(result.error.reason.endsWith("\r\n"));
        }
        // Without the schema every case loads: the schema alone decides.
        useSchema(nullptr);
        QVERIFY(checkFile(file).loaded);
    }

    // RELAX NG checks an element it cannot stream (an interleave) on its tree, recursing for
    // each level: the workers' stacks take every depth the parser accepts, and a smaller stack
    // gives a clear refusal instead of an overflow.
    void relaxNgOnDeepDocuments() {
        const auto set = SchemaSet::compile(
            SchemaLanguage::RelaxNg,
            env.write("deep.rng",
                      "<grammar xmlns='http://relaxng.org/ns/structure/1.0'>"
                      "<start><ref name='e'/></start><define name='e'><element name='e'>"
                      "<interleave><optional><ref name='e'/></optional><optional>"
                      "<element name='x'><empty/></element></optional></interleave>"
                      "</element></define></grammar>"),
            nullptr);
        QVERIFY(set);
        const int depth = std::min(libxml::MaxElementDepth() - 1, 100000);
        const QString deep = env.write(
            "deep.xml", QByteArray("<e>").repeated(depth) + QByteArray("</e>").repeated(depth));
        const auto check = [&](const QString& path) {
            XmlCheckOptions options;
            options.schemas = set;
            return CheckXmlFile(path, options);
        };
        WorkerPool<CheckResult> pool(check, 1);
        const CheckResult onWorker = pool.submit(deep).get();
        QVERIFY2(onWorker.loaded || libxml::MaxElementDepth() < 100000,
                 qPrintable(onWorker.error.reason));

        // A thread of 1.25 MB runs short after a few hundred levels (1 MB stays free).
        const int deeperDepth = std::min(libxml::MaxElementDepth() - 1, 20000);
        const QString deeper =
            env.write("deeper.xml", QByteArray("<e>").repeated(deeperDepth) +
                                        QByteArray("</e>").repeated(deeperDepth));
        struct Job {
            std::function<CheckResult(const QString&)> run;
            QString path;
            CheckResult result;
        } job{check, deeper, {}};
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 5 << 18);
        pthread_t thread;
        const auto body = [](void* data) -> void* {
            auto* one = static_cast<Job*>(data);
            one->result = one->run(one->path);
            return nullptr;
        };
        QCOMPARE(pthread_create(&thread, &attributes, body, &job), 0);
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attributes);
        QVERIFY(!job.result.loaded);
        QCOMPARE(job.result.error.reason,
                 "The document is nested too deeply to be checked: its check ran out of stack "
                 "space\r\n");
    }

    // A value that carries the text of a refusal, longer than the validator's messages may be,
    // is still refused: no verdict rests on a message's text.
    void schemaValueThatMimicsItsRefusal() {
        const auto set =
            SchemaSet::compile(SchemaLanguage::XmlSchema,
                               env.write("int.xsd",
                                         "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
                                         "<xs:element name='r'><xs:complexType><xs:simpleContent>"
                                         "<xs:extension base='xs:int'>"
                                         "<xs:attribute name='a' type='xs:int'/>"
                                         "</xs:extension></xs:simpleContent></xs:complexType>"
                                         "</xs:element></xs:schema>"),
                               nullptr);
        QVERIFY(set);
        SchemaForThisThread use(set);
        const QByteArray tail =
            " 5 ' is not a valid value of the atomic type 'xs:int'" + QByteArray(70000, 'x');
        for (const QByteArray& body :
             {"<r>" + tail + "</r>", "<r a=\"" + tail + "\">5</r>", "<r a=' 5 '>" + tail + "</r>"})
            QVERIFY(!checkBytes(body, env.path("mimic.xml")).loaded);
        QVERIFY(checkBytes("<r a=' 5 '> 5 </r>", env.path("plain.xml")).loaded);
    }

    void schemaErrorReportAndOrder() {
        const auto set =
            SchemaSet::compile(SchemaLanguage::XmlSchema, schemaFile("order.xsd"), nullptr);
        QVERIFY(set);
        SchemaForThisThread use(set);
        const QString file = schemaFile("cases/order/invalid-type-int.xml");
        const CheckResult result = checkFile(file);
        QVERIFY(!result.loaded);
        const QByteArray bytes = [&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        ParseErrorReport expected;
        expected.errorCode = XML_SCHEMAV_CVC_DATATYPE_VALID_1_2_1;
        expected.url = file;
        expected.reason =
            "Element '{urn:example:order}id': 'forty-two' is not a valid value of "
            "the atomic type 'xs:int'.\r\n";
        expected.srcText = "  <id>forty-two</id>";
        expected.line = 3;
        expected.linepos = 21;  // just after the end tag, where the value was complete
        expected.filepos = static_cast<int>(bytes.indexOf("</id>") + 5);
        QCOMPARE(result.error, expected);

        // The parser's own error comes first and stays as it is without a schema.
        const QByteArray broken = "<order xmlns='urn:example:order'><id>x</id><oops></order>";
        const CheckResult withSchema = checkBytes(broken, env.path("broken.xml"));
        useSchema(nullptr);
        const CheckResult without = checkBytes(broken, env.path("broken.xml"));
        QVERIFY(!without.loaded);
        QCOMPARE(withSchema.error, without.error);

        // All errors: the schema's, in order, up to the count asked for.
        useSchema(set);
        keepErrors(5);
        const CheckResult all = checkBytes(
            "<order xmlns='urn:example:order'><id>x</id><customer>bad</customer>"
            "<item sku='A' quantity='0'/><card/></order>",
            env.path("many.xml"));
        keepErrors(1);
        QVERIFY(!all.loaded);
        QCOMPARE(all.laterErrors.size(), std::size_t{4});
        QVERIFY(all.error.reason.contains("'x'"));
        QVERIFY(all.laterErrors[0].reason.contains("pattern"));
    }

    // A schema is read as a DTD is: local regular files and the catalog, nothing else.
    void schemasThatCannotBeUsed_data() {
        QTest::addColumn<QString>("schema");
        QTest::addColumn<QString>("message");
        QTest::newRow("undefined type") << schemaFile("broken.xsd")
                                        << "broken.xsd:3: element decl. 'a', attribute 'type': "
                                           "The QName value 'undefinedType' does not resolve";
        QTest::newRow("remote include")
            << schemaFile("hostile/remote-include.xsd")
            << "failed to load the schema \"http://schemas.example.com/types.xsd\" that";
        QTest::newRow("missing file") << env.path("none.xsd") << "No such file";
        QTest::newRow("device") << "/dev/zero"
                                << "/dev/zero: failed to load the schema \"/dev/zero\": it is a "
                                   "device, not a regular file";
        QTest::newRow("deep") << env.write("deep.xsd",
                                           QByteArray("<xs:schema xmlns:xs='http://www.w3.org/"
                                                      "2001/XMLSchema'>") +
                                               nested(5000) + "</xs:schema>")
                              << "nests elements more than 1000 deep";
        QTest::newRow("not xml") << env.write("text.xsd", "no schema at all") << "text.xsd:1:";
        // An external entity that holds part of the schema and cannot be loaded.
        const auto withEntity = [&](const char* name, const QByteArray& system) {
            return env.write(name, "<!DOCTYPE xs:schema [<!ENTITY facets SYSTEM '" + system +
                                       "'>]><xs:schema xmlns:xs='http://www.w3.org/2001/"
                                       "XMLSchema'><xs:element name='r'><xs:simpleType>"
                                       "<xs:restriction base='xs:int'>&facets;</xs:restriction>"
                                       "</xs:simpleType></xs:element></xs:schema>");
        };
        QTest::newRow("remote entity")
            << withEntity("remote-entity.xsd", "http://127.0.0.1:9/facets.ent")
            << "nothing is loaded from the network";
        QTest::newRow("missing entity")
            << withEntity("missing-entity.xsd", "none.ent") << "none.ent\": No such file";
        QTest::newRow("device entity")
            << withEntity("device-entity.xsd", "/dev/zero") << "it is a device";
        QFile huge(
            env.write("huge.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"));
        QVERIFY(huge.resize(qint64{65} << 20));  // sparse: no disk needed
        QTest::newRow("huge") << huge.fileName() << "is larger than 64 MB";
    }
    void schemasThatCannotBeUsed() {
        QFETCH(QString, schema);
        QFETCH(QString, message);
        ParseErrorReport why;
        QVERIFY(!SchemaSet::compile(SchemaLanguage::XmlSchema, schema, &why));
        QVERIFY2(SchemaErrorText(why).contains(message), qPrintable(SchemaErrorText(why)));
    }

    void hostileSchemasEndWithoutHanging() {
        ParseErrorReport why;
        // A FIFO would block a reader that waits for a writer.
        const QString fifo = env.path("schema.fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!SchemaSet::compile(SchemaLanguage::XmlSchema, fifo, &why));
        QVERIFY(why.reason.contains("FIFO"));
        QVERIFY(!SchemaSet::compile(SchemaLanguage::RelaxNg,
                                    schemaFile("hostile/missing-include.rng"), &why));
        QVERIFY(why.reason.contains("no-such-grammar.rng"));
        // libxml2 compares each alternative of a model group with every other one: a choice of
        // tens of thousands takes minutes. Too large a group is refused, and a compile that runs
        // past its time is stopped.
        const auto flatChoice = [&](int count) {
            QByteArray text =
                "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
                "<xs:element name='r'><xs:complexType><xs:choice>";
            for (int i = 0; i < count; ++i)
                text += "<xs:element name='e" + QByteArray::number(i) + "'/>";
            return env.write(QString("choice%1.xsd").arg(count),
                             text + "</xs:choice></xs:complexType></xs:element></xs:schema>");
        };
        QVERIFY(!SchemaSet::compile(SchemaLanguage::XmlSchema,
                                    flatChoice(SchemaSet::kMaxModelGroupParticles + 1), &why));
        QVERIFY2(why.reason.contains("has a model group of more than 5000 particles"),
                 qPrintable(why.reason));
        QVERIFY(SchemaSet::compile(SchemaLanguage::XmlSchema, flatChoice(3000), &why));
        SchemaSet::setCompileTimeLimit(std::chrono::milliseconds(1));
        const bool stopped = !SchemaSet::compile(SchemaLanguage::XmlSchema, flatChoice(3000), &why);
        SchemaSet::setCompileTimeLimit(std::chrono::milliseconds(0));
        QVERIFY(stopped);
        QVERIFY2(why.reason.contains("was stopped: it did not compile within 0.001 s"),
                 qPrintable(why.reason));
        // Schemas that include each other are read once each, and compile.
        const auto loop =
            SchemaSet::compile(SchemaLanguage::XmlSchema, schemaFile("hostile/loop-a.xsd"), &why);
        QVERIFY2(loop, qPrintable(SchemaErrorText(why)));
        SchemaForThisThread use(loop);
        QVERIFY(checkBytes("<a>x</a>", env.path("a.xml")).loaded);
        QVERIFY(!checkBytes("<b/>", env.path("b.xml")).loaded);
    }

    // The compiler's own reads of included schemas go through the check's entity loader, which
    // refuses the network: the look through the includes is not the only guard.
    void schemaCompilerReadsThroughTheEntityLoader() {
        XmlErrorCapture capture;
        capture.keepNoContexts();
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(
            QFile::encodeName(schemaFile("hostile/remote-include.xsd")).constData());
        QVERIFY(parser != nullptr);
        xmlSchemaPtr schema = xmlSchemaParse(parser);
        xmlSchemaFreeParserCtxt(parser);
        if (schema != nullptr)
            xmlSchemaFree(schema);
        QVERIFY(capture.hasError());
        QCOMPARE(capture.report().errorCode, int(XML_IO_NETWORK_ATTEMPT));
        QVERIFY(capture.report().reason.contains("http://schemas.example.com/types.xsd"));
    }

    void documentsOwnSchemas_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("reason");
        QTest::newRow("two namespaces") << "two-namespaces.xml" << true << "";
        QTest::newRow("two namespaces, invalid")
            << "two-namespaces-invalid.xml" << false << "{urn:example:person}middle";
        QTest::newRow("relative") << "relative.xml" << true << "";
        QTest::newRow("relative, invalid") << "relative-invalid.xml" << false << "minLength";
        QTest::newRow("names none") << "none.xml" << true << "";
        QTest::newRow("remote, not in the catalog")
            << "remote.xml" << false
            << "failed to load the schema \"http://schemas.example.com/note.xsd\" that the "
               "document names: it could not be loaded offline (the XML catalog has no local "
               "copy of it, and nothing is loaded from the network)";
        QTest::newRow("missing") << "missing.xml" << false
                                 << "\"missing-note.xsd\" that the document names: it could not "
                                    "be loaded offline (No such file or directory)";
        // xml-model instructions of the prolog: RELAX NG and XML Schema, the latter joined to
        // the xsi hints by its target namespace; other languages, the compact syntax, malformed
        // instructions and those inside the root element are not schemas to check.
        QTest::newRow("xml-model RELAX NG") << "model-rng.xml" << true << "";
        QTest::newRow("xml-model RELAX NG, invalid")
            << "model-rng-invalid.xml" << false << "card has extra content: age";
        QTest::newRow("xml-model XML Schema and xsi") << "model-xsd.xml" << true << "";
        QTest::newRow("xml-model XML Schema and xsi, invalid")
            << "model-xsd-invalid.xml" << false << "{urn:example:person}middle";
        QTest::newRow("xml-model not for this check") << "model-ignored.xml" << true << "";
        QTest::newRow("xml-model remote")
            << "model-remote.xml" << false
            << "failed to load the schema \"http://example.org/x.rng\" that the document names: "
               "it could not be loaded offline (the XML catalog has no local copy of it, and "
               "nothing is loaded from the network)";
    }
    void documentsOwnSchemas() {
        QFETCH(QString, file);
        QFETCH(bool, valid);
        QFETCH(QString, reason);
        SchemaForThisThread use(SchemaSet::documentHints());
        const CheckResult result = checkFile(schemaFile("hints/" + file));
        QVERIFY2(result.loaded == valid, qPrintable(result.error.reason));
        QVERIFY2(result.error.reason.contains(reason), qPrintable(result.error.reason));
        // At the root element or the instruction that names the schema.
        if (reason.contains("offline"))
            QCOMPARE(result.error.line, 3);
    }

    // A RELAX NG schema named by the document reads its tree from the root element on: the
    // check keeps all of it, however often the finished parts of other documents are freed.
    void documentsOwnRelaxNgOnTheWholeTree() {
        SchemaForThisThread use(SchemaSet::documentHints());
        freeSubtrees(true, 1);
        const auto book = [&](const QByteArray& lastAge) {
            QByteArray text = "<?xml-model href='" + QFile::encodeName(schemaFile("address.rng")) +
                              "' schematypens='http://relaxng.org/ns/structure/1.0'?>\n"
                              "<addressBook>\n";
            for (int i = 0; i < 3000; ++i)
                text += "<card id='c" + QByteArray::number(i) +
                        "'><email>a@example.org</email><name>A</name><age>" +
                        (i == 2999 ? lastAge : "1") + "</age></card>\n";
            return text + "</addressBook>\n";
        };
        const CheckResult valid = checkBytes(book("7"), env.path("book.xml"));
        const CheckResult invalid = checkBytes(book("seven"), env.path("book.xml"));
        freeSubtrees(true);
        QVERIFY2(valid.loaded, qPrintable(valid.error.reason));
        QVERIFY(!invalid.loaded);
        QCOMPARE(invalid.error.line, 3002);
        QVERIFY2(invalid.error.reason.contains("card has extra content: age"),
                 qPrintable(invalid.error.reason));
    }

    // One XML Schema of several documents, as several hints of a document would give: each
    // namespace's documents (two of one namespace, too) take part.
    void schemaOfSeveralDocuments() {
        ParseErrorReport why;
        const auto set =
            SchemaSet::compile(SchemaLanguage::XmlSchema,
                               {schemaFile("order.xsd"), schemaFile("person-ns.xsd")}, &why);
        QVERIFY2(set, qPrintable(SchemaErrorText(why)));
        {
            SchemaForThisThread use(set);
            const QByteArray order =
                "<order xmlns='urn:example:order' xmlns:p='urn:example:person'><id>1</id>"
                "<customer>ABC-1234</customer><item sku='AB1'/><card>x</card>"
                "<p:person><p:first>Ada</p:first>%1</p:person></order>";
            QVERIFY(checkBytes(QByteArray(order).replace("%1", ""), env.path("o1.xml")).loaded);
            const CheckResult invalid =
                checkBytes(QByteArray(order).replace("%1", "<p:middle/>"), env.path("o2.xml"));
            QVERIFY(!invalid.loaded);
            QVERIFY(invalid.error.reason.contains("{urn:example:person}middle"));
        }
        // Two documents of one namespace, one using the other's type, beside one without.
        const QString element = env.write(
            "element.xsd",
            "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:x' "
            "xmlns:x='urn:x'><xs:element name='r' type='x:t'/></xs:schema>");
        const QString type = env.write(
            "type.xsd",
            "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' targetNamespace='urn:x'>"
            "<xs:simpleType name='t'><xs:restriction base='xs:int'/></xs:simpleType>"
            "</xs:schema>");
        const QString plain = env.write("plain.xsd",
                                        "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
                                        "<xs:element name='p' type='xs:int'/></xs:schema>");
        const auto joined =
            SchemaSet::compile(SchemaLanguage::XmlSchema, {element, type, plain}, &why);
        QVERIFY2(joined, qPrintable(SchemaErrorText(why)));
        {
            SchemaForThisThread use(joined);
            QVERIFY(checkBytes("<r xmlns='urn:x'>5</r>", env.path("x1.xml")).loaded);
            QVERIFY(!checkBytes("<r xmlns='urn:x'>five</r>", env.path("x2.xml")).loaded);
            QVERIFY(checkBytes("<p>5</p>", env.path("x3.xml")).loaded);
        }
        // Errors name the document they are in, the file that cannot be read, or what cannot
        // be joined.
        QVERIFY(!SchemaSet::compile(SchemaLanguage::XmlSchema,
                                    {schemaFile("order.xsd"), schemaFile("broken.xsd")}, &why));
        QVERIFY2(SchemaErrorText(why).startsWith(schemaFile("broken.xsd") + ":3: "),
                 qPrintable(SchemaErrorText(why)));
        QVERIFY(!SchemaSet::compile(SchemaLanguage::XmlSchema,
                                    {schemaFile("order.xsd"), env.path("none.xsd")}, &why));
        QVERIFY2(SchemaErrorText(why).startsWith(env.path("none.xsd") +
                                                 ": failed to load the "
                                                 "schema \"" +
                                                 env.path("none.xsd") + "\""),
                 qPrintable(SchemaErrorText(why)));
        const QString plain2 =
            env.write("plain2.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'/>");
        QVERIFY(
            !SchemaSet::compile(SchemaLanguage::XmlSchema, {element, type, plain, plain2}, &why));
        QVERIFY2(why.reason.contains("have the same target namespace \"urn:x\""),
                 qPrintable(why.reason));
        QVERIFY(!SchemaSet::compile(SchemaLanguage::RelaxNg,
                                    {schemaFile("address.rng"), schemaFile("note.rng")}, &why));
        QCOMPARE(SchemaErrorText(why),
                 schemaFile("address.rng") + ": a RELAX NG schema is one document; 2 were given");
    }

    void documentsOwnSchemaThroughTheCatalog() {
        const auto hints = SchemaSet::documentHints();
        SchemaForThisThread use(hints);
        const QByteArray note =
            "<note xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
            "xsi:noNamespaceSchemaLocation='http://schemas.example.com/catalogued/note.xsd'>"
            "<to>%1</to></note>";
        QVERIFY(checkBytes(QByteArray(note).replace("%1", "Bob"), env.path("n1.xml")).loaded);
        const CheckResult empty =
            checkBytes(QByteArray(note).replace("%1", ""), env.path("n2.xml"));
        QVERIFY(!empty.loaded);
        QVERIFY(empty.error.reason.contains("minLength"));
        // A schema the document names that does not compile makes the document invalid.
        const QString broken = schemaFile("broken.xsd");
        const CheckResult uncompiled = checkBytes(
            "<a xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
            "xsi:noNamespaceSchemaLocation='" +
                QFile::encodeName(broken) + "'/>",
            env.path("n3.xml"));
        QVERIFY(!uncompiled.loaded);
        QVERIFY2(uncompiled.error.reason.contains("does not compile: " + broken + ":3:"),
                 qPrintable(uncompiled.error.reason));
    }

    void schemaChecksOnThreadsAgree() {
        const auto set =
            SchemaSet::compile(SchemaLanguage::RelaxNg, schemaFile("address.rng"), nullptr);
        const auto xsd =
            SchemaSet::compile(SchemaLanguage::XmlSchema, schemaFile("order.xsd"), nullptr);
        QVERIFY(set && xsd);
        QStringList files;
        for (const char* folder : {"address", "order"})
            for (const QString& name :
                 QDir(schemaFile(QString("cases/") + folder)).entryList({"*.xml"}))
                files << schemaFile(QString("cases/") + folder + "/" + name);
        const auto checkAll = [&] {
            QList<CheckResult> results;
            for (const QString& f : files) {
                useSchema(f.contains("/address/") ? set : xsd);
                results << checkFile(f);
            }
            useSchema(nullptr);
            return results;
        };
        const QList<CheckResult> sequential = checkAll();
        std::vector<std::future<QList<CheckResult>>> workers;
        for (int t = 0; t < 4; ++t)
            workers.push_back(std::async(std::launch::async, checkAll));
        for (auto& w : workers) {
            const QList<CheckResult> results = w.get();
            for (qsizetype i = 0; i < files.size(); ++i) {
                QCOMPARE(results[i].loaded, sequential[i].loaded);
                QCOMPARE(results[i].error, sequential[i].error);
            }
        }
    }
};

QTEST_MAIN(TestXmlCheck)
#include "test_xmlcheck.moc"
