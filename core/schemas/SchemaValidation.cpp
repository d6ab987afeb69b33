// The schema step of one parse: set up before the parse, joined to the chain when the document
// starts, the schemas a document names itself, and the verdict once the parse is done.

#include "schemas/SchemaCheck.h"

#include "schemas/SchemaShared.h"

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

#include "schemas/SchemaStep.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text of a pseudo-attribute's value with its references replaced (those of the five
// predefined entities and character references); false for any other reference.
bool referencesReplaced(const QByteArray& value, QByteArray& text) {
    text.clear();
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != '&') {
            text += value[i];
            continue;
        }
        const qsizetype end = value.indexOf(';', i);
        if (end < 0)
            return false;
        const QByteArray name = value.mid(i + 1, end - i - 1);
        static const std::pair<const char*, char> kPredefined[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
        const auto known = std::find_if(std::begin(kPredefined), std::end(kPredefined),
                                        [&name](const auto& p) { return name == p.first; });
        if (known != std::end(kPredefined)) {
            text += known->second;
        } else if (name.startsWith('#') && name.size() > 1) {
            bool ok = false;
            const uint code =
                name[1] == 'x' ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok);
            if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                return false;
            const char32_t one = code;
            text += QString::fromUcs4(&one, 1).toUtf8();
        } else {
            return false;
        }
        i = end;
    }
    return true;
}

// The pseudo-attributes of a processing instruction's data (name="value" or name='value',
// separated by blanks); false when the data is not made of them.
bool pseudoAttributes(const QByteArray& data, std::map<QByteArray, QByteArray>& found) {
    qsizetype i = 0;
    const qsizetype n = data.size();
    while (true) {
        while (i < n && isBlank(data[i]))
            ++i;
        if (i == n)
            return true;
        const qsizetype nameStart = i;
        while (i < n && !isBlank(data[i]) && data[i] != '=')
            ++i;
        const QByteArray name = data.mid(nameStart, i - nameStart);
        while (i < n && isBlank(data[i]))
            ++i;
        if (name.isEmpty() || i == n || data[i] != '=')
            return false;
        ++i;
        while (i < n && isBlank(data[i]))
            ++i;
        if (i == n || (data[i] != '"' && data[i] != '\''))
            return false;
        const char quote = data[i++];
        const qsizetype close = data.indexOf(quote, i);
        if (close < 0 || found.count(name) != 0)
            return false;
        QByteArray value;
        if (!referencesReplaced(data.mid(i, close - i), value))
            return false;
        found.emplace(name, value);
        i = close + 1;
        if (i < n && !isBlank(data[i]))
            return false;
    }
}

}  // namespace

void SchemaValidation::State::takeModel(const xmlChar* data) {
    std::map<QByteArray, QByteArray> pseudo;
    if (modelRefused || data == nullptr || !pseudoAttributes(QByteArray(chars(data)), pseudo))
        return;
    const QByteArray href = pseudo["href"].trimmed();
    const QByteArray language = pseudo["schematypens"].trimmed();
    Model model;
    if (language == kRngNamespace)
        model.relaxNg = true;
    else if (language != kXsdNamespace)
        return;  // Schematron and others: not checked here
    // Only RELAX NG's XML syntax is read.
    if (href.isEmpty() ||
        (model.relaxNg && pseudo["type"].trimmed() == "application/relax-ng-compact-syntax"))
        return;
    model.address = throughCatalog(resolved(href, documentUrl));
    const QString why = whyNotAvailable(model.address);
    if (!why.isEmpty()) {
        record(localFile(model.address).isEmpty() ? XML_IO_NETWORK_ATTEMPT : XML_IO_LOAD_ERROR,
               QStringLiteral("failed to load the schema \"%1\" that the document names: it "
                              "could not be loaded offline (%2)")
                   .arg(QString::fromUtf8(href), why),
               0);
        modelRefused = true;
        return;
    }
    models.push_back(model);
}

void SchemaValidation::State::startFromHints(int attributeCount, const xmlChar** attributes) {
    if (modelRefused)
        return;
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
    if (named.empty() && models.empty())
        return;
    std::vector<std::pair<QByteArray, QByteArray>> locations;
    // The XML Schemas of xml-model instructions go in by their target namespace, each one
    // named, even where two share a namespace; an xsi hint for a namespace already there is
    // left out.
    for (const Model& model : models) {
        if (model.relaxNg)
            continue;
        std::pair<QByteArray, QByteArray> location(set->targetNamespaceOf(model.address),
                                                   model.address);
        if (std::find(locations.begin(), locations.end(), location) == locations.end())
            locations.push_back(std::move(location));
    }
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
    // RELAX NG first, so that the XML Schema's plug, set in after it, sees each event first
    // and hands it on to its handlers. One RELAX NG schema is checked: the first named.
    const auto firstRng = std::find_if(models.begin(), models.end(),
                                       [](const Model& model) { return model.relaxNg; });
    if (firstRng != models.end()) {
        std::shared_ptr<const SchemaSet::Compiled> schema = set->forRelaxNg(firstRng->address);
        if (!schema->ok()) {
            record(schema->error.errorCode,
                   QStringLiteral("the schema that the document names does not compile: %1")
                       .arg(SchemaErrorText(schema->error)),
                   0);
            return;
        }
        relaxNg = std::move(schema);
        // RELAX NG reads the tree from the root element on: none of it may be freed.
        if (ParsePipeline* pipeline = ParsePipeline::of(ctxt);
            pipeline != nullptr && pipeline->finished != nullptr)
            pipeline->finished->keepWholeTree();
        installRelaxNg();
    }
    if (locations.empty())
        return;
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
    if (!set->usesHints()) {
        s.compiled = std::shared_ptr<const SchemaSet::Compiled>(set->compiled(), [](auto*) {});
        if (s.compiled->rng != nullptr)
            s.relaxNg = s.compiled;
    }
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
    if (set->usesHints()) {
        nextInstruction = own->processingInstruction;
        own->processingInstruction = &State::onInstruction;
        instructionHooked = true;
    }
    if (relaxNg)
        installRelaxNg();
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

void SchemaValidation::State::installRelaxNg() {
    // The parser's current handler is its own: with hints the XML Schema's plug goes in after.
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
    rngHooked = true;
    startRng();
}

SchemaValidation::~SchemaValidation() {
    if (pipeline_.schema == this)
        pipeline_.schema = nullptr;
}

bool SchemaNeedsTree(const SchemaSet* set) {
    return set != nullptr && set->compiled() != nullptr && set->compiled()->rng != nullptr;
}

bool SchemaValidation::needsTree() const {
    return state_ && state_->relaxNg != nullptr;
}

bool SchemaValidation::finish(CheckResult& result) {
    if (!state_ || !result.loaded)
        return false;
    State& s = *state_;
    if (s.xsdContext != nullptr && xmlSchemaIsValid(s.xsdContext) == 0 && !s.failed)
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
