#pragma once
// A project's configuration: which files a run checks when it is given no path, what it leaves
// out, the catalogs it adds to the system's, and rules that pair file patterns with a check.
// Read from a TOML file (.brellix.toml, found in the working folder or the nearest folder above
// it); its relative paths and patterns are relative to the file's own folder. The command line
// adds to it or overrides it (see brellix-check). Plain code without widgets.

#include "project/PathPattern.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>
#include <vector>

inline constexpr char kProjectConfigName[] = ".brellix.toml";

// What a rule checks its files against.
enum class RuleCheck {
    XmlSchema,  // one XML Schema, made from one or several schema documents
    RelaxNg,    // a RELAX NG schema (XML syntax)
    Hints,      // the schemas each document names (xsi:schemaLocation, xml-model)
    Plain,      // well-formedness, and the DTD when the document declares one
};

struct ProjectRule {
    std::vector<PathPattern> files;  // none: every file (a check named on the command line)
    RuleCheck check = RuleCheck::Plain;
    QStringList schemas;  // absolute paths of the schema documents (XmlSchema, RelaxNg)
    QStringList schemasAsWritten;
    QString origin;        // "FILE:LINE" of the rule, or the command-line option that made it
    QString schemaOrigin;  // ... of its schema
};

// A value and where it came from: "FILE:LINE", an option of the command line, or "default".
template <class T>
struct Sourced {
    T value{};
    QString origin = QStringLiteral("default");
};

struct ProjectConfig {
    QString file;                     // the configuration file, absolute; empty when there is none
    QString folder;                   // the folder its relative paths and patterns are relative to
    Sourced<QStringList> include;     // as written: files, folders or patterns
    Sourced<QStringList> extensions;  // of the files looked for in folders
    std::vector<Sourced<PathPattern>> exclude;
    Sourced<bool> gitignore;
    std::vector<Sourced<QString>> catalogs;  // absolute paths
    std::vector<ProjectRule> rules;          // the first that matches a file applies

    ProjectConfig();
    // The rule for the file at `absolutePath`, or null: the default check.
    const ProjectRule* ruleFor(const QString& absolutePath) const;
    // True when the file at `absolutePath` matches a pattern of `exclude`.
    bool excluded(const QString& absolutePath) const;
};

// Where a configuration cannot be used: the file, the line (0: none) and why.
struct ConfigError {
    QString file;
    int line = 0;
    QString reason;
    // "FILE:LINE: REASON" (the reason alone without a file: about the command line).
    QString text() const;
};

// The nearest configuration file: in `folder` or the nearest folder above it; empty for none.
QString FindProjectConfig(const QString& folder);

// Reads the configuration in `file`. A file that cannot be read or does not parse, an unknown
// key, a value of the wrong type and a pattern that cannot match are errors.
std::variant<ProjectConfig, ConfigError> ReadProjectConfig(const QString& file);

// The configuration as TOML, each value with where it came from.
QString PrintedProjectConfig(const ProjectConfig& config);
