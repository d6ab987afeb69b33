// Names that are not UTF-8 text: their bytes kept from the listing (or the command line, or a
// list file) to the check, shown with U+FFFD in their place, saved as the bytes they are, by
// brellix-check and by the window.

#include "FileList.h"
#include "FileListModel.h"
#include "Widgets.h"
#include "files/PathUtil.h"
#include "tests/support/FileContent.h"
#include "tests/support/TestEnv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTest>
#include <QUrl>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

const QChar kFffd = QChar::ReplacementCharacter;

// A scratch folder whose tree may hold names that are not text (which QTemporaryDir's clean-up
// could not name): made and removed by bytes.
struct RawTree {
    TestEnv env;
    QByteArray root = PathBytes(env.dir.path());

    ~RawTree() {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(root.toStdString()), ignored);
    }
    // A file (its folders made as needed) named by bytes below the root.
    void file(const QByteArray& name, const QByteArray& content) const {
        const QByteArray path = root + "/" + name;
        std::filesystem::create_directories(
            std::filesystem::path(path.toStdString()).parent_path());
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, content.constData(), content.size()), content.size());
        ::close(fd);
    }
    QString path(const QByteArray& name) const { return PathFromBytes(root + "/" + name); }
    QByteArray read(const QByteArray& name) const {
        QByteArray content(1 << 16, '\0');
        const int fd = ::open((root + "/" + name).constData(), O_RDONLY);
        if (fd < 0)
            return "<missing>";
        const ssize_t n = ::read(fd, content.data(), content.size());
        ::close(fd);
        content.resize(n < 0 ? 0 : n);
        return content;
    }
};

// The tree of every test: two folders with names that are not text, one that the walk leaves
// out by its name, and a name that starts with a byte-order mark.
void makeTree(const RawTree& t) {
    t.file("d/ok.xml", "<r/>");
    t.file("d/inv\xff.xml", "<r>");
    t.file(
        "d/\xef\xbb\xbf"
        "bom.xml",
        "<r/>");
    t.file("d/sub\xe9/a.xml", "<r/>");
    // A DTD beside the document, found through the document's own address.
    t.file("d/sub\xe9/r.dtd", "<!ELEMENT r EMPTY>");
    t.file("d/sub\xe9/dtd.xml", "<!DOCTYPE r SYSTEM \"r.dtd\"><r/>");
    t.file("d/sub\xe9/bad.xml", "<!DOCTYPE r SYSTEM \"r.dtd\"><r>x</r>");
    t.file("d/what?/left.xml", "<r/>");
}

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Runs brellix-check in the tree's root through a shell script, so that arguments can be any
// bytes (QProcess hands arguments over as UTF-8 text).
Run brellixCheck(const RawTree& t, const QByteArray& arguments) {
    t.file("run.sh", "exec \"$1\" " + arguments + "\n");
    QProcess process;
    process.setWorkingDirectory(t.env.dir.path());
    process.start("/bin/sh", {t.env.path("run.sh"), BuildProgramFolder() + "/brellix-check"});
    if (!process.waitForFinished(120000))
        qFatal("brellix-check did not finish");
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

}  // namespace

class TestRawNames : public QObject {
    Q_OBJECT
private slots:
    void bytesRoundTripThroughTheText() {
        const QList<QByteArray> samples{"plain",
                                        "caf\xc3\xa9",
                                        "\xf0\x9f\x98\x80",
                                        "\xef\xbb\xbf"
                                        "bom",
                                        "inv\xff",
                                        "\xc0\x80",           // an overlong NUL
                                        "\xed\xa0\x80",       // an encoded surrogate
                                        "\xed\xb3\xbf",       // ... the one of a kept byte
                                        "\xf4\x90\x80\x80",   // beyond U+10FFFF
                                        "\xe2\x82",           // cut short
                                        "a\xf0\x9f\x98",      // cut short at the end
                                        "\x80\xbf\xfe\xff"};  // no lead byte
        for (const QByteArray& bytes : samples) {
            const QString text = PathFromBytes(bytes);
            QCOMPARE(PathBytes(text), bytes);
            QCOMPARE(EncodedPath(text), bytes);
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom |
                                                          QStringDecoder::Flag::Stateless);
            const QString decoded = utf8(bytes);
            const bool isText = !utf8.hasError();
            QVERIFY2(HoldsKeptBytes(text) == !isText, bytes.toHex().constData());
            if (isText)
                QCOMPARE(text, decoded);
        }
        QRandomGenerator random(25);
        for (int i = 0; i < 5000; ++i) {
            QByteArray bytes(1 + random.bounded(12), '\0');
            for (char& b : bytes)
                b = static_cast<char>(1 + random.bounded(255));
            QCOMPARE(PathBytes(PathFromBytes(bytes)), bytes);
        }

        // Shown: a kept byte (or any lone surrogate) as U+FFFD, a pair as its character.
        QCOMPARE(ShownText(PathFromBytes("a\xff\xf0\x9f\x98\x80")),
                 QString("a") + kFffd + "\U0001F600");
        // A lone surrogate that stands for no byte names no file.
        QCOMPARE(EncodedPath(QString("a") + QChar(0xd800)), QByteArray());
        QCOMPARE(PathBytes(QString("a") + QChar(0xdc41)), QByteArray("a\xef\xbf\xbd"));
        // The document's address keeps the bytes; a name of text keeps Qt's form.
        QCOMPARE(FileUrlOf(PathFromBytes("/d/sub\xe9/a b%.xml")),
                 QByteArray("file:///d/sub%E9/a%20b%25.xml"));
        const QString text = QString::fromUtf8("/d/é #?/a b.xml");
        QCOMPARE(FileUrlOf(text), QUrl::fromLocalFile(text).toEncoded());
    }

    void brellixCheckChecksAndListsEveryName() {
        RawTree t;
        makeTree(t);
        Run run = brellixCheck(t, "--valid-list v.txt --invalid-list i.txt d");
        QCOMPARE(run.status, 1);
        const QString shown = QString(
                                  "invalid: d/inv%1.xml\nvalid: d/ok.xml\nvalid: d/\ufeffbom.xml\n"
                                  "valid: d/sub%1/a.xml\ninvalid: d/sub%1/bad.xml\n"
                                  "valid: d/sub%1/dtd.xml\n")
                                  .arg(kFffd);
        QCOMPARE(QString::fromUtf8(run.out), shown);
        QVERIFY(run.err.startsWith(
            QByteArray("brellix-check: left out 1 folder and what is in them: 1 with \"?\" "
                       "or a control character in the name\nbrellix-check: 6 files: ")));
        QCOMPARE(t.read("v.txt"),
                 QByteArray("d/ok.xml\r\nd/\xef\xbb\xbf"
                            "bom.xml\r\nd/sub\xe9/a.xml\r\nd/sub\xe9/dtd.xml\r\n"));
        QCOMPARE(t.read("i.txt"), QByteArray("d/inv\xff.xml\r\nd/sub\xe9/bad.xml\r\n"));

        // The list read back names the same files.
        run = brellixCheck(t, "--files-from i.txt --valid-list v2.txt --invalid-list i2.txt");
        QCOMPARE(run.status, 1);
        QCOMPARE(t.read("i2.txt"), t.read("i.txt"));
        QCOMPARE(t.read("v2.txt"), QByteArray());

        // Named directly, files and folders alike.
        run = brellixCheck(t,
                           "'d/sub\xe9/dtd.xml' 'd/\xef\xbb\xbf"
                           "bom.xml'");
        QCOMPARE(run.status, 0);
        QCOMPARE(QString::fromUtf8(run.out),
                 QString("valid: d/sub%1/dtd.xml\nvalid: d/\ufeffbom.xml\n").arg(kFffd));
        run = brellixCheck(t, "'d/inv\xff.xml' 'd/sub\xe9' --quiet");
        QCOMPARE(run.status, 1);
        QCOMPARE(QString::fromUtf8(run.out),
                 QString("invalid: d/inv%1.xml\ninvalid: d/sub%1/bad.xml\n").arg(kFffd));
        QCOMPARE(run.err, QByteArray());
        // Schemas beside the document, named by its hints or on the command line.
        t.file("s\xe9/r.xsd",
               "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
               "<xs:element name='r' type='xs:int'/></xs:schema>");
        const QByteArray hinted =
            "<r xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
            "xsi:noNamespaceSchemaLocation='r.xsd'>";
        t.file("s\xe9/five.xml", hinted + "5</r>");
        t.file("s\xe9/word.xml", hinted + "five</r>");
        for (const char* schema : {"--schema-hints", "--schema 's\xe9/r.xsd'"}) {
            run = brellixCheck(t, QByteArray(schema) + " 's\xe9'");
            QCOMPARE(run.status, 1);
            QCOMPARE(QString::fromUtf8(run.out),
                     QString("valid: s%1/five.xml\ninvalid: s%1/word.xml\n").arg(kFffd));
        }
        // The reports for programs show the bytes as U+FFFD too, and stay well-formed.
        run = brellixCheck(t, "--format json 'd/inv\xff.xml'");
        QVERIFY(!run.out.contains("\\ud"));
        const QJsonDocument json = QJsonDocument::fromJson(run.out);
        QCOMPARE(json["files"][0]["path"].toString(), QString("d/inv%1.xml").arg(kFffd));
        run = brellixCheck(t, "--format junit 'd/inv\xff.xml'");
        QXmlStreamReader junit(run.out);
        while (!junit.atEnd())
            junit.readNext();
        QVERIFY2(!junit.hasError(), qPrintable(junit.errorString()));
        QVERIFY(run.out.contains(QString("name=\"d/inv%1.xml\"").arg(kFffd).toUtf8()));
        // A name that is missing is still missing.
        run = brellixCheck(t, "'d/gone\xff.xml'");
        QCOMPARE(run.status, 2);
        QVERIFY(run.err.contains("no such file or folder"));
    }

    void theWindowAddsChecksShowsAndSavesEveryName() {
        RawTree t;
        makeTree(t);
        TestEnv& env = t.env;
        auto form = env.makeForm();
        form->Check1->setValue(0);
        env.platform.inputAnswers.push_back("xml");
        env.platform.folderAnswers.push_back(t.path("d"));
        QTest::mouseClick(form->PushButton3, Qt::LeftButton);
        const QStringList added{t.path("d/inv\xff.xml"),
                                t.path("d/ok.xml"),
                                t.path("d/\xef\xbb\xbf"
                                       "bom.xml"),
                                t.path("d/sub\xe9/a.xml"),
                                t.path("d/sub\xe9/bad.xml"),
                                t.path("d/sub\xe9/dtd.xml")};
        QCOMPARE(form->ListView1->texts(), added);
        const FileListModel& model = form->ListView1->model();
        QCOMPARE(model.data(model.index(0, 0), Qt::DisplayRole).toString(), ShownText(added[0]));
        QVERIFY(model.data(model.index(0, 0), Qt::DisplayRole).toString().contains(kFffd));

        QTest::mouseClick(form->PushButton4, Qt::LeftButton);
        QCOMPARE(form->ListView2->texts(), (QStringList{added[1], added[2], added[3], added[5]}));
        QCOMPARE(form->ListView3->texts(), (QStringList{added[0], added[4]}));

        const QByteArray root = t.root + "/d/";
        env.platform.saveAnswers.push_back(env.path("valid.txt"));
        QTest::mouseClick(form->PushButton6, Qt::LeftButton);
        QCOMPARE(t.read("valid.txt"), root + "ok.xml\r\n" + root +
                                          "\xef\xbb\xbf"
                                          "bom.xml\r\n" +
                                          root + "sub\xe9/a.xml\r\n" + root +
                                          "sub\xe9/dtd.xml\r\n");
        env.platform.saveAnswers.push_back(env.path("invalid.txt"));
        QTest::mouseClick(form->PushButton1, Qt::LeftButton);
        QCOMPARE(t.read("invalid.txt"), root + "inv\xff.xml\r\n" + root + "sub\xe9/bad.xml\r\n");
        QCOMPARE(env.platform.messageTexts(), QStringList{"Done."});  // the run's end, no more

        // Dropped as addresses, as a file manager drops them.
        form->ListView1->clear();
        QMimeData data;
        data.setUrls(
            {QUrl::fromEncoded("file://" + (t.root + "/d/sub\xe9").toPercentEncoding("/")),
             QUrl::fromEncoded("file://" + (t.root + "/d/inv\xff.xml").toPercentEncoding("/"))});
        form->ListView1_OLEDragDrop(&data);
        QCOMPARE(form->ListView1->texts(),
                 (QStringList{added[3], added[4], added[5], t.path("d/sub\xe9/r.dtd"), added[0]}));
        QVERIFY(env.platform.unexpected.isEmpty());
    }
};

QTEST_MAIN(TestRawNames)
#include "test_raw_names.moc"
