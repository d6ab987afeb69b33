#include "parse/FinishedSubtrees.h"

#include "parse/FreedContent.h"
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

}  // namespace

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
    if (ctxt != context_ || keepAll_ || libxml::InEntityText(ctxt)) {
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
        if (freed::validating(ctxt) && ctxt->wellFormed)
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
