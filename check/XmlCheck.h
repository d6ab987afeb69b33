#pragma once
// Checking one XML file: does it load as a namespace-aware DOM parser with default settings
// would load it, and if not, why. Plain code without widgets: every function here may be
// called from any thread at the same time, each call owning its parser and document.

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The seven fields of the first error that made a load fail.
struct ParseErrorReport {
    std::int32_t errorCode = 0;  // the parser's error code (libxml2's xmlParserErrors)
    QString url;                 // the document (or DTD, or entity) that holds the error
    QString reason;              // the parser's description, ending in CR LF
    QString srcText;             // the text of the line that holds the error
    std::int32_t line = 0;       // line number, from 1 (0: not known)
    std::int32_t linepos = 0;    // position within the line, from 1 (0: not known)
    std::int32_t filepos = 0;    // byte offset of the error in the file (0: not known)

    bool operator==(const ParseErrorReport&) const = default;
};

// The outcome of checking one file.
struct CheckResult {
    bool loaded = false;     // the file loaded: it is well-formed, and valid when it has a DTD
    ParseErrorReport error;  // when not loaded: why
    // Set when the check itself failed instead of giving a verdict (the parser could not be
    // set up, or ran out of memory): the number of the step that failed (100: creating the
    // parser, 102: loading) and a description. `loaded` is then false.
    int failedStep = 0;
    QString failure;
    // The errors after the first one, when SetErrorsPerCheck asked for them (empty otherwise).
    std::vector<ParseErrorReport> laterErrors;
};

// For the command line: checks on the calling thread from now on keep up to `count` errors per
// file, the first one included (1, the default: only the first, as the window shows it).
void SetErrorsPerCheck(int count);

// Checks on the calling thread from now on also check each document against `schemas` (see
// check/SchemaCheck.h; null, the default: no schema). A worker of a run sets it for its files.
class SchemaSet;
void SetSchemaPerCheck(std::shared_ptr<const SchemaSet> schemas);

// Prepares the parser for checking: once per process, on the main thread before any other
// thread checks a file. Later calls do nothing. Raises the nesting limit and keeps every
// external definition local (files and the system XML catalog, never the network, regular
// files only), and counts the parser's memory so that one file cannot take all of it. CheckXmlFile
// calls it too, so forgetting it costs only the thread guarantee.
void InitXmlChecking();

// Tells of something the check skipped that changes no verdict but that the user should hear of:
// an XML catalog entry that names a remote catalog, which is never fetched. Each distinct
// warning is told once per process, to the handler set last (none at first), on whichever
// thread met it, so the handler must be safe to call from any thread. nullptr removes it.
using XmlCheckWarningHandler = std::function<void(const QString& warning)>;
void SetXmlCheckWarningHandler(XmlCheckWarningHandler handler);

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
