// brellix-check, run as a separate program the way scripts and CI run it.

#include "tests/support/CheckCorpus.h"
#include "tests/support/CoreTestEnv.h"
#include "tests/support/LibxmlRelease.h"
#include "tests/support/RunCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <QXmlStreamReader>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

// Runs a validator (xmllint, Python's jsonschema) on a report; its messages when it fails.
QString validatorComplaint(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return program + " did not run: " + process.errorString();
    if (process.exitCode() == 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
}

QString junitComplaint(const TestEnv& env, const QString& xml) {
    const QString file = env.write("report-junit.xml", xml.toUtf8());
    return validatorComplaint(
        "xmllint", {"--noout", "--schema", QString(BRELLIX_SOURCE_DIR) + "/tests/junit.xsd", file});
}

QString sarifComplaint(const TestEnv& env, const QString& json) {
    const QString file = env.write("report.sarif", json.toUtf8());
    // Debian's interpreter, which has python3-jsonschema.
    return validatorComplaint(
        "/usr/bin/python3",
        {"-c",
         "import json, sys, jsonschema\n"
         "schema = json.load(open(sys.argv[1]))\n"
         "jsonschema.Draft7Validator.check_schema(schema)\n"
         "jsonschema.Draft7Validator(schema).validate(json.load(open(sys.argv[2])))\n",
         QString(BRELLIX_SOURCE_DIR) + "/tests/sarif-2.1.0-subset.schema.json", file});
}

QString schemaFile(const QString& name) {
    return QStringLiteral(BRELLIX_SOURCE_DIR "/tests/schemas/") + name;
}

QStringList lines(const QString& text) {
    return text.split('\n', Qt::SkipEmptyParts);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void helpVersionAndUsageErrors() {
        const Run help = check({"--help"});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains("--valid-list"));
        QVERIFY(help.out.contains("Exit status"));
        const Run version = check({"--version"});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QString("brellix-check %1\nlibxml2 %2\n")
                                  .arg(BRELLIX_VERSION, ByRelease("2.9.14", "2.15.4")));

        struct Bad {
            QStringList arguments;
            const char* message;
        };
        const Bad bad[] = {
            {{}, "no PATH given"},
            {{"--frobnicate", "x"}, "frobnicate"},
            {{"--format", "yaml", "x"}, "unknown format 'yaml'"},
            {{"-j", "0", "x"}, "-j needs a number"},
            {{"-j", "many", "x"}, "-j needs a number"},
            {{"--ext", "", "x"}, "--ext needs an extension"},
            {{"--ext", "xml,", "x"}, "--ext needs an extension"},
            {{"--valid-list", "", "x"}, "--valid-list needs a file name"},
            {{"--invalid-list=", "x"}, "--invalid-list needs a file name"},
            {{"--files-from", ""}, "--files-from needs a file name"},
            {{"-0", "x"}, "-0 needs --files-from"},
            {{"-", "--files-from", "-"}, "standard input can be read only once"},
            {{"--shard", "0/2", "x"}, "--shard needs K/N"},
            {{"--shard", "3/2", "x"}, "--shard needs K/N"},
            {{"--shard", "1", "x"}, "--shard needs K/N"},
        };
        for (const Bad& b : bad) {
            const Run run = check(b.arguments);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains(b.message), qPrintable(run.err));
            QVERIFY(run.out.isEmpty());
        }
    }

    // A PATH that cannot be read is reported in every format, and the others are still checked.
    void unreadableArgumentIsReportedAndTheRunGoesOn() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        const QString bad = env.write("bad.xml", "<a>");
        const QString missing = env.path("missing.xml");
        const Run run = check({good, missing, bad});
        QCOMPARE(run.status, 2);
        QCOMPARE(run.out, "valid: " + good + "\ninvalid: " + missing + "\ninvalid: " + bad + "\n");
        // The run ends with its counts.
        const QRegularExpression summary(
            "^brellix-check: cannot read '.*': no such file or folder\n"
            "brellix-check: 3 files: 1 valid, 2 invalid, 0 skipped, in [0-9]+\\.[0-9]{2} s\n$");
        QVERIFY2(summary.match(run.err).hasMatch(), qPrintable(run.err));
        QVERIFY(check({"--quiet", good, missing, bad}).err.count('\n') == 1);
        // A path through a file: the system's reason.
        const QString through = good + "/a.xml";
        QVERIFY(check({through}).err.startsWith(
            "brellix-check: cannot read '" + through +
            "': " + QString::fromLocal8Bit(std::strerror(ENOTDIR)) + "\n"));

        const Run json = check({"--format", "json", good, missing});
        QCOMPARE(json.status, 2);
        const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8()).object();
        const QJsonObject entry = root["files"].toArray()[1].toObject();
        QCOMPARE(entry["unreadable"].toString(), "no such file or folder");
        QCOMPARE(entry["error"].toObject()["code"].toInt(), 1549);
        QCOMPARE(root["summary"].toObject()["unreadable"].toInt(), 1);

        const Run junit = check({"--format", "junit", good, missing, bad});
        QCOMPARE(junit.status, 2);
        QVERIFY(junit.out.contains("errors=\"1\""));
        QVERIFY(junit.out.contains("<error message=\"failed to load"));
        QVERIFY(junit.out.contains("type=\"unreadable\""));
        QCOMPARE(junitComplaint(env, junit.out), QString());
        for (const char* format : {"gnu", "github", "sarif"}) {
            const Run other = check({"--format", format, good, missing});
            QCOMPARE(other.status, 2);
            QVERIFY2(other.out.contains(missing), format);
        }

        // A folder that cannot be listed (not as root: root reads every folder).
        if (::geteuid() != 0) {
            env.write("locked/a.xml", "<a/>");
            QFile::setPermissions(env.path("locked"), QFile::WriteOwner);
            const Run locked = check({env.path("locked"), good});
            QFile::setPermissions(env.path("locked"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QCOMPARE(locked.status, 2);
            QVERIFY(locked.out.endsWith("valid: " + good + "\n"));
            QVERIFY(locked.err.contains("cannot read '" + env.path("locked") + "'"));
        }
    }

    // A run that checked no file fails and says what it searched; --ext takes a leading dot and
    // a list.
    void emptyRunsFailAndExtensionForms() {
        TestEnv env;
        const QString tree = MakeCheckCorpus(env);
        QDir().mkpath(env.path("empty"));
        const Run dotted = check({"--ext", ".xml", tree});
        QCOMPARE(dotted.status, 1);
        QCOMPARE(lines(dotted.out).size(), 5);
        QCOMPARE(check({"--ext", "xml", tree}).out, dotted.out);

        const Run listed = check({"--ext", "txt,.xml", tree});
        QCOMPARE(lines(listed.out).size(), 6);
        QCOMPARE(lines(listed.out).first(), "invalid: " + tree + "/notes.txt");
        QCOMPARE(lines(listed.out)[1], "valid: " + tree + "/a.xml");
        // Overlapping extensions still check each file once.
        QCOMPARE(lines(check({"--ext", "xml,*", tree}).out).size(), 8);

        const Run typo = check({"--ext", "xsd,json", tree, env.path("empty")});
        QCOMPARE(typo.status, 2);
        QVERIFY(typo.out.isEmpty());
        QVERIFY2(typo.err.contains("no file to check: no file matching *.xsd, *.json in '" + tree +
                                   "', '" + env.path("empty") + "' or their subfolders"),
                 qPrintable(typo.err));
        QCOMPARE(check({env.path("empty")}).status, 2);
        QVERIFY(check({"--help"})
                    .out.simplified()
                    .contains("with or without the dot, several separated by commas"));
    }

    // "-" is standard input; a pipe or FIFO named on the command line is read like a file.
    void standardInputPipesAndDevices() {
        TestEnv env;
        env.write("doc.dtd", "<!ELEMENT doc EMPTY>");
        const QByteArray withDtd = "<!DOCTYPE doc SYSTEM \"doc.dtd\"><doc/>";
        Start start;
        start.input = withDtd;
        start.folder = env.path(".");
        // Relative references resolve from the working folder.
        Run run = check({"--report", "-"}, start);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, "valid: -\n");
        start.input = "<doc><a></doc>";
        run = check({"--report", "-"}, start);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.startsWith("invalid: - - Your XML Document"), qPrintable(run.out));
        QVERIFY(run.out.endsWith("Document URL: -\n"));
        start.input = "<a/>";
        QCOMPARE(check({"/dev/stdin"}, start).out, "valid: /dev/stdin\n");
        start.input = "";
        QCOMPARE(check({"-"}, start).status, 1);

        const QString fifo = env.path("pipe.xml");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QProcess writer;
        writer.start("sh", {"-c", "printf '<a/>' > \"$0\"", fifo});
        run = check({fifo});
        writer.waitForFinished();
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, "valid: " + fifo + "\n");
        QCOMPARE(check({"/dev/null"}).out, "invalid: /dev/null\n");
        // The folder scans keep leaving FIFOs out.
        const Run scan = check({"--format", "json", env.path(".")});
        QCOMPARE(scan.status, 2);
        QVERIFY(scan.err.contains("no file to check"));
        QVERIFY(scan.err.contains("1 not a regular file that can be opened"));
    }

    void skippedFilesAreCounted() {
        TestEnv env;
        const QString tree = MakeCheckCorpus(env);
        env.write("tree/.hidden.xml", "<a/>");
        env.write("tree/sub/~lock.xml", "<a/>");
        const Run run = check({tree});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.startsWith("brellix-check: skipped 3 matching files in the folders: 1 "
                                    "hidden (name starting with \".\"), 2 with a name starting "
                                    "with \"~\"\nbrellix-check: 5 files: 2 valid, 3 invalid, 3 "
                                    "skipped, in "),
                 qPrintable(run.err));
        const QJsonObject summary =
            QJsonDocument::fromJson(check({"--format", "json", tree}).out.toUtf8())
                .object()["summary"]
                .toObject();
        QCOMPARE(summary["skipped"].toInt(), 3);
        QCOMPARE(summary["skippedBy"].toObject()["hidden"].toInt(), 1);
        QCOMPARE(summary["skippedBy"].toObject()["tilde"].toInt(), 2);
        QVERIFY(check({"--quiet", tree}).err.isEmpty());
        // A file named directly is checked whatever its name.
        QCOMPARE(check({env.path("tree/.hidden.xml")}).out,
                 "valid: " + env.path("tree/.hidden.xml") + "\n");
    }

    // --valid-list and --invalid-list never overwrite each other or a file to check.
    void listFilesThatWouldLoseDataAreRefused() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        const QString bad = env.write("bad.xml", "<a>");
        const QString tree = MakeCheckCorpus(env);
        QVERIFY(::link(QFile::encodeName(good).constData(),
                       QFile::encodeName(env.path("hard.xml")).constData()) == 0);
        const QString list = env.path("s.txt");
        struct Case {
            QStringList arguments;
            const char* message;
        };
        const Case cases[] = {
            {{"--valid-list", list, "--invalid-list", list, good}, "name the same file"},
            {{"--valid-list", list, "--invalid-list", env.path("./s.txt"), good},
             "name the same file"},
            {{"--invalid-list", bad, bad}, "is also a file to check"},
            {{"--valid-list", env.path("hard.xml"), good}, "is also a file to check"},
            {{"--invalid-list", tree + "/sub/bad.xml", tree}, "is also a file to check"},
            {{"--output", "json:" + bad, bad}, "the output file"},
            {{"--valid-list", list, "--output", "junit:" + list, good}, "another output or list"},
            {{"--output", "gnu:" + list, "--output", "text:" + env.path("./s.txt"), good},
             "another output or list"},
            {{"--output", "junit", good}, "--output needs FORMAT:FILE"},
            {{"--output", "pdf:x.pdf", good}, "unknown format 'pdf' in --output"},
        };
        for (const Case& c : cases) {
            const Run run = check(c.arguments);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains(c.message), qPrintable(run.err));
            QVERIFY(run.out.isEmpty());
        }
        // Two names of one existing file are one file too.
        env.write("s.txt", "");
        QVERIFY(QFile::link(list, env.path("link.txt")));
        QCOMPARE(check({"--valid-list", list, "--invalid-list", env.path("link.txt"), good}).status,
                 2);
        QCOMPARE(readAll(good), QByteArray("<a/>"));
        QCOMPARE(readAll(bad), QByteArray("<a>"));
        QCOMPARE(readAll(tree + "/sub/bad.xml"),
                 QByteArray("<!DOCTYPE doc SYSTEM \"doc.dtd\"><doc><para/></doc>"));
    }

    // Output that cannot be written is a failure, never a success.
    void lostOutputEndsWithStatusTwo() {
        if (!QFile::exists("/dev/full"))
            QSKIP("no /dev/full");
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        for (const char* format : {"text", "json", "junit", "sarif"}) {
            Start start;
            start.outFile = "/dev/full";
            const Run run = check({"--format", format, good}, start);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains("cannot write the output"), qPrintable(run.err));
        }
        Start full;
        full.outFile = "/dev/full";
        QCOMPARE(check({"--help"}, full).status, 2);
        // A message that cannot be written still shows in the status.
        env.write("tree/~skipped.xml", "<a/>");
        env.write("tree/a.xml", "<a/>");
        QCOMPARE(check({env.path("tree")}).status, 0);
        Start noErrors;
        noErrors.errFile = "/dev/full";
        QCOMPARE(check({env.path("tree")}, noErrors).status, 2);
    }

    // Two json runs over the same files compare equal; --timing adds the run time.
    void jsonWithoutTimingComparesEqual() {
        TestEnv env;
        const QString tree = MakeCheckCorpus(env);
        const Run first = check({"--format", "json", tree});
        const Run second = check({"--format", "json", "-j", "1", tree});
        QCOMPARE(first.out, second.out);
        QVERIFY(!first.out.contains("seconds"));
        const QJsonObject timed =
            QJsonDocument::fromJson(check({"--format", "json", "--timing", tree}).out.toUtf8())
                .object();
        QVERIFY(timed["summary"].toObject()["seconds"].isDouble());
    }

    // One run writes the console's format and every --output, each as a run of its own format
    // would; an output that cannot be written fails the run and leaves the others written.
    void severalReportsFromOneRun() {
        TestEnv env;
        const QString tree = MakeCheckCorpus(env);
        const QStringList outputs{
            "--output", "json:" + env.path("r.json"), "--output", "gnu:" + env.path("r.gnu"),
            "--output", "junit:" + env.path("r.xml"), "--output", "sarif:" + env.path("r.sarif")};
        const Run run = check(QStringList{"--report", tree} + outputs);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, check({"--report", tree}).out);
        QCOMPARE(readAll(env.path("r.json")),
                 check({"--report", "--format", "json", tree}).out.toUtf8());
        QCOMPARE(readAll(env.path("r.gnu")), check({"--format", "gnu", tree}).out.toUtf8());
        const QString junit = QString::fromUtf8(readAll(env.path("r.xml")));
        QVERIFY2(junitComplaint(env, junit).isEmpty(), qPrintable(junitComplaint(env, junit)));
        QCOMPARE(junit.count("<testcase "),
                 check({"--format", "junit", tree}).out.count("<testcase "));
        const QString sarif = QString::fromUtf8(readAll(env.path("r.sarif")));
        QVERIFY2(sarifComplaint(env, sarif).isEmpty(), qPrintable(sarifComplaint(env, sarif)));
        QCOMPARE(sarif, check({"--format", "sarif", tree}).out);

        QVERIFY(QFile::remove(env.path("r.gnu")));
        const Run lost = check({tree, "--output", "json:" + env.path("missing/r.json"), "--output",
                                "gnu:" + env.path("r.gnu")});
        QCOMPARE(lost.status, 2);
        QVERIFY2(lost.err.contains("cannot write the output file"), qPrintable(lost.err));
        QVERIFY(QFile::exists(env.path("r.gnu")));
    }

    void exitStatusAndLinesInInputOrderWhateverTheThreads() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        const QString bad = env.write("bad.xml", "<a>");
        QCOMPARE(check({good}).status, 0);
        QCOMPARE(check({good}).out, "valid: " + good + "\n");

        QStringList files;
        QString expected;
        for (int i = 0; i < 40; ++i) {
            const bool valid = i % 4 != 1;
            files << (valid ? good : bad);
            expected += (valid ? "valid: " : "invalid: ") + files.last() + "\n";
        }
        for (const char* jobs : {"1", "2", "7"}) {
            const Run run = check(QStringList{"-j", jobs} + files);
            QCOMPARE(run.status, 1);
            QCOMPARE(run.out, expected);
        }
    }

    void remoteCatalogsAreSkippedOnTheWorkersWithAWarning() {
        // The checks run on worker threads, which must not fetch a chained remote catalog
        // either (port 9 on this machine: a connection attempt would make the file invalid).
        TestEnv env;
        const QString catalog =
            env.write("catalog.xml",
                      "<?xml version=\"1.0\"?>\n<catalog "
                      "xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\">\n"
                      "<nextCatalog catalog=\"http://127.0.0.1:9/next.xml\"/>\n</catalog>\n");
        env.write("a.dtd", "<!ELEMENT a EMPTY>\n");
        const QString doc =
            env.write("doc.xml", "<!DOCTYPE a PUBLIC \"-//None//EN\" \"a.dtd\">\n<a/>\n");
        Start start;
        start.environment << "XML_CATALOG_FILES=" + catalog;
        const Run run = check({"-j", "2", doc, doc}, start);
        QCOMPARE(run.out, "valid: " + doc + "\nvalid: " + doc + "\n");
        QCOMPARE(run.err.count("brellix-check: warning: skipped the XML catalog "
                               "\"http://127.0.0.1:9/next.xml\""),
                 1);
    }

    void reportIsTheWindowsReport() {
        TestEnv env;
        const QString bad = env.write("bad.xml", "<a>\n<b></a>");
        const Run run = check({"--report", bad});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.out.startsWith("invalid: " + bad +
                                    " - Your XML Document failed to loaddue the following error.\n"
                                    "Error #: 76: Opening and ending tag mismatch: b line 2 and a\n"
                                    "Line #: 2\n"),
                 qPrintable(run.out));
        QVERIFY(run.out.endsWith("Document URL: " + bad + "\n"));
        QVERIFY(!run.out.contains('\r'));
    }

    void jsonAndJunitShapes() {
        TestEnv env;
        const QString tree = MakeCheckCorpus(env);
        const Run json = check({"--format", "json", tree});
        QCOMPARE(json.status, 1);
        QJsonParseError error{};
        const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray files = root["files"].toArray();
        QCOMPARE(files.size(), 5);
        QCOMPARE(root["summary"].toObject()["valid"].toInt(), 2);
        QCOMPARE(root["summary"].toObject()["invalid"].toInt(), 3);
        QCOMPARE(files[0].toObject()["path"].toString(), tree + "/a.xml");
        QCOMPARE(files[0].toObject()["valid"].toBool(), true);
        QVERIFY(!files[0].toObject().contains("error"));
        const QJsonObject invalid = files[1].toObject();
        QCOMPARE(invalid["valid"].toBool(), false);
        QCOMPARE(invalid["error"].toObject()["code"].toInt(), 76);
        QCOMPARE(invalid["error"].toObject()["line"].toInt(), 1);
        QVERIFY(!invalid["error"].toObject()["reason"].toString().endsWith('\n'));
        QVERIFY(invalid["report"].toString().startsWith("Your XML Document failed to loaddue"));

        const Run junit = check({"--format", "junit", "-j", "2", tree});
        QCOMPARE(junit.status, 1);
        QXmlStreamReader xml(junit.out);
        int cases = 0;
        int failures = 0;
        QString suiteFailures;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("testsuite"))
                suiteFailures = xml.attributes().value("failures").toString();
            cases += xml.name() == QLatin1String("testcase");
            failures += xml.name() == QLatin1String("failure");
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(cases, 5);
        QCOMPARE(failures, 3);
        QCOMPARE(suiteFailures, "3");
    }

    // gnu and github: one line per error at its place; valid files print nothing.
    void editorAndWorkflowLines() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        const QString bad = env.write("bad.xml", "<a>\n<b></a>");
        const QString odd = env.write("a,b:c.xml", "<a>");
        env.write("broken.dtd", "<!ELEMENT doc EMPTY>\n<!ELEMENT");
        const QString usesDtd = env.write("uses.xml", "<!DOCTYPE doc SYSTEM \"broken.dtd\"><doc/>");
        const Run gnu = check({"--format", "gnu", good, bad, usesDtd});
        QCOMPARE(gnu.status, 1);
        const QStringList gnuLines = lines(gnu.out);
        QCOMPARE(gnuLines.size(), 2);
        QCOMPARE(gnuLines[0], bad + ":2:8: error: Opening and ending tag mismatch: b line 2 and a");
        // An error in the DTD points at the DTD and names the checked file.
        QVERIFY2(gnuLines[1].startsWith(env.path("broken.dtd") + ":2:"), qPrintable(gnuLines[1]));
        QVERIFY(gnuLines[1].endsWith("(while checking " + usesDtd + ")"));
        QVERIFY(check({"--format", "gnu", good}).out.isEmpty());

        const Run github = check({"--format", "github", good, bad, odd});
        QCOMPARE(github.status, 1);
        QCOMPARE(
            lines(github.out),
            QStringList({"::error file=" + bad +
                             ",line=2,col=8,title=XML error 76::Opening and ending tag "
                             "mismatch: b line 2 and a",
                         "::error file=" + QString(odd).replace(",", "%2C").replace(":", "%3A") +
                             ",line=1,col=4,title=XML error 77::Premature end of data in tag "
                             "a line 1"}));
    }

    // SARIF and JUnit validate against their schemas, whatever the paths and reports hold.
    // With --format github the job's summary gets every failure GitHub's annotations would
    // leave out: the counts, then the invalid files with their first error, up to a bound.
    void githubJobSummary() {
        constexpr int kStepSummaryRows = 50;  // the rows it lists at most
        TestEnv env;
        for (int i = 0; i < kStepSummaryRows + 3; ++i)
            env.write(QString("t/bad%1.xml").arg(i, 2, 10, QChar('0')), "<a>|`<b>");
        env.write("t/good.xml", "<a/>");
        const QString summary = env.write("summary.md", "before\n");
        Start start;
        start.environment = {"GITHUB_STEP_SUMMARY=" + summary};
        const Run run = check({"--format", "github", env.path("t")}, start);
        QCOMPARE(run.status, 1);
        const QString text = QString::fromUtf8(readAll(summary));
        QVERIFY2(text.startsWith(QString("before\n### brellix-check\n\n%1 files: 1 valid, %2 "
                                         "invalid, 0 skipped\n\n| File | Line | First error |")
                                     .arg(kStepSummaryRows + 4)
                                     .arg(kStepSummaryRows + 3)),
                 qPrintable(text));
        QCOMPARE(text.count("| " + env.path("t/bad")), kStepSummaryRows);
        QVERIFY(text.contains("\nand 3 more invalid files\n"));
        QVERIFY(!text.contains("good.xml"));
        // The row holds no cell break nor code span from the file.
        QVERIFY(!text.contains("|`"));
        // Another format leaves the summary alone; one that cannot be written fails the run.
        QCOMPARE(check({"--format", "gnu", env.path("t")}, start).status, 1);
        QCOMPARE(readAll(summary).size(), text.toUtf8().size());
        start.environment = {"GITHUB_STEP_SUMMARY=" + env.path("no/such/folder/summary.md")};
        const Run lost = check({"--format", "github", env.path("t/good.xml")}, start);
        QCOMPARE(lost.status, 2);
        QVERIFY2(lost.err.contains("cannot add to the job summary"), qPrintable(lost.err));
    }

    // GitLab's Code Quality report: one issue per error with the fields GitLab reads, paths
    // relative to the working folder, fingerprints unique and unmoved when only the line moves.
    void gitlabCodeQuality() {
        TestEnv env;
        env.write("docs/bad.xml", "<a>\n<b></c>\n</a>");
        env.write("docs/twice.xml", "<a x='1' x='2'/>");
        env.write("docs/good.xml", "<a/>");
        Start start;
        start.folder = env.path(".");
        const auto issuesOf = [&](const QStringList& arguments) {
            const Run run = check(QStringList{"--format", "gitlab"} + arguments, start);
            [&] { QCOMPARE(run.status, 1); }();
            return QJsonDocument::fromJson(run.out.toUtf8()).array();
        };
        const QJsonArray issues = issuesOf({"--all-errors", env.path("docs")});
        QVERIFY(issues.size() >= 2);
        QSet<QString> fingerprints;
        QString badFingerprint;
        for (const QJsonValue issue : issues) {
            const QJsonObject o = issue.toObject();
            for (const char* key : {"description", "check_name", "fingerprint", "severity"})
                QVERIFY2(!o[key].toString().isEmpty(), key);
            QCOMPARE(o["severity"].toString(), QString("major"));
            const QString path = o["location"]["path"].toString();
            QVERIFY2(path == "docs/bad.xml" || path == "docs/twice.xml", qPrintable(path));
            QVERIFY(o["location"]["lines"]["begin"].toInt() >= 1);
            QVERIFY(o["check_name"].toString().startsWith("brellix/xml-"));
            fingerprints.insert(o["fingerprint"].toString());
            if (path == "docs/bad.xml" && badFingerprint.isEmpty()) {
                badFingerprint = o["fingerprint"].toString();
                QCOMPARE(o["location"]["lines"]["begin"].toInt(), 2);
            }
        }
        QCOMPARE(fingerprints.size(), issues.size());
        // The same error two lines further down keeps its fingerprint.
        env.write("docs/bad.xml", "<a>\n\n\n<b></c>\n</a>");
        const QJsonObject moved = issuesOf({"docs/bad.xml"})[0].toObject();
        QCOMPARE(moved["location"]["lines"]["begin"].toInt(), 4);
        QCOMPARE(moved["fingerprint"].toString(), badFingerprint);
        // Nothing wrong: an empty array.
        const Run clean = check({"--format", "gitlab", "docs/good.xml"}, start);
        QCOMPARE(clean.status, 0);
        QCOMPARE(QJsonDocument::fromJson(clean.out.toUtf8()).array().size(), 0);
        QVERIFY(QJsonDocument::fromJson(clean.out.toUtf8()).isArray());
    }

    void sarifAndJunitValidate() {
        TestEnv env;
        const QString tree = MakeCheckCorpus(env);
        env.write("tree/with blank & percent%.xml", "<a>\x01</a>");
        env.write("tree/many.xml", "<!DOCTYPE d [<!ELEMENT d EMPTY>]><d><x/><y/></d>");
        const QString missing = env.path("missing.xml");
        const Run sarif = check({"--format", "sarif", "--all-errors", tree, missing});
        QCOMPARE(sarif.status, 2);
        QCOMPARE(sarifComplaint(env, sarif.out), QString());
        const QJsonObject run =
            QJsonDocument::fromJson(sarif.out.toUtf8()).object()["runs"].toArray()[0].toObject();
        const QJsonArray results = run["results"].toArray();
        const QJsonArray rules = run["tool"].toObject()["driver"].toObject()["rules"].toArray();
        QSet<QString> ruleIds;
        for (const QJsonValue& rule : rules)
            ruleIds.insert(rule.toObject()["id"].toString());
        QCOMPARE(ruleIds.size(), rules.size());
        QSet<QString> fingerprints;
        for (const QJsonValue& result : results) {
            const QJsonObject r = result.toObject();
            QCOMPARE(rules[r["ruleIndex"].toInt()].toObject()["id"].toString(),
                     r["ruleId"].toString());
            fingerprints.insert(r["partialFingerprints"]["brellixFinding/v1"].toString());
        }
        // Each finding has an identity of its own; each rule says what its code means.
        QCOMPARE(fingerprints.size(), results.size());
        QVERIFY(!fingerprints.contains(QString()));
        for (const QJsonValue& rule : rules) {
            const QString meaning = rule["fullDescription"]["text"].toString();
            QVERIFY2(!meaning.isEmpty() && !rule["shortDescription"]["text"].toString().startsWith(
                                               "XML parser error"),
                     qPrintable(meaning));
            if (rule["id"].toString() == "XML76")
                QVERIFY(meaning.contains("not well-formed"));
        }
        // One category per shard, and the whole run's; paths below the working folder are
        // relative to %SRCROOT%.
        QCOMPARE(run["automationDetails"]["id"].toString(), QString("brellix-check/"));
        Start inTree;
        inTree.folder = tree;
        const QJsonObject shard =
            QJsonDocument::fromJson(
                check({"--format", "sarif", "--shard", "2/3", "."}, inTree).out.toUtf8())
                .object()["runs"]
                .toArray()[0]
                .toObject();
        QCOMPARE(shard["automationDetails"]["id"].toString(),
                 QString("brellix-check/shard-2-of-3/"));
        QVERIFY(shard["originalUriBaseIds"]["%SRCROOT%"]["uri"].toString().endsWith("/"));
        for (const QJsonValue& result : shard["results"].toArray())
            QCOMPARE(result["locations"][0]["physicalLocation"]["artifactLocation"]["uriBaseId"]
                         .toString(),
                     QString("%SRCROOT%"));
        // Three invalid files of the corpus, the control character, two errors of many.xml
        // and more, and the missing file.
        QVERIFY2(results.size() >= 7, qPrintable(sarif.out));
        QVERIFY(sarif.out.contains("with%20blank%20&%20percent%25.xml"));
        QCOMPARE(run["invocations"].toArray()[0].toObject()["executionSuccessful"].toBool(), false);
        const Run clean = check({"--format", "sarif", tree + "/a.xml"});
        QCOMPARE(clean.status, 0);
        QCOMPARE(sarifComplaint(env, clean.out), QString());
        QCOMPARE(QJsonDocument::fromJson(clean.out.toUtf8())
                     .object()["runs"]
                     .toArray()[0]
                     .toObject()["results"]
                     .toArray()
                     .size(),
                 0);

        const Run junit = check({"--format", "junit", "--all-errors", tree, missing});
        QCOMPARE(junitComplaint(env, junit.out), QString());
        QXmlStreamReader xml(junit.out);
        int withFile = 0;
        int withLine = 0;
        QString timestamp;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("testsuite"))
                timestamp = xml.attributes().value("timestamp").toString();
            if (xml.name() == QLatin1String("testcase")) {
                withFile += xml.attributes().hasAttribute("file");
                withLine += xml.attributes().hasAttribute("line");
                QVERIFY(xml.attributes().hasAttribute("time"));
            }
        }
        QVERIFY(!xml.hasError());
        QCOMPARE(withFile, 8);
        QCOMPARE(withLine, 5);  // the invalid files with a known line
        QVERIFY(QDateTime::fromString(timestamp, Qt::ISODate).isValid());
    }

    // --all-errors reports every error up to the cap; without it only the first, as before.
    void allErrorsUpToTheCap() {
        TestEnv env;
        QByteArray many = "<!DOCTYPE d [<!ELEMENT d EMPTY>]><d>";
        for (int i = 0; i < 150; ++i)
            many += "<x" + QByteArray::number(i) + "/>\n";
        const QString file = env.write("many.xml", many + "</d>");
        const QString three = env.write(
            "three.xml", "<!DOCTYPE d [<!ELEMENT d (t)><!ELEMENT t EMPTY>]>\n<d><x/>\n<y/></d>");
        QCOMPARE(lines(check({"--format", "gnu", file}).out).size(), 1);
        QCOMPARE(lines(check({"--format", "gnu", "--all-errors", file}).out).size(), 100);
        const QStringList all = lines(check({"--format", "gnu", "--all-errors", three}).out);
        QCOMPARE(all, QStringList({three + ":2:8: error: No declaration for element x",
                                   three + ":3:5: error: No declaration for element y",
                                   three + ":3:9: error: Element d content does not follow the "
                                           "DTD, expecting (t), got (x y)"}));
        const QJsonObject entry =
            QJsonDocument::fromJson(check({"--format", "json", "--all-errors", three}).out.toUtf8())
                .object()["files"]
                .toArray()[0]
                .toObject();
        QCOMPARE(entry["errors"].toArray().size(), 3);
        QCOMPARE(entry["errors"].toArray()[0].toObject(), entry["error"].toObject());
        // The text output and the lists keep the first error, as the window shows it.
        QCOMPARE(check({"--report", "--all-errors", three}).out, check({"--report", three}).out);
        QVERIFY(!check({"--format", "json", three}).out.contains("\"errors\""));
        QCOMPARE(junitComplaint(env, check({"--format", "junit", "--all-errors", file}).out),
                 QString());
    }

    void quietPrintsOnlyFailures() {
        TestEnv env;
        const QString tree = MakeCheckCorpus(env);
        const Run quiet = check({"--quiet", tree});
        QCOMPARE(quiet.status, 1);
        QCOMPARE(lines(quiet.out).size(), 3);
        for (const QString& line : lines(quiet.out))
            QVERIFY(line.startsWith("invalid: "));
        const QJsonObject root =
            QJsonDocument::fromJson(check({"--quiet", "--format", "json", tree}).out.toUtf8())
                .object();
        QCOMPARE(root["files"].toArray().size(), 3);
        QCOMPARE(root["summary"].toObject()["files"].toInt(), 5);
        const Run allValid = check({"--quiet", tree + "/a.xml"});
        QCOMPARE(allValid.status, 0);
        QVERIFY(allValid.out.isEmpty());
    }

    void pathsFromAList() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        const QString bad = env.write("line\nbreak.xml", "<a>");
        const QString tree = MakeCheckCorpus(env);
        // NUL-separated, as find -print0 and git ls-files -z give them, from standard input.
        Start start;
        start.input = (good + '\0' + bad + '\0' + tree + '\0').toUtf8();
        Run run = check({"--files-from", "-", "-0"}, start);
        QCOMPARE(run.status, 1);
        // The line feed in a name is shown as \n: a name never starts a line of its own.
        QCOMPARE(run.out, "valid: " + good + "\ninvalid: " + env.path("line\\nbreak.xml") + "\n" +
                              check({tree}).out);
        // Lines, also with CR LF, from a file, after the PATHs given.
        const QString list = env.write("list.txt", (good + "\r\n\n" + good + "\n").toUtf8());
        run = check({"--files-from", list, tree + "/a.xml"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, "valid: " + tree + "/a.xml\nvalid: " + good + "\nvalid: " + good + "\n");
        run = check({"--files-from", env.path("no-list.txt")});
        QCOMPARE(run.status, 2);
        QVERIFY(run.err.contains("cannot read the list"));
        run = check({"--files-from", env.write("empty.txt", "")});
        QCOMPARE(run.status, 2);
        QVERIFY(run.err.contains("names no file"));
    }

    // --shard K/N: disjoint parts that together are the whole, the same on every machine.
    void shardsSplitByPath() {
        TestEnv env;
        QStringList files;
        for (int i = 0; i < 40; ++i)
            files << env.write(QString("f%1.xml").arg(i), "<a/>");
        QStringList together;
        for (int k = 1; k <= 3; ++k) {
            Start start;
            start.folder = env.path(".");
            const Run part = check({"--shard", QString("%1/3").arg(k), "."}, start);
            QCOMPARE(part.status, 0);
            QVERIFY(!part.out.isEmpty());
            together += lines(part.out);
        }
        QCOMPARE(together.size(), 40);
        QCOMPARE(QSet<QString>(together.begin(), together.end()).size(), 40);
        // The split is a function of the path's bytes alone.
        Start start;
        start.folder = env.path(".");
        QCOMPARE(
            check({"--shard", "2/3", "f1.xml", "f2.xml", "f3.xml", "f4.xml", "f5.xml"}, start).out,
            QString("valid: f1.xml\nvalid: f3.xml\nvalid: f5.xml\n"));
        QCOMPARE(check({"--shard", "1/1", "f1.xml"}, start).out, QString("valid: f1.xml\n"));
        // An empty part of a non-empty set is no failure.
        QCOMPARE(check({"--shard", "1/3", "f1.xml"}, start).status, 0);

        // auto: the part that the CI system gives, numbered its own way.
        const QString expected = check({"--shard", "2/3", "."}, start).out;
        const QString status = env.path("bazel-status");
        for (const QStringList& settings :
             {QStringList{"CI_NODE_INDEX=2", "CI_NODE_TOTAL=3"},
              QStringList{"CIRCLE_NODE_INDEX=1", "CIRCLE_NODE_TOTAL=3"},
              QStringList{"BUILDKITE_PARALLEL_JOB=1", "BUILDKITE_PARALLEL_JOB_COUNT=3"},
              QStringList{"TEST_SHARD_INDEX=1", "TEST_TOTAL_SHARDS=3",
                          "TEST_SHARD_STATUS_FILE=" + status}}) {
            Start ci = start;
            ci.environment = settings;
            const Run run = check({"--shard", "auto", "."}, ci);
            QCOMPARE(run.status, 0);
            QCOMPARE(run.out, expected);
        }
        QVERIFY(QFile::exists(status));
        Start wrong = start;
        wrong.environment = {"CI_NODE_INDEX=4", "CI_NODE_TOTAL=3"};
        QVERIFY(check({"--shard", "auto", "."}, wrong).err.contains("name no shard"));
        Start none = start;
        for (const char* name :
             {"CI_NODE_INDEX", "CIRCLE_NODE_INDEX", "BUILDKITE_PARALLEL_JOB", "TEST_SHARD_INDEX"})
            none.environment.append(QString(name) + "=");
        const Run missing = check({"--shard", "auto", "."}, none);
        QCOMPARE(missing.status, 2);
        QVERIFY2(missing.err.contains("found no shard of a CI system") ||
                     missing.err.contains("name no shard"),
                 qPrintable(missing.err));

        // size: one large file alone in its part, the small ones in the others; together all.
        env.write("big.xml", "<a>" + QByteArray(200000, 'x') + "</a>");
        QStringList bySize;
        for (int k = 1; k <= 3; ++k) {
            const QStringList part = lines(
                check({"--shard", QString("%1/3").arg(k), "--shard-by", "size", "."}, start).out);
            if (part.contains("valid: ./big.xml"))
                QCOMPARE(part.size(), 1);
            else
                QCOMPARE(part.size(), 20);
            bySize += part;
        }
        QCOMPARE(QSet<QString>(bySize.begin(), bySize.end()).size(), 41);
        QCOMPARE(check({"--shard-by", "size", "."}, start).status, 2);
        QCOMPARE(check({"--shard", "1/2", "--shard-by", "name", "."}, start).status, 2);
    }

    // The json outputs of a run's shards merge into what the whole run writes, in every format
    // and with its status; parts that are not one split of one run are refused.
    void shardsMergeIntoTheWholeRun() {
        TestEnv env;
        for (int i = 0; i < 30; ++i)
            env.write(QString("t/f%1.xml").arg(i), i % 4 ? "<a/>" : "<a><b>");
        env.write("t/sub/deep.xml", "<!DOCTYPE a [<!ELEMENT a EMPTY>]><a>x</a>");
        Start start;
        start.folder = env.path("t");
        const auto strip = [](QString junit) {
            return junit.remove(QRegularExpression(" (time|timestamp)=\"[^\"]*\""));
        };
        const QStringList common{"--all-errors", "."};
        for (const int shards : {1, 2, 7}) {
            QStringList parts;
            for (int k = shards; k >= 1; --k) {  // in any order
                const QString part = env.path(QString("p%1-%2.json").arg(shards).arg(k));
                Start to = start;
                to.outFile = part;
                check(
                    QStringList{"--format", "json", "--shard", QString("%1/%2").arg(k).arg(shards),
                                "--shard-by", shards == 7 ? "size" : "path"} +
                        common,
                    to);
                parts.append(part);
            }
            for (const QStringList& format :
                 {QStringList{"--format", "json"}, QStringList{"--format", "gnu"},
                  QStringList{"--format", "sarif"}, QStringList{"--format", "gitlab"},
                  QStringList{"--format", "text", "--report"}, QStringList{"--format", "junit"}}) {
                const Run whole = check(format + common, start);
                const Run merged = check(QStringList{"merge"} + format + parts, start);
                QCOMPARE(merged.status, whole.status);
                QCOMPARE(merged.status, 1);
                if (format.contains("junit"))
                    QCOMPARE(strip(merged.out), strip(whole.out));
                else
                    QCOMPARE(merged.out, whole.out);
            }
        }
        const QString one = env.path("p2-1.json");
        const QString two = env.path("p2-2.json");
        const QString other = env.path("p7-3.json");
        env.write("plain.json", check({"--format", "json", "."}, start).out.toUtf8());
        Start quiet = start;
        quiet.outFile = env.path("quiet.json");
        check({"--format", "json", "--quiet", "--shard", "2/2", "."}, quiet);
        QByteArray older = readAll(two);
        older.replace("\"version\": \"" BRELLIX_VERSION "\"", "\"version\": \"0.0.1\"");
        env.write("older.json", older);
        struct Bad {
            QStringList parts;
            const char* message;
        };
        const Bad bad[] = {
            {{one}, "the shard 2/2 is missing"},
            {{one, two, one}, "was given twice"},
            {{one, other}, "of another split"},
            {{one, env.path("older.json")}, "was written by brellix-check 0.0.1"},
            {{one, env.path("quiet.json")}, "written with --quiet"},
            {{env.path("plain.json")}, "is not a shard"},
            {{env.path("t/f1.xml")}, "is not the json output"},
            {{env.path("none.json")}, "cannot read the part"},
        };
        for (const Bad& b : bad) {
            const Run run = check(QStringList{"merge"} + b.parts, start);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains(b.message), qPrintable(run.err));
        }
    }

    // Colour only on a terminal, and never with NO_COLOR set.
    void colourOnlyOnATerminal() {
        if (QStandardPaths::findExecutable("script").isEmpty())
            QSKIP("no script(1) to give the program a terminal");
        TestEnv env;
        const QString bad = env.write("bad.xml", "<a>");
        const QString command = BuildProgramFolder() + "/brellix-check '" + bad + "'";
        Start start;
        start.program = "script";
        const Run coloured = check({"-qec", command, "/dev/null"}, start);
        QVERIFY2(coloured.out.contains("\x1b[1;31minvalid:\x1b[0m " + bad),
                 qPrintable(coloured.out));
        start.environment = {"NO_COLOR=1"};
        const Run plain = check({"-qec", command, "/dev/null"}, start);
        QVERIFY(!plain.out.contains('\x1b'));
        QVERIFY(plain.out.contains("invalid: " + bad));
        QVERIFY(!check({bad}).out.contains('\x1b'));
    }

    void extensionStarTakesEveryFile() {
        TestEnv env;
        const QString tree = MakeCheckCorpus(env);
        const Run run = check({"--ext", "*", tree});
        QVERIFY(run.out.contains("invalid: " + tree + "/notes.txt\n"));
        QVERIFY(run.out.contains("valid: " + tree + "/sub/deeper/README\n"));
        QVERIFY(!run.out.contains("~skip"));
        QVERIFY(run.out.contains(tree + "/sub/doc.dtd\n"));
        QCOMPARE(run.out.count('\n'), 8);
    }

    // Constraints the parser leaves unchecked in documents with a DTD, a few of them, and a
    // DTD declared in a parameter entity, from two working folders.
    void validityConstraintsAndTheWorkingFolder() {
        TestEnv env;
        const QString unused = env.write(
            "v/unused-default.xml",
            "<!DOCTYPE a [<!ELEMENT a (b*)><!ELEMENT b EMPTY><!NOTATION n SYSTEM 'n'>"
            "<!ENTITY u SYSTEM 'u.bin' NDATA n><!ATTLIST b x ENTITY 'nope'>]>\n<a><b x='u'/></a>");
        const QString empty = env.write(
            "v/empty.xml", "<!DOCTYPE a [<!ELEMENT a EMPTY><!ENTITY e ''>]>\n<a>&e;</a>\n");
        const QString reference =
            env.write("v/reference.xml",
                      "<!DOCTYPE a [<!ELEMENT a (b)><!ELEMENT b EMPTY>]>\n<a>&#32;<b/></a>\n");
        const QString mixed = env.write(
            "v/mixed.xml",
            "<!DOCTYPE a [<!ELEMENT a (#PCDATA|b)*><!ELEMENT b EMPTY>]>\n<a>&#32;<b/></a>\n");
        env.write("v/sub/inner.dtd", "<!ELEMENT a (#PCDATA)>");
        env.write("decoy/sub/inner.dtd", "<!ELEMENT a EMPTY>");
        const QString declared = env.write(
            "v/declared.xml",
            "<!DOCTYPE a [<!ENTITY % p '<!ENTITY &#37; q SYSTEM \"sub/inner.dtd\">'>%p;%q;]>\n"
            "<a>text</a>\n");
        for (const QString& folder : {env.path("decoy"), env.path("v")}) {
            Start start;
            start.folder = folder;
            const Run run = check(
                {"--report", "--format", "json", unused, empty, reference, mixed, declared}, start);
            QCOMPARE(run.status, 1);
            const QJsonArray files = QJsonDocument::fromJson(run.out.toUtf8())["files"].toArray();
            QCOMPARE(files.size(), 5);
            const bool valid[] = {true, false, false, true, true};
            for (int i = 0; i < 5; ++i)
                QVERIFY2(files[i]["valid"].toBool() == valid[i],
                         qPrintable(folder + ": " + files[i]["path"].toString()));
            QCOMPARE(files[1]["error"]["code"].toInt(), 528);
            QCOMPARE(files[2]["error"]["code"].toInt(), 504);
            QCOMPARE(files[2]["error"]["line"].toInt(), 2);
        }
    }

    void unwritableListFileIsReported() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        const Run run = check({"--valid-list", env.path("no/such/folder/list.txt"), good});
        QCOMPARE(run.status, 2);
        QVERIFY(run.err.contains("list.txt"));
        QCOMPARE(run.out, "valid: " + good + "\n");
    }

    void checkingAgainstASchema() {
        const QString cases = schemaFile("cases/order");
        const Run run = check({"--schema", schemaFile("order.xsd"), "--report", "--format", "json",
                               "-j", "1", cases});
        QCOMPARE(run.status, 1);
        const QJsonArray files = QJsonDocument::fromJson(run.out.toUtf8())["files"].toArray();
        QVERIFY(files.size() > 10);
        for (const QJsonValue& f : files) {
            const QString name = QFileInfo(f["path"].toString()).fileName();
            QVERIFY2(f["valid"].toBool() == name.startsWith("valid-"), qPrintable(name));
        }
        // The same rows with two workers, in the same order.
        const Run twoWorkers = check({"--schema", schemaFile("order.xsd"), "--report", "--format",
                                      "json", "-j", "2", cases});
        QCOMPARE(QJsonDocument::fromJson(twoWorkers.out.toUtf8())["files"],
                 QJsonDocument::fromJson(run.out.toUtf8())["files"]);

        const Run rng = check({"--relaxng", schemaFile("address.rng"), "--format", "gnu",
                               schemaFile("cases/address/valid-book.xml"),
                               schemaFile("cases/address/invalid-wrong-root.xml")});
        QCOMPARE(rng.status, 1);
        QCOMPARE(lines(rng.out).size(), 1);
        QVERIFY2(rng.out.startsWith(schemaFile("cases/address/invalid-wrong-root.xml") +
                                    ":2:6: error: Did not expect element book there"),
                 qPrintable(rng.out));
        QCOMPARE(check({"--relaxng", schemaFile("address.rng"),
                        schemaFile("cases/address/valid-book.xml")})
                     .status,
                 0);
        const Run help = check({"--help"});
        for (const char* option : {"--schema", "--relaxng", "--schema-hints"})
            QVERIFY(help.out.contains(option));
    }

    // A schema that cannot be used stops the run before any file is checked.
    void schemaThatCannotBeUsedIsAUsageError() {
        const QString document = schemaFile("cases/order/valid-basic.xml");
        const Run broken = check({"--schema", schemaFile("broken.xsd"), document});
        QCOMPARE(broken.status, 2);
        QCOMPARE(broken.out, QString());
        QVERIFY2(broken.err.startsWith("brellix-check: the schema '" + schemaFile("broken.xsd") +
                                       "' cannot be used: " + schemaFile("broken.xsd") +
                                       ":3: element decl. 'a'"),
                 qPrintable(broken.err));
        const Run remote = check({"--schema", schemaFile("hostile/remote-include.xsd"), document});
        QCOMPARE(remote.status, 2);
        QVERIFY(remote.err.contains("nothing is loaded from the network"));
        const Run both = check({"--schema", schemaFile("order.xsd"), "--schema-hints", document});
        QCOMPARE(both.status, 2);
        QVERIFY(both.err.contains("give only one of them"));
    }

    void documentsNameTheirOwnSchemas() {
        const QString hints = schemaFile("hints");
        const Run run = check({"--schema-hints", "--format", "json", "--report", hints});
        QCOMPARE(run.status, 1);
        QHash<QString, bool> valid;
        for (const QJsonValue& f : QJsonDocument::fromJson(run.out.toUtf8())["files"].toArray())
            valid.insert(QFileInfo(f["path"].toString()).fileName(), f["valid"].toBool());
        QCOMPARE(valid.value("two-namespaces.xml", false), true);
        QCOMPARE(valid.value("two-namespaces-invalid.xml", true), false);
        QCOMPARE(valid.value("relative.xml", false), true);
        QCOMPARE(valid.value("none.xml", false), true);
        QCOMPARE(valid.value("remote.xml", true), false);
        QCOMPARE(valid.value("missing.xml", true), false);
        // The README's example: the catalog maps the remote address to a local copy.
        Start start;
        start.environment << "XML_CATALOG_FILES=" + schemaFile("hints/catalog.xml");
        QCOMPARE(check({"--schema-hints", schemaFile("hints/remote.xml")}, start).status, 0);
    }
};

QTEST_MAIN(TestCli)
#include "test_cli.moc"
