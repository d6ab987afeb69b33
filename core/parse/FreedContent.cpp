#include "parse/FreedContent.h"

#include "parse/Libxml.h"
#include "parse/XmlErrorCapture.h"
#include "parse/XmlString.h"

#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

namespace {

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

}  // namespace

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
                char expected[freed::kListSize] = {};
                xmlSnprintfElementContent(expected, freed::kListSize, declaration->content, 1);
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

std::unique_ptr<FinishedSubtrees::OpenElement> FinishedSubtrees::openElement(void* node) const {
    auto made = std::make_unique<OpenElement>();
    made->node = static_cast<xmlNodePtr>(node);
    if (!freed::validating(context_))
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
