#include "parse/StartTagLimits.h"

#include "parse/Libxml.h"
#include "parse/ParsePipeline.h"
#include "parse/XmlErrorCapture.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

QString namespacesInScope() {
    return QStringLiteral(
               "More than %1 namespace declarations in scope at once: the check's "
               "limit is %2 namespace declarations in one start tag, and twice as "
               "many in scope")
        .arg(2 * kMaxNamespacesPerStartTag)
        .arg(kMaxNamespacesPerStartTag);
}

// The most namespace declarations in one start tag of the text: the names that begin with
// "xmlns" between the "<" of a start tag and its end, outside the attribute values.
int mostDeclarationsInATag(const unsigned char* text) {
    int most = 0;
    int count = 0;
    bool inTag = false;
    unsigned char quote = 0;
    for (const unsigned char* c = text; *c != 0; ++c) {
        if (quote != 0) {
            quote = *c == quote ? 0 : quote;
        } else if (*c == '<') {
            // Not end tags, comments, CDATA sections, processing instructions.
            inTag = c[1] != '/' && c[1] != '!' && c[1] != '?';
            count = 0;
        } else if (!inTag) {
            continue;
        } else if (*c == '>') {
            inTag = false;
        } else if (*c == '"' || *c == '\'') {
            quote = *c;
        } else if (*c == 'x' && std::strncmp(reinterpret_cast<const char*>(c), "xmlns", 5) == 0) {
            most = std::max(most, ++count);
        }
    }
    return most;
}

QString tooMany(const QString& counted, const char* what, int limit) {
    return QStringLiteral("%1 %2: the check's limit is %3 %2 in one start tag")
        .arg(counted, QString::fromLatin1(what))
        .arg(limit);
}

}  // namespace

struct StartTagLimits::Next {
    xmlSAXHandlerPtr sax = nullptr;
    startElementNsSAX2Func startElementNs = nullptr;
    attributeDeclSAXFunc attributeDecl = nullptr;
    getEntitySAXFunc getEntity = nullptr;
};

struct StartTagHooks {
    static void startElement(void* context, const xmlChar* localname, const xmlChar* prefix,
                             const xmlChar* uri, int namespaces, const xmlChar** declared,
                             int attributes, int defaulted, const xmlChar** values) {
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        StartTagLimits* limits = StartTagLimits::of(context);
        if (limits == nullptr)
            return xmlSAX2StartElementNs(context, localname, prefix, uri, namespaces, declared,
                                         attributes, defaulted, values);
        const int specified = attributes - defaulted;
        if (specified <= kMaxAttributesPerStartTag && namespaces <= kMaxNamespacesPerStartTag)
            return limits->next_->startElementNs(context, localname, prefix, uri, namespaces,
                                                 declared, attributes, defaulted, values);
        limits->pipeline_.guard([&] {
            if (specified > kMaxAttributesPerStartTag)
                limits->refuse(ctxt, tooMany(QStringLiteral("A start tag with %1").arg(specified),
                                             "attributes", kMaxAttributesPerStartTag));
            else
                limits->refuse(ctxt, tooMany(QStringLiteral("A start tag with %1").arg(namespaces),
                                             "namespace declarations", kMaxNamespacesPerStartTag));
        });
    }

    static void attributeDecl(void* context, const xmlChar* element, const xmlChar* name, int type,
                              int def, const xmlChar* defaultValue, xmlEnumerationPtr tree) {
        StartTagLimits* limits = StartTagLimits::of(context);
        if (limits == nullptr)
            return xmlSAX2AttributeDecl(context, element, name, type, def, defaultValue, tree);
        if (defaultValue != nullptr) {
            try {
                int& count = limits->defaults_[QByteArray(reinterpret_cast<const char*>(element))];
                limits->mostDefaults_ = std::max(limits->mostDefaults_, ++count);
            } catch (...) {
                // Out of memory: the count stays as it was, and the check fails soon after.
            }
        }
        limits->next_->attributeDecl(context, element, name, type, def, defaultValue, tree);
    }

    static xmlEntityPtr getEntity(void* context, const xmlChar* name) {
        // Only a reference in the document's content brings the entity's tags in (the DTD
        // looks entities up too, when they are declared).
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        StartTagLimits* limits = StartTagLimits::of(context);
        if (limits == nullptr)
            return xmlSAX2GetEntity(context, name);
        bool refused = false;
        limits->pipeline_.guard([&] {
            if (!limits->crowdedEntities_.isEmpty() && ctxt != nullptr && ctxt->inSubset == 0 &&
                name != nullptr &&
                limits->crowdedEntities_.contains(
                    QByteArray(reinterpret_cast<const char*>(name)))) {
                limits->refuse(ctxt, tooMany(QStringLiteral("A start tag with more than %1")
                                                 .arg(2 * kMaxNamespacesPerStartTag),
                                             "namespace declarations", kMaxNamespacesPerStartTag));
                refused = true;
            }
        });
        return refused ? nullptr : limits->next_->getEntity(context, name);
    }
};

StartTagLimits::StartTagLimits(ParsePipeline& pipeline)
    : pipeline_(pipeline), context_(pipeline.context()), next_(std::make_unique<Next>()) {
    xmlSAXHandlerPtr sax = context_->sax;
    next_->sax = sax;
    next_->startElementNs =
        ChainHandler(sax->startElementNs, &StartTagHooks::startElement, xmlSAX2StartElementNs);
    next_->attributeDecl =
        ChainHandler(sax->attributeDecl, &StartTagHooks::attributeDecl, xmlSAX2AttributeDecl);
    next_->getEntity = ChainHandler(sax->getEntity, &StartTagHooks::getEntity, xmlSAX2GetEntity);
    pipeline_.startTags = this;
}

StartTagLimits::~StartTagLimits() {
    pipeline_.startTags = nullptr;
    xmlSAXHandlerPtr sax = next_->sax;
    UnchainHandler(sax->startElementNs, &StartTagHooks::startElement, next_->startElementNs);
    UnchainHandler(sax->attributeDecl, &StartTagHooks::attributeDecl, next_->attributeDecl);
    UnchainHandler(sax->getEntity, &StartTagHooks::getEntity, next_->getEntity);
}

void StartTagLimits::watchEntityContext(_xmlParserCtxt* context) {
    if (context != nullptr && context != context_)
        entityContexts_.push_back(context);
}

void StartTagLimits::forgetEntityContext(_xmlParserCtxt* context) {
    const auto last = std::find(entityContexts_.rbegin(), entityContexts_.rend(), context);
    if (last != entityContexts_.rend())
        entityContexts_.erase(std::next(last).base());
}

void StartTagLimits::noteEntity(const unsigned char* name, const unsigned char* content) {
    if (name == nullptr || content == nullptr)
        return;
    if (mostDeclarationsInATag(content) > 2 * kMaxNamespacesPerStartTag)
        crowdedEntities_.append(QByteArray(reinterpret_cast<const char*>(name)));
}

void StartTagLimits::refuse(_xmlParserCtxt* at, const QString& reason) {
    if (!refused_) {
        refused_ = true;
        if (XmlErrorCapture* capture = XmlErrorCapture::of(at))
            capture->recordLoadFailure(at, XML_ERR_NO_MEMORY, reason, QByteArray());
    }
    // As when the parser stops itself: no more of the tree is built, nothing more reported.
    for (_xmlParserCtxt* stopped : {at, context_}) {
        libxml::StopParse(stopped);
    }
}

bool StartTagLimits::mayGrow(const void* block, std::size_t size) {
    StartTagLimits* limits = this;
    if (block == nullptr)
        return true;
    const xmlParserCtxtPtr ctxt = limits->context_;
    // The table doubles when it is full: it is refused growth once it would hold more than the
    // limit and the most defaults of an element (which come into the same table).
    const long long allowed = 2LL * (kMaxAttributesPerStartTag + limits->mostDefaults_) + 16;
    const std::size_t before = std::exchange(limits->lastGrowth_, size);
    const std::size_t attributeRoom = libxml::AttributeRoom(ctxt, block, size, before);
    if (attributeRoom > static_cast<std::size_t>(allowed)) {
        limits->refuse(
            ctxt,
            tooMany(QStringLiteral("A start tag with more than %1").arg(kMaxAttributesPerStartTag),
                    "attributes", kMaxAttributesPerStartTag));
        return false;
    }
    // Two pointers a declaration, of every element still open: refused growth once it would
    // hold more than twice what one start tag may hold. (The document's table and those of
    // external entities; internal entities are judged by their text, see noteEntity.)
    const auto isNamespaceTable = [block](const _xmlParserCtxt* c) {
        return libxml::IsNamespaceTable(c, block);
    };
    if (size / (2 * sizeof(xmlChar*)) > static_cast<std::size_t>(4 * kMaxNamespacesPerStartTag) &&
        (isNamespaceTable(ctxt) || std::any_of(limits->entityContexts_.begin(),
                                               limits->entityContexts_.end(), isNamespaceTable))) {
        limits->refuse(ctxt, namespacesInScope());
        return false;
    }
    return true;
}
