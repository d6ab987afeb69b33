#include "Gathering.h"

#include "VisibleText.h"
#include "files/AddFolder.h"
#include "files/PathUtil.h"
#include "results/ResultRow.h"

#include <QFile>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace {

// Messages of the walk go to the error stream; it never waits for a window.
class CommandLineWalkServices final : public WalkServices {
public:
    CommandLineWalkServices(Output& err, LeftOutFolders& leftOut) : err_(err), leftOut_(leftOut) {}
    bool pumpEvents() override { return true; }
    void folderLeftOut(const QString&, LeftOutFolder reason) override {
        ++(reason == LeftOutFolder::UnusableName ? leftOut_.unusableName : leftOut_.pathTooLong);
    }
    void reportFailure(const QString& description, const QString& location,
                       int statementNumber) override {
        err_.message(QStringLiteral("%1 (%2at line %3)")
                         .arg(Visible(description), location, QString::number(statementNumber)));
    }

private:
    Output& err_;
    LeftOutFolders& leftOut_;
};

CheckResult unreadableResult(const QString& path, const QString& why) {
    CheckResult result;
    result.error.errorCode = 1549;  // the parser's code for an input that cannot be loaded
    result.error.reason = QStringLiteral("failed to load \"%1\": %2\r\n").arg(path, why);
    result.error.url = path;
    return result;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The reason shown for a path that cannot be read.
QString unreadableReason(int error) {
    return error == ENOENT ? QStringLiteral("no such file or folder") : systemError(error);
}

// Why the folder at `path` cannot be read, or nothing.
std::optional<QString> whyFolderUnreadable(const QString& path) {
    const QByteArray name = PathBytes(path);
    const int fd =
        ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_DIRECTORY);
    if (fd < 0)
        return unreadableReason(errno);
    ::close(fd);
    return std::nullopt;
}

// What a path named on the command line is, from one look at it (a stream: a FIFO, device or
// socket, read to its end); `error` says why it is missing.
enum class Named { Missing, Stream, Folder, File };

Named namedKind(const QString& path, int& error) {
    struct stat info {};
    if (::stat(PathBytes(path).constData(), &info) != 0) {
        error = errno;
        return Named::Missing;
    }
    if (S_ISDIR(info.st_mode))
        return Named::Folder;
    return S_ISREG(info.st_mode) ? Named::File : Named::Stream;
}

// Why a file named on the command line cannot be read (its check would say so too, but a
// path that cannot be read is trouble for the whole run).
std::optional<QString> whyFileUnreadable(const QString& path, Named kind, int error) {
    if (kind == Named::File) {
        if (::faccessat(AT_FDCWD, PathBytes(path).constData(), R_OK, AT_EACCESS) == 0)
            return std::nullopt;
        error = errno;
    }
    return unreadableReason(error);
}

// The files to check, in the order given: a file as it stands, a folder's files as the folder
// scan gathers them (for each folder, the files of each extension in turn).
}  // namespace

Gathered GatherEntries(const CheckOptions& options, const QStringList& paths, qsizetype commandLine,
                       Output& err) {
    Gathered gathered;
    CommandLineWalkServices services(err, gathered.leftOut);
    const auto cannotRead = [&](const QString& path, const QString& why) {
        err.message(QStringLiteral("cannot read '%1': %2").arg(Visible(path), Visible(why)));
    };
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& path = paths[i];
        const bool standardInput = i < commandLine && path == QLatin1String("-");
        int error = 0;
        const Named kind =
            standardInput
                ? Named::Stream
                : namedKind(path == QLatin1String("-") ? QStringLiteral("./-") : path, error);
        if (kind == Named::Stream) {
            gathered.entries.push_back(Entry{path, true, standardInput, {}, {}});
            continue;
        }
        if (kind != Named::Folder) {
            Entry entry{path, false, false, {}, {}};
            if (const std::optional<QString> why =
                    whyFileUnreadable(entry.checkPath(), kind, error)) {
                cannotRead(path, *why);
                entry.unreadable = *why;
            }
            gathered.entries.push_back(std::move(entry));
            continue;
        }
        if (const std::optional<QString> why = whyFolderUnreadable(path)) {
            cannotRead(path, *why);
            gathered.entries.push_back(
                Entry{path, false, false, *why, unreadableResult(path, *why)});
            continue;
        }
        const auto skip = [&](const QString&, SkipReason reason) {
            switch (reason) {
                case SkipReason::Hidden:
                    ++gathered.skipped.hidden;
                    break;
                case SkipReason::Tilde:
                    ++gathered.skipped.tilde;
                    break;
                case SkipReason::NotOpenable:
                    ++gathered.skipped.notOpenable;
                    break;
            }
        };
        GatherFolderTree(
            path, options.extensions, services,
            [&](const QStringList& rows) {
                for (const QString& row : rows)
                    gathered.entries.push_back(Entry{row, false, false, {}, {}, true});
            },
            skip);
    }
    return gathered;
}

QString SearchedText(const CheckOptions& options, const QStringList& paths) {
    QStringList patterns;
    for (const QString& e : options.extensions)
        patterns.append(Visible(e == QLatin1String("*") ? e : QStringLiteral("*.") + e));
    QStringList folders;
    for (const QString& p : paths)
        if (IsDirectory(p))
            folders.append(QLatin1Char('\'') + Visible(p) + QLatin1Char('\''));
    QString text = QStringLiteral("no file to check");
    if (!folders.isEmpty())
        text += QStringLiteral(": no file matching %1 in %2 or their subfolders")
                    .arg(patterns.join(QStringLiteral(", ")), folders.join(QStringLiteral(", ")));
    if (!options.filesFrom.isEmpty() && paths.isEmpty())
        text += QStringLiteral(": the list%1 '%2' name%3 no file")
                    .arg(options.filesFrom.size() > 1 ? QStringLiteral("s") : QString(),
                         Visible(options.filesFrom.join(QStringLiteral("', '"))),
                         options.filesFrom.size() > 1 ? QString() : QStringLiteral("s"));
    return text;
}

QString SkippedText(const SkippedFiles& skipped) {
    QStringList why;
    if (skipped.hidden > 0)
        why << QStringLiteral("%1 hidden (name starting with \".\")").arg(skipped.hidden);
    if (skipped.tilde > 0)
        why << QStringLiteral("%1 with a name starting with \"~\"").arg(skipped.tilde);
    if (skipped.notOpenable > 0)
        why << QStringLiteral("%1 not a regular file that can be opened").arg(skipped.notOpenable);
    return QStringLiteral("brellix-check: skipped %1 matching file%2 in the folders: %3\n")
        .arg(skipped.total())
        .arg(skipped.total() == 1 ? QString() : QStringLiteral("s"))
        .arg(why.join(QStringLiteral(", ")));
}

QString ExcludedText(const Gathered& gathered) {
    QStringList why;
    if (gathered.excluded > 0)
        why << QStringLiteral("%1 that the configuration excludes").arg(gathered.excluded);
    if (gathered.ignored > 0)
        why << QStringLiteral("%1 that git ignores").arg(gathered.ignored);
    const int total = gathered.excluded + gathered.ignored;
    if (total == 0)
        return {};
    return QStringLiteral("brellix-check: left out %1 file%2 of the folders: %3\n")
        .arg(QString::number(total), total == 1 ? QString() : QStringLiteral("s"),
             why.join(QStringLiteral(", ")));
}

QString LeftOutText(const LeftOutFolders& leftOut) {
    QStringList why;
    if (leftOut.unusableName > 0)
        why << QStringLiteral("%1 with \"?\" or a control character in the name")
                   .arg(leftOut.unusableName);
    if (leftOut.pathTooLong > 0)
        why << QStringLiteral("%1 with a path too long for the file system")
                   .arg(leftOut.pathTooLong);
    const int total = leftOut.unusableName + leftOut.pathTooLong;
    if (total == 0)
        return {};
    return QStringLiteral("brellix-check: left out %1 folder%2 and what is in them: %3\n")
        .arg(QString::number(total), total == 1 ? QString() : QStringLiteral("s"),
             why.join(QStringLiteral(", ")));
}
