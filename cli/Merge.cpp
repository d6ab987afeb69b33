#include "Merge.h"

#include "Arguments.h"
#include "ListFiles.h"
#include "Reports.h"
#include "VisibleText.h"
#include "files/PathUtil.h"
#include "results/ResultRow.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>
#include <optional>
#include <variant>

namespace {

// One shard's json output, read back.
struct Part {
    QString file;
    int shard = 0;
    int shards = 0;
    QString shardBy;
    QString version;
    QString libxml2;
    SkippedFiles skipped;
    int cached = 0;
    bool allErrors = false;
    QList<FileVerdict> verdicts;
};

ParseErrorReport errorOf(const QJsonObject& e) {
    ParseErrorReport report;
    report.errorCode = e["code"].toInt();
    // The json output leaves out the line break that ends every reason.
    report.reason = e["reason"].toString() + QStringLiteral("\r\n");
    report.srcText = e["sourceText"].toString();
    report.line = e["line"].toInt();
    report.linepos = e["linePosition"].toInt();
    report.filepos = e["filePosition"].toInt();
    report.url = e["url"].toString();
    return report;
}

// The part in `file`, or why it cannot be merged.
std::variant<Part, QString> readPart(const QString& file, bool withReport) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the part '%1': %2").arg(Visible(file), in.errorString());
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(in.readAll(), &parseError);
    const QJsonObject root = document.object();
    const QJsonObject run = root["run"].toObject();
    if (parseError.error != QJsonParseError::NoError || !root["files"].isArray() ||
        !root["summary"].isObject() || run.isEmpty())
        return QStringLiteral("the part '%1' is not the json output of brellix-check")
            .arg(Visible(file));
    Part part;
    part.file = file;
    part.shard = run["shard"].toInt();
    part.shards = run["shards"].toInt();
    part.shardBy = run["shardBy"].toString();
    part.version = run["version"].toString();
    part.libxml2 = run["libxml2"].toString();
    if (part.shards < 1 || part.shard < 1 || part.shard > part.shards)
        return QStringLiteral("the part '%1' is not a shard (it was not written with --shard)")
            .arg(Visible(file));
    const QJsonObject summary = root["summary"].toObject();
    const QJsonObject skippedBy = summary["skippedBy"].toObject();
    part.skipped = SkippedFiles{skippedBy["hidden"].toInt(), skippedBy["tilde"].toInt(),
                                skippedBy["notOpenable"].toInt()};
    part.cached = summary["cached"].toInt();
    const QJsonArray files = root["files"].toArray();
    if (summary["files"].toInt() != files.size())
        return QStringLiteral(
                   "the part '%1' lists only some of its files (it was written with "
                   "--quiet)")
            .arg(Visible(file));
    for (const QJsonValue value : files) {
        const QJsonObject f = value.toObject();
        FileVerdict verdict;
        verdict.path = f["path"].toString();
        verdict.position = f["index"].toInteger(-1);
        verdict.unreadable = f["unreadable"].toString();
        verdict.result.loaded = f["valid"].toBool();
        if (f.contains("failure")) {
            verdict.result.failure = f["failure"].toString();
            verdict.result.failedStep = f["failedStep"].toInt();
        } else if (f.contains("error")) {
            verdict.result.error = errorOf(f["error"].toObject());
        }
        if (f.contains("errors")) {
            part.allErrors = true;
            const QJsonArray errors = f["errors"].toArray();
            for (qsizetype i = 1; i < errors.size(); ++i)
                verdict.result.laterErrors.push_back(errorOf(errors[i].toObject()));
        }
        if (verdict.path.isEmpty() || verdict.position < 0)
            return QStringLiteral("the part '%1' holds a file without its path or place")
                .arg(Visible(file));
        verdict.row = CheckResultRow(verdict.path, verdict.result, withReport);
        part.verdicts.append(std::move(verdict));
    }
    return part;
}

}  // namespace

int RunMergeCommand(const QStringList& arguments, Output& out, Output& err) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Merges the json outputs of the shards of one run (--shard K/N --format "
                       "json) into the report that the whole run would have written, with its "
                       "exit status."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("Output format, as for a run (default: text)."),
                                    QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption output(
        QStringLiteral("output"),
        QStringLiteral("Also write the merged results in FORMAT to FILE; repeatable."),
        QStringLiteral("FORMAT:FILE"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Give each invalid file its error report."));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("Print only what failed."));
    parser.addOptions({help, format, output, report, quiet});
    parser.addPositionalArgument(QStringLiteral("PART"),
                                 QStringLiteral("The json output of each shard."),
                                 QStringLiteral("PART..."));
    const auto usageError = [&](const QString& message) {
        err.write(QStringLiteral("brellix-check merge: %1\nTry 'brellix-check merge --help'.\n")
                      .arg(message));
        return kExitTrouble;
    };
    if (!parser.parse(arguments))
        return usageError(Visible(parser.errorText()));
    if (parser.isSet(help)) {
        out.write(parser.helpText());
        return kExitAllValid;
    }
    const std::optional<OutputFormat> console = OutputFormatNamed(parser.value(format));
    if (!console)
        return usageError(QStringLiteral("unknown format '%1'").arg(Visible(parser.value(format))));
    CheckOptions options;
    options.format = *console;
    options.report = parser.isSet(report);
    options.quiet = parser.isSet(quiet);
    for (const QString& value : parser.values(output)) {
        auto named = OutputNamed(value);
        if (const QString* why = std::get_if<QString>(&named))
            return usageError(*why);
        options.outputs.push_back(std::get<std::pair<OutputFormat, QString>>(std::move(named)));
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return usageError(QStringLiteral("no PART given"));

    std::vector<Part> parts;
    for (const QString& file : files) {
        auto read = readPart(file, options.report);
        if (const QString* why = std::get_if<QString>(&read)) {
            err.message(QStringLiteral("merge: ") + *why);
            return kExitTrouble;
        }
        parts.push_back(std::get<Part>(std::move(read)));
    }
    // The parts of one split of one run, each once, none missing.
    const Part& first = parts.front();
    std::map<int, QString> seen;
    for (const Part& part : parts) {
        if (part.version != QStringLiteral(BRELLIX_VERSION) || part.version != first.version ||
            part.libxml2 != first.libxml2) {
            err.message(QStringLiteral("merge: the part '%1' was written by brellix-check %2 on "
                                       "libxml2 %3; this is %4 on %5")
                            .arg(Visible(part.file), Visible(part.version), Visible(part.libxml2),
                                 QStringLiteral(BRELLIX_VERSION), LibxmlVersionInUse()));
            return kExitTrouble;
        }
        if (part.shards != first.shards || part.shardBy != first.shardBy) {
            err.message(QStringLiteral("merge: the part '%1' is shard %2/%3 by %4, of another "
                                       "split than '%5' (%6/%7 by %8)")
                            .arg(Visible(part.file))
                            .arg(part.shard)
                            .arg(part.shards)
                            .arg(part.shardBy, Visible(first.file))
                            .arg(first.shard)
                            .arg(first.shards)
                            .arg(first.shardBy));
            return kExitTrouble;
        }
        if (!seen.emplace(part.shard, part.file).second) {
            err.message(QStringLiteral("merge: shard %1/%2 was given twice ('%3' and '%4')")
                            .arg(part.shard)
                            .arg(part.shards)
                            .arg(Visible(seen[part.shard]), Visible(part.file)));
            return kExitTrouble;
        }
    }
    QStringList missing;
    for (int k = 1; k <= first.shards; ++k)
        if (!seen.count(k))
            missing.append(QStringLiteral("%1/%2").arg(k).arg(first.shards));
    if (!missing.isEmpty()) {
        err.message(QStringLiteral("merge: the shard%1 %2 %3 missing")
                        .arg(missing.size() == 1 ? QString() : QStringLiteral("s"),
                             missing.join(QStringLiteral(", ")),
                             missing.size() == 1 ? QStringLiteral("is") : QStringLiteral("are")));
        return kExitTrouble;
    }

    // The files in the order of the whole run.
    QList<FileVerdict> verdicts;
    int cached = 0;
    bool allErrors = false;
    for (const Part& part : parts) {
        verdicts += part.verdicts;
        cached += part.cached;
        allErrors = allErrors || part.allErrors;
    }
    std::stable_sort(
        verdicts.begin(), verdicts.end(),
        [](const FileVerdict& a, const FileVerdict& b) { return a.position < b.position; });
    bool trouble = false;
    bool invalid = false;
    for (FileVerdict& verdict : verdicts) {
        trouble = trouble || !verdict.unreadable.isEmpty();
        invalid = invalid || !verdict.result.loaded;
        verdict.position = -1;  // the merged run is whole
    }
    FinishedRun finished;
    finished.skipped = first.skipped;
    finished.started = QDateTime::currentDateTimeUtc();
    finished.allErrors = allErrors;
    finished.onlyInvalid = options.quiet;
    finished.withReport = options.report;
    finished.cached = cached;
    finished.successful = !trouble;
    // On the console as a run writes it (in the terminal's encoding); the files in UTF-8.
    for (const FileVerdict& verdict : verdicts)
        out.write(StreamedLines(options.format, verdict, options.report, options.quiet, false));
    std::vector<QByteArray> contents;
    for (const auto& output : options.outputs)
        contents.push_back(WholeReport(output.first, verdicts, finished));
    trouble = !WriteOutputs(options, contents, err) || trouble;
    finished.successful = !trouble;
    out.write(FinishedReport(options.format, verdicts, finished));
    out.flush();
    if (options.format == OutputFormat::Text && !options.quiet)
        err.message(TextSummary(verdicts, first.skipped, 0));
    if (trouble)
        return kExitTrouble;
    return invalid ? kExitSomeInvalid : kExitAllValid;
}
