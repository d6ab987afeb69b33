#include "TextEditor.h"

#include "files/PathUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QStandardPaths>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// Plain-text editors of the common desktops; each opens the file named by its one argument.
const char* const kKnownEditors[] = {
    "gnome-text-editor", "gedit", "kate",    "kwrite", "mousepad", "pluma", "xed",
    "featherpad",        "geany", "leafpad", "l3afpad"};

// Configuration files are small; anything bigger is not one of them.
constexpr qint64 kKeyFileLimit = 4 << 20;

using KeyGroup = QHash<QString, QString>;

// The groups of a freedesktop.org key file (.desktop, mimeapps.list, mimeinfo.cache). Lines
// that are neither a group header nor key=value are passed over; a missing or unreadable file
// has no groups.
QHash<QString, KeyGroup> readKeyFile(const QString& path) {
    QHash<QString, KeyGroup> groups;
    if (!IsOpenableFile(path))
        return groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kKeyFileLimit)
        return groups;
    const QString text = QString::fromUtf8(file.readAll());
    KeyGroup* group = nullptr;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = &groups[line.mid(1, line.size() - 2).toString()];
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (group == nullptr || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed().toString();
        if (!group->contains(key))  // the first of duplicate keys counts
            group->insert(key, line.mid(equals + 1).trimmed().toString());
    }
    return groups;
}

// A value of type string: \s, \n, \t, \r and \\ are escapes; any other backslash stays.
QString unescapeString(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[i + 1];
        const qsizetype escape = QStringLiteral("sntr\\").indexOf(next);
        if (escape >= 0) {
            out += QStringLiteral(" \n\t\r\\")[escape];
        } else {
            out += c;
            out += next;
        }
        ++i;
    }
    return out;
}

QStringList listValue(const QString& value) {
    return value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

void appendNew(QStringList& to, const QStringList& items) {
    for (const QString& item : items) {
        const QString trimmed = item.trimmed();
        if (!trimmed.isEmpty() && !to.contains(trimmed))
            to.append(trimmed);
    }
}

QStringList applicationFolders(const DesktopEnvironment& environment) {
    QStringList folders{environment.dataHome + QStringLiteral("/applications")};
    for (const QString& dir : environment.dataDirs)
        folders.append(dir + QStringLiteral("/applications"));
    return folders;
}

// The .desktop file of a desktop file id: "vendor-app.desktop" may also stand for
// "vendor/app.desktop" below an applications folder.
QString findDesktopEntry(const QString& id, const DesktopEnvironment& environment) {
    if (id.contains(QLatin1Char('/')) || !id.endsWith(QStringLiteral(".desktop")))
        return {};
    QStringList names{id};
    if (const qsizetype dash = id.indexOf(QLatin1Char('-')); dash > 0)
        names.append(id.left(dash) + QLatin1Char('/') + id.mid(dash + 1));
    for (const QString& folder : applicationFolders(environment))
        for (const QString& name : names)
            if (const QString path = folder + QLatin1Char('/') + name; IsOpenableFile(path))
                return path;
    return {};
}

bool isTrue(const QString& value) {
    return value == QStringLiteral("true");
}

// The command of one installed application, or nothing when it cannot open the file here.
// An entry whose Exec line cannot take the file safely is refused: the first such refusal goes
// to `refusal` (when it is still empty).
std::optional<EditorCommand> commandOfEntry(const QString& id, const QString& file,
                                            const DesktopEnvironment& environment,
                                            QString* refusal) {
    const QString path = findDesktopEntry(id, environment);
    if (path.isEmpty())
        return std::nullopt;
    const KeyGroup entry = readKeyFile(path).value(QStringLiteral("Desktop Entry"));
    const QString type = entry.value(QStringLiteral("Type"), QStringLiteral("Application"));
    if (type != QStringLiteral("Application") || isTrue(entry.value(QStringLiteral("Hidden"))) ||
        isTrue(entry.value(QStringLiteral("Terminal"))))
        return std::nullopt;
    const QString tryExec = unescapeString(entry.value(QStringLiteral("TryExec")));
    if (!tryExec.isEmpty() && environment.findProgram(tryExec).isEmpty())
        return std::nullopt;
    const QString line = unescapeString(entry.value(QStringLiteral("Exec")));
    const std::optional<std::vector<ExecArgument>> exec = SplitExecLine(line);
    if (!exec || exec->empty())
        return std::nullopt;
    const QString program = environment.findProgram(exec->front().text);
    if (program.isEmpty())
        return std::nullopt;
    QString why;
    std::optional<QStringList> arguments =
        ExpandExecArguments(std::vector<ExecArgument>(exec->begin() + 1, exec->end()), file,
                            unescapeString(entry.value(QStringLiteral("Name"))),
                            unescapeString(entry.value(QStringLiteral("Icon"))), path, &why);
    if (!arguments) {
        if (refusal->isEmpty())
            *refusal = QStringLiteral(
                           "The desktop entry %1 was not used to open %2: %3 of its command "
                           "line (%4), where the program could take a part of the file's name "
                           "for a command. A field code for a file must be an argument of its "
                           "own.")
                           .arg(path, file, why, line);
        return std::nullopt;
    }
    return EditorCommand{program, std::move(*arguments)};
}

// Every installed application that declares the MIME type, as the desktop's cache lists them.
QStringList declaringApplications(const QString& mimeType, const DesktopEnvironment& environment) {
    QStringList ids;
    for (const QString& folder : applicationFolders(environment)) {
        const auto cache = readKeyFile(folder + QStringLiteral("/mimeinfo.cache"));
        appendNew(ids, listValue(cache.value(QStringLiteral("MIME Cache")).value(mimeType)));
    }
    return ids;
}

QString environmentPath(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? value : fallback;
}

QStringList environmentPaths(const char* name, const QString& fallback) {
    QStringList paths;
    for (const QString& path :
         qEnvironmentVariable(name).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(path))
            paths.append(path);
    return paths.isEmpty() ? fallback.split(QLatin1Char(':')) : paths;
}

// Starts a program in a session of its own, standard input from /dev/null, without waiting
// for it. The arguments go over as the bytes of the paths they are (QProcess would put U+FFFD
// in place of a name's bytes that are not text, and the editor would open another file).
bool startDetached(const QString& program, const QStringList& arguments, QString* error) {
    std::vector<QByteArray> bytes{PathBytes(program)};
    for (const QString& argument : arguments)
        bytes.push_back(PathBytes(argument));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    const auto release = qScopeGuard([&] {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    });
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    if (failed != 0) {
        *error = QString::fromLocal8Bit(std::strerror(failed));
        return false;
    }
    // Collected when it ends, whenever that is.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

}  // namespace

DesktopEnvironment DesktopEnvironment::current() {
    const QString home = QDir::homePath();
    DesktopEnvironment environment;
    environment.configHome = environmentPath("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    environment.configDirs = environmentPaths("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    environment.dataHome = environmentPath("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    environment.dataDirs =
        environmentPaths("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    environment.desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP")
                               .toLower()
                               .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    environment.visual = qEnvironmentVariable("VISUAL");
    environment.editor = qEnvironmentVariable("EDITOR");
    environment.findProgram = [](const QString& name) -> QString {
        if (!name.contains(QLatin1Char('/')))
            return QStandardPaths::findExecutable(name);
        const QFileInfo info(name);
        return info.isAbsolute() && info.isFile() && info.isExecutable() ? info.absoluteFilePath()
                                                                         : QString();
    };
    environment.startProgram = startDetached;
    return environment;
}

QStringList PreferredApplications(const QString& mimeType, const DesktopEnvironment& environment) {
    // The lookup order of the MIME applications associations: user configuration, system
    // configuration, then the data folders; within each folder the desktop's own file first.
    QStringList files;
    const auto addFolder = [&](const QString& folder) {
        for (const QString& desktop : environment.desktops)
            files.append(folder + QLatin1Char('/') + desktop + QStringLiteral("-mimeapps.list"));
        files.append(folder + QStringLiteral("/mimeapps.list"));
    };
    addFolder(environment.configHome);
    for (const QString& dir : environment.configDirs)
        addFolder(dir);
    for (const QString& folder : applicationFolders(environment)) {
        addFolder(folder);
        files.append(folder + QStringLiteral("/defaults.list"));  // older desktops
    }

    QStringList defaults;
    QStringList added;
    for (const QString& file : files) {
        const auto groups = readKeyFile(file);
        appendNew(defaults,
                  listValue(groups.value(QStringLiteral("Default Applications")).value(mimeType)));
        appendNew(added,
                  listValue(groups.value(QStringLiteral("Added Associations")).value(mimeType)));
    }
    appendNew(defaults, added);
    return defaults;
}

std::optional<std::vector<ExecArgument>> SplitExecLine(const QString& exec) {
    std::vector<ExecArgument> arguments;
    ExecArgument current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size() &&
                       QStringLiteral("\"`$\\").contains(exec[i + 1])) {
                current.text += exec[++i];
            } else {
                current.text += c;
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inArgument)
                arguments.push_back(std::move(current));
            current = {};
            inArgument = false;
        } else {
            inArgument = true;
            if (c == QLatin1Char('"'))
                quoted = current.quoted = true;
            else
                current.text += c;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

std::optional<QStringList> SplitExecValue(const QString& exec) {
    const std::optional<std::vector<ExecArgument>> split = SplitExecLine(exec);
    if (!split)
        return std::nullopt;
    QStringList texts;
    for (const ExecArgument& argument : *split)
        texts.append(argument.text);
    return texts;
}

namespace {

bool isFileCode(QChar code) {
    return QStringLiteral("fFuU").contains(code);
}

bool isFieldCode(QChar code) {
    return QStringLiteral("fFuUickdDnNvm").contains(code);
}

bool isWholeCode(const QString& text) {
    return text.size() == 2 && text[0] == QLatin1Char('%') && isFieldCode(text[1]);
}

// Why an argument of an Exec line cannot take the file safely, or nothing when it can. A code
// that is the whole argument is safe, quoted or not: it becomes arguments of its own.
QString unsafeUse(const ExecArgument& argument) {
    const QString& text = argument.text;
    if (isWholeCode(text))
        return {};
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('%'))
            continue;
        const QChar code = text[++i];
        if (code == QLatin1Char('%'))
            continue;
        if (argument.quoted && isFieldCode(code))
            return QStringLiteral("the field code %%1 stands inside the quoted argument \"%2\"")
                .arg(QString(code), text);
        if (isFileCode(code))
            return QStringLiteral(
                       "the field code %%1 is joined to other text in the argument "
                       "\"%2\"")
                .arg(QString(code), text);
    }
    return {};
}

}  // namespace

std::optional<QStringList> ExpandExecArguments(const std::vector<ExecArgument>& exec,
                                               const QString& file, const QString& name,
                                               const QString& icon, const QString& entryPath,
                                               QString* refusal) {
    for (const ExecArgument& argument : exec) {
        if (const QString why = unsafeUse(argument); !why.isEmpty()) {
            *refusal = why;
            return std::nullopt;
        }
    }
    QStringList out;
    bool fileGiven = false;
    for (const ExecArgument& part : exec) {
        const QString& argument = part.text;
        if (isWholeCode(argument) && isFileCode(argument[1])) {
            // The file is one argument of its own, whatever it holds.
            out.append(file);
            fileGiven = true;
            continue;
        }
        if (argument == QStringLiteral("%i")) {
            if (!icon.isEmpty())
                out << QStringLiteral("--icon") << icon;
            continue;
        }
        QString expanded;
        for (qsizetype i = 0; i < argument.size(); ++i) {
            if (argument[i] != QLatin1Char('%') || i + 1 == argument.size()) {
                expanded += argument[i];
                continue;
            }
            switch (argument[++i].unicode()) {
                case '%':
                    expanded += QLatin1Char('%');
                    break;
                case 'c':
                    expanded += name;
                    break;
                case 'k':
                    expanded += entryPath;
                    break;
                case 'i':
                    expanded += icon;
                    break;
                case 'd':
                case 'D':
                case 'n':
                case 'N':
                case 'v':
                case 'm':
                    break;  // deprecated codes stand for nothing
                default:
                    expanded += QLatin1Char('%');
                    expanded += argument[i];
                    break;
            }
        }
        // An argument that held nothing but codes without a value is left out.
        if (!expanded.isEmpty() || argument.isEmpty())
            out.append(expanded);
    }
    if (!fileGiven)
        out.append(file);
    return out;
}

std::optional<EditorCommand> TextEditorCommand(const QString& file,
                                               const DesktopEnvironment& environment,
                                               QString* refusal) {
    QString ignored;
    if (refusal == nullptr)
        refusal = &ignored;
    const QString plainText = QStringLiteral("text/plain");
    for (const QString& id : PreferredApplications(plainText, environment))
        if (auto command = commandOfEntry(id, file, environment, refusal))
            return command;
    for (const char* editor : kKnownEditors)
        if (const QString program = environment.findProgram(QLatin1String(editor));
            !program.isEmpty())
            return EditorCommand{program, {file}};
    for (const QString& id : declaringApplications(plainText, environment))
        if (auto command = commandOfEntry(id, file, environment, refusal))
            return command;
    return std::nullopt;
}

bool OpenInTextEditor(const QString& file, const DesktopEnvironment& environment, QString* error) {
    QString refusal;
    const std::optional<EditorCommand> command = TextEditorCommand(file, environment, &refusal);
    return StartEditor(command, file, environment, error, refusal);
}

bool StartEditor(const std::optional<EditorCommand>& editor, const QString& file,
                 const DesktopEnvironment& environment, QString* error, const QString& refusal) {
    if (!editor && !refusal.isEmpty()) {
        *error = refusal;
        return false;
    }
    if (!editor) {
        *error = QStringLiteral(
                     "No plain-text editor was found to open %1. Install a text editor "
                     "or choose a default application for plain text files.")
                     .arg(file);
        return false;
    }
    QString reason;
    if (environment.startProgram(editor->program, editor->arguments, &reason))
        return true;
    *error =
        QStringLiteral("The text editor %1 could not be started: %2").arg(editor->program, reason);
    return false;
}
