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
