#include <ostream>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>
#include <utf8.h>

#include "utf8_tools.h"

namespace {

struct RoundTrip {
    const char* label;
    std::string utf8;
    std::wstring wide;
};

const RoundTrip kRoundTrips[] = {
    {"empty", "", L""},
    {"ascii", "abc", L"abc"},
    {"two_bytes", "\xC3\xA9", std::wstring(1, wchar_t(0xE9))},
    {"last_two_byte", "\xDF\xBF", std::wstring(1, wchar_t(0x7FF))},
    {"three_bytes", "\xE2\x82\xAC", std::wstring(1, wchar_t(0x20AC))},
    {"last_three_byte", "\xEF\xBF\xBF", std::wstring(1, wchar_t(0xFFFF))},
    {"four_bytes", "\xF0\x9F\x98\x80", std::wstring(1, wchar_t(0x1F600))},
    {"highest", "\xF4\x8F\xBF\xBF", std::wstring(1, wchar_t(0x10FFFF))},
    {"embedded_nul", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    {"mixed", "x\xC3\xA9y\xE2\x82\xAC", std::wstring(L"x") + wchar_t(0xE9) + L"y" + wchar_t(0x20AC)},
};

std::ostream& operator<<(std::ostream& out, const RoundTrip& c) { return out << c.label; }

class Utf8RoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Utf8RoundTrip, Utf8ToWide)
{
    EXPECT_EQ(GetParam().wide, FB::utf8ToWide(GetParam().utf8));
}

TEST_P(Utf8RoundTrip, WideToUtf8)
{
    EXPECT_EQ(GetParam().utf8, FB::wideToUtf8(GetParam().wide));
}

INSTANTIATE_TEST_SUITE_P(Texts, Utf8RoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const ::testing::TestParamInfo<RoundTrip>& info) {
                             return std::string(info.param.label);
                         });

enum Utf8Failure { NotEnoughRoom, InvalidUtf8, InvalidCodePoint };

// The class of the UTF8-CPP exception that leaves the conversion.
template <typename Convert, typename Input>
Utf8Failure failureOf(Convert convert, const Input& input)
{
    try {
        convert(input);
    } catch (const utf8::not_enough_room&) {
        return NotEnoughRoom;
    } catch (const utf8::invalid_utf8&) {
        return InvalidUtf8;
    } catch (const utf8::invalid_code_point&) {
        return InvalidCodePoint;
    }
    ADD_FAILURE() << "no failure";
    return NotEnoughRoom;
}

struct BadUtf8 {
    const char* label;
    std::string bytes;
    Utf8Failure failure;
};

const BadUtf8 kBadUtf8[] = {
    {"ends_inside_sequence", "\xC3", NotEnoughRoom},
    {"ends_inside_four_byte", "a\xF0\x9F\x98", NotEnoughRoom},
    {"cannot_begin", "\xFF", InvalidUtf8},
    {"lone_continuation", "\x80", InvalidUtf8},
    {"missing_continuation", "\xC3\x41", InvalidUtf8},
    {"overlong_zero", "\xC0\x80", InvalidUtf8},
    {"overlong_slash", "\xE0\x80\xAF", InvalidUtf8},
    {"encoded_surrogate", "\xED\xA0\x80", InvalidCodePoint},
    {"above_highest", "\xF4\x90\x80\x80", InvalidCodePoint},
    {"bad_after_good", "ok\xC3\xA9\xFF", InvalidUtf8},
};

std::ostream& operator<<(std::ostream& out, const BadUtf8& c) { return out << c.label; }

class Utf8Refused : public ::testing::TestWithParam<BadUtf8> {};

TEST_P(Utf8Refused, RaisesItsUtf8CppClass)
{
    EXPECT_EQ(GetParam().failure, failureOf(&FB::utf8ToWide, GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(Bytes, Utf8Refused, ::testing::ValuesIn(kBadUtf8),
                         [](const ::testing::TestParamInfo<BadUtf8>& info) {
                             return std::string(info.param.label);
                         });

TEST(WideToUtf8, RefusesCharactersThatAreNoCodePoints)
{
    const wchar_t refused[] = {wchar_t(0x110000), wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(-1),
                               wchar_t(0x7FFFFFFF)};
    for (wchar_t c : refused) {
        SCOPED_TRACE(static_cast<long>(c));
        const std::wstring text = std::wstring(L"ok") + c;
        EXPECT_EQ(InvalidCodePoint, failureOf(&FB::wideToUtf8, text));
    }
}

TEST(WideToUtf8, AcceptsTheCodePointsAroundTheSurrogates)
{
    EXPECT_EQ("\xED\x9F\xBF", FB::wideToUtf8(std::wstring(1, wchar_t(0xD7FF))));
    EXPECT_EQ("\xEE\x80\x80", FB::wideToUtf8(std::wstring(1, wchar_t(0xE000))));
}

TEST(Utf8Errors, AreStdExceptions)
{
    EXPECT_THROW(FB::utf8ToWide("\xFF"), std::exception);
    EXPECT_THROW(FB::wideToUtf8(std::wstring(1, wchar_t(0xD800))), std::exception);
}

} // namespace
