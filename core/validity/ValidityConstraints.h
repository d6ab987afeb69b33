#pragma once
// Inside the XML check only: validity constraints that the parser leaves unchecked in a
// document with a DTD, checked around its callbacks.
//
// - standalone="yes": a value of an attribute declared in external markup with a type other
//   than CDATA must not be changed by the normalisation of its type (the parser normalises it
//   silently when it substitutes entities);
// - an element declared EMPTY holds no reference to an entity, even one of empty text;
// - element content holds no character reference to white space, also not through the
//   replacement text of an entity (a blank that an entity's literal value turned into a plain
//   blank is fine);
// - a default of an ENTITY or ENTITIES attribute names unparsed entities only where it is used:
//   the parser checks every such default at the root element, used or not, and the check hides
//   the ones the root does not use from it, then checks each use itself;
// - in a namespace document, values of ID, IDREF(S), ENTITY, ENTITIES and NOTATION attributes
//   hold no colon;
// - an "xmlns:xml" attribute must be declared like any other (the parser drops it unseen).
//
// What the check finds is kept, with its place, until the parse ends: it becomes the report
// only when the parser raised no error of its own (see reportTo).
//
// A step of the parse (see ParsePipeline): it joins the chain of the handlers it looks at and
// calls the next step from each. libxml2 stays out of this header.

#include "parse/CheckResult.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <memory>
#include <unordered_map>
#include <vector>

struct _xmlParserCtxt;
struct _xmlSAXHandler;
struct _xmlEntity;
class XmlErrorCapture;
class ParsePipeline;

class ValidityConstraints {
public:
    // Joins the checks to the pipeline's parse; the destructor takes them out again.
    explicit ValidityConstraints(ParsePipeline& pipeline);
    ~ValidityConstraints();
    ValidityConstraints(const ValidityConstraints&) = delete;
    ValidityConstraints& operator=(const ValidityConstraints&) = delete;

    // After the parse: the first finding becomes the capture's report when the parser
    // reported nothing. True when it did.
    bool reportTo(XmlErrorCapture& capture) const;

private:
    friend struct ValidityHooks;
    struct Declared {
        QByteArray name;        // the attribute's name as declared
        int type = 0;           // the attribute type (xmlAttributeType)
        bool external = false;  // external markup: the external subset or a parameter entity
        // The parser itself refuses, in a standalone document, a default taken from such a
        // declaration only where it stands in the external subset and is no namespace
        // declaration: the others are this check's.
        bool defaultUnchecked = false;
        bool emptyNamespace = false;  // a namespace declaration "xmlns:p" defaulted to ""
    };
    // What the DTD declares of one element name.
    struct Element {
        int contentType = 0;  // the declared content (xmlElementTypeVal), 0: none
        bool contentDeclared = false;
        std::vector<Declared> attributes;    // the first declaration of each
        bool externalTyped = false;          // some attribute declared externally is not CDATA
        bool externalDefault = false;        // some attribute has defaultUnchecked
        bool emptyNamespaceDefault = false;  // some attribute has emptyNamespace
        // Element content declared in a parameter entity of the internal subset (those of the
        // external subset the validator checks itself).
        bool contentInParameterEntity = false;
        bool nameValued = false;  // some attribute is ID, IDREF(S), ENTITY(IES), NOTATION
        // Where each name stands in `attributes`, once there are more than a few: a DTD may
        // declare thousands for one element, and each start tag looks up each of its own.
        QHash<QByteArray, int> index;

        const Declared* find(QByteArrayView name) const;
        const Declared* find(const unsigned char* prefix, const unsigned char* local) const;
        // Adds the first declaration of `name`; false if it was declared before.
        bool add(Declared declared);
    };
    // An element name as the parser gives it (its local name and prefix, interned), with what
    // is declared of it.
    struct Known {
        QByteArray localname;
        QByteArray prefix;
        QByteArray name;  // qualified
        const Element* element = nullptr;
    };
    struct Open {
        int contentType = 0;
        QByteArray name;
        bool blanksRefused = false;  // standalone, and its element content is external markup
    };
    struct Saved;

    static ValidityConstraints* of(const void* context);
    bool validating() const;
    // In a document that is not validated, from its root element on: the content handlers go
    // out of the chain.
    void stepAsideFromContent();
    // Puts back the element and text handlers that are still this check's.
    void putBackContentHandlers();
    const Known& known(const unsigned char* localname, const unsigned char* prefix);
    // The checks of a start tag of `element`, with its attributes as the parser reports them
    // (the last `defaulted` of them from the DTD's defaults).
    void checkStartTag(_xmlParserCtxt* ctxt, const Known& element, int attributes, int defaulted,
                       const unsigned char** values);
    // Whether the start tag just read holds an attribute named "xmlns:xml".
    bool hasXmlnsXml(_xmlParserCtxt* ctxt) const;
    void checkUsedEntityDefault(_xmlParserCtxt* ctxt, const QByteArray& name, int type,
                                const QByteArray& value);
    // Keeps the finding at the current place of `at`, when it is the first.
    void found(_xmlParserCtxt* at, int code, const QString& reason);
    // Whether the text of the entity, or of the entities it references, holds a character
    // reference to white space outside its elements.
    bool holdsBlankReference(const _xmlEntity* entity, int depth) const;

    ParsePipeline& pipeline_;
    _xmlParserCtxt* context_;
    std::unique_ptr<Saved> saved_;  // the handlers installed before
    QHash<QByteArray, Element> elements_;
    std::unordered_map<const void*, Known> known_;  // by the address of the local name
    std::vector<Open> open_;
    bool rootSeen_ = false;
    // General entities first declared in a parameter entity of the internal subset: external
    // markup, which a standalone document may not refer to.
    QSet<QByteArray> entitiesInParameterEntities_;
    bool aside_ = false;
    bool hasFinding_ = false;
    ParseErrorReport finding_;
};
