// brellix-check against hostile names, texts and arguments: nothing from a file may act on a
// terminal or a CI log, and no list file may replace what the run reads.

#include "tests/support/CoreTestEnv.h"
#include "tests/support/RunCheck.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The characters that must never reach a terminal raw: C0 controls but the line feed, DEL, the
// C1 controls.
bool holdsTerminalControl(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\n') || u == 0x7F || (u >= 0x80 && u <= 0x9F))
            return true;
    }
    return false;
}

QStringList linesOf(const QString& text) {
    return text.split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class TestCliHostile : public QObject {
    Q_OBJECT
private slots:
    // Names with line breaks, escape sequences and workflow commands, and document text inside
    // messages, in every format and on standard error.
    void namesAndTextsCannotInject() {
        TestEnv env;
        const QString dir = env.path("d");
        const QString annotation =
            env.write("d/x\n::error file=evil.xml,line=1::INJECTED.xml", "<a>");
        const QString verdict = env.write("d/y\ninvalid: fake.xml", "<a/>");
        const QString escape = env.write("d/z\x1b]0;owned\x07\x1b[31m\r.xml", "<a>");
        const QString slash = env.write("d/back\\x1b.xml", "<a/>");
        // A value whose text reaches the schema's message: a line break and a C1 control (CSI)
        // that XML allows in a document.
        const QString schema =
            env.write("short.xsd",
                      "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:element name='r'>"
                      "<xs:complexType><xs:attribute name='a'><xs:simpleType><xs:restriction "
                      "base='xs:string'><xs:maxLength value='1'/></xs:restriction></xs:simpleType>"
                      "</xs:attribute></xs:complexType></xs:element></xs:schema>");
        const QString value =
            env.write("value.xml", QByteArray("<r a='5&#10;invalid: fake.xml\xc2\x9b"
                                              "31m'/>"));
        const QStringList files{annotation, verdict, escape, slash};

        const Run text = check(files);
        QCOMPARE(text.status, 1);
        QCOMPARE(text.out, "invalid: " + dir +
                               "/x\\n::error file=evil.xml,line=1::INJECTED.xml\n"
                               "valid: " +
                               dir +
                               "/y\\ninvalid: fake.xml\n"
                               "invalid: " +
                               dir +
                               "/z\\x1b]0;owned\\x07\\x1b[31m\\r.xml\n"
                               "valid: " +
                               dir + "/back\\\\x1b.xml\n");
        for (const QString format : {"text", "gnu", "github"}) {
            for (const QStringList& extra : {QStringList{}, QStringList{"--report"}}) {
                const Run run = check(
                    QStringList{"--format", format, "--all-errors", "--schema", schema, value} +
                    extra + files);
                QVERIFY2(!holdsTerminalControl(run.out), qPrintable(format + run.out));
                for (const QString& line : linesOf(run.out)) {
                    QVERIFY2(!line.startsWith("invalid: fake") && !line.startsWith("::error ::") &&
                                 !line.startsWith("INJECTED"),
                             qPrintable(format + ": " + line));
                    if (format == "gnu")
                        QVERIFY2(line.startsWith(env.path("")), qPrintable(line));
                    if (format == "github")
                        QVERIFY2(
                            line.startsWith("::error file=" + env.path("").replace(":", "%3A")),
                            qPrintable(line));
                }
                if (format == "github") {
                    QVERIFY(run.out.contains("x\\n%3A%3Aerror file=evil.xml%2Cline=1%3A%3A"));
                    // One line per message: its own line breaks are blanks there.
                    QVERIFY(run.out.contains("5 invalid: fake.xml\\u009b31m"));
                }
            }
        }
        // With the report, the lines of the report are the report's own.
        const Run report = check({"--report", "--schema", schema, value});
        QCOMPARE(report.status, 1);
        QVERIFY2(report.out.contains("The value '5\\ninvalid: fake.xml\\u009b31m' has a length"),
                 qPrintable(report.out));
        QVERIFY(!holdsTerminalControl(report.out));

        // Standard error: names that cannot be read, and lists.
        const Run missing = check({env.path("gone\ninvalid: fake.xml\x1b[2J")});
        QCOMPARE(missing.status, 2);
        for (const QString& line : linesOf(missing.err))
            QVERIFY2(line.startsWith("brellix-check: "), qPrintable(line));
        QVERIFY(!holdsTerminalControl(missing.err));
        QVERIFY(missing.err.contains("gone\\ninvalid: fake.xml\\x1b[2J"));

        // JSON and SARIF escape by their own syntax, the C1 controls too; the names come back
        // as they are.
        for (const QString format : {"json", "sarif"}) {
            const Run run = check({"--format", format, "--schema", schema, value, escape});
            QVERIFY2(!holdsTerminalControl(run.out), qPrintable(run.out));
            // A SARIF location is a URI, percent-encoded.
            QVERIFY(
                run.out.contains(format == "json" ? "\\u001b]0;owned\\u0007" : "%1B]0;owned%07"));
            QVERIFY(run.out.contains("\\u009b"));
            QVERIFY(!QJsonDocument::fromJson(run.out.toUtf8()).isNull());
        }
        const QJsonArray paths =
            QJsonDocument::fromJson(check({"--format", "json", escape}).out.toUtf8())["files"]
                .toArray();
        QCOMPARE(paths.first()["path"].toString(), escape);
        // JUnit: XML cannot hold them even as references; a visible replacement stands there.
        const Run junit =
            check({"--format", "junit", "--report", "--schema", schema, value, escape});
        QVERIFY(!holdsTerminalControl(junit.out));
        QXmlStreamReader reader(junit.out);
        while (!reader.atEnd())
            reader.readNext();
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QVERIFY(junit.out.contains(QString(QChar(0xFFFD)) + "]0;owned"));
    }

    // A list file never replaces what the run reads, by any name: refused before anything is
    // written, the file left as it was.
    void listFilesNeverReplaceInputs() {
        TestEnv env;
        const QString dtd =
            env.write("doc.dtd", "<!ELEMENT doc (#PCDATA)><!ENTITY e SYSTEM 'e.txt'>");
        const QString entity = env.write("e.txt", "text");
        const QString doc = env.write("doc.xml", "<!DOCTYPE doc SYSTEM 'doc.dtd'><doc>&e;</doc>");
        const QString list = env.write("list.txt", doc.toUtf8() + "\n");
        const QString schema = env.write("s.xsd",
                                         "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
                                         "<xs:include schemaLocation='part.xsd'/></xs:schema>");
        const QString part = env.write("part.xsd",
                                       "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
                                       "<xs:element name='doc' type='xs:string'/></xs:schema>");
        const QString rng = env.write(
            "s.rng",
            "<element name='doc' xmlns='http://relaxng.org/ns/structure/1.0'><text/></element>");
        const QString catalog = env.write(
            "catalog.xml", "<catalog xmlns='urn:oasis:names:tc:entity:xmlns:xml:catalog'/>");
        QVERIFY(QFile::link(dtd, env.path("dtd-link")));
        QVERIFY(::link(QFile::encodeName(entity).constData(),
                       QFile::encodeName(env.path("e-hard")).constData()) == 0);
        QVERIFY(QFile::link(env.path(""), env.path("same-folder")));
        QHash<QString, QByteArray> before;
        for (const QString& file : {dtd, entity, doc, list, schema, part, rng, catalog})
            before.insert(file, contentOf(file));

        struct Case {
            QStringList arguments;
            const char* message;
        };
        const Case cases[] = {
            {{"--files-from", list, "--valid-list", list}, "is also a --files-from list"},
            {{"--files-from", list, "--invalid-list", env.path("same-folder/list.txt")},
             "is also a --files-from list"},
            {{"--schema", schema, "--valid-list", env.path("./s.xsd"), doc}, "is also the schema"},
            {{"--schema", schema, "--valid-list", part, doc}, "a file that the checks read"},
            {{"--relaxng", rng, "--invalid-list", rng, doc}, "is also the schema"},
            {{"--valid-list", catalog, doc}, "is also an XML catalog"},
            {{"--valid-list", env.path("dtd-link"), doc}, "a file that the checks read"},
            {{"--invalid-list", env.path("e-hard"), doc}, "a file that the checks read"},
            {{"--valid-list", env.path("ok.txt"), "--invalid-list", dtd, doc},
             "a file that the checks read"},
            {{"--valid-list", env.path("new.txt"), "--invalid-list",
              env.path("same-folder/new.txt"), doc},
             "name the same file"},
        };
        Start start;
        start.environment << "XML_CATALOG_FILES=" + catalog;
        for (const Case& c : cases) {
            const Run run = check(c.arguments, start);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains(c.message), qPrintable(run.err));
            for (auto it = before.cbegin(); it != before.cend(); ++it)
                QCOMPARE(contentOf(it.key()), it.value());
            // Neither list is written when one is refused, and no temporary file is left.
            QVERIFY(!QFile::exists(env.path("ok.txt")));
            QVERIFY(!QFile::exists(env.path("new.txt")));
            QCOMPARE(QDir(env.path("")).entryList(QDir::Files | QDir::Hidden).size(), 10);
        }
        // The same run with a list of its own writes it.
        const Run fine = check({"--valid-list", env.path("ok.txt"), doc}, start);
        QCOMPARE(fine.status, 0);
        QCOMPARE(contentOf(env.path("ok.txt")), doc.toUtf8() + "\r\n");
    }

    // "-" in a list is a file named "-"; an option that takes one value is given once, and
    // --files-from as often as there are lists.
    void listsAndRepeatedOptions() {
        TestEnv env;
        env.write("w/-", "<a/>");
        const QString first = env.write("w/one.txt", "-\n");
        const QString second = env.write("w/two.txt", "-\n" + env.path("w/bad.xml").toUtf8());
        env.write("w/bad.xml", "<a>");
        Start start;
        start.folder = env.path("w");
        start.input = "<broken>";
        const Run run = check({"-", "--files-from", first, "--files-from", second}, start);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out,
                 "invalid: -\nvalid: -\nvalid: -\ninvalid: " + env.path("w/bad.xml") + "\n");
        // A FIFO named "-" in a list is read as that FIFO, never as standard input.
        const QString fifo = env.path("f/-");
        QVERIFY(QDir().mkpath(env.path("f")));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        start.folder = env.path("f");
        start.input = "<a/>";
        const QString fifoList = env.write("f/list.txt", "-\n");
        QProcess writer;
        writer.start("sh", {"-c", "printf '<b>' > \"$0\"", fifo});
        const Run fromFifo = check({"--files-from", fifoList}, start);
        writer.waitForFinished();
        QCOMPARE(fromFifo.status, 1);
        QCOMPARE(fromFifo.out, QString("invalid: -\n"));

        const QStringList twice[] = {
            {"--format", "json", "--format", "text", "x"},
            {"--config", "a.toml", "--config", "b.toml", "x"},
            {"--relaxng", "a.rng", "--relaxng=b.rng", "x"},
            {"--valid-list", "a", "--valid-list", "b", "x"},
            {"--invalid-list", "a", "--invalid-list", "a", "x"},
            {"--shard", "1/2", "--shard", "2/2", "x"},
            {"-j", "1", "-j", "2", "x"},
            {"--ext", "xml", "--ext", "xsd", "x"},
        };
        for (const QStringList& arguments : twice) {
            const Run bad = check(arguments);
            QCOMPARE(bad.status, 2);
            QVERIFY2(bad.err.contains("was given more than once; it takes one value"),
                     qPrintable(bad.err));
            QVERIFY(bad.out.isEmpty());
        }
        QVERIFY(check({"--files-from", "-", "--files-from", "-"})
                    .err.contains("standard input can be read only once"));
    }

    // A list without line breaks is refused at the line that is too long, without reading it
    // all into memory; /dev/zero is such a list.
    void overlongListLines() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        // A name that holds place markers of the message is named as it is.
        const QString list =
            env.write("list%2%1.txt", good.toUtf8() + "\n" + QByteArray(5000, 'a') + "\n");
        Run run = check({"--files-from", list});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("'" + list + "' has an entry longer than 4098 bytes at line 2"),
                 qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        run = check({"--files-from", "/dev/zero"});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("'/dev/zero' has an entry longer than 4098 bytes at line 1"),
                 qPrintable(run.err));
        // A path of the longest length still passes.
        const QString longest = env.path("") + QString(4000 - env.path("").size(), 'p');
        run = check({"--files-from", env.write("long.txt", longest.toUtf8() + "\r\n")});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("cannot read"), qPrintable(run.err));
    }

    // The parser's memory is taken from what the process may use (here RLIMIT_AS) and bounds
    // the whole run: workers reading endless streams together end with verdicts, no crash.
    void memoryBoundsTheWholeRun() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer cannot run under an address-space limit");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
        QSKIP("the address sanitizer cannot run under an address-space limit");
#endif
#endif
        Start start;
        start.program = "/bin/sh";
        const Run run = check({"-c", "ulimit -v 1572864 && exec \"$0\" --report -j 2 \"$@\"",
                               BuildProgramFolder() + "/brellix-check", "/dev/zero", "/dev/zero",
                               "/dev/zero", "/dev/zero"},
                              start);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out.count(QRegularExpression("^invalid: /dev/zero - ",
                                                  QRegularExpression::MultilineOption)),
                 4);
        // An eighth of 1.5 GB is less than the least limit for one file, 512 MB; the run as a
        // whole may take half of the 1.5 GB.
        QVERIFY2(run.out.contains("/dev/zero holds more than 512 MB"), qPrintable(run.out));
        QVERIFY2(!run.out.contains("cannot be held") || run.out.contains("the 768 MB"),
                 qPrintable(run.out));
    }

    // Every option of --help is in the man page and in the bash completion.
    void everyOptionIsDocumented() {
        const QString help = check({"--help"}).out;
        const QString man =
            QString::fromUtf8(contentOf(BRELLIX_SOURCE_DIR "/packaging/man/brellix-check.1"))
                .replace("\\-", "-");
        const QString completion =
            QString::fromUtf8(contentOf(BRELLIX_SOURCE_DIR "/packaging/completion/brellix-check"));
        const QRegularExpression option("(?:^|[ ,])(--?[a-z0-9][a-z0-9-]*)");
        QSet<QString> options;
        for (const QString& line : help.split('\n')) {
            if (!line.startsWith("  -"))
                continue;
            const QString names = line.section("  ", 1, 1);
            for (auto it = option.globalMatch(names); it.hasNext();)
                options.insert(it.next().captured(1));
        }
        QVERIFY(options.size() >= 19);
        for (const QString& name : options) {
            QVERIFY2(man.contains(QRegularExpression(
                         "(^|[^a-z-])" + QRegularExpression::escape(name) + "([^a-z-]|$)")),
                     qPrintable("man page lacks " + name));
            QVERIFY2(completion.contains(QRegularExpression(
                         "(^|[\\s'|])" + QRegularExpression::escape(name) + "([\\s'|)]|$)")),
                     qPrintable("completion lacks " + name));
        }
        for (const char* text : {"\\ex1b", "%0A", "more than once", "file named"})
            QVERIFY2(man.contains(text), text);
    }
};

QTEST_MAIN(TestCliHostile)
#include "test_cli_hostile.moc"
