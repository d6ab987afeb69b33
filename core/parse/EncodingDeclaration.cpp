#include "parse/EncodingDeclaration.h"

#include "parse/XmlErrorCapture.h"

#include <QStringList>

namespace {

struct Mark {
    const char* bytes;
    int size;
    const char* name;
    int unitSize;          // bytes per code unit after the mark
    bool bigEndian;        // for two-byte units
    QStringList accepted;  // declared names that agree with the mark (upper case)
};

const Mark* markOf(QByteArrayView head) {
    static const Mark marks[] = {
        {"\xEF\xBB\xBF", 3, "UTF-8", 1, false, {"UTF-8", "UTF8"}},
        {"\xFF\xFE",
         2,
         "UTF-16 (little-endian)",
         2,
         false,
         {"UTF-16", "UTF16", "UTF-16LE", "ISO-10646-UCS-2", "UCS-2", "UCS2"}},
        {"\xFE\xFF",
         2,
         "UTF-16 (big-endian)",
         2,
         true,
         {"UTF-16", "UTF16", "UTF-16BE", "ISO-10646-UCS-2", "UCS-2", "UCS2"}},
    };
    // FF FE 00 00 is the mark of UTF-32 (little-endian), which is left to the parser.
    if (head.startsWith(QByteArrayView("\xFF\xFE\0\0", 4)))
        return nullptr;
    for (const Mark& mark : marks)
        if (head.startsWith(QByteArrayView(mark.bytes, mark.size)))
            return &mark;
    return nullptr;
}

// The characters after the mark as far as they are ASCII (others become 0, which no
// declaration holds), with each one's byte offset in the file.
struct Text {
    QByteArray chars;
    QList<int> offsets;
};

Text decode(QByteArrayView head, const Mark& mark) {
    Text text;
    for (qsizetype i = mark.size; i + mark.unitSize <= head.size(); i += mark.unitSize) {
        unsigned code = static_cast<unsigned char>(head[i]);
        if (mark.unitSize == 2) {
            const unsigned a = static_cast<unsigned char>(head[i]);
            const unsigned b = static_cast<unsigned char>(head[i + 1]);
            code = mark.bigEndian ? (a << 8 | b) : (b << 8 | a);
        }
        text.chars.append(code < 0x80 ? static_cast<char>(code) : '\0');
        text.offsets.append(static_cast<int>(i));
    }
    return text;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::optional<EncodingConflict> FindEncodingConflict(QByteArrayView head) {
    const Mark* mark = markOf(head);
    if (mark == nullptr)
        return std::nullopt;
    const Text text = decode(head, *mark);
    const QByteArray& s = text.chars;
    if (!s.startsWith("<?xml") || s.size() < 6 || !isBlank(s[5]))
        return std::nullopt;
    const qsizetype end = s.indexOf("?>");
    if (end < 0)
        return std::nullopt;
    // The pseudo-attribute "encoding", after a blank, before the end of the declaration.
    qsizetype at = 5;
    for (;;) {
        at = s.indexOf("encoding", at);
        if (at < 0 || at > end)
            return std::nullopt;
        if (isBlank(s[at - 1]))
            break;
        at += 8;
    }
    qsizetype i = at + 8;
    while (i < end && isBlank(s[i]))
        ++i;
    if (i >= end || s[i] != '=')
        return std::nullopt;
    ++i;
    while (i < end && isBlank(s[i]))
        ++i;
    if (i >= end || (s[i] != '"' && s[i] != '\''))
        return std::nullopt;
    const char quote = s[i];
    const qsizetype nameStart = i + 1;
    const qsizetype nameEnd = s.indexOf(quote, nameStart);
    if (nameEnd < 0 || nameEnd > end)
        return std::nullopt;
    QString declared = QString::fromLatin1(s.mid(nameStart, nameEnd - nameStart));
    declared.replace(QChar(0), QLatin1Char('?'));
    if (mark->accepted.contains(declared.toUpper()))
        return std::nullopt;
    EncodingConflict conflict;
    conflict.reason = QStringLiteral(
                          "The byte-order mark says the document is in %1, but its encoding "
                          "declaration says \"%2\"")
                          .arg(QString::fromLatin1(mark->name), declared);
    const QByteArray before = s.first(nameStart);
    conflict.line = static_cast<int>(before.count('\n')) + 1;
    conflict.linepos = static_cast<int>(nameStart - before.lastIndexOf('\n'));
    conflict.filepos = text.offsets[nameStart];
    const auto* chars = reinterpret_cast<const unsigned char*>(s.constData());
    conflict.srcText = SourceLineAround(chars, chars + nameStart, chars + s.size(), false);
    return conflict;
}
