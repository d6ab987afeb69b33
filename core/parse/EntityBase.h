#pragma once
// Inside the XML check only: the base against which a relative system identifier of an entity
// declaration resolves. The parser takes the address of the input that holds the declaration,
// and none when the declaration came from the replacement text of an internal parameter
// entity: the identifier then stayed relative and was read from the process's working folder.
// libxml2 stays out of this header.

#include "parse/XmlString.h"

struct _xmlParserCtxt;

// `systemId` made absolute against the nearest enclosing input of `context` that has an
// address, when the current input has none (the replacement text of an internal entity); null
// when the parser resolves it right itself (the current input has an address, the identifier
// is absolute, or no input has an address).
XmlString SystemIdAgainstEnclosingFile(_xmlParserCtxt* context, const unsigned char* systemId);
