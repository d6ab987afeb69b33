#pragma once
// Inside the schema checks only: the state and the handlers of the schema step of one parse
// (see SchemaValidation in SchemaCheck.h).

#include <libxml/SAX2.h>
#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/relaxng.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <sys/stat.h>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <map>
#include <mutex>
#include "files/PathUtil.h"
#include "parse/FinishedSubtrees.h"
#include "parse/InputFile.h"
#include "parse/Libxml.h"
#include "parse/ParsePipeline.h"
#include "parse/ParserMemory.h"
#include "parse/ParserSetup.h"
#include "parse/XmlErrorCapture.h"
#include "parse/XmlString.h"
#include "schemas/SchemaShared.h"

using namespace schemas;

struct SchemaValidation::State {
    xmlParserCtxtPtr ctxt = nullptr;
    xmlSAXHandlerPtr own = nullptr;  // the parser's handler, before any plug
    QByteArray documentUrl;
    QString shown;
    const SchemaSet* set = nullptr;
    std::shared_ptr<const SchemaSet::Compiled> compiled;  // the XML Schema, or the one schema
    std::shared_ptr<const SchemaSet::Compiled> relaxNg;   // the RELAX NG schema
    bool rootSeen = false;

    // With hints: the schemas that the xml-model processing instructions before the root
    // element name (their addresses, after the catalog), and whether one of them could not
    // be had (no schema is checked then: the document names what it is to be checked with).
    struct Model {
        QByteArray address;
        bool relaxNg = false;
    };
    std::vector<Model> models;
    bool modelRefused = false;
    processingInstructionSAXFunc nextInstruction = nullptr;
    bool instructionHooked = false;

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
    bool rngHooked = false;            // the handlers below are the step's
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

    startDocumentSAXFunc nextStartDocument = nullptr;
    bool installed = false;
    // Installs the handlers of the step and, for an XML Schema, the validator's plug.
    void install();
    // Installs the handlers RELAX NG needs and starts its validation (when the document
    // starts, or at the root element when the document names the schema).
    void installRelaxNg();

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
        // An error about an earlier element (an identity constraint checked at the end of its
        // scope) has its line only: the parser's place is elsewhere.
        if (in != nullptr && (line <= 0 || line == in->line)) {
            report.linepos = ShownColumn(in->col);
            report.filepos = clamp32(xmlByteConsumed(ctxt));
            if (in->base != nullptr && in->cur != nullptr && in->end != nullptr &&
                in->cur >= in->base && in->cur <= in->end)
                report.srcText = SourceLineAround(in->base, in->cur, in->end, in->consumed > 0);
        }
    }

    static void onError(void* data, libxml::ErrorArg error) {
        if (error == nullptr || error->level < XML_ERR_ERROR)
            return;
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
        libxml::AttachSchemaParser(xsdContext, ctxt);
    }

    void startRng() {
        rngContext = xmlRelaxNGNewValidCtxt(relaxNg->rng);
        if (rngContext == nullptr)
            throw std::bad_alloc();
        xmlRelaxNGSetValidStructuredErrors(rngContext, &State::onError, this);
    }

    // Starts the schemas that the document names, when checking by the documents' hints, at
    // its root element.
    void startFromHints(int attributeCount, const xmlChar** attributes);
    // An xml-model processing instruction before the root element: its schema, when it is
    // one of this step's languages.
    void takeModel(const xmlChar* data);

    static void onInstruction(void* context, const xmlChar* target, const xmlChar* data) {
        State* state = of(context);
        processingInstructionSAXFunc next =
            state != nullptr ? state->nextInstruction : xmlSAX2ProcessingInstruction;
        // Those of the prolog only: not of the DTD, not of an entity's text, not after the
        // root element started.
        if (state != nullptr && !state->rootSeen && context == state->ctxt &&
            state->ctxt->inSubset == 0 && same(target, "xml-model")) {
            if (ParsePipeline* pipeline = ParsePipeline::of(context))
                pipeline->guard([&] { state->takeModel(data); });
        }
        if (next != nullptr)
            next(context, target, data);
    }

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
        xmlRelaxNGValidCtxtPtr whole = xmlRelaxNGNewValidCtxt(state->relaxNg->rng);
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
        libxml::AttachSchemaParser(xsdContext, nullptr);
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
            if (instructionHooked)
                own->processingInstruction = nextInstruction;
            if (rngHooked) {
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
