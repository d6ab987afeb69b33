#pragma once
// The --valid-list and --invalid-list files: never one of the files the run reads.

#include "CheckCommand.h"
#include "Gathering.h"
#include "Output.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Before the run: the message that refuses a list file that is the other list or one of the
// run's inputs (a file to check, a --files-from list, a schema document of `schemas`, an XML
// catalog of XML_CATALOG_FILES, the configuration file or a catalog of `configuration`),
// reached by any name or link; nothing when there is none.
std::optional<QString> ListFileConflict(const CheckOptions& options,
                                        const std::vector<Entry>& entries,
                                        const QStringList& schemas,
                                        const QStringList& configuration);

// After the run: writes both lists, each to a new file beside its own that replaces it only at
// the end, and only when it is none of the files the checks read (DTDs, entities, schema
// documents, catalogs). False, after a message on `err`, when a list was refused or could not
// be written; a refused list leaves both files as they were.
bool WriteLists(const CheckOptions& options, const QStringList& validRows,
                const QStringList& invalidRows, Output& err);
