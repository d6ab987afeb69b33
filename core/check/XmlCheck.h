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

class SchemaSet;

// A tree that a check set aside: freed by reset() or when the holder goes. A worker keeps one,
// so that it can hand over a large document's verdict before it frees the tree (freeing takes a
// sixth of such a check).
class SetAsideTree {
public:
    SetAsideTree();
    ~SetAsideTree();
    SetAsideTree(const SetAsideTree&) = delete;
    SetAsideTree& operator=(const SetAsideTree&) = delete;
    void reset();

    struct Tree;
    std::unique_ptr<Tree> tree;
};

// What one check needs besides the file: given to the check, never set around it.
struct XmlCheckOptions {
    // How many errors a failed load reports, the first one included (1: only the first, as the
    // window shows it).
    int errorsKept = 1;
    // Schemas every document is also checked against (see schemas/SchemaCheck.h); null: none.
    std::shared_ptr<const SchemaSet> schemas;
    // Where a check that built a large tree (64 MB or more) leaves it, to be freed after its
    // verdict was handed over; null: freed before the check returns.
    SetAsideTree* setAside = nullptr;
    // For comparisons: whether the finished parts of the tree are freed as the parse goes
    // (the default) or the whole tree is built and kept until the end, and how often they are
    // freed (after every `foldEvery` ended elements; 0: the usual, far rarer). The verdict and
    // the report are the same either way; only the memory differs.
    bool freeFinishedSubtrees = true;
    int foldEvery = 0;
};

// Loads the file at `path` (taken exactly as given) into a fresh document and reports the
// verdict. A missing, unreadable or non-regular file is a failed load with a report, never a
// failure of the check. While it runs, the parser's errors go to the check (and are never
// printed); the thread's previous error handlers are restored at its end.
CheckResult CheckXmlFile(const QString& path, const XmlCheckOptions& options = {});

// Checks `bytes` exactly as CheckXmlFile checks a file with this content at `path` (which need
// not exist: the document's references resolve against its folder).
CheckResult CheckXmlBytes(QByteArrayView bytes, const QString& path,
                          const XmlCheckOptions& options = {});

// The report as the invalid list shows it: "Your XML Document failed to load" running
// straight into "due the following error.", then one labelled line per field (the reason
// brings its own line break), without a final line break.
QString ErrorReportText(const ParseErrorReport& report);
