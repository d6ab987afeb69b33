#include "cli/CheckCommand.h"

#include "common/ErrorReport.h"
#include "common/PathUtil.h"
#include "check/CheckQueue.h"
#include "check/ResultRow.h"
#include "cli/Reports.h"
#include "common/LineBreaks.h"
#include "lists/AddFolder.h"
#include "output/ResultFile.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>

#include <optional>

namespace {

void print(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

// Messages of the walk go to the error stream; it never waits for a window.
class CommandLineWalkServices final : public WalkServices {
public:
    explicit CommandLineWalkServices(std::FILE* err) : err_(err) {}
    bool pumpEvents() override { return true; }
    void reportFailure(const QString& description, const QString& location,
                       int statementNumber) override {
        print(err_, QStringLiteral("brellix-check: %1 (%2at line %3)\n")
                        .arg(description, location)
                        .arg(statementNumber));
    }

private:
    std::FILE* err_;
};

struct Parsed {
    std::optional<CheckOptions> options;
    int exitStatus = kExitAllValid;  // when there are no options: --help, --version or an error
};

Parsed parseArguments(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks XML files: each file must load in an XML parser, well-formed, and "
                       "valid against its DTD when it declares one. Folders are searched with "
                       "all their subfolders for files with the extension given."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption ext(QStringLiteral("ext"),
                                 QStringLiteral("Extension of the files to check in folders "
                                                "(default: xml; * for every file)."),
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
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("Output format: text (default), json or "
                                                   "junit."),
                                    QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption jobs(QStringLiteral("j"),
                                  QStringLiteral("Check with N worker threads (default: one per "
                                                 "core)."),
                                  QStringLiteral("N"));
    parser.addOptions({help, version, ext, report, validList, invalidList, format, jobs});
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("Files to check, and folders to search."),
                                 QStringLiteral("PATH..."));

    Parsed parsed;
    const auto usageError = [&](const QString& message) {
        print(err, QStringLiteral("brellix-check: %1\nTry 'brellix-check --help'.\n").arg(message));
        parsed.exitStatus = kExitTrouble;
        return parsed;
    };
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        print(out, parser.helpText() +
                       QStringLiteral("\nExit status: 0 when every file is valid, 1 when at least "
                                      "one is invalid,\n2 for bad usage, an unreadable PATH or a "
                                      "list file that cannot be written.\n"));
        return parsed;
    }
    if (parser.isSet(version)) {
        print(out, QStringLiteral("brellix-check %1\n").arg(QStringLiteral(BRELLIX_VERSION)));
        return parsed;
    }

    CheckOptions options;
    options.paths = parser.positionalArguments();
    if (options.paths.isEmpty())
        return usageError(QStringLiteral("no PATH given"));
    options.extension = parser.value(ext);
    if (options.extension.isEmpty())
        return usageError(QStringLiteral("--ext needs an extension (or * for every file)"));
    options.report = parser.isSet(report);
    options.validListFile = parser.value(validList);
    options.invalidListFile = parser.value(invalidList);
    const QString formatName = parser.value(format);
    if (formatName == QLatin1String("text"))
        options.format = OutputFormat::Text;
    else if (formatName == QLatin1String("json"))
        options.format = OutputFormat::Json;
    else if (formatName == QLatin1String("junit"))
        options.format = OutputFormat::Junit;
    else
        return usageError(QStringLiteral("unknown format '%1' (text, json or junit)").arg(formatName));
    if (parser.isSet(jobs)) {
        bool number = false;
        options.threads = parser.value(jobs).toInt(&number);
        if (!number || options.threads < 1 || options.threads > 1024)
            return usageError(QStringLiteral("-j needs a number of threads from 1 to 1024"));
    }
    parsed.options = options;
    return parsed;
}

// The files to check, in the order given: a file as it stands, a folder's files as the folder
// scan gathers them. Nothing when an argument cannot be read.
std::optional<QStringList> gatherFiles(const CheckOptions& options, std::FILE* err) {
    QStringList files;
    bool readable = true;
    for (const QString& path : options.paths) {
        if (!FileExists(path)) {
            print(err, QStringLiteral("brellix-check: cannot read '%1': no such file or folder\n")
                           .arg(path));
            readable = false;
        }
    }
    if (!readable)
        return std::nullopt;
    CommandLineWalkServices services(err);
    const QString pattern = QStringLiteral("*.") + options.extension;
    for (const QString& path : options.paths) {
        GatherPath(
            path, pattern, services, [&](const QStringList& rows) { files.append(rows); },
            [&](int number, const QString& description) {
                services.reportFailure(description, WalkLocation(), number);
            });
    }
    return files;
}

bool writeList(const QString& file, const QStringList& rows, std::FILE* err) {
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
        print(err, QStringLiteral("brellix-check: %1\n").arg(CurrentExceptionDescription()));
        return false;
    }
}

}  // namespace

int RunCheckCommand(const QStringList& arguments, std::FILE* out, std::FILE* err) {
    const Parsed parsed = parseArguments(arguments, out, err);
    if (!parsed.options)
        return parsed.exitStatus;
    const CheckOptions& options = *parsed.options;

    QElapsedTimer clock;
    clock.start();
    const std::optional<QStringList> files = gatherFiles(options, err);
    if (!files)
        return kExitTrouble;

    const int threads = WorkerThreadCount(options.threads);
    CheckQueue queue(threads, kCheckAheadPerThread * threads);
    QList<FileVerdict> verdicts;
    QStringList validRows;
    QStringList invalidRows;
    qsizetype next = 0;
    while (next < files->size() || !queue.empty()) {
        while (next < files->size() && !queue.full())
            queue.push(files->at(next++));
        const QString path = queue.frontPath();
        const CheckResult result = *queue.takeFront();
        FileVerdict verdict{path, result, CheckResultRow(path, result, options.report)};
        if (result.failedStep != 0)
            print(err, QStringLiteral("brellix-check: the check of '%1' failed (%2at line %3): %4\n")
                           .arg(path, ValidateLocation())
                           .arg(result.failedStep)
                           .arg(result.failure));
        (result.loaded ? validRows : invalidRows).append(verdict.row);
        if (options.format == OutputFormat::Text) {
            print(out, (result.loaded ? QStringLiteral("valid: ") : QStringLiteral("invalid: ")) +
                           WithLineFeeds(verdict.row) + QLatin1Char('\n'));
            std::fflush(out);
        }
        verdicts.append(std::move(verdict));
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (options.format == OutputFormat::Json) {
        const QByteArray json = JsonReport(verdicts, seconds);
        std::fwrite(json.constData(), 1, static_cast<std::size_t>(json.size()), out);
    } else if (options.format == OutputFormat::Junit) {
        const QByteArray xml = JunitReport(verdicts, seconds);
        std::fwrite(xml.constData(), 1, static_cast<std::size_t>(xml.size()), out);
    }
    std::fflush(out);

    const bool listsWritten = writeList(options.validListFile, validRows, err) &
                              writeList(options.invalidListFile, invalidRows, err);
    if (!listsWritten)
        return kExitTrouble;
    return invalidRows.isEmpty() ? kExitAllValid : kExitSomeInvalid;
}
