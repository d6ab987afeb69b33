// A project's configuration (.brellix.toml): the files a run checks, what it leaves out, the
// catalogs, and the rules that pair file patterns with a check, through brellix-check.

#include "project/PathPattern.h"
#include "tests/support/CoreTestEnv.h"
#include "tests/support/RunCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QStandardPaths>
#include <QTest>

namespace {

const QByteArray kDocXsd =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>\n"
    "  <xs:element name='doc'><xs:complexType><xs:sequence>\n"
    "    <xs:element name='title' type='xs:string'/>\n"
    "  </xs:sequence></xs:complexType></xs:element>\n"
    "</xs:schema>\n";
const QByteArray kNoteRng =
    "<element name='note' xmlns='http://relaxng.org/ns/structure/1.0'>\n"
    "  <attribute name='day'><data type='integer' "
    "datatypeLibrary='http://www.w3.org/2001/XMLSchema-datatypes'/></attribute>\n"
    "  <text/>\n"
    "</element>\n";

// A tree with two families of documents, a schema for each, a build folder to leave out and a
// file that no rule matches.
struct Project {
    TestEnv env;
    QString root;
    explicit Project(const QByteArray& config) {
        root = QFileInfo(env.path(".")).canonicalFilePath();
        env.write("schemas/doc.xsd", kDocXsd);
        env.write("schemas/note.rng", kNoteRng);
        env.write("docs/a.xml", "<doc><title>A</title></doc>");
        env.write("docs/deep/er/b.xml", "<doc><title>B</title><extra/></doc>");
        env.write("notes/n1.xml", "<note day='3'>x</note>");
        env.write("notes/n2.xml", "<note day='Monday'>x</note>");
        env.write("notes/sub/n3.xml", "<doc/>");  // "notes/*.xml" is one folder deep only
        env.write("build/out.xml", "<broken");
        env.write("docs/x.generated.xml", "<broken");
        env.write("free.xml", "<anything/>");
        env.write(".brellix.toml", config);
    }
    // The verdicts of a json run, by the file's path below the root.
    QMap<QString, bool> verdicts(const Run& run, const QString& folder) const {
        QMap<QString, bool> valid;
        for (const QJsonValue f : QJsonDocument::fromJson(run.out.toUtf8())["files"].toArray()) {
            const QString path =
                QFileInfo(QDir(folder).filePath(f["path"].toString())).canonicalFilePath();
            valid.insert(path.mid(root.size() + 1), f["valid"].toBool());
        }
        return valid;
    }
};

// A run started in `folder`.
Start at(const QString& folder) {
    Start start;
    start.folder = folder;
    return start;
}

const QByteArray kTwoFamilies =
    "[files]\n"
    "exclude = [\"build/**\", \"**/*.generated.xml\"]\n"
    "\n"
    "[[rule]]\n"
    "files = [\"docs/**/*.xml\"]\n"
    "xsd = \"schemas/doc.xsd\"\n"
    "\n"
    "[[rule]]\n"
    "files = [\"notes/*.xml\"]\n"
    "relaxng = \"schemas/note.rng\"\n";

}  // namespace

class TestProject : public QObject {
    Q_OBJECT
private slots:
    void patterns() {
        const QString base = "/p";
        struct Case {
            const char* pattern;
            const char* path;
            bool matches;
        };
        const Case cases[] = {
            {"docs/**/*.xml", "/p/docs/a.xml", true},
            {"docs/**/*.xml", "/p/docs/x/y/a.xml", true},
            {"docs/**/*.xml", "/p/other/docs/a.xml", false},
            {"docs/*.xml", "/p/docs/x/a.xml", false},
            {"*.generated.xml", "/p/a/b/c.generated.xml", true},  // a name: in every folder
            {"**/*.generated.xml", "/p/c.generated.xml", true},
            {"build/", "/p/build/x/y.xml", true},
            {"build/**", "/p/builder/y.xml", false},
            {"./notes/?.xml", "/p/notes/1.xml", true},
            {"notes/?.xml", "/p/notes/12.xml", false},
            {"Docs/*.xml", "/p/docs/a.xml", false},  // case counts
            {"**", "/elsewhere/a.xml", false},       // only below the folder
        };
        for (const Case& c : cases) {
            const PathPattern pattern(c.pattern, base);
            QVERIFY2(pattern.problem().isEmpty(), c.pattern);
            QVERIFY2(pattern.matches(c.path) == c.matches,
                     qPrintable(QString("%1 on %2").arg(c.pattern, c.path)));
        }
        for (const char* unusable : {"", "/abs/*.xml", "../up/*.xml", "a/../b", "docs/**.xml"})
            QVERIFY2(!PathPattern(unusable, base).problem().isEmpty(), unusable);
    }

    // The same verdicts from the root and from a subfolder: the configuration's paths are its
    // own folder's. Excluded files found in folders are left out; named directly, checked.
    void twoFamiliesFromTheRootAndASubfolder() {
        Project p(kTwoFamilies);
        const QMap<QString, bool> expected{
            {"docs/a.xml", true},      {"docs/deep/er/b.xml", false}, {"notes/n1.xml", true},
            {"notes/n2.xml", false},   {"notes/sub/n3.xml", true},    {"free.xml", true},
            {"schemas/note.rng", true}};
        const Run fromRoot = check({"--format", "json", "--ext", "xml,rng"}, at(p.root));
        QCOMPARE(fromRoot.status, 1);
        QCOMPARE(p.verdicts(fromRoot, p.root), expected);
        QVERIFY2(fromRoot.err.contains("left out 2 files of the folders: 2 that the "
                                       "configuration excludes"),
                 qPrintable(fromRoot.err));
        const QString sub = p.root + "/notes/sub";
        const Run fromSub = check({"--format", "json", "--ext", "xml,rng"}, at(sub));
        QCOMPARE(p.verdicts(fromSub, sub), expected);

        const Run named = check({"--format", "json", "build/out.xml", "docs"}, at(p.root));
        QCOMPARE(p.verdicts(named, p.root), (QMap<QString, bool>{{"build/out.xml", false},
                                                                 {"docs/a.xml", true},
                                                                 {"docs/deep/er/b.xml", false}}));
        // --exclude adds to the configuration's, relative to the working folder; --no-config
        // checks with none of it.
        const Run more =
            check({"--exclude", "deep/", "--format", "json", "."}, at(p.root + "/docs"));
        QCOMPARE(p.verdicts(more, p.root + "/docs").keys(), QStringList{"docs/a.xml"});
        const Run none = check({"--no-config", "docs"}, at(p.root));
        QCOMPARE(none.status, 1);  // the generated file is checked, and b.xml is well-formed
        QVERIFY(none.out.contains("valid: docs/deep/er/b.xml"));

        const Run printed = check({"--print-config", "--exclude", "x/**"}, at(sub));
        QCOMPARE(printed.status, 0);
        QVERIFY2(printed.out.contains("\"build/**\",  # ../../.brellix.toml:2\n"),
                 qPrintable(printed.out));
        QVERIFY(printed.out.contains("\"x/**\",  # --exclude, below " + sub));
        QVERIFY(
            printed.out.contains("[[rule]]  # ../../.brellix.toml:8\n"
                                 "files = [\"notes/*.xml\"]\nrelaxng = \"schemas/note.rng\""));
        QVERIFY(printed.out.contains("include = [\".\"]  # default"));
        // A check on the command line replaces the rules for every file.
        const Run replaced =
            check({"--schema", p.root + "/schemas/doc.xsd", "notes/n1.xml"}, at(p.root));
        QCOMPARE(replaced.status, 1);
    }

    void gitIgnoredFilesAreLeftOut() {
        if (QStandardPaths::findExecutable("git").isEmpty())
            QFAIL("git is needed (scripts/install-deps installs it)");
        Project p("[files]\ngitignore = true\n");
        QProcess git;
        git.setWorkingDirectory(p.root);
        git.start("git", {"init", "-q", "."});
        QVERIFY(git.waitForFinished());
        p.env.write(".gitignore", "build/\n*.generated.xml\n");
        p.env.write("notes/.gitignore", "n2.xml\n");
        const Run run = check({"--format", "json"}, at(p.root + "/docs"));
        QCOMPARE(run.status, 0);
        QCOMPARE(p.verdicts(run, p.root + "/docs"),
                 (QMap<QString, bool>{{"docs/a.xml", true},
                                      {"docs/deep/er/b.xml", true},
                                      {"notes/n1.xml", true},
                                      {"notes/sub/n3.xml", true},
                                      {"free.xml", true}}));
        QVERIFY2(run.err.contains("3 that git ignores"), qPrintable(run.err));
        // Outside any work tree nothing is ignored.
        QVERIFY(QFile::remove(p.root + "/.git/HEAD"));
        QCOMPARE(check({}, at(p.root)).status, 1);
    }

    // One schema from two documents in two namespaces, from a rule and from the command line.
    void aRuleWithASchemaOfTwoDocuments() {
        Project p(
            "[[rule]]\nfiles = [\"orders/*.xml\"]\n"
            "xsd = [\"schemas/order.xsd\", \"schemas/party.xsd\"]\n");
        p.env.write("schemas/order.xsd",
                    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' "
                    "targetNamespace='urn:order' xmlns:p='urn:party' "
                    "elementFormDefault='qualified'>\n"
                    "  <xs:import namespace='urn:party'/>\n"
                    "  <xs:element name='order'><xs:complexType><xs:sequence>\n"
                    "    <xs:element ref='p:party'/>\n"
                    "  </xs:sequence></xs:complexType></xs:element>\n"
                    "</xs:schema>\n");
        p.env.write("schemas/party.xsd",
                    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema' "
                    "targetNamespace='urn:party'>\n"
                    "  <xs:element name='party' type='xs:positiveInteger'/>\n"
                    "</xs:schema>\n");
        p.env.write("orders/good.xml",
                    "<order xmlns='urn:order' xmlns:p='urn:party'><p:party>7</p:party></order>");
        p.env.write("orders/bad.xml",
                    "<order xmlns='urn:order' xmlns:p='urn:party'><p:party>-7</p:party></order>");
        const Run run = check({"--report", "orders"}, at(p.root));
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.contains("valid: orders/good.xml\n"), qPrintable(run.out + run.err));
        QVERIFY(run.out.contains("invalid: orders/bad.xml"));
        QVERIFY2(run.out.contains("positiveInteger"), qPrintable(run.out));
        const Run given = check({"--no-config", "--schema", "schemas/order.xsd", "--schema",
                                 "schemas/party.xsd", "orders/good.xml", "orders/bad.xml"},
                                at(p.root));
        QCOMPARE(given.status, 1);
        QCOMPARE(given.out, QString("valid: orders/good.xml\ninvalid: orders/bad.xml\n"));
    }

    // Documents that name a RELAX NG schema in an xml-model instruction, under a hints rule.
    void xmlModelRelaxNgUnderAHintsRule() {
        Project p("[[rule]]\nfiles = [\"feeds/**\"]\nhints = true\n");
        const QByteArray model =
            "<?xml version='1.0'?>\n"
            "<?xml-model href='../schemas/note.rng' "
            "schematypens='http://relaxng.org/ns/structure/1.0'?>\n";
        p.env.write("feeds/good.xml", model + "<note day='1'>x</note>");
        p.env.write("feeds/bad.xml", model + "<note day='x'>x</note>");
        const Run run = check({"feeds"}, at(p.root));
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, QString("invalid: feeds/bad.xml\nvalid: feeds/good.xml\n"));
    }

    // Every configuration that cannot be used stops the run with the file, line and reason.
    void configurationsThatCannotBeUsed() {
        struct Bad {
            QByteArray config;
            QString message;  // after "brellix-check: CONFIG:"
        };
        const Bad bad[] = {
            {"[files\n", "1: not TOML: "},
            {"[files]\nexclud = [\"x\"]\n", "2: unknown key \"exclud\" in [files]"},
            {"[files]\ngitignore = \"yes\"\n", "2: files.gitignore must be true or false"},
            {"[files]\nexclude = [3]\n", "2: files.exclude must hold strings only"},
            {"colour = true\n", "1: unknown key \"colour\" at the top"},
            {"[files]\nexclude = [\"/abs/**\"]\n", "2: a pattern is relative"},
            {"[files]\nexclude = [\"../up/**\"]\n", "2: \"../up/**\" climbs out"},
            {"[[rule]]\nfiles = [\"*.xml\"]\n", "1: a [[rule]] needs one check"},
            {"[[rule]]\nxsd = \"s.xsd\"\n", "1: a [[rule]] needs files"},
            {"[[rule]]\nfiles = [\"*.xml\"]\nhints = true\nplain = true\n",
             "1: a [[rule]] takes one check"},
            {"[[rule]]\nfiles = [\"*.xml\"]\n\nxsd = \"schemas/broken.xsd\"\n",
             "4: the schema 'schemas/broken.xsd' cannot be used: "},
            {"[files]\ncatalogs = [\"none.xml\"]\n", "2: the catalog '"},
            {"[files]\ncatalogs = [\"free.xml\"]\n", "2: the catalog '"},
        };
        Project p("");
        p.env.write("schemas/broken.xsd",
                    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
                    "<xs:element/></xs:schema>");
        p.env.write("free.xml", "<unclosed>");
        for (const Bad& b : bad) {
            p.env.write(".brellix.toml", b.config);
            const Run run = check({"."}, at(p.root + "/docs"));
            QCOMPARE(run.status, 2);
            QCOMPARE(run.out, QString());
            QVERIFY2(run.err.startsWith("brellix-check: ../.brellix.toml:" + b.message),
                     qPrintable(run.err));
        }
        const Run missing = check({"--config", "nothing.toml", "docs"}, at(p.root));
        QCOMPARE(missing.status, 2);
        QVERIFY2(missing.err.startsWith("brellix-check: nothing.toml: cannot be read"),
                 qPrintable(missing.err));
        const Run pattern = check({"--no-config", "--exclude", "a**", "docs"}, at(p.root));
        QCOMPARE(pattern.status, 2);
        QVERIFY(pattern.err.contains("--exclude: in \"a**\""));
    }

    // The common public DTDs are in the system catalog: an SVG 1.1 document that names its DTD
    // by its web address is checked against it, offline. One's own DTD comes through the
    // configuration's catalog, or --catalog.
    void dtdsKnownByTheirWebAddressAreCheckedOffline() {
        TestEnv env;
        const QByteArray head =
            "<?xml version='1.0'?>\n"
            "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\"\n"
            "  \"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n";
        const QString good =
            env.write("good.svg", head +
                                      "<svg xmlns='http://www.w3.org/2000/svg' version='1.1' "
                                      "width='10' height='10'><rect width='5' height='5'/></svg>");
        const QString bad = env.write("bad.svg", head +
                                                     "<svg xmlns='http://www.w3.org/2000/svg' "
                                                     "version='1.1'><banana/></svg>");
        const Run run = check({"--no-config", "--report", good, bad});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.startsWith("valid: " + good + "\ninvalid: " + bad), qPrintable(run.out));
        QVERIFY2(run.out.contains("banana"), qPrintable(run.out));

        Project p("[files]\ncatalogs = [\"catalog.xml\"]\n");
        // A catalog is read as libxml2 reads it: well-formed, its DTD unread.
        p.env.write("catalog.xml",
                    "<!DOCTYPE catalog SYSTEM 'not-here/catalog.dtd'>\n"
                    "<catalog xmlns='urn:oasis:names:tc:entity:xmlns:xml:catalog'>"
                    "<system systemId='https://example.com/book.dtd' uri='dtd/book.dtd'/>"
                    "</catalog>");
        p.env.write("dtd/book.dtd", "<!ELEMENT book (#PCDATA)>");
        const QByteArray doctype = "<!DOCTYPE book SYSTEM 'https://example.com/book.dtd'>\n";
        p.env.write("books/good.xml", doctype + "<book>x</book>");
        p.env.write("books/bad.xml", doctype + "<book><title/></book>");
        const Run own = check({"books"}, at(p.root));
        QCOMPARE(own.out, QString("invalid: books/bad.xml\nvalid: books/good.xml\n"));
        const Run given =
            check({"--no-config", "--catalog", "catalog.xml", "books/good.xml"}, at(p.root));
        QCOMPARE(given.status, 0);
        QCOMPARE(check({"--no-config", "books/good.xml"}, at(p.root)).status, 1);
    }
};

QTEST_MAIN(TestProject)
#include "test_project.moc"
