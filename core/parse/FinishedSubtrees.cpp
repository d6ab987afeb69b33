#include "parse/FinishedSubtrees.h"

#include "parse/Libxml.h"
#include "parse/ParsePipeline.h"
#include "parse/ParserMemory.h"
#include "parse/XmlErrorCapture.h"
#include "parse/XmlString.h"

#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlregexp.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <optional>
#include <string>

namespace {

// The tree is folded (its finished parts freed) after this many elements ended, or once the
// parser took this much more memory since the last time, whichever comes first: rarely enough
// that most elements are validated as they always were, often enough that little is held.
constexpr int kFoldElements = 1024;
constexpr std::size_t kFoldBytes = std::size_t{1} << 20;

// The size of the validator's buffers for the expected and the found content.
constexpr int kListSize = 5000;

// Raises a validity error on `node` as the validator does for a document being parsed.
void raiseValidityError(xmlParserCtxtPtr ctxt, xmlNodePtr node, int code, const char* msg,
                        const xmlChar* str1, const xmlChar* str2 = nullptr,
                        const xmlChar* str3 = nullptr) {
    XmlErrorCapture* capture = XmlErrorCapture::of(ctxt);
    libxml::RaiseValidityError(ctxt, node, code,
                               capture != nullptr ? XmlErrorCapture::onError : nullptr, capture,
                               msg, str1, str2, str3);
}

bool isBlankText(const xmlChar* text) {
    if (text == nullptr)
        return true;
    for (; *text != 0; ++text)
        if (!IS_BLANK_CH(*text))
            return false;
    return true;
}

void ignoreError(void*, libxml::ErrorArg) {}

// While it lives, errors raised on this thread go nowhere.
class QuietErrors {
public:
    QuietErrors() : handler_(xmlStructuredError), context_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, ignoreError);
    }
    ~QuietErrors() { xmlSetStructuredErrorFunc(context_, handler_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    xmlStructuredErrorFunc handler_;
    void* context_;
};

// The declaration of `element`, looked up as the validator looks it up, without its error when
// there is none. `external`: found in the external subset.
xmlElementPtr declarationOf(xmlDocPtr doc, xmlNodePtr element, bool& external) {
    external = false;
    const xmlChar* prefix =
        element->ns != nullptr && element->ns->prefix != nullptr ? element->ns->prefix : nullptr;
    xmlElementPtr declaration = nullptr;
    if (prefix != nullptr) {
        declaration = xmlGetDtdQElementDesc(doc->intSubset, element->name, prefix);
        if (declaration == nullptr && doc->extSubset != nullptr) {
            declaration = xmlGetDtdQElementDesc(doc->extSubset, element->name, prefix);
            external = declaration != nullptr;
        }
    }
    if (declaration == nullptr) {
        declaration = xmlGetDtdElementDesc(doc->intSubset, element->name);
        if (declaration == nullptr && doc->extSubset != nullptr) {
            declaration = xmlGetDtdElementDesc(doc->extSubset, element->name);
            external = declaration != nullptr;
        }
    }
    return declaration;
}

// True when the content model of `declaration` is compiled and deterministic, compiling it if
// need be. A model that does not compile, or is not deterministic, is left uncompiled: the
// validator then compiles it itself where it always did, and reports it there.
bool compiledModel(xmlElementPtr declaration) {
    if (declaration->contModel == nullptr) {
        xmlValidCtxt quiet{};
        const QuietErrors silence;
        xmlValidBuildContentModel(&quiet, declaration);
        if (declaration->contModel == nullptr)
            return false;
        if (xmlRegexpIsDeterminist(declaration->contModel) != 1) {
            xmlRegFreeRegexp(declaration->contModel);
            declaration->contModel = nullptr;
            return false;
        }
        return true;
    }
    return xmlRegexpIsDeterminist(declaration->contModel) == 1;
}

// True when a mixed content declaration lists `name` (the validator's own walk of the list).
bool mixedAllows(xmlElementContentPtr content, const xmlChar* name) {
    for (xmlElementContentPtr c = content; c != nullptr; c = c->c2) {
        if (c->type == XML_ELEMENT_CONTENT_ELEMENT)
            return xmlStrEqual(c->name, name) != 0;
        if (c->type == XML_ELEMENT_CONTENT_OR && c->c1 != nullptr &&
            c->c1->type == XML_ELEMENT_CONTENT_ELEMENT) {
            if (xmlStrEqual(c->c1->name, name))
                return true;
        } else if (c->type != XML_ELEMENT_CONTENT_OR || c->c1 == nullptr ||
                   c->c1->type != XML_ELEMENT_CONTENT_PCDATA) {
            return true;  // a list the validator takes as corrupted: it stops there too
        }
    }
    return false;
}

bool mixedAllowsChild(xmlElementContentPtr content, xmlNodePtr child) {
    if (child->ns != nullptr && child->ns->prefix != nullptr) {
        const XmlString qname(xmlBuildQName(child->name, child->ns->prefix, nullptr, 0));
        if (qname && mixedAllows(content, qname.get()))
            return true;
    }
    return mixedAllows(content, child->name);
}

// The list of children that a content error shows ("(a b CDATA c)"), written child by child
// as the validator writes it for all children at once: cut with " ..." where its buffer ends.
class ChildList {
public:
    void add(xmlNodePtr node) {
        if (full_)
            return;
        if (text_.empty())
            text_.push_back('(');
        if (spaceOwed_) {
            text_ += ' ';
            spaceOwed_ = false;
        }
        const int len = static_cast<int>(text_.size());
        if (kListSize - len < 50)
            return cut(len);
        switch (node->type) {
            case XML_ELEMENT_NODE:
                if (node->ns != nullptr && node->ns->prefix != nullptr) {
                    if (kListSize - len < xmlStrlen(node->ns->prefix) + 10)
                        return cut(len);
                    text_ += reinterpret_cast<const char*>(node->ns->prefix);
                    text_ += ':';
                }
                if (kListSize - len < xmlStrlen(node->name) + 10)
                    return cut(len);
                text_ += reinterpret_cast<const char*>(node->name);
                spaceOwed_ = true;
                break;
            case XML_TEXT_NODE:
                if (xmlIsBlankNode(node))
                    break;
                [[fallthrough]];
            case XML_CDATA_SECTION_NODE:
            case XML_ENTITY_REF_NODE:
                text_ += "CDATA";
                spaceOwed_ = true;
                break;
            case XML_ATTRIBUTE_NODE:
            case XML_DOCUMENT_NODE:
            case XML_HTML_DOCUMENT_NODE:
            case XML_DOCUMENT_TYPE_NODE:
            case XML_DOCUMENT_FRAG_NODE:
            case XML_NOTATION_NODE:
            case XML_NAMESPACE_DECL:
                text_ += "???";
                spaceOwed_ = true;
                break;
            default:
                break;
        }
    }
    std::string finished() const { return full_ ? text_ : text_ + ")"; }

private:
    // The validator's test looks at the character before its length taken at the start.
    void cut(int len) {
        if (kListSize - len > 4 && text_[len - 1] != '.')
            text_ += " ...";
        full_ = true;
    }

    std::string text_;
    bool spaceOwed_ = false;
    bool full_ = false;
};

struct RegexpExecFree {
    void operator()(xmlRegExecCtxtPtr exec) const { xmlRegFreeExecCtxt(exec); }
};

}  // namespace

// An open element whose finished children were freed: what its end still has to check.
struct FinishedSubtrees::OpenElement {
    enum class Kind {
        Unchecked,  // not validated, or no declaration: the validator never looks at children
        Any,
        Empty,
        Text,   // (#PCDATA)
        Mixed,  // (#PCDATA | a | b)*
        Children,
        Kept,  // a content model the validator has to compile itself: nothing is freed
    };

    xmlNodePtr node = nullptr;
    Kind kind = Kind::Unchecked;
    xmlElementPtr declaration = nullptr;
    bool external = false;

    bool hadContent = false;           // Empty
    bool nonText = false;              // Text
    std::vector<std::string> strayed;  // Mixed: children not in the list, in order
    std::unique_ptr<xmlRegExecCtxt, RegexpExecFree> exec;  // Children
    int verdict = 1;                                       // Children: the model's answer so far
    bool stopped = false;                                  // Children: text where none may be
    bool blankText = false;  // Children: a blank text child (for standalone)
    ChildList list;          // Children

    void take(xmlNodePtr child);
    void walkModel(xmlNodePtr child);
    // Raises what the validator would raise at the element's end for its content.
    void finish(xmlParserCtxtPtr ctxt);
};

namespace {
constexpr std::size_t kStrayedKept = 10000;
}

void FinishedSubtrees::OpenElement::walkModel(xmlNodePtr cur) {
    if (stopped)
        return;
    switch (cur->type) {
        case XML_ENTITY_REF_NODE:
            if (cur->children != nullptr && cur->children->children != nullptr)
                for (xmlNodePtr c = cur->children->children; c != nullptr && !stopped; c = c->next)
                    walkModel(c);
            break;
        case XML_TEXT_NODE:
            if (xmlIsBlankNode(cur))
                break;
            [[fallthrough]];
        case XML_CDATA_SECTION_NODE:
            verdict = 0;
            stopped = true;
            break;
        case XML_ELEMENT_NODE:
            if (cur->ns != nullptr && cur->ns->prefix != nullptr) {
                const XmlString qname(xmlBuildQName(cur->name, cur->ns->prefix, nullptr, 0));
                if (!qname) {
                    verdict = -1;
                    stopped = true;
                    break;
                }
                verdict = xmlRegExecPushString(exec.get(), qname.get(), nullptr);
            } else {
                verdict = xmlRegExecPushString(exec.get(), cur->name, nullptr);
            }
            break;
        default:
            break;
    }
}

void FinishedSubtrees::OpenElement::take(xmlNodePtr child) {
    switch (kind) {
        case Kind::Unchecked:
        case Kind::Any:
        case Kind::Kept:
            break;
        case Kind::Empty:
            hadContent = true;
            break;
        case Kind::Text:
            if (child->type != XML_COMMENT_NODE && child->type != XML_PI_NODE &&
                child->type != XML_TEXT_NODE && child->type != XML_CDATA_SECTION_NODE &&
                child->type != XML_ENTITY_REF_NODE)
                nonText = true;
            break;
        case Kind::Mixed:
            if (child->type == XML_ELEMENT_NODE && !mixedAllowsChild(declaration->content, child)) {
                if (strayed.size() < kStrayedKept)
                    strayed.emplace_back(reinterpret_cast<const char*>(child->name));
            }
            break;
        case Kind::Children:
            if (!blankText && child->type == XML_TEXT_NODE && isBlankText(child->content))
                blankText = true;
            walkModel(child);
            list.add(child);
            break;
    }
}

void FinishedSubtrees::OpenElement::finish(xmlParserCtxtPtr ctxt) {
    const xmlChar* name = node->name;
    switch (kind) {
        case Kind::Unchecked:
        case Kind::Any:
        case Kind::Kept:
            break;
        case Kind::Empty:
            if (hadContent)
                raiseValidityError(ctxt, node, XML_DTD_NOT_EMPTY,
                                   "Element %s was declared EMPTY this one has content\n", name);
            break;
        case Kind::Text:
            if (nonText)
                raiseValidityError(ctxt, node, XML_DTD_NOT_PCDATA,
                                   "Element %s was declared #PCDATA but contains non text nodes\n",
                                   name);
            break;
        case Kind::Mixed:
            for (const std::string& child : strayed)
                raiseValidityError(ctxt, node, XML_DTD_INVALID_CHILD,
                                   "Element %s is not declared in %s list of possible children\n",
                                   reinterpret_cast<const xmlChar*>(child.c_str()), name);
            break;
        case Kind::Children: {
            if (ctxt->myDoc->standalone == 1 && external && blankText)
                raiseValidityError(ctxt, node, XML_DTD_STANDALONE_WHITE_SPACE,
                                   "standalone: %s declared in the external subset contains white "
                                   "spaces nodes\n",
                                   name);
            if (!stopped)
                verdict = xmlRegExecPushString(exec.get(), nullptr, nullptr);
            if (verdict != 1 && verdict != -3) {
                char expected[kListSize] = {};
                xmlSnprintfElementContent(expected, kListSize, declaration->content, 1);
                const std::string got = list.finished();
                const auto* expectedText = reinterpret_cast<const xmlChar*>(expected);
                const auto* gotText = reinterpret_cast<const xmlChar*>(got.c_str());
                if (declaration->name != nullptr)
                    raiseValidityError(ctxt, node, XML_DTD_CONTENT_MODEL,
                                       "Element %s content does not follow the DTD, expecting %s, "
                                       "got %s\n",
                                       declaration->name, expectedText, gotText);
                else
                    raiseValidityError(ctxt, node, XML_DTD_CONTENT_MODEL,
                                       "Element content does not follow the DTD, expecting %s, got "
                                       "%s\n",
                                       expectedText, gotText);
            }
            break;
        }
    }
}

struct FinishedSubtrees::Next {
    xmlSAXHandlerPtr sax = nullptr;
    endElementNsSAX2Func endElementNs = nullptr;
    startElementNsSAX2Func startElementNs = nullptr;
    charactersSAXFunc characters = nullptr;
    cdataBlockSAXFunc cdataBlock = nullptr;
    commentSAXFunc comment = nullptr;
    processingInstructionSAXFunc processingInstruction = nullptr;
};

namespace {

void endElementHandler(void* context, const xmlChar* localname, const xmlChar* prefix,
                       const xmlChar* uri) {
    if (FinishedSubtrees* self = FinishedSubtrees::of(context))
        self->endElement(static_cast<xmlParserCtxtPtr>(context), localname, prefix, uri);
    else
        xmlSAX2EndElementNs(context, localname, prefix, uri);
}

void startElementHandler(void* context, const xmlChar* localname, const xmlChar* prefix,
                         const xmlChar* uri, int namespaces, const xmlChar** declared,
                         int attributes, int defaulted, const xmlChar** values) {
    if (FinishedSubtrees* self = FinishedSubtrees::of(context))
        self->startElement(static_cast<xmlParserCtxtPtr>(context), localname, prefix, uri,
                           namespaces, declared, attributes, defaulted, values);
    else
        xmlSAX2StartElementNs(context, localname, prefix, uri, namespaces, declared, attributes,
                              defaulted, values);
}

void charactersHandler(void* context, const xmlChar* chars, int length) {
    if (FinishedSubtrees* self = FinishedSubtrees::of(context))
        self->text(static_cast<xmlParserCtxtPtr>(context), chars, length, false);
    else
        xmlSAX2Characters(context, chars, length);
}

void cdataHandler(void* context, const xmlChar* chars, int length) {
    if (FinishedSubtrees* self = FinishedSubtrees::of(context))
        self->text(static_cast<xmlParserCtxtPtr>(context), chars, length, true);
    else
        xmlSAX2CDataBlock(context, chars, length);
}

void commentHandler(void* context, const xmlChar* value) {
    FinishedSubtrees* self = FinishedSubtrees::of(context);
    if (self == nullptr)
        xmlSAX2Comment(context, value);
    else if (self->builds(static_cast<xmlParserCtxtPtr>(context)))
        self->next().comment(context, value);
    else
        self->otherChild();
}

void instructionHandler(void* context, const xmlChar* target, const xmlChar* data) {
    FinishedSubtrees* self = FinishedSubtrees::of(context);
    if (self == nullptr)
        xmlSAX2ProcessingInstruction(context, target, data);
    else if (self->builds(static_cast<xmlParserCtxtPtr>(context)))
        self->next().processingInstruction(context, target, data);
    else
        self->otherChild();
}

// True when a start tag carries xml:id, which the tree builder checks.
bool carriesXmlId(const xmlChar** values, int attributes) {
    for (int i = 0; i < attributes; ++i) {
        const xmlChar* localname = values[i * 5];
        const xmlChar* prefix = values[i * 5 + 1];
        if (prefix != nullptr && xmlStrEqual(prefix, BAD_CAST "xml") &&
            xmlStrEqual(localname, BAD_CAST "id"))
            return true;
    }
    return false;
}

bool validating(xmlParserCtxtPtr ctxt) {
    return ctxt->validate && ctxt->myDoc != nullptr && ctxt->myDoc->intSubset != nullptr;
}

// Spaces as an ID's key holds them: none at the ends, single ones between.
void normalizeSpaces(xmlChar* text) {
    xmlChar* out = text;
    const xmlChar* in = text;
    while (*in == 0x20)
        ++in;
    while (*in != 0) {
        if (*in == 0x20) {
            while (*in == 0x20)
                ++in;
            if (*in != 0)
                *out++ = 0x20;
        } else {
            *out++ = *in++;
        }
    }
    *out = 0;
}

// The document keeps the ID of `attr` by name once the attribute is freed (a reference to it
// is then still found), and freeing the attribute no longer takes the ID away.
void keepIdByName(xmlDocPtr doc, xmlAttrPtr attr) {
    XmlString value(xmlNodeListGetString(doc, attr->children, 1));
    if (value) {
        normalizeSpaces(value.get());
        auto* id = static_cast<xmlIDPtr>(
            xmlHashLookup(static_cast<xmlHashTablePtr>(doc->ids), value.get()));
        if (id != nullptr && id->attr == attr)
            id->attr = nullptr;
    }
    libxml::DetachId(attr);
    attr->atype = static_cast<xmlAttributeType>(0);
}

// Frees the sibling list from `first` on (children of `parent`, already unlinked from it). An
// element with an IDREF or IDREFS attribute is kept, without its children, as a child of the
// document after the root element: the check of references at the document's end reports its
// line and name, and the document frees it.
void freeFinished(xmlDocPtr doc, xmlNodePtr parent, xmlNodePtr first) {
    if (doc->ids != nullptr || doc->refs != nullptr) {
        std::vector<xmlNodePtr> kept;
        xmlNodePtr n = first;
        while (n != nullptr) {
            if (n->type == XML_ELEMENT_NODE) {
                bool referring = false;
                for (xmlAttrPtr a = n->properties; a != nullptr; a = a->next) {
                    if (a->atype == XML_ATTRIBUTE_ID)
                        keepIdByName(doc, a);
                    else if (a->atype == XML_ATTRIBUTE_IDREF || a->atype == XML_ATTRIBUTE_IDREFS)
                        referring = true;
                }
                if (referring)
                    kept.push_back(n);
                if (n->children != nullptr) {
                    n = n->children;
                    continue;
                }
            }
            while (n != nullptr && n->next == nullptr) {
                n = n->parent;
                if (n == parent)
                    n = nullptr;
            }
            if (n != nullptr)
                n = n->next;
        }
        // Innermost first, so that no kept element is freed with an outer one's children.
        for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
            xmlNodePtr element = *it;
            if (element == first)
                first = first->next;
            xmlUnlinkNode(element);
            xmlFreeNodeList(element->children);
            element->children = nullptr;
            element->last = nullptr;
            element->ns = nullptr;
            for (xmlAttrPtr a = element->properties; a != nullptr; a = a->next)
                a->ns = nullptr;
            xmlAddChild(reinterpret_cast<xmlNodePtr>(doc), element);
        }
    }
    xmlFreeNodeList(first);
}

}  // namespace

FinishedSubtrees::FinishedSubtrees(ParsePipeline& pipeline)
    : pipeline_(pipeline),
      context_(pipeline.context()),
      next_(std::make_unique<Next>()),
      foldEvery_(kFoldElements) {
    xmlSAXHandlerPtr sax = context_->sax;
    Next& n = *next_;
    n.sax = sax;
    n.endElementNs = ChainHandler(sax->endElementNs, &endElementHandler, xmlSAX2EndElementNs);
    n.startElementNs =
        ChainHandler(sax->startElementNs, &startElementHandler, xmlSAX2StartElementNs);
    n.characters = ChainHandler(sax->characters, &charactersHandler, xmlSAX2Characters);
    n.cdataBlock = ChainHandler(sax->cdataBlock, &cdataHandler, xmlSAX2CDataBlock);
    n.comment = ChainHandler(sax->comment, &commentHandler, xmlSAX2Comment);
    n.processingInstruction =
        ChainHandler(sax->processingInstruction, &instructionHandler, xmlSAX2ProcessingInstruction);
    pipeline_.finished = this;
}

FinishedSubtrees::~FinishedSubtrees() {
    pipeline_.finished = nullptr;
    const Next& n = *next_;
    xmlSAXHandlerPtr sax = n.sax;
    UnchainHandler(sax->endElementNs, &endElementHandler, n.endElementNs);
    UnchainHandler(sax->startElementNs, &startElementHandler, n.startElementNs);
    UnchainHandler(sax->characters, &charactersHandler, n.characters);
    UnchainHandler(sax->cdataBlock, &cdataHandler, n.cdataBlock);
    UnchainHandler(sax->comment, &commentHandler, n.comment);
    UnchainHandler(sax->processingInstruction, &instructionHandler, n.processingInstruction);
}

FinishedSubtrees::OpenElement* FinishedSubtrees::openElementFor(void* node) {
    if (!open_.empty() && open_.back()->node == node)
        return open_.back().get();
    return nullptr;
}

void FinishedSubtrees::setFoldEvery(int elements) {
    foldEvery_ = std::max(1, elements);
}

void FinishedSubtrees::startElement(_xmlParserCtxt* ctxt, const xmlChar* localname,
                                    const xmlChar* prefix, const xmlChar* uri, int namespaces,
                                    const xmlChar** declared, int attributes, int defaulted,
                                    const xmlChar** values) {
    if (ctxt == context_ && treeless_ && ctxt->node == nullptr &&
        !carriesXmlId(values, attributes)) {
        if (!unbuilt_.empty() && !unbuilt_.back().hasChildren)
            unbuilt_.back().hasChildren = true;
        unbuilt_.emplace_back();
        endRun();
        return;
    }
    next_->startElementNs(ctxt, localname, prefix, uri, namespaces, declared, attributes, defaulted,
                          values);
}

bool FinishedSubtrees::builds(const _xmlParserCtxt* ctxt) const {
    return ctxt != context_ || !treeless_ || ctxt->node != nullptr || ctxt->inSubset != 0;
}

void FinishedSubtrees::otherChild() {
    if (!unbuilt_.empty())
        unbuilt_.back().hasChildren = true;
    endRun();
}

bool FinishedSubtrees::ignorableBlanks(_xmlParserCtxt* ctxt, const xmlChar* chars,
                                       int length) const {
    // The parser's own test of blanks between elements, for the element as the builder would
    // have it: the tree builder drops such blanks instead of adding them to a text node.
    // (In another order than the parser's: the cheap tests first; the outcome is the same.)
    const xmlChar* next = ctxt->input->cur;
    if (next[0] != '<' && next[0] != 0xD)
        return false;
    if (ctxt->space == nullptr || *ctxt->space == 1 || *ctxt->space == -2)
        return false;
    for (int i = 0; i < length; ++i)
        if (!IS_BLANK_CH(chars[i]))
            return false;
    const Unbuilt& element = unbuilt_.back();
    if (!element.hasChildren)
        return !(next[0] == '<' && next[1] == '/');
    return !element.firstIsText;
}

void FinishedSubtrees::refuseHugeText(_xmlParserCtxt* ctxt, const xmlChar* chars, int length,
                                      bool cdata) {
    // The builder refuses to add to a text node past its limit: a node of the length counted
    // so far is set up for it to refuse, so that the refusal and its report are its own.
    libxml::AddTextAsBuilderWould(ctxt, runLength_, chars, length, cdata,
                                  cdata ? next_->cdataBlock : next_->characters);
}

void FinishedSubtrees::text(_xmlParserCtxt* ctxt, const xmlChar* chars, int length, bool cdata) {
    if (builds(ctxt)) {
        if (cdata)
            next_->cdataBlock(ctxt, chars, length);
        else
            next_->characters(ctxt, chars, length);
        return;
    }
    if (unbuilt_.empty())
        return;
    const Run kind = cdata ? Run::Cdata : Run::Text;
    if (run_ == kind && (!cdata || libxml::kBuilderMergesCdata)) {
        // The parse's options are set when it starts: the limit is looked up at the first run.
        if (maxText_ < 0)
            maxText_ = libxml::MaxTextLength(ctxt);
        if (runLength_ + length > maxText_)
            return refuseHugeText(ctxt, chars, length, cdata);
        runLength_ += length;
        return;
    }
    if (!cdata && ignorableBlanks(ctxt, chars, length))
        return;
    Unbuilt& element = unbuilt_.back();
    if (!element.hasChildren) {
        element.hasChildren = true;
        element.firstIsText = !cdata;
    }
    run_ = kind;
    runLength_ = length;
}

void FinishedSubtrees::endElement(_xmlParserCtxt* ctxt, const xmlChar* localname,
                                  const xmlChar* prefix, const xmlChar* uri) {
    if (ctxt != context_ || libxml::InEntityText(ctxt)) {
        next_->endElementNs(ctxt, localname, prefix, uri);
        return;
    }
    const xmlNodePtr element = ctxt->node;
    if (treeless_ && element == nullptr) {
        if (!unbuilt_.empty())
            unbuilt_.pop_back();
        otherChild();
        return;
    }
    std::unique_ptr<OpenElement> open;
    if (element != nullptr && openElementFor(element) != nullptr) {
        open = std::move(open_.back());
        open_.pop_back();
    }
    // The content of an element whose children were freed in part is checked here; the
    // validator must then leave it alone (it would find only the children not yet freed).
    bool skipContent = false;
    if (open) {
        for (xmlNodePtr child = element->children; child != nullptr; child = child->next)
            open->take(child);
        if (validating(ctxt) && ctxt->wellFormed)
            open->finish(ctxt);
        skipContent =
            open->kind != OpenElement::Kind::Unchecked && open->kind != OpenElement::Kind::Kept;
    }
    {
        std::optional<libxml::ContentCheckSkipped> skipped;
        if (skipContent)
            skipped.emplace(ctxt);
        next_->endElementNs(ctxt, localname, prefix, uri);
    }

    const xmlNodePtr parent = ctxt->node;
    if (parent != nullptr && ++endedSinceFold_ >= foldEvery_)
        foldPath();
    else if (const ParserMemoryBudget* budget = ParserMemoryBudget::current();
             parent != nullptr && budget != nullptr && budget->used() > usedAtFold_ + kFoldBytes)
        foldPath();
    if (treeless_ && parent == nullptr && element != nullptr) {
        // An element built in a document that builds no tree (it carries xml:id) is done.
        xmlUnlinkNode(element);
        freeFinished(ctxt->myDoc, nullptr, element);
        otherChild();
    }
}

std::unique_ptr<FinishedSubtrees::OpenElement> FinishedSubtrees::openElement(void* node) const {
    auto made = std::make_unique<OpenElement>();
    made->node = static_cast<xmlNodePtr>(node);
    if (!validating(context_))
        return made;
    made->declaration = declarationOf(context_->myDoc, made->node, made->external);
    const xmlElementPtr d = made->declaration;
    if (d == nullptr)
        return made;
    switch (d->etype) {
        case XML_ELEMENT_TYPE_EMPTY:
            made->kind = OpenElement::Kind::Empty;
            break;
        case XML_ELEMENT_TYPE_ANY:
            made->kind = OpenElement::Kind::Any;
            break;
        case XML_ELEMENT_TYPE_MIXED:
            made->kind = d->content != nullptr && d->content->type == XML_ELEMENT_CONTENT_PCDATA
                             ? OpenElement::Kind::Text
                             : OpenElement::Kind::Mixed;
            break;
        case XML_ELEMENT_TYPE_ELEMENT:
            made->kind = compiledModel(d) ? OpenElement::Kind::Children : OpenElement::Kind::Kept;
            if (made->kind == OpenElement::Kind::Children) {
                made->exec.reset(xmlRegNewExecCtxt(d->contModel, nullptr, nullptr));
                if (!made->exec)
                    made->kind = OpenElement::Kind::Kept;
            }
            break;
        default:  // declared only by its attributes: the validator says so at the end
            break;
    }
    return made;
}

void FinishedSubtrees::foldPath() {
    xmlParserCtxtPtr ctxt = context_;
    const int depth = ctxt->nodeNr;
    // Every open element gets its state, outermost first (those that have one keep it).
    std::vector<std::unique_ptr<OpenElement>> path;
    path.reserve(static_cast<std::size_t>(depth));
    std::size_t known = 0;
    for (int i = 0; i < depth; ++i) {
        const xmlNodePtr node = ctxt->nodeTab[i];
        if (known < open_.size() && open_[known]->node == node)
            path.push_back(std::move(open_[known++]));
        else
            path.push_back(openElement(node));
    }
    open_ = std::move(path);
    // Then each gives up its finished children: all but the open one on the path.
    for (int i = 0; i < depth; ++i) {
        const xmlNodePtr node = ctxt->nodeTab[i];
        OpenElement& open = *open_[static_cast<std::size_t>(i)];
        const xmlNodePtr stays = i + 1 < depth ? ctxt->nodeTab[i + 1] : nullptr;
        if (node->type != XML_ELEMENT_NODE || open.kind == OpenElement::Kind::Kept ||
            (stays != nullptr && stays->parent != node))
            continue;
        const xmlNodePtr first = node->children;
        if (first == nullptr || first == stays)
            continue;
        for (xmlNodePtr child = first; child != stays; child = child->next)
            open.take(child);
        if (stays != nullptr) {
            stays->prev->next = nullptr;
            stays->prev = nullptr;
            node->children = stays;
        } else {
            node->children = nullptr;
            node->last = nullptr;
        }
        freeFinished(ctxt->myDoc, node, first);
    }
    endedSinceFold_ = 0;
    if (const ParserMemoryBudget* budget = ParserMemoryBudget::current())
        usedAtFold_ = budget->used();
}
