// Schemas: compiling them once (after a look through every file they include, so that a
// hostile schema is refused with a clear reason before the compiler meets it), and checking a
// document against one in the same parse: XML Schema through the validator's SAX plug,
// RELAX NG through its push interface, fed from chained SAX callbacks.

#include "schemas/SchemaCheck.h"

#include "files/PathUtil.h"
#include "parse/InputFile.h"
#include "parse/Libxml.h"
#include "parse/ParsePipeline.h"
#include "parse/ParserMemory.h"
#include "parse/ParserSetup.h"
#include "parse/XmlErrorCapture.h"
#include "parse/XmlString.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <libxml/SAX2.h>
#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/relaxng.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlschemastypes.h>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <map>
#include <mutex>

namespace {

constexpr char kXsdNamespace[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kXsiNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr char kRngNamespace[] = "http://relaxng.org/ns/structure/1.0";

// Limits for one schema and everything it includes. The compiler descends recursively into
// nested definitions, so the nesting is bounded well below what would exhaust a thread's
// stack; real schemas nest a few dozen levels.
constexpr int kMaxSchemaDepth = 1000;
constexpr qint64 kMaxSchemaFileBytes = qint64{64} << 20;
constexpr int kMaxSchemaFiles = 10000;

// The compiler's type tables are set up on first use and are not guarded: compilations run
// one at a time.
std::mutex gCompileLock;

const char* chars(const xmlChar* text) {
    return reinterpret_cast<const char*>(text);
}
const xmlChar* xml(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}
bool same(const xmlChar* a, const char* b) {
    return a != nullptr && xmlStrEqual(a, xml(b)) != 0;
}

std::int32_t clamp32(long long value) {
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

QByteArray fileUrl(const QString& path) {
    return FileUrlOf(AbsolutePath(path));
}

// The name a schema address is shown by: a local file as a path.
QString shownAddress(const QByteArray& address) {
    const QUrl url = QUrl::fromEncoded(address);
    return url.isLocalFile() ? LocalPathOf(url) : QString::fromUtf8(address);
}

// `reference` resolved against `base`.
QByteArray resolved(const QByteArray& reference, const QByteArray& base) {
    XmlString built(xmlBuildURI(xml(reference.constData()), xml(base.constData())));
    return built ? QByteArray(chars(built.get())) : reference;
}

// The catalog's local copy of a schema address, or the address itself.
QByteArray throughCatalog(const QByteArray& address) {
    XmlString found(xmlCatalogResolveURI(xml(address.constData())));
    if (!found)
        found.reset(xmlCatalogResolveSystem(xml(address.constData())));
    return found ? QByteArray(chars(found.get())) : address;
}

// The local file an address names, or empty when it names none (a remote address).
QString localFile(const QByteArray& address) {
    if (address.startsWith("file:")) {
        const QUrl url = QUrl::fromEncoded(address);
        return LocalPathOf(url);
    }
    const qsizetype colon = address.indexOf(':');
    const qsizetype slash = address.indexOf('/');
    if (colon > 1 && (slash < 0 || colon < slash))
        return {};  // a scheme: http:, ftp:, urn: ...
    return PathFromBytes(QByteArray::fromPercentEncoding(address));
}

// Why the schema at `address` (after the catalog) cannot be read offline, or empty.
QString whyNotAvailable(const QByteArray& address) {
    const QString file = localFile(address);
    if (file.isEmpty())
        return QStringLiteral(
            "the XML catalog has no local copy of it, and nothing is loaded "
            "from the network");
    InputFile input;
    if (!input.open(PathBytes(file)))
        return input.error();
    return {};
}

ParseErrorReport schemaError(int code, const QString& reason, const QString& url, int line = 0) {
    ParseErrorReport report;
    report.errorCode = code;
    report.reason = ReasonText(reason);
    report.url = url;
    report.line = line;
    return report;
}

// A look through a schema and the schemas it includes, imports or redefines, before the
// compiler reads them: each must be a local regular file of bounded size and nesting.
class SchemaSurvey {
public:
    explicit SchemaSurvey(SchemaLanguage language) : language_(language) {}

    // False, with `error` set, when a schema cannot be compiled safely.
    bool survey(const QByteArray& address, ParseErrorReport& error) {
        std::vector<std::pair<QByteArray, QByteArray>> pending{{address, QByteArray()}};
        while (!pending.empty()) {
            const auto [next, from] = pending.back();
            pending.pop_back();
            const QByteArray local = throughCatalog(next);
            if (seen_.contains(local))
                continue;  // a loop, or a schema included twice: the compiler reads it once
            seen_.insert(local);
            if (seen_.size() > kMaxSchemaFiles) {
                error = schemaError(
                    XML_IO_LOAD_ERROR,
                    QStringLiteral("the schema includes more than %1 files").arg(kMaxSchemaFiles),
                    shownAddress(from));
                return false;
            }
            if (!readOne(next, local, from, error))
                return false;
            for (const QByteArray& reference : references_)
                pending.emplace_back(resolved(reference, next), local);
            references_.clear();
        }
        return true;
    }

private:
    bool readOne(const QByteArray& address, const QByteArray& local, const QByteArray& from,
                 ParseErrorReport& error) {
        const QString shown = shownAddress(address);
        const QString where = from.isEmpty() ? shown : shownAddress(from);
        const QString file = localFile(local);
        const QString why = whyNotAvailable(local);
        if (!why.isEmpty()) {
            error = schemaError(
                file.isEmpty() ? XML_IO_NETWORK_ATTEMPT : XML_IO_LOAD_ERROR,
                from.isEmpty()
                    ? QStringLiteral("failed to load the schema \"%1\": %2").arg(shown, why)
                    : QStringLiteral("failed to load the schema \"%1\" that \"%2\" includes: %3")
                          .arg(shown, where, why),
                where);
            return false;
        }
        struct stat info {};
        if (::stat(PathBytes(file).constData(), &info) == 0 && info.st_size > kMaxSchemaFileBytes) {
            error = schemaError(XML_ERR_NO_MEMORY,
                                QStringLiteral("the schema \"%1\" is larger than %2 MB, the limit "
                                               "for a schema file")
                                    .arg(shown)
                                    .arg(kMaxSchemaFileBytes >> 20),
                                shown);
            return false;
        }
        InputFile input;
        if (!input.open(PathBytes(file)))
            return true;  // raced away: the compiler reports it
        // Only the element events: every other handler would take the survey for a parser.
        xmlSAXHandler sax{};
        sax.initialized = XML_SAX2_MAGIC;
        sax.startElementNs = &SchemaSurvey::onStart;
        sax.endElementNs = &SchemaSurvey::onEnd;
        xmlParserCtxtPtr ctxt =
            xmlCreateIOParserCtxt(&sax, this, ReadInputFile, nullptr,
                                  static_cast<ByteSource*>(&input), XML_CHAR_ENCODING_NONE);
        if (ctxt == nullptr)
            return true;
        xmlCtxtUseOptions(ctxt, libxml::ParseOptions());
        depth_ = 0;
        tooDeep_ = false;
        ctxt_ = ctxt;
        // Its errors are the compiler's to report, with the compiler's words.
        XmlErrorCapture quiet;
        quiet.keepNoContexts();
        xmlParseDocument(ctxt);
        const int line = ctxt->input != nullptr ? ctxt->input->line : 0;
        ctxt_ = nullptr;
        xmlFreeParserCtxt(ctxt);
        if (tooDeep_) {
            error = schemaError(XML_ERR_INTERNAL_ERROR,
                                QStringLiteral("the schema \"%1\" nests elements more than %2 "
                                               "deep, the limit for a schema")
                                    .arg(shown)
                                    .arg(kMaxSchemaDepth),
                                shown, line);
            return false;
        }
        return true;
    }

    static void onStart(void* data, const xmlChar* localname, const xmlChar*, const xmlChar* uri,
                        int, const xmlChar**, int attributeCount, int, const xmlChar** attributes) {
        auto* self = static_cast<SchemaSurvey*>(data);
        if (++self->depth_ > kMaxSchemaDepth) {
            self->tooDeep_ = true;
            xmlStopParser(self->ctxt_);
            return;
        }
        const char* wanted = nullptr;
        if (self->language_ == SchemaLanguage::XmlSchema && same(uri, kXsdNamespace) &&
            (same(localname, "include") || same(localname, "import") ||
             same(localname, "redefine") || same(localname, "override")))
            wanted = "schemaLocation";
        else if (self->language_ == SchemaLanguage::RelaxNg && same(uri, kRngNamespace) &&
                 (same(localname, "include") || same(localname, "externalRef")))
            wanted = "href";
        if (wanted == nullptr)
            return;
        for (int i = 0; i < attributeCount; ++i) {
            const xmlChar** a = attributes + 5 * i;
            if (a[2] == nullptr && same(a[0], wanted))
                self->references_.append(
                    QByteArray(chars(a[3]), static_cast<qsizetype>(a[4] - a[3])).trimmed());
        }
    }
    static void onEnd(void* data, const xmlChar*, const xmlChar*, const xmlChar*) {
        --static_cast<SchemaSurvey*>(data)->depth_;
    }

    SchemaLanguage language_;
    QSet<QByteArray> seen_;
    QList<QByteArray> references_;
    int depth_ = 0;
    bool tooDeep_ = false;
    xmlParserCtxtPtr ctxt_ = nullptr;
};

}  // namespace

struct SchemaSet::Compiled {
    SchemaLanguage language = SchemaLanguage::XmlSchema;
    xmlSchemaPtr xsd = nullptr;
    xmlRelaxNGPtr rng = nullptr;
    ParseErrorReport error;  // when neither compiled: why

    bool ok() const { return xsd != nullptr || rng != nullptr; }
    ~Compiled() {
        if (xsd != nullptr)
            xmlSchemaFree(xsd);
        if (rng != nullptr)
            xmlRelaxNGFree(rng);
    }
};

namespace {

using CompiledPtr = std::shared_ptr<SchemaSet::Compiled>;

// Compiles the schema at `address` (shown as `shown`), or the XML Schema text `wrapper` that
// imports others when it is not empty. Call with gCompileLock held.
CompiledPtr compileLocked(SchemaLanguage language, const QByteArray& address, const QString& shown,
                          const QByteArray& wrapper = QByteArray(),
                          const QList<QByteArray>& wrapped = {}) {
    auto compiled = std::make_shared<SchemaSet::Compiled>();
    compiled->language = language;
    // A capture and a budget of its own: the compiler's errors and its memory are not the
    // checked document's (hints are compiled in the middle of a document's check).
    XmlErrorCapture capture;
    capture.keepNoContexts();  // the compiler frees each context it reads a schema with
    ParserMemoryBudget budget;
    SchemaSurvey survey(language);
    bool surveyed = true;
    if (wrapper.isEmpty()) {
        surveyed = survey.survey(address, compiled->error);
    } else {
        for (const QByteArray& one : wrapped)
            if (surveyed)
                surveyed = survey.survey(one, compiled->error);
    }
    if (!surveyed)
        return compiled;
    if (!address.isEmpty())
        capture.nameUrl(address, shown);
    if (language == SchemaLanguage::XmlSchema) {
        xmlSchemaParserCtxtPtr parser =
            wrapper.isEmpty()
                ? xmlSchemaNewParserCtxt(address.constData())
                : xmlSchemaNewMemParserCtxt(wrapper.constData(), static_cast<int>(wrapper.size()));
        if (parser != nullptr) {
            compiled->xsd = xmlSchemaParse(parser);
            xmlSchemaFreeParserCtxt(parser);
        }
    } else {
        xmlRelaxNGParserCtxtPtr parser = xmlRelaxNGNewParserCtxt(address.constData());
        if (parser != nullptr) {
            compiled->rng = xmlRelaxNGParse(parser);
            xmlRelaxNGFreeParserCtxt(parser);
        }
    }
    if (budget.exceeded() ||
        (compiled->ok() && capture.hasError() && capture.report().errorCode == XML_ERR_NO_MEMORY)) {
        compiled = std::make_shared<SchemaSet::Compiled>();
        compiled->error = schemaError(
            XML_ERR_NO_MEMORY,
            QStringLiteral("the schema \"%1\" is too large to compile: it would take more than "
                           "%2 MB of memory")
                .arg(shown)
                .arg(budget.limit() >> 20),
            shown);
        return compiled;
    }
    if (!compiled->ok()) {
        if (capture.hasError())
            compiled->error = capture.report();
        else
            compiled->error =
                schemaError(XML_ERR_INTERNAL_ERROR,
                            QStringLiteral("the schema \"%1\" does not compile").arg(shown), shown);
        if (compiled->error.url.isEmpty())
            compiled->error.url = shown;
        // The place in the schema is what matters here, not the checked document's position.
        compiled->error.filepos = 0;
        compiled->error.srcText.clear();
    }
    return compiled;
}

}  // namespace

struct SchemaSet::Hints {
    mutable std::map<QByteArray, std::shared_ptr<const Compiled>> compiled;
};

SchemaSet::SchemaSet() = default;
SchemaSet::~SchemaSet() = default;

std::shared_ptr<const SchemaSet> SchemaSet::compile(SchemaLanguage language, const QString& file,
                                                    ParseErrorReport* error) {
    InitXmlChecking();
    CompiledPtr compiled;
    {
        const std::lock_guard<std::mutex> hold(gCompileLock);
        compiled = compileLocked(language, fileUrl(file), file);
    }
    if (!compiled->ok()) {
        if (error != nullptr)
            *error = compiled->error;
        return nullptr;
    }
    std::shared_ptr<SchemaSet> set(new SchemaSet);
    set->compiled_ = std::move(compiled);
    return set;
}

std::shared_ptr<const SchemaSet> SchemaSet::documentHints() {
    InitXmlChecking();
    std::shared_ptr<SchemaSet> set(new SchemaSet);
    set->hints_ = std::make_unique<Hints>();
    return set;
}

std::shared_ptr<const SchemaSet::Compiled> SchemaSet::forLocations(
    const std::vector<std::pair<QByteArray, QByteArray>>& locations) const {
    QByteArray key;
    for (const auto& [ns, address] : locations)
        key += ns + '\n' + address + '\n';
    const std::lock_guard<std::mutex> hold(gCompileLock);
    auto& slot = hints_->compiled[key];
    if (slot)
        return slot;
    if (locations.size() == 1) {
        slot = compileLocked(SchemaLanguage::XmlSchema, locations.front().second,
                             shownAddress(locations.front().second));
        return slot;
    }
    // Several: one schema that imports each namespace's schema (and includes the one without
    // a namespace).
    QByteArray wrapper = QByteArrayLiteral("<xs:schema xmlns:xs=\"") + kXsdNamespace + "\">\n";
    QList<QByteArray> addresses;
    for (const auto& [ns, address] : locations) {
        const XmlString escapedNs(xmlEncodeSpecialChars(nullptr, xml(ns.constData())));
        const XmlString escapedAddress(xmlEncodeSpecialChars(nullptr, xml(address.constData())));
        if (!escapedNs || !escapedAddress)
            throw std::bad_alloc();
        if (ns.isEmpty())
            wrapper += QByteArrayLiteral("<xs:include schemaLocation=\"") +
                       chars(escapedAddress.get()) + "\"/>\n";
        else
            wrapper += QByteArrayLiteral("<xs:import namespace=\"") + chars(escapedNs.get()) +
                       "\" schemaLocation=\"" + chars(escapedAddress.get()) + "\"/>\n";
        addresses.append(address);
    }
    wrapper += "</xs:schema>\n";
    slot = compileLocked(SchemaLanguage::XmlSchema, QByteArray(), QString(), wrapper, addresses);
    return slot;
}

QString SchemaErrorText(const ParseErrorReport& error) {
    QString reason = error.reason;
    while (reason.endsWith(QLatin1Char('\n')) || reason.endsWith(QLatin1Char('\r')))
        reason.chop(1);
    if (error.line > 0)
        return QStringLiteral("%1:%2: %3").arg(error.url).arg(error.line).arg(reason);
    return error.url.isEmpty() ? reason : QStringLiteral("%1: %2").arg(error.url, reason);
}

// ---- the schema step of one parse ---------------------------------------------------------

struct SchemaValidation::State {
    xmlParserCtxtPtr ctxt = nullptr;
    xmlSAXHandlerPtr own = nullptr;  // the parser's handler, before any plug
    QByteArray documentUrl;
    QString shown;
    const SchemaSet* set = nullptr;
    std::shared_ptr<const SchemaSet::Compiled> compiled;
    bool rootSeen = false;

    // The handlers found in the parser's handler when the step was set up.
    startElementNsSAX2Func nextStart = nullptr;
    endElementNsSAX2Func nextEnd = nullptr;
    charactersSAXFunc nextCharacters = nullptr;
    ignorableWhitespaceSAXFunc nextBlanks = nullptr;
    cdataBlockSAXFunc nextCdata = nullptr;
    internalSubsetSAXFunc nextInternalSubset = nullptr;

    // XML Schema.
    xmlSchemaValidCtxtPtr xsdContext = nullptr;
    xmlSchemaSAXPlugPtr plug = nullptr;

    // RELAX NG.
    xmlRelaxNGValidCtxtPtr rngContext = nullptr;
    xmlNodePtr rngFullNode = nullptr;  // the element checked whole, while inside it
    QByteArray text;                   // text of the current element not yet handed over
    bool rngFailed = false;
    // A general entity referred to a second time has its content copied into the tree without
    // any handler being called: the document is then checked on its tree when it ends.
    getEntitySAXFunc nextGetEntity = nullptr;
    endDocumentSAXFunc nextEndDocument = nullptr;
    QSet<const void*> entitiesSeen;
    bool rngOnTree = false;
    bool onTree = false;  // the errors are the tree's: no position in the file

    std::vector<ParseErrorReport> errors;
    int errorsKept = 1;
    bool failed = false;  // a schema error was found (maybe beyond those kept)
    int mended = 0;       // refusals of the validator found wrong (see collapsedValueIsValid)

    startDocumentSAXFunc nextStartDocument = nullptr;
    bool installed = false;
    // Installs the handlers of the step and, for an XML Schema, the validator's plug.
    void install();

    static void onStartDocument(void* context) {
        State* state = of(context);
        startDocumentSAXFunc next =
            state != nullptr ? state->nextStartDocument : xmlSAX2StartDocument;
        if (next != nullptr)
            next(context);
        if (state == nullptr || state->installed)
            return;
        try {
            state->install();
        } catch (...) {
            state->installFailed = true;
            xmlStopParser(state->ctxt);
        }
    }
    bool installFailed = false;
    bool entitiesHooked = false;  // getEntity is this step's for the XML Schema

    // The step of the parse that `context` belongs to (the document's parser context, or one
    // that reads an entity's text for it), or null.
    static State* of(void* context) {
        const ParsePipeline* pipeline = ParsePipeline::of(context);
        return pipeline != nullptr && pipeline->schema != nullptr ? pipeline->schema->state()
                                                                  : nullptr;
    }

    void record(int code, const QString& reason, int line) {
        failed = true;
        if (static_cast<int>(errors.size()) >= errorsKept)
            return;
        ParseErrorReport& report = errors.emplace_back();
        report.errorCode = code;
        report.reason = ReasonText(reason);
        report.url = shown;
        const xmlParserInput* in = onTree ? nullptr : ctxt->input;
        report.line = line > 0 ? line : (in != nullptr ? in->line : 0);
        if (in != nullptr) {
            report.linepos = in->col;
            report.filepos = clamp32(xmlByteConsumed(ctxt));
            if (in->base != nullptr && in->cur != nullptr && in->end != nullptr &&
                in->cur >= in->base && in->cur <= in->end)
                report.srcText = SourceLineAround(in->base, in->cur, in->end, in->consumed > 0);
        }
    }

    static void onError(void* data, libxml::ErrorArg error) {
        if (error == nullptr || error->level < XML_ERR_ERROR)
            return;
        if (static_cast<State*>(data)->xsdContext != nullptr && collapsedValueIsValid(error)) {
            ++static_cast<State*>(data)->mended;
            return;
        }
        int line = error->line;
        // Nodes copied from an entity have no line: the element that holds the reference has.
        for (auto* node = static_cast<xmlNodePtr>(error->node);
             line <= 0 && node != nullptr && node->type == XML_ELEMENT_NODE; node = node->parent)
            line = static_cast<int>(xmlGetLineNo(node));
        try {
            static_cast<State*>(data)->record(error->code, QString::fromUtf8(error->message), line);
        } catch (...) {
        }
    }

    // The validator of libxml2 2.9 takes the blanks around the value of some built-in types
    // (int, long, short, byte and their unsigned kin, date and time types) for part of it,
    // though these types collapse blanks before their value is read: "<id> 7 </id>" for an
    // xs:int is refused. True when the refusal is such a one: the value, its blanks around it
    // removed, is valid for the built-in type the message names.
    static bool collapsedValueIsValid(const xmlError* error) {
        if (error->code != XML_SCHEMAV_CVC_DATATYPE_VALID_1_2_1 || error->message == nullptr)
            return false;
        const QByteArray message(error->message);
        const QByteArray middle = "' is not a valid value of the atomic type 'xs:";
        const qsizetype at = message.lastIndexOf(middle);
        // "Element 'e'[, attribute 'a']: 'VALUE' is not a valid value ..."
        const qsizetype open = message.indexOf("': '");
        if (at < 0 || open < 0 || open + 4 > at)
            return false;
        const QByteArray value = message.mid(open + 4, at - open - 4);
        const qsizetype nameStart = at + middle.size();
        const qsizetype nameEnd = message.indexOf('\'', nameStart);
        if (nameEnd < 0)
            return false;
        const QByteArray typeName = message.mid(nameStart, nameEnd - nameStart);
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        qsizetype first = 0;
        qsizetype last = value.size();
        while (first < last && blank(value[first]))
            ++first;
        while (last > first && blank(value[last - 1]))
            --last;
        if ((first == 0 && last == value.size()) || typeName == "string" ||
            typeName == "normalizedString" || typeName == "anySimpleType")
            return false;
        xmlSchemaTypePtr type =
            xmlSchemaGetPredefinedType(xml(typeName.constData()), xml(kXsdNamespace));
        const QByteArray collapsed = value.mid(first, last - first);
        return type != nullptr &&
               xmlSchemaValidatePredefinedType(type, xml(collapsed.constData()), nullptr) == 0;
    }

    static int locate(void* data, const char** file, unsigned long* line) {
        const auto* state = static_cast<State*>(data);
        const xmlParserInput* in = state->ctxt->input;
        *file = in != nullptr && in->filename != nullptr ? in->filename
                                                         : state->documentUrl.constData();
        *line = in != nullptr && in->line > 0 ? static_cast<unsigned long>(in->line) : 0;
        return 0;
    }

    void plugXsd() {
        xsdContext = xmlSchemaNewValidCtxt(compiled->xsd);
        if (xsdContext == nullptr)
            throw std::bad_alloc();
        xmlSchemaSetValidStructuredErrors(xsdContext, &State::onError, this);
        xmlSchemaValidateSetLocator(xsdContext, &State::locate, this);
        xmlSchemaValidateSetFilename(xsdContext, documentUrl.constData());
        plug = xmlSchemaSAXPlug(xsdContext, &ctxt->sax, &ctxt->userData);
        if (plug == nullptr)
            throw std::bad_alloc();
    }

    void startRng() {
        rngContext = xmlRelaxNGNewValidCtxt(compiled->rng);
        if (rngContext == nullptr)
            throw std::bad_alloc();
        xmlRelaxNGSetValidStructuredErrors(rngContext, &State::onError, this);
    }

    // Starts the schema that the root element names, when checking by the documents' hints.
    void startFromHints(int attributeCount, const xmlChar** attributes);

    void flushText() {
        if (text.isEmpty() || rngContext == nullptr)
            return;
        if (rngFullNode == nullptr &&
            xmlRelaxNGValidatePushCData(rngContext, xml(text.constData()),
                                        static_cast<int>(text.size())) != 1)
            rngFailed = true;
        text.clear();
    }

    static void onStart(void* context, const xmlChar* localname, const xmlChar* prefix,
                        const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                        int attributeCount, int defaulted, const xmlChar** attributes) {
        State* state = of(context);
        if (state == nullptr) {
            xmlSAX2StartElementNs(context, localname, prefix, uri, namespaceCount, namespaces,
                                  attributeCount, defaulted, attributes);
            return;
        }
        if (!state->rootSeen) {
            state->rootSeen = true;
            if (state->set->usesHints()) {
                try {
                    state->startFromHints(attributeCount, attributes);
                } catch (...) {
                    xmlStopParser(state->ctxt);
                }
                if (state->plug != nullptr) {
                    // The validator must see the root too: hand the event over to the plug,
                    // which calls this handler again for the parser's own part.
                    state->ctxt->sax->startElementNs(state->ctxt->userData, localname, prefix, uri,
                                                     namespaceCount, namespaces, attributeCount,
                                                     defaulted, attributes);
                    return;
                }
            }
        }
        if (state->rngContext != nullptr)
            state->flushText();
        if (state->nextStart != nullptr)
            state->nextStart(context, localname, prefix, uri, namespaceCount, namespaces,
                             attributeCount, defaulted, attributes);
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        if (state->rngContext == nullptr || state->rngFullNode != nullptr ||
            ctxt->node == nullptr || ctxt->disableSAX != 0)
            return;
        const int pushed =
            xmlRelaxNGValidatePushElement(state->rngContext, ctxt->myDoc, ctxt->node);
        if (pushed == 0)
            state->rngFullNode = ctxt->node;  // needs the whole element: checked at its end
        else if (pushed != 1)
            state->rngFailed = true;
    }

    static void onEnd(void* context, const xmlChar* localname, const xmlChar* prefix,
                      const xmlChar* uri) {
        State* state = of(context);
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        if (state != nullptr && state->rngContext != nullptr && ctxt->disableSAX == 0) {
            // Before the parser's own handler, while the element and its content are there.
            state->flushText();
            xmlNodePtr node = ctxt->node;
            if (node != nullptr && state->rngFullNode == node) {
                if (xmlRelaxNGValidateFullElement(state->rngContext, ctxt->myDoc, node) != 1)
                    state->rngFailed = true;
                state->rngFullNode = nullptr;
            } else if (node != nullptr && state->rngFullNode == nullptr) {
                if (xmlRelaxNGValidatePopElement(state->rngContext, ctxt->myDoc, node) != 1)
                    state->rngFailed = true;
            }
        }
        endElementNsSAX2Func next = state != nullptr ? state->nextEnd : xmlSAX2EndElementNs;
        if (next != nullptr)
            next(context, localname, prefix, uri);
    }

    void takeText(const xmlChar* chunk, int length) {
        if (rngContext != nullptr && rngFullNode == nullptr && length > 0)
            text.append(chars(chunk), length);
    }

    static void onCharacters(void* context, const xmlChar* chunk, int length) {
        State* state = of(context);
        if (state != nullptr)
            state->takeText(chunk, length);
        charactersSAXFunc next = state != nullptr ? state->nextCharacters : xmlSAX2Characters;
        if (next != nullptr)
            next(context, chunk, length);
    }
    static void onBlanks(void* context, const xmlChar* chunk, int length) {
        State* state = of(context);
        if (state != nullptr)
            state->takeText(chunk, length);
        ignorableWhitespaceSAXFunc next =
            state != nullptr ? state->nextBlanks : xmlSAX2IgnorableWhitespace;
        if (next != nullptr)
            next(context, chunk, length);
    }
    static void onCdata(void* context, const xmlChar* chunk, int length) {
        State* state = of(context);
        if (state != nullptr)
            state->takeText(chunk, length);
        cdataBlockSAXFunc next = state != nullptr ? state->nextCdata : xmlSAX2CDataBlock;
        if (next != nullptr)
            next(context, chunk, length);
    }

    // A handler that the DOCTYPE's handler sets in the parser's current handler (the blanks
    // between elements kept as text from the DOCTYPE on) is meant for the parser's own part:
    // with the XML Schema plug in place the current handler is the plug's, and with RELAX NG
    // the blanks pass through this step first. The new handler is moved behind them.
    static void onInternalSubset(void* context, const xmlChar* name, const xmlChar* externalId,
                                 const xmlChar* systemId) {
        State* state = of(context);
        internalSubsetSAXFunc next =
            state != nullptr ? state->nextInternalSubset : xmlSAX2InternalSubset;
        if (state == nullptr) {
            next(context, name, externalId, systemId);
            return;
        }
        xmlSAXHandlerPtr handler = state->ctxt->sax;
        const ignorableWhitespaceSAXFunc before = handler->ignorableWhitespace;
        if (next != nullptr)
            next(context, name, externalId, systemId);
        if (state->ctxt->sax != handler || handler->ignorableWhitespace == before)
            return;
        ignorableWhitespaceSAXFunc after = handler->ignorableWhitespace;
        handler->ignorableWhitespace = before;
        // Blanks sent where the text goes: behind this step, that is where the text goes on to.
        if (after == handler->characters)
            after = state->rngContext != nullptr ? state->nextCharacters : state->own->characters;
        if (state->rngContext != nullptr)
            state->nextBlanks = after;
        else
            state->own->ignorableWhitespace = after;
    }

    static xmlEntityPtr onGetEntity(void* context, const xmlChar* name) {
        State* state = of(context);
        getEntitySAXFunc next = state != nullptr ? state->nextGetEntity : xmlSAX2GetEntity;
        xmlEntityPtr entity = next != nullptr ? next(context, name) : nullptr;
        if (state != nullptr && state->xsdContext != nullptr && entity != nullptr)
            libxml::ParseEntityAgain(entity);
        if (state != nullptr && entity != nullptr &&
            (entity->etype == XML_INTERNAL_GENERAL_ENTITY ||
             entity->etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY)) {
            const qsizetype before = state->entitiesSeen.size();
            state->entitiesSeen.insert(entity);
            if (state->entitiesSeen.size() == before)
                state->rngOnTree = true;
        }
        return entity;
    }

    static void onEndDocument(void* context) {
        State* state = of(context);
        endDocumentSAXFunc next = state != nullptr ? state->nextEndDocument : xmlSAX2EndDocument;
        if (next != nullptr)
            next(context);
        if (state == nullptr || !state->rngOnTree || state->rngContext == nullptr)
            return;
        xmlDocPtr doc = static_cast<xmlParserCtxtPtr>(context)->myDoc;
        if (doc == nullptr || static_cast<xmlParserCtxtPtr>(context)->wellFormed == 0)
            return;
        // The tree holds the whole document: its verdict replaces the stream's.
        xmlRelaxNGValidCtxtPtr whole = xmlRelaxNGNewValidCtxt(state->compiled->rng);
        if (whole == nullptr)
            return;
        state->errors.clear();
        state->failed = false;
        state->onTree = true;
        xmlRelaxNGSetValidStructuredErrors(whole, &State::onError, state);
        state->rngFailed = xmlRelaxNGValidateDoc(whole, doc) != 0;
        xmlRelaxNGFreeValidCtxt(whole);
    }

    void finishRng() {
        if (rngContext == nullptr)
            return;
        if (rngFailed && !failed)
            record(XML_SCHEMAV_INTERNAL,
                   QStringLiteral("The document is not valid against the RELAX NG schema"), 0);
    }

    ~State() {
        if (plug != nullptr) {
            xmlSchemaSAXUnplug(plug);
            // A parse that stopped inside elements leaves their identity-constraint matchers
            // behind, and the validator's clean-up frees its pool of matchers before it returns
            // those to it: a second, empty run through the plug frees them.
            if (ctxt != nullptr && (ctxt->wellFormed == 0 || ctxt->disableSAX != 0)) {
                xmlSAXHandler none{};
                none.initialized = XML_SAX2_MAGIC;
                xmlSAXHandlerPtr handler = &none;
                void* data = nullptr;
                if (xmlSchemaSAXPlugPtr again = xmlSchemaSAXPlug(xsdContext, &handler, &data))
                    xmlSchemaSAXUnplug(again);
            }
        }
        // The parser's handler as it was (a context may be used for more than one parse).
        if (own != nullptr && ctxt != nullptr && ctxt->sax == own) {
            own->startDocument = nextStartDocument;
        }
        if (installed && own != nullptr && ctxt != nullptr && ctxt->sax == own) {
            own->startElementNs = nextStart;
            own->internalSubset = nextInternalSubset;
            if (entitiesHooked)
                own->getEntity = nextGetEntity;
            if (rngContext != nullptr) {
                own->endElementNs = nextEnd;
                own->characters = nextCharacters;
                own->ignorableWhitespace = nextBlanks;
                own->cdataBlock = nextCdata;
                own->getEntity = nextGetEntity;
                own->endDocument = nextEndDocument;
            }
        }
        if (xsdContext != nullptr)
            xmlSchemaFreeValidCtxt(xsdContext);
        if (rngContext != nullptr)
            xmlRelaxNGFreeValidCtxt(rngContext);
    }
};

void SchemaValidation::State::startFromHints(int attributeCount, const xmlChar** attributes) {
    std::vector<std::pair<QByteArray, QByteArray>> named;  // namespace, location as written
    for (int i = 0; i < attributeCount; ++i) {
        const xmlChar** a = attributes + 5 * i;
        if (!same(a[2], kXsiNamespace))
            continue;
        const QByteArray value =
            QByteArray(chars(a[3]), static_cast<qsizetype>(a[4] - a[3])).simplified();
        if (same(a[0], "schemaLocation")) {
            const QList<QByteArray> parts = value.split(' ');
            for (qsizetype p = 0; p + 1 < parts.size(); p += 2)
                named.emplace_back(parts[p], parts[p + 1]);
            if (parts.size() % 2 != 0 && !value.isEmpty())
                record(XML_SCHEMAV_CVC_DATATYPE_VALID_1_2_1,
                       QStringLiteral("xsi:schemaLocation must hold pairs of a namespace and a "
                                      "location; \"%1\" has none")
                           .arg(QString::fromUtf8(parts.back())),
                       0);
        } else if (same(a[0], "noNamespaceSchemaLocation") && !value.isEmpty()) {
            named.emplace_back(QByteArray(), value);
        }
    }
    if (named.empty())
        return;
    std::vector<std::pair<QByteArray, QByteArray>> locations;
    for (const auto& [ns, location] : named) {
        // An absolute address may be in the catalog as it stands; a relative one is the
        // document's neighbour.
        const QByteArray address = throughCatalog(resolved(location, documentUrl));
        const QString why = whyNotAvailable(address);
        if (!why.isEmpty()) {
            record(localFile(address).isEmpty() ? XML_IO_NETWORK_ATTEMPT : XML_IO_LOAD_ERROR,
                   QStringLiteral("failed to load the schema \"%1\" that the document names: it "
                                  "could not be loaded offline (%2)")
                       .arg(QString::fromUtf8(location), why),
                   0);
            return;
        }
        const QByteArray& space = ns;  // (clang 14 lets no lambda capture a structured binding)
        if (std::none_of(locations.begin(), locations.end(),
                         [&space](const auto& l) { return l.first == space; }))
            locations.emplace_back(space, address);
    }
    std::sort(locations.begin(), locations.end());
    compiled = set->forLocations(locations);
    if (!compiled->ok()) {
        record(compiled->error.errorCode,
               QStringLiteral("the schema that the document names does not compile: %1")
                   .arg(SchemaErrorText(compiled->error)),
               0);
        return;
    }
    plugXsd();
}

SchemaValidation::SchemaValidation(ParsePipeline& pipeline, const SchemaSet* set, int errorsKept,
                                   const QByteArray& documentUrl, const QString& shown)
    : pipeline_(pipeline) {
    _xmlParserCtxt* context = pipeline.context();
    if (set == nullptr)
        return;
    state_ = std::make_unique<State>();
    State& s = *state_;
    s.ctxt = context;
    s.own = context->sax;
    s.documentUrl = documentUrl;
    s.shown = shown;
    s.set = set;
    s.errorsKept = std::max(1, errorsKept);
    if (!set->usesHints())
        s.compiled = std::shared_ptr<const SchemaSet::Compiled>(set->compiled(), [](auto*) {});
    // The parse resets the context and applies its options (which set handlers) before it
    // reads anything: the step's handlers go in when the document starts.
    s.nextStartDocument = s.own->startDocument;
    s.own->startDocument = &State::onStartDocument;
    pipeline_.schema = this;
}

void SchemaValidation::State::install() {
    installed = true;
    nextStart = own->startElementNs;
    nextInternalSubset = own->internalSubset;
    own->startElementNs = &State::onStart;
    own->internalSubset = &State::onInternalSubset;
    if (compiled && compiled->rng != nullptr) {
        nextEnd = own->endElementNs;
        nextCharacters = own->characters;
        nextBlanks = own->ignorableWhitespace;
        nextCdata = own->cdataBlock;
        own->endElementNs = &State::onEnd;
        own->characters = &State::onCharacters;
        own->ignorableWhitespace = &State::onBlanks;
        own->cdataBlock = &State::onCdata;
        nextGetEntity = own->getEntity;
        nextEndDocument = own->endDocument;
        own->getEntity = &State::onGetEntity;
        own->endDocument = &State::onEndDocument;
        startRng();
    }
    if (compiled && compiled->xsd != nullptr) {
        // The validator sees the elements of an entity's text only where the parser reports
        // them (before the plug copies the handler, which it does when it is plugged in).
        if constexpr (libxml::kCopiesParsedEntities) {
            nextGetEntity = own->getEntity;
            own->getEntity = &State::onGetEntity;
            entitiesHooked = true;
        }
        plugXsd();
    }
}

SchemaValidation::~SchemaValidation() {
    if (pipeline_.schema == this)
        pipeline_.schema = nullptr;
}

bool SchemaNeedsTree(const SchemaSet* set) {
    return set != nullptr && set->compiled() != nullptr && set->compiled()->rng != nullptr;
}

bool SchemaValidation::needsTree() const {
    return state_ && state_->compiled && state_->compiled->rng != nullptr;
}

bool SchemaValidation::finish(CheckResult& result) {
    if (!state_ || !result.loaded)
        return false;
    State& s = *state_;
    if (s.xsdContext != nullptr && xmlSchemaIsValid(s.xsdContext) == 0 && !s.failed &&
        s.mended == 0)
        s.record(XML_SCHEMAV_INTERNAL,
                 QStringLiteral("The document is not valid against the XML Schema"), 0);
    s.finishRng();
    if (!s.failed)
        return false;
    result.loaded = false;
    result.error = s.errors.front();
    result.laterErrors.assign(s.errors.begin() + 1, s.errors.end());
    return true;
}
