#include "project/ProjectConfig.h"

#include "files/PathUtil.h"

#include <QDir>
#include <QFile>

#include <toml++/toml.h>

#include <string>
#include <string_view>

namespace {

constexpr qint64 kMaxConfigBytes = qint64{1} << 20;

QString text(std::string_view bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Thrown while reading: where and why.
struct Refusal {
    int line;
    QString reason;
};

int lineOf(const toml::node& node) {
    return static_cast<int>(node.source().begin.line);
}

// The strings of `node`: a string, or an array of strings (`single`: a string only).
QStringList strings(const toml::node& node, const QString& key, bool single = false) {
    if (const auto* one = node.as_string())
        return {text(one->get())};
    const auto* array = node.as_array();
    if (single || array == nullptr)
        throw Refusal{lineOf(node), single ? QStringLiteral("%1 must be a string").arg(key)
                                           : QStringLiteral("%1 must be a string or an array of "
                                                            "strings")
                                                 .arg(key)};
    QStringList values;
    for (const toml::node& element : *array) {
        const auto* value = element.as_string();
        if (value == nullptr)
            throw Refusal{lineOf(element), QStringLiteral("%1 must hold strings only").arg(key)};
        values.append(text(value->get()));
    }
    if (values.isEmpty())
        throw Refusal{lineOf(node), QStringLiteral("%1 is empty").arg(key)};
    return values;
}

bool truth(const toml::node& node, const QString& key) {
    const auto* value = node.as_boolean();
    if (value == nullptr)
        throw Refusal{lineOf(node), QStringLiteral("%1 must be true or false").arg(key)};
    return value->get();
}

QString unknownKey(const QString& key, const QString& where, const QStringList& known) {
    return QStringLiteral("unknown key \"%1\" %2 (known: %3)")
        .arg(key, where, known.join(QStringLiteral(", ")));
}

QString resolvedPath(const QString& folder, const QString& path) {
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : folder + QLatin1Char('/') + path);
}

PathPattern pattern(const QString& written, const QString& folder, int line) {
    PathPattern made(written, folder);
    if (!made.problem().isEmpty())
        throw Refusal{line, made.problem()};
    return made;
}

void readFiles(const toml::table& files, ProjectConfig& config, const QString& name) {
    const QStringList known{QStringLiteral("include"), QStringLiteral("extensions"),
                            QStringLiteral("exclude"), QStringLiteral("gitignore"),
                            QStringLiteral("catalogs")};
    for (const auto& [rawKey, node] : files) {
        const QString key = text(rawKey.str());
        const QString origin = QStringLiteral("%1:%2").arg(name).arg(lineOf(node));
        const QString shown = QStringLiteral("files.") + key;
        if (key == QLatin1String("include")) {
            config.include = {strings(node, shown), origin};
            for (const QString& entry : config.include.value)
                if (entry.contains(QLatin1Char('*')) || entry.contains(QLatin1Char('?')))
                    pattern(entry, config.folder, lineOf(node));
        } else if (key == QLatin1String("extensions")) {
            QStringList extensions;
            for (QString e : strings(node, shown)) {
                e = e.trimmed();
                if (e.startsWith(QLatin1Char('.')))
                    e.remove(0, 1);
                if (e.isEmpty())
                    throw Refusal{lineOf(node),
                                  QStringLiteral("files.extensions holds an empty extension (\"*\" "
                                                 "stands for every file)")};
                if (!extensions.contains(e))
                    extensions.append(e);
            }
            config.extensions = {extensions, origin};
        } else if (key == QLatin1String("exclude")) {
            for (const QString& written : strings(node, shown))
                config.exclude.push_back({pattern(written, config.folder, lineOf(node)), origin});
        } else if (key == QLatin1String("gitignore")) {
            config.gitignore = {truth(node, shown), origin};
        } else if (key == QLatin1String("catalogs")) {
            for (const QString& written : strings(node, shown))
                config.catalogs.push_back({resolvedPath(config.folder, written), origin});
        } else {
            throw Refusal{lineOf(node), unknownKey(key, QStringLiteral("in [files]"), known)};
        }
    }
}

ProjectRule readRule(const toml::table& table, const ProjectConfig& config, const QString& name) {
    const QStringList known{QStringLiteral("files"), QStringLiteral("xsd"),
                            QStringLiteral("relaxng"), QStringLiteral("hints"),
                            QStringLiteral("plain")};
    ProjectRule rule;
    const int line = lineOf(table);
    rule.origin = QStringLiteral("%1:%2").arg(name).arg(line);
    QStringList checks;
    for (const auto& [rawKey, node] : table) {
        const QString key = text(rawKey.str());
        const QString shown = QStringLiteral("rule.") + key;
        if (key == QLatin1String("files")) {
            for (const QString& written : strings(node, shown))
                rule.files.push_back(pattern(written, config.folder, lineOf(node)));
        } else if (key == QLatin1String("xsd") || key == QLatin1String("relaxng")) {
            rule.check = key == QLatin1String("xsd") ? RuleCheck::XmlSchema : RuleCheck::RelaxNg;
            rule.schemasAsWritten = strings(node, shown, key == QLatin1String("relaxng"));
            for (const QString& written : rule.schemasAsWritten)
                rule.schemas.append(resolvedPath(config.folder, written));
            rule.schemaOrigin = QStringLiteral("%1:%2").arg(name).arg(lineOf(node));
            checks.append(key);
        } else if (key == QLatin1String("hints") || key == QLatin1String("plain")) {
            if (!truth(node, shown))
                throw Refusal{lineOf(node),
                              QStringLiteral("%1 = false says nothing; leave it out, or give "
                                             "another check")
                                  .arg(key)};
            rule.check = key == QLatin1String("hints") ? RuleCheck::Hints : RuleCheck::Plain;
            checks.append(key);
        } else {
            throw Refusal{lineOf(node), unknownKey(key, QStringLiteral("in a [[rule]]"), known)};
        }
    }
    if (rule.files.empty())
        throw Refusal{line, QStringLiteral("a [[rule]] needs files = [...], the patterns of the "
                                           "files it applies to")};
    if (checks.size() != 1)
        throw Refusal{line,
                      checks.isEmpty()
                          ? QStringLiteral("a [[rule]] needs one check: xsd, relaxng, hints = "
                                           "true or plain = true")
                          : QStringLiteral("a [[rule]] takes one check; this one has %1")
                                .arg(checks.join(QStringLiteral(" and ")))};
    return rule;
}

}  // namespace

ProjectConfig::ProjectConfig() {
    extensions.value = QStringList{QStringLiteral("xml")};
}

const ProjectRule* ProjectConfig::ruleFor(const QString& absolutePath) const {
    for (const ProjectRule& rule : rules) {
        if (rule.files.empty())
            return &rule;
        for (const PathPattern& p : rule.files)
            if (p.matches(absolutePath))
                return &rule;
    }
    return nullptr;
}

bool ProjectConfig::excluded(const QString& absolutePath) const {
    for (const Sourced<PathPattern>& p : exclude)
        if (p.value.matches(absolutePath))
            return true;
    return false;
}

QString ConfigError::text() const {
    if (file.isEmpty())
        return reason;
    if (line > 0)
        return QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(reason);
    return QStringLiteral("%1: %2").arg(file, reason);
}

QString FindProjectConfig(const QString& folder) {
    QString at = AbsolutePath(folder);
    while (true) {
        const QString candidate =
            QDir::cleanPath(at + QLatin1Char('/') + QLatin1String(kProjectConfigName));
        if (IsOpenableFile(candidate))
            return candidate;
        if (at == QLatin1String("/"))
            return {};
        const qsizetype slash = at.lastIndexOf(QLatin1Char('/'));
        at = slash > 0 ? at.left(slash) : QStringLiteral("/");
    }
}

std::variant<ProjectConfig, ConfigError> ReadProjectConfig(const QString& file) {
    ConfigError error{file, 0, {}};
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) {
        error.reason = QStringLiteral("cannot be read: %1").arg(input.errorString());
        return error;
    }
    const QByteArray bytes = input.read(kMaxConfigBytes + 1);
    if (bytes.size() > kMaxConfigBytes) {
        error.reason = QStringLiteral("is larger than %1 MB; a configuration is far smaller")
                           .arg(kMaxConfigBytes >> 20);
        return error;
    }
    ProjectConfig config;
    config.file = AbsolutePath(file);
    config.folder = QFileInfo(config.file).absolutePath();
    const QString name = file;
    try {
        const toml::table root =
            toml::parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                        std::string_view(PathBytes(file).constData()));
        for (const auto& [rawKey, node] : root) {
            const QString key = text(rawKey.str());
            if (key == QLatin1String("files")) {
                const auto* files = node.as_table();
                if (files == nullptr)
                    throw Refusal{lineOf(node), QStringLiteral("files must be a table: [files]")};
                readFiles(*files, config, name);
            } else if (key == QLatin1String("rule")) {
                const auto* rules = node.as_array();
                if (rules == nullptr || !rules->is_array_of_tables())
                    throw Refusal{lineOf(node),
                                  QStringLiteral("rules are written [[rule]], one per rule")};
                for (const toml::node& rule : *rules)
                    config.rules.push_back(readRule(*rule.as_table(), config, name));
            } else {
                throw Refusal{lineOf(node),
                              unknownKey(key, QStringLiteral("at the top"),
                                         {QStringLiteral("[files]"), QStringLiteral("[[rule]]")})};
            }
        }
    } catch (const toml::parse_error& e) {
        error.line = static_cast<int>(e.source().begin.line);
        error.reason = QStringLiteral("not TOML: ") + text(e.description());
        return error;
    } catch (const Refusal& refusal) {
        error.line = refusal.line;
        error.reason = refusal.reason;
        return error;
    }
    return config;
}

namespace {

// `value` as a TOML basic string.
QString quoted(const QString& value) {
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + QString(c);
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString list(const QStringList& values) {
    QStringList items;
    for (const QString& v : values)
        items.append(quoted(v));
    return QLatin1Char('[') + items.join(QStringLiteral(", ")) + QLatin1Char(']');
}

template <class T, class Show>
void printList(QString& out, const char* key, const std::vector<Sourced<T>>& values, Show show) {
    if (values.empty()) {
        out += QStringLiteral("%1 = []  # default\n").arg(QLatin1String(key));
        return;
    }
    out += QStringLiteral("%1 = [\n").arg(QLatin1String(key));
    for (const Sourced<T>& v : values)
        out += QStringLiteral("    %1,  # %2\n").arg(show(v.value), v.origin);
    out += QStringLiteral("]\n");
}

}  // namespace

QString PrintedProjectConfig(const ProjectConfig& config) {
    QString out;
    if (config.file.isEmpty())
        out += QStringLiteral("# No configuration file: the command line and the defaults.\n");
    else
        out += QStringLiteral("# The configuration %1; its paths are relative to %2.\n")
                   .arg(config.file, config.folder);
    out += QStringLiteral("[files]\n");
    out += QStringLiteral("include = %1  # %2\n")
               .arg(list(config.include.value), config.include.origin);
    out += QStringLiteral("extensions = %1  # %2\n")
               .arg(list(config.extensions.value), config.extensions.origin);
    printList(out, "exclude", config.exclude,
              [](const PathPattern& p) { return quoted(p.text()); });
    out += QStringLiteral("gitignore = %1  # %2\n")
               .arg(config.gitignore.value ? QStringLiteral("true") : QStringLiteral("false"),
                    config.gitignore.origin);
    printList(out, "catalogs", config.catalogs, quoted);
    for (const ProjectRule& rule : config.rules) {
        QStringList files;
        for (const PathPattern& p : rule.files)
            files.append(p.text());
        if (files.isEmpty())
            out += QStringLiteral("\n[[rule]]  # %1, for every file\nfiles = [\"**\"]\n")
                       .arg(rule.origin);
        else
            out += QStringLiteral("\n[[rule]]  # %1\nfiles = %2\n").arg(rule.origin, list(files));
        switch (rule.check) {
            case RuleCheck::XmlSchema:
                out += QStringLiteral("xsd = %1\n").arg(list(rule.schemasAsWritten));
                break;
            case RuleCheck::RelaxNg:
                out += QStringLiteral("relaxng = %1\n").arg(quoted(rule.schemasAsWritten.value(0)));
                break;
            case RuleCheck::Hints:
                out += QStringLiteral("hints = true\n");
                break;
            case RuleCheck::Plain:
                out += QStringLiteral("plain = true\n");
                break;
        }
    }
    if (config.rules.empty())
        out += QStringLiteral("\n# No rule: every file gets the default check.\n");
    return out;
}
