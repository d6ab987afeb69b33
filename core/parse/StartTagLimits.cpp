#include "parse/StartTagLimits.h"

#include "parse/XmlErrorCapture.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

thread_local StartTagLimits* tCurrent = nullptr;

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

namespace {
// What a start tag goes on to once it passed the limits: the handler that was installed before.
thread_local startElementNsSAX2Func tNextStart = xmlSAX2StartElementNs;
}  // namespace

struct StartTagHooks {
    static void startElement(void* context, const xmlChar* localname, const xmlChar* prefix,
                             const xmlChar* uri, int namespaces, const xmlChar** declared,
                             int attributes, int defaulted, const xmlChar** values) {
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        StartTagLimits* limits = StartTagLimits::current();
        const int specified = attributes - defaulted;
        if (limits != nullptr && specified > kMaxAttributesPerStartTag) {
            limits->refuse(ctxt, tooMany(QStringLiteral("A start tag with %1").arg(specified),
                                         "attributes", kMaxAttributesPerStartTag));
            return;
        }
        if (limits != nullptr && namespaces > kMaxNamespacesPerStartTag) {
            limits->refuse(ctxt, tooMany(QStringLiteral("A start tag with %1").arg(namespaces),
                                         "namespace declarations", kMaxNamespacesPerStartTag));
            return;
        }
        tNextStart(context, localname, prefix, uri, namespaces, declared, attributes, defaulted,
                   values);
    }

    static void attributeDecl(void* context, const xmlChar* element, const xmlChar* name, int type,
                              int def, const xmlChar* defaultValue, xmlEnumerationPtr tree) {
        StartTagLimits* limits = StartTagLimits::current();
        if (limits != nullptr && defaultValue != nullptr) {
            try {
                int& count = limits->defaults_[QByteArray(reinterpret_cast<const char*>(element))];
                limits->mostDefaults_ = std::max(limits->mostDefaults_, ++count);
            } catch (...) {
                // Out of memory: the count stays as it was, and the check fails soon after.
            }
        }
        xmlSAX2AttributeDecl(context, element, name, type, def, defaultValue, tree);
    }

    static xmlEntityPtr getEntity(void* context, const xmlChar* name) {
        // Only a reference in the document's content brings the entity's tags in (the DTD
        // looks entities up too, when they are declared).
        auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
        StartTagLimits* limits = StartTagLimits::current();
        if (limits != nullptr && !limits->crowdedEntities_.isEmpty() && ctxt != nullptr &&
            ctxt->inSubset == 0 && name != nullptr &&
            limits->crowdedEntities_.contains(QByteArray(reinterpret_cast<const char*>(name)))) {
            limits->refuse(ctxt, tooMany(QStringLiteral("A start tag with more than %1")
                                             .arg(2 * kMaxNamespacesPerStartTag),
                                         "namespace declarations", kMaxNamespacesPerStartTag));
            return nullptr;
        }
        return xmlSAX2GetEntity(context, name);
    }
};

StartTagLimits::StartTagLimits(_xmlParserCtxt* context) : previous_(tCurrent), context_(context) {
    tCurrent = this;
}

StartTagLimits::~StartTagLimits() {
    tCurrent = previous_;
}

StartTagLimits* StartTagLimits::current() {
    return tCurrent;
}

void StartTagLimits::install(_xmlSAXHandler* sax) {
    if (sax->startElementNs != StartTagHooks::startElement)
        tNextStart = sax->startElementNs != nullptr ? sax->startElementNs : xmlSAX2StartElementNs;
    sax->startElementNs = StartTagHooks::startElement;
    sax->attributeDecl = StartTagHooks::attributeDecl;
    sax->getEntity = StartTagHooks::getEntity;
}

void StartTagLimits::watchEntityContext(_xmlParserCtxt* context) {
    StartTagLimits* limits = tCurrent;
    if (limits != nullptr && context != nullptr && context != limits->context_)
        limits->entityContexts_.push_back(context);
}

void StartTagLimits::forgetEntityContext(_xmlParserCtxt* context) {
    if (StartTagLimits* limits = tCurrent) {
        auto& contexts = limits->entityContexts_;
        const auto last = std::find(contexts.rbegin(), contexts.rend(), context);
        if (last != contexts.rend())
            contexts.erase(std::next(last).base());
    }
}

void StartTagLimits::noteEntity(const unsigned char* name, const unsigned char* content) {
    StartTagLimits* limits = tCurrent;
    if (limits == nullptr || name == nullptr || content == nullptr)
        return;
    if (mostDeclarationsInATag(content) > 2 * kMaxNamespacesPerStartTag)
        limits->crowdedEntities_.append(QByteArray(reinterpret_cast<const char*>(name)));
}

void StartTagLimits::refuse(_xmlParserCtxt* at, const QString& reason) {
    if (!refused_) {
        refused_ = true;
        if (XmlErrorCapture* capture = XmlErrorCapture::current())
            capture->recordLoadFailure(at, XML_ERR_NO_MEMORY, reason, QByteArray());
    }
    // As when the parser stops itself: no more of the tree is built, nothing more reported.
    for (_xmlParserCtxt* stopped : {at, context_}) {
        if (stopped != nullptr) {
            stopped->instate = XML_PARSER_EOF;
            stopped->disableSAX = 1;
        }
    }
}

bool StartTagLimits::mayGrow(const void* block, std::size_t size) {
    StartTagLimits* limits = tCurrent;
    if (limits == nullptr || limits->context_ == nullptr || block == nullptr)
        return true;
    const xmlParserCtxtPtr ctxt = limits->context_;
    // The table doubles when it is full: it is refused growth once it would hold more than the
    // limit and the most defaults of an element (which come into the same table).
    const long long allowed = 2LL * (kMaxAttributesPerStartTag + limits->mostDefaults_) + 16;
    constexpr std::size_t kAttributeBytes = 5 * sizeof(xmlChar*);  // five pointers each
    // The parser grows the attribute table and at once a table of one int an attribute: a
    // growth to a tenth of the one before marks the attribute table of any parser context of
    // this check, also one that parses an entity's text for an entity reference.
    const std::size_t before = std::exchange(limits->lastGrowth_, size);
    const bool attributeTables =
        before % (2 * kAttributeBytes) == 0 && size == before / kAttributeBytes * sizeof(int);
    const std::size_t attributeRoom = block == ctxt->atts ? size / kAttributeBytes
                                      : attributeTables   ? before / kAttributeBytes
                                                          : 0;
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
    const auto isNamespaceTable = [block](const _xmlParserCtxt* c) { return block == c->nsTab; };
    if (size / (2 * sizeof(xmlChar*)) > static_cast<std::size_t>(4 * kMaxNamespacesPerStartTag) &&
        (isNamespaceTable(ctxt) || std::any_of(limits->entityContexts_.begin(),
                                               limits->entityContexts_.end(), isNamespaceTable))) {
        limits->refuse(ctxt, namespacesInScope());
        return false;
    }
    return true;
}
