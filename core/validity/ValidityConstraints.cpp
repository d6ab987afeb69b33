#include "validity/ValidityConstraints.h"

#include "parse/Libxml.h"
#include "parse/ParsePipeline.h"
#include "parse/XmlErrorCapture.h"
#include "validity/MarkupText.h"

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

using namespace markup;

struct ValidityConstraints::Saved {
    xmlSAXHandlerPtr sax = nullptr;
    startElementNsSAX2Func startElementNs = nullptr;
    endElementNsSAX2Func endElementNs = nullptr;
    charactersSAXFunc characters = nullptr;
    getEntitySAXFunc getEntity = nullptr;
    attributeDeclSAXFunc attributeDecl = nullptr;
    elementDeclSAXFunc elementDecl = nullptr;
    entityDeclSAXFunc entityDecl = nullptr;
};

struct ValidityHooks {
    using Self = ValidityConstraints;

    static void startElement(void* context, const xmlChar* localname, const xmlChar* prefix,
                             const xmlChar* uri, int namespaces, const xmlChar** declared,
                             int attributes, int defaulted, const xmlChar** values) {
        Self* self = Self::of(context);
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        if (self != nullptr &&
            (self->aside_ || (ctxt == self->context_ && !self->rootSeen_ && !self->validating()))) {
            // The root element of a document that is not validated: nothing in its content
            // has anything to check here.
            self->stepAsideFromContent();
            callStart(self, context, localname, prefix, uri, namespaces, declared, attributes,
                      defaulted, values);
            return;
        }
        // Blanks that go to the same handler as other text are not told apart by the parser
        // (which would look each element up in the DTD): keep it so when it was so before.
        if (self != nullptr && ctxt != nullptr && ctxt->sax != nullptr &&
            ctxt->sax->ignorableWhitespace == self->saved_->characters)
            ctxt->sax->ignorableWhitespace = characters;
        if (self == nullptr || !self->validating()) {
            if (self != nullptr)
                self->open_.push_back({});
            callStart(self, context, localname, prefix, uri, namespaces, declared, attributes,
                      defaulted, values);
            return;
        }
        const Self::Known* element = nullptr;
        self->pipeline_.guard([&] {
            element = &self->known(localname, prefix);
            self->checkStartTag(ctxt, *element, attributes, defaulted, values);
        });
        std::optional<libxml::HiddenDefaults> hidden;
        if (ctxt != self->context_ && self->rootSeen_ && libxml::DtdFinalCheckPending(ctxt))
            libxml::SkipDtdFinalCheck(ctxt);
        if (ctxt == self->context_ && !self->rootSeen_) {
            self->rootSeen_ = true;
            if (element != nullptr && libxml::DtdFinalCheckPending(ctxt))
                self->pipeline_.guard([&] {
                    QList<QByteArray> used;
                    QList<QByteArray> written;
                    for (int i = 0; i < attributes; ++i)
                        (i < attributes - defaulted ? written : used)
                            .append(qualified(values[5 * i + 1], values[5 * i]));
                    hidden.emplace(unusedEntityDefaults(ctxt->myDoc, element->name, used, written));
                });
        }
        callStart(self, context, localname, prefix, uri, namespaces, declared, attributes,
                  defaulted, values);
        hidden.reset();
        self->pipeline_.guard([&] {
            if (element != nullptr)
                self->open_.push_back(
                    {element->element->contentType, element->name,
                     self->context_->standalone == 1 &&
                         element->element->contentInParameterEntity &&
                         element->element->contentType == XML_ELEMENT_TYPE_ELEMENT});
            else
                self->open_.push_back({});
        });
    }

    static void callStart(Self* self, void* context, const xmlChar* localname,
                          const xmlChar* prefix, const xmlChar* uri, int namespaces,
                          const xmlChar** declared, int attributes, int defaulted,
                          const xmlChar** values) {
        startElementNsSAX2Func next =
            self != nullptr ? self->saved_->startElementNs : xmlSAX2StartElementNs;
        if (next != nullptr)
            next(context, localname, prefix, uri, namespaces, declared, attributes, defaulted,
                 values);
    }

    static void endElement(void* context, const xmlChar* localname, const xmlChar* prefix,
                           const xmlChar* uri) {
        Self* self = Self::of(context);
        if (self != nullptr && !self->aside_ && !self->open_.empty())
            self->open_.pop_back();
        endElementNsSAX2Func next =
            self != nullptr ? self->saved_->endElementNs : xmlSAX2EndElementNs;
        if (next != nullptr)
            next(context, localname, prefix, uri);
    }

    static void characters(void* context, const xmlChar* ch, int len) {
        Self* self = Self::of(context);
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        if (self != nullptr && !self->aside_ && !self->open_.empty() &&
            self->open_.back().contentType == XML_ELEMENT_TYPE_ELEMENT && len > 0 &&
            isBlank(ch[0]) && ctxt != nullptr && ctxt->input != nullptr &&
            afterBlankReference(ctxt->input->base, ctxt->input->cur))
            self->found(ctxt, XML_DTD_CONTENT_MODEL, blankReferenceReason(self->open_.back()));
        if (self != nullptr && !self->aside_ && !self->open_.empty() &&
            self->open_.back().blanksRefused && len > 0 &&
            std::all_of(ch, ch + len, [](xmlChar c) { return isBlank(c); }))
            self->found(ctxt, XML_DTD_STANDALONE_WHITE_SPACE,
                        QStringLiteral("standalone: %1 declared in external markup contains "
                                       "white spaces nodes")
                            .arg(shown(self->open_.back().name)));
        charactersSAXFunc next = self != nullptr ? self->saved_->characters : xmlSAX2Characters;
        if (next != nullptr)
            next(context, ch, len);
    }

    static xmlEntityPtr getEntity(void* context, const xmlChar* name) {
        Self* self = Self::of(context);
        getEntitySAXFunc next = self != nullptr ? self->saved_->getEntity : xmlSAX2GetEntity;
        xmlEntityPtr entity = next != nullptr ? next(context, name) : nullptr;
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        // A reference in the document (not in the DTD, not in an entity's text) of a standalone
        // document to an entity that external markup declares.
        if (self != nullptr && entity != nullptr && ctxt == self->context_ &&
            ctxt->standalone == 1 && ctxt->inSubset == 0 && ctxt->inputNr == 1 &&
            self->entitiesInParameterEntities_.contains(text(name)))
            self->found(ctxt, XML_ERR_NOT_STANDALONE,
                        QStringLiteral("Entity(%1) document marked standalone but requires "
                                       "external markup")
                            .arg(shown(text(name))));
        // A reference in content: not in the DTD, not in an attribute value.
        if (self == nullptr || entity == nullptr || self->open_.empty() || ctxt == nullptr ||
            !self->validating() ||
            !libxml::InContent(ctxt, std::strlen(reinterpret_cast<const char*>(name))))
            return entity;
        const Self::Open& open = self->open_.back();
        if (open.contentType == XML_ELEMENT_TYPE_EMPTY)
            self->found(ctxt, XML_DTD_NOT_EMPTY,
                        QStringLiteral("Element %1 was declared EMPTY this one has content: a "
                                       "reference to the entity %2")
                            .arg(shown(open.name), shown(text(name))));
        else if (open.contentType == XML_ELEMENT_TYPE_ELEMENT &&
                 entity->etype == XML_INTERNAL_GENERAL_ENTITY &&
                 self->holdsBlankReference(entity, 0))
            self->found(ctxt, XML_DTD_CONTENT_MODEL, blankReferenceReason(open));
        return entity;
    }

    static void attributeDecl(void* context, const xmlChar* element, const xmlChar* name, int type,
                              int def, const xmlChar* defaultValue, xmlEnumerationPtr tree) {
        Self* self = Self::of(context);
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        if (self != nullptr && element != nullptr && name != nullptr) {
            self->pipeline_.guard([&] {
                self->known_.clear();
                Self::Element& declared = self->elements_[text(element)];
                // The first declaration of an attribute binds; later ones are ignored.
                const bool external = inExternalMarkup(ctxt);
                const QByteArray attribute = text(name);
                const bool prefixDeclaration = attribute.startsWith("xmlns:");
                const bool namespaceDeclaration = prefixDeclaration || attribute == "xmlns";
                declared.add({attribute, type, external,
                              external && defaultValue != nullptr &&
                                  (ctxt->inSubset != 2 || namespaceDeclaration),
                              prefixDeclaration && defaultValue != nullptr && *defaultValue == 0});
            });
        }
        attributeDeclSAXFunc next =
            self != nullptr ? self->saved_->attributeDecl : xmlSAX2AttributeDecl;
        if (next != nullptr)
            next(context, element, name, type, def, defaultValue, tree);
        else
            xmlFreeEnumeration(tree);
    }

    static void elementDecl(void* context, const xmlChar* name, int type,
                            xmlElementContentPtr content) {
        Self* self = Self::of(context);
        if (self != nullptr && name != nullptr) {
            self->pipeline_.guard([&] {
                self->known_.clear();
                Self::Element& declared = self->elements_[text(name)];
                if (!declared.contentDeclared) {
                    declared.contentDeclared = true;
                    declared.contentType = type;
                    auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
                    declared.contentInParameterEntity =
                        inExternalMarkup(ctxt) && ctxt->inSubset != 2;
                }
            });
        }
        elementDeclSAXFunc next = self != nullptr ? self->saved_->elementDecl : xmlSAX2ElementDecl;
        if (next != nullptr)
            next(context, name, type, content);
    }

    static void entityDecl(void* context, const xmlChar* name, int type, const xmlChar* publicId,
                           const xmlChar* systemId, xmlChar* content) {
        Self* self = Self::of(context);
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        if (self != nullptr && name != nullptr && ctxt != nullptr && ctxt->myDoc != nullptr &&
            ctxt->inSubset == 1 && inExternalMarkup(ctxt) &&
            type != XML_INTERNAL_PARAMETER_ENTITY && type != XML_EXTERNAL_PARAMETER_ENTITY &&
            xmlGetDocEntity(ctxt->myDoc, name) == nullptr)
            self->pipeline_.guard([&] { self->entitiesInParameterEntities_.insert(text(name)); });
        entityDeclSAXFunc next = self != nullptr ? self->saved_->entityDecl : xmlSAX2EntityDecl;
        if (next != nullptr)
            next(context, name, type, publicId, systemId, content);
    }

    // An external markup declaration: one in the external subset or in the text of a parameter
    // entity, external or internal (XML 1.0, 2.9). Each parameter entity is an input above the
    // document's own.
    static bool inExternalMarkup(xmlParserCtxtPtr ctxt) {
        return ctxt != nullptr && (ctxt->inSubset == 2 || ctxt->inputNr > 1);
    }

    static QString blankReferenceReason(const Self::Open& open) {
        return QStringLiteral(
                   "Element %1 content does not follow the DTD: a character "
                   "reference to white space is character data, which element "
                   "content does not allow")
            .arg(shown(open.name));
    }
};

ValidityConstraints::ValidityConstraints(ParsePipeline& pipeline)
    : pipeline_(pipeline), context_(pipeline.context()), saved_(std::make_unique<Saved>()) {
    xmlSAXHandlerPtr sax = context_->sax;
    Saved& next = *saved_;
    next.sax = sax;
    next.startElementNs =
        ChainHandler(sax->startElementNs, &ValidityHooks::startElement, xmlSAX2StartElementNs);
    next.endElementNs =
        ChainHandler(sax->endElementNs, &ValidityHooks::endElement, xmlSAX2EndElementNs);
    next.characters = ChainHandler(sax->characters, &ValidityHooks::characters, xmlSAX2Characters);
    next.getEntity = ChainHandler(sax->getEntity, &ValidityHooks::getEntity, xmlSAX2GetEntity);
    next.attributeDecl =
        ChainHandler(sax->attributeDecl, &ValidityHooks::attributeDecl, xmlSAX2AttributeDecl);
    next.elementDecl =
        ChainHandler(sax->elementDecl, &ValidityHooks::elementDecl, xmlSAX2ElementDecl);
    next.entityDecl = ChainHandler(sax->entityDecl, &ValidityHooks::entityDecl, xmlSAX2EntityDecl);
    pipeline_.validity = this;
}

ValidityConstraints::~ValidityConstraints() {
    pipeline_.validity = nullptr;
    putBackContentHandlers();
    const Saved& next = *saved_;
    UnchainHandler(next.sax->getEntity, &ValidityHooks::getEntity, next.getEntity);
    UnchainHandler(next.sax->attributeDecl, &ValidityHooks::attributeDecl, next.attributeDecl);
    UnchainHandler(next.sax->elementDecl, &ValidityHooks::elementDecl, next.elementDecl);
    UnchainHandler(next.sax->entityDecl, &ValidityHooks::entityDecl, next.entityDecl);
}

void ValidityConstraints::stepAsideFromContent() {
    if (aside_)
        return;
    aside_ = true;
    rootSeen_ = true;
    open_.clear();
    // A layer installed on top may still call these hooks (they then only pass the calls on).
    putBackContentHandlers();
}

void ValidityConstraints::putBackContentHandlers() {
    const Saved& next = *saved_;
    UnchainHandler(next.sax->startElementNs, &ValidityHooks::startElement, next.startElementNs);
    UnchainHandler(next.sax->endElementNs, &ValidityHooks::endElement, next.endElementNs);
    UnchainHandler(next.sax->characters, &ValidityHooks::characters, next.characters);
    UnchainHandler(next.sax->ignorableWhitespace, &ValidityHooks::characters, next.characters);
}

ValidityConstraints* ValidityConstraints::of(const void* context) {
    const ParsePipeline* pipeline = ParsePipeline::of(context);
    return pipeline != nullptr ? pipeline->validity : nullptr;
}

bool ValidityConstraints::validating() const {
    return context_ != nullptr && context_->validate != 0 && context_->myDoc != nullptr;
}

const ValidityConstraints::Known& ValidityConstraints::known(const unsigned char* localname,
                                                             const unsigned char* prefix) {
    // The parser interns names: one look-up per element name, checked by its text (an entity's
    // parser may have names of its own).
    const auto same = [](const QByteArray& known, const xmlChar* name) {
        return name == nullptr
                   ? known.isNull()
                   : !known.isNull() &&
                         std::strcmp(known.constData(), reinterpret_cast<const char*>(name)) == 0;
    };
    Known& entry = known_[localname];
    if (entry.element == nullptr || !same(entry.localname, localname) ||
        !same(entry.prefix, prefix)) {
        entry.localname = text(localname);
        entry.prefix = prefix != nullptr ? text(prefix) : QByteArray();
        entry.name = qualified(prefix, localname);
        static const Element kUndeclared;
        const auto declared = elements_.constFind(entry.name);
        entry.element = declared != elements_.constEnd() ? &declared.value() : &kUndeclared;
    }
    return entry;
}

void ValidityConstraints::checkStartTag(_xmlParserCtxt* ctxt, const Known& known, int attributes,
                                        int defaulted, const unsigned char** values) {
    if (hasFinding_)
        return;  // only the first finding is reported
    const QByteArray& element = known.name;
    const Element& declaredHere = *known.element;
    const int specified = attributes - defaulted;
    for (int i = 0; i < attributes && declaredHere.nameValued; ++i) {
        const xmlChar** attribute = values + 5 * i;
        const Declared* declaration = declaredHere.find(attribute[1], attribute[0]);
        if (declaration == nullptr || !isNameValued(declaration->type))
            continue;
        if (std::memchr(attribute[3], ':', attribute[4] - attribute[3]) == nullptr && i < specified)
            continue;
        const QByteArray value = text(attribute[3], attribute[4]);
        if (value.contains(':'))
            found(ctxt, XML_NS_ERR_COLON,
                  QStringLiteral("Attribute %1 of element %2 is of type %3, and its value \"%4\" "
                                 "holds a colon, which no such value may hold in a document "
                                 "that uses namespaces")
                      .arg(shown(declaration->name), shown(element),
                           QString::fromLatin1(typeName(declaration->type)), shown(value)));
        if (i >= specified && (declaration->type == XML_ATTRIBUTE_ENTITY ||
                               declaration->type == XML_ATTRIBUTE_ENTITIES))
            checkUsedEntityDefault(ctxt, declaration->name, declaration->type, value);
    }
    // What the parser no longer shows: the values as written, defaults it took, and
    // "xmlns:xml".
    const bool standalone = context_->standalone == 1;
    const bool writtenValues = standalone && known.element->externalTyped;
    const bool defaults = standalone && known.element->externalDefault;
    const bool emptyNamespaces = known.element->emptyNamespaceDefault;
    if (!writtenValues && !defaults && !emptyNamespaces && !hasXmlnsXml(ctxt))
        return;
    QList<QByteArrayView> names;
    WrittenAttributes written(ctxt->input);
    for (WrittenAttribute attribute; written.next(attribute);) {
        if (defaults || emptyNamespaces)
            names.append(attribute.name);
        const Declared* declaration = declaredHere.find(attribute.name);
        if (attribute.name == "xmlns:xml" && declaration == nullptr)
            found(ctxt, XML_DTD_UNKNOWN_ATTRIBUTE,
                  QStringLiteral("No declaration for attribute xmlns:xml of element %1")
                      .arg(shown(element)));
        if (!writtenValues || declaration == nullptr || !declaration->external ||
            declaration->type == XML_ATTRIBUTE_CDATA)
            continue;
        SpaceRuns runs;
        addNormalised(context_->myDoc, attribute.value, attribute.valueEnd, 0, runs);
        if (runs.changed())
            found(ctxt, XML_DTD_NOT_STANDALONE,
                  QStringLiteral("standalone: %1 on %2 value had to be normalized based on "
                                 "external subset declaration")
                      .arg(shown(attribute.name.toByteArray()), shown(element)));
    }
    for (const Declared& declaration : declaredHere.attributes)
        if (declaration.emptyNamespace && !names.contains(QByteArrayView(declaration.name)))
            found(ctxt, XML_NS_ERR_EMPTY,
                  QStringLiteral("%1: Empty XML namespace is not allowed, and the DTD gives "
                                 "it as the default")
                      .arg(shown(declaration.name)));
    if (!defaults)
        return;
    for (const Declared& declaration : declaredHere.attributes)
        if (declaration.defaultUnchecked && !names.contains(QByteArrayView(declaration.name)))
            found(ctxt, XML_DTD_STANDALONE_DEFAULTED,
                  QStringLiteral("standalone: attribute %1 on %2 defaulted from external "
                                 "markup")
                      .arg(shown(declaration.name), shown(element)));
}

bool ValidityConstraints::hasXmlnsXml(_xmlParserCtxt* ctxt) const {
    // A cheap look at the tag before reading it: most tags of a validated document hold none.
    const xmlParserInput* in = ctxt != nullptr ? ctxt->input : nullptr;
    if (in == nullptr || in->base == nullptr || in->cur == nullptr)
        return false;
    constexpr char kName[] = "xmlns:xml";
    constexpr std::ptrdiff_t kLength = sizeof kName - 1;
    // Compared only where a colon stands (the sixth character of the name).
    for (const xmlChar* p = in->cur - 1; p >= in->base && *p != '<'; --p)
        if (*p == ':' && p - in->base >= 6 && in->cur - p > kLength - 5 &&
            std::memcmp(p - 5, kName, kLength) == 0 && isBlank(p[-6]))
            return true;
    return false;
}

void ValidityConstraints::checkUsedEntityDefault(_xmlParserCtxt* ctxt, const QByteArray& name,
                                                 int type, const QByteArray& value) {
    const char* kind = type == XML_ATTRIBUTE_ENTITY ? "ENTITY" : "ENTITIES";
    for (const QByteArray& entityName : value.split(' ')) {
        if (entityName.isEmpty())
            continue;
        xmlEntityPtr entity = xmlGetDocEntity(
            context_->myDoc, reinterpret_cast<const xmlChar*>(entityName.constData()));
        if (entity == nullptr)
            found(ctxt, XML_DTD_UNKNOWN_ENTITY,
                  QStringLiteral("%1 attribute %2 reference an unknown entity \"%3\"")
                      .arg(QString::fromLatin1(kind), shown(name), shown(entityName)));
        else if (entity->etype != XML_EXTERNAL_GENERAL_UNPARSED_ENTITY)
            found(ctxt, XML_DTD_ENTITY_TYPE,
                  QStringLiteral("%1 attribute %2 reference an entity \"%3\" of wrong type")
                      .arg(QString::fromLatin1(kind), shown(name), shown(entityName)));
    }
}

bool ValidityConstraints::holdsBlankReference(const _xmlEntity* entity, int depth) const {
    if (entity == nullptr || entity->content == nullptr || depth >= kMaxEntityDepth)
        return false;
    const xmlChar* p = entity->content;
    const xmlChar* end = p + entity->length;
    int elements = 0;  // elements open in the text
    const auto skipPast = [&](const char* marker) {
        const std::size_t length = std::strlen(marker);
        while (p < end && !(end - p >= static_cast<std::ptrdiff_t>(length) &&
                            std::memcmp(p, marker, length) == 0))
            ++p;
        p = end - p >= static_cast<std::ptrdiff_t>(length) ? p + length : end;
    };
    while (p < end) {
        if (*p == '<') {
            if (end - p >= 4 && std::memcmp(p, "<!--", 4) == 0) {
                skipPast("-->");
            } else if (end - p >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
                skipPast("]]>");
            } else if (end - p >= 2 && p[1] == '?') {
                skipPast("?>");
            } else {
                const bool endTag = end - p >= 2 && p[1] == '/';
                xmlChar quote = 0;
                const xmlChar* close = p + 1;
                for (; close < end && (quote != 0 || *close != '>'); ++close)
                    if (quote != 0 && *close == quote)
                        quote = 0;
                    else if (quote == 0 && (*close == '"' || *close == '\''))
                        quote = *close;
                const bool emptyTag = close < end && close[-1] == '/';
                elements += endTag ? -1 : emptyTag ? 0 : 1;
                p = close < end ? close + 1 : end;
            }
            continue;
        }
        if (*p == '&' && elements == 0) {
            const xmlChar* after = nullptr;
            const int c = characterReference(p, end, &after);
            if (c >= 0) {
                if (isBlankCode(c))
                    return true;
                p = after;
                continue;
            }
            const QByteArray name = entityNameAt(p, end);
            if (isPredefined(name))
                continue;
            const xmlEntityPtr inner = xmlGetDocEntity(
                context_->myDoc, reinterpret_cast<const xmlChar*>(name.constData()));
            if (inner != nullptr && inner->etype == XML_INTERNAL_GENERAL_ENTITY &&
                holdsBlankReference(inner, depth + 1))
                return true;
            continue;
        }
        ++p;
    }
    return false;
}

void ValidityConstraints::found(_xmlParserCtxt* at, int code, const QString& reason) {
    if (hasFinding_)
        return;
    XmlErrorCapture* capture = XmlErrorCapture::of(context_);
    if (capture == nullptr)
        return;
    // The text of an internal entity has no address: the finding stands at the reference.
    if (at == nullptr || at->input == nullptr || at->input->filename == nullptr)
        at = context_;
    finding_ = capture->reportAt(at, code, reason);
    hasFinding_ = true;
}

bool ValidityConstraints::reportTo(XmlErrorCapture& capture) const {
    if (!hasFinding_ || capture.hasError())
        return false;
    capture.recordAt(finding_.errorCode, finding_.reason, finding_.url, finding_.line,
                     finding_.linepos, finding_.filepos, finding_.srcText);
    return true;
}
