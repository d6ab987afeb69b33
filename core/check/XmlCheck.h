#pragma once
// Checking one XML file: does it load as a namespace-aware DOM parser with default settings
// would load it, and if not, why. Plain code without widgets: every function here may be
// called from any thread at the same time, each call owning its parser and document.

#include "parse/CheckResult.h"
#include "parse/ParserSetup.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// For the command line: checks on the calling thread from now on keep up to `count` errors per
// file, the first one included (1, the default: only the first, as the window shows it).
void SetErrorsPerCheck(int count);

// Checks on the calling thread from now on also check each document against `schemas` (see
// check/SchemaCheck.h; null, the default: no schema). A worker of a run sets it for its files.
class SchemaSet;
void SetSchemaPerCheck(std::shared_ptr<const SchemaSet> schemas);

// Loads the file at `path` (taken exactly as given) into a fresh document and reports the
// verdict. A missing, unreadable or non-regular file is a failed load with a report, never a
// failure of the check. While it runs, the parser's errors on this thread go to the check
// (and are never printed); the thread's previous error handlers are restored at its end.
CheckResult CheckXmlFile(const QString& path);

// For worker threads: from now on, a check on the calling thread that built a large tree
// (64 MB or more) gives its verdict before the tree is freed, and the tree is kept until
// FreeSetAsideDocument() on this thread or the thread's end. Freeing takes a sixth of such a
// check; a worker does it after handing over the verdict.
void SetLargeDocumentsAside();
// Frees the tree a check on this thread set aside, if any.
void FreeSetAsideDocument();

// For comparisons: whether checks on the calling thread free the finished parts of the tree as
// the parse goes (true, the default) or build and keep the whole tree until the end, and how
// often they are freed (after every `everyElements` ended elements; 0: the usual, far rarer).
// The verdict and the report are the same either way; only the memory differs.
void SetFinishedSubtreesFreed(bool freed, int everyElements = 0);

// Checks `bytes` exactly as CheckXmlFile checks a file with this content at `path` (which need
// not exist: the document's references resolve against its folder).
CheckResult CheckXmlBytes(QByteArrayView bytes, const QString& path);

// The report as the invalid list shows it: "Your XML Document failed to load" running
// straight into "due the following error.", then one labelled line per field (the reason
// brings its own line break), without a final line break.
QString ErrorReportText(const ParseErrorReport& report);
