// Finding the desktop's plain-text editor from the freedesktop.org configuration files.

#include "EditorAtLine.h"
#include "Platform.h"
#include "TextEditor.h"
#include "files/PathUtil.h"
#include "tests/support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kFile = QStringLiteral("/home/ann/My Samples/a b.xml");

// A desktop in a scratch folder, whose installed programs live in /bin of nowhere.
struct FakeDesktop {
    TestEnv env;
    QSet<QString> programs;

    DesktopEnvironment environment() const {
        DesktopEnvironment e;
        e.configHome = env.path("config");
        e.configDirs = {env.path("etc/xdg")};
        e.dataHome = env.path("local/share");
        e.dataDirs = {env.path("usr/local/share"), env.path("usr/share")};
        e.findProgram = [programs = programs](const QString& name) {
            const QString path = name.startsWith('/') ? name : "/bin/" + name;
            return programs.contains(path) ? path : QString();
        };
        return e;
    }
    void write(const QString& name, const QString& text) { env.write(name, text.toUtf8()); }
    void application(const QString& folder, const QString& id, const QString& entry) {
        write(folder + "/applications/" + id, "[Desktop Entry]\nType=Application\n" + entry);
    }
    std::optional<EditorCommand> editor() const { return TextEditorCommand(kFile, environment()); }
};

void compareCommand(const std::optional<EditorCommand>& actual, const QString& program,
                    const QStringList& arguments) {
    QVERIFY(actual.has_value());
    QCOMPARE(actual->program, program);
    QCOMPARE(actual->arguments, arguments);
}

}  // namespace

class TestTextEditor : public QObject {
    Q_OBJECT
private slots:
    void userDefaultComesBeforeTheSystemsAndTheDesktopsOwnFirst() {
        FakeDesktop d;
        d.programs = {"/bin/scribe", "/bin/quill", "/bin/kwrite"};
        d.write("usr/share/applications/mimeapps.list",
                "[Default Applications]\ntext/plain=quill.desktop\n");
        d.write("config/mimeapps.list",
                "# mine\n[Added Associations]\ntext/plain=quill.desktop;\n"
                "[Default Applications]\ntext/html=quill.desktop\ntext/plain=scribe.desktop;\n");
        d.application("local/share", "scribe.desktop",
                      "Name=Scribe\nExec=scribe --new-window %U\n");
        d.application("usr/share", "quill.desktop", "Name=Quill\nExec=quill %f\n");
        compareCommand(d.editor(), "/bin/scribe", {"--new-window", kFile});
        QCOMPARE(PreferredApplications("text/plain", d.environment()),
                 QStringList({"scribe.desktop", "quill.desktop"}));

        // The desktop's own list wins over the plain one of the same folder.
        d.write("config/kde-mimeapps.list", "[Default Applications]\ntext/plain=quill.desktop\n");
        DesktopEnvironment kde = d.environment();
        kde.desktops = {"kde"};
        compareCommand(TextEditorCommand(kFile, kde), "/bin/quill", {kFile});
    }

    void unusableEntriesArePassedOver() {
        FakeDesktop d;
        d.programs = {"/bin/vim", "/bin/ghost", "/bin/fine"};
        d.write("etc/xdg/mimeapps.list",
                "[Default Applications]\ntext/plain=absent.desktop;vim.desktop;hidden.desktop;"
                "gone.desktop;tried.desktop;broken.desktop;link.desktop;kde4-fine.desktop\n");
        d.application("usr/share", "vim.desktop", "Exec=vim %F\nTerminal=true\n");
        d.application("usr/share", "hidden.desktop", "Exec=ghost %F\nHidden=true\n");
        d.application("usr/share", "gone.desktop", "Exec=/opt/gone/bin/gone %F\n");
        d.application("usr/share", "tried.desktop", "TryExec=missing\nExec=ghost %F\n");
        d.application("usr/share", "broken.desktop", "Exec=\"ghost %F\n");
        d.write("usr/share/applications/link.desktop", "[Desktop Entry]\nType=Link\nExec=ghost\n");
        // A vendor folder: kde4-fine.desktop is kde4/fine.desktop.
        d.application("usr/share", "kde4/fine.desktop", "Exec=fine\n");
        compareCommand(d.editor(), "/bin/fine", {kFile});
    }

    void withoutADefaultAKnownEditorThenAnyDeclaringApplication() {
        FakeDesktop d;
        d.programs = {"/bin/mousepad", "/bin/writer", "/bin/vim"};
        d.write("usr/share/applications/mimeinfo.cache",
                "[MIME Cache]\ntext/plain=vim.desktop;writer.desktop;\n");
        d.application("usr/share", "vim.desktop", "Exec=vim %F\nTerminal=true\n");
        d.application("usr/share", "writer.desktop", "Exec=writer --view %U\n");
        compareCommand(d.editor(), "/bin/mousepad", {kFile});

        d.programs.remove("/bin/mousepad");
        compareCommand(d.editor(), "/bin/writer", {"--view", kFile});

        d.programs.remove("/bin/writer");
        QVERIFY(!d.editor().has_value());
    }

    void openingStartsTheEditorOrSaysWhyNot() {
        FakeDesktop d;
        QList<QStringList> started;
        QString refusal;
        DesktopEnvironment e = d.environment();
        e.startProgram = [&](const QString& program, const QStringList& arguments, QString* error) {
            started.append(QStringList{program} + arguments);
            *error = refusal;
            return refusal.isEmpty();
        };
        QString error;
        QVERIFY(!OpenInTextEditor(kFile, e, &error));
        QCOMPARE(error, "No plain-text editor was found to open " + kFile +
                            ". Install a text editor or choose a default application for plain "
                            "text files.");
        QVERIFY(started.isEmpty());

        d.programs = {"/bin/gedit"};
        e.findProgram = d.environment().findProgram;
        QVERIFY(OpenInTextEditor(kFile, e, &error));
        refusal = "No such file or directory";
        QVERIFY(!OpenInTextEditor(kFile, e, &error));
        QCOMPARE(error,
                 "The text editor /bin/gedit could not be started: No such file or directory");
        QCOMPARE(started, QList<QStringList>(2, {"/bin/gedit", kFile}));
    }

    void editorsGetTheLineInTheirOwnForm_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        const QString f = kFile;
        QTest::newRow("VS Code") << "/usr/bin/code" << QStringList{"--new", "-g", f + ":12:7"};
        QTest::newRow("VSCodium") << "codium" << QStringList{"--new", "-g", f + ":12:7"};
        QTest::newRow("Sublime Text") << "subl" << QStringList{"--new", f + ":12:7"};
        QTest::newRow("Kate") << "kate" << QStringList{"--new", "-l", "12", "-c", "7", f};
        QTest::newRow("KWrite") << "kwrite" << QStringList{"--new", "-l", "12", "-c", "7", f};
        QTest::newRow("Geany") << "geany" << QStringList{"--new", "--line=12", "--column=7", f};
        QTest::newRow("gedit") << "gedit" << QStringList{"--new", "+12:7", f};
        QTest::newRow("Emacs") << "emacs" << QStringList{"--new", "+12:7", f};
        QTest::newRow("emacsclient") << "emacsclient" << QStringList{"--new", "+12:7", f};
        QTest::newRow("micro") << "micro" << QStringList{"--new", "+12:7", f};
        QTest::newRow("GNOME Text Editor") << "gnome-text-editor" << QStringList{"--new", "+12", f};
        QTest::newRow("Pluma") << "pluma" << QStringList{"--new", "+12", f};
        QTest::newRow("Xed") << "xed" << QStringList{"--new", "+12", f};
        QTest::newRow("vim") << "/usr/bin/vim" << QStringList{"--new", "+12", f};
        QTest::newRow("Neovim") << "nvim" << QStringList{"--new", "+12", f};
        QTest::newRow("nano") << "nano" << QStringList{"--new", "+12,7", f};
        QTest::newRow("unknown") << "/opt/scribe" << QStringList{"--new", f};
    }
    void editorsGetTheLineInTheirOwnForm() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const EditorCommand at = AtLine({program, {"--new", kFile}}, kFile, 12, 7);
        QCOMPARE(at.program, program);
        QCOMPARE(at.arguments, arguments);
    }

    void withoutALineOrTheFileTheCommandStaysAsItIs() {
        const EditorCommand gedit{"gedit", {kFile}};
        QCOMPARE(AtLine(gedit, kFile, 0, 0).arguments, QStringList{kFile});
        QCOMPARE(AtLine(gedit, kFile, 4, 0).arguments, QStringList({"+4:1", kFile}));
        const EditorCommand joined{"gedit", {"--file=" + kFile}};
        QCOMPARE(AtLine(joined, kFile, 4, 2).arguments, joined.arguments);
    }

    void aTerminalEditorWhenNoGraphicalOneIsThere() {
        FakeDesktop d;
        d.programs = {"/bin/nano", "/bin/vim", "/bin/xterm"};
        QList<QStringList> started;
        DesktopEnvironment e = d.environment();
        e.editor = "nano";
        e.visual = "vim -p";
        e.startProgram = [&](const QString& program, const QStringList& arguments, QString*) {
            started.append(QStringList{program} + arguments);
            return true;
        };
        QString error;
        QVERIFY(OpenInEditorAt(kFile, 9, 3, e, &error));
        QCOMPARE(started.last(), QStringList({"/bin/xterm", "-e", "/bin/vim", "-p", "+9", kFile}));
        e.visual.clear();
        QVERIFY(OpenInEditorAt(kFile, 9, 3, e, &error));
        QCOMPARE(started.last(), QStringList({"/bin/xterm", "-e", "/bin/nano", "+9,3", kFile}));
        // A graphical editor comes first.
        d.programs.insert("/bin/gedit");
        e.findProgram = d.environment().findProgram;
        QVERIFY(OpenInEditorAt(kFile, 9, 3, e, &error));
        QCOMPARE(started.last(), QStringList({"/bin/gedit", "+9:3", kFile}));
        // Neither: the same message as for the samples.
        d.programs = {"/bin/nano"};
        e.findProgram = d.environment().findProgram;
        QVERIFY(!OpenInEditorAt(kFile, 9, 3, e, &error));
        QVERIFY(error.startsWith("No plain-text editor was found to open " + kFile));
        QCOMPARE(started.size(), 3);
    }

    void execLinesFollowTheQuotingRules() {
        QCOMPARE(SplitExecValue("  a   b\tc "), QStringList({"a", "b", "c"}));
        QCOMPARE(SplitExecValue(
                     "\"/opt/My Editor/ed\" --title \"say \\\"hi\\\" \\$HOME \\\\ \\`x\\`\" \"\""),
                 QStringList({"/opt/My Editor/ed", "--title", "say \"hi\" $HOME \\ `x`", ""}));
        QCOMPARE(SplitExecValue("pre\"fix and\"post"), QStringList({"prefix andpost"}));
        QCOMPARE(SplitExecValue("ed \"open"), std::nullopt);

        // Through an entry: the string escapes come first, then the quoting.
        FakeDesktop d;
        d.programs = {"/opt/My Editor/ed"};
        d.write("config/mimeapps.list", "[Default Applications]\ntext/plain=ed.desktop\n");
        d.application("local/share", "ed.desktop",
                      "Exec=\"/opt/My Editor/ed\" --title=\"C:\\\\\\\\x\"\\s%f\n");
        compareCommand(d.editor(), "/opt/My Editor/ed", {"--title=C:\\x", kFile});
    }

    void fieldCodesAreExpanded() {
        const QString file = "/tmp/100%f %F.xml";  // codes in the file name stay as they are
        const auto expand = [&](const QString& line, const QString& icon = "ed-icon") {
            QString refusal;
            const std::optional<std::vector<ExecArgument>> exec = SplitExecLine(line);
            if (!exec)
                return std::optional<QStringList>();
            const std::optional<QStringList> expanded = ExpandExecArguments(
                *exec, file, "Ed", icon, "/usr/share/applications/ed.desktop", &refusal);
            if (expanded.has_value() == !refusal.isEmpty())
                qWarning("a refusal without its reason, or a reason without a refusal");
            return expanded;
        };
        QCOMPARE(expand("%F"), QStringList({file}));
        QCOMPARE(expand("\"%f\" %%x \"100%%\""), QStringList({file, "%x", "100%"}));
        QCOMPARE(expand("%i --name %c %k"),
                 QStringList({"--icon", "ed-icon", "--name", "Ed",
                              "/usr/share/applications/ed.desktop", file}));
        QCOMPARE(expand("%i %d %m -x%D %U", ""), QStringList({"-x", file}));
        QCOMPARE(expand("--new"), QStringList({"--new", file}));
        QCOMPARE(expand("%z"), QStringList({"%z", file}));

        // A file code inside a quoted argument or joined to other text would hand the name to
        // whatever the program makes of that text (a shell runs it): the line is refused.
        QString refusal;
        QCOMPARE(ExpandExecArguments(*SplitExecLine("-c \"edit %f\""), file, "", "", "", &refusal),
                 std::nullopt);
        QCOMPARE(refusal, "the field code %f stands inside the quoted argument \"edit %f\"");
        for (const char* line : {"-c edit%f", "--file=%u", "\"--name=%c\"", "-- \"%U \"", "x%F"})
            QVERIFY2(!expand(line).has_value(), line);
    }

    void entriesGetTheLineAndTheFileAsOneArgument() {
        const QString file = QStringLiteral("/tmp/inj$(touch${IFS}PWNED) \"x\";%f.xml");
        FakeDesktop d;
        d.programs = {"/bin/gedit", "/usr/bin/code", "/bin/sh"};
        d.write("config/mimeapps.list", "[Default Applications]\ntext/plain=ed.desktop\n");
        QList<QStringList> started;
        const auto open = [&](const QString& exec) {
            d.application("local/share", "ed.desktop", "Exec=" + exec + "\n");
            DesktopEnvironment e = d.environment();
            e.startProgram = [&](const QString& program, const QStringList& arguments, QString*) {
                started.append(QStringList{program} + arguments);
                return true;
            };
            QString error;
            const bool opened = OpenInEditorAt(file, 12, 7, e, &error);
            return opened ? QString() : error;
        };
        QCOMPARE(open("gedit --new-window %U"), QString());
        QCOMPARE(started.last(), QStringList({"/bin/gedit", "--new-window", "+12:7", file}));
        QCOMPARE(open("/usr/bin/code --unity-launch %F"), QString());
        QCOMPARE(started.last(),
                 QStringList({"/usr/bin/code", "--unity-launch", "-g", file + ":12:7"}));
        // A shell that takes the file as its argument, not as a part of its script.
        QCOMPARE(open("sh -c \"edit \\\\\"\\\\$1\\\\\"\" sh %f"), QString());
        QCOMPARE(started.last(), QStringList({"/bin/sh", "-c", "edit \"$1\"", "sh", file}));

        // Refused, and without another editor that is the reason given.
        d.programs = {"/bin/sh"};
        const QString entry = d.env.path("local/share/applications/ed.desktop");
        QCOMPARE(open("sh -c \"edit %f\""),
                 "The desktop entry " + entry + " was not used to open " + file +
                     ": the field code %f stands inside the quoted argument \"edit %f\" of its "
                     "command line (sh -c \"edit %f\"), where the program could take a part of "
                     "the file's name for a command. A field code for a file must be an "
                     "argument of its own.");
        QCOMPARE(started.size(), 3);
        // Another editor of the desktop is used instead.
        d.programs.insert("/bin/mousepad");
        QCOMPARE(open("sh -c \"edit %f\""), QString());
        QCOMPARE(started.last(), QStringList({"/bin/mousepad", file}));
    }

    void aFileNameNeverBecomesAShellCommand() {
        // The desktop implementation with the process's own environment, pointed at a
        // desktop of its own: a shell that would run a command hidden in the name.
        TestEnv env;
        QVERIFY(QDir().mkpath(env.path("bin")));
        QVERIFY(QFile::link(QStandardPaths::findExecutable("sh"), env.path("bin/sh")));
        QVERIFY(QFile::link(QStandardPaths::findExecutable("touch"), env.path("bin/touch")));
        env.write("config/mimeapps.list", "[Default Applications]\ntext/plain=shell.desktop\n");
        const QString entry = env.path("data/applications/shell.desktop");
        const QString file = env.write("inj$(touch${IFS}PWNED).xml", "<r/>");
        const QString before = QDir::currentPath();
        const std::vector<std::pair<const char*, QString>> variables{
            {"XDG_CONFIG_HOME", env.path("config")},
            {"XDG_CONFIG_DIRS", env.path("etc")},
            {"XDG_DATA_HOME", env.path("data")},
            {"XDG_DATA_DIRS", env.path("share")},
            {"PATH", env.path("bin")},
            {"VISUAL", ""},
            {"EDITOR", ""},
            {"XDG_CURRENT_DESKTOP", ""}};
        std::vector<std::optional<QByteArray>> kept;
        for (const auto& [name, value] : variables) {
            kept.push_back(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                           : std::nullopt);
            qputenv(name, value.toUtf8());
        }
        const auto restore = qScopeGuard([&] {
            for (std::size_t i = 0; i < variables.size(); ++i)
                kept[i] ? qputenv(variables[i].first, *kept[i]) : qunsetenv(variables[i].first);
            QDir::setCurrent(before);
        });
        QVERIFY(QDir::setCurrent(env.path(".")));

        DesktopPlatform platform;
        QString error;
        env.write("data/applications/shell.desktop",
                  "[Desktop Entry]\nType=Application\nExec=sh -c \"edit %f\"\n");
        QVERIFY(!platform.openInEditorAt(file, 3, 1, &error));
        QVERIFY2(error.startsWith("The desktop entry " + entry + " was not used"),
                 qPrintable(error));
        // Written as it should be, the entry gets the file as an argument of the script.
        env.write("data/applications/shell.desktop",
                  "[Desktop Entry]\nType=Application\n"
                  "Exec=sh -c \"touch \\\\\"\\\\$1.seen\\\\\"\" sh %f\n");
        QVERIFY2(platform.openInEditorAt(file, 3, 1, &error), qPrintable(error));
        QTRY_VERIFY(QFile::exists(file + ".seen"));
        // A name that is not UTF-8 text reaches the editor as its bytes.
        const QByteArray raw = PathBytes(env.path("caf")) + "\xe9.xml";
        const auto removeRaw = qScopeGuard([&] {
            ::unlink(raw.constData());
            ::unlink((raw + ".seen").constData());
        });
        QVERIFY(::close(::open(raw.constData(), O_WRONLY | O_CREAT, 0644)) == 0);
        QVERIFY2(platform.openInEditorAt(PathFromBytes(raw), 3, 1, &error), qPrintable(error));
        QTRY_VERIFY(::access((raw + ".seen").constData(), F_OK) == 0);
        QVERIFY(!QFile::exists(env.path("PWNED")));
    }
};

QTEST_MAIN(TestTextEditor)
#include "test_text_editor.moc"
