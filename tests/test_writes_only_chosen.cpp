// Nothing is written anywhere but the file the user chose and the settings store: a whole
// session (a folder scan, a checking run, both lists saved) runs in a private home, temporary
// and working folder and a copy of the program folder, and every file of them is compared
// before and after.

#include "Application.h"
#include "FileList.h"
#include "Form1.h"
#include "Settings.h"
#include "Widgets.h"
#include "check/XmlCheck.h"
#include "tests/support/FolderTree.h"
#include "tests/support/ScriptedPlatform.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>
#include <cstdlib>

namespace {

// Everything under `root`: each item's kind, and a file's size, time and content digest.
QMap<QString, QString> snapshot(const QString& root) {
    QMap<QString, QString> items;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        // A folder's own time changes with its entries, which are compared one by one.
        QString state = info.isSymLink() ? QStringLiteral("link ") + info.symLinkTarget()
                        : info.isDir()   ? QStringLiteral("folder")
                                         : QStringLiteral("file %1 %2")
                                             .arg(info.size())
                                             .arg(info.lastModified().toMSecsSinceEpoch());
        QFile file(path);
        if (info.isFile() && !info.isSymLink() && file.open(QIODevice::ReadOnly))
            state += QLatin1Char(' ') +
                     QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex();
        items.insert(path.mid(root.size() + 1), state);
    }
    return items;
}

// The private folders, made before the application object reads its environment.
struct Sandbox {
    QTemporaryDir root;
    QString path(const QString& name) const { return root.filePath(name); }
    Sandbox() {
        for (const char* folder : {"home", "runtime", "tmp", "cwd", "program", "out"})
            tree::makeFolder(path(folder));
        QFile::setPermissions(path("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("HOME", QFile::encodeName(path("home")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path("runtime")));
        qputenv("TMPDIR", QFile::encodeName(path("tmp")));
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME",
                                     "XDG_STATE_HOME", "XML_CATALOG_FILES"})
            qunsetenv(variable);
        if (::chdir(QFile::encodeName(path("cwd")).constData()) != 0)
            qFatal("cannot enter the working folder");
    }
};

Sandbox* gSandbox = nullptr;

}  // namespace

class TestWritesOnlyChosen : public QObject {
    Q_OBJECT
private slots:
    void aWholeSessionWritesOnlyTheChosenFilesAndTheSettings() {
        Sandbox& box = *gSandbox;
        // A folder to scan, with a document that loads definitions beside it, and the
        // program's data files.
        const QString data = box.path("home/Documents");
        tree::makeFile(data + "/good.xml", "<a><b/></a>");
        tree::makeFile(data + "/bad.xml", "<a><b></a>");
        tree::makeFile(data + "/sub/rules.dtd", "<!ELEMENT a EMPTY>");
        tree::makeFile(data + "/sub/uses-dtd.xml", "<!DOCTYPE a SYSTEM \"rules.dtd\"><a/>");
        tree::makeFile(data + "/sub/remote.xml",
                       "<!DOCTYPE a SYSTEM \"http://127.0.0.1:9/a.dtd\"><a/>");
        QDirIterator programData(QStringLiteral(BRELLIX_SOURCE_DIR "/data"), QDir::Files,
                                 QDirIterator::Subdirectories);
        while (programData.hasNext()) {
            const QString source = programData.next();
            QFile::copy(source, box.path("program") +
                                    source.mid(QString(BRELLIX_SOURCE_DIR "/data").size()));
        }
        InitXmlChecking();
        const QMap<QString, QString> before = snapshot(box.root.path());

        {
            ScriptedPlatform platform;
            SettingsStore settings;
            QCOMPARE(settings.fileName(), box.path("home/.config/Halvessa.ini"));
            Form1 form(platform, settings, box.path("program"));
            form.show();
            platform.inputAnswers.push_back("xml");
            platform.folderAnswers.push_back(data);
            QTest::mouseClick(form.PushButton3, Qt::LeftButton);
            QCOMPARE(form.ListView1->count(), 4);
            QTest::mouseClick(form.Check1, Qt::LeftButton);
            QTest::mouseClick(form.PushButton4, Qt::LeftButton);
            QCOMPARE(form.ListView2->count(), 2);
            QCOMPARE(form.ListView3->count(), 2);
            platform.saveAnswers.push_back(box.path("out/valid.txt"));
            QTest::mouseClick(form.PushButton6, Qt::LeftButton);
            platform.saveAnswers.push_back(box.path("out/invalid.txt"));
            QTest::mouseClick(form.PushButton1, Qt::LeftButton);
            QCOMPARE(platform.messageTexts(), QStringList{"Done."});
        }

        const QMap<QString, QString> after = snapshot(box.root.path());
        QVERIFY(after.contains("home/.config/Halvessa.ini"));
        QVERIFY(after.contains("out/valid.txt") && after.contains("out/invalid.txt"));
        const QStringList chosen{"home/.config", "home/.config/Halvessa.ini", "out/valid.txt",
                                 "out/invalid.txt"};
        QStringList differences;
        QStringList keys = before.keys() + after.keys();
        keys.removeDuplicates();
        for (const QString& key : keys)
            if (!chosen.contains(key) && before.value(key) != after.value(key))
                differences << key + ": " + before.value(key, "absent") + " -> " +
                                   after.value(key, "absent");
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join("\n")));
    }
};

int main(int argc, char* argv[]) {
    Sandbox sandbox;  // before the application object, which reads the environment
    gSandbox = &sandbox;
    ScriptedPlatform platform;
    Application app(argc, argv, platform);
    TestWritesOnlyChosen test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_writes_only_chosen.moc"
