// brellix-check --cache: results reused only while nothing that could change them changed, and
// the same output as a fresh check; a cache that cannot be used costs a warning, never a wrong
// verdict.

#include "tests/support/CoreTestEnv.h"
#include "tests/support/FileContent.h"
#include "tests/support/RunCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <unistd.h>

namespace {

// A small project: documents with an external DTD, an external entity, a schema of two
// documents (one includes the other) and a catalog.
struct Cached {
    TestEnv env;
    QString cache;
    Cached() {
        cache = env.path("cache");
        env.write("shared.dtd", "<!ELEMENT doc (#PCDATA)>\n<!ATTLIST doc n CDATA #IMPLIED>\n");
        env.write("plain.xml", "<doc>x</doc>");
        env.write("broken.xml", "<doc>x</dox>\n<more/>");
        env.write("dtd.xml", "<!DOCTYPE doc SYSTEM 'shared.dtd'>\n<doc n='1'>x</doc>");
        env.write("entity.xml",
                  "<!DOCTYPE doc [<!ELEMENT doc (#PCDATA)><!ENTITY e SYSTEM "
                  "'part.txt'>]>\n<doc>&e;</doc>");
        env.write("part.txt", "text");
        env.write("catalogued.xml",
                  "<!DOCTYPE doc PUBLIC '-//Example//DTD Doc//EN' 'http://example.com/doc.dtd'>\n"
                  "<doc n='1'>x</doc>");
        env.write("one.dtd", "<!ELEMENT doc (#PCDATA)>\n<!ATTLIST doc n CDATA #IMPLIED>\n");
        env.write("two.dtd", "<!ELEMENT doc EMPTY>\n");
        catalogTo("one.dtd");
        env.write("schema/main.xsd",
                  "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>\n"
                  "  <xs:include schemaLocation='part.xsd'/>\n"
                  "  <xs:element name='item' type='itemType'/>\n"
                  "</xs:schema>\n");
        partOfSchema("xs:string");
        env.write("typed/i1.xml", "<item>12</item>");
    }
    void catalogTo(const QString& dtd) const {
        env.write("catalog.xml",
                  "<catalog xmlns='urn:oasis:names:tc:entity:xmlns:xml:catalog'>\n"
                  "  <public publicId='-//Example//DTD Doc//EN' uri='" +
                      dtd.toUtf8() + "'/>\n</catalog>\n");
    }
    void partOfSchema(const QByteArray& type) const {
        env.write("schema/part.xsd",
                  "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>\n"
                  "  <xs:simpleType name='itemType'><xs:restriction base='" +
                      type + "'/></xs:simpleType>\n</xs:schema>\n");
    }
    Run run(QStringList arguments, const Start& given = {}) const {
        Start start = given;
        if (start.folder.isEmpty())
            start.folder = env.path(".");
        arguments.prepend(cache);
        arguments.prepend("--cache-location");
        arguments.prepend("--cache");
        return check(arguments, start);
    }
    // The default check of the documents, json.
    Run documents(const QStringList& more = {}, const Start& start = {}) const {
        return run(
            QStringList{"--no-config", "--format", "json", "--catalog", "catalog.xml"} + more +
                QStringList{"plain.xml", "broken.xml", "dtd.xml", "entity.xml", "catalogued.xml"},
            start);
    }
};

QJsonObject summaryOf(const Run& run) {
    return QJsonDocument::fromJson(run.out.toUtf8())["summary"].toObject();
}

// "cached/checked" of a json run.
QString counts(const Run& run) {
    const QJsonObject summary = summaryOf(run);
    return QStringLiteral("%1/%2").arg(summary["cached"].toInt()).arg(summary["checked"].toInt());
}

QJsonArray filesOf(const Run& run) {
    return QJsonDocument::fromJson(run.out.toUtf8())["files"].toArray();
}

bool validIn(const Run& run, const QString& path) {
    for (const QJsonValue f : filesOf(run))
        if (f["path"].toString() == path)
            return f["valid"].toBool();
    qFatal("no verdict for %s", qPrintable(path));
}

Start at(const QString& folder) {
    Start start;
    start.folder = folder;
    return start;
}

Start as(const QString& program) {
    Start start;
    start.program = program;
    return start;
}

// Sets a file's modification time an hour back, as a checkout long ago would have left it.
void ageFile(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                             QFileDevice::FileModificationTime));
}

}  // namespace

class TestCache : public QObject {
    Q_OBJECT

private slots:
    // The second run takes every result from the cache, and says so, with the output of a fresh
    // check in every format, the report, every error and the lists included.
    void unchangedFilesComeFromTheCacheUnaltered() {
        Cached c;
        const Run first = c.documents();
        QCOMPARE(first.status, 1);
        QCOMPARE(counts(first), QString("0/5"));
        const Run second = c.documents();
        QCOMPARE(counts(second), QString("5/0"));
        QVERIFY2(second.err.contains("5 results from the cache, 0 files checked"),
                 qPrintable(second.err));
        QCOMPARE(filesOf(second), filesOf(first));
        QVERIFY(!validIn(second, "broken.xml") && validIn(second, "dtd.xml") &&
                validIn(second, "entity.xml") && validIn(second, "catalogued.xml"));
        // Without --cache the summary says nothing came from it.
        const Run plain =
            check({"--no-config", "--format", "json", "plain.xml"}, at(c.env.path(".")));
        QCOMPARE(counts(plain), QString("0/1"));

        const QStringList files{"plain.xml", "broken.xml", "dtd.xml", "entity.xml",
                                "catalogued.xml"};
        for (const QStringList& options :
             {QStringList{"--format", "text", "--report"}, QStringList{"--format", "gnu"},
              QStringList{"--format", "github", "--all-errors"}, QStringList{"--format", "sarif"},
              QStringList{"--format", "json", "--all-errors", "--report"}}) {
            const QStringList arguments =
                QStringList{"--no-config", "--catalog", "catalog.xml"} + options + files +
                QStringList{"--valid-list", "v.txt", "--invalid-list", "i.txt"};
            const Run fresh = check(arguments, at(c.env.path(".")));
            const QByteArray validList = ContentOf(c.env.path("v.txt"));
            const QByteArray invalidList = ContentOf(c.env.path("i.txt"));
            c.run(arguments);
            const Run reused = c.run(arguments);
            QVERIFY2(reused.err.contains("5 results from the cache"), qPrintable(reused.err));
            if (options.contains("json"))
                QCOMPARE(filesOf(reused), filesOf(fresh));
            else
                QCOMPARE(reused.out, fresh.out);
            QCOMPARE(reused.status, fresh.status);
            QCOMPARE(ContentOf(c.env.path("v.txt")), validList);
            QCOMPARE(ContentOf(c.env.path("i.txt")), invalidList);
        }
    }

    // Each thing a check read, or was asked, makes its file checked again when it changes; the
    // other files still come from the cache, and the new verdicts are the fresh ones.
    void whatChangedIsCheckedAgain() {
        Cached c;
        c.documents();
        // The document itself: the same size and modification time do not hide a change.
        ageFile(c.env.path("plain.xml"));
        c.documents();
        QCOMPARE(counts(c.documents()), QString("5/0"));
        c.env.write("plain.xml", "<doc>y</dox>");
        ageFile(c.env.path("plain.xml"));
        Run run = c.documents();
        QCOMPARE(counts(run), QString("4/1"));
        QVERIFY(!validIn(run, "plain.xml"));
        // Rewritten with the very same content: still from the cache.
        c.env.write("broken.xml", "<doc>x</dox>\n<more/>");
        QCOMPARE(counts(c.documents()), QString("5/0"));
        // The external DTD.
        c.env.write("shared.dtd", "<!ELEMENT doc EMPTY>\n<!ATTLIST doc n CDATA #IMPLIED>\n");
        run = c.documents();
        QCOMPARE(counts(run), QString("4/1"));
        QVERIFY(!validIn(run, "dtd.xml"));
        // An external entity.
        c.env.write("part.txt", "<unclosed>");
        run = c.documents();
        QCOMPARE(counts(run), QString("4/1"));
        QVERIFY(!validIn(run, "entity.xml"));
        // A file that was looked for and missing, now there.
        c.env.write("entity.xml",
                    "<!DOCTYPE doc [<!ELEMENT doc (#PCDATA)><!ENTITY e SYSTEM "
                    "'later.txt'>]>\n<doc>&e;</doc>");
        QVERIFY(!validIn(c.documents(), "entity.xml"));
        c.env.write("later.txt", "text");
        run = c.documents();
        QCOMPARE(counts(run), QString("4/1"));
        QVERIFY(validIn(run, "entity.xml"));
        // The catalog: the same public identifier now names another DTD.
        c.catalogTo("two.dtd");
        run = c.documents();
        QCOMPARE(counts(run), QString("4/1"));
        QVERIFY(!validIn(run, "catalogued.xml"));
        // An option that changes what is reported.
        QCOMPARE(counts(c.documents({"--all-errors"})), QString("0/5"));
        QCOMPARE(counts(c.documents({"--all-errors"})), QString("5/0"));
        // The report's text is made from the result: it needs no check again.
        QCOMPARE(counts(c.documents({"--report"})), QString("5/0"));

        // A schema document that the schema includes.
        const QStringList typed{"--no-config", "--format",        "json",
                                "--schema",    "schema/main.xsd", "typed/i1.xml"};
        QVERIFY(validIn(c.run(typed), "typed/i1.xml"));
        QCOMPARE(counts(c.run(typed)), QString("1/0"));
        c.partOfSchema("xs:boolean");
        run = c.run(typed);
        QCOMPARE(counts(run), QString("0/1"));
        QVERIFY(!validIn(run, "typed/i1.xml"));

        // Another build of the program: nothing is reused.
        const QString copy = c.env.path("bin/brellix-check");
        QVERIFY(QDir().mkpath(c.env.path("bin")));
        QVERIFY(QFile::copy(BuildProgramFolder() + "/brellix-check", copy));
        run = c.documents({}, as(copy));
        QCOMPARE(counts(run), QString("0/5"));
        QVERIFY2(run.err.contains("was written by another build"), qPrintable(run.err));
    }

    // A damaged, cut short or foreign cache file is not used, with one warning, and is
    // written afresh; --cache-clear empties the cache.
    void damagedCachesAreNotUsed() {
        Cached c;
        c.documents();
        const QString file = c.cache + "/verdicts";
        QByteArray bytes = ContentOf(file);
        QVERIFY(bytes.size() > 100);
        for (const QByteArray& damaged :
             {QByteArray(bytes).replace(bytes.size() / 2, 1, "\x7f"), bytes.left(bytes.size() - 9),
              QByteArray(), QByteArray("not a cache at all, though long enough to be read")}) {
            c.env.write("cache/verdicts", damaged);
            const Run run = c.documents();
            QCOMPARE(counts(run), QString("0/5"));
            QCOMPARE(run.err.count("is damaged or cut short"), 1);
            QCOMPARE(run.status, 1);
            QCOMPARE(counts(c.documents()), QString("5/0"));
        }
        const Run cleared = c.run({"--cache-clear"});
        QCOMPARE(cleared.status, 0);
        QVERIFY(!QFile::exists(file));
        QCOMPARE(counts(c.documents()), QString("0/5"));
    }

    // Two runs that share the cache at the same time both keep what they checked.
    void concurrentRunsLoseNothing() {
        Cached c;
        QStringList left;
        QStringList right;
        for (int i = 0; i < 200; ++i) {
            (i % 2 ? left : right).append(c.env.write(QString("many/f%1.xml").arg(i), "<a/>"));
        }
        const auto start = [&](const QStringList& files) {
            auto process = std::make_unique<QProcess>();
            process->setWorkingDirectory(c.env.path("."));
            process->start(
                BuildProgramFolder() + "/brellix-check",
                QStringList{"--cache", "--cache-location", c.cache, "--no-config", "-j", "1"} +
                    files);
            return process;
        };
        for (int round = 0; round < 3; ++round) {
            const auto a = start(left);
            const auto b = start(right);
            QVERIFY(a->waitForFinished(60000) && b->waitForFinished(60000));
            QCOMPARE(a->exitCode(), 0);
            QCOMPARE(b->exitCode(), 0);
        }
        const Run all = c.run(QStringList{"--no-config", "--format", "json"} + left + right);
        QCOMPARE(counts(all), QString("200/0"));
    }

    // Where the cache is kept without --cache-location: beside the configuration (and left
    // out of git), else in the user's cache folder.
    void defaultPlaces() {
        Cached c;
        c.env.write("project/.brellix.toml", "[files]\n");
        c.env.write("project/sub/a.xml", "<a/>");
        Start start = at(c.env.path("project/sub"));
        start.environment = {"XDG_CACHE_HOME=" + c.env.path("xdg")};
        QCOMPARE(check({"--cache", "a.xml"}, start).status, 0);
        QVERIFY(QFile::exists(c.env.path("project/.brellix-cache/verdicts")));
        QCOMPARE(ContentOf(c.env.path("project/.brellix-cache/.gitignore")),
                 QByteArray("# Made by brellix-check --cache.\n*\n"));
        const Run again = check({"--cache", "a.xml"}, start);
        QVERIFY2(again.err.contains("1 result from the cache, 0 files checked"),
                 qPrintable(again.err));
        QCOMPARE(check({"--cache", "--no-config", "a.xml"}, start).status, 0);
        QVERIFY(QFile::exists(c.env.path("xdg/brellix/verdicts")));
    }

    // A cache folder that cannot be written: the run goes on without the cache.
    void unwritableCacheFolder() {
        Cached c;
        // As root, permissions do not stop a write: /proc holds folders that nobody can write.
        const QString folder = ::geteuid() == 0 ? QString("/proc/self/brellix-cache") : c.cache;
        if (::geteuid() != 0) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        const Run run = check({"--cache", "--cache-location", folder, "--no-config", "--format",
                               "json", "plain.xml", "broken.xml"},
                              at(c.env.path(".")));
        QCOMPARE(run.status, 1);
        QCOMPARE(counts(run), QString("0/2"));
        QVERIFY2(run.err.contains("checking without the cache"), qPrintable(run.err));
        QCOMPARE(run.err.count('\n'), 1);
    }
};

QTEST_GUILESS_MAIN(TestCache)
#include "test_cache.moc"
