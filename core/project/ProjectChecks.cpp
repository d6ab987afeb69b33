#include "project/ProjectChecks.h"

#include "files/PathUtil.h"
#include "parse/ParserSetup.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>

namespace {

ConfigError errorAt(const QString& origin, const QString& reason) {
    return ConfigError{origin, 0, reason};
}

}  // namespace

std::variant<std::shared_ptr<const ProjectChecks>, ConfigError> ProjectChecks::prepare(
    ProjectConfig config) {
    InitXmlChecking();
    for (const Sourced<QString>& catalog : config.catalogs) {
        if (!IsOpenableFile(catalog.value))
            return errorAt(catalog.origin,
                           QStringLiteral("the catalog '%1' is not a file that can be read")
                               .arg(catalog.value));
        const QString why = AddXmlCatalog(catalog.value);
        if (!why.isEmpty())
            return errorAt(
                catalog.origin,
                QStringLiteral("the catalog '%1' cannot be used: %1:%2").arg(catalog.value, why));
    }
    std::shared_ptr<ProjectChecks> checks(new ProjectChecks);
    for (const ProjectRule& rule : config.rules) {
        std::shared_ptr<const SchemaSet> schemas;
        ParseErrorReport why;
        const ReadRecorder reads;
        switch (rule.check) {
            case RuleCheck::Plain:
                break;
            case RuleCheck::Hints:
                schemas = SchemaSet::documentHints();
                break;
            case RuleCheck::XmlSchema:
            case RuleCheck::RelaxNg:
                schemas = SchemaSet::compile(rule.check == RuleCheck::XmlSchema
                                                 ? SchemaLanguage::XmlSchema
                                                 : SchemaLanguage::RelaxNg,
                                             rule.schemas, &why);
                if (!schemas)
                    return errorAt(rule.files.empty()            ? QString()
                                   : rule.schemaOrigin.isEmpty() ? rule.origin
                                                                 : rule.schemaOrigin,
                                   QStringLiteral("the schema '%1' cannot be used: %2")
                                       .arg(rule.schemasAsWritten.join(QStringLiteral("', '")),
                                            SchemaErrorText(why)));
                break;
        }
        checks->schemas_.push_back(std::move(schemas));
        checks->compileReads_.push_back(reads.reads());
    }
    checks->config_ = std::move(config);
    return std::shared_ptr<const ProjectChecks>(std::move(checks));
}

const ProjectRule* ProjectChecks::ruleFor(const QString& path) const {
    // Without rules, no path needs making absolute (a call to the system per file).
    if (config_.rules.empty())
        return nullptr;
    return config_.ruleFor(AbsolutePath(path));
}

const std::vector<RecordedRead>& ProjectChecks::compileReads(const ProjectRule& rule) const {
    return compileReads_[static_cast<std::size_t>(&rule - config_.rules.data())];
}

std::shared_ptr<const SchemaSet> ProjectChecks::schemasFor(const QString& path) const {
    return schemasOf(ruleFor(path));
}

std::shared_ptr<const SchemaSet> ProjectChecks::schemasOf(const ProjectRule* rule) const {
    if (rule == nullptr)
        return nullptr;
    return schemas_[static_cast<std::size_t>(rule - config_.rules.data())];
}

CheckResult ProjectChecks::check(const QString& path, XmlCheckOptions options) const {
    options.schemas = schemasFor(path);
    return CheckXmlFile(path, options);
}

std::variant<QStringList, QString> GitIgnoredPaths(const QString& folder,
                                                   const QStringList& paths) {
    if (paths.isEmpty())
        return QStringList();
    QProcess git;
    git.setProgram(QStringLiteral("git"));
    git.setArguments({QStringLiteral("-C"), folder, QStringLiteral("check-ignore"),
                      QStringLiteral("-z"), QStringLiteral("--stdin")});
    // git's messages are read below: in English whatever the user's language.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.remove(QStringLiteral("LANGUAGE"));
    git.setProcessEnvironment(environment);
    git.start();
    if (!git.waitForStarted())
        return QStringLiteral("git, which tells what is ignored, could not be started: %1")
            .arg(git.errorString());
    QByteArray input;
    for (const QString& path : paths)
        input += PathBytes(path) + '\0';
    git.write(input);
    git.closeWriteChannel();
    git.waitForFinished(-1);
    const QByteArray errors = git.readAllStandardError();
    if (git.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("git check-ignore did not finish: %1").arg(git.errorString());
    // 0: some are ignored, 1: none; 128 for a folder in no work tree, or paths outside it.
    if (git.exitCode() == 128 &&
        (errors.contains("not a git repository") || errors.contains("is outside repository")))
        return QStringList();
    if (git.exitCode() != 0 && git.exitCode() != 1)
        return QStringLiteral("git check-ignore failed: %1")
            .arg(QString::fromLocal8Bit(errors).trimmed());
    QStringList ignored;
    for (const QByteArray& path : git.readAllStandardOutput().split('\0'))
        if (!path.isEmpty())
            ignored.append(PathFromBytes(path));
    return ignored;
}
