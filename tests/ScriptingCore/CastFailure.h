// expectCastFailure: a test's check that a conversion fails with
// FB::bad_variant_cast naming the given types (the texts pages receive).
#ifndef TESTS_CASTFAILURE_H
#define TESTS_CASTFAILURE_H

#include <gtest/gtest.h>

#include "bad_variant_cast.h"

template <typename Convert>
void expectCastFailure(Convert convert, const char* from, const char* to)
{
    try {
        convert();
        ADD_FAILURE() << "conversion did not fail";
    } catch (const FB::bad_variant_cast& e) {
        EXPECT_STREQ(from, e.from);
        EXPECT_STREQ(to, e.to);
    }
}

#endif
