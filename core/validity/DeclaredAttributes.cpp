// The attributes the DTD declares for one element name, as the validity constraints look them
// up for every start tag.

#include "validity/MarkupText.h"
#include "validity/ValidityConstraints.h"

#include <cstring>

using namespace markup;

namespace {

// Up to this many declared attributes, a look-up compares names one by one.
constexpr std::size_t kIndexedFrom = 16;

}  // namespace

const ValidityConstraints::Declared* ValidityConstraints::Element::find(QByteArrayView name) const {
    if (attributes.size() > kIndexedFrom) {
        const auto at = index.constFind(QByteArray::fromRawData(name.data(), name.size()));
        return at != index.constEnd() ? &attributes[std::size_t(at.value())] : nullptr;
    }
    for (const Declared& d : attributes)
        if (d.name == name)
            return &d;
    return nullptr;
}

const ValidityConstraints::Declared* ValidityConstraints::Element::find(
    const unsigned char* prefix, const unsigned char* local) const {
    const auto* localName = reinterpret_cast<const char*>(local);
    if (prefix == nullptr)
        return find(QByteArrayView(localName));
    const auto* prefixName = reinterpret_cast<const char*>(prefix);
    if (attributes.size() > kIndexedFrom)
        return find(QByteArrayView(QByteArray(prefixName) + ':' + localName));
    const std::size_t prefixLength = std::strlen(prefixName);
    for (const Declared& d : attributes) {
        const char* name = d.name.constData();
        if (std::strncmp(name, prefixName, prefixLength) == 0 && name[prefixLength] == ':' &&
            std::strcmp(name + prefixLength + 1, localName) == 0)
            return &d;
    }
    return nullptr;
}

bool ValidityConstraints::Element::add(Declared declared) {
    if (find(QByteArrayView(declared.name)) != nullptr)
        return false;
    attributes.push_back(std::move(declared));
    if (attributes.size() == kIndexedFrom + 1) {
        for (std::size_t i = 0; i < attributes.size(); ++i)
            index.insert(attributes[i].name, int(i));
    } else if (attributes.size() > kIndexedFrom) {
        index.insert(attributes.back().name, int(attributes.size() - 1));
    }
    const Declared& added = attributes.back();
    externalTyped |= added.external && added.type != XML_ATTRIBUTE_CDATA;
    externalDefault |= added.defaultUnchecked;
    emptyNamespaceDefault |= added.emptyNamespace;
    nameValued |= isNameValued(added.type);
    return true;
}
