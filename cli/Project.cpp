#include "Project.h"

#include "VisibleText.h"
#include "files/PathUtil.h"
#include "project/ProjectChecks.h"

#include <QDir>

namespace {

QString workingFolder() {
    return AbsolutePath(QStringLiteral("."));
}

// `absolute` as the run shows it: relative to the working folder where that is shorter.
QString shownPath(const QString& absolute) {
    const QString here = workingFolder();
    if (absolute == here)
        return QStringLiteral(".");
    const QString below = PathBelow(absolute, here);
    if (!below.isEmpty())
        return below;
    const QString relative = QDir(here).relativeFilePath(absolute);
    return relative.size() < absolute.size() ? relative : absolute;
}

bool isPattern(const QString& entry) {
    return entry.contains(QLatin1Char('*')) || entry.contains(QLatin1Char('?'));
}

}  // namespace

std::optional<ProjectConfig> ConfigOfRun(const CheckOptions& options, Output& err) {
    ProjectConfig config;
    config.folder = workingFolder();
    const QString file = options.noConfig               ? QString()
                         : options.configFile.isEmpty() ? FindProjectConfig(config.folder)
                                                        : options.configFile;
    if (!file.isEmpty()) {
        auto read = ReadProjectConfig(options.configFile.isEmpty() ? shownPath(file) : file);
        if (const auto* error = std::get_if<ConfigError>(&read)) {
            err.message(Visible(error->text()));
            return std::nullopt;
        }
        config = std::move(std::get<ProjectConfig>(read));
        if (config.include.origin == QLatin1String("default"))
            config.include.value = QStringList{QStringLiteral(".")};
    }
    if (options.extensionsGiven)
        config.extensions = {options.extensions, QStringLiteral("--ext")};
    for (const QString& written : options.excludes) {
        PathPattern pattern(written, workingFolder());
        if (!pattern.problem().isEmpty()) {
            err.message(QStringLiteral("--exclude: %1").arg(Visible(pattern.problem())));
            return std::nullopt;
        }
        config.exclude.push_back(
            {pattern, QStringLiteral("--exclude, below %1").arg(workingFolder())});
    }
    for (const QString& catalog : options.catalogs)
        config.catalogs.push_back({AbsolutePath(catalog), QStringLiteral("--catalog")});
    // A check named on the command line is every file's.
    ProjectRule everyFile;
    if (!options.xmlSchemas.isEmpty()) {
        everyFile.check = RuleCheck::XmlSchema;
        everyFile.schemasAsWritten = options.xmlSchemas;
        everyFile.origin = QStringLiteral("--schema");
    } else if (!options.relaxNg.isEmpty()) {
        everyFile.check = RuleCheck::RelaxNg;
        everyFile.schemasAsWritten = {options.relaxNg};
        everyFile.origin = QStringLiteral("--relaxng");
    } else if (options.schemaHints) {
        everyFile.check = RuleCheck::Hints;
        everyFile.origin = QStringLiteral("--schema-hints");
    }
    if (!everyFile.origin.isEmpty()) {
        for (const QString& schema : everyFile.schemasAsWritten)
            everyFile.schemas.append(AbsolutePath(schema));
        config.rules = {everyFile};
    }
    return config;
}

Gathered GatherIncluded(const CheckOptions& options, const ProjectConfig& config, Output& err) {
    Gathered gathered;
    CheckOptions walk = options;
    walk.extensions = config.extensions.value;
    for (const QString& entry : config.include.value) {
        const QString absolute =
            QDir::cleanPath(QDir::isAbsolutePath(entry) ? entry : config.folder + '/' + entry);
        Gathered found;
        if (!isPattern(entry)) {
            found = GatherEntries(walk, {shownPath(absolute)}, 0, err);
        } else {
            // The folder before the first wildcard, walked for every file; the pattern chooses.
            const PathPattern pattern(entry, config.folder);
            QStringList fixed;
            for (const QString& name : entry.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
                if (isPattern(name))
                    break;
                fixed.append(name);
            }
            if (!entry.contains(QLatin1Char('/')))
                fixed.clear();
            walk.extensions = QStringList{QStringLiteral("*")};
            found = GatherEntries(
                walk, {shownPath(QDir::cleanPath(config.folder + '/' + fixed.join('/')))}, 0, err);
            walk.extensions = config.extensions.value;
            std::erase_if(found.entries, [&](const Entry& e) {
                return e.walked && !pattern.matches(AbsolutePath(e.path));
            });
        }
        for (Entry& e : found.entries)
            gathered.entries.push_back(std::move(e));
        gathered.skipped.hidden += found.skipped.hidden;
        gathered.skipped.tilde += found.skipped.tilde;
        gathered.skipped.notOpenable += found.skipped.notOpenable;
        gathered.leftOut.unusableName += found.leftOut.unusableName;
        gathered.leftOut.pathTooLong += found.leftOut.pathTooLong;
    }
    return gathered;
}

bool LeaveOutExcluded(Gathered& gathered, const ProjectConfig& config, Output& err) {
    std::erase_if(gathered.entries, [&](const Entry& e) {
        if (!e.walked || !config.excluded(AbsolutePath(e.path)))
            return false;
        ++gathered.excluded;
        return true;
    });
    if (!config.gitignore.value)
        return true;
    QStringList below;
    for (const Entry& e : gathered.entries)
        if (e.walked && !PathBelow(AbsolutePath(e.path), config.folder).isEmpty())
            below.append(AbsolutePath(e.path));
    const auto ignored = GitIgnoredPaths(config.folder, below);
    if (const auto* why = std::get_if<QString>(&ignored)) {
        err.message(QStringLiteral("gitignore = true (%1): %2")
                        .arg(Visible(config.gitignore.origin), Visible(*why)));
        return false;
    }
    const QStringList& list = std::get<QStringList>(ignored);
    const QSet<QString> leave(list.begin(), list.end());
    std::erase_if(gathered.entries, [&](const Entry& e) {
        if (!e.walked || !leave.contains(AbsolutePath(e.path)))
            return false;
        ++gathered.ignored;
        return true;
    });
    return true;
}
