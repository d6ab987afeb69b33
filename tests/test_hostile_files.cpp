// Hostile documents through the real check: entity bombs, references to things that never end
// or are far away, huge and deep documents, broken encodings, stray bytes. Each one gets a
// verdict with a report that says why, in bounded time and memory. The small cases are files
// in tests/hostile/; the large ones are made here.

#include "check/XmlCheck.h"
#include "parse/Libxml.h"
#include "parse/ParserMemory.h"
#include "parse/StartTagLimits.h"
#include "parse/XmlErrorCapture.h"
#include "tests/support/CoreTestEnv.h"
#include "tests/support/LibxmlRelease.h"

#include <QFile>
#include <QTest>

namespace {

QString hostile(const QString& name) {
    return QStringLiteral(BRELLIX_SOURCE_DIR "/tests/hostile/") + name;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A report is usable when it holds no control character but its line breaks and tabs.
bool usable(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() >= 0x20 || c == QLatin1Char('\r') || c == QLatin1Char('\n') ||
               c == QLatin1Char('\t');
    });
}

// Many small records: a document whose tree takes many times its size.
QByteArray records(qsizetype bytes) {
    QByteArray doc = "<rows>\n";
    for (int i = 0; doc.size() < bytes; ++i)
        doc += "<row id=\"" + QByteArray::number(i) + "\"><name>abc</name><v>42</v></row>\n";
    return doc + "</rows>\n";
}

}  // namespace

class TestHostileFiles : public QObject {
    Q_OBJECT
    TestEnv env;

private slots:
    void initTestCase() { InitXmlChecking(); }

    void committedCorpus_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("why");
        QTest::addColumn<int>("line");
        const auto row = [](const char* name, bool loaded, int code, const char* why, int line) {
            QTest::newRow(name) << QString::fromLatin1(name) << loaded << code
                                << QString::fromLatin1(why) << line;
        };
        // 2.15 stops entity bombs by their amplification, 2.9.14 as a loop.
        const char* bomb = ByRelease("entity reference loop", "amplification factor exceeded");
        row("billion-laughs.xml", false, ByRelease(89, 114), bomb, 1);
        row("entity-loop.xml", false, 89, "entity reference loop", 1);
        row("parameter-bomb.xml", false, ByRelease(89, 114), bomb, ByRelease(4, 6));
        row("entity-dev-zero.xml", false, 1549, "/dev/zero\": it is a device", 3);
        row("entity-dev-stdin.xml", false, 1549, "/dev/stdin\": it is a device", 3);
        row("entity-folder.xml", false, 1549, "it is a folder", 3);
        row("entity-remote.xml", false, 1543, "nothing is loaded from the network", 3);
        row("dtd-remote.xml", false, 1543, "nothing is loaded from the network", 2);
        row("empty.xml", false, 4, "Document is empty", 1);
        row("binary.xml", false, 4, "Start tag expected", 1);
        row("gzip-packed.xml", false, 4, "Start tag expected", 1);  // never unpacked
        row("xz-packed.xml", false, 4, "Start tag expected", 1);
        row("invalid-utf8.xml", false, ByRelease(9, 81),
            ByRelease("not proper UTF-8", "Invalid bytes in character encoding"), 2);
        row("utf16-without-bom.xml", true, 0, "", 0);
        row("utf16-without-bom-or-declaration.xml", false, 9, "Char 0x0", 1);
        row("bom-utf8-declares-latin1.xml", false, 32,
            "byte-order mark says the document is in UTF-8, but its encoding declaration says "
            "\"ISO-8859-1\"",
            1);
        row("bom-utf16-declares-utf8.xml", false, 32,
            "mark says the document is in UTF-16 (little-endian), but its encoding declaration "
            "says \"UTF-8\"",
            1);
        row("unsupported-encoding.xml", false, 32,
            ByRelease("Unsupported encoding X-NO-SUCH-CHARSET",
                      "Unsupported encoding: X-NO-SUCH-CHARSET"),
            1);
        row("nul-in-text.xml", false, 9, "Char 0x0", 2);
        row("nul-after-root.xml", false, 5, "Extra content at the end of the document", 3);
        // 2.15 decodes the last odd byte and refuses it; 2.9.14 leaves it for the check.
        row("utf16-odd-byte.xml", false, ByRelease(5, 81),
            ByRelease("Extra content at the end of the document",
                      "Invalid bytes in character encoding"),
            3);
        // External inputs are judged as the document is: a NUL, or a read that fails part-way.
        row("dtd-nul.xml", false, 9, "dtd-nul.dtd\" holds a NUL character", 2);
        row("entity-nul-first.xml", false, 9, "entity-nul-first.ent\" holds a NUL character", 1);
        row("dtd-unreadable.xml", false, 1549, "failed to read \"/proc/self/mem\" after 0 bytes",
            1);
        row("entity-unreadable.xml", false, 1549, "failed to read \"/proc/self/mem\" after 0", 1);
        row("dtd-escaped-nul.xml", false, 1549, "holds an escaped NUL character (%00)", 1);
    }
    void committedCorpus() {
        QFETCH(QString, name);
        QFETCH(bool, loaded);
        QFETCH(int, code);
        QFETCH(QString, why);
        QFETCH(int, line);
        const QString path = hostile(name);
        const CheckResult result = CheckXmlFile(path);
        // The check of bytes in memory is the same check.
        const CheckResult fromBytes = CheckXmlBytes(contentOf(path), path);
        QCOMPARE(fromBytes.loaded, result.loaded);
        QCOMPARE(fromBytes.error, result.error);
        QCOMPARE(result.loaded, loaded);
        QCOMPARE(result.failedStep, 0);
        if (loaded)
            return;
        QCOMPARE(result.error.errorCode, code);
        QVERIFY2(result.error.reason.contains(why), qPrintable(result.error.reason));
        QCOMPARE(result.error.line, line);
        QVERIFY(usable(ErrorReportText(result.error)));
        // The error stands in the document, or in the definitions it loaded beside it.
        QVERIFY2(result.error.url == path || result.error.url.endsWith(".dtd") ||
                     result.error.url.endsWith(".ent") || result.error.url == "/proc/self/mem",
                 qPrintable(result.error.url));
    }

    // The parser takes a NUL in an external DTD or entity for its end; the check finds it
    // wherever it stands, also where the reads of the file end, and in UTF-16.
    void aNulInAnExternalInputIsFoundWhereverItStands() {
        const QByteArray uses = "<!DOCTYPE a SYSTEM \"rules.dtd\">\n<a/>\n";
        for (const int at : {0, 1, 3999, 4000, 4001, 65535, 65536, 65537, 200000}) {
            // Comment lines of 100 bytes up to the NUL; the NUL, then a proper declaration.
            QByteArray dtd;
            while (dtd.size() + 100 <= at)
                dtd += "<!--" + QByteArray(92, 'c') + "-->\n";
            dtd += QByteArray(at - dtd.size(), ' ');
            const QByteArray good = dtd + "<!ELEMENT a EMPTY>\n";
            const QString folder = QStringLiteral("nul%1/").arg(at);
            env.write(folder + "rules.dtd", good);
            QVERIFY(CheckXmlFile(env.write(folder + "good.xml", uses)).loaded);
            env.write(folder + "rules.dtd", dtd + '\0' + "<!ELEMENT a EMPTY>\n");
            const CheckResult result = CheckXmlFile(env.write(folder + "doc.xml", uses));
            QVERIFY2(!result.loaded, qPrintable(folder));
            QCOMPARE(result.error.errorCode, 9);
            QCOMPARE(result.error.url, env.path(folder + "rules.dtd"));
            QCOMPARE(result.error.filepos, at);
            QCOMPARE(result.error.line, at / 100 + 1);
            QCOMPARE(result.error.linepos, at % 100 + 1);
        }
        // UTF-16 entities hold zero bytes in every character, but a NUL only where one is.
        const auto utf16 = [](const QString& text) {
            QByteArray bytes("\xff\xfe", 2);
            for (QChar c : text) {
                bytes.append(static_cast<char>(c.unicode() & 0xff));
                bytes.append(static_cast<char>(c.unicode() >> 8));
            }
            return bytes;
        };
        const QByteArray refers =
            "<!DOCTYPE a [<!ELEMENT a ANY><!ELEMENT b EMPTY><!ENTITY e SYSTEM \"e.ent\">]>\n"
            "<a>&e;</a>\n";
        env.write("u16/e.ent", utf16(QStringLiteral("<b/>\n<b/>caf\u00e9")));
        const CheckResult wide = CheckXmlFile(env.write("u16/doc.xml", refers));
        QVERIFY2(wide.loaded, qPrintable(ErrorReportText(wide.error)));
        env.write("u16nul/e.ent", utf16(QStringLiteral("<b/>\n<b/>")) + QByteArray(2, '\0'));
        const CheckResult wideNul = CheckXmlFile(env.write("u16nul/doc.xml", refers));
        QVERIFY(!wideNul.loaded);
        QCOMPARE(wideNul.error.errorCode, 9);
        QCOMPARE(wideNul.error.filepos, 20);
        QCOMPARE(wideNul.error.line, 2);
        QCOMPARE(wideNul.error.linepos, 5);
        QVERIFY(wideNul.error.url.endsWith("u16nul/e.ent"));
        // An external entity read through a parameter entity is judged the same way.
        env.write("pe/p.ent", QByteArray("<!ELEMENT a EMPTY>\0", 19));
        QVERIFY(!CheckXmlFile(env.write("pe/doc.xml",
                                        "<!DOCTYPE a [<!ENTITY % p SYSTEM \"p.ent\"> %p;]><a/>"))
                     .loaded);
    }

    // Where the parser's work on one start tag grows with the square of its attributes, a tag
    // beyond the limits is refused, also one of a million attributes, before that work is done;
    // where it is linear, no tag is refused.
    void startTagsBeyondTheLimitsAreRefused() {
        const auto tag = [](int count, const char* form, const QByteArray& before = "<a") {
            QByteArray doc = before;
            for (int i = 0; i < count; ++i)
                doc += ' ' + QByteArray(form).replace("#", QByteArray::number(i));
            return doc + "/>\n";
        };
        struct Case {
            QByteArray name;
            QByteArray content;
            QByteArray refusal;  // empty: valid
        };
        const int most = kMaxAttributesPerStartTag;
        const int mostNs = kMaxNamespacesPerStartTag;
        const QByteArray n = QByteArray::number(most);
        const QByteArray inScope = QByteArray::number(2 * mostNs);
        const QByteArray dtd = [most] {
            QByteArray d = "<!DOCTYPE a [<!ELEMENT a EMPTY><!ATTLIST a";
            for (int i = 0; i < 15000; ++i)
                d += " d" + QByteArray::number(i) + " CDATA \"v\"";
            for (int i = 0; i < most + 2; ++i)
                d += " a" + QByteArray::number(i) + " CDATA #IMPLIED";
            return d + ">]>\n";
        }();
        const std::vector<Case> cases = {
            {n + " attributes", tag(most, "a#=''"), ""},
            {n + " + 1 attributes", tag(most + 1, "a#=''"),
             "A start tag with " + QByteArray::number(most + 1) + " attributes"},
            {"a million attributes", tag(1000000, "a#=''"),
             "A start tag with more than " + n + " attributes"},
            {"namespaces at the limit", tag(mostNs, "xmlns:p#='urn:#'"), ""},
            {"namespaces beyond it", tag(mostNs + 1, "xmlns:p#='urn:#'"),
             "A start tag with " + QByteArray::number(mostNs + 1) + " namespace declarations"},
            {"a million namespaces", tag(1000000, "xmlns:p#='urn:#'"),
             "More than " + inScope + " namespace declarations in scope at once"},
            // Defaults from the DTD do not count; the attributes of the tag still do.
            {"15000 defaults and the most attributes", tag(most, "a#=''", dtd + "<a"), ""},
            {"15000 defaults and 2 attributes more", tag(most + 2, "a#=''", dtd + "<a"),
             "A start tag with " + QByteArray::number(most + 2) + " attributes"},
            // Start tags in the text of entities are stopped while they are read too.
            {"an entity's tag of many attributes",
             "<!DOCTYPE r [<!ENTITY e \"" + tag(5 * most, "a#=''").trimmed() +
                 "\">]>\n<r>&e;</r>\n",
             "A start tag with more than " + n + " attributes"},
            {"an external entity's tag of many attributes",
             "<!DOCTYPE r [<!ENTITY e SYSTEM \"tags.ent\">]>\n<r>&e;</r>\n",
             "A start tag with more than " + n + " attributes"},
            {"an entity's tag of many namespaces",
             "<!DOCTYPE r [<!ENTITY e \"" + tag(3 * mostNs, "xmlns:p#='urn:#'").trimmed() +
                 "\">]>\n<r>&e;</r>\n",
             "A start tag with more than " + inScope + " namespace declarations"},
            {"an external entity's tag of many namespaces",
             "<!DOCTYPE r [<!ENTITY e SYSTEM \"ns.ent\">]>\n<r>&e;</r>\n",
             "More than " + inScope + " namespace declarations in scope at once"},
        };
        env.write("tags.ent", tag(5 * most, "a#=''"));
        env.write("ns.ent", tag(5 * mostNs, "xmlns:p#='urn:#'"));
        for (const Case& c : cases) {
            const CheckResult result = CheckXmlFile(env.write("tags.xml", c.content));
            QCOMPARE(result.failedStep, 0);
            // Entities referred to from the root element, which is declared nowhere.
            const bool undeclared = c.content.contains("<r>&e;");
            const bool valid = libxml::kQuadraticStartTags ? c.refusal.isEmpty() : !undeclared;
            QVERIFY2(result.loaded == valid,
                     qPrintable(QString::fromLatin1(c.name) + ": " + result.error.reason));
            if (result.loaded || !libxml::kQuadraticStartTags)
                continue;
            QCOMPARE(result.error.errorCode, 2);
            QVERIFY2(result.error.reason.contains(QString::fromLatin1(c.refusal)),
                     qPrintable(result.error.reason));
            QVERIFY(result.error.reason.contains("the check's limit is " + QString::number(most)));
            QVERIFY2(result.error.line == c.content.count('\n'), c.name.constData());
        }
        // "xmlns" in values, text and comments is no declaration: the verdict is the DTD's.
        const CheckResult words = CheckXmlFile(
            env.write("words.xml", "<!DOCTYPE r [<!ENTITY e \"<!-- xmlns -->" +
                                       tag(7000, "xmlns:p#='urn:xmlns:xmlns'").chopped(3) +
                                       ">xmlns xmlns</a>\">]>\n<r>&e;</r>\n"));
        QVERIFY(!words.loaded);
        QVERIFY2(!words.error.reason.contains("limit"), qPrintable(words.error.reason));
        // An entity that is declared but never referenced brings no tag in.
        QVERIFY(
            CheckXmlFile(env.write("unused.xml", "<!DOCTYPE r [<!ELEMENT r EMPTY><!ENTITY e \"" +
                                                     tag(30000, "xmlns:p#='urn:#'").trimmed() +
                                                     "\">]>\n<r/>\n"))
                .loaded);
        // Within the limits the parser's own verdicts stand.
        const CheckResult twice =
            CheckXmlFile(env.write("twice.xml", tag(9000, "a#=''", "<a x='1' a8999='2'")));
        QVERIFY(!twice.loaded);
        QCOMPARE(twice.error.errorCode, 42);
        // Declarations of many nested elements are in scope together.
        const int depth = std::min(15000, libxml::MaxElementDepth() - 1);
        const QByteArray nested = QByteArray("<e xmlns:p='urn:p'>").repeated(depth) + "<p:x/>" +
                                  QByteArray("</e>").repeated(depth);
        QVERIFY(CheckXmlFile(env.write("nested.xml", nested)).loaded);
    }

    void hugeDocumentsGetAVerdictWithAShortSourceText_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("why");
        const QByteArray mb50 = QByteArray(50 << 20, 'y');
        // With 2.15 the parse lifts the parser's length limits to its own of a gigabyte (code 0:
        // the document loads).
        QTest::newRow("attribute of 50 MB")
            << "<a x=\"" + mb50 + "\"/>" << ByRelease(40, 0) << "AttValue";
        QTest::newRow("text of 50 MB") << "<a>" + mb50 + "</a>" << ByRelease(2, 0)
                                       << "Text content longer than 10000000 bytes";
        QTest::newRow("line of 10 MB, error at its end")
            << "<a>" + QByteArray("<b/>").repeated(10 << 18) + "<c></a>" << 76 << "mismatch";
    }
    void hugeDocumentsGetAVerdictWithAShortSourceText() {
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        QFETCH(QString, why);
        const QString path = env.write("huge.xml", content);
        content.clear();
        const CheckResult result = CheckXmlFile(path);
        QCOMPARE(result.failedStep, 0);  // a verdict, not an "Application Error"
        QCOMPARE(result.loaded, code == 0);
        if (code == 0)
            return;
        QCOMPARE(result.error.errorCode, code);
        QVERIFY2(result.error.reason.contains(why), qPrintable(result.error.reason));
        QCOMPARE(result.error.url, path);
        QVERIFY(result.error.line >= 1 && result.error.linepos > 1000000);
        // The line around the error, cut and marked, not megabytes of it.
        QVERIFY2(result.error.srcText.size() <= 420, qPrintable(result.error.srcText.left(500)));
        QVERIFY(result.error.srcText.startsWith("[...]"));
    }

    void entitiesOfAHundredMegabytesAndDeepNesting() {
        env.write("big/part.ent", QByteArray(100 << 20, 'x'));
        const CheckResult big = CheckXmlFile(env.write(
            "big/doc.xml", "<!DOCTYPE a [<!ENTITY e SYSTEM \"part.ent\">]>\n<a>&e;</a>\n"));
        QVERIFY(!big.loaded);
        QCOMPARE(big.failedStep, 0);
        if (kLibxml215) {
            // The text is within the lifted limit: what remains is the undeclared element.
            QCOMPARE(big.error.errorCode, 534);
        } else {
            QCOMPARE(big.error.errorCode, 2);
            QVERIFY2(big.error.reason.contains("the parser's limit"), qPrintable(big.error.reason));
            QCOMPARE(big.error.url, env.path("big/part.ent"));
        }

        // As deep as the parser lets a document nest, and one level more.
        const int most = libxml::MaxElementDepth();
        const auto nest = [](int depth) {
            return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
        };
        QVERIFY(CheckXmlFile(env.write("deep.xml", nest(most))).loaded);
        const CheckResult deeper = CheckXmlFile(env.write("deep.xml", nest(most + 1)));
        QVERIFY(!deeper.loaded);
        QVERIFY2(deeper.error.reason.contains("Excessive depth"), qPrintable(deeper.error.reason));
    }

    void whatStillGrowsIsStoppedAndSaysWhy() {
        // Finished elements are freed as the parse goes, so a long document fits in any limit;
        // what the end of the document still needs (every element that refers to an ID) is
        // counted, and stopped at the limit with a report.
        SetParserMemoryLimit(64 << 20);
        const CheckResult plain = CheckXmlFile(env.write("records.xml", records(100 << 20)));
        QByteArray referring =
            "<!DOCTYPE rows [<!ELEMENT rows (row*)>\n"
            "<!ELEMENT row (name, v)>\n<!ATTLIST row id ID #REQUIRED ref IDREF "
            "#IMPLIED>\n<!ELEMENT name (#PCDATA)>\n<!ELEMENT v (#PCDATA)>]>\n"
            "<rows>\n";
        for (int i = 1; referring.size() < (40 << 20); ++i)
            referring += "<row id=\"r" + QByteArray::number(i) + "\" ref=\"r" +
                         QByteArray::number(i - 1) + "\"><name>abc</name><v>42</v></row>\n";
        const CheckResult huge = CheckXmlFile(env.write("referring.xml", referring + "</rows>\n"));
        SetParserMemoryLimit(0);
        QVERIFY(plain.loaded);
        QVERIFY(!huge.loaded);
        QCOMPARE(huge.failedStep, 0);
        QCOMPARE(huge.error.errorCode, 2);
        QVERIFY2(
            huge.error.reason.contains("too large to load") && huge.error.reason.contains("64 MB"),
            qPrintable(huge.error.reason));
        QVERIFY(huge.error.line > 1000);  // where the parse was stopped
        QVERIFY(ParserMemoryLimit() >= (512u << 20));
    }

    void documentsEndingAtEveryBlockBoundaryStayValid() {
        // The stray-bytes test must not mistake the end of a read block for unread content.
        for (int size : {3990, 4000, 4096, 8000, 8192, 16384, 65536}) {
            for (int extra = -3; extra <= 3; ++extra) {
                const int fill = size + extra - 20;
                const QByteArray doc = "<a>" + QByteArray(fill, 'z') + "</a>\n<!-- c -->\n";
                const QString name = QStringLiteral("edge%1.xml").arg(size + extra);
                QVERIFY2(CheckXmlFile(env.write(name, doc)).loaded, qPrintable(name));
                QVERIFY(CheckXmlBytes(doc, name).loaded);
                const CheckResult nul = CheckXmlFile(env.write(name, doc + '\0' + "<b/>"));
                QVERIFY(!nul.loaded);
                QCOMPARE(nul.error.errorCode, 5);
            }
        }
    }

    void byteOrderMarkAndDeclaration_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loaded");
        const auto utf16 = [](const char* text, bool bigEndian) {
            QByteArray out = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
            for (const char* c = text; *c != '\0'; ++c) {
                out.append(bigEndian ? '\0' : *c);
                out.append(bigEndian ? *c : '\0');
            }
            return out;
        };
        const QByteArray bom8 = "\xEF\xBB\xBF";
        QTest::newRow("UTF-8 mark, utf-8")
            << bom8 + "<?xml version='1.0' encoding='utf-8'?><a/>" << true;
        QTest::newRow("UTF-8 mark, no declaration") << bom8 + "<a/>" << true;
        QTest::newRow("UTF-8 mark, windows-1252")
            << bom8 + "<?xml version='1.0' encoding='windows-1252'?><a/>" << false;
        QTest::newRow("UTF-16LE mark, UTF-16")
            << utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>", false) << true;
        QTest::newRow("UTF-16BE mark, UTF-16")
            << utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>", true) << true;
        QTest::newRow("UTF-16LE mark, UTF-16BE")
            << utf16("<?xml version=\"1.0\" encoding=\"UTF-16BE\"?><a/>", false) << false;
        QTest::newRow("no mark, Latin-1")
            << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><a>\xe9</a>") << true;
        QTest::newRow("UTF-8 mark, declaration over two lines")
            << bom8 + "<?xml version='1.0'\n   encoding = \"ISO-8859-1\" ?><a/>" << false;
    }
    void byteOrderMarkAndDeclaration() {
        QFETCH(QByteArray, content);
        QFETCH(bool, loaded);
        const CheckResult result = CheckXmlFile(env.write("marked.xml", content));
        QCOMPARE(result.loaded, loaded);
        if (!loaded) {
            QCOMPARE(result.error.errorCode, 32);
            QVERIFY(result.error.reason.contains("byte-order mark"));
            QVERIFY(result.error.srcText.contains("encoding"));
        }
    }

    void sourceTextIsCutMarkedAndClean() {
        const auto around = [](const QByteArray& text, qsizetype at, bool moreBefore = false) {
            const auto* base = reinterpret_cast<const unsigned char*>(text.constData());
            return SourceLineAround(base, base + at, base + text.size(), moreBefore);
        };
        QCOMPARE(around("one\ntwo three\nfour", 8), "two three");
        QCOMPARE(around("one\r\ntwo\r\n", 5), "two");
        QCOMPARE(around("", 0), "");
        QCOMPARE(around("tail", 2, true), "[...]tail");
        const QByteArray longLine = QByteArray(5000, 'a') + "<x>" + QByteArray(5000, 'b');
        const QString cut = around(longLine, 5000);
        QVERIFY(cut.startsWith("[...]aaa") && cut.endsWith("bbb[...]"));
        QVERIFY(cut.size() <= 410 && cut.contains("<x>"));
        // A cut never splits a character; control characters show as U+FFFD.
        const QByteArray wide = QByteArray("\xc3\xa9").repeated(400);
        QVERIFY(!around(wide, 400).contains(QChar::ReplacementCharacter));
        QCOMPARE(around(QByteArray("a\0b\x1b"
                                   "c\td",
                                   7),
                        1),
                 QString::fromUtf8("a\uFFFDb\uFFFDc\td"));
    }
};

QTEST_MAIN(TestHostileFiles)
#include "test_hostile_files.moc"
