#pragma once
// Inside the XML check only: the check of an element's content once its finished children were
// freed (see FinishedSubtrees), child by child, as the validator checks it at the element's end.

#include "parse/FinishedSubtrees.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlregexp.h>

#include <memory>
#include <string>
#include <vector>

namespace freed {

// The size of the validator's buffers for the expected and the found content.
constexpr int kListSize = 5000;

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

// True when the parse validates the document against its DTD.
inline bool validating(xmlParserCtxtPtr ctxt) {
    return ctxt->validate && ctxt->myDoc != nullptr && ctxt->myDoc->intSubset != nullptr;
}

}  // namespace freed

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
    std::unique_ptr<xmlRegExecCtxt, freed::RegexpExecFree> exec;  // Children
    int verdict = 1;         // Children: the model's answer so far
    bool stopped = false;    // Children: text where none may be
    bool blankText = false;  // Children: a blank text child (for standalone)
    freed::ChildList list;   // Children

    void take(xmlNodePtr child);
    void walkModel(xmlNodePtr child);
    // Raises what the validator would raise at the element's end for its content.
    void finish(xmlParserCtxtPtr ctxt);
};
