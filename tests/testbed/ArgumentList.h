// testbed::list: a script argument list in one expression, each value
// stored as FB::variant makes it: list(), list(1, "two", page).
// A plain function of its arguments; any thread.
#ifndef TESTBED_ARGUMENTLIST_H
#define TESTBED_ARGUMENTLIST_H

#include "variant.h"

namespace testbed {

template <typename... Values>
FB::VariantList list(const Values&... values)
{
    return FB::VariantList{FB::variant(values)...};
}

} // namespace testbed

#endif
