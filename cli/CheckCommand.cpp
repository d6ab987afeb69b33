#include "CheckCommand.h"

#include "Reports.h"
#include "StreamInput.h"
#include "common/ErrorReport.h"
#include "common/LineBreaks.h"
#include "files/AddFolder.h"
#include "files/PathUtil.h"
#include "results/ResultFile.h"
#include "results/ResultRow.h"
#include "running/CheckQueue.h"
#include "schemas/SchemaCheck.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace {

// Adds `value` to `set`: false when it was there already.
bool insertNew(QSet<QString>& set, const QString& value) {
    const qsizetype before = set.size();
    set.insert(value);
    return set.size() != before;
}

// A stream that remembers its first failed write: output that was lost must not end in a
// success.
class Output {
public:
    explicit Output(std::FILE* stream) : stream_(stream) {}
    void write(const QByteArray& bytes) {
        if (error_ != 0 || bytes.isEmpty())
            return;
        errno = 0;
        if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream_) !=
            static_cast<std::size_t>(bytes.size()))
            error_ = errno != 0 ? errno : EIO;
    }
    // Kept bytes of a path are shown as U+FFFD.
    void write(const QString& text) { write(ShownText(text).toLocal8Bit()); }
    void flush() {
        if (error_ != 0)
            return;
        errno = 0;
        if (std::fflush(stream_) != 0 || std::ferror(stream_))
            error_ = errno != 0 ? errno : EIO;
    }
    bool failed() const { return error_ != 0; }
    bool isTerminal() const { return ::isatty(::fileno(stream_)) == 1; }
    QString errorText() const { return QString::fromLocal8Bit(std::strerror(error_)); }

private:
    std::FILE* stream_;
    int error_ = 0;
};

// The folders that the walks left out, by reason.
struct LeftOutFolders {
    int unusableName = 0;
    int pathTooLong = 0;
};

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
        err_.write(QStringLiteral("brellix-check: %1 (%2at line %3)\n")
                       .arg(description, location)
                       .arg(statementNumber));
    }

private:
    Output& err_;
    LeftOutFolders& leftOut_;
};

struct Parsed {
    std::optional<CheckOptions> options;
    int exitStatus = kExitAllValid;  // when there are no options: --help, --version or an error
};

Parsed parseArguments(const QStringList& arguments, Output& out, Output& err) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks XML files: each file must load in an XML parser, well-formed, and "
                       "valid against its DTD when it declares one. Folders are searched with "
                       "all their subfolders for files with the extensions given; files named "
                       "directly are checked whatever their name (\"-\": standard input)."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption ext(
        QStringLiteral("ext"),
        QStringLiteral("Extensions of the files to check in folders, with or without the dot, "
                       "several separated by commas (default: xml; * for every file)."),
        QStringLiteral("E"), QStringLiteral("xml"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Give each invalid file the parser's error "
                                                   "report, on screen and in the invalid list."));
    const QCommandLineOption validList(QStringLiteral("valid-list"),
                                       QStringLiteral("Write the valid files to FILE, one per "
                                                      "line (CR LF)."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption invalidList(QStringLiteral("invalid-list"),
                                         QStringLiteral("Write the invalid files to FILE, one "
                                                        "per line (CR LF)."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("Output format: text (default), json, junit, gnu (PATH:LINE:COLUMN: "
                       "error: MESSAGE), github (workflow commands) or sarif (SARIF 2.1.0)."),
        QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption jobs(QStringLiteral("j"),
                                  QStringLiteral("Check with N worker threads (default: one per "
                                                 "core)."),
                                  QStringLiteral("N"));
    const QCommandLineOption allErrors(
        QStringLiteral("all-errors"),
        QStringLiteral("Report every error of a file (up to %1), not only the first.")
            .arg(kMaxErrorsPerFile));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("Print only what failed."));
    const QCommandLineOption timing(QStringLiteral("timing"),
                                    QStringLiteral("Give the run time in the json output."));
    const QCommandLineOption filesFrom(
        QStringLiteral("files-from"),
        QStringLiteral("Check the paths listed in FILE, one per line (- for standard input)."),
        QStringLiteral("FILE"));
    const QCommandLineOption nul({QStringLiteral("0"), QStringLiteral("null")},
                                 QStringLiteral("The --files-from list is separated by NUL "
                                                "characters (find -print0, git ls-files -z)."));
    const QCommandLineOption shard(
        QStringLiteral("shard"),
        QStringLiteral("Check only the K-th of N parts of the files (1 <= K <= N), split by a "
                       "hash of each path: the same split on every machine."),
        QStringLiteral("K/N"));
    const QCommandLineOption schema(
        QStringLiteral("schema"),
        QStringLiteral("Check each file also against the W3C XML Schema (1.0) in FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption relaxng(
        QStringLiteral("relaxng"),
        QStringLiteral("Check each file also against the RELAX NG schema (XML syntax) in FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption schemaHints(
        QStringLiteral("schema-hints"),
        QStringLiteral("Check each file also against the XML Schemas that its root element "
                       "names (xsi:schemaLocation, xsi:noNamespaceSchemaLocation), found next "
                       "to the file or through the XML catalog, never on the network."));
    parser.addOptions({help, version, ext, report, validList, invalidList, format, jobs, allErrors,
                       quiet, timing, filesFrom, nul, shard, schema, relaxng, schemaHints});
    parser.addPositionalArgument(
        QStringLiteral("PATH"),
        QStringLiteral("Files to check, folders to search, - for standard input."),
        QStringLiteral("PATH..."));

    Parsed parsed;
    const auto usageError = [&](const QString& message) {
        err.write(QStringLiteral("brellix-check: %1\nTry 'brellix-check --help'.\n").arg(message));
        parsed.exitStatus = kExitTrouble;
        return parsed;
    };
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        out.write(parser.helpText() +
                  QStringLiteral("\nExit status: 0 when every file is valid, 1 when at least one "
                                 "is invalid,\n2 for bad usage, a PATH that cannot be read, no "
                                 "file to check, or a list\nfile or output that cannot be "
                                 "written,\nor a --schema or --relaxng schema that does not "
                                 "compile.\n"));
        return parsed;
    }
    if (parser.isSet(version)) {
        out.write(QStringLiteral("brellix-check %1\n").arg(QStringLiteral(BRELLIX_VERSION)));
        return parsed;
    }

    CheckOptions options;
    options.paths = parser.positionalArguments();
    options.filesFrom = parser.value(filesFrom);
    if (parser.isSet(filesFrom) && options.filesFrom.isEmpty())
        return usageError(
            QStringLiteral("--files-from needs a file name (or - for standard "
                           "input)"));
    options.nulSeparated = parser.isSet(nul);
    if (options.nulSeparated && !parser.isSet(filesFrom))
        return usageError(QStringLiteral("-0 needs --files-from"));
    if (options.paths.isEmpty() && !parser.isSet(filesFrom))
        return usageError(QStringLiteral("no PATH given"));
    if (options.paths.count(QStringLiteral("-")) + (options.filesFrom == QLatin1String("-")) > 1)
        return usageError(QStringLiteral("standard input can be read only once"));

    options.extensions.clear();
    for (QString e : parser.value(ext).split(QLatin1Char(','))) {
        e = e.trimmed();
        if (e.startsWith(QLatin1Char('.')))
            e.remove(0, 1);
        if (e.isEmpty())
            return usageError(QStringLiteral("--ext needs an extension (or * for every file)"));
        if (!options.extensions.contains(e))
            options.extensions.append(e);
    }
    options.report = parser.isSet(report);
    options.validListFile = parser.value(validList);
    options.invalidListFile = parser.value(invalidList);
    if (parser.isSet(validList) && options.validListFile.isEmpty())
        return usageError(QStringLiteral("--valid-list needs a file name"));
    if (parser.isSet(invalidList) && options.invalidListFile.isEmpty())
        return usageError(QStringLiteral("--invalid-list needs a file name"));
    const QString formatName = parser.value(format);
    static const QHash<QString, OutputFormat> formats{
        {QStringLiteral("text"), OutputFormat::Text},
        {QStringLiteral("json"), OutputFormat::Json},
        {QStringLiteral("junit"), OutputFormat::Junit},
        {QStringLiteral("gnu"), OutputFormat::Gnu},
        {QStringLiteral("github"), OutputFormat::Github},
        {QStringLiteral("sarif"), OutputFormat::Sarif}};
    if (!formats.contains(formatName))
        return usageError(
            QStringLiteral("unknown format '%1' (text, json, junit, gnu, github or sarif)")
                .arg(formatName));
    options.format = formats.value(formatName);
    if (parser.isSet(jobs)) {
        bool number = false;
        options.threads = parser.value(jobs).toInt(&number);
        if (!number || options.threads < 1 || options.threads > 1024)
            return usageError(QStringLiteral("-j needs a number of threads from 1 to 1024"));
    }
    options.errorsPerFile = parser.isSet(allErrors) ? kMaxErrorsPerFile : 1;
    options.quiet = parser.isSet(quiet);
    options.timing = parser.isSet(timing);
    if (parser.isSet(shard)) {
        const QStringList parts = parser.value(shard).split(QLatin1Char('/'));
        bool kNumber = false;
        bool nNumber = false;
        if (parts.size() == 2) {
            options.shard = parts[0].toInt(&kNumber);
            options.shardCount = parts[1].toInt(&nNumber);
        }
        if (!kNumber || !nNumber || options.shardCount < 1 || options.shard < 1 ||
            options.shard > options.shardCount)
            return usageError(
                QStringLiteral("--shard needs K/N with 1 <= K <= N (for instance 2/4)"));
    }
    options.xmlSchema = parser.value(schema);
    options.relaxNg = parser.value(relaxng);
    options.schemaHints = parser.isSet(schemaHints);
    if (parser.isSet(schema) && options.xmlSchema.isEmpty())
        return usageError(QStringLiteral("--schema needs a file name"));
    if (parser.isSet(relaxng) && options.relaxNg.isEmpty())
        return usageError(QStringLiteral("--relaxng needs a file name"));
    if (parser.values(schema).size() + parser.values(relaxng).size() +
            (options.schemaHints ? 1 : 0) >
        1)
        return usageError(
            QStringLiteral("--schema, --relaxng and --schema-hints: give only one of them, once"));
    const QByteArray noColour = qgetenv("NO_COLOR");
    options.colour = options.format == OutputFormat::Text && noColour.isEmpty() && out.isTerminal();
    parsed.options = options;
    return parsed;
}

// The paths of a --files-from list; nothing (after a message) when it cannot be read.
std::optional<QStringList> readPathList(const CheckOptions& options, Output& err) {
    QFile file;
    const bool opened = options.filesFrom == QLatin1String("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(options.filesFrom), file.open(QIODevice::ReadOnly));
    QByteArray bytes;
    if (opened)
        bytes = file.readAll();
    if (!opened || file.error() != QFileDevice::NoError) {
        err.write(QStringLiteral("brellix-check: cannot read the list '%1': %2\n")
                      .arg(options.filesFrom, file.errorString()));
        return std::nullopt;
    }
    QStringList paths;
    for (QByteArray entry : bytes.split(options.nulSeparated ? '\0' : '\n')) {
        if (!options.nulSeparated && entry.endsWith('\r'))
            entry.chop(1);
        if (!entry.isEmpty())
            paths.append(PathFromBytes(entry));
    }
    return paths;
}

// A file to check and what the command line knows of it before the check.
struct Entry {
    QString path;
    bool stream = false;               // read by the command line: "-", a FIFO or a device
    QString unreadable;                // why a PATH named directly cannot be read
    std::optional<CheckResult> known;  // the verdict without a check (a folder that cannot be read)
};

struct Gathered {
    std::vector<Entry> entries;
    SkippedFiles skipped;
    LeftOutFolders leftOut;
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
Gathered gatherFiles(const CheckOptions& options, const QStringList& paths, Output& err) {
    Gathered gathered;
    CommandLineWalkServices services(err, gathered.leftOut);
    const auto cannotRead = [&](const QString& path, const QString& why) {
        err.write(QStringLiteral("brellix-check: cannot read '%1': %2\n").arg(path, why));
    };
    for (const QString& path : paths) {
        int error = 0;
        const Named kind = path == QLatin1String("-") ? Named::Stream : namedKind(path, error);
        if (kind == Named::Stream) {
            gathered.entries.push_back(Entry{path, true, {}, {}});
            continue;
        }
        if (kind != Named::Folder) {
            Entry entry{path, false, {}, {}};
            if (const std::optional<QString> why = whyFileUnreadable(path, kind, error)) {
                cannotRead(path, *why);
                entry.unreadable = *why;
            }
            gathered.entries.push_back(std::move(entry));
            continue;
        }
        if (const std::optional<QString> why = whyFolderUnreadable(path)) {
            cannotRead(path, *why);
            gathered.entries.push_back(Entry{path, false, *why, unreadableResult(path, *why)});
            continue;
        }
        FolderList folders{path + NativeSeparator()};
        GetSubDirectories2016(folders, true, services);
        QSet<QString> skippedPaths;
        const auto skip = [&](const QString& file, SkipReason reason) {
            if (options.extensions.size() > 1 && !insertNew(skippedPaths, file))
                return;
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
        for (const QString& folder : folders) {
            QSet<QString> seen;
            for (const QString& extension : options.extensions) {
                const QString pattern =
                    extension == QLatin1String("*") ? extension : QStringLiteral("*.") + extension;
                GatherFiles(
                    FolderList{folder}, pattern,
                    [&](const QStringList& rows) {
                        for (const QString& row : rows)
                            if (options.extensions.size() == 1 || insertNew(seen, row))
                                gathered.entries.push_back(Entry{row, false, {}, {}});
                    },
                    [&](int number, const QString& description) {
                        services.reportFailure(description, WalkLocation(), number);
                    },
                    skip);
            }
        }
    }
    return gathered;
}

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
};

std::optional<Identity> identityOf(const QString& path) {
    struct stat st {};
    if (::stat(PathBytes(path).constData(), &st) != 0)
        return std::nullopt;
    return Identity{st.st_dev, st.st_ino};
}

bool sameFile(const QString& a, const QString& b) {
    if (QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
        QDir::cleanPath(QFileInfo(b).absoluteFilePath()))
        return true;
    const std::optional<Identity> x = identityOf(a);
    const std::optional<Identity> y = identityOf(b);
    return x && y && x->device == y->device && x->inode == y->inode;
}

// A list file that would overwrite the other list or one of the files to check: the message
// that refuses it, or nothing.
std::optional<QString> listFileConflict(const CheckOptions& options,
                                        const std::vector<Entry>& entries) {
    if (!options.validListFile.isEmpty() && !options.invalidListFile.isEmpty() &&
        sameFile(options.validListFile, options.invalidListFile))
        return QStringLiteral(
                   "--valid-list and --invalid-list name the same file '%1'; each "
                   "list needs a file of its own")
            .arg(options.invalidListFile);
    for (const QString& list : {options.validListFile, options.invalidListFile}) {
        if (list.isEmpty())
            continue;
        const QString absolute = QDir::cleanPath(QFileInfo(list).absoluteFilePath());
        const std::optional<Identity> id = identityOf(list);
        for (const Entry& entry : entries) {
            if (entry.path == QLatin1String("-"))
                continue;
            bool same = QDir::cleanPath(QFileInfo(entry.path).absoluteFilePath()) == absolute;
            if (!same && id) {
                const std::optional<Identity> other = identityOf(entry.path);
                same = other && other->device == id->device && other->inode == id->inode;
            }
            if (same)
                return QStringLiteral(
                           "the list file '%1' is also a file to check ('%2'); it "
                           "would be overwritten")
                    .arg(list, entry.path);
        }
    }
    return std::nullopt;
}

QString searchedText(const CheckOptions& options, const QStringList& paths) {
    QStringList patterns;
    for (const QString& e : options.extensions)
        patterns.append(e == QLatin1String("*") ? e : QStringLiteral("*.") + e);
    QStringList folders;
    for (const QString& p : paths)
        if (IsDirectory(p))
            folders.append(QLatin1Char('\'') + p + QLatin1Char('\''));
    QString text = QStringLiteral("no file to check");
    if (!folders.isEmpty())
        text += QStringLiteral(": no file matching %1 in %2 or their subfolders")
                    .arg(patterns.join(QStringLiteral(", ")), folders.join(QStringLiteral(", ")));
    if (!options.filesFrom.isEmpty() && paths.isEmpty())
        text += QStringLiteral(": the list '%1' names no file").arg(options.filesFrom);
    return text;
}

QString skippedText(const SkippedFiles& skipped) {
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

// The folders the walks left out; empty when there were none.
QString leftOutText(const LeftOutFolders& leftOut) {
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
        .arg(total)
        .arg(total == 1 ? QString() : QStringLiteral("s"))
        .arg(why.join(QStringLiteral(", ")));
}

bool writeList(const QString& file, const QStringList& rows, Output& err) {
    if (file.isEmpty())
        return true;
    try {
        ResultFileWriter writer(file);
        writer.open();
        for (const QString& row : rows)
            writer.writeRow(row);
        writer.commit();
        return true;
    } catch (...) {
        err.write(QStringLiteral("brellix-check: %1\n").arg(CurrentExceptionDescription()));
        return false;
    }
}

// How long each check took, handed from the workers to the taker of results by path (in the
// order the checks of one path finished).
class CheckTimes {
public:
    void add(const QString& path, double seconds) {
        const std::lock_guard lock(mutex_);
        times_[path].push_back(seconds);
    }
    double take(const QString& path) {
        const std::lock_guard lock(mutex_);
        std::deque<double>& times = times_[path];
        if (times.empty())
            return 0;
        const double seconds = times.front();
        times.pop_front();
        if (times.empty())
            times_.remove(path);
        return seconds;
    }

private:
    std::mutex mutex_;
    QHash<QString, std::deque<double>> times_;
};

int runCheck(const CheckOptions& options, Output& out, Output& err) {
    QElapsedTimer clock;
    clock.start();
    const QDateTime started = QDateTime::currentDateTimeUtc();

    // The schema first: one that does not compile is a usage error, and no file is checked.
    std::shared_ptr<const SchemaSet> schemas;
    if (options.schemaHints) {
        schemas = SchemaSet::documentHints();
    } else if (!options.xmlSchema.isEmpty() || !options.relaxNg.isEmpty()) {
        ParseErrorReport why;
        schemas = options.relaxNg.isEmpty()
                      ? SchemaSet::compile(SchemaLanguage::XmlSchema, options.xmlSchema, &why)
                      : SchemaSet::compile(SchemaLanguage::RelaxNg, options.relaxNg, &why);
        if (!schemas) {
            err.write(QStringLiteral("brellix-check: the schema '%1' cannot be used: %2\n")
                          .arg(options.relaxNg.isEmpty() ? options.xmlSchema : options.relaxNg,
                               SchemaErrorText(why)));
            return kExitTrouble;
        }
    }

    QStringList paths = options.paths;
    if (!options.filesFrom.isEmpty()) {
        const std::optional<QStringList> listed = readPathList(options, err);
        if (!listed)
            return kExitTrouble;
        paths += *listed;
    }
    Gathered gathered = gatherFiles(options, paths, err);
    if (gathered.entries.empty()) {
        err.write(QStringLiteral("brellix-check: %1\n").arg(searchedText(options, paths)));
        if (gathered.skipped.total() > 0)
            err.write(skippedText(gathered.skipped));
        err.write(leftOutText(gathered.leftOut));
        return kExitTrouble;
    }
    if (const std::optional<QString> conflict = listFileConflict(options, gathered.entries)) {
        err.write(QStringLiteral("brellix-check: %1\n").arg(*conflict));
        return kExitTrouble;
    }
    if (options.shardCount > 0)
        std::erase_if(gathered.entries, [&](const Entry& e) {
            return ShardOfPath(e.path, options.shardCount) != options.shard - 1;
        });
    bool trouble = false;
    for (const Entry& e : gathered.entries)
        trouble = trouble || !e.unreadable.isEmpty();

    QSet<QString> streams;
    for (const Entry& e : gathered.entries)
        if (e.stream)
            streams.insert(e.path);
    CheckTimes times;
    const int errorsPerFile = options.errorsPerFile;
    const int threads = WorkerThreadCount(options.threads);
    CheckQueue queue(threads, kCheckAheadPerThread * threads, [&](const QString& path) {
        SetErrorsPerCheck(errorsPerFile);
        SetSchemaPerCheck(schemas);
        QElapsedTimer timer;
        timer.start();
        CheckResult result =
            streams.contains(path) ? CheckStreamArgument(path) : CheckXmlFile(path);
        times.add(path, timer.nsecsElapsed() / 1e9);
        return result;
    });
    QList<FileVerdict> verdicts;
    QStringList validRows;
    QStringList invalidRows;
    std::size_t next = 0;
    std::size_t taken = 0;
    while (taken < gathered.entries.size()) {
        while (next < gathered.entries.size() && !queue.full()) {
            const Entry& e = gathered.entries[next++];
            // A folder that cannot be read has its verdict already; its check is only a
            // placeholder that keeps the order.
            queue.push(e.known ? QString() : e.path);
        }
        const Entry& entry = gathered.entries[taken++];
        const QString path = entry.path;
        CheckResult result = *queue.takeFront();
        double seconds = 0;
        if (entry.known)
            result = *entry.known;
        else
            seconds = times.take(path);
        FileVerdict verdict{path, result, CheckResultRow(path, result, options.report),
                            entry.unreadable, seconds};
        if (result.failedStep != 0) {
            err.write(QStringLiteral("brellix-check: the check of '%1' failed (%2at line %3): %4\n")
                          .arg(path, ValidateLocation())
                          .arg(result.failedStep)
                          .arg(result.failure));
            err.flush();
        }
        (result.loaded ? validRows : invalidRows).append(verdict.row);
        switch (options.format) {
            case OutputFormat::Text:
                if (result.loaded && options.quiet)
                    break;
                if (options.colour)
                    out.write((result.loaded ? QStringLiteral("\x1b[32mvalid:\x1b[0m ")
                                             : QStringLiteral("\x1b[1;31minvalid:\x1b[0m ")) +
                              WithLineFeeds(verdict.row) + QLatin1Char('\n'));
                else
                    out.write(
                        (result.loaded ? QStringLiteral("valid: ") : QStringLiteral("invalid: ")) +
                        WithLineFeeds(verdict.row) + QLatin1Char('\n'));
                out.flush();
                break;
            case OutputFormat::Gnu:
                out.write(GnuLines(verdict));
                out.flush();
                break;
            case OutputFormat::Github:
                out.write(GithubLines(verdict));
                out.flush();
                break;
            default:
                break;
        }
        verdicts.append(std::move(verdict));
    }
    const double seconds = clock.nsecsElapsed() / 1e9;

    const bool listsWritten = writeList(options.validListFile, validRows, err) &
                              writeList(options.invalidListFile, invalidRows, err);
    trouble = trouble || !listsWritten;
    if (options.format == OutputFormat::Json)
        out.write(JsonReport(verdicts, gathered.skipped,
                             options.timing ? std::optional<double>(seconds) : std::nullopt,
                             options.errorsPerFile > 1, options.quiet));
    else if (options.format == OutputFormat::Junit)
        out.write(JunitReport(verdicts, seconds, started));
    else if (options.format == OutputFormat::Sarif)
        out.write(SarifReport(verdicts, !trouble));
    out.flush();
    if (gathered.skipped.total() > 0 && !options.quiet)
        err.write(skippedText(gathered.skipped));
    if (!options.quiet)
        err.write(leftOutText(gathered.leftOut));
    if (trouble)
        return kExitTrouble;
    return invalidRows.isEmpty() ? kExitAllValid : kExitSomeInvalid;
}

}  // namespace

int ShardOfPath(const QString& path, int count) {
    // 64-bit FNV-1a: simple, and defined by its bytes alone.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char byte : PathBytes(path)) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 0x100000001b3ULL;
    }
    return static_cast<int>(hash % static_cast<std::uint64_t>(std::max(1, count)));
}

int RunCheckCommand(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    Output output(out);
    Output errors(err);
    int status = kExitTrouble;
    const Parsed parsed = parseArguments(arguments, output, errors);
    if (!parsed.options) {
        output.flush();
        status = parsed.exitStatus;
    } else {
        status = runCheck(*parsed.options, output, errors);
    }
    if (output.failed()) {
        errors.write(
            QStringLiteral("brellix-check: cannot write the output: %1\n").arg(output.errorText()));
        status = kExitTrouble;
    }
    errors.flush();
    return errors.failed() ? kExitTrouble : status;
}
