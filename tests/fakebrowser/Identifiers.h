// fakebrowser identifiers: the browser's interned NPIdentifiers.
//
// String and integer identifiers are interned process-wide and never freed,
// as in a browser: a plugin may keep identifiers in static storage across
// FakeBrowser lifetimes, so they must outlive any one browser. The string
// "0" and the integer 0 are two different identifiers.
// Thread-safe (one mutex); lookups of an identifier's contents are lock-free
// once it exists because identifiers are immutable.
#ifndef FAKEBROWSER_IDENTIFIERS_H
#define FAKEBROWSER_IDENTIFIERS_H

#include <cstdint>
#include <string>

#include "NpapiAbi.h"

namespace fakebrowser {

NPIdentifier stringIdentifier(const std::string& name);
NPIdentifier intIdentifier(int32_t value);
// False for pointers that no call above returned.
bool isKnownIdentifier(NPIdentifier id);
// For known identifiers only.
bool identifierIsString(NPIdentifier id);
const std::string& identifierString(NPIdentifier id);  // "" for integer identifiers
int32_t identifierInt(NPIdentifier id);                 // 0 for string identifiers
// The identifier as a page sees a property name: its text, or the decimal
// integer ("3"); "<unknown identifier>" for a pointer the browser never made.
std::string identifierText(NPIdentifier id);

} // namespace fakebrowser

#endif
