// "Load Sample/Example Files": the rows, the question, the editors started, and the sample
// files themselves.

#include "FileList.h"
#include "parse/Libxml.h"
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

struct XmlDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct XmlValidFree {
    void operator()(xmlValidCtxt* ctxt) const { xmlFreeValidCtxt(ctxt); }
};
void ignoreXmlErrors(void*, libxml::ErrorArg) {}

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
        QVERIFY(env.platform.callsOf("editor").isEmpty());  // No opens nothing
        QCOMPARE(form->ListView2->texts(), QStringList{"/valid.xml"});
        QCOMPARE(form->windowPointer(), WindowPointer::Default);
        QVERIFY(env.platform.unexpected.isEmpty());
    }

    void yesOpensTheFourFilesInTheEditorLastFirst() {
        TestEnv env;
        const QString folder = env.path("My Programs/brellix");  // blanks, and no samples
        auto form = env.makeForm(folder);
        form->SetWindowPointer(WindowPointer::Busy);  // also while a run is going on
        env.platform.messageAnswers = {MessageAnswer::Yes};
        QTest::mouseClick(form->PushButton7, Qt::LeftButton);

        const QStringList samples = samplePaths(folder);
        QCOMPARE(form->ListView1->texts(), samples);  // added without looking for the files
        const QList<PlatformCall> opened = env.platform.callsOf("editor");
        QCOMPARE(opened.size(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(opened[i].text, samples[3 - i]);
        QCOMPARE(env.platform.messageTexts(), QStringList{kQuestion});
    }

    void editorFailuresAreReportedAtTheirLines() {
        TestEnv env;
        auto form = env.makeForm();
        env.platform.editorFailure = "No plain-text editor was found";
        env.platform.messageAnswers = {MessageAnswer::Yes};
        QTest::mouseClick(form->PushButton7, Qt::LeftButton);

        QCOMPARE(env.platform.callsOf("editor").size(), 4);  // every file is still tried
        const QList<PlatformCall> boxes = env.platform.callsOf("message").mid(1);
        QCOMPARE(boxes.size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(boxes[i].title, "Application Error");
            QCOMPARE(boxes[i].icon, MessageIcon::Exclamation);
            QVERIFY(
                boxes[i].text.startsWith("No plain-text editor was found\r\n"
                                         "in Brellix2021/08/31.Form1.PushButton7_Click at line " +
                                         QString::number(110 + 2 * i) + "\r"));
        }
        QCOMPARE(form->ListView1->count(), 4);
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
