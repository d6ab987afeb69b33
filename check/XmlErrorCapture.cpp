#include "check/XmlErrorCapture.h"

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>

namespace {

thread_local XmlErrorCapture* tCurrent = nullptr;

// How much of a very long line the report shows on each side of the error.
constexpr std::ptrdiff_t kSourceWindow = 1000;

void onError(void* capture, xmlErrorPtr error) {
    // No C++ exception may cross the parser: a failure here only loses the report.
    try {
        static_cast<XmlErrorCapture*>(capture)->record(error);
    } catch (...) {
    }
}

void onGenericMessage(void*, const char*, ...) {}

std::int32_t clamp32(long long value) {
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

bool isLineBreak(xmlChar c) {
    return c == '\n' || c == '\r';
}

// The line of the input that holds its current position (at most kSourceWindow bytes on each
// side of it), cut at whole UTF-8 characters: the parser's buffers hold UTF-8.
QString sourceLine(const xmlParserInput* in) {
    if (in == nullptr || in->base == nullptr || in->cur == nullptr || in->end == nullptr ||
        in->cur < in->base || in->cur > in->end)
        return {};
    const xmlChar* low = std::max(in->base, in->cur - kSourceWindow);
    const xmlChar* high = std::min(in->end, in->cur + kSourceWindow);
    const xmlChar* start = in->cur;
    while (start > low && !isLineBreak(start[-1]))
        --start;
    const xmlChar* stop = in->cur;
    while (stop < high && !isLineBreak(*stop))
        ++stop;
    while (start < in->cur && (*start & 0xC0) == 0x80)
        ++start;
    if (stop < in->end && !isLineBreak(*stop))
        while (stop > in->cur && (*stop & 0xC0) == 0x80)
            --stop;
    return QString::fromUtf8(reinterpret_cast<const char*>(start), stop - start);
}

}  // namespace

QString ReasonText(const QString& message) {
    QString reason = message;
    while (reason.endsWith(QLatin1Char('\n')) || reason.endsWith(QLatin1Char('\r')))
        reason.chop(1);
    return reason + QStringLiteral("\r\n");
}

XmlErrorCapture::XmlErrorCapture()
    : previous_(tCurrent),
      previousHandler_(xmlStructuredError),
      previousContext_(xmlStructuredErrorContext),
      previousGeneric_(xmlGenericError),
      previousGenericContext_(xmlGenericErrorContext) {
    tCurrent = this;
    xmlSetStructuredErrorFunc(this, onError);
    xmlSetGenericErrorFunc(nullptr, onGenericMessage);
}

XmlErrorCapture::~XmlErrorCapture() {
    xmlSetGenericErrorFunc(previousGenericContext_, previousGeneric_);
    xmlSetStructuredErrorFunc(previousContext_, previousHandler_);
    tCurrent = previous_;
}

XmlErrorCapture* XmlErrorCapture::current() {
    return tCurrent;
}

void XmlErrorCapture::addContext(_xmlParserCtxt* context) {
    if (context != nullptr && !knows(context))
        contexts_.push_back(context);
}

bool XmlErrorCapture::knows(const _xmlParserCtxt* context) const {
    return std::find(contexts_.begin(), contexts_.end(), context) != contexts_.end();
}

void XmlErrorCapture::nameUrl(const QByteArray& url, const QString& shown) {
    urls_.emplace_back(url, shown);
}

QString XmlErrorCapture::shownUrl(const char* url) const {
    // An error raised where the parser has no input at hand belongs to the document itself.
    if (url == nullptr)
        return urls_.empty() ? QString() : urls_.front().second;
    for (const auto& [known, shown] : urls_)
        if (known == url)
            return shown;
    return QString::fromUtf8(url);
}

void XmlErrorCapture::takePosition(_xmlParserCtxt* context) {
    if (context == nullptr || !knows(context) || context->input == nullptr)
        return;
    report_.srcText = sourceLine(context->input);
    report_.filepos = clamp32(xmlByteConsumed(context));
}

void XmlErrorCapture::record(const _xmlError* error) {
    if (error == nullptr || error->level < XML_ERR_ERROR)
        return;
    // A system identifier that is no proper URI (a blank in a file name) is escaped before it
    // is resolved; whether it can be loaded is decided then.
    if (error->code == XML_ERR_INVALID_URI)
        return;
    if (error->code == XML_ERR_NO_MEMORY)
        outOfMemory_ = true;
    if (hasError_)
        return;
    hasError_ = true;
    report_.errorCode = error->code;
    report_.reason = ReasonText(QString::fromUtf8(error->message));
    report_.url = shownUrl(error->file);
    report_.line = error->line;
    report_.linepos = error->int2;
    takePosition(static_cast<_xmlParserCtxt*>(error->ctxt));
}

void XmlErrorCapture::recordLoadFailure(_xmlParserCtxt* context, int code, const QString& reason,
                                        const QByteArray& url) {
    if (hasError_)
        return;
    hasError_ = true;
    report_.errorCode = code;
    report_.reason = ReasonText(reason);
    // An external entity is loaded through a context of its own that has no input yet; the
    // reference then stands at the current place of the document's context.
    if ((context == nullptr || context->input == nullptr) && !contexts_.empty())
        context = contexts_.front();
    const xmlParserInput* in = context != nullptr ? context->input : nullptr;
    report_.url =
        in != nullptr && in->filename != nullptr ? shownUrl(in->filename) : QString::fromUtf8(url);
    report_.line = in != nullptr ? in->line : 0;
    report_.linepos = in != nullptr ? in->col : 0;
    takePosition(context);
}

void XmlErrorCapture::recordOwn(int code, const QString& reason, const QString& url) {
    if (hasError_)
        return;
    hasError_ = true;
    report_ = ParseErrorReport{};
    report_.errorCode = code;
    report_.reason = ReasonText(reason);
    report_.url = url;
}
