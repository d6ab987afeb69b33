// Checking one file: a fresh parser context and document per file, loaded with the DTD
// (validated when the document declares one), entities substituted, namespaces enforced.

#include "check/XmlCheck.h"

#include "files/PathUtil.h"
#include "parse/EncodingDeclaration.h"
#include "parse/EntityBase.h"
#include "parse/ExternalInput.h"
#include "parse/FinishedSubtrees.h"
#include "parse/InputFile.h"
#include "parse/Libxml.h"
#include "parse/ParsePipeline.h"
#include "parse/ParserMemory.h"
#include "parse/StartTagLimits.h"
#include "parse/XmlErrorCapture.h"
#include "parse/XmlString.h"
#include "schemas/SchemaCheck.h"
#include "validity/ValidityConstraints.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <utility>

namespace {

// Load external DTDs and entities, substitute entities (so external parsed entities are read
// and checked), keep line numbers past 65535. Never XML_PARSE_HUGE: it would lift the limits
// that refuse entity bombs and runaway text. The tree is only built and freed, never edited
// or read: small texts are kept inside their nodes (COMPACT), and the blanks between elements
// of a document without a DOCTYPE make no nodes at all (NOBLANKS; a DOCTYPE turns it off, see
// internalSubsetThenValidate), which saves a third of the nodes of an indented document.
constexpr int kParseOptions = XML_PARSE_DTDLOAD | XML_PARSE_NOENT | XML_PARSE_NONET |
                              XML_PARSE_BIG_LINES | XML_PARSE_COMPACT | XML_PARSE_NOBLANKS;

struct ContextFree {
    void operator()(xmlParserCtxtPtr c) const { xmlFreeParserCtxt(c); }
};
struct DocumentFree {
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
using ParserContext = std::unique_ptr<xmlParserCtxt, ContextFree>;
using Document = std::unique_ptr<xmlDoc, DocumentFree>;

// A tree this large is set aside when the check was given a place for it.
constexpr std::size_t kSetAsideBytes = std::size_t{64} << 20;

// A document that declares a DOCTYPE is validated against its DTD while it is parsed, as a
// validating DOM parser does; one without is only checked for well-formedness.
//
// Validation looks at blank text too (a standalone document must not have blanks in element
// content declared outside it), so from the DOCTYPE on, blanks are kept as text again. The
// DOCTYPE comes before the root element: no element content was parsed without them.
void internalSubsetThenValidate(void* context, const xmlChar* name, const xmlChar* externalId,
                                const xmlChar* systemId) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
    ctxt->keepBlanks = 1;
    ctxt->options &= ~XML_PARSE_NOBLANKS;
    ctxt->sax->ignorableWhitespace = ctxt->sax->characters;
    if (FinishedSubtrees* finished = FinishedSubtrees::of(ctxt))
        finished->buildTree();
    xmlSAX2InternalSubset(ctxt, name, externalId, systemId);
    ctxt->validate = 1;
}

// System identifiers are URI references, but documents often hold plain file names with
// blanks or letters beyond ASCII; escape those (and only those) so that they resolve.
constexpr char kKeptInUris[] = ";/?:@&=+$,#%[]";

XmlString escapedReference(const xmlChar* systemId) {
    return XmlString(systemId != nullptr
                         ? xmlURIEscapeStr(systemId, reinterpret_cast<const xmlChar*>(kKeptInUris))
                         : nullptr);
}

// The parser decodes a system identifier as a C string, so an escaped NUL ("ok.dtd%00/../x")
// would cut it and another file would be read: such an identifier is refused where it is
// declared, before the parser makes an address of it.
bool refusedForNul(void* context, const xmlChar* systemId) {
    if (systemId == nullptr)
        return false;
    const QByteArray reference(reinterpret_cast<const char*>(systemId));
    if (!HoldsEscapedNul(reference))
        return false;
    if (XmlErrorCapture* capture = XmlErrorCapture::of(context))
        capture->recordLoadFailure(static_cast<xmlParserCtxtPtr>(context), XML_IO_LOAD_ERROR,
                                   EscapedNulReason(reference), reference);
    return true;
}

// Runs the check's own part of a callback (see ParsePipeline::guard).
template <class Step>
void guarded(void* context, Step&& step) {
    if (ParsePipeline* pipeline = ParsePipeline::of(context))
        pipeline->guard(std::forward<Step>(step));
}

xmlParserInputPtr resolveEscaped(void* context, const xmlChar* publicId, const xmlChar* systemId) {
    xmlParserInputPtr input = nullptr;
    guarded(context, [&] {
        if (refusedForNul(context, systemId))
            return;
        const XmlString escaped = escapedReference(systemId);
        input = xmlSAX2ResolveEntity(context, publicId, escaped ? escaped.get() : systemId);
    });
    return input;
}

void entityDeclEscaped(void* context, const xmlChar* name, int type, const xmlChar* publicId,
                       const xmlChar* systemId, xmlChar* content) {
    guarded(context, [&] {
        // An unparsed entity is never read: its identifier may be whatever it is.
        if (type != XML_EXTERNAL_GENERAL_UNPARSED_ENTITY && refusedForNul(context, systemId))
            return;
        if (StartTagLimits* limits = StartTagLimits::of(context);
            limits != nullptr && type == XML_INTERNAL_GENERAL_ENTITY)
            limits->noteEntity(name, content);
        const XmlString escaped = escapedReference(systemId);
        const xmlChar* reference = escaped ? escaped.get() : systemId;
        const XmlString based =
            SystemIdAgainstEnclosingFile(static_cast<xmlParserCtxtPtr>(context), reference);
        xmlSAX2EntityDecl(context, name, type, publicId, based ? based.get() : reference, content);
    });
}

// The report of a file that could not be opened or read.
ParseErrorReport ioFailure(const QString& path, const QString& reason) {
    ParseErrorReport report;
    report.errorCode = XML_IO_LOAD_ERROR;
    report.reason = ReasonText(reason);
    report.url = path;
    return report;
}

ParseErrorReport openFailure(const QString& path, const QString& why) {
    return ioFailure(path, QStringLiteral("failed to load \"%1\": %2").arg(path, why));
}

// A read that failed part-way, whatever the parser made of the part it got (a kernel file that
// refuses reading would look like an empty document).
ParseErrorReport readFailure(const QString& path, const ByteSource& source) {
    ParseErrorReport report =
        ioFailure(path, QStringLiteral("failed to read \"%1\" after %2 bytes: %3")
                            .arg(path)
                            .arg(source.bytesRead())
                            .arg(source.readError()));
    report.filepos = static_cast<std::int32_t>(std::min<long long>(source.bytesRead(), INT32_MAX));
    return report;
}

// The report of a file whose byte-order mark and encoding declaration disagree.
ParseErrorReport encodingConflict(const QString& path, const EncodingConflict& conflict) {
    ParseErrorReport report;
    report.errorCode = XML_ERR_UNSUPPORTED_ENCODING;
    report.reason = ReasonText(conflict.reason);
    report.url = path;
    report.line = conflict.line;
    report.linepos = conflict.linepos;
    report.filepos = conflict.filepos;
    report.srcText = conflict.srcText;
    return report;
}

// True when the parser finished a well-formed document before the end of its bytes: it takes a
// NUL character for the end of the input, and leaves bytes that form no whole character.
bool leftBytesUnread(xmlParserCtxtPtr ctxt, ByteSource& source) {
    const xmlParserInput* in = ctxt->input;
    if (in != nullptr && in->cur != nullptr && in->end != nullptr && in->cur < in->end)
        return true;
    if (in != nullptr && in->buf != nullptr && in->buf->raw != nullptr &&
        xmlBufUse(in->buf->raw) > 0)
        return true;
    char probe = 0;
    return source.read(&probe, 1) > 0;
}

QString memoryLimitReason(const ParserMemoryBudget& budget) {
    return QStringLiteral(
               "The document is too large to load: its tree would take more than %1 MB of "
               "memory, the limit for one file")
        .arg(budget.limit() >> 20);
}

// Parses the bytes of `source` as the document at `path` into a fresh document.
void checkSource(ByteSource& source, const QString& path, const XmlCheckOptions& options,
                 CheckResult& result) {
    const QByteArray head = source.head(kEncodingHeadSize);
    if (const std::optional<EncodingConflict> conflict = FindEncodingConflict(head)) {
        result.error = encodingConflict(path, *conflict);
        return;
    }

    ParserContext ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        result.failedStep = 100;
        result.failure = QStringLiteral("Out of memory: no XML parser could be created");
        return;
    }
    Document doc;
    // Declared after the context and the document: it counts while the document is read, and
    // no longer when the two are freed (no limit is needed there, and counting every block
    // of the tree as it goes would take a good part of the counting's time).
    ParserMemoryBudget budget;
    ParsePipeline pipeline(ctxt.get());
    XmlErrorCapture capture;
    capture.keepErrors(options.errorsKept);
    pipeline.capture = &capture;
    // The steps, the last of the chain first (see ParsePipeline): the check's own handling of
    // declarations, then each step joins in front of the ones before it.
    ctxt->sax->internalSubset = internalSubsetThenValidate;
    ctxt->sax->resolveEntity = resolveEscaped;
    ctxt->sax->entityDecl = entityDeclEscaped;
    // RELAX NG reads the tree as it validates: a check against it keeps the whole tree.
    std::optional<FinishedSubtrees> finished;
    if (options.freeFinishedSubtrees && !SchemaNeedsTree(options.schemas.get())) {
        finished.emplace(pipeline);
        if (options.foldEvery > 0)
            finished->setFoldEvery(options.foldEvery);
    }
    // Only where the parser's time on a start tag grows with the square of its attributes.
    std::optional<StartTagLimits> startTags;
    if constexpr (libxml::kQuadraticStartTags)
        startTags.emplace(pipeline);
    ValidityConstraints constraints(pipeline);
    capture.addContext(ctxt.get());
    budget.stopOnExcess(ctxt.get());

    // The document's address as a file URI, so that relative references in it resolve
    // against its folder whatever characters the path holds (blanks, "%", "#" ...).
    const QByteArray documentUrl = FileUrlOf(AbsolutePath(path));
    capture.nameUrl(documentUrl, path);
    SchemaValidation schema(pipeline, options.schemas.get(), options.errorsKept, documentUrl, path);

    doc.reset(xmlCtxtReadIO(ctxt.get(), ReadInputFile, nullptr, static_cast<ByteSource*>(&source),
                            documentUrl.constData(), nullptr,
                            kParseOptions | libxml::ParseOptions()));
    budget.stopOnExcess(nullptr);
    // What a step threw (out of memory) ends the check here, now that the parser has returned.
    pipeline.rethrow();
    const bool built = doc != nullptr;
    if (built && options.setAside != nullptr && budget.used() >= kSetAsideBytes)
        options.setAside->tree = std::make_unique<SetAsideTree::Tree>(std::move(doc));
    if (budget.stackRanShort()) {
        // Whatever the refused allocations made the parser or a validator report comes after.
        result.error = capture.reportAt(
            ctxt.get(), XML_ERR_NO_MEMORY,
            QStringLiteral("The document is nested too deeply to be checked: its check ran out "
                           "of stack space"));
        return;
    }
    if (budget.exceeded()) {
        capture.recordLoadFailure(ctxt.get(), XML_ERR_NO_MEMORY, memoryLimitReason(budget),
                                  documentUrl);
        result.error = capture.report();
        return;
    }
    if (capture.outOfMemory() || (ctxt->errNo == XML_ERR_NO_MEMORY && !capture.hasError())) {
        result.failedStep = 102;
        result.failure = QStringLiteral("Out of memory while loading %1").arg(path);
        return;
    }
    if (!source.readError().isEmpty()) {
        result.error = readFailure(path, source);
        return;
    }
    const bool valid = ctxt->validate == 0 || ctxt->valid != 0;
    result.loaded = built && ctxt->wellFormed && ctxt->nsWellFormed && valid && !capture.hasError();
    if (result.loaded && leftBytesUnread(ctxt.get(), source)) {
        result.loaded = false;
        capture.recordLoadFailure(ctxt.get(), XML_ERR_DOCUMENT_END,
                                  QStringLiteral("Extra content at the end of the document: a "
                                                 "NUL character, or bytes that form no "
                                                 "character"),
                                  documentUrl);
    }
    if (result.loaded && constraints.reportTo(capture))
        result.loaded = false;
    // A schema error makes a loaded document invalid, with the schema's report.
    if (schema.finish(result))
        return;
    if (result.loaded)
        return;
    if (!capture.hasError())
        capture.recordOwn(ctxt->errNo != 0 ? ctxt->errNo : XML_ERR_INTERNAL_ERROR,
                          QStringLiteral("the document could not be loaded"), path);
    result.error = capture.report();
    result.laterErrors = capture.laterErrors();
}

void checkFile(const QString& path, const XmlCheckOptions& options, CheckResult& result) {
    InputFile file;
    if (!file.open(PathBytes(path))) {
        result.error = openFailure(path, file.error());
        return;
    }
    checkSource(file, path, options, result);
}

// Runs one check; a failed allocation outside the parser ends it without a verdict.
template <class Check>
CheckResult guardedCheck(const QString& path, Check&& check) {
    InitXmlChecking();
    CheckResult result;
    try {
        check(result);
    } catch (const std::bad_alloc&) {
        result = CheckResult{};
        result.failedStep = 102;
        result.failure = QStringLiteral("Out of memory while loading %1").arg(path);
    }
    return result;
}

}  // namespace

void XmlFree::operator()(unsigned char* text) const {
    xmlFree(text);
}

struct SetAsideTree::Tree {
    explicit Tree(Document d) : document(std::move(d)) {}
    Document document;
};

SetAsideTree::SetAsideTree() = default;
SetAsideTree::~SetAsideTree() = default;

void SetAsideTree::reset() {
    tree.reset();
}

CheckResult CheckXmlFile(const QString& path, const XmlCheckOptions& options) {
    return guardedCheck(path, [&](CheckResult& result) { checkFile(path, options, result); });
}

CheckResult CheckXmlBytes(QByteArrayView bytes, const QString& path,
                          const XmlCheckOptions& options) {
    return guardedCheck(path, [&](CheckResult& result) {
        MemoryInput source(bytes);
        checkSource(source, path, options, result);
    });
}

QString ErrorReportText(const ParseErrorReport& r) {
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("Your XML Document failed to load") +
           QStringLiteral("due the following error.") + crlf + QStringLiteral("Error #: ") +
           QString::number(r.errorCode) + QStringLiteral(": ") + r.reason +
           QStringLiteral("Line #: ") + QString::number(r.line) + crlf +
           QStringLiteral("Line Position: ") + QString::number(r.linepos) + crlf +
           QStringLiteral("Position In File: ") + QString::number(r.filepos) + crlf +
           QStringLiteral("Source Text: ") + r.srcText + crlf + QStringLiteral("Document URL: ") +
           r.url;
}
