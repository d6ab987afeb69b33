// "Load Sample/Example Files": the rows, the question, the editors started, and the sample
// files themselves.

#include "lists/FileList.h"
#include "tests/support/TestEnv.h"

#include <QFile>
#include <QPushButton>
#include <QTest>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>

#include <memory>

namespace {

const QString kQuestion = QStringLiteral(
    "Would you like to view these files in Notepad so that you can see the actual content "
    "first?");

QStringList samplePaths(const QString& programFolder) {
    QStringList paths;
    for (const char* name :
         {"valid_sample1.xml", "valid_sample2.xml", "invalid_sample1.xml", "invalid_sample2.xml"})
        paths.append(programFolder + "/Samples/" + QString::fromLatin1(name));
    return paths;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name_, value.toUtf8());
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// A desktop of the test's own: nothing installed, nothing configured, an empty PATH.
struct IsolatedDesktop {
    ScopedEnv configHome, configDirs, dataHome, dataDirs, desktop, path;
    explicit IsolatedDesktop(const TestEnv& env)
        : configHome("XDG_CONFIG_HOME", env.path("desk/config")),
          configDirs("XDG_CONFIG_DIRS", env.path("desk/etc")),
          dataHome("XDG_DATA_HOME", env.path("desk/local")),
          dataDirs("XDG_DATA_DIRS", env.path("desk/usr")),
          desktop("XDG_CURRENT_DESKTOP", "TEST"),
          path("PATH", env.path("desk/bin")) {}
};

// Installs an editor in the isolated desktop and makes it the default for plain text.
QString installEditor(const TestEnv& env) {
    const QString program = env.write("desk/bin/scribe", "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.write("desk/config/mimeapps.list", "[Default Applications]\ntext/plain=scribe.desktop\n");
    env.write("desk/local/applications/scribe.desktop",
              "[Desktop Entry]\nType=Application\nName=Scribe\nExec=scribe --new-window %F\n");
    return program;
}

struct XmlDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct XmlValidFree {
    void operator()(xmlValidCtxt* ctxt) const { xmlFreeValidCtxt(ctxt); }
};
void ignoreXmlErrors(void*, xmlError*) {}

// Whether a file loads: parsed with its DTD, and valid against it when it declares one.
bool loads(const QString& path) {
    xmlSetStructuredErrorFunc(nullptr, ignoreXmlErrors);
    const QByteArray file = QFile::encodeName(path);
    std::unique_ptr<xmlDoc, XmlDocFree> doc(xmlReadFile(
        file.constData(), nullptr, XML_PARSE_DTDLOAD | XML_PARSE_NOENT | XML_PARSE_NONET));
    if (!doc)
        return false;
    if (xmlGetIntSubset(doc.get()) == nullptr)
        return true;
    std::unique_ptr<xmlValidCtxt, XmlValidFree> valid(xmlNewValidCtxt());
    return valid && xmlValidateDocument(valid.get(), doc.get()) == 1;
}

}  // namespace

class TestSamples : public QObject {
    Q_OBJECT
private slots:
    void fourRowsAppendedInOrderAtEveryPress() {
        TestEnv env;
        auto form = env.makeForm();
        form->ListView1->append("/already/there.xml");
        form->ListView2->append("/valid.xml");
        env.platform.messageAnswers = {MessageAnswer::No, MessageAnswer::No};
        QTest::mouseClick(form->PushButton7, Qt::LeftButton);

        const QStringList samples = samplePaths(BuildProgramFolder());
        QCOMPARE(form->ListView1->texts(), QStringList{"/already/there.xml"} + samples);
        QCOMPARE(env.platform.calls.size(), 1);
        const PlatformCall& question = env.platform.calls[0];
        QCOMPARE(question.text, kQuestion);
        QCOMPARE(question.title, form->ApplicationTitle);
        QCOMPARE(question.buttons, MessageButtons::YesNo);
        QCOMPARE(question.icon, MessageIcon::None);

        QTest::mouseClick(form->PushButton7, Qt::LeftButton);
        QCOMPARE(form->ListView1->texts(), QStringList{"/already/there.xml"} + samples + samples);
        QVERIFY(env.platform.callsOf("start").isEmpty());  // No opens nothing
        QCOMPARE(form->ListView2->texts(), QStringList{"/valid.xml"});
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        QVERIFY(env.platform.unexpected.isEmpty());
    }

    void yesOpensTheFourFilesEachPathOneArgument() {
        TestEnv env;
        IsolatedDesktop desktop(env);
        const QString editor = installEditor(env);
        const QString folder = env.path("My Programs/brellix");  // blanks, and no samples
        auto form = env.makeForm(folder);
        form->SetWindowPointer(WindowPointer::Busy);  // also while a run is going on
        env.platform.messageAnswers = {MessageAnswer::Yes};
        QTest::mouseClick(form->PushButton7, Qt::LeftButton);

        const QStringList samples = samplePaths(folder);
        QCOMPARE(form->ListView1->texts(), samples);  // added without looking for the files
        const QList<PlatformCall> starts = env.platform.callsOf("start");
        QCOMPARE(starts.size(), 4);
        const int order[] = {3, 2, 1, 0};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(starts[i].text, editor);
            QCOMPARE(starts[i].arguments, QStringList({"--new-window", samples[order[i]]}));
        }
        QCOMPARE(env.platform.messageTexts(), QStringList{kQuestion});
    }

    void editorFailuresAreReportedAtTheirLines() {
        TestEnv env;
        IsolatedDesktop desktop(env);
        auto form = env.makeForm();
        const auto boxesAt = [&](const QString& description) {
            const QList<PlatformCall> boxes = env.platform.callsOf("message").mid(1);
            QCOMPARE(boxes.size(), 4);
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(boxes[i].title, "Application Error");
                QCOMPARE(boxes[i].icon, MessageIcon::Exclamation);
                QVERIFY2(boxes[i].text.contains(description), qPrintable(boxes[i].text));
                const QString line =
                    QString("in Brellix2021/08/31.Form1.PushButton7_Click at line %1\r")
                        .arg(110 + 2 * i);
                QVERIFY2(boxes[i].text.contains(line), qPrintable(boxes[i].text));
            }
        };

        // No editor anywhere on this desktop.
        env.platform.messageAnswers = {MessageAnswer::Yes};
        QTest::mouseClick(form->PushButton7, Qt::LeftButton);
        QVERIFY(env.platform.callsOf("start").isEmpty());
        boxesAt("No plain-text editor was found to open " + BuildProgramFolder() + "/Samples/");
        QCOMPARE(form->ListView1->count(), 4);

        // An editor that cannot be started.
        const QString editor = installEditor(env);
        env.platform.calls.clear();
        env.platform.startResult = false;
        env.platform.messageAnswers = {MessageAnswer::Yes};
        QTest::mouseClick(form->PushButton7, Qt::LeftButton);
        QCOMPARE(env.platform.callsOf("start").size(), 4);  // every start is still tried
        boxesAt("The text editor " + editor + " could not be started: No such file or directory");
        QCOMPARE(form->ListView1->count(), 8);
    }

    void samplesGiveTheirVerdicts() {
        const QStringList samples = samplePaths(BuildProgramFolder());
        QVERIFY(QFile::exists(BuildProgramFolder() + "/Samples/library.dtd"));
        QVERIFY(loads(samples[0]));
        QVERIFY(loads(samples[1]));
        QVERIFY(!loads(samples[2]));
        QVERIFY(!loads(samples[3]));
        // The second invalid sample is well-formed: it fails only against its DTD.
        const QByteArray file = QFile::encodeName(samples[3]);
        std::unique_ptr<xmlDoc, XmlDocFree> doc(
            xmlReadFile(file.constData(), nullptr, XML_PARSE_NONET));
        QVERIFY(doc != nullptr);
        QVERIFY(xmlGetIntSubset(doc.get()) != nullptr);
    }
};

QTEST_MAIN(TestSamples)
#include "test_samples.moc"
