#include "parse/XmlErrorCapture.h"

#include "parse/ParsePipeline.h"
#include "parse/ParserMemory.h"

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>

namespace {

// The capture of this thread's parses that no check's pipeline owns (see XmlErrorCapture::of).
thread_local XmlErrorCapture* tCurrent = nullptr;

// How much of a very long line the report shows on each side of the error.
constexpr std::ptrdiff_t kSourceWindow = 200;

void onGenericMessage(void*, const char*, ...) {}

std::int32_t clamp32(long long value) {
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

bool isLineBreak(xmlChar c) {
    return c == '\n' || c == '\r';
}

QString sourceLine(const xmlParserInput* in) {
    if (in == nullptr || in->base == nullptr || in->cur == nullptr || in->end == nullptr ||
        in->cur < in->base || in->cur > in->end)
        return {};
    // Bytes before `base` were already dropped by the parser.
    return SourceLineAround(in->base, in->cur, in->end, in->consumed > 0);
}

// The parser's text for a limit that it reports as a failed allocation, made plain.
QString limitReason(const char* message) {
    const QByteArray text(message != nullptr ? message : "");
    if (!text.contains("huge text node"))
        return {};
    return QStringLiteral("Text content longer than %1 bytes in one piece: the parser's limit (%2)")
        .arg(XML_MAX_TEXT_LENGTH)
        .arg(QString::fromUtf8(text.trimmed()));
}

}  // namespace

QString SourceLineAround(const unsigned char* base, const unsigned char* cur,
                         const unsigned char* end, bool moreBefore) {
    const unsigned char* low = cur - base > kSourceWindow ? cur - kSourceWindow : base;
    const unsigned char* high = end - cur > kSourceWindow ? cur + kSourceWindow : end;
    const unsigned char* start = cur;
    while (start > low && !isLineBreak(start[-1]))
        --start;
    const unsigned char* stop = cur;
    while (stop < high && !isLineBreak(*stop))
        ++stop;
    const bool cutBefore = start > base ? !isLineBreak(start[-1]) : moreBefore;
    const bool cutAfter = stop < end && !isLineBreak(*stop);
    // Whole UTF-8 characters only: the parser's buffers hold UTF-8.
    if (cutBefore)
        while (start < cur && (*start & 0xC0) == 0x80)
            ++start;
    if (cutAfter)
        while (stop > cur && (*stop & 0xC0) == 0x80)
            --stop;
    QString line = QString::fromUtf8(reinterpret_cast<const char*>(start), stop - start);
    // Control characters (a NUL in a broken file) would end or garble the report's text.
    for (QChar& c : line)
        if ((c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7F)
            c = QChar::ReplacementCharacter;
    const QString marker = QStringLiteral("[...]");
    return (cutBefore ? marker : QString()) + line + (cutAfter ? marker : QString());
}

QString ReasonText(const QString& message) {
    QString reason = message;
    while (reason.endsWith(QLatin1Char('\n')) || reason.endsWith(QLatin1Char('\r')))
        reason.chop(1);
    return reason + QStringLiteral("\r\n");
}

void XmlErrorCapture::onError(void* capture, libxml::ErrorArg error) {
    // No C++ exception may cross the parser: a failure here only loses the report.
    try {
        static_cast<XmlErrorCapture*>(capture)->record(error);
    } catch (...) {
    }
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

XmlErrorCapture* XmlErrorCapture::of(const void* context) {
    if (const ParsePipeline* pipeline = ParsePipeline::of(context))
        return pipeline->capture;
    return tCurrent;
}

void XmlErrorCapture::addContext(_xmlParserCtxt* context) {
    if (context != nullptr && !keepNoContexts_ && !knows(context)) {
        contexts_.push_back(context);
        libxml::RouteContextErrors(context, onError, this);
    }
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

void XmlErrorCapture::takePosition(_xmlParserCtxt* context, ParseErrorReport& report) const {
    if (context == nullptr || !knows(context) || context->input == nullptr)
        return;
    report.srcText = sourceLine(context->input);
    report.filepos = clamp32(xmlByteConsumed(context));
}

ParseErrorReport* XmlErrorCapture::nextReport() {
    if (!hasError_) {
        hasError_ = true;
        return &report_;
    }
    if (static_cast<int>(later_.size()) + 1 >= errorsKept_)
        return nullptr;
    return &later_.emplace_back();
}

void XmlErrorCapture::record(const _xmlError* error) {
    if (error == nullptr || error->level < XML_ERR_ERROR)
        return;
    // A system identifier that is no proper URI (a blank in a file name) is escaped before it
    // is resolved; whether it can be loaded is decided then.
    if (error->code == XML_ERR_INVALID_URI)
        return;
    // Once the parser's memory budget ran out, the parse is being stopped: what it reports
    // from then on follows from the stop, which the check reports itself.
    const ParserMemoryBudget* budget = ParserMemoryBudget::current();
    if (budget != nullptr && budget->exceeded())
        return;
    QString reason = QString::fromUtf8(error->message);
    if (error->code == XML_ERR_NO_MEMORY) {
        // After an earlier error (a length limit) a failed allocation is only its echo; a
        // limit that the parser reports as a failed allocation is a verdict on the document.
        // Anything else means the machine is out of memory.
        if (hasError_)
            return;
        const QString limit = limitReason(error->message);
        if (limit.isEmpty())
            outOfMemory_ = true;
        else
            reason = limit;
    }
    ParseErrorReport* report = nextReport();
    if (report == nullptr)
        return;
    report->errorCode = error->code;
    report->reason = ReasonText(reason);
    report->url = shownUrl(error->file);
    report->line = error->line;
    report->linepos = ShownColumn(error->int2);
    takePosition(static_cast<_xmlParserCtxt*>(error->ctxt), *report);
}

void XmlErrorCapture::recordLoadFailure(_xmlParserCtxt* context, int code, const QString& reason,
                                        const QByteArray& url) {
    ParseErrorReport* report = nextReport();
    if (report == nullptr)
        return;
    report->errorCode = code;
    report->reason = ReasonText(reason);
    if (!place(context, *report))
        report->url = QString::fromUtf8(url);
}

ParseErrorReport XmlErrorCapture::reportAt(_xmlParserCtxt* context, int code,
                                           const QString& reason) const {
    ParseErrorReport report;
    report.errorCode = code;
    report.reason = ReasonText(reason);
    if (!place(context, report) && !urls_.empty())
        report.url = urls_.front().second;
    return report;
}

void XmlErrorCapture::keepStopPlace(_xmlParserCtxt* context) noexcept {
    try {
        stopPlace_ = ParseErrorReport{};
        place(context, stopPlace_);
        hasStopPlace_ = true;
    } catch (...) {
        hasStopPlace_ = false;
    }
}

bool XmlErrorCapture::place(_xmlParserCtxt* context, ParseErrorReport& report) const {
    // An external entity is loaded through a context of its own that has no input yet; the
    // reference then stands at the current place of the document's context.
    if ((context == nullptr || context->input == nullptr) && !contexts_.empty())
        context = contexts_.front();
    if ((context == nullptr || context->input == nullptr) && hasStopPlace_) {
        report.url = stopPlace_.url;
        report.line = stopPlace_.line;
        report.linepos = stopPlace_.linepos;
        report.filepos = stopPlace_.filepos;
        report.srcText = stopPlace_.srcText;
        return !report.url.isEmpty();
    }
    const xmlParserInput* in = context != nullptr ? context->input : nullptr;
    const bool named = in != nullptr && in->filename != nullptr;
    if (named)
        report.url = shownUrl(in->filename);
    report.line = in != nullptr ? in->line : 0;
    report.linepos = in != nullptr ? ShownColumn(in->col) : 0;
    takePosition(context, report);
    return named;
}

void XmlErrorCapture::recordAt(int code, const QString& reason, const QString& url, int line,
                               long long linepos, long long filepos, const QString& srcText) {
    if (hasError_)
        return;
    recordOwn(code, reason, url);
    report_.line = line;
    report_.linepos = clamp32(linepos);
    report_.filepos = clamp32(filepos);
    report_.srcText = srcText;
}

void XmlErrorCapture::recordOwn(int code, const QString& reason, const QString& url) {
    ParseErrorReport* report = nextReport();
    if (report == nullptr)
        return;
    *report = ParseErrorReport{};
    report->errorCode = code;
    report->reason = ReasonText(reason);
    report->url = url;
}
