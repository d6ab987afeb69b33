// The error box, the guarded steps, the settings store and the application title.

#include "Application.h"
#include "ApplicationError.h"
#include "ApplicationTitle.h"
#include "Settings.h"
#include "common/LineBreaks.h"
#include "tests/support/ScriptedPlatform.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
ScriptedPlatform* gPlatform = nullptr;  // the application object's platform
}  // namespace

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void locationTexts() {
        QCOMPARE(Form1Location("Form_Load"), "in Brellix2021/08/31.Form1.Form_Load ");
        QCOMPARE(LocationText("TernwickTitle", "AddFolder", "GetSubDirectories2016"),
                 "in TernwickTitle2021/08/31.AddFolder.GetSubDirectories2016 ");
        QCOMPARE(LocationText("Brellix", "Validate2", "ValidateXML2"),
                 "in Brellix2021/08/31.Validate2.ValidateXML2 ");
    }

    void messageIsJoinedExactly() {
        // A description ending in a full stop runs straight into CR LF; CR CR, not CR LF pairs,
        // before the support line.
        QCOMPARE(ApplicationErrorMessage("Type mismatch.", Form1Location("Form_Load"), 140),
                 QString("Type mismatch.\r\nin Brellix2021/08/31.Form1.Form_Load at line 140\r\r"
                         "Please email screenshot of this message to ") +
                     kSupportAddress);
    }

    void theBoxHasItsTitleIconAndButton() {
        ScriptedPlatform platform;
        ReportApplicationError(platform, nullptr, "Disk full", "in X2021/08/31.M.P ", 7);
        QCOMPARE(platform.calls.size(), 1);
        const PlatformCall& box = platform.calls.first();
        QCOMPARE(box.title, "Application Error");
        QCOMPARE(box.icon, MessageIcon::Exclamation);
        QCOMPARE(box.buttons, MessageButtons::Ok);
        QVERIFY(box.text.startsWith("Disk full\r\nin X2021/08/31.M.P at line 7\r\r"));
    }

    void anExceptionOutOfAnEventHandlerShowsTheBox() {
        struct Throwing final : QObject {
            bool event(QEvent*) override { throw std::runtime_error("Broken handler"); }
        } target;
        QEvent event(QEvent::User);
        QVERIFY(!QCoreApplication::sendEvent(&target, &event));
        QCOMPARE(gPlatform->calls.size(), 1);
        const PlatformCall& box = gPlatform->calls.first();
        QCOMPARE(box.title, "Application Error");
        QCOMPARE(box.icon, MessageIcon::Exclamation);
        QVERIFY(box.text.startsWith(
            "Broken handler\r\nin Brellix2021/08/31.Form1.EventLoop at line 0\r\r"));
    }

    void guardReportsAndGoesOn() {
        ScriptedPlatform platform;
        ApplicationErrorBox box(platform, nullptr);
        Guard guard(box, Form1Location("PushButton4_Click"));
        QStringList done;
        QVERIFY(!guard.step(100, [] { throw StepFailure("first"); }));
        QVERIFY(guard.step(102, [&] { done << "102"; }));
        // A failing test counts as passed.
        QVERIFY(guard.test(104, []() -> bool { throw std::runtime_error("test failed"); }));
        QVERIFY(!guard.test(106, [] { return false; }));
        // A step failing in every pass of a loop shows one box per pass.
        for (int i = 0; i < 3; ++i)
            guard.step(108, [] { throw 42; });
        QCOMPARE(done, QStringList{"102"});
        const QStringList texts = platform.messageTexts();
        QCOMPARE(texts.size(), 5);
        QVERIFY(texts[0].startsWith(
            "first\r\nin Brellix2021/08/31.Form1.PushButton4_Click at line 100\r"));
        QVERIFY(texts[1].startsWith("test failed\r\n"));
        QVERIFY(texts[1].contains("at line 104\r"));
        QVERIFY(texts[4].startsWith("Unexpected error\r\n"));
        QVERIFY(texts[4].contains("at line 108\r"));
    }

    void displayLineBreaks() {
        QCOMPARE(WithLineFeeds("a\r\nb\rc\nd"), "a\nb\nc\nd");
        QCOMPARE(WithLineFeeds("x.\r\rPlease"), "x.\n\nPlease");
    }

    void settingsReadDefaultsAndWrite() {
        QTemporaryDir dir;
        const QString file = dir.filePath("cfg/Halvessa.ini");
        SettingsStore store(file);
        QCOMPARE(store.read("Check1", "1"), "1");
        QCOMPARE(store.read("Extension", "xml"), "xml");
        store.write("Extension", "txt");
        store.write("LastFolder", "");
        store.write("Check1", "0");
        // Lasting at once: a second store on the same file sees the values.
        SettingsStore again(file);
        QCOMPARE(again.read("Extension", "xml"), "txt");
        QCOMPARE(again.read("LastFolder", "fallback"), "");  // an empty text exists
        QCOMPARE(again.read("Check1", "1"), "0");
        // Stored under the section "Brellix".
        QFile ini(file);
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray content = ini.readAll();
        QVERIFY(content.contains("[Brellix]"));
        QVERIFY(content.contains("Extension=txt"));
    }

    void settingsKeepOddTexts() {
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Halvessa.ini"));
        const QString folder = "/home/u/a, b/=c;d \"e\" ü";
        store.write("LastFolder", folder);
        QCOMPARE(SettingsStore(dir.filePath("Halvessa.ini")).read("LastFolder", ""), folder);
    }

    void settingsWriteFailureIsReported() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SettingsStore store(dir.filePath("file/Halvessa.ini"));  // its folder is a file
        QVERIFY_THROWS_EXCEPTION(StepFailure, store.write("Check1", "1"));
    }

    void defaultStoreIsPerUser() {
        QVERIFY(SettingsStore::defaultFileName().endsWith("/Halvessa.ini"));
    }

    void applicationTitle_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::newRow("one word") << "Brellix"
                                  << "Brellix";
        QTest::newRow("two words") << "Brellix Checker"
                                   << "Brellix";
        QTest::newRow("three words") << "Brellix XML Checker"
                                     << "Brellix XML";
        QTest::newRow("long")
            << "Alpha Bravo Charlie Delta Echo Foxtrot Golf Hotel India"  // 55 characters
            << "Alpha Bravo Charlie Delta Echo Foxtrot";                  // 38 characters
        QTest::newRow("exactly 40 after one cut") << "Aaaaaaaaa Bbbbbbbbb Ccccccccc Dddddddddd Last"
                                                  << "Aaaaaaaaa Bbbbbbbbb Ccccccccc Dddddddddd";
        QTest::newRow("long single word") << QString(50, 'x') << QString(50, 'x');
    }
    void applicationTitle() {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QCOMPARE(ApplicationTitleFor(name), title);
    }
};

int main(int argc, char* argv[]) {
    ScriptedPlatform platform;
    gPlatform = &platform;
    Application app(argc, argv, platform);
    TestShell test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_shell.moc"
