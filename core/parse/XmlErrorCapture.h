#pragma once
// Inside the XML check only: collects the first error of one check on the calling thread.
// While it lives, every error and warning that the parser raises on this thread comes here
// (libxml2's structured error handler is per thread), and the external entity loader reports
// its refusals here too. libxml2 itself stays out of this header.

#include "parse/CheckResult.h"
#include "parse/Libxml.h"

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

struct _xmlError;
struct _xmlParserCtxt;

class XmlErrorCapture {
public:
    XmlErrorCapture();
    ~XmlErrorCapture();
    XmlErrorCapture(const XmlErrorCapture&) = delete;
    XmlErrorCapture& operator=(const XmlErrorCapture&) = delete;

    // The capture that errors raised with `context` go to: that of the check whose parse the
    // context belongs to (see ParsePipeline), else the one of this thread (the schema
    // compiler's parses, which the check does not set up itself), or null.
    static XmlErrorCapture* of(const void* context);

    // How many errors are kept, the first included (1, the default: only the first).
    void keepErrors(int count) { errorsKept_ = count < 1 ? 1 : count; }

    // A parser context of this check: errors that carry it get their position in the file
    // and their source line from it.
    void addContext(_xmlParserCtxt* context);
    // For a capture around code that creates and frees parser contexts of its own (the schema
    // compiler): no context is kept from now on, since it may be gone by the next error, and
    // errors carry only the place the parser gives them.
    void keepNoContexts() {
        contexts_.clear();
        keepNoContexts_ = true;
    }
    // Errors whose document address is `url` name the document as `shown`. The first name
    // given is the checked document's, used also for errors that name no document.
    void nameUrl(const QByteArray& url, const QString& shown);

    // The error handler that records into the capture given as its data.
    static void onError(void* capture, libxml::ErrorArg error);

    // Records a parser error (warnings are ignored). The first error is the report; later ones
    // are kept only as far as keepErrors allows.
    void record(const _xmlError* error);
    // Records a refusal of the entity loader, at the place in `context` that asked for it.
    void recordLoadFailure(_xmlParserCtxt* context, int code, const QString& reason,
                           const QByteArray& url);
    // The report of an error found by the check itself at the current place in `context`,
    // placed as a refusal of the entity loader is (see recordLoadFailure); nothing is
    // recorded: recordAt records it later, if still wanted.
    ParseErrorReport reportAt(_xmlParserCtxt* context, int code, const QString& reason) const;
    // Keeps the current place of `context`, where the parse is stopped: a refusal recorded once
    // the context has no input any more stands there.
    void keepStopPlace(_xmlParserCtxt* context) noexcept;
    // Records an error found by the check itself in an input of the parser, at the given place.
    void recordAt(int code, const QString& reason, const QString& url, int line, long long linepos,
                  long long filepos, const QString& srcText);
    // Records an error found by the check itself, outside the parser.
    void recordOwn(int code, const QString& reason, const QString& url);

    bool hasError() const { return hasError_; }
    // The parser ran out of memory: the check gives no verdict.
    bool outOfMemory() const { return outOfMemory_; }
    const ParseErrorReport& report() const { return report_; }
    // The errors after the first, in the order raised (none unless keepErrors asked).
    const std::vector<ParseErrorReport>& laterErrors() const { return later_; }

private:
    bool knows(const _xmlParserCtxt* context) const;
    QString shownUrl(const char* url) const;
    void takePosition(_xmlParserCtxt* context, ParseErrorReport& report) const;
    // The place of `report` in `context`: its line, position and source text, and its document
    // when the input has an address (true then).
    bool place(_xmlParserCtxt* context, ParseErrorReport& report) const;
    // Where the next error goes: the report, a later error, or nowhere (null) once full.
    ParseErrorReport* nextReport();

    using StructuredHandler = libxml::ErrorHandler;
    using GenericHandler = void (*)(void*, const char*, ...);

    XmlErrorCapture* previous_;
    StructuredHandler previousHandler_;
    void* previousContext_;
    GenericHandler previousGeneric_;
    void* previousGenericContext_;
    std::vector<_xmlParserCtxt*> contexts_;
    std::vector<std::pair<QByteArray, QString>> urls_;
    ParseErrorReport report_;
    std::vector<ParseErrorReport> later_;
    bool hasError_ = false;
    bool outOfMemory_ = false;
    bool keepNoContexts_ = false;
    int errorsKept_ = 1;
    bool hasStopPlace_ = false;
    ParseErrorReport stopPlace_;
};

// The line of the text base..end (UTF-8) that holds `cur`, as the report shows it: at most a
// few hundred bytes on each side of `cur`, cut at whole characters, a side that was cut marked
// with "[...]", control characters but the tab shown as U+FFFD. `moreBefore`: the text went on
// before `base`.
QString SourceLineAround(const unsigned char* base, const unsigned char* cur,
                         const unsigned char* end, bool moreBefore);

// A column as the report shows it: the parser counts a line's columns in an int that wraps past
// 2^31 - 1, so a negative one lies beyond that and is shown clamped there, as the position in
// the file is.
inline int ShownColumn(int column) {
    return column < 0 ? 2147483647 : column;
}

// The reason as the report carries it: the parser's text with its own line end replaced by
// CR LF.
QString ReasonText(const QString& message);
