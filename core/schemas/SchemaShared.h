#pragma once
// Inside the schema checks only: what compiling schemas (SchemaCheck.cpp) and the schema step of
// a parse (SchemaValidation.cpp) share.

#include "schemas/SchemaCheck.h"

#include <QByteArray>
#include <QString>

#include <libxml/relaxng.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlstring.h>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace schemas {

constexpr char kXsdNamespace[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kXsiNamespace[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr char kRngNamespace[] = "http://relaxng.org/ns/structure/1.0";

inline const char* chars(const xmlChar* text) {
    return reinterpret_cast<const char*>(text);
}
inline const xmlChar* xml(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}
inline bool same(const xmlChar* a, const char* b) {
    return a != nullptr && xmlStrEqual(a, xml(b)) != 0;
}

inline std::int32_t clamp32(long long value) {
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

// A file's address as a file URI.
QByteArray fileUrl(const QString& path);
QString shownAddress(const QByteArray& address);
QByteArray resolved(const QByteArray& reference, const QByteArray& base);
QByteArray throughCatalog(const QByteArray& address);
QString localFile(const QByteArray& address);
QString whyNotAvailable(const QByteArray& address);

}  // namespace schemas

struct SchemaSet::Compiled {
    SchemaLanguage language = SchemaLanguage::XmlSchema;
    xmlSchemaPtr xsd = nullptr;
    xmlRelaxNGPtr rng = nullptr;
    ParseErrorReport error;  // when neither compiled: why

    bool ok() const { return xsd != nullptr || rng != nullptr; }
    ~Compiled() {
        if (xsd != nullptr)
            xmlSchemaFree(xsd);
        if (rng != nullptr)
            xmlRelaxNGFree(rng);
    }
};
