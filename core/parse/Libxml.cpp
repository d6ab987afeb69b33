#include "parse/Libxml.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>
#include <libxml/schemasInternals.h>
#include <libxml/valid.h>
#include <libxml/xmlschemastypes.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace libxml {

namespace {

// The deepest nesting checked before 2.13, where the limit is a global the program may raise.
// The parser keeps its element stack on the heap, so the limit only bounds memory.
constexpr int kDeepDocuments = 100000;

#if LIBXML_VERSION < 21000
// xmlValidCtxt::finishDtd of a parser context whose DTD has not been checked as a whole yet
// (XML_CTXT_FINISH_DTD_0, which these releases keep to themselves).
constexpr unsigned kDtdCheckPending = 0xabcd1234;
constexpr unsigned kDtdCheckDone = 0xabcd1235;  // XML_CTXT_FINISH_DTD_1
#else
// The bit of xmlValidCtxt::flags that says the DTD was checked as a whole
// (XML_VCTXT_DTD_VALIDATED, which these releases keep to themselves).
constexpr unsigned kDtdValidated = 1u << 0;
#endif

}  // namespace

int ParseOptions() {
#if LIBXML_VERSION >= 21300
    return XML_PARSE_HUGE;
#else
    return 0;
#endif
}

int MaxElementDepth() {
    // The parser refuses an element once its limit of them is open around it.
#if LIBXML_VERSION >= 21300
    return 2048 + 1;
#else
    return kDeepDocuments + 1;
#endif
}

void AllowDeepDocuments() {
#if LIBXML_VERSION < 21300
    xmlParserMaxDepth = kDeepDocuments;
#endif
}

namespace {
// The first fields of libxml2's struct _xmlSchemaValidCtxt (xmlschemas.c), alike from 2.9.14 to
// 2.15.
struct SchemaValidatorHead {
    int type;
    void* errCtxt;
    xmlSchemaValidityErrorFunc error;
    xmlSchemaValidityWarningFunc warning;
    xmlStructuredErrorFunc serror;
    xmlSchemaPtr schema;
    xmlDocPtr doc;
    xmlParserInputBufferPtr input;
    xmlCharEncoding enc;
    xmlSAXHandlerPtr sax;
    xmlParserCtxtPtr parserCtxt;
};
}  // namespace

void AttachSchemaParser(xmlSchemaValidCtxtPtr validator, xmlParserCtxtPtr ctxt) {
    if (validator != nullptr)
        reinterpret_cast<SchemaValidatorHead*>(validator)->parserCtxt = ctxt;
}

void CollapseBuiltInValues() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int kind = XML_SCHEMAS_STRING; kind <= XML_SCHEMAS_ANYSIMPLETYPE; ++kind) {
            if (kind == XML_SCHEMAS_STRING || kind == XML_SCHEMAS_NORMSTRING)
                continue;
            xmlSchemaTypePtr type = xmlSchemaGetBuiltInType(static_cast<xmlSchemaValType>(kind));
            if (type == nullptr || (type->flags & XML_SCHEMAS_TYPE_VARIETY_ATOMIC) == 0)
                continue;
            type->flags |= XML_SCHEMAS_TYPE_NORMVALUENEEDED | XML_SCHEMAS_TYPE_HAS_FACETS;
        }
    });
}

void RouteContextErrors(xmlParserCtxtPtr ctxt, ErrorHandler handler, void* data) {
#if LIBXML_VERSION >= 21300
    xmlCtxtSetErrorHandler(ctxt, handler, data);
#else
    (void)ctxt;
    (void)handler;
    (void)data;
#endif
}

void StopParse(xmlParserCtxtPtr ctxt) {
    if (ctxt == nullptr)
        return;
#if LIBXML_VERSION >= 21300
    xmlStopParser(ctxt);
#else
    ctxt->instate = XML_PARSER_EOF;
    ctxt->disableSAX = 1;
#endif
}

bool ParseStopped(const xmlParserCtxt* ctxt) {
#if LIBXML_VERSION >= 21300
    return ctxt->disableSAX > 1;
#else
    return ctxt->instate == XML_PARSER_EOF;
#endif
}

bool InContent(const xmlParserCtxt* ctxt, std::size_t nameLength) {
    if (ctxt->inSubset != 0)
        return false;
#if LIBXML_VERSION < 21200
    (void)nameLength;
    return ctxt->instate == XML_PARSER_CONTENT;
#else
    const xmlParserInput* in = ctxt->input;
    if (in == nullptr || in->base == nullptr || in->cur == nullptr)
        return true;
    // Back from the "&" of "&name;", which ends where the parser stands.
    const std::size_t reference = nameLength + 2;
    if (static_cast<std::size_t>(in->cur - in->base) < reference)
        return true;
    for (const xmlChar* p = in->cur - reference; p > in->base; --p) {
        if (p[-1] == '<')
            return false;
        if (p[-1] == '>')
            return true;
    }
    // The text of an entity (its own input) or a buffer the parser has moved on in.
    return true;
#endif
}

bool InEntityText(const xmlParserCtxt* ctxt) {
#if LIBXML_VERSION >= 21200
    for (int i = ctxt->inputNr - 1; i >= 0; --i) {
        const xmlParserInput* in = ctxt->inputTab[i];
        if (in != nullptr && in->entity != nullptr &&
            (in->entity->etype == XML_INTERNAL_GENERAL_ENTITY ||
             in->entity->etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY))
            return true;
    }
#else
    (void)ctxt;
#endif
    return false;
}

void DetachId(xmlAttrPtr attr) {
#if LIBXML_VERSION >= 21200
    if (attr->id != nullptr) {
        attr->id->attr = nullptr;
        attr->id = nullptr;
    }
#else
    (void)attr;
#endif
}

void ParseEntityAgain(xmlEntityPtr entity) {
    if constexpr (!kCopiesParsedEntities)
        return;
    if ((entity->etype != XML_INTERNAL_GENERAL_ENTITY &&
         entity->etype != XML_EXTERNAL_GENERAL_PARSED_ENTITY) ||
        entity->children == nullptr)
        return;
    xmlNodePtr list = entity->children;
    entity->children = nullptr;
    entity->last = nullptr;
    for (xmlNodePtr node = list; node != nullptr; node = node->next)
        node->parent = nullptr;
    xmlFreeNodeList(list);
}

bool DtdFinalCheckPending(const xmlParserCtxt* ctxt) {
#if LIBXML_VERSION < 21000
    return ctxt->vctxt.finishDtd == kDtdCheckPending;
#else
    return (ctxt->vctxt.flags & kDtdValidated) == 0;
#endif
}

void SkipDtdFinalCheck(xmlParserCtxtPtr ctxt) {
#if LIBXML_VERSION < 21000
    ctxt->vctxt.finishDtd = kDtdCheckDone;
#else
    ctxt->vctxt.flags |= kDtdValidated;
#endif
}

HiddenDefaults::HiddenDefaults(std::vector<xmlAttributePtr> attributes) {
    hidden_.reserve(attributes.size());
    for (xmlAttributePtr attribute : attributes) {
        hidden_.emplace_back(attribute, attribute->defaultValue);
        attribute->defaultValue = nullptr;
    }
}

HiddenDefaults::~HiddenDefaults() {
    for (auto& [attribute, value] : hidden_)
        attribute->defaultValue = const_cast<xmlChar*>(value);
}

ContentCheckSkipped::ContentCheckSkipped(xmlParserCtxtPtr ctxt) : ctxt_(ctxt) {
    if (ctxt_->vctxt.vstateNr == 0) {
        ctxt_->vctxt.vstateNr = 1;
        set_ = true;
    }
}

ContentCheckSkipped::~ContentCheckSkipped() {
    if (set_)
        ctxt_->vctxt.vstateNr = 0;
}

void RaiseValidityError(xmlParserCtxtPtr ctxt, xmlNodePtr node, int code, ErrorHandler handler,
                        void* data, const char* message, const xmlChar* str1, const xmlChar* str2,
                        const xmlChar* str3) {
    ctxt->valid = 0;
#if LIBXML_VERSION >= 21300
    // As the parser counts its errors: it reports at most a hundred.
    if (ctxt->nbErrors >= 100)
        return;
    ctxt->errNo = code;
    ctxt->nbErrors += 1;
#endif
    if (handler == nullptr)
        return;
    const auto* s1 = reinterpret_cast<const char*>(str1);
    const auto* s2 = reinterpret_cast<const char*>(str2);
    const auto* s3 = reinterpret_cast<const char*>(str3);
    // The validator's messages take one to three strings, in order.
    std::string text(256, '\0');
    for (;;) {
        const int written = std::snprintf(text.data(), text.size(), message, s1, s2, s3);
        if (written < 0)
            return;
        if (static_cast<std::size_t>(written) < text.size()) {
            text.resize(static_cast<std::size_t>(written));
            break;
        }
        text.resize(static_cast<std::size_t>(written) + 1);
    }
    // Placed as the validator places an error of a parse: at the current input, or at the one
    // that holds it when the current one has no address (the text of an internal entity).
    const xmlParserInput* in = ctxt->input;
    if (in != nullptr && in->filename == nullptr && ctxt->inputNr > 1)
        in = ctxt->inputTab[ctxt->inputNr - 2];
    xmlError error{};
    error.domain = XML_FROM_VALID;
    error.code = code;
    error.message = text.data();
    error.level = XML_ERR_ERROR;
    error.file = in != nullptr ? const_cast<char*>(in->filename) : nullptr;
    error.line = in != nullptr ? in->line : 0;
    error.int2 = in != nullptr ? in->col : 0;
    error.str1 = const_cast<char*>(s1);
    error.str2 = const_cast<char*>(s2);
    error.str3 = const_cast<char*>(s3);
    error.ctxt = ctxt;
    error.node = node;
    handler(data, &error);
}

void AddTextAsBuilderWould(xmlParserCtxtPtr ctxt, long long held, const xmlChar* chars, int length,
                           bool cdata, void (*add)(void*, const xmlChar*, int)) {
    const xmlNodePtr holder = xmlNewDocNode(ctxt->myDoc, nullptr, BAD_CAST "text", nullptr);
    const xmlNodePtr node = cdata ? xmlNewCDataBlock(ctxt->myDoc, BAD_CAST "x", 1)
                                  : xmlNewDocText(ctxt->myDoc, BAD_CAST "x");
    if (holder == nullptr || node == nullptr) {
        xmlFreeNode(holder);
        xmlFreeNode(node);
        return;
    }
    xmlAddChild(holder, node);
    const xmlNodePtr before = ctxt->node;
    ctxt->node = holder;
    ctxt->nodelen = static_cast<int>(held);
    ctxt->nodemem = static_cast<int>(held) + 1;
    add(ctxt, chars, length);
    ctxt->node = before;
    xmlFreeNode(holder);
}

long long MaxTextLength(const xmlParserCtxt* ctxt) {
#ifdef XML_MAX_HUGE_LENGTH
    if ((ctxt->options & XML_PARSE_HUGE) != 0)
        return XML_MAX_HUGE_LENGTH;
#else
    (void)ctxt;  // the check never parses with XML_PARSE_HUGE on these releases
#endif
    return XML_MAX_TEXT_LENGTH;
}

std::size_t AttributeRoom(const xmlParserCtxt* ctxt, const void* block, std::size_t size,
                          std::size_t previous) {
    if (!kQuadraticStartTags || block == nullptr)
        return 0;
    constexpr std::size_t kAttributeBytes = 5 * sizeof(xmlChar*);
    if (block == ctxt->atts)
        return size / kAttributeBytes;
    // The table of one int an attribute grows right after the attribute table, to a tenth
    // of its size: that marks the attribute table of any parser context of the check, also one
    // that parses an entity's text.
    const bool attributeTables =
        previous % (2 * kAttributeBytes) == 0 && size == previous / kAttributeBytes * sizeof(int);
    return attributeTables ? previous / kAttributeBytes : 0;
}

bool IsNamespaceTable(const xmlParserCtxt* ctxt, const void* block) {
    return kQuadraticStartTags && block != nullptr && block == ctxt->nsTab;
}

}  // namespace libxml
