// The type names that error messages carry and that order variants of
// different held types.
//
// They are the Itanium-ABI mangled names in the form this system has always
// reported ("Ss" for std::string, "i" for int, ...), taken from a table of
// our own so that they do not depend on the standard library's ABI version.
// Types not in the table fall back to std::type_info::name() without a
// leading '*'. The returned pointer is static. Any thread.
#ifndef FB_TYPE_NAMES_H
#define FB_TYPE_NAMES_H

#include <typeinfo>

namespace FB {

const char* typeName(const std::type_info& type);

} // namespace FB

#endif
