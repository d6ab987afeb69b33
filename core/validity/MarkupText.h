#pragma once
// Inside the XML check only: what the validity constraints read from the text of a document and
// of its entities themselves (names, character references, attribute values as written, the
// spaces that attribute-value normalisation would change). libxml2's types, plain functions.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>
#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace markup {

// How deep references to entities are followed in the texts the check reads itself (the parser
// has refused loops and bombs before it reaches the text that holds them).
constexpr int kMaxEntityDepth = 16;

inline QByteArray text(const xmlChar* s) {
    return s != nullptr ? QByteArray(reinterpret_cast<const char*>(s)) : QByteArray();
}

inline QByteArray text(const xmlChar* begin, const xmlChar* end) {
    return QByteArray(reinterpret_cast<const char*>(begin), end - begin);
}

inline QByteArray qualified(const xmlChar* prefix, const xmlChar* local) {
    return prefix != nullptr ? text(prefix) + ':' + text(local) : text(local);
}

inline QString shown(const QByteArray& utf8) {
    return QString::fromUtf8(utf8);
}

inline bool isBlank(xmlChar c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool isBlankCode(int c) {
    return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD;
}

inline bool isHexDigit(xmlChar c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The character of the character reference at `p` ("&#32;", "&#x9;"), with `after` set past
// its ";"; -1 when there is none.
inline int characterReference(const xmlChar* p, const xmlChar* end, const xmlChar** after) {
    if (end - p < 4 || p[0] != '&' || p[1] != '#')
        return -1;
    const bool hex = p[2] == 'x';
    const xmlChar* c = p + (hex ? 3 : 2);
    long value = 0;
    const xmlChar* digits = c;
    for (; c < end && (hex ? isHexDigit(*c) : (*c >= '0' && *c <= '9')); ++c) {
        const int digit = *c <= '9' ? *c - '0' : (*c | 0x20) - 'a' + 10;
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0x10FFFF)
            return -1;
    }
    if (c == digits || c >= end || *c != ';')
        return -1;
    *after = c + 1;
    return static_cast<int>(value);
}

// True when the text just before `cur` (within base..cur) is a character reference to a blank:
// the parser has just read it.
inline bool afterBlankReference(const xmlChar* base, const xmlChar* cur) {
    if (base == nullptr || cur == nullptr || cur - base < 4 || cur[-1] != ';')
        return false;
    const xmlChar* p = cur - 2;
    while (p > base && isHexDigit(*p))
        --p;
    if (p > base && *p == 'x')
        --p;
    if (p <= base || *p != '#' || p[-1] != '&')
        return false;
    const xmlChar* after = nullptr;
    return isBlankCode(characterReference(p - 1, cur, &after)) && after == cur;
}

inline bool isNameEnd(xmlChar c) {
    return isBlank(c) || c == '=' || c == '>' || c == '/';
}

// One attribute of a start tag as written: views into the parser's buffer.
struct WrittenAttribute {
    QByteArrayView name;
    const xmlChar* value = nullptr;  // between the quotes, as written
    const xmlChar* valueEnd = nullptr;
};

// Reads the attributes of the start tag that ends at the input's current place (at its ">" or
// "/>") from the parser's buffer: a "<" can stand in no attribute value, so the nearest one
// before it opens the tag. The parser keeps the tag in its buffer until its element is
// reported. Nothing is read when the tag is not found there.
class WrittenAttributes {
public:
    explicit WrittenAttributes(const xmlParserInput* in) {
        if (in == nullptr || in->base == nullptr || in->cur == nullptr || in->cur <= in->base)
            return;
        end_ = in->cur;
        const xmlChar* p = end_ - 1;
        while (p > in->base && *p != '<')
            --p;
        if (*p != '<')
            return;
        for (++p; p < end_ && !isNameEnd(*p); ++p) {
        }
        p_ = p;
    }

    // The next attribute, false after the last.
    bool next(WrittenAttribute& attribute) {
        const xmlChar* p = p_;
        if (p == nullptr)
            return false;
        p_ = nullptr;
        while (p < end_ && isBlank(*p))
            ++p;
        const xmlChar* name = p;
        while (p < end_ && !isNameEnd(*p))
            ++p;
        if (p == name)
            return false;
        attribute.name = QByteArrayView(name, p - name);
        while (p < end_ && (isBlank(*p) || *p == '='))
            ++p;
        if (p >= end_ || (*p != '"' && *p != '\''))
            return false;
        const xmlChar quote = *p++;
        attribute.value = p;
        while (p < end_ && *p != quote)
            ++p;
        if (p >= end_)
            return false;
        attribute.valueEnd = p++;
        p_ = p;
        return true;
    }

private:
    const xmlChar* p_ = nullptr;  // where the next attribute is read; null: no more
    const xmlChar* end_ = nullptr;
};

// Follows the spaces of an attribute value after the normalisation of CDATA attributes:
// whether the further normalisation of other types (no leading, trailing or doubled spaces)
// would change it.
class SpaceRuns {
public:
    void add(bool space) {
        if (space && (!seen_ || lastSpace_))
            changed_ = true;
        seen_ = true;
        lastSpace_ = space;
    }
    bool changed() const { return changed_ || lastSpace_; }

private:
    bool seen_ = false;
    bool lastSpace_ = false;
    bool changed_ = false;
};

// The name of the entity reference at `p` ("&name;"), with `p` moved past its ";" (or to `end`
// when the text ends before one).
inline QByteArray entityNameAt(const xmlChar*& p, const xmlChar* end) {
    const xmlChar* semicolon = p + 1;
    while (semicolon < end && *semicolon != ';')
        ++semicolon;
    const QByteArray name = text(p + 1, semicolon);
    p = semicolon < end ? semicolon + 1 : end;
    return name;
}

inline bool isPredefined(const QByteArray& name) {
    return name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot";
}

// Adds the characters of an attribute value as written (or of the replacement text of an
// entity it references) to `runs`: a white-space character is a space, a character reference
// is its character, an entity reference is its replacement text, normalised likewise.
inline void addNormalised(xmlDocPtr doc, const xmlChar* p, const xmlChar* end, int depth,
                          SpaceRuns& runs) {
    while (p < end) {
        if (*p == '&') {
            const xmlChar* after = nullptr;
            const int c = characterReference(p, end, &after);
            if (c >= 0) {
                runs.add(c == 0x20);
                p = after;
                continue;
            }
            const QByteArray name = entityNameAt(p, end);
            xmlEntityPtr entity =
                isPredefined(name) || depth >= kMaxEntityDepth
                    ? nullptr
                    : xmlGetDocEntity(doc, reinterpret_cast<const xmlChar*>(name.constData()));
            if (entity != nullptr && entity->content != nullptr)
                addNormalised(doc, entity->content, entity->content + entity->length, depth + 1,
                              runs);
            else
                runs.add(false);
            continue;
        }
        if (*p == '\r' && p + 1 < end && p[1] == '\n')
            ++p;
        runs.add(isBlank(*p));
        ++p;
    }
}

inline bool isNameValued(int type) {
    return type == XML_ATTRIBUTE_ID || type == XML_ATTRIBUTE_IDREF ||
           type == XML_ATTRIBUTE_IDREFS || type == XML_ATTRIBUTE_ENTITY ||
           type == XML_ATTRIBUTE_ENTITIES || type == XML_ATTRIBUTE_NOTATION;
}

inline const char* typeName(int type) {
    switch (type) {
        case XML_ATTRIBUTE_ID:
            return "ID";
        case XML_ATTRIBUTE_IDREF:
            return "IDREF";
        case XML_ATTRIBUTE_IDREFS:
            return "IDREFS";
        case XML_ATTRIBUTE_ENTITY:
            return "ENTITY";
        case XML_ATTRIBUTE_ENTITIES:
            return "ENTITIES";
        default:
            return "NOTATION";
    }
}

// The defaults of ENTITY and ENTITIES attributes that the root element does not use: `used`
// are the attributes it takes from the DTD, `written` those its start tag gives. The parser
// checks every default of these types when it reaches the root element, used or not (see
// libxml::DtdFinalCheckPending); hiding a default's value from it for that call is how the
// check makes it only a use's error. A #FIXED default is used too where the start tag gives
// the attribute: the parser compares the value with it in the same call.
inline std::vector<xmlAttributePtr> unusedEntityDefaults(xmlDocPtr doc, const QByteArray& root,
                                                         const QList<QByteArray>& used,
                                                         const QList<QByteArray>& written) {
    struct Scan {
        const QByteArray& root;
        const QList<QByteArray>& used;
        const QList<QByteArray>& written;
        std::vector<xmlAttributePtr> found;
    } scan{root, used, written, {}};
    const auto collect = [](void* payload, void* data, const xmlChar*) {
        auto* attribute = static_cast<xmlAttributePtr>(payload);
        auto* self = static_cast<Scan*>(data);
        if (attribute == nullptr || attribute->defaultValue == nullptr ||
            (attribute->atype != XML_ATTRIBUTE_ENTITY &&
             attribute->atype != XML_ATTRIBUTE_ENTITIES))
            return;
        const QByteArray name = qualified(attribute->prefix, attribute->name);
        if (text(attribute->elem) == self->root &&
            (self->used.contains(name) ||
             (attribute->def == XML_ATTRIBUTE_FIXED && self->written.contains(name))))
            return;
        try {
            self->found.push_back(attribute);
        } catch (...) {
            // Out of memory: the default stays visible, as the parser has it.
        }
    };
    for (xmlDtdPtr dtd : {doc->intSubset, doc->extSubset})
        if (dtd != nullptr && dtd->attributes != nullptr)
            xmlHashScan(static_cast<xmlHashTablePtr>(dtd->attributes), collect, &scan);
    return std::move(scan.found);
}

}  // namespace markup
