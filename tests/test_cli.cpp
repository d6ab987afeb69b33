// brellix-check, run as a separate program the way scripts and CI run it.

#include "app/Widgets.h"
#include "app/FileList.h"
#include "tests/support/TestEnv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QXmlStreamReader>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run check(const QStringList& arguments) {
    QProcess process;
    process.setProgram(BuildProgramFolder() + "/brellix-check");
    process.setArguments(arguments);
    process.start();
    if (!process.waitForFinished(120000))
        qFatal("brellix-check did not finish");
    Run run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// A folder tree with valid, invalid and DTD-checked files, and files the scan leaves out.
QString makeCorpus(TestEnv& env) {
    env.write("tree/a.xml", "<a/>");
    env.write("tree/b.XML", "<b><c></b>");
    env.write("tree/notes.txt", "not xml, not gathered with --ext xml");
    env.write("tree/~skip.xml", "<a/>");
    env.write("tree/sub/doc.dtd", "<!ELEMENT doc (title)><!ELEMENT title (#PCDATA)>");
    env.write("tree/sub/good.xml", "<!DOCTYPE doc SYSTEM \"doc.dtd\"><doc><title>t</title></doc>");
    env.write("tree/sub/bad.xml", "<!DOCTYPE doc SYSTEM \"doc.dtd\"><doc><para/></doc>");
    env.write("tree/sub/deeper/ns.xml", "<p:a/>");
    env.write("tree/sub/deeper/README", "<x/>");
    return env.path("tree");
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
        QCOMPARE(version.out, QString("brellix-check %1\n").arg(BRELLIX_VERSION));

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
        };
        for (const Bad& b : bad) {
            const Run run = check(b.arguments);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains(b.message), qPrintable(run.err));
            QVERIFY(run.out.isEmpty());
        }
    }

    void unreadableArgumentChecksNothing() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        const Run run = check({good, env.path("missing.xml")});
        QCOMPARE(run.status, 2);
        QVERIFY(run.err.contains("cannot read '" + env.path("missing.xml") + "'"));
        QVERIFY(run.out.isEmpty());
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
        const QString tree = makeCorpus(env);
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

    void extensionStarTakesEveryFile() {
        TestEnv env;
        const QString tree = makeCorpus(env);
        const Run run = check({"--ext", "*", tree});
        QVERIFY(run.out.contains("invalid: " + tree + "/notes.txt\n"));
        QVERIFY(run.out.contains("valid: " + tree + "/sub/deeper/README\n"));
        QVERIFY(!run.out.contains("~skip"));
        QVERIFY(run.out.contains(tree + "/sub/doc.dtd\n"));
        QCOMPARE(run.out.count('\n'), 8);
    }

    // The same folder through the window (scan, run with the option ticked, both lists saved)
    // and through brellix-check: the saved lists are identical byte for byte.
    void listsMatchTheWindowsSavedFiles() {
        TestEnv env;
        const QString tree = makeCorpus(env);
        auto form = env.makeForm();
        QCOMPARE(form->Check1->value(), 1);
        env.platform.inputAnswers = {"xml"};
        env.platform.folderAnswers = {tree};
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        QCOMPARE(form->ListView1->count(), 5);
        QTest::mouseClick(form->PushButton4, Qt::LeftButton);
        QCOMPARE(form->ListView2->count() + form->ListView3->count(), 5);
        env.platform.saveAnswers = {env.path("window-valid.txt"), env.path("window-invalid.txt")};
        QTest::mouseClick(form->PushButton6, Qt::LeftButton);
        QTest::mouseClick(form->PushButton1, Qt::LeftButton);
        QVERIFY2(env.platform.unexpected.isEmpty(), qPrintable(env.platform.unexpected.join("; ")));

        const Run run = check({"--report", "--valid-list", env.path("cli-valid.txt"),
                               "--invalid-list", env.path("cli-invalid.txt"), tree});
        QCOMPARE(run.status, 1);
        QCOMPARE(readAll(env.path("cli-valid.txt")), readAll(env.path("window-valid.txt")));
        QCOMPARE(readAll(env.path("cli-invalid.txt")), readAll(env.path("window-invalid.txt")));
        QVERIFY(readAll(env.path("cli-invalid.txt")).contains("\r\nLine #: "));
    }

    void unwritableListFileIsReported() {
        TestEnv env;
        const QString good = env.write("good.xml", "<a/>");
        const Run run = check({"--valid-list", env.path("no/such/folder/list.txt"), good});
        QCOMPARE(run.status, 2);
        QVERIFY(run.err.contains("list.txt"));
        QCOMPARE(run.out, "valid: " + good + "\n");
    }
};

QTEST_MAIN(TestCli)
#include "test_cli.moc"
