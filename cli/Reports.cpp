#include "Reports.h"

#include "VisibleText.h"
#include "common/LineBreaks.h"
#include "files/PathUtil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QXmlStreamWriter>

#include <map>

#include <libxml/parser.h>

namespace {

QString withoutFinalLineBreak(QString text) {
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

// A message on one line: the line breaks inside it become blanks.
QString oneLine(const QString& text) {
    QString line = withoutFinalLineBreak(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

// XML 1.0 cannot hold most control characters, not even as references; a report about a
// binary file may quote some. They are shown as U+FFFD, and so are DEL, the C1 controls, the
// separators and the bidirectional marks, which XML holds but a terminal would act on.
QString xmlSafe(const QString& text) {
    QString safe = ShownText(text);  // a lone surrogate (a byte of a name) is no character
    for (QChar& c : safe) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != 0x9 && u != 0xA && u != 0xD) || u == 0x7F || u == 0xFFFE ||
            u == 0xFFFF || IsInvisibleFormatCharacter(u))
            c = QChar(0xFFFD);
    }
    return safe;
}

// JSON text with each lone surrogate, which QJsonDocument writes as an escape that many
// readers refuse (a byte of a name that is not text), as U+FFFD. Pairs are written as UTF-8,
// so every escape of a surrogate stands alone.
QByteArray shownJson(const QByteArray& json) {
    QByteArray out;
    out.reserve(json.size());
    for (qsizetype i = 0; i < json.size(); ++i) {
        if (json[i] != '\\' || i + 1 == json.size()) {
            out.append(json[i]);
            continue;
        }
        const bool surrogate = json[i + 1] == 'u' && i + 5 < json.size() &&
                               (json[i + 2] == 'd' || json[i + 2] == 'D') &&
                               QByteArrayLiteral("89abcdefABCDEF").contains(json[i + 3]);
        if (surrogate) {
            out.append("\xef\xbf\xbd");
            i += 5;
        } else {
            out.append(json.mid(i, 2));  // any other escape, "\\" among them
            ++i;
        }
    }
    return out;
}

// The file that holds an error, as a path: the parser names external files by their URI.
QString errorFile(const FileVerdict& verdict, const ParseErrorReport& error) {
    if (error.url.isEmpty())
        return verdict.path;
    if (error.url.startsWith(QLatin1String("file:"))) {
        const QString local = QUrl(error.url).toLocalFile();
        if (!local.isEmpty())
            return local;
    }
    return error.url;
}

// The message of an error, naming the checked file when the error lies in another one.
QString messageOf(const FileVerdict& verdict, const ParseErrorReport& error) {
    QString message = oneLine(error.reason);
    const QString file = errorFile(verdict, error);
    if (file != verdict.path)
        message += QStringLiteral(" (while checking %1)").arg(verdict.path);
    return message;
}

QJsonObject errorObject(const ParseErrorReport& e) {
    return QJsonObject{{QStringLiteral("code"), e.errorCode},
                       {QStringLiteral("reason"), withoutFinalLineBreak(e.reason)},
                       {QStringLiteral("line"), e.line},
                       {QStringLiteral("linePosition"), e.linepos},
                       {QStringLiteral("filePosition"), e.filepos},
                       {QStringLiteral("sourceText"), e.srcText},
                       {QStringLiteral("url"), e.url}};
}

// A SARIF artifact location: a relative path stays a relative reference, an absolute one
// becomes a file URI; either is percent-encoded (the bytes of a name that are not text too).
QString artifactUri(const QString& path) {
    if (path.startsWith(QLatin1Char('/')))
        return QString::fromUtf8(FileUrlOf(path));
    return QString::fromUtf8(PathBytes(path).toPercentEncoding("/"));
}

// GitHub's workflow commands: the message and the property values escaped as the runner
// reads them.
QString githubData(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%25"));
    escaped.replace(QLatin1Char('\r'), QStringLiteral("%0D"));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("%0A"));
    return escaped;
}

QString githubProperty(const QString& text) {
    QString escaped = githubData(text);
    escaped.replace(QLatin1Char(':'), QStringLiteral("%3A"));
    escaped.replace(QLatin1Char(','), QStringLiteral("%2C"));
    return escaped;
}

// The report of an error with its lines broken by LF: the report's own lines stay lines, what
// it quotes from the file is made visible.
QString visibleReport(const ParseErrorReport& error) {
    ParseErrorReport shown = error;
    shown.reason = Visible(withoutFinalLineBreak(shown.reason)) + QStringLiteral("\r\n");
    shown.srcText = Visible(shown.srcText);
    shown.url = Visible(shown.url);
    return WithLineFeeds(ErrorReportText(shown));
}

// What an error code of libxml2 means: a short name made of libxml2's own, and a sentence on
// what such an error says of the document.
struct CodeMeaning {
    QString name;
    QString description;
};

CodeMeaning meaningOf(int code) {
    static const std::map<int, const char*> names{
#include "ErrorCodeNames.inc"
    };
    if (code == 0)
        return {QStringLiteral("Check failed"),
                QStringLiteral("The check could not give a verdict (the parser could not be set "
                               "up, or a limit of memory or time was reached).")};
    const auto found = names.find(code);
    if (found == names.end())
        return {QStringLiteral("libxml2 error %1").arg(code),
                QStringLiteral("An error that libxml2 reports with code %1.").arg(code)};
    const QString symbol = QString::fromLatin1(found->second);
    const QString domain = symbol.section(QLatin1Char('_'), 1, 1);
    QString name =
        symbol.section(QLatin1Char('_'), 2).toLower().replace(QLatin1Char('_'), QLatin1Char(' '));
    if (!name.isEmpty())
        name[0] = name[0].toUpper();
    static const std::map<QString, const char*> domains{
        {QStringLiteral("ERR"), "The document is not well-formed XML."},
        {QStringLiteral("WAR"), "The document is not well-formed XML."},
        {QStringLiteral("NS"), "The document breaks the rules of Namespaces in XML."},
        {QStringLiteral("DTD"), "The document is not valid against its DTD."},
        {QStringLiteral("IO"),
         "A file could not be read (the document, its DTD, an entity or a schema), or would "
         "have had to come from the network."},
        {QStringLiteral("SCHEMAV"), "The document is not valid against its XML Schema."},
        {QStringLiteral("I18N"), "The document's encoding cannot be read."},
        {QStringLiteral("CATALOG"), "An XML catalog could not be used."},
        {QStringLiteral("XINCLUDE"), "An XInclude could not be processed."}};
    const auto sentence = domains.find(domain);
    return {name, QStringLiteral("%1 (libxml2: %2, code %3.)")
                      .arg(QString::fromLatin1(sentence != domains.end() ? sentence->second
                                                                         : "An error of libxml2."),
                           symbol)
                      .arg(code)};
}

// A finding's fingerprint: the same while the finding is (its file, its code and its text with
// the line numbers that the parser's messages quote left out, not its line); a repeat of the
// same finding in the same file counts on, so that each is unique in `seen`.
QString findingFingerprint(const QString& path, int code, const QString& message,
                           QSet<QByteArray>& seen) {
    QString unplaced = message;
    unplaced.replace(QRegularExpression(QStringLiteral("[0-9]+")), QStringLiteral("#"));
    QByteArray fingerprint;
    for (int repeat = 0; fingerprint.isEmpty() || seen.contains(fingerprint); ++repeat)
        fingerprint =
            QCryptographicHash::hash(PathBytes(path) + '\0' + QByteArray::number(code) + '\0' +
                                         unplaced.toUtf8() + '\0' + QByteArray::number(repeat),
                                     QCryptographicHash::Sha256)
                .toHex()
                .left(32);
    seen.insert(fingerprint);
    return QString::fromLatin1(fingerprint);
}

// A path relative to the working folder when it lies below it.
QString belowHere(const QString& path) {
    if (!QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    const QString relative = QDir::current().relativeFilePath(path);
    if (relative.startsWith(QLatin1String("../")) || relative == QLatin1String(".."))
        return path;
    return relative;
}

}  // namespace

QList<ParseErrorReport> ErrorsOf(const FileVerdict& verdict) {
    const CheckResult& result = verdict.result;
    if (result.loaded)
        return {};
    if (result.failedStep != 0) {
        ParseErrorReport failure;
        failure.reason = result.failure;
        failure.url = verdict.path;
        return {failure};
    }
    QList<ParseErrorReport> errors{result.error};
    for (const ParseErrorReport& later : result.laterErrors)
        errors.append(later);
    return errors;
}

QString LibxmlVersionInUse() {
    const int release = QByteArray(xmlParserVersion).toInt();
    return QStringLiteral("%1.%2.%3")
        .arg(release / 10000)
        .arg(release / 100 % 100)
        .arg(release % 100);
}

QString StreamedLines(OutputFormat format, const FileVerdict& verdict, bool withReport, bool quiet,
                      bool colour) {
    const bool loaded = verdict.result.loaded;
    switch (format) {
        case OutputFormat::Text:
            if (loaded && quiet)
                return QString();
            if (colour)
                return (loaded ? QStringLiteral("\x1b[32mvalid:\x1b[0m ")
                               : QStringLiteral("\x1b[1;31minvalid:\x1b[0m ")) +
                       TextLine(verdict, withReport) + QLatin1Char('\n');
            return (loaded ? QStringLiteral("valid: ") : QStringLiteral("invalid: ")) +
                   TextLine(verdict, withReport) + QLatin1Char('\n');
        case OutputFormat::Gnu:
            return GnuLines(verdict);
        case OutputFormat::Github:
            return GithubLines(verdict);
        default:
            return QString();
    }
}

QByteArray FinishedReport(OutputFormat format, const QList<FileVerdict>& verdicts,
                          const FinishedRun& run) {
    switch (format) {
        case OutputFormat::Json:
            return JsonReport(verdicts, run.skipped, run.jsonSeconds, run.allErrors,
                              run.onlyInvalid, run.cached, run.facts);
        case OutputFormat::Junit:
            return JunitReport(verdicts, run.seconds, run.started);
        case OutputFormat::Sarif:
            return SarifReport(verdicts, run.successful, run.facts);
        case OutputFormat::Gitlab:
            return GitlabReport(verdicts);
        default:
            return QByteArray();
    }
}

QByteArray WholeReport(OutputFormat format, const QList<FileVerdict>& verdicts,
                       const FinishedRun& run) {
    QString lines;
    for (const FileVerdict& verdict : verdicts)
        lines += StreamedLines(format, verdict, run.withReport, run.onlyInvalid, false);
    return ShownText(lines).toUtf8() + FinishedReport(format, verdicts, run);
}

QByteArray JsonReport(const QList<FileVerdict>& verdicts, const SkippedFiles& skipped,
                      std::optional<double> seconds, bool allErrors, bool onlyInvalid, int cached,
                      const RunFacts& facts) {
    QJsonArray files;
    int valid = 0;
    int unreadable = 0;
    for (const FileVerdict& v : verdicts) {
        valid += v.result.loaded ? 1 : 0;
        unreadable += v.unreadable.isEmpty() ? 0 : 1;
        if (onlyInvalid && v.result.loaded)
            continue;
        QJsonObject file{{QStringLiteral("path"), v.path},
                         {QStringLiteral("valid"), v.result.loaded}};
        if (v.position >= 0)
            file.insert(QStringLiteral("index"), static_cast<qint64>(v.position));
        if (!v.unreadable.isEmpty())
            file.insert(QStringLiteral("unreadable"), v.unreadable);
        if (v.result.loaded) {
        } else if (v.result.failedStep != 0) {
            file.insert(QStringLiteral("failure"), v.result.failure);
            file.insert(QStringLiteral("failedStep"), v.result.failedStep);
        } else {
            file.insert(QStringLiteral("error"), errorObject(v.result.error));
            file.insert(QStringLiteral("report"), ErrorReportText(v.result.error));
        }
        if (allErrors && !v.result.loaded) {
            QJsonArray errors;
            for (const ParseErrorReport& e : ErrorsOf(v))
                errors.append(errorObject(e));
            file.insert(QStringLiteral("errors"), errors);
        }
        files.append(file);
    }
    QJsonObject summary{{QStringLiteral("files"), static_cast<int>(verdicts.size())},
                        {QStringLiteral("valid"), valid},
                        {QStringLiteral("invalid"), static_cast<int>(verdicts.size()) - valid},
                        {QStringLiteral("unreadable"), unreadable},
                        {QStringLiteral("skipped"), skipped.total()},
                        {QStringLiteral("skippedBy"),
                         QJsonObject{{QStringLiteral("hidden"), skipped.hidden},
                                     {QStringLiteral("tilde"), skipped.tilde},
                                     {QStringLiteral("notOpenable"), skipped.notOpenable}}},
                        {QStringLiteral("cached"), cached},
                        {QStringLiteral("checked"), static_cast<int>(verdicts.size()) - cached}};
    if (seconds)
        summary.insert(QStringLiteral("seconds"), *seconds);
    QJsonObject run{{QStringLiteral("version"), QStringLiteral(BRELLIX_VERSION)},
                    {QStringLiteral("libxml2"), LibxmlVersionInUse()}};
    if (facts.shards > 0) {
        run.insert(QStringLiteral("shard"), facts.shard);
        run.insert(QStringLiteral("shards"), facts.shards);
        run.insert(QStringLiteral("shardBy"),
                   facts.bySize ? QStringLiteral("size") : QStringLiteral("path"));
    }
    return JsonWithoutTerminalControls(
        shownJson(QJsonDocument(QJsonObject{{QStringLiteral("files"), files},
                                            {QStringLiteral("summary"), summary},
                                            {QStringLiteral("run"), run}})
                      .toJson(QJsonDocument::Indented)));
}

QByteArray JunitReport(const QList<FileVerdict>& verdicts, double seconds,
                       const QDateTime& timestamp) {
    int failures = 0;
    int errors = 0;
    for (const FileVerdict& v : verdicts) {
        const bool error = !v.unreadable.isEmpty() || v.result.failedStep != 0;
        errors += !v.result.loaded && error ? 1 : 0;
        failures += !v.result.loaded && !error ? 1 : 0;
    }
    const QString totalTime = QString::number(seconds, 'f', 3);
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("testsuites"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("brellix-check"));
    w.writeAttribute(QStringLiteral("tests"), QString::number(verdicts.size()));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    w.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    w.writeAttribute(QStringLiteral("time"), totalTime);
    w.writeStartElement(QStringLiteral("testsuite"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("brellix-check"));
    w.writeAttribute(QStringLiteral("tests"), QString::number(verdicts.size()));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    w.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    w.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
    w.writeAttribute(QStringLiteral("time"), totalTime);
    w.writeAttribute(QStringLiteral("timestamp"),
                     timestamp.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")));
    for (const FileVerdict& v : verdicts) {
        const QList<ParseErrorReport> all = ErrorsOf(v);
        w.writeStartElement(QStringLiteral("testcase"));
        w.writeAttribute(QStringLiteral("name"), xmlSafe(v.path));
        w.writeAttribute(QStringLiteral("classname"), QStringLiteral("xml"));
        w.writeAttribute(QStringLiteral("file"), xmlSafe(v.path));
        if (!all.isEmpty() && all.front().line > 0)
            w.writeAttribute(QStringLiteral("line"), QString::number(all.front().line));
        w.writeAttribute(QStringLiteral("time"), QString::number(v.seconds, 'f', 3));
        if (!v.result.loaded) {
            const bool checkFailed = v.result.failedStep != 0;
            const bool error = checkFailed || !v.unreadable.isEmpty();
            w.writeStartElement(error ? QStringLiteral("error") : QStringLiteral("failure"));
            const QString message =
                checkFailed ? v.result.failure : withoutFinalLineBreak(v.result.error.reason);
            w.writeAttribute(QStringLiteral("message"), xmlSafe(message));
            w.writeAttribute(QStringLiteral("type"), checkFailed ? QStringLiteral("check-failed")
                                                     : v.unreadable.isEmpty()
                                                         ? QStringLiteral("invalid-xml")
                                                         : QStringLiteral("unreadable"));
            if (!checkFailed) {
                // As the text format shows them: XML text cannot keep a carriage return.
                QString text = visibleReport(v.result.error);
                for (qsizetype i = 1; i < all.size(); ++i)
                    text += QStringLiteral("\n\n") + visibleReport(all[i]);
                w.writeCharacters(xmlSafe(text));
            }
            w.writeEndElement();
        }
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}

QByteArray SarifReport(const QList<FileVerdict>& verdicts, bool executionSuccessful,
                       const RunFacts& facts) {
    QSet<QByteArray> fingerprints;
    // Rules in the order their codes first occur.
    QMap<int, int> ruleIndex;
    QJsonArray rules;
    QJsonArray results;
    for (const FileVerdict& v : verdicts) {
        for (const ParseErrorReport& e : ErrorsOf(v)) {
            if (!ruleIndex.contains(e.errorCode)) {
                ruleIndex.insert(e.errorCode, static_cast<int>(rules.size()));
                const CodeMeaning meaning = meaningOf(e.errorCode);
                rules.append(
                    QJsonObject{{QStringLiteral("id"), QStringLiteral("XML%1").arg(e.errorCode)},
                                {QStringLiteral("name"), meaning.name},
                                {QStringLiteral("shortDescription"),
                                 QJsonObject{{QStringLiteral("text"), meaning.name}}},
                                {QStringLiteral("fullDescription"),
                                 QJsonObject{{QStringLiteral("text"), meaning.description}}}});
            }
            // Below the working folder (a checkout's root, in CI): relative to %SRCROOT%.
            const QString file = belowHere(errorFile(v, e));
            QJsonObject artifact{{QStringLiteral("uri"), artifactUri(file)}};
            if (!QDir::isAbsolutePath(file))
                artifact.insert(QStringLiteral("uriBaseId"), QStringLiteral("%SRCROOT%"));
            QJsonObject physical{{QStringLiteral("artifactLocation"), artifact}};
            if (e.line > 0) {
                QJsonObject region{{QStringLiteral("startLine"), e.line}};
                if (e.linepos > 0)
                    region.insert(QStringLiteral("startColumn"), e.linepos);
                if (!e.srcText.isEmpty())
                    region.insert(QStringLiteral("snippet"),
                                  QJsonObject{{QStringLiteral("text"), e.srcText}});
                physical.insert(QStringLiteral("region"), region);
            }
            results.append(QJsonObject{
                {QStringLiteral("ruleId"), QStringLiteral("XML%1").arg(e.errorCode)},
                {QStringLiteral("ruleIndex"), ruleIndex.value(e.errorCode)},
                {QStringLiteral("level"), QStringLiteral("error")},
                {QStringLiteral("message"), QJsonObject{{QStringLiteral("text"), messageOf(v, e)}}},
                {QStringLiteral("partialFingerprints"),
                 QJsonObject{
                     {QStringLiteral("brellixFinding/v1"),
                      findingFingerprint(file, e.errorCode, messageOf(v, e), fingerprints)}}},
                {QStringLiteral("locations"),
                 QJsonArray{QJsonObject{{QStringLiteral("physicalLocation"), physical}}}}});
        }
    }
    // Where to learn more about the tool: its manual, wherever it is installed.
    const QJsonObject driver{
        {QStringLiteral("name"), QStringLiteral("brellix-check")},
        {QStringLiteral("informationUri"), QStringLiteral("man:brellix-check(1)")},
        {QStringLiteral("version"), QStringLiteral(BRELLIX_VERSION)},
        {QStringLiteral("rules"), rules}};
    // Each shard is a category of its own: code scanning takes one run per category.
    const QString category =
        facts.shards > 0
            ? QStringLiteral("brellix-check/shard-%1-of-%2/").arg(facts.shard).arg(facts.shards)
            : QStringLiteral("brellix-check/");
    const QJsonObject run{
        {QStringLiteral("tool"), QJsonObject{{QStringLiteral("driver"), driver}}},
        {QStringLiteral("automationDetails"), QJsonObject{{QStringLiteral("id"), category}}},
        {QStringLiteral("originalUriBaseIds"),
         QJsonObject{{QStringLiteral("%SRCROOT%"),
                      QJsonObject{{QStringLiteral("uri"),
                                   QString::fromUtf8(FileUrlOf(QDir::currentPath())) +
                                       QLatin1Char('/')}}}}},
        {QStringLiteral("invocations"),
         QJsonArray{QJsonObject{{QStringLiteral("executionSuccessful"), executionSuccessful}}}},
        {QStringLiteral("results"), results}};
    return JsonWithoutTerminalControls(shownJson(
        QJsonDocument(QJsonObject{{QStringLiteral("$schema"),
                                   QStringLiteral("https://json.schemastore.org/sarif-2.1.0.json")},
                                  {QStringLiteral("version"), QStringLiteral("2.1.0")},
                                  {QStringLiteral("runs"), QJsonArray{run}}})
            .toJson(QJsonDocument::Indented)));
}

QByteArray GitlabReport(const QList<FileVerdict>& verdicts) {
    QJsonArray issues;
    QSet<QByteArray> fingerprints;
    for (const FileVerdict& v : verdicts) {
        for (const ParseErrorReport& e : ErrorsOf(v)) {
            // Paths relative to the working folder (the project's, in a CI job) where they can be.
            const QString path = belowHere(errorFile(v, e));
            const QString check = e.errorCode == 0
                                      ? QStringLiteral("brellix/check-failed")
                                      : QStringLiteral("brellix/xml-%1").arg(e.errorCode);
            const QString description = messageOf(v, e);
            issues.append(QJsonObject{
                {QStringLiteral("description"), description},
                {QStringLiteral("check_name"), check},
                {QStringLiteral("fingerprint"),
                 findingFingerprint(path, e.errorCode, description, fingerprints)},
                {QStringLiteral("severity"),
                 e.errorCode == 0 ? QStringLiteral("critical") : QStringLiteral("major")},
                {QStringLiteral("location"),
                 QJsonObject{{QStringLiteral("path"), path},
                             {QStringLiteral("lines"),
                              QJsonObject{{QStringLiteral("begin"), std::max(1, e.line)}}}}}});
        }
    }
    return JsonWithoutTerminalControls(
        shownJson(QJsonDocument(issues).toJson(QJsonDocument::Indented)));
}

QString TextSummary(const QList<FileVerdict>& verdicts, const SkippedFiles& skipped,
                    double seconds) {
    const auto valid = std::count_if(verdicts.begin(), verdicts.end(),
                                     [](const FileVerdict& v) { return v.result.loaded; });
    return QStringLiteral("%1 file%2: %3 valid, %4 invalid, %5 skipped, in %6 s")
        .arg(verdicts.size())
        .arg(verdicts.size() == 1 ? QString() : QStringLiteral("s"))
        .arg(valid)
        .arg(verdicts.size() - valid)
        .arg(skipped.total())
        .arg(seconds, 0, 'f', 2);
}

QString GithubStepSummary(const QList<FileVerdict>& verdicts, const SkippedFiles& skipped) {
    // Markdown table cells: one line, no cell breaks, code spans closed.
    const auto cell = [](const QString& text) {
        QString escaped = oneLine(Visible(text));
        escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        escaped.replace(QLatin1Char('|'), QStringLiteral("\\|"));
        escaped.replace(QLatin1Char('`'), QStringLiteral("\\`"));
        escaped.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
        return escaped;
    };
    qsizetype invalid = 0;
    QString rows;
    for (const FileVerdict& v : verdicts) {
        if (v.result.loaded)
            continue;
        if (++invalid > kStepSummaryRows)
            continue;
        const QList<ParseErrorReport> errors = ErrorsOf(v);
        const ParseErrorReport& first = errors.front();
        QString place = first.line > 0 ? QStringLiteral("%1").arg(first.line) : QString();
        rows += QStringLiteral("| %1 | %2 | %3 |\n")
                    .arg(cell(v.path), place, cell(messageOf(v, first)));
    }
    QString text = QStringLiteral(
                       "### brellix-check\n\n%1 file%2: %3 valid, %4 invalid, %5 "
                       "skipped\n")
                       .arg(verdicts.size())
                       .arg(verdicts.size() == 1 ? QString() : QStringLiteral("s"))
                       .arg(verdicts.size() - invalid)
                       .arg(invalid)
                       .arg(skipped.total());
    if (invalid > 0) {
        text += QStringLiteral("\n| File | Line | First error |\n| --- | --- | --- |\n") + rows;
        if (invalid > kStepSummaryRows)
            text += QStringLiteral("\nand %1 more invalid file%2\n")
                        .arg(invalid - kStepSummaryRows)
                        .arg(invalid - kStepSummaryRows == 1 ? QString() : QStringLiteral("s"));
    }
    return text + QLatin1Char('\n');
}

QString GnuLines(const FileVerdict& verdict) {
    QString lines;
    for (const ParseErrorReport& e : ErrorsOf(verdict)) {
        QString place = Visible(errorFile(verdict, e));
        if (e.line > 0) {
            place += QLatin1Char(':') + QString::number(e.line);
            if (e.linepos > 0)
                place += QLatin1Char(':') + QString::number(e.linepos);
        }
        lines += place + QStringLiteral(": error: ") + Visible(messageOf(verdict, e)) +
                 QLatin1Char('\n');
    }
    return lines;
}

QString GithubLines(const FileVerdict& verdict) {
    QString lines;
    for (const ParseErrorReport& e : ErrorsOf(verdict)) {
        QString properties =
            QStringLiteral("file=") + githubProperty(Visible(errorFile(verdict, e)));
        if (e.line > 0) {
            properties += QStringLiteral(",line=") + QString::number(e.line);
            if (e.linepos > 0)
                properties += QStringLiteral(",col=") + QString::number(e.linepos);
        }
        properties +=
            QStringLiteral(",title=") +
            githubProperty(e.errorCode == 0 ? QStringLiteral("check failed")
                                            : QStringLiteral("XML error %1").arg(e.errorCode));
        lines += QStringLiteral("::error ") + properties + QStringLiteral("::") +
                 githubData(Visible(messageOf(verdict, e))) + QLatin1Char('\n');
    }
    return lines;
}

QString TextLine(const FileVerdict& verdict, bool withReport) {
    const CheckResult& result = verdict.result;
    if (result.loaded || result.failedStep != 0 || !withReport)
        return Visible(verdict.path);
    return Visible(verdict.path) + QStringLiteral(" - ") + visibleReport(result.error);
}
