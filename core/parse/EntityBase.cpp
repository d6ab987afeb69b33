#include "parse/EntityBase.h"

#include <libxml/parser.h>
#include <libxml/uri.h>

XmlString SystemIdAgainstEnclosingFile(_xmlParserCtxt* context, const unsigned char* systemId) {
    if (context == nullptr || systemId == nullptr || context->input == nullptr ||
        context->input->filename != nullptr)
        return nullptr;
    // The inputs stack up as entities are referenced: the last one with an address holds the
    // reference to the parameter entity whose text is being read (perhaps through further
    // internal ones).
    for (int i = context->inputNr - 1; i >= 0; --i) {
        const xmlParserInput* in = context->inputTab[i];
        if (in != nullptr && in->filename != nullptr)
            return XmlString(xmlBuildURI(systemId, reinterpret_cast<const xmlChar*>(in->filename)));
    }
    return nullptr;
}
