// Process-wide set-up of the parser, and the loader of external DTDs and entities: local
// files and the system XML catalog only, never the network, regular files only. The catalogs
// themselves are read from local regular files only as well.

#include "files/PathUtil.h"
#include "parse/ExternalInput.h"
#include "parse/InputFile.h"
#include "parse/Libxml.h"
#include "parse/LoadedFiles.h"
#include "parse/ParserMemory.h"
#include "parse/ParserSetup.h"
#include "parse/XmlErrorCapture.h"
#include "parse/XmlString.h"

#include <QFile>

#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>

#include <memory>
#include <mutex>
#include <set>

namespace {

int closeEntity(void* source) {
    delete static_cast<ByteSource*>(source);
    return 0;
}

bool startsWith(const QByteArray& text, const char* prefix) {
    return text.startsWith(prefix);
}

// True when the reference names a scheme ("http:", "ftp:", "urn:" ...).
bool hasScheme(const QByteArray& reference) {
    qsizetype i = 0;
    while (i < reference.size() &&
           (std::isalnum(static_cast<unsigned char>(reference[i])) || reference[i] == '+' ||
            reference[i] == '-' || reference[i] == '.'))
        ++i;
    return i > 0 && i < reference.size() && reference[i] == ':' &&
           std::isalpha(static_cast<unsigned char>(reference[0]));
}

QByteArray unescaped(const QByteArray& reference) {
    return UnescapedReference(reference);
}

// The local files a reference may name, in the order to try them; none for a reference that
// is not local.
QList<QByteArray> localCandidates(const QByteArray& reference) {
    if (startsWith(reference, "file://localhost/"))
        return {unescaped(reference.mid(16))};
    if (startsWith(reference, "file:///"))
        return {unescaped(reference.mid(7))};
    if (startsWith(reference, "file:/") && !startsWith(reference, "file://"))
        return {unescaped(reference.mid(5))};
    if (hasScheme(reference))
        return {};
    // A plain path, possibly escaped as a URI by the parser: as it stands first.
    QList<QByteArray> candidates{reference};
    const QByteArray plain = unescaped(reference);
    if (plain != reference)
        candidates.append(plain);
    return candidates;
}

// The warnings told so far, and whom to tell.
std::mutex gWarningsLock;
std::set<QString> gWarningsTold;
XmlCheckWarningHandler gWarningHandler;

void warn(const QString& warning) {
    XmlCheckWarningHandler handler;
    {
        const std::lock_guard<std::mutex> hold(gWarningsLock);
        if (!gWarningsTold.insert(warning).second)
            return;
        handler = gWarningHandler;
    }
    if (handler)
        handler(warning);
}

// Every file that libxml2 opens by name itself comes here: the XML catalogs (the system's,
// those named in XML_CATALOG_FILES, and those they chain or delegate to). Only local regular
// files are read; a remote catalog is skipped, with a warning, and the resolution goes on with
// the other catalogs. (Documents, DTDs and entities never come here: the check reads documents
// itself and loadEntity reads the rest.)
xmlParserInputBufferPtr openCatalog(const char* uri, xmlCharEncoding encoding) {
    if (uri == nullptr)
        return nullptr;
    const QList<QByteArray> candidates = localCandidates(QByteArray(uri));
    if (candidates.isEmpty()) {
        warn(QStringLiteral("skipped the XML catalog \"%1\": catalogs are read from local files "
                            "only, never from the network")
                 .arg(QString::fromUtf8(uri)));
        return nullptr;
    }
    auto file = std::make_unique<InputFile>();
    for (const QByteArray& candidate : candidates) {
        if (!candidate.contains('\0') && file->open(candidate)) {
            NoteLoadedFile(candidate.constData());
            return xmlParserInputBufferCreateIO(ReadInputFile, closeEntity,
                                                static_cast<ByteSource*>(file.release()), encoding);
        }
    }
    return nullptr;  // as a missing catalog: the system may well have none
}

xmlParserInputBufferPtr openCatalogSafely(const char* uri, xmlCharEncoding encoding) {
    try {
        return openCatalog(uri, encoding);
    } catch (...) {
        return nullptr;
    }
}

void refuse(xmlParserCtxtPtr ctxt, int code, const QString& reason, const QByteArray& url) {
    if (XmlErrorCapture* capture = XmlErrorCapture::of(ctxt))
        capture->recordLoadFailure(ctxt, code, reason, url);
}

xmlParserInputPtr loadEntity(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
    if (ctxt == nullptr)
        return nullptr;
    if (XmlErrorCapture* capture = XmlErrorCapture::of(ctxt))
        capture->addContext(ctxt);
    const QByteArray asked = url != nullptr ? QByteArray(url) : QByteArray(id);
    const QByteArray catalogCopy = CatalogEntityLookup(url, id);
    const QByteArray reference = catalogCopy.isEmpty() ? QByteArray(url) : catalogCopy;
    if (reference.isEmpty()) {
        refuse(ctxt, XML_IO_LOAD_ERROR,
               QStringLiteral("failed to load external entity \"%1\": it has no system "
                              "identifier and the XML catalog has no copy of it")
                   .arg(QString::fromUtf8(asked)),
               asked);
        return nullptr;
    }
    if (HoldsEscapedNul(reference)) {
        refuse(ctxt, XML_IO_LOAD_ERROR, EscapedNulReason(reference), asked);
        return nullptr;
    }
    const QList<QByteArray> candidates = localCandidates(reference);
    if (candidates.isEmpty()) {
        refuse(ctxt, XML_IO_NETWORK_ATTEMPT,
               QStringLiteral("failed to load external entity \"%1\": the XML catalog has no "
                              "local copy of it, and nothing is loaded from the network")
                   .arg(QString::fromUtf8(asked)),
               asked);
        return nullptr;
    }
    auto file = std::make_unique<InputFile>();
    QByteArray opened;
    QString why;
    for (const QByteArray& candidate : candidates) {
        if (file->open(candidate)) {
            NoteLoadedFile(candidate.constData());
            opened = candidate;
            break;
        }
        if (why.isEmpty())
            why = file->error();
        NoteMissingFile(candidate);
    }
    if (opened.isEmpty()) {
        refuse(ctxt, XML_IO_LOAD_ERROR,
               QStringLiteral("failed to load external entity \"%1\": %2")
                   .arg(QString::fromUtf8(reference), why),
               asked);
        return nullptr;
    }
    // From here the parser's input buffer owns the file and closes it through closeEntity
    // (also when creating the buffer fails).
    auto input = std::make_unique<ExternalInput>(std::move(file), QFile::decodeName(opened), ctxt);
    xmlParserInputBufferPtr buffer = xmlParserInputBufferCreateIO(
        ReadInputFile, closeEntity, static_cast<ByteSource*>(input.release()),
        XML_CHAR_ENCODING_NONE);
    if (buffer == nullptr)
        return nullptr;
    xmlParserInputPtr stream = xmlNewIOInputStream(ctxt, buffer, XML_CHAR_ENCODING_NONE);
    if (stream == nullptr) {
        xmlFreeParserInputBuffer(buffer);
        return nullptr;
    }
    // References inside the entity resolve against its own address.
    stream->filename =
        reinterpret_cast<char*>(xmlStrdup(reinterpret_cast<const xmlChar*>(reference.constData())));
    if (XmlErrorCapture* capture = XmlErrorCapture::of(ctxt))
        capture->nameUrl(reference, QFile::decodeName(opened));
    return stream;
}

xmlParserInputPtr loadEntitySafely(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
    // No C++ exception may cross the parser.
    try {
        return loadEntity(url, id, ctxt);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

void InitXmlChecking() {
    static std::once_flag once;
    std::call_once(once, [] {
        InstallParserAllocator();
        xmlInitParser();
        xmlInitializeCatalog();
        // Catalogs named by a document's own processing instruction are not consulted.
        xmlCatalogSetDefaults(XML_CATA_ALLOW_GLOBAL);
        libxml::AllowDeepDocuments();
        xmlSetExternalEntityLoader(loadEntitySafely);
        // libxml2 keeps the opener of files by name per thread: set it for this thread and as
        // the default of every thread that starts later (the workers of a run), which would
        // otherwise fetch remote catalogs themselves.
        xmlParserInputBufferCreateFilenameDefault(openCatalogSafely);
        xmlThrDefParserInputBufferCreateFilenameDefault(openCatalogSafely);
    });
}

QString AddXmlCatalog(const QString& path) {
    InitXmlChecking();
    static std::mutex lock;
    static std::set<QString> added;
    const std::lock_guard<std::mutex> hold(lock);
    if (added.count(path) != 0)
        return {};
    // libxml2 reads a catalog only when it is first consulted, in the middle of a check, and
    // skips one that does not parse: it is parsed here first, alone, DTD unread.
    const std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(xmlNewParserCtxt(),
                                                                            &xmlFreeParserCtxt);
    if (!ctxt)
        throw std::bad_alloc();
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlCtxtReadFile(ctxt.get(), PathBytes(path).constData(), nullptr,
                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        &xmlFreeDoc);
    if (!doc || ctxt->wellFormed == 0) {
        const xmlError* error = xmlCtxtGetLastError(ctxt.get());
        if (error == nullptr || error->message == nullptr)
            return QStringLiteral("it is not a well-formed XML document");
        return QStringLiteral("%1: %2")
            .arg(error->line)
            .arg(QString::fromUtf8(error->message).trimmed());
    }
    added.insert(path);
    xmlLoadCatalog(PathBytes(path).constData());
    return {};
}

void SetXmlCheckWarningHandler(XmlCheckWarningHandler handler) {
    const std::lock_guard<std::mutex> hold(gWarningsLock);
    gWarningHandler = std::move(handler);
}
