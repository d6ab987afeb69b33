// Schemas: compiling them once (after a look through every file they include, so that a
// hostile schema is refused with a clear reason before the compiler meets it), and checking a
// document against one in the same parse: XML Schema through the validator's SAX plug,
// RELAX NG through its push interface, fed from chained SAX callbacks.

#include "schemas/SchemaCheck.h"

#include "files/PathUtil.h"
#include "parse/InputFile.h"
#include "parse/Libxml.h"
#include "parse/LoadedFiles.h"
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
#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <mutex>

#include "schemas/SchemaShared.h"

using namespace schemas;

namespace schemas {

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
    const QByteArray found = CatalogUriLookup(address);
    return found.isEmpty() ? address : found;
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

}  // namespace schemas

namespace {

// Limits for one schema and everything it includes. The compiler descends recursively into
// nested definitions, so the nesting is bounded well below what would exhaust a thread's
// stack; real schemas nest a few dozen levels.
constexpr int kMaxSchemaDepth = 1000;
constexpr qint64 kMaxSchemaFileBytes = qint64{64} << 20;
constexpr int kMaxSchemaFiles = 10000;

// The compiler's type tables are set up on first use and are not guarded: compilations run
// one at a time.
std::mutex gCompileLock;

constexpr std::chrono::milliseconds kCompileTimeLimit{10000};
std::atomic<long long> gCompileTimeLimit{0};  // milliseconds, 0: kCompileTimeLimit

std::chrono::milliseconds compileTimeLimit() {
    const long long chosen = gCompileTimeLimit.load();
    return chosen > 0 ? std::chrono::milliseconds(chosen) : kCompileTimeLimit;
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
        largeGroup_ = false;
        groups_.clear();
        ctxt_ = ctxt;
        // Its errors are the compiler's to report, with the compiler's words.
        XmlErrorCapture quiet;
        quiet.keepNoContexts();
        xmlParseDocument(ctxt);
        const int line = ctxt->input != nullptr ? ctxt->input->line : 0;
        ctxt_ = nullptr;
        xmlFreeParserCtxt(ctxt);
        if (largeGroup_) {
            error = schemaError(XML_ERR_INTERNAL_ERROR,
                                QStringLiteral("the schema \"%1\" has a model group of more "
                                               "than %2 particles, the limit for a schema")
                                    .arg(shown)
                                    .arg(SchemaSet::kMaxModelGroupParticles),
                                shown, largeGroupLine_);
            return false;
        }
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
        if (self->language_ == SchemaLanguage::XmlSchema) {
            // Particles of the innermost choice, sequence or all (-1: not inside one).
            const bool inXsd = same(uri, kXsdNamespace);
            if (!self->groups_.empty() && self->groups_.back() >= 0 && inXsd &&
                (same(localname, "element") || same(localname, "group") ||
                 same(localname, "choice") || same(localname, "sequence") ||
                 same(localname, "any")) &&
                ++self->groups_.back() > SchemaSet::kMaxModelGroupParticles) {
                self->largeGroup_ = true;
                self->largeGroupLine_ =
                    self->ctxt_->input != nullptr ? self->ctxt_->input->line : 0;
                xmlStopParser(self->ctxt_);
                return;
            }
            self->groups_.push_back(inXsd && (same(localname, "choice") ||
                                              same(localname, "sequence") || same(localname, "all"))
                                        ? 0
                                        : -1);
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
        auto* self = static_cast<SchemaSurvey*>(data);
        --self->depth_;
        if (!self->groups_.empty())
            self->groups_.pop_back();
    }

    SchemaLanguage language_;
    QSet<QByteArray> seen_;
    QList<QByteArray> references_;
    int depth_ = 0;
    bool tooDeep_ = false;
    std::vector<int> groups_;
    bool largeGroup_ = false;
    int largeGroupLine_ = 0;
    xmlParserCtxtPtr ctxt_ = nullptr;
};

}  // namespace

namespace {

using CompiledPtr = std::shared_ptr<SchemaSet::Compiled>;

// Compiles the schema at `address` (shown as `shown`), or the XML Schema text `wrapper` that
// imports others when it is not empty. Call with gCompileLock held.
// `wrapped` holds the address of each schema document the wrapper names, and the name its
// errors are shown by (empty: the address as the compiler has it).
CompiledPtr compileLocked(SchemaLanguage language, const QByteArray& address, const QString& shown,
                          const QByteArray& wrapper = QByteArray(),
                          const std::vector<std::pair<QByteArray, QString>>& wrapped = {}) {
    auto compiled = std::make_shared<SchemaSet::Compiled>();
    compiled->language = language;
    libxml::CollapseBuiltInValues();
    // A capture and a budget of its own: the compiler's errors and its memory are not the
    // checked document's (hints are compiled in the middle of a document's check).
    XmlErrorCapture capture;
    capture.keepNoContexts();  // the compiler frees each context it reads a schema with
    ParserMemoryBudget budget;
    const std::chrono::milliseconds timeLimit = compileTimeLimit();
    budget.refuseFrom(std::chrono::steady_clock::now() + timeLimit);
    SchemaSurvey survey(language);
    bool surveyed = true;
    if (wrapper.isEmpty()) {
        surveyed = survey.survey(address, compiled->error);
    } else {
        for (const auto& one : wrapped)
            if (surveyed)
                surveyed = survey.survey(one.first, compiled->error);
    }
    if (!surveyed)
        return compiled;
    if (!address.isEmpty())
        capture.nameUrl(address, shown);
    for (const auto& [one, name] : wrapped)
        if (!name.isEmpty())
            capture.nameUrl(one, name);
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
    if (budget.timedOut()) {
        compiled = std::make_shared<SchemaSet::Compiled>();
        compiled->error = schemaError(
            XML_ERR_INTERNAL_ERROR,
            QStringLiteral("the schema \"%1\" was stopped: it did not compile within %2 s")
                .arg(shown)
                .arg(static_cast<double>(timeLimit.count()) / 1000.0),
            shown);
        return compiled;
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
    // An external entity of a schema document that could not be loaded (remote, missing, not a
    // regular file) leaves out what it holds, facets and declarations: such a schema is refused.
    if (compiled->ok() && capture.hasError() &&
        (capture.report().errorCode == XML_IO_LOAD_ERROR ||
         capture.report().errorCode == XML_IO_NETWORK_ATTEMPT)) {
        compiled = std::make_shared<SchemaSet::Compiled>();
        compiled->language = language;
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

// The targetNamespace of the schema document at `address`, read from its root element; empty
// when it has none. False when the document cannot be opened.
bool readTargetNamespace(const QByteArray& address, QByteArray& space) {
    space.clear();
    const QString file = localFile(throughCatalog(address));
    InputFile input;
    if (file.isEmpty() || !input.open(PathBytes(file)))
        return false;
    struct Root {
        QByteArray* space;
        xmlParserCtxtPtr ctxt = nullptr;
    } root{&space};
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = [](void* data, const xmlChar*, const xmlChar*, const xmlChar*, int,
                            const xmlChar**, int attributeCount, int, const xmlChar** attributes) {
        auto* self = static_cast<Root*>(data);
        for (int i = 0; i < attributeCount; ++i) {
            const xmlChar** a = attributes + 5 * i;
            if (a[2] == nullptr && same(a[0], "targetNamespace"))
                *self->space = QByteArray(chars(a[3]), static_cast<qsizetype>(a[4] - a[3]));
        }
        xmlStopParser(self->ctxt);
    };
    xmlParserCtxtPtr ctxt =
        xmlCreateIOParserCtxt(&sax, &root, ReadInputFile, nullptr, static_cast<ByteSource*>(&input),
                              XML_CHAR_ENCODING_NONE);
    if (ctxt == nullptr)
        throw std::bad_alloc();
    xmlCtxtUseOptions(ctxt, libxml::ParseOptions());
    root.ctxt = ctxt;
    // A document that does not parse is the compiler's to report.
    XmlErrorCapture quiet;
    quiet.keepNoContexts();
    xmlParseDocument(ctxt);
    xmlFreeParserCtxt(ctxt);
    return true;
}

// One XML Schema made of several schema documents, given as (targetNamespace, address) pairs:
// a schema document that includes the documents of its own namespace and imports the others,
// as a document's several schemaLocation hints are taken together. A namespace is imported
// once (the compiler skips a second import of it), so the documents of one namespace, at most,
// may be several: they are included by a wrapper of that namespace. Empty, with `error` set,
// when two namespaces have several documents each.
QByteArray schemaWrapper(const std::vector<std::pair<QByteArray, QByteArray>>& documents,
                         const std::vector<QString>& shown, ParseErrorReport& error) {
    std::map<QByteArray, std::vector<std::size_t>> byNamespace;
    for (std::size_t i = 0; i < documents.size(); ++i)
        byNamespace[documents[i].first].push_back(i);
    const QByteArray* own = nullptr;  // the namespace that has several documents
    for (const auto& [space, indexes] : byNamespace) {
        if (indexes.size() < 2)
            continue;
        if (own == nullptr) {
            own = &space;
            continue;
        }
        const auto name = [&](std::size_t i) {
            return i < shown.size() ? shown[i] : shownAddress(documents[i].second);
        };
        const std::vector<std::size_t>& first = byNamespace[*own];
        error = schemaError(
            XML_SCHEMAP_SRC_IMPORT,
            QStringLiteral("\"%1\" and \"%2\" have the same target namespace \"%3\", and "
                           "\"%4\" and \"%5\" have the same target namespace \"%6\": the "
                           "documents of one namespace at most can be joined into one schema")
                .arg(name(first[0]), name(first[1]), QString::fromUtf8(*own), name(indexes[0]),
                     name(indexes[1]), QString::fromUtf8(space)),
            name(indexes[1]));
        return {};
    }
    const bool ownNamespace = own != nullptr && !own->isEmpty();
    QByteArray wrapper = QByteArrayLiteral("<xs:schema xmlns:xs=\"") + kXsdNamespace + "\"";
    const auto escaped = [](const QByteArray& text) {
        const XmlString done(xmlEncodeSpecialChars(nullptr, xml(text.constData())));
        if (!done)
            throw std::bad_alloc();
        return QByteArray(chars(done.get()));
    };
    if (ownNamespace)
        wrapper += " targetNamespace=\"" + escaped(*own) + "\"";
    wrapper += ">\n";
    for (const auto& [space, address] : documents) {
        // Without a namespace of its own, the wrapper includes the documents without one.
        if (space == (ownNamespace ? *own : QByteArray()))
            wrapper += "<xs:include schemaLocation=\"" + escaped(address) + "\"/>\n";
        else if (space.isEmpty())
            wrapper += "<xs:import schemaLocation=\"" + escaped(address) + "\"/>\n";
        else
            wrapper += "<xs:import namespace=\"" + escaped(space) + "\" schemaLocation=\"" +
                       escaped(address) + "\"/>\n";
    }
    wrapper += "</xs:schema>\n";
    return wrapper;
}

// The schema made of `documents` (see schemaWrapper). Call with gCompileLock held.
CompiledPtr compileWrappedLocked(const std::vector<std::pair<QByteArray, QByteArray>>& documents,
                                 const std::vector<QString>& shown) {
    auto failed = std::make_shared<SchemaSet::Compiled>();
    const QByteArray wrapper = schemaWrapper(documents, shown, failed->error);
    if (wrapper.isEmpty())
        return failed;
    std::vector<std::pair<QByteArray, QString>> wrapped;
    for (std::size_t i = 0; i < documents.size(); ++i)
        wrapped.emplace_back(documents[i].second, i < shown.size() ? shown[i] : QString());
    QStringList names;
    for (const auto& [address, name] : wrapped)
        names.append(name.isEmpty() ? shownAddress(address) : name);
    return compileLocked(SchemaLanguage::XmlSchema, QByteArray(), names.join(QStringLiteral(", ")),
                         wrapper, wrapped);
}

}  // namespace

struct SchemaSet::Hints {
    mutable std::map<QByteArray, std::shared_ptr<const Compiled>> compiled;
    mutable std::map<QByteArray, std::shared_ptr<const Compiled>> relaxNg;
    mutable std::mutex namespacesLock;
    mutable std::map<QByteArray, QByteArray> namespaces;
};

SchemaSet::SchemaSet() = default;
SchemaSet::~SchemaSet() = default;

std::shared_ptr<const SchemaSet> SchemaSet::compile(SchemaLanguage language, const QString& file,
                                                    ParseErrorReport* error) {
    return compile(language, QStringList{file}, error);
}

std::shared_ptr<const SchemaSet> SchemaSet::compile(SchemaLanguage language,
                                                    const QStringList& files,
                                                    ParseErrorReport* error) {
    InitXmlChecking();
    CompiledPtr compiled;
    if (files.isEmpty()) {
        compiled = std::make_shared<Compiled>();
        compiled->error =
            schemaError(XML_IO_LOAD_ERROR, QStringLiteral("no schema document was given"), {});
    } else if (language == SchemaLanguage::RelaxNg && files.size() > 1) {
        compiled = std::make_shared<Compiled>();
        compiled->error = schemaError(
            XML_IO_LOAD_ERROR,
            QStringLiteral("a RELAX NG schema is one document; %1 were given").arg(files.size()),
            files.front());
    } else if (files.size() == 1) {
        const std::lock_guard<std::mutex> hold(gCompileLock);
        compiled = compileLocked(language, fileUrl(files.front()), files.front());
    } else {
        // Each document's namespace first: the wrapper imports or includes it by that.
        std::vector<std::pair<QByteArray, QByteArray>> documents;
        std::vector<QString> shown;
        for (const QString& file : files) {
            const QByteArray address = fileUrl(file);
            QByteArray space;
            const QString why = whyNotAvailable(address);
            if (!why.isEmpty() || !readTargetNamespace(address, space)) {
                compiled = std::make_shared<Compiled>();
                compiled->error = schemaError(
                    XML_IO_LOAD_ERROR,
                    QStringLiteral("failed to load the schema \"%1\": %2")
                        .arg(file, why.isEmpty() ? QStringLiteral("it cannot be read") : why),
                    file);
                break;
            }
            documents.emplace_back(space, address);
            shown.push_back(file);
        }
        if (!compiled) {
            const std::lock_guard<std::mutex> hold(gCompileLock);
            compiled = compileWrappedLocked(documents, shown);
        }
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

void SchemaSet::setCompileTimeLimit(std::chrono::milliseconds limit) {
    gCompileTimeLimit.store(limit.count());
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
    slot = compileWrappedLocked(locations, {});
    return slot;
}

std::shared_ptr<const SchemaSet::Compiled> SchemaSet::forRelaxNg(const QByteArray& address) const {
    const std::lock_guard<std::mutex> hold(gCompileLock);
    auto& slot = hints_->relaxNg[address];
    if (!slot)
        slot = compileLocked(SchemaLanguage::RelaxNg, address, shownAddress(address));
    return slot;
}

QByteArray SchemaSet::targetNamespaceOf(const QByteArray& address) const {
    {
        const std::lock_guard<std::mutex> hold(hints_->namespacesLock);
        const auto known = hints_->namespaces.find(address);
        if (known != hints_->namespaces.end())
            return known->second;
    }
    QByteArray space;
    readTargetNamespace(address, space);
    const std::lock_guard<std::mutex> hold(hints_->namespacesLock);
    return hints_->namespaces.emplace(address, space).first->second;
}

QString SchemaErrorText(const ParseErrorReport& error) {
    QString reason = error.reason;
    while (reason.endsWith(QLatin1Char('\n')) || reason.endsWith(QLatin1Char('\r')))
        reason.chop(1);
    if (error.line > 0)
        return QStringLiteral("%1:%2: %3").arg(error.url).arg(error.line).arg(reason);
    return error.url.isEmpty() ? reason : QStringLiteral("%1: %2").arg(error.url, reason);
}
