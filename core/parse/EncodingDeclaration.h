#pragma once
// A document that starts with a byte-order mark is in the encoding that the mark names; an
// encoding declaration that names another encoding contradicts it, and the document is not
// well-formed (the parser would silently go by the mark). Plain code on the document's first
// bytes.

#include <QByteArrayView>
#include <QString>

#include <optional>

struct EncodingConflict {
    QString reason;   // says what the mark and the declaration name
    int line = 1;     // line of the declared name, from 1
    int linepos = 0;  // position of the declared name in its line, from 1
    int filepos = 0;  // byte offset of the declared name in the file
    QString srcText;  // the line of the declared name (characters beyond ASCII as U+FFFD)
};

// How many of the first bytes FindEncodingConflict needs to see.
constexpr int kEncodingHeadSize = 512;

// The conflict between the byte-order mark and the encoding declaration in `head` (the first
// bytes of a document), or nothing when they agree, or either is missing.
std::optional<EncodingConflict> FindEncodingConflict(QByteArrayView head);
