// Checking one file: a fresh parser context and document per file, loaded with the DTD
// (validated when the document declares one), entities substituted, namespaces enforced.

#include "check/XmlCheck.h"

#include "check/InputFile.h"
#include "check/XmlErrorCapture.h"
#include "check/XmlString.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>

#include <memory>
#include <new>

namespace {

// Load external DTDs and entities, substitute entities (so external parsed entities are read
// and checked), keep line numbers past 65535. Never XML_PARSE_HUGE: it would lift the limits
// that refuse entity bombs and runaway text.
constexpr int kParseOptions =
    XML_PARSE_DTDLOAD | XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_BIG_LINES;

struct ContextFree {
    void operator()(xmlParserCtxtPtr c) const { xmlFreeParserCtxt(c); }
};
struct DocumentFree {
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
using ParserContext = std::unique_ptr<xmlParserCtxt, ContextFree>;
using Document = std::unique_ptr<xmlDoc, DocumentFree>;

// A document that declares a DOCTYPE is validated against its DTD while it is parsed, as a
// validating DOM parser does; one without is only checked for well-formedness.
void internalSubsetThenValidate(void* context, const xmlChar* name, const xmlChar* externalId,
                                const xmlChar* systemId) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
    xmlSAX2InternalSubset(ctxt, name, externalId, systemId);
    ctxt->validate = 1;
}

// System identifiers are URI references, but documents often hold plain file names with
// blanks or letters beyond ASCII; escape those (and only those) so that they resolve.
constexpr char kKeptInUris[] = ";/?:@&=+$,#%[]";

XmlString escapedReference(const xmlChar* systemId) {
    return XmlString(systemId != nullptr
                         ? xmlURIEscapeStr(systemId, reinterpret_cast<const xmlChar*>(kKeptInUris))
                         : nullptr);
}

xmlParserInputPtr resolveEscaped(void* context, const xmlChar* publicId, const xmlChar* systemId) {
    const XmlString escaped = escapedReference(systemId);
    return xmlSAX2ResolveEntity(context, publicId, escaped ? escaped.get() : systemId);
}

void entityDeclEscaped(void* context, const xmlChar* name, int type, const xmlChar* publicId,
                       const xmlChar* systemId, xmlChar* content) {
    const XmlString escaped = escapedReference(systemId);
    xmlSAX2EntityDecl(context, name, type, publicId, escaped ? escaped.get() : systemId, content);
}

// The report of a file that could not even be opened.
ParseErrorReport openFailure(const QString& path, const QString& why) {
    ParseErrorReport report;
    report.errorCode = XML_IO_LOAD_ERROR;
    report.reason = ReasonText(QStringLiteral("failed to load \"%1\": %2").arg(path, why));
    report.url = path;
    return report;
}

void checkInto(const QString& path, CheckResult& result) {
    const QByteArray name = QFile::encodeName(path);
    InputFile file;
    if (!file.open(name)) {
        result.error = openFailure(path, file.error());
        return;
    }

    XmlErrorCapture capture;
    ParserContext ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        result.failedStep = 100;
        result.failure = QStringLiteral("Out of memory: no XML parser could be created");
        return;
    }
    ctxt->sax->internalSubset = internalSubsetThenValidate;
    ctxt->sax->resolveEntity = resolveEscaped;
    ctxt->sax->entityDecl = entityDeclEscaped;
    capture.addContext(ctxt.get());

    // The document's address as a file URI, so that relative references in it resolve
    // against its folder whatever characters the path holds (blanks, "%", "#" ...).
    const QByteArray documentUrl =
        QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
    capture.nameUrl(documentUrl, path);

    const Document doc(xmlCtxtReadIO(ctxt.get(), ReadInputFile, nullptr, &file,
                                     documentUrl.constData(), nullptr, kParseOptions));
    if (capture.outOfMemory() || ctxt->errNo == XML_ERR_NO_MEMORY) {
        result.failedStep = 102;
        result.failure = QStringLiteral("Out of memory while loading %1").arg(path);
        return;
    }
    const bool valid = ctxt->validate == 0 || ctxt->valid != 0;
    result.loaded = doc && ctxt->wellFormed && ctxt->nsWellFormed && valid && !capture.hasError();
    if (result.loaded)
        return;
    if (!capture.hasError())
        capture.recordOwn(ctxt->errNo != 0 ? ctxt->errNo : XML_ERR_INTERNAL_ERROR,
                          QStringLiteral("the document could not be loaded"), path);
    result.error = capture.report();
}

}  // namespace

void XmlFree::operator()(unsigned char* text) const {
    xmlFree(text);
}

CheckResult CheckXmlFile(const QString& path) {
    InitXmlChecking();
    CheckResult result;
    try {
        checkInto(path, result);
    } catch (const std::bad_alloc&) {
        result = CheckResult{};
        result.failedStep = 102;
        result.failure = QStringLiteral("Out of memory while loading %1").arg(path);
    }
    return result;
}

QString ErrorReportText(const ParseErrorReport& r) {
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("Your XML Document failed to load") +
           QStringLiteral("due the following error.") + crlf + QStringLiteral("Error #: ") +
           QString::number(r.errorCode) + QStringLiteral(": ") + r.reason +
           QStringLiteral("Line #: ") + QString::number(r.line) + crlf +
           QStringLiteral("Line Position: ") + QString::number(r.linepos) + crlf +
           QStringLiteral("Position In File: ") + QString::number(r.filepos) + crlf +
           QStringLiteral("Source Text: ") + r.srcText + crlf + QStringLiteral("Document URL: ") +
           r.url;
}
