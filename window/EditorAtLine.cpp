#include "EditorAtLine.h"

#include <QFileInfo>

namespace {

struct EditorForm {
    const char* program;
    LineForm form;
};

const EditorForm kEditorForms[] = {
    {"code", LineForm::GotoFileLine},
    {"code-insiders", LineForm::GotoFileLine},
    {"code-oss", LineForm::GotoFileLine},
    {"codium", LineForm::GotoFileLine},
    {"vscodium", LineForm::GotoFileLine},
    {"subl", LineForm::FileLineColumn},
    {"sublime_text", LineForm::FileLineColumn},
    {"kate", LineForm::LineColumnFlags},
    {"kwrite", LineForm::LineColumnFlags},
    {"geany", LineForm::GeanyFlags},
    {"gedit", LineForm::PlusLineColon},
    {"emacs", LineForm::PlusLineColon},
    {"emacsclient", LineForm::PlusLineColon},
    {"micro", LineForm::PlusLineColon},
    {"gnome-text-editor", LineForm::PlusLine},
    {"pluma", LineForm::PlusLine},
    {"xed", LineForm::PlusLine},
    {"vi", LineForm::PlusLine},
    {"vim", LineForm::PlusLine},
    {"gvim", LineForm::PlusLine},
    {"nvim", LineForm::PlusLine},
    {"nano", LineForm::PlusLineComma},
};

// Terminal emulators and the argument after which the command to run follows.
struct Terminal {
    const char* program;
    const char* runFlag;
};

const Terminal kTerminals[] = {
    {"x-terminal-emulator", "-e"},
    {"gnome-terminal", "--"},
    {"konsole", "-e"},
    {"xfce4-terminal", "-x"},
    {"mate-terminal", "-x"},
    {"lxterminal", "-e"},
    {"xterm", "-e"},
};

}  // namespace

LineForm LineFormOf(const QString& program) {
    const QString name = QFileInfo(program).fileName();
    for (const EditorForm& editor : kEditorForms)
        if (name == QLatin1String(editor.program))
            return editor.form;
    return LineForm::None;
}

EditorCommand AtLine(EditorCommand command, const QString& file, int line, int column) {
    const qsizetype at = command.arguments.indexOf(file);
    const LineForm form = LineFormOf(command.program);
    if (line < 1 || at < 0 || form == LineForm::None)
        return command;
    const QString l = QString::number(line);
    const QString c = QString::number(std::max(column, 1));
    QStringList& args = command.arguments;
    switch (form) {
        case LineForm::None:
            break;
        case LineForm::PlusLine:
            args.insert(at, QLatin1Char('+') + l);
            break;
        case LineForm::PlusLineColon:
            args.insert(at, QLatin1Char('+') + l + QLatin1Char(':') + c);
            break;
        case LineForm::PlusLineComma:
            args.insert(at, QLatin1Char('+') + l + QLatin1Char(',') + c);
            break;
        case LineForm::FileLineColumn:
            args[at] = file + QLatin1Char(':') + l + QLatin1Char(':') + c;
            break;
        case LineForm::GotoFileLine:
            args[at] = file + QLatin1Char(':') + l + QLatin1Char(':') + c;
            args.insert(at, QStringLiteral("-g"));
            break;
        case LineForm::LineColumnFlags:
            args = args.mid(0, at) + QStringList{QStringLiteral("-l"), l, QStringLiteral("-c"), c} +
                   args.mid(at);
            break;
        case LineForm::GeanyFlags:
            args = args.mid(0, at) +
                   QStringList{QStringLiteral("--line=") + l, QStringLiteral("--column=") + c} +
                   args.mid(at);
            break;
    }
    return command;
}

std::optional<EditorCommand> TerminalEditorCommand(const QString& file,
                                                   const DesktopEnvironment& environment) {
    const QString chosen =
        !environment.visual.trimmed().isEmpty() ? environment.visual : environment.editor;
    const std::optional<QStringList> editor = SplitExecValue(chosen);
    if (!editor || editor->isEmpty())
        return std::nullopt;
    const QString program = environment.findProgram(editor->first());
    if (program.isEmpty())
        return std::nullopt;
    for (const Terminal& terminal : kTerminals) {
        const QString path = environment.findProgram(QLatin1String(terminal.program));
        if (path.isEmpty())
            continue;
        return EditorCommand{path, QStringList{QLatin1String(terminal.runFlag), program} +
                                       editor->mid(1) + QStringList{file}};
    }
    return std::nullopt;
}

bool OpenInEditorAt(const QString& file, int line, int column,
                    const DesktopEnvironment& environment, QString* error) {
    QString refusal;
    std::optional<EditorCommand> command = TextEditorCommand(file, environment, &refusal);
    if (command) {
        command = AtLine(*command, file, line, column);
    } else if ((command = TerminalEditorCommand(file, environment))) {
        // The line goes to the editor, which the terminal's arguments name before the file.
        EditorCommand editor{command->arguments.at(1), command->arguments.mid(2)};
        editor = AtLine(editor, file, line, column);
        command->arguments =
            command->arguments.mid(0, 1) + QStringList{editor.program} + editor.arguments;
    }
    return StartEditor(command, file, environment, error, refusal);
}
