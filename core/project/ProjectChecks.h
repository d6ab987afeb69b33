#pragma once
// A project's configuration made ready for a run: its catalogs added to the system's and the
// schema of every rule compiled, once, before anything is checked; then the check of each file
// with the schema of the first rule that matches it. Plain code without widgets; check() is
// safe on worker threads.

#include "check/XmlCheck.h"
#include "parse/LoadedFiles.h"
#include "project/ProjectConfig.h"
#include "schemas/SchemaCheck.h"

#include <memory>
#include <variant>
#include <vector>

class ProjectChecks {
public:
    // Adds the catalogs (each must be a well-formed XML catalog) and compiles every rule's
    // schema; the first that cannot be used is the error, with the place of its value.
    static std::variant<std::shared_ptr<const ProjectChecks>, ConfigError> prepare(
        ProjectConfig config);

    const ProjectConfig& config() const { return config_; }
    // The schemas that the file at `path` is checked against; null: the default check.
    std::shared_ptr<const SchemaSet> schemasFor(const QString& path) const;
    // The schemas of `rule` (one of config().rules, or null: none).
    std::shared_ptr<const SchemaSet> schemasOf(const ProjectRule* rule) const;
    // The rule that applies to the file at `path`; null: none (the default check).
    const ProjectRule* ruleFor(const QString& path) const;
    // What compiling the schema of `rule` (one of config().rules) read.
    const std::vector<RecordedRead>& compileReads(const ProjectRule& rule) const;
    // CheckXmlFile(path) with the schemas of the file's rule in `options`.
    CheckResult check(const QString& path, XmlCheckOptions options) const;

private:
    ProjectChecks() = default;
    ProjectConfig config_;
    std::vector<std::shared_ptr<const SchemaSet>> schemas_;  // of each rule
    std::vector<std::vector<RecordedRead>> compileReads_;    // of each rule
};

// Of `paths` (absolute), the ones that git ignores in the work tree that holds `folder`; paths
// outside that tree and a folder in no work tree have none ignored. An error text when git
// cannot tell (it is not installed, or failed).
std::variant<QStringList, QString> GitIgnoredPaths(const QString& folder, const QStringList& paths);
