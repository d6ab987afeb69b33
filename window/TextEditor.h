#pragma once
// Which program this desktop uses to open a file as plain text, found the way a freedesktop.org
// desktop finds it: the default application for "text/plain" in the mimeapps.list files, its
// .desktop entry and that entry's Exec line; then a well-known editor on the PATH; then any
// installed application that declares it opens "text/plain". Terminal programs are passed over:
// started without a terminal they would show nothing.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// The command line that opens one file: the program's absolute path and its arguments, the
// file being exactly one of them.
struct EditorCommand {
    QString program;
    QStringList arguments;
};

// What the lookup reads, so that tests can set up a desktop of their own.
struct DesktopEnvironment {
    QString configHome;      // $XDG_CONFIG_HOME, default ~/.config
    QStringList configDirs;  // $XDG_CONFIG_DIRS, default /etc/xdg
    QString dataHome;        // $XDG_DATA_HOME, default ~/.local/share
    QStringList dataDirs;    // $XDG_DATA_DIRS, default /usr/local/share:/usr/share
    QStringList desktops;    // $XDG_CURRENT_DESKTOP, lower case, e.g. {"ubuntu", "gnome"}
    QString visual;          // $VISUAL: the user's terminal editor, with its arguments
    QString editor;          // $EDITOR: the same, when $VISUAL is not set
    // A program name or path to the absolute path of an executable file, or empty.
    std::function<QString(const QString&)> findProgram;
    // Starts a program without waiting for it, each argument passed as one argument; false
    // with the reason in the third argument when it could not be started.
    std::function<bool(const QString&, const QStringList&, QString*)> startProgram;

    // The environment of the running process.
    static DesktopEnvironment current();
};

// The command that opens `file` in the desktop's plain-text editor, or nothing when this
// desktop has none. Entries whose command line cannot take the file safely are passed over;
// why the first of them was refused goes to `refusal`.
std::optional<EditorCommand> TextEditorCommand(const QString& file,
                                               const DesktopEnvironment& environment,
                                               QString* refusal = nullptr);

// Starts the desktop's plain-text editor on `file`, the path passed as one argument whatever
// blanks it holds. False, with a reason the user can act on in `error`, when this desktop has
// no editor or it could not be started.
bool OpenInTextEditor(const QString& file, const DesktopEnvironment& environment, QString* error);

// Starts `command` (an editor that opens `file`). False, with a reason the user can act on in
// `error`, when there is no command (`refusal`, when given, is that reason) or it could not be
// started.
bool StartEditor(const std::optional<EditorCommand>& command, const QString& file,
                 const DesktopEnvironment& environment, QString* error,
                 const QString& refusal = {});

// The desktop file ids that the mimeapps.list files name as defaults for a MIME type, most
// preferred first, the added associations after them.
QStringList PreferredApplications(const QString& mimeType, const DesktopEnvironment& environment);

// One argument of an Exec line, its quoting undone; `quoted` when any part of it was quoted.
struct ExecArgument {
    QString text;
    bool quoted = false;
    bool operator==(const ExecArgument&) const = default;
};

// Splits a .desktop Exec value (already unescaped as a string) into arguments by the desktop
// entry quoting rules. Nothing when the quoting is broken.
std::optional<std::vector<ExecArgument>> SplitExecLine(const QString& exec);
// The same, the arguments' texts only.
std::optional<QStringList> SplitExecValue(const QString& exec);

// The arguments of an Exec line for opening `file`, field codes expanded: %f, %F, %u and %U
// each stand alone as an argument and become the file, passed as one argument of its own (the
// file is appended when the line has none); %% is a "%"; %i is "--icon" and the icon as two
// arguments (none without an icon); %c and %k are the name and the entry's path; the
// deprecated codes are dropped. Nothing, with the reason in `refusal`, when the line puts a
// field code inside a quoted argument or a file code beside other text: there the program
// (a shell, for one) could take the file's name for a part of a command.
std::optional<QStringList> ExpandExecArguments(const std::vector<ExecArgument>& exec,
                                               const QString& file, const QString& name,
                                               const QString& icon, const QString& entryPath,
                                               QString* refusal);
