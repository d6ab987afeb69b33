#include "parse/ExternalInput.h"

#include "parse/StartTagLimits.h"
#include "parse/XmlErrorCapture.h"

#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool startsWith(const char* bytes, long long count, const char* pattern, int length) {
    return count >= length && std::memcmp(bytes, pattern, length) == 0;
}

}  // namespace

ExternalInput::ExternalInput(std::unique_ptr<InputFile> file, QString shown,
                             _xmlParserCtxt* context)
    : file_(std::move(file)), shown_(std::move(shown)), context_(context) {
    if (StartTagLimits* limits = StartTagLimits::of(context_))
        limits->watchEntityContext(context_);
}

ExternalInput::~ExternalInput() {
    if (StartTagLimits* limits = StartTagLimits::of(context_))
        limits->forgetEntityContext(context_);
    // A NUL right after the last bytes the parser took, which it never asked past.
    if (nulAhead_)
        reportNul();
}

void ExternalInput::learnUnits(const char* bytes, long long count) {
    unit_ = 1;
    lowByte_ = 0;
    if (startsWith(bytes, count, "\0\0\0<", 4)) {
        unit_ = 4;
        lowByte_ = 3;
    } else if (startsWith(bytes, count, "<\0\0\0", 4)) {
        unit_ = 4;
    } else if (startsWith(bytes, count, "\0<\0?", 4) || startsWith(bytes, count, "\xFE\xFF", 2)) {
        unit_ = 2;
        lowByte_ = 1;
    } else if (startsWith(bytes, count, "<\0?\0", 4) || startsWith(bytes, count, "\xFF\xFE", 2)) {
        unit_ = 2;
    }
}

void ExternalInput::advance(const char* bytes, long long count) {
    const long long units = count / unit_;
    for (long long i = 0; i < units; ++i) {
        const char* u = bytes + i * unit_;
        if (u[lowByte_] == '\n' && (unit_ == 1 || std::count(u, u + unit_, '\0') == unit_ - 1)) {
            ++line_;
            column_ = 1;
        } else if (unit_ != 1 || (static_cast<unsigned char>(*u) & 0xC0) != 0x80) {
            ++column_;  // a character starts here (UTF-8 continuation bytes do not count)
        }
    }
}

long long ExternalInput::read(char* buffer, std::size_t size) {
    if (reported_)
        return 0;
    if (nulAhead_) {
        reportNul();
        return 0;
    }
    const long long n = file_->read(buffer, size);
    if (n < 0) {
        reportReadFailure();
        return -1;
    }
    if (n == 0)
        return 0;
    if (unit_ == 0)
        learnUnits(buffer, n);
    // Units count from the start of the file. Reads come in multiples of four bytes but at the
    // end of the file, so no unit is cut by the end of a read.
    long long nul = -1;
    const long long firstUnit = (unit_ - handedOut_ % unit_) % unit_;
    for (long long i = firstUnit; i + unit_ <= n; i += unit_) {
        if (unit_ == 1) {
            const void* found = std::memchr(buffer + i, '\0', n - i);
            nul = found != nullptr ? static_cast<const char*>(found) - buffer : -1;
            break;
        }
        if (std::count(buffer + i, buffer + i + unit_, '\0') == unit_) {
            nul = i;
            break;
        }
    }
    const long long kept = nul >= 0 ? nul : n;
    if (nul >= 0) {
        nulAhead_ = true;
        if (unit_ == 1) {
            const auto* base = reinterpret_cast<const unsigned char*>(buffer);
            nulLine_ = SourceLineAround(base, base + nul, base + n, handedOut_ > 0);
        }
    }
    advance(buffer, kept);
    handedOut_ += kept;
    // The rest of this read is never handed out: the input ends at the NUL.
    if (nulAhead_ && kept == 0) {
        reportNul();
        return 0;
    }
    return kept;
}

void ExternalInput::reportNul() {
    nulAhead_ = false;
    if (reported_)
        return;
    reported_ = true;
    if (XmlErrorCapture* capture = XmlErrorCapture::of(context_))
        capture->recordAt(XML_ERR_INVALID_CHAR,
                          QStringLiteral("Char 0x0 out of allowed range: \"%1\" holds a NUL "
                                         "character")
                              .arg(shown_),
                          shown_, line_, column_, handedOut_, nulLine_);
}

void ExternalInput::reportReadFailure() {
    if (reported_)
        return;
    reported_ = true;
    if (XmlErrorCapture* capture = XmlErrorCapture::of(context_))
        capture->recordAt(XML_IO_LOAD_ERROR,
                          QStringLiteral("failed to read \"%1\" after %2 bytes: %3")
                              .arg(shown_)
                              .arg(handedOut_)
                              .arg(file_->readError()),
                          shown_, line_, column_, handedOut_, QString());
}

QByteArray UnescapedReference(const QByteArray& reference) {
    QByteArray plain;
    plain.reserve(reference.size());
    for (qsizetype i = 0; i < reference.size(); ++i) {
        const int high =
            i + 2 < reference.size() && reference[i] == '%' ? hexValue(reference[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(reference[i + 2]) : -1;
        if (low >= 0) {
            plain.append(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            plain.append(reference[i]);
        }
    }
    return plain;
}

bool HoldsEscapedNul(const QByteArray& reference) {
    return reference.contains('%') && UnescapedReference(reference).contains('\0');
}

QString EscapedNulReason(const QByteArray& reference) {
    // (Not through arg(): "%00" would be taken for a place to fill.)
    return QStringLiteral("failed to load external entity \"") + QString::fromUtf8(reference) +
           QStringLiteral(
               "\": its system identifier holds an escaped NUL character (%00), "
               "which no file name can hold");
}
