// FB::bad_variant_cast: the exception of every failed exact or converting
// cast of an FB::variant.
//
// `from` names the type that was held ("v" for nothing), `to` the type that
// was asked for; both point at static type-name strings (type_names.h), so
// the exception copies trivially and is thrown by value. The names reach the
// page in argument and conversion messages. Any thread.
#ifndef FB_BAD_VARIANT_CAST_H
#define FB_BAD_VARIANT_CAST_H

#include <typeinfo>

#include "type_names.h"

namespace FB {

class bad_variant_cast : public std::bad_cast {
public:
    bad_variant_cast(const std::type_info& held, const std::type_info& wanted)
        : from(typeName(held)), to(typeName(wanted)) {}
    bad_variant_cast(const char* fromName, const char* toName) : from(fromName), to(toName) {}

    const char* what() const throw() override { return "bad cast"; }

    const char* from;
    const char* to;
};

} // namespace FB

#endif
