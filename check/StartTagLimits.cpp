#include "check/StartTagLimits.h"

#include "check/XmlErrorCapture.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <utility>

namespace {

thread_local StartTagLimits* tCurrent = nullptr;

QString tooMany(const QString& counted, const char* what, int limit) {
    return QStringLiteral("%1 %2: the check's limit is %3 %2 in one start tag")
        .arg(counted, QString::fromLatin1(what))
        .arg(limit);
}

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
        xmlSAX2StartElementNs(context, localname, prefix, uri, namespaces, declared, attributes,
                              defaulted, values);
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
    sax->startElementNs = StartTagHooks::startElement;
    sax->attributeDecl = StartTagHooks::attributeDecl;
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
    // hold more than twice what one start tag may hold. (Only the document's own table: the
    // contexts that parse entities come and go unseen.)
    if (block == ctxt->nsTab &&
        size / (2 * sizeof(xmlChar*)) > static_cast<std::size_t>(4 * kMaxNamespacesPerStartTag)) {
        limits->refuse(ctxt, QStringLiteral("More than %1 namespace declarations in scope at "
                                            "once: the check's limit is %2 namespace "
                                            "declarations in one start tag, and twice as many "
                                            "in scope")
                                 .arg(2 * kMaxNamespacesPerStartTag)
                                 .arg(kMaxNamespacesPerStartTag));
        return false;
    }
    return true;
}
