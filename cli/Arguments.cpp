#include "Arguments.h"

#include "Reports.h"
#include "VisibleText.h"

#include <QCommandLineParser>
#include <QHash>

#include <cstring>

std::optional<OutputFormat> OutputFormatNamed(const QString& name) {
    static const QHash<QString, OutputFormat> formats{
        {QStringLiteral("text"), OutputFormat::Text},
        {QStringLiteral("json"), OutputFormat::Json},
        {QStringLiteral("junit"), OutputFormat::Junit},
        {QStringLiteral("gnu"), OutputFormat::Gnu},
        {QStringLiteral("github"), OutputFormat::Github},
        {QStringLiteral("sarif"), OutputFormat::Sarif},
        {QStringLiteral("gitlab"), OutputFormat::Gitlab}};
    const auto found = formats.constFind(name);
    if (found == formats.cend())
        return std::nullopt;
    return *found;
}

std::variant<std::pair<OutputFormat, QString>, QString> OutputNamed(const QString& value) {
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    const QString name = value.left(colon);
    if (colon <= 0 || colon == value.size() - 1)
        return QStringLiteral(
                   "--output needs FORMAT:FILE (for instance junit:report.xml), not "
                   "'%1'")
            .arg(Visible(value));
    const std::optional<OutputFormat> format = OutputFormatNamed(name);
    if (!format)
        return QStringLiteral(
                   "unknown format '%1' in --output (text, json, junit, gnu, github, "
                   "sarif or gitlab)")
            .arg(Visible(name));
    return std::pair{*format, value.mid(colon + 1)};
}

std::optional<CiShard> CiShardOfEnvironment() {
    struct System {
        const char* index;
        const char* total;
        int first;  // the number of the first shard
    };
    // GitLab's parallel jobs, CircleCI, Buildkite, Bazel's test sharding.
    static const System systems[] = {{"CI_NODE_INDEX", "CI_NODE_TOTAL", 1},
                                     {"CIRCLE_NODE_INDEX", "CIRCLE_NODE_TOTAL", 0},
                                     {"BUILDKITE_PARALLEL_JOB", "BUILDKITE_PARALLEL_JOB_COUNT", 0},
                                     {"TEST_SHARD_INDEX", "TEST_TOTAL_SHARDS", 0}};
    for (const System& system : systems) {
        if (!qEnvironmentVariableIsSet(system.index) || !qEnvironmentVariableIsSet(system.total))
            continue;
        CiShard shard;
        bool indexNumber = false;
        bool totalNumber = false;
        const int index = qEnvironmentVariable(system.index).trimmed().toInt(&indexNumber);
        shard.count = qEnvironmentVariable(system.total).trimmed().toInt(&totalNumber);
        shard.shard = index - system.first + 1;
        if (!indexNumber || !totalNumber || shard.count < 1 || shard.shard < 1 ||
            shard.shard > shard.count)
            shard.error =
                QStringLiteral("--shard auto: %1='%2' and %3='%4' name no shard")
                    .arg(QLatin1String(system.index), Visible(qEnvironmentVariable(system.index)),
                         QLatin1String(system.total), Visible(qEnvironmentVariable(system.total)));
        if (std::strcmp(system.index, "TEST_SHARD_INDEX") == 0)
            shard.statusFile = qEnvironmentVariable("TEST_SHARD_STATUS_FILE");
        return shard;
    }
    return std::nullopt;
}

Parsed ParseArguments(const QStringList& arguments, Output& out, Output& err) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks XML files: each file must load in an XML parser, well-formed, and "
                       "valid against its DTD when it declares one. Folders are searched with "
                       "all their subfolders for files with the extensions given; files named "
                       "directly are checked whatever their name (\"-\": standard input)."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(
        QStringLiteral("version"),
        QStringLiteral("Show the version, and that of the libxml2 it runs on, "
                       "and exit."));
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
                       "error: MESSAGE), github (workflow commands), sarif (SARIF 2.1.0) or gitlab "
                       "(GitLab Code Quality)."),
        QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption jobs(QStringLiteral("j"),
                                  QStringLiteral("Check with N worker threads (default: one per "
                                                 "processor this process may use)."),
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
        QStringLiteral("Check the paths listed in FILE, one per line (- for standard input; a "
                       "line - in the list is the file named -). Give it again for more lists."),
        QStringLiteral("FILE"));
    const QCommandLineOption nul({QStringLiteral("0"), QStringLiteral("null")},
                                 QStringLiteral("The --files-from list is separated by NUL "
                                                "characters (find -print0, git ls-files -z)."));
    const QCommandLineOption shard(
        QStringLiteral("shard"),
        QStringLiteral("Check only the K-th of N parts of the files (1 <= K <= N), split by a "
                       "hash of each path: the same split on every machine. auto: the part "
                       "and count that the CI system gives the job (GitLab, CircleCI, "
                       "Buildkite, Bazel)."),
        QStringLiteral("K/N"));
    const QCommandLineOption shardBy(
        QStringLiteral("shard-by"),
        QStringLiteral("How --shard splits: path (default) or size (parts of about the same "
                       "number of bytes; the same split for the same files on every machine)."),
        QStringLiteral("HOW"));
    const QCommandLineOption schema(
        QStringLiteral("schema"),
        QStringLiteral("Check each file also against the W3C XML Schema (1.0) in FILE. Give it "
                       "again for a schema made of several documents (one per namespace, as "
                       "several xsi:schemaLocation hints would name them)."),
        QStringLiteral("FILE"));
    const QCommandLineOption relaxng(
        QStringLiteral("relaxng"),
        QStringLiteral("Check each file also against the RELAX NG schema (XML syntax) in FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption schemaHints(
        QStringLiteral("schema-hints"),
        QStringLiteral("Check each file also against the schemas that it names: XML Schemas on "
                       "its root element (xsi:schemaLocation, xsi:noNamespaceSchemaLocation) "
                       "and XML Schemas or RELAX NG schemas in <?xml-model?> instructions, "
                       "found next to the file or through the XML catalog, never on the "
                       "network."));
    const QCommandLineOption config(
        QStringLiteral("config"),
        QStringLiteral("Read the project configuration from FILE (default: .brellix.toml in "
                       "the working folder or the nearest folder above it)."),
        QStringLiteral("FILE"));
    const QCommandLineOption noConfig(QStringLiteral("no-config"),
                                      QStringLiteral("Read no project configuration."));
    const QCommandLineOption printConfig(
        QStringLiteral("print-config"),
        QStringLiteral("Show the configuration in effect, with where each value came from, and "
                       "exit."));
    const QCommandLineOption catalog(
        QStringLiteral("catalog"),
        QStringLiteral("Add the XML catalog in FILE to the system's (and the configuration's). "
                       "Give it again for more."),
        QStringLiteral("FILE"));
    const QCommandLineOption exclude(
        QStringLiteral("exclude"),
        QStringLiteral("Leave out the files in folders that match PATTERN, relative to the "
                       "working folder (* within a name, ** for any folders; a name alone "
                       "matches in every folder). Give it again for more."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption output(
        QStringLiteral("output"),
        QStringLiteral("Also write the run's results in FORMAT (as --format) to FILE, replacing "
                       "it only once the run has ended. Give it again for more (for instance "
                       "junit:report.xml and sarif:report.sarif beside the console's text)."),
        QStringLiteral("FORMAT:FILE"));
    const QCommandLineOption cache(
        QStringLiteral("cache"),
        QStringLiteral("Keep each file's result, and reuse it in later runs while nothing that "
                       "could change it has changed: the file, what its check read (DTDs, "
                       "entities, schemas, catalogs), the options and the program."));
    const QCommandLineOption cacheLocation(
        QStringLiteral("cache-location"),
        QStringLiteral("Keep the cache in the folder DIR (default: .brellix-cache beside the "
                       "project configuration, else $XDG_CACHE_HOME/brellix)."),
        QStringLiteral("DIR"));
    const QCommandLineOption cacheClear(
        QStringLiteral("cache-clear"),
        QStringLiteral("Empty the cache first; without a PATH, only that."));
    parser.addOptions({help,          version,     ext,       report,  validList,   invalidList,
                       format,        jobs,        allErrors, quiet,   timing,      filesFrom,
                       nul,           shard,       schema,    relaxng, schemaHints, config,
                       noConfig,      printConfig, catalog,   exclude, output,      cache,
                       cacheLocation, cacheClear,  shardBy});
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
        return usageError(Visible(parser.errorText()));
    if (parser.isSet(help)) {
        out.write(parser.helpText() +
                  QStringLiteral("\nExit status: 0 when every file is valid, 1 when at least one "
                                 "is invalid,\n2 for bad usage, a PATH that cannot be read, no "
                                 "file to check, or a list\nfile or output that cannot be "
                                 "written,\na --schema or --relaxng schema that does not "
                                 "compile, or a project configuration\nthat cannot be used.\n"
                                 "\nA project configuration (.brellix.toml) names the files to "
                                 "check, what to\nleave out, catalogs, and rules that pair file "
                                 "patterns with a schema;\nsee brellix-check(1).\n"
                                 "\nbrellix-check merge PART... merges the json outputs of the "
                                 "shards of one run\n(see brellix-check merge --help).\n"));
        return parsed;
    }
    if (parser.isSet(version)) {
        // The libxml2 it runs on decides verdicts: the one loaded, not the one built against.
        out.write(QStringLiteral("brellix-check %1\nlibxml2 %2\n")
                      .arg(QStringLiteral(BRELLIX_VERSION), LibxmlVersionInUse()));
        return parsed;
    }

    // An option that takes one value, given twice, would quietly lose one of them.
    for (const QCommandLineOption* single : {&ext, &validList, &invalidList, &format, &jobs, &shard,
                                             &shardBy, &relaxng, &config, &cacheLocation}) {
        if (parser.values(*single).size() > 1) {
            const QString name = single->names().constLast();
            return usageError(
                QStringLiteral("%1%2 was given more than once; it takes one value")
                    .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
        }
    }

    CheckOptions options;
    options.paths = parser.positionalArguments();
    options.filesFrom = parser.values(filesFrom);
    if (options.filesFrom.contains(QString()))
        return usageError(
            QStringLiteral("--files-from needs a file name (or - for standard "
                           "input)"));
    options.nulSeparated = parser.isSet(nul);
    if (options.nulSeparated && !parser.isSet(filesFrom))
        return usageError(QStringLiteral("-0 needs --files-from"));
    if (options.paths.count(QStringLiteral("-")) + options.filesFrom.count(QStringLiteral("-")) > 1)
        return usageError(QStringLiteral("standard input can be read only once"));

    options.extensionsGiven = parser.isSet(ext);
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

    if (!OutputFormatNamed(formatName))
        return usageError(
            QStringLiteral("unknown format '%1' (text, json, junit, gnu, github, sarif or gitlab)")
                .arg(Visible(formatName)));
    options.format = *OutputFormatNamed(formatName);
    if (parser.isSet(jobs)) {
        bool number = false;
        options.threads = parser.value(jobs).toInt(&number);
        if (!number || options.threads < 1 || options.threads > 1024)
            return usageError(QStringLiteral("-j needs a number of threads from 1 to 1024"));
    }
    options.errorsPerFile = parser.isSet(allErrors) ? kMaxErrorsPerFile : 1;
    options.quiet = parser.isSet(quiet);
    options.timing = parser.isSet(timing);
    if (parser.isSet(shard) && parser.value(shard) == QLatin1String("auto")) {
        const std::optional<CiShard> given = CiShardOfEnvironment();
        if (!given)
            return usageError(QStringLiteral(
                "--shard auto found no shard of a CI system (CI_NODE_INDEX and CI_NODE_TOTAL, "
                "CIRCLE_NODE_INDEX and CIRCLE_NODE_TOTAL, BUILDKITE_PARALLEL_JOB and "
                "BUILDKITE_PARALLEL_JOB_COUNT, TEST_SHARD_INDEX and TEST_TOTAL_SHARDS)"));
        if (!given->error.isEmpty())
            return usageError(given->error);
        options.shard = given->shard;
        options.shardCount = given->count;
        options.shardStatusFile = given->statusFile;
    } else if (parser.isSet(shard)) {
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
                QStringLiteral("--shard needs K/N with 1 <= K <= N (for instance 2/4), or auto"));
    }
    if (parser.isSet(shardBy)) {
        const QString how = parser.value(shardBy);
        if (how != QLatin1String("path") && how != QLatin1String("size"))
            return usageError(
                QStringLiteral("--shard-by needs path or size, not '%1'").arg(Visible(how)));
        if (!parser.isSet(shard))
            return usageError(QStringLiteral("--shard-by needs --shard"));
        options.shardBySize = how == QLatin1String("size");
    }
    options.xmlSchemas = parser.values(schema);
    options.relaxNg = parser.value(relaxng);
    options.schemaHints = parser.isSet(schemaHints);
    if (options.xmlSchemas.contains(QString()))
        return usageError(QStringLiteral("--schema needs a file name"));
    if (parser.isSet(relaxng) && options.relaxNg.isEmpty())
        return usageError(QStringLiteral("--relaxng needs a file name"));
    if ((parser.isSet(schema) ? 1 : 0) + (parser.isSet(relaxng) ? 1 : 0) +
            (options.schemaHints ? 1 : 0) >
        1)
        return usageError(
            QStringLiteral("--schema, --relaxng and --schema-hints: give only one of them"));
    options.configFile = parser.value(config);
    options.noConfig = parser.isSet(noConfig);
    options.printConfig = parser.isSet(printConfig);
    if (parser.isSet(config) && options.configFile.isEmpty())
        return usageError(QStringLiteral("--config needs a file name"));
    if (options.noConfig && parser.isSet(config))
        return usageError(QStringLiteral("--config and --no-config: give only one of them"));
    options.catalogs = parser.values(catalog);
    if (options.catalogs.contains(QString()))
        return usageError(QStringLiteral("--catalog needs a file name"));
    options.excludes = parser.values(exclude);
    for (const QString& value : parser.values(output)) {
        auto named = OutputNamed(value);
        if (const QString* why = std::get_if<QString>(&named))
            return usageError(*why);
        options.outputs.push_back(std::get<std::pair<OutputFormat, QString>>(std::move(named)));
    }
    options.cache = parser.isSet(cache);
    options.cacheLocation = parser.value(cacheLocation);
    options.cacheClear = parser.isSet(cacheClear);
    if (parser.isSet(cacheLocation) && options.cacheLocation.isEmpty())
        return usageError(QStringLiteral("--cache-location needs a folder"));
    const QByteArray noColour = qgetenv("NO_COLOR");
    options.colour = options.format == OutputFormat::Text && noColour.isEmpty() && out.isTerminal();
    parsed.options = options;
    return parsed;
}
