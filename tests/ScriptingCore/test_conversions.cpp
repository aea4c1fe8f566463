// The converting casts between scalar types.
#include <climits>
#include <cmath>
#include <limits>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include <gtest/gtest.h>
#include <utf8.h>

#include "RecordingPageObject.h"
#include "variant.h"

namespace {

using FB::variant;
using FB::VariantList;
using FB::VariantMap;

const char* const kNull = "N2FB14variant_detail4nullE";
const char* const kEmpty = "N2FB14variant_detail5emptyE";
const char* const kList = "St6vectorIN2FB7variantESaIS1_EE";
const char* const kMap = "St3mapISsN2FB7variantESt4lessISsESaISt4pairIKSsS1_EEE";
const char* const kJSAPIPtr = "N5boost10shared_ptrIN2FB5JSAPIEEE";
const char* const kJSObjectPtr = "N5boost10shared_ptrIN2FB8JSObjectEEE";

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// One conversion case: the value, and either the expected result or the
// `from` name of the failure (the `to` name is the conversion's own).
template <typename T>
struct Case {
    const char* label;
    variant value;
    bool converts;
    T expected;
    const char* from;
};

template <typename T>
Case<T> ok(const char* label, const variant& value, T expected)
{
    return Case<T>{label, value, true, expected, ""};
}

template <typename T>
Case<T> fails(const char* label, const variant& value, const char* from)
{
    return Case<T>{label, value, false, T(), from};
}

template <typename T>
std::ostream& operator<<(std::ostream& out, const Case<T>& c) { return out << c.label; }

template <typename T>
std::string caseName(const ::testing::TestParamInfo<Case<T> >& info)
{
    return info.param.label;
}

template <typename T, typename Convert>
void checkCase(const Case<T>& c, Convert convert, const char* to)
{
    if (c.converts) {
        EXPECT_EQ(c.expected, convert(c.value));
        return;
    }
    try {
        convert(c.value);
        ADD_FAILURE() << "conversion did not fail";
    } catch (const FB::bad_variant_cast& e) {
        EXPECT_STREQ(c.from, e.from);
        EXPECT_STREQ(to, e.to);
    }
}

// Values no scalar conversion takes.
template <typename T>
std::vector<Case<T> > refusedByEveryScalarConversion()
{
    return {
        fails<T>("nothing", variant(), "v"),
        fails<T>("null", variant(FB::variant_detail::null()), kNull),
        fails<T>("empty_marker", variant(FB::variant_detail::empty()), kEmpty),
        fails<T>("list", variant(VariantList(1, variant(1))), kList),
        fails<T>("map", variant(VariantMap()), kMap),
        fails<T>("object", variant(FB::JSAPIPtr(RecordingPageObject::make())), kJSAPIPtr),
        fails<T>("page_object", variant(FB::JSObjectPtr(RecordingPageObject::make())), kJSObjectPtr),
    };
}

template <typename T>
std::vector<Case<T> > joined(std::vector<Case<T> > cases)
{
    const std::vector<Case<T> > common = refusedByEveryScalarConversion<T>();
    cases.insert(cases.end(), common.begin(), common.end());
    return cases;
}

// ---------------------------------------------------------------- int

class ToInt : public ::testing::TestWithParam<Case<int> > {};

TEST_P(ToInt, Converts)
{
    checkCase(GetParam(), [](const variant& v) { return v.convertToInt(); }, "i");
    checkCase(GetParam(), [](const variant& v) { return v.convert_cast<int>(); }, "i");
}

INSTANTIATE_TEST_SUITE_P(Values, ToInt, ::testing::ValuesIn(joined<int>({
    ok("int", variant(-7), -7),
    ok("short", variant(short(-32768)), -32768),
    ok("unsigned_short", variant((unsigned short)65535), 65535),
    ok("char_is_signed", variant(char(-1)), -1),
    ok("unsigned_char", variant((unsigned char)255), 255),
    ok("unsigned_int_max_int", variant(2147483647u), INT_MAX),
    fails<int>("unsigned_int_above", variant(2147483648u), "j"),
    fails<int>("unsigned_int_max", variant(4294967295u), "j"),
    ok("long_min_int", variant(-2147483648L), INT_MIN),
    fails<int>("long_above", variant(2147483648L), "l"),
    fails<int>("long_below", variant(-2147483649L), "l"),
    fails<int>("long_long_above", variant(2147483648LL), "x"),
    ok("long_long_inside", variant(-5LL), -5),
    ok("unsigned_long_max_int", variant(2147483647UL), INT_MAX),
    fails<int>("unsigned_long_above", variant(2147483648UL), "m"),
    fails<int>("unsigned_long_long_above", variant(2147483648ULL), "y"),
    ok("double_truncates", variant(2.9), 2),
    ok("negative_double_truncates", variant(-2.9), -2),
    ok("double_just_below_top", variant(2147483647.9), INT_MAX),
    fails<int>("double_top", variant(2147483648.0), "d"),
    ok("double_just_above_bottom", variant(-2147483648.5), INT_MIN),
    fails<int>("double_bottom", variant(-2147483649.0), "d"),
    fails<int>("double_nan", variant(kNaN), "d"),
    fails<int>("double_infinity", variant(kInf), "d"),
    fails<int>("double_minus_infinity", variant(-kInf), "d"),
    ok("float_truncates", variant(-3.75f), -3),
    ok("float_largest_inside", variant(2147483520.0f), 2147483520),
    fails<int>("float_top", variant(2147483648.0f), "f"),
    fails<int>("float_min_int", variant(-2147483648.0f), "f"),
    fails<int>("float_nan", variant(std::numeric_limits<float>::quiet_NaN()), "f"),
    ok("bool_true", variant(true), 1),
    ok("bool_false", variant(false), 0),
    ok("text", variant("123"), 123),
    ok("text_leading_blank_and_trailing_letters", variant(" 42abc"), 42),
    ok("text_plus", variant("+7"), 7),
    ok("text_minus", variant("-2147483648"), INT_MIN),
    ok("text_stops_at_point", variant("3.9"), 3),
    ok("text_decimal_only", variant("0x10"), 0),
    fails<int>("text_letters", variant("abc"), "Ss"),
    fails<int>("text_empty", variant(""), "Ss"),
    fails<int>("text_blank", variant("   "), "Ss"),
    fails<int>("text_sign_only", variant("-"), "Ss"),
    fails<int>("text_too_big", variant("99999999999"), "Ss"),
    fails<int>("text_just_too_big", variant("2147483648"), "Ss"),
    ok("wide_text", variant(L"12"), 12),
    fails<int>("wide_text_letters", variant(L"x"), "SbIwSt11char_traitsIwESaIwEE"),
})), caseName<int>);

// ---------------------------------------------------------------- long

class ToLong : public ::testing::TestWithParam<Case<long> > {};

TEST_P(ToLong, Converts)
{
    checkCase(GetParam(), [](const variant& v) { return v.convertToLong(); }, "l");
    checkCase(GetParam(), [](const variant& v) { return v.convert_cast<long>(); }, "l");
}

INSTANTIATE_TEST_SUITE_P(Values, ToLong, ::testing::ValuesIn(joined<long>({
    ok("int", variant(-7), -7L),
    ok("unsigned_int_max", variant(4294967295u), 4294967295L),
    ok("long_min", variant(LONG_MIN), LONG_MIN),
    ok("long_long_max", variant(LLONG_MAX), LONG_MAX),
    ok("unsigned_long_max_long", variant(9223372036854775807UL), LONG_MAX),
    fails<long>("unsigned_long_above", variant(9223372036854775808UL), "m"),
    fails<long>("unsigned_long_long_above", variant(9223372036854775808ULL), "y"),
    ok("double_truncates", variant(-2.9), -2L),
    ok("double_large_inside", variant(9223372036854774784.0), 9223372036854774784L),
    ok("double_large_negative_inside", variant(-9223372036854774784.0), -9223372036854774784L),
    fails<long>("double_top", variant(9223372036854775808.0), "d"),
    fails<long>("double_bottom", variant(-9223372036854775808.0), "d"),
    fails<long>("double_nan", variant(kNaN), "d"),
    fails<long>("double_huge", variant(1e300), "d"),
    ok("float", variant(1.5e9f), 1500000000L),
    ok("float_largest_inside", variant(9223371487098961920.0f), 9223371487098961920L),
    ok("float_lowest_inside", variant(-9223371487098961920.0f), -9223371487098961920L),
    fails<long>("float_top", variant(9223372036854775808.0f), "f"),
    fails<long>("float_bottom", variant(-9223372036854775808.0f), "f"),
    fails<long>("float_nan", variant(std::numeric_limits<float>::quiet_NaN()), "f"),
    ok("bool", variant(true), 1L),
    ok("char", variant('A'), 65L),
    ok("text_beyond_int", variant("99999999999"), 99999999999L),
    ok("text_trailing", variant("12 apples"), 12L),
    fails<long>("text_beyond_long", variant("9223372036854775808"), "Ss"),
    fails<long>("text_empty", variant(""), "Ss"),
    ok("wide_text", variant(L"-40"), -40L),
})), caseName<long>);

// ---------------------------------------------------------------- double

class ToDouble : public ::testing::TestWithParam<Case<double> > {};

TEST_P(ToDouble, Converts)
{
    checkCase(GetParam(), [](const variant& v) { return v.convertToDouble(); }, "d");
    checkCase(GetParam(), [](const variant& v) { return v.convert_cast<double>(); }, "d");
}

INSTANTIATE_TEST_SUITE_P(Values, ToDouble, ::testing::ValuesIn(joined<double>({
    ok("int", variant(3), 3.0),
    ok("unsigned_long_long_max", variant(ULLONG_MAX), 18446744073709551616.0),
    ok("long_min", variant(LONG_MIN), -9223372036854775808.0),
    ok("short", variant(short(-2)), -2.0),
    ok("unsigned_char", variant((unsigned char)200), 200.0),
    ok("float_widened", variant(0.5f), 0.5),
    ok("double", variant(-1e300), -1e300),
    ok("double_infinity", variant(kInf), kInf),
    ok("bool_true", variant(true), 1.0),
    ok("bool_false", variant(false), 0.0),
    ok("text_exponent", variant("1e3"), 1000.0),
    ok("text_with_unit", variant("3.5kg"), 3.5),
    ok("text_negative_fraction", variant(" -0.25"), -0.25),
    fails<double>("text_no_number", variant("kg"), "Ss"),
    fails<double>("text_empty", variant(""), "Ss"),
    fails<double>("text_out_of_range", variant("1e999"), "Ss"),
    ok("wide_text", variant(L"2.5"), 2.5),
})), caseName<double>);

TEST(ToDouble, NaNStaysNaN)
{
    EXPECT_TRUE(std::isnan(variant(kNaN).convertToDouble()));
    EXPECT_TRUE(std::isnan(variant(std::numeric_limits<float>::quiet_NaN()).convertToDouble()));
}

// ---------------------------------------------------------------- string

class ToString : public ::testing::TestWithParam<Case<std::string> > {};

TEST_P(ToString, Converts)
{
    checkCase(GetParam(), [](const variant& v) { return v.convertToString(); }, "Ss");
    checkCase(GetParam(), [](const variant& v) { return v.convert_cast<std::string>(); }, "Ss");
}

INSTANTIATE_TEST_SUITE_P(Values, ToString, ::testing::ValuesIn(joined<std::string>({
    ok("string", variant("as is"), std::string("as is")),
    ok("wide", variant(L"\u00e9\u20ac"), std::string("\xC3\xA9\xE2\x82\xAC")),
    ok("true", variant(true), std::string("true")),
    ok("false", variant(false), std::string("false")),
    ok("int_negative", variant(-5), std::string("-5")),
    ok("int_min", variant(INT_MIN), std::string("-2147483648")),
    ok("short", variant(short(-12)), std::string("-12")),
    ok("long", variant(LONG_MIN), std::string("-9223372036854775808")),
    ok("long_long", variant(-5LL), std::string("-5")),
    ok("unsigned_int", variant(4294967295u), std::string("4294967295")),
    ok("unsigned_short", variant((unsigned short)65535), std::string("65535")),
    ok("unsigned_long", variant(18446744073709551615UL), std::string("18446744073709551615")),
    ok("unsigned_long_long", variant(18446744073709551615ULL), std::string("18446744073709551615")),
    ok("double_short", variant(0.1), std::string("0.1")),
    ok("double_six_digits", variant(3.14159265), std::string("3.14159")),
    ok("double_whole", variant(100.0), std::string("100")),
    ok("double_exponent_large", variant(1234567.0), std::string("1.23457e+06")),
    ok("double_fixed_small", variant(0.0001), std::string("0.0001")),
    ok("double_exponent_small", variant(0.00001), std::string("1e-05")),
    ok("double_huge", variant(1e21), std::string("1e+21")),
    ok("double_negative_zero", variant(-0.0), std::string("-0")),
    ok("double_nan", variant(kNaN), std::string("nan")),
    ok("double_infinity", variant(-kInf), std::string("-inf")),
    ok("float_widened", variant(0.1f), std::string("0.1")),
    ok("float_large", variant(16777216.0f), std::string("1.67772e+07")),
    ok("char_is_a_character", variant(char(65)), std::string("A")),
    ok("unsigned_char_is_a_character", variant((unsigned char)0xE9), std::string("\xE9")),
    ok("char_nul", variant(char(0)), std::string(1, '\0')),
})), caseName<std::string>);

// ---------------------------------------------------------------- bool

class ToBool : public ::testing::TestWithParam<Case<bool> > {};

TEST_P(ToBool, Converts)
{
    // A refused value fails as the integer fallback does.
    checkCase(GetParam(), [](const variant& v) { return v.convertToBool(); }, "l");
    checkCase(GetParam(), [](const variant& v) { return v.convert_cast<bool>(); }, "l");
}

INSTANTIATE_TEST_SUITE_P(Values, ToBool, ::testing::ValuesIn(joined<bool>({
    ok("bool_true", variant(true), true),
    ok("bool_false", variant(false), false),
    ok("text_Y", variant("Y"), true),
    ok("text_1", variant("1"), true),
    ok("text_yes", variant("yes"), true),
    ok("text_Yes", variant("Yes"), true),
    ok("text_True", variant("True"), true),
    ok("text_TRUE", variant("TRUE"), true),
    ok("text_t", variant("t"), true),
    ok("text_0", variant("0"), false),
    ok("text_no", variant("no"), false),
    ok("text_empty", variant(""), false),
    ok("text_2", variant("2"), false),
    ok("text_on", variant("on"), false),
    ok("text_leading_blank", variant(" yes"), false),
    ok("text_trailing_nul", variant(std::string("t\0", 2)), false),
    ok("text_high_bytes", variant("\xC3\x9F\xFF"), false),
    ok("text_high_byte_then_word", variant("\xD4rue"), false),
    ok("wide_YES", variant(L"YES"), true),
    ok("wide_t", variant(L"T"), true),
    ok("wide_no", variant(L"no"), false),
    ok("wide_non_ascii", variant(std::wstring(1, wchar_t(0x0130))), false),
    ok("int_2", variant(2), true),
    ok("int_0", variant(0), false),
    ok("int_negative", variant(-1), true),
    ok("double_half_truncates", variant(0.5), false),
    ok("double_one", variant(1.0), true),
    fails<bool>("double_huge", variant(1e300), "d"),
    fails<bool>("double_nan", variant(kNaN), "d"),
    ok("unsigned_long_long_max_long", variant(9223372036854775807ULL), true),
    fails<bool>("unsigned_long_long_above", variant(9223372036854775808ULL), "y"),
})), caseName<bool>);

// ---------------------------------------------------------------- tribool

TEST(ToTribool, NoValueIsIndeterminate)
{
    EXPECT_TRUE(boost::logic::indeterminate(variant().convertToTribool()));
    EXPECT_TRUE(boost::logic::indeterminate(variant(FB::variant_detail::null()).convertToTribool()));
    EXPECT_TRUE(boost::logic::indeterminate(variant(FB::variant_detail::empty()).convertToTribool()));
    EXPECT_TRUE(boost::logic::indeterminate(
        variant(FB::variant_detail::null()).convert_cast<boost::logic::tribool>()));
}

TEST(ToTribool, OtherValuesAreTheirTruth)
{
    EXPECT_TRUE(variant("t").convertToTribool() == true);
    EXPECT_TRUE(variant("no").convertToTribool() == false);
    EXPECT_TRUE(variant(3).convertToTribool() == true);
    EXPECT_TRUE(variant(false).convertToTribool() == false);
}

TEST(ToTribool, FailsAsTheTruthConversion)
{
    try {
        variant(VariantList()).convertToTribool();
        FAIL() << "list converted";
    } catch (const FB::bad_variant_cast& e) {
        EXPECT_STREQ(kList, e.from);
        EXPECT_STREQ("l", e.to);
    }
}

// ---------------------------------------------------------------- identity

TEST(ToVariant, IsACopyAndNeverFails)
{
    const variant original(VariantList(2, variant("x")));
    const variant copy = original.convertToVariant();
    EXPECT_EQ(original.getType(), copy.getType());
    EXPECT_EQ(2u, copy.cast<VariantList>().size());
    EXPECT_EQ(typeid(void), variant().convert_cast<variant>().getType());
    variant().convertToVoid();
    variant(FB::variant_detail::null()).convert_cast<void>();
}

// A conversion leaves the variant as it was, also when it fails.
TEST(Conversions, LeaveTheVariantUnchanged)
{
    const variant text(" 42abc");
    EXPECT_EQ(42, text.convertToInt());
    EXPECT_EQ(" 42abc", text.castString());
    const variant big(4294967295u);
    EXPECT_THROW(big.convertToInt(), FB::bad_variant_cast);
    EXPECT_EQ(4294967295u, big.castUInt());
    const variant upper("TRUE");
    EXPECT_TRUE(upper.convertToBool());
    EXPECT_EQ("TRUE", upper.castString());
}

// Wide text that is no Unicode fails in the text conversion, not as a cast.
TEST(Conversions, BadWideTextPassesTheTextError)
{
    const variant bad(std::wstring(1, wchar_t(0xD800)));
    EXPECT_THROW(bad.convertToString(), utf8::invalid_code_point);
    EXPECT_THROW(bad.convertToInt(), utf8::invalid_code_point);
    EXPECT_THROW(bad.convertToDouble(), utf8::invalid_code_point);
}

} // namespace
