#pragma once
// A text allocated by libxml2 (xmlChar is unsigned char), freed by libxml2's allocator.

#include <memory>

struct XmlFree {
    void operator()(unsigned char* text) const;
};
using XmlString = std::unique_ptr<unsigned char, XmlFree>;
