#pragma once
// Opening a file in the desktop's editor at a line and column: the common editors each take
// the position in a form of their own; a terminal editor ($VISUAL, $EDITOR) runs in a terminal
// emulator when the desktop has no graphical editor.

#include "TextEditor.h"

#include <QString>

// How an editor takes the line and column of the file it opens.
enum class LineForm {
    None,             // it cannot be told: the file opens at its top
    PlusLine,         // +LINE FILE (gedit's relatives, vi, vim)
    PlusLineColon,    // +LINE:COLUMN FILE (gedit, Emacs, micro)
    PlusLineComma,    // +LINE,COLUMN FILE (nano)
    FileLineColumn,   // FILE:LINE:COLUMN (Sublime Text)
    GotoFileLine,     // -g FILE:LINE:COLUMN (Visual Studio Code and its builds)
    LineColumnFlags,  // -l LINE -c COLUMN FILE (Kate, KWrite)
    GeanyFlags,       // --line=LINE --column=COLUMN FILE (Geany)
};

// The form of the editor whose program is `program` (a path or a name).
LineForm LineFormOf(const QString& program);

// `command`, which opens `file` as one of its arguments, made to open it at `line` and
// `column` (both from 1; a column of 0 is not known). Unchanged when the editor's form is not
// known, the line is not known (0) or the file is not one of the arguments.
EditorCommand AtLine(EditorCommand command, const QString& file, int line, int column);

// The command that runs the terminal editor named by $VISUAL or else $EDITOR on `file`, in
// the first terminal emulator found; nothing when there is no such editor or terminal.
std::optional<EditorCommand> TerminalEditorCommand(const QString& file,
                                                   const DesktopEnvironment& environment);

// Starts the editor on `file` at `line` and `column`: the desktop's plain-text editor, else a
// terminal editor. False, with a reason the user can act on in `error`, when there is none or
// it could not be started.
bool OpenInEditorAt(const QString& file, int line, int column,
                    const DesktopEnvironment& environment, QString* error);
