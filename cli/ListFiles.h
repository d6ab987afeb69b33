#pragma once
// The files a run writes (--valid-list, --invalid-list, --output): never one of the files the
// run reads, nor one another.

#include "CheckCommand.h"
#include "Gathering.h"
#include "Output.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Before the run: the message that refuses a list or output file that another one writes, or one of
// the run's inputs (a file to check, a --files-from list, a schema document of `schemas`, an XML
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

// After the run: writes each --output file with its content (replacing it only when the whole
// content is written), unless it is one of the files the checks read. False, after a message
// on `err`, when one was refused or could not be written; the others are written.
bool WriteOutputs(const CheckOptions& options, const std::vector<QByteArray>& contents,
                  Output& err);
