#pragma once
// Inside the XML check only: the bytes of an external DTD or entity, read from a file for the
// parser, judged as the document's own bytes are. The parser takes a NUL character for the end
// of such an input and a failed read for its end too, so a DTD cut short by either would pass
// unnoticed; here the bytes are handed over only up to a NUL, and a NUL or a failed read is
// reported as the check's error, with the file and the place.

#include "parse/InputFile.h"

#include <QByteArray>
#include <QString>

#include <memory>

struct _xmlParserCtxt;

class ExternalInput final : public ByteSource {
public:
    // `file` is open; `shown` names it in reports; `context` is the parser context that reads
    // it.
    ExternalInput(std::unique_ptr<InputFile> file, QString shown, _xmlParserCtxt* context);
    ~ExternalInput() override;
    ExternalInput(const ExternalInput&) = delete;
    ExternalInput& operator=(const ExternalInput&) = delete;

    long long read(char* buffer, std::size_t size) override;
    QByteArray head(std::size_t size) override { return file_->head(size); }
    QString readError() const override { return file_->readError(); }
    long long bytesRead() const override { return handedOut_; }

private:
    // Learns the width of a character unit from the first bytes (2 or 4 for UTF-16 and UCS-4
    // as the parser recognises them, else 1, where every NUL byte is a NUL character).
    void learnUnits(const char* bytes, long long count);
    // Moves the line and column on over `count` bytes handed out.
    void advance(const char* bytes, long long count);
    void reportNul();
    void reportReadFailure();

    std::unique_ptr<InputFile> file_;
    QString shown_;
    _xmlParserCtxt* context_;
    int unit_ = 0;     // 0 until learnt
    int lowByte_ = 0;  // the index within a unit of its low byte
    long long handedOut_ = 0;
    int line_ = 1;
    long long column_ = 1;
    bool nulAhead_ = false;  // the next byte to hand out is a NUL
    QString nulLine_;        // the source text around it
    bool reported_ = false;
};

// The reference (a system identifier or URI) with its %XX escapes decoded, every byte kept: an
// escaped NUL too, which a C string, and so the parser's own decoding, takes for its end.
QByteArray UnescapedReference(const QByteArray& reference);
// True when the decoded reference holds a NUL: it names no file (the parser would cut it at
// the NUL and load another file).
bool HoldsEscapedNul(const QByteArray& reference);
// The reason of the refusal of such a reference.
QString EscapedNulReason(const QByteArray& reference);
