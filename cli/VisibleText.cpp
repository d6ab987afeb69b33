#include "VisibleText.h"

namespace {

QString hex(unsigned value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0'));
}

}  // namespace

bool IsInvisibleFormatCharacter(char16_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

QString Visible(const QString& text) {
    qsizetype i = 0;
    // Most texts need nothing: they are handed back shared, not copied.
    while (i < text.size()) {
        const char16_t c = text[i].unicode();
        if (c < 0x20 || c == 0x7F || c == u'\\' || IsInvisibleFormatCharacter(c))
            break;
        ++i;
    }
    if (i == text.size())
        return text;
    QString shown = text.first(i);
    shown.reserve(text.size() + 16);
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\\')
            shown += QStringLiteral("\\\\");
        else if (c == u'\n')
            shown += QStringLiteral("\\n");
        else if (c == u'\r')
            shown += QStringLiteral("\\r");
        else if (c == u'\t')
            shown += QStringLiteral("\\t");
        else if (c < 0x20 || c == 0x7F)
            shown += QStringLiteral("\\x") + hex(c, 2);
        else if (IsInvisibleFormatCharacter(c))
            shown += QStringLiteral("\\u") + hex(c, 4);
        else
            shown += QChar(c);
    }
    return shown;
}

QByteArray JsonWithoutTerminalControls(const QByteArray& json) {
    // In UTF-8, DEL is 0x7F, the C1 controls are C2 80 to C2 9F and the others E2 80 8E/8F,
    // E2 80 A8 to AE and E2 81 A6 to A9. The structure of the document is ASCII, so these
    // bytes are always inside a string, where an escape means the same character.
    QByteArray out;
    out.reserve(json.size());
    const auto byte = [&](qsizetype at) {
        return at < json.size() ? static_cast<unsigned char>(json[at]) : 0u;
    };
    for (qsizetype i = 0; i < json.size(); ++i) {
        const unsigned char b = byte(i);
        char16_t c = 0;
        int length = 0;
        if (b == 0x7F) {
            c = 0x7F;
            length = 1;
        } else if (b == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
            c = byte(i + 1);
            length = 2;
        } else if (b == 0xE2 && (byte(i + 1) == 0x80 || byte(i + 1) == 0x81) &&
                   (byte(i + 2) & 0xC0) == 0x80) {
            const auto candidate =
                static_cast<char16_t>(0x2000 | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F));
            if (IsInvisibleFormatCharacter(candidate)) {
                c = candidate;
                length = 3;
            }
        }
        if (length == 0) {
            out += static_cast<char>(b);
            continue;
        }
        out += "\\u" + hex(c, 4).toLatin1();
        i += length - 1;
    }
    return out;
}
