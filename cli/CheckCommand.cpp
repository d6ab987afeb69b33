#include "CheckCommand.h"
#include "files/PathUtil.h"

#include "Arguments.h"
#include "Gathering.h"
#include "ListFiles.h"
#include "Merge.h"
#include "Output.h"
#include "PathList.h"
#include "Project.h"
#include "Reports.h"
#include "StreamInput.h"
#include "VisibleText.h"
#include "cache/VerdictCache.h"
#include "parse/LoadedFiles.h"
#include "project/ProjectChecks.h"
#include "results/ResultRow.h"
#include "running/CheckQueue.h"
#include "schemas/SchemaCheck.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <optional>

namespace {

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

// The cache's folder: --cache-location, else beside the configuration, else the user's cache.
QString CacheFolder(const CheckOptions& options, const ProjectConfig& config) {
    if (!options.cacheLocation.isEmpty())
        return QDir::cleanPath(QDir::current().absoluteFilePath(options.cacheLocation));
    if (!config.file.isEmpty())
        return QDir(config.folder).filePath(QStringLiteral(".brellix-cache"));
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("brellix"));
}

QString CacheCountsText(qsizetype cached, qsizetype checked) {
    return QStringLiteral("%1 result%2 from the cache, %3 file%4 checked")
        .arg(cached)
        .arg(cached == 1 ? QString() : QStringLiteral("s"))
        .arg(checked)
        .arg(checked == 1 ? QString() : QStringLiteral("s"));
}

// What each rule's checks are asked, for the cache: the check, its schema documents, and what
// compiling them read as it is now.
QHash<const ProjectRule*, QByteArray> RuleContexts(const ProjectChecks& project,
                                                   VerdictCache& cache) {
    QHash<const ProjectRule*, QByteArray> contexts;
    for (const ProjectRule& rule : project.config().rules) {
        QByteArray context = "rule " + QByteArray::number(static_cast<int>(rule.check));
        for (const QString& schema : rule.schemas)
            context += '\0' + PathBytes(schema);
        contexts.insert(&rule, context + '\0' + cache.digestOf(project.compileReads(rule)));
    }
    return contexts;
}

int runCheck(const CheckOptions& options, Output& out, Output& err) {
    QElapsedTimer clock;
    clock.start();
    // Bazel's test sharding: the file says that the test honours the split it was given.
    if (!options.shardStatusFile.isEmpty()) {
        QFile status(options.shardStatusFile);
        if (!status.open(QIODevice::Append)) {
            err.message(QStringLiteral("cannot touch TEST_SHARD_STATUS_FILE '%1': %2")
                            .arg(Visible(options.shardStatusFile), Visible(status.errorString())));
            return kExitTrouble;
        }
    }
    // The lists must not replace what the checks read: DTDs, entities, schemas, catalogs.
    RecordLoadedFiles(!options.validListFile.isEmpty() || !options.invalidListFile.isEmpty() ||
                      !options.outputs.empty());
    const QDateTime started = QDateTime::currentDateTimeUtc();

    // The configuration first, then its catalogs and schemas: one that cannot be used is a
    // usage error, and no file is checked.
    std::optional<ProjectConfig> config = ConfigOfRun(options, err);
    if (!config)
        return kExitTrouble;
    if (options.printConfig) {
        out.write(PrintedProjectConfig(*config));
        return kExitAllValid;
    }
    if (options.cacheClear) {
        const QString folder = CacheFolder(options, *config);
        const QString why = VerdictCache::clear(folder);
        if (!why.isEmpty()) {
            err.message(QStringLiteral("cannot empty the cache in '%1': %2")
                            .arg(Visible(folder), Visible(why)));
            return kExitTrouble;
        }
        if (options.paths.isEmpty() && options.filesFrom.isEmpty())
            return kExitAllValid;
    }
    QStringList paths = options.paths;
    const bool included = paths.isEmpty() && options.filesFrom.isEmpty();
    if (included && config->include.value.isEmpty()) {
        err.write(QStringLiteral("brellix-check: no PATH given\nTry 'brellix-check --help'.\n"));
        return kExitTrouble;
    }
    // What the checks read besides the files, which the lists must not replace.
    QStringList schemaFiles;
    QStringList configurationFiles;
    if (!config->file.isEmpty())
        configurationFiles.append(config->file);
    for (const Sourced<QString>& catalog : config->catalogs)
        configurationFiles.append(catalog.value);
    for (const ProjectRule& rule : config->rules)
        schemaFiles += rule.schemas;
    auto prepared = ProjectChecks::prepare(*config);
    if (const auto* error = std::get_if<ConfigError>(&prepared)) {
        err.message(Visible(error->text()));
        return kExitTrouble;
    }
    const std::shared_ptr<const ProjectChecks> project =
        std::get<std::shared_ptr<const ProjectChecks>>(prepared);

    for (const QString& list : options.filesFrom) {
        const std::optional<QStringList> listed = ReadPathList(list, options.nulSeparated, err);
        if (!listed)
            return kExitTrouble;
        paths += *listed;
    }
    CheckOptions walk = options;
    walk.extensions = config->extensions.value;
    Gathered gathered = included ? GatherIncluded(walk, *config, err)
                                 : GatherEntries(walk, paths, options.paths.size(), err);
    if (!LeaveOutExcluded(gathered, *config, err))
        return kExitTrouble;
    if (included)
        for (const Entry& e : gathered.entries)
            paths.append(e.path);
    if (gathered.entries.empty()) {
        err.message(SearchedText(walk, included ? config->include.value : paths));
        if (gathered.skipped.total() > 0)
            err.write(SkippedText(gathered.skipped));
        err.write(ExcludedText(gathered));
        err.write(LeftOutText(gathered.leftOut));
        return kExitTrouble;
    }
    if (const std::optional<QString> conflict =
            ListFileConflict(options, gathered.entries, schemaFiles, configurationFiles)) {
        err.message(*conflict);
        return kExitTrouble;
    }
    for (std::size_t i = 0; i < gathered.entries.size(); ++i)
        gathered.entries[i].position = static_cast<qsizetype>(i);
    if (options.shardCount > 0 && options.shardBySize) {
        const std::vector<int> parts = ShardsBySize(gathered.entries, options.shardCount);
        std::size_t i = 0;
        std::erase_if(gathered.entries,
                      [&](const Entry&) { return parts[i++] != options.shard - 1; });
    } else if (options.shardCount > 0) {
        std::erase_if(gathered.entries, [&](const Entry& e) {
            return ShardOfPath(e.path, options.shardCount) != options.shard - 1;
        });
    }
    bool trouble = false;
    for (const Entry& e : gathered.entries)
        trouble = trouble || !e.unreadable.isEmpty();

    // What each check path is read as: by the command line (true: standard input), or absent
    // for a file the check reads itself.
    QHash<QString, bool> streams;
    for (const Entry& e : gathered.entries)
        if (e.stream)
            streams.insert(e.checkPath(), e.standardInput);
    CheckTimes times;
    XmlCheckOptions checkOptions;
    checkOptions.errorsKept = options.errorsPerFile;
    std::unique_ptr<VerdictCache> cache;
    QHash<const ProjectRule*, QByteArray> ruleContexts;
    if (options.cache) {
        QStringList warnings;
        cache = VerdictCache::open(CacheFolder(options, *config), VerdictCache::buildIdentity(),
                                   warnings);
        for (const QString& warning : warnings)
            err.message(Visible(warning));
        if (cache)
            ruleContexts = RuleContexts(*project, *cache);
    }
    const QByteArray askedOfEvery = "errors " + QByteArray::number(checkOptions.errorsKept) + '\0';
    std::atomic<int> cached{0};
    const int threads = WorkerThreadCount(options.threads);
    CheckQueue queue(threads, kCheckAheadPerThread * threads, [&](const QString& path) {
        QElapsedTimer timer;
        timer.start();
        const auto stream = streams.constFind(path);
        XmlCheckOptions own = checkOptions;
        const ProjectRule* rule = project->ruleFor(path);
        own.schemas = project->schemasOf(rule);
        CheckResult result;
        if (stream != streams.cend()) {
            result = CheckStreamArgument(path, *stream, own);
        } else if (cache && !(own.schemas && own.schemas->usesHints())) {
            // The schemas that documents name are compiled once for all of them: what that
            // read is not each document's, so those checks are not kept.
            CachedCheck checked = cache->check(
                path,
                askedOfEvery + (rule ? ruleContexts.value(rule) : QByteArrayLiteral("default")),
                [&] { return CheckXmlFile(path, own); });
            if (checked.fromCache)
                cached.fetch_add(1, std::memory_order_relaxed);
            result = std::move(checked.result);
        } else {
            result = CheckXmlFile(path, own);
        }
        times.add(path, timer.nsecsElapsed() / 1e9);
        return result;
    });
    QList<FileVerdict> verdicts;

    QStringList validRows;
    QStringList invalidRows;
    // A folder that cannot be read has its verdict already; its check is only a placeholder
    // that keeps the order.
    const auto checkPathOf = [](const Entry& e) { return e.known ? QString() : e.checkPath(); };
    OrderedChecks checks(queue);
    std::size_t next = 0;
    std::size_t taken = 0;
    while (taken < gathered.entries.size()) {
        checks.refill([&]() -> std::optional<QString> {
            if (next >= gathered.entries.size())
                return std::nullopt;
            return checkPathOf(gathered.entries[next++]);
        });
        const Entry& entry = gathered.entries[taken++];
        const QString path = entry.path;
        CheckResult result = *checks.verdictFor(checkPathOf(entry));
        double seconds = 0;
        if (entry.known)
            result = *entry.known;
        else
            seconds = times.take(entry.checkPath());
        FileVerdict verdict{path,
                            result,
                            CheckResultRow(path, result, options.report),
                            entry.unreadable,
                            seconds,
                            options.shardCount > 0 ? entry.position : qsizetype{-1}};
        if (result.failedStep != 0) {
            err.message(QStringLiteral("the check of '%1' failed (%2at line %3): %4")
                            .arg(Visible(path), ValidateLocation(),
                                 QString::number(result.failedStep), Visible(result.failure)));
            err.flush();
        }
        (result.loaded ? validRows : invalidRows).append(verdict.row);
        const QString lines =
            StreamedLines(options.format, verdict, options.report, options.quiet, options.colour);
        if (!lines.isEmpty()) {
            out.write(lines);
            out.flush();
        }
        verdicts.append(std::move(verdict));
    }
    const double seconds = clock.nsecsElapsed() / 1e9;

    const bool listsWritten = WriteLists(options, validRows, invalidRows, err);
    trouble = trouble || !listsWritten;
    FinishedRun finished;
    finished.skipped = gathered.skipped;
    finished.jsonSeconds = options.timing ? std::optional<double>(seconds) : std::nullopt;
    finished.seconds = seconds;
    finished.started = started;
    finished.allErrors = options.errorsPerFile > 1;
    finished.onlyInvalid = options.quiet;
    finished.withReport = options.report;
    finished.cached = cached.load();
    finished.facts = RunFacts{options.shard, options.shardCount, options.shardBySize};
    finished.successful = !trouble;
    std::vector<QByteArray> outputBytes;
    for (const auto& output : options.outputs)
        outputBytes.push_back(WholeReport(output.first, verdicts, finished));
    trouble = !WriteOutputs(options, outputBytes, err) || trouble;
    finished.successful = !trouble;
    out.write(FinishedReport(options.format, verdicts, finished));
    out.flush();
    if (gathered.skipped.total() > 0 && !options.quiet)
        err.write(SkippedText(gathered.skipped));

    if (!options.quiet) {
        err.write(ExcludedText(gathered));
        err.write(LeftOutText(gathered.leftOut));
    }
    if (cache) {
        const QString why = cache->save();
        if (!why.isEmpty())
            err.message(QStringLiteral("the cache could not be written: %1").arg(Visible(why)));
        if (!options.quiet)
            err.message(CacheCountsText(cached.load(), verdicts.size() - cached.load()));
    }
    // GitHub shows only the first few annotations of a job: its summary lists every failure.
    const QString stepSummary = qEnvironmentVariable("GITHUB_STEP_SUMMARY");
    if (options.format == OutputFormat::Github && !stepSummary.isEmpty()) {
        QFile file(stepSummary);
        const QByteArray text = GithubStepSummary(verdicts, gathered.skipped).toUtf8();
        if (!file.open(QIODevice::Append) || file.write(text) != text.size() || !file.flush()) {
            err.message(QStringLiteral("cannot add to the job summary GITHUB_STEP_SUMMARY '%1': %2")
                            .arg(Visible(stepSummary), Visible(file.errorString())));
            trouble = true;
        }
    }
    // The text output's last line, beside the other messages so that what reads the verdict
    // lines finds only those on standard output.
    if (options.format == OutputFormat::Text && !options.quiet)
        err.message(TextSummary(verdicts, gathered.skipped, seconds));
    if (trouble)
        return kExitTrouble;
    return invalidRows.isEmpty() ? kExitAllValid : kExitSomeInvalid;
}

}  // namespace

std::vector<int> ShardsBySize(const std::vector<Entry>& entries, int count) {
    // The largest first, each to the part that holds the fewest bytes so far (the first of
    // equals); equal sizes in the order of their paths' bytes, so that the order the files were
    // given in does not matter.
    std::vector<std::pair<qint64, QByteArray>> files;
    files.reserve(entries.size());
    for (const Entry& e : entries)
        files.emplace_back(
            e.standardInput ? 0 : std::max<qint64>(0, QFileInfo(e.checkPath()).size()),
            PathBytes(e.path));
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return files[a].first != files[b].first ? files[a].first > files[b].first
                                                : files[a].second < files[b].second;
    });
    std::vector<qint64> bytes(static_cast<std::size_t>(std::max(1, count)), 0);
    std::vector<int> parts(entries.size(), 0);
    for (const std::size_t i : order) {
        const auto least = std::min_element(bytes.begin(), bytes.end());
        parts[i] = static_cast<int>(least - bytes.begin());
        // A file counts at least a little, so that empty files spread too.
        *least += std::max<qint64>(files[i].first, 1);
    }
    return parts;
}

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
    const Parsed parsed = arguments.size() > 1 && arguments[1] == QLatin1String("merge")
                              ? Parsed{}
                              : ParseArguments(arguments, output, errors);
    if (arguments.size() > 1 && arguments[1] == QLatin1String("merge")) {
        QStringList rest = arguments;
        rest.removeAt(1);
        status = RunMergeCommand(rest, output, errors);
    } else if (!parsed.options) {
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
