#include <exception>
#include <functional>
#include <ostream>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

#include "script_error.h"

namespace {

struct ErrorCase {
    const char* label;
    std::function<void()> raise;
    const char* message;
};

const ErrorCase kErrorCases[] = {
    {"script_error", [] { throw FB::script_error("page says no"); }, "page says no"},
    {"script_error_empty", [] { throw FB::script_error(""); }, ""},
    {"invalid_arguments_default", [] { throw FB::invalid_arguments(); }, "Invalid Arguments"},
    {"invalid_arguments_text", [] { throw FB::invalid_arguments("Too many arguments, expected 1."); },
     "Too many arguments, expected 1."},
    {"invalid_member", [] { throw FB::invalid_member("foo"); },
     "The specified member does not exist: foo"},
    {"invalid_member_empty_name", [] { throw FB::invalid_member(""); },
     "The specified member does not exist: "},
    {"object_invalidated", [] { throw FB::object_invalidated(); }, "This object is no longer valid"},
};

std::ostream& operator<<(std::ostream& out, const ErrorCase& c) { return out << c.label; }

class ScriptErrorMessage : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ScriptErrorMessage, CaughtAsScriptErrorAnswersItsOwnText)
{
    try {
        GetParam().raise();
        FAIL() << "nothing thrown";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ(GetParam().message, e.what());
        EXPECT_EQ(GetParam().message, e.message);
    }
}

TEST_P(ScriptErrorMessage, CaughtAsStdExceptionAnswersItsOwnText)
{
    try {
        GetParam().raise();
        FAIL() << "nothing thrown";
    } catch (const std::exception& e) {
        EXPECT_STREQ(GetParam().message, e.what());
    }
}

INSTANTIATE_TEST_SUITE_P(AllClasses, ScriptErrorMessage, ::testing::ValuesIn(kErrorCases),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) {
                             return std::string(info.param.label);
                         });

TEST(ScriptError, SubclassesAreCaughtByTheirOwnClass)
{
    EXPECT_THROW(throw FB::invalid_member("x"), FB::invalid_member);
    EXPECT_THROW(throw FB::invalid_arguments(), FB::invalid_arguments);
    EXPECT_THROW(throw FB::object_invalidated(), FB::object_invalidated);
}

// Re-raising a caught error as a new script_error keeps the text but not the
// class: the list and map readers rely on this.
TEST(ScriptError, CopyIntoBaseKeepsMessageOnly)
{
    try {
        try {
            throw FB::invalid_member("length");
        } catch (const FB::script_error& e) {
            throw FB::script_error(e);
        }
    } catch (const FB::invalid_member&) {
        FAIL() << "subclass survived the copy";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ("The specified member does not exist: length", e.what());
        EXPECT_EQ(typeid(FB::script_error), typeid(e));
    }
}

TEST(ScriptError, CopyIsIndependentOfTheOriginal)
{
    FB::invalid_member original("a");
    FB::invalid_member copy(original);
    original = FB::invalid_member("b");
    EXPECT_STREQ("The specified member does not exist: a", copy.what());
    EXPECT_STREQ("The specified member does not exist: b", original.what());
}

} // namespace
