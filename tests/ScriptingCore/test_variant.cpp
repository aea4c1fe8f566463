#include <cmath>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "RecordingPageObject.h"
#include "script_error.h"
#include "variant.h"

namespace {

using FB::variant;
using FB::VariantList;
using FB::VariantMap;

const char* heldName(const variant& v)
{
    return FB::typeName(v.getType());
}

// ---------------------------------------------------------------- type names

struct NamedValue {
    const char* label;
    variant value;
    const char* name;
};

std::ostream& operator<<(std::ostream& out, const NamedValue& c) { return out << c.label; }

std::vector<NamedValue> namedValues()
{
    const RecordingPageObjectPtr page = RecordingPageObject::make();
    return {
        {"nothing", variant(), "v"},
        {"null", variant(FB::variant_detail::null()), "N2FB14variant_detail4nullE"},
        {"empty", variant(FB::variant_detail::empty()), "N2FB14variant_detail5emptyE"},
        {"bool", variant(true), "b"},
        {"char", variant('c'), "c"},
        {"unsigned_char", variant((unsigned char)1), "h"},
        {"short", variant((short)1), "s"},
        {"unsigned_short", variant((unsigned short)1), "t"},
        {"int", variant(1), "i"},
        {"unsigned_int", variant(1u), "j"},
        {"long", variant(1L), "l"},
        {"unsigned_long", variant(1UL), "m"},
        {"long_long", variant(1LL), "x"},
        {"unsigned_long_long", variant(1ULL), "y"},
        {"float", variant(1.0f), "f"},
        {"double", variant(1.0), "d"},
        {"string", variant(std::string("s")), "Ss"},
        {"wstring", variant(std::wstring(L"w")), "SbIwSt11char_traitsIwESaIwEE"},
        {"list", variant(VariantList()), "St6vectorIN2FB7variantESaIS1_EE"},
        {"map", variant(VariantMap()), "St3mapISsN2FB7variantESt4lessISsESaISt4pairIKSsS1_EEE"},
        {"jsapi_ptr", variant(FB::JSAPIPtr(page)), "N5boost10shared_ptrIN2FB5JSAPIEEE"},
        {"jsobject_ptr", variant(FB::JSObjectPtr(page)), "N5boost10shared_ptrIN2FB8JSObjectEEE"},
        {"jsapi_weak_ptr", variant(FB::JSAPIWeakPtr(page)), "N5boost8weak_ptrIN2FB5JSAPIEEE"},
        {"script_error_ptr", variant(boost::make_shared<FB::script_error>("x")),
         "N5boost10shared_ptrIN2FB12script_errorEEE"},
    };
}

class HeldTypeName : public ::testing::TestWithParam<NamedValue> {};

TEST_P(HeldTypeName, IsTheSystemsName)
{
    EXPECT_STREQ(GetParam().name, heldName(GetParam().value));
}

// The exact cast to a type of another name reports the held name as `from`.
TEST_P(HeldTypeName, IsTheFromNameOfAFailedCast)
{
    const bool holdsInt = GetParam().value.getType() == typeid(int);
    try {
        if (holdsInt)
            GetParam().value.cast<long>();
        else
            GetParam().value.cast<int>();
        FAIL() << "cast did not fail";
    } catch (const FB::bad_variant_cast& e) {
        EXPECT_STREQ(GetParam().name, e.from);
        EXPECT_STREQ(holdsInt ? "l" : "i", e.to);
    }
}

INSTANTIATE_TEST_SUITE_P(HeldTypes, HeldTypeName, ::testing::ValuesIn(namedValues()),
                         [](const ::testing::TestParamInfo<NamedValue>& info) {
                             return std::string(info.param.label);
                         });

TEST(TypeName, NamesThePageObjectClassForConversions)
{
    EXPECT_STREQ("N2FB8JSObjectE", FB::typeName(typeid(FB::JSObject)));
}

struct Unlisted {};

// Types outside the table keep the platform's mangled name.
TEST(TypeName, FallsBackToTheMangledName)
{
    EXPECT_STREQ("N12_GLOBAL__N_18UnlistedE", FB::typeName(typeid(Unlisted)));
    EXPECT_STREQ("N2FB5JSAPIE", FB::typeName(typeid(FB::JSAPI)));
}

// ---------------------------------------------------------------- construction

TEST(VariantConstruction, DefaultHoldsNothingNotTheEmptyMarker)
{
    const variant nothing;
    EXPECT_EQ(typeid(void), nothing.getType());
    EXPECT_STREQ("v", heldName(nothing));
    EXPECT_NE(variant(FB::variant_detail::empty()).getType(), nothing.getType());
    EXPECT_FALSE(nothing.isNull());
    EXPECT_FALSE(nothing < variant());
    EXPECT_FALSE(variant() < nothing);
}

TEST(VariantConstruction, EmptyObjectPointersAreStoredAsNull)
{
    EXPECT_TRUE(variant(FB::JSAPIPtr()).isNull());
    EXPECT_TRUE(variant(FB::JSObjectPtr()).isNull());
    EXPECT_TRUE(variant(RecordingPageObjectPtr()).isNull());
    EXPECT_FALSE(variant(FB::JSObjectPtr(RecordingPageObject::make())).isNull());
}

// A shared pointer to a derived scriptable class is stored under the pointer
// type the conversions and the browser binding know.
TEST(VariantConstruction, DerivedObjectPointersAreStoredAsTheirBasePointer)
{
    const RecordingPageObjectPtr page = RecordingPageObject::make();
    const variant v(page);
    ASSERT_EQ(typeid(FB::JSObjectPtr), v.getType());
    EXPECT_EQ(page.get(), v.cast<FB::JSObjectPtr>().get());
}

TEST(VariantConstruction, NullTextPointersAreStoredAsNull)
{
    EXPECT_TRUE(variant(static_cast<const char*>(NULL)).isNull());
    EXPECT_TRUE(variant(static_cast<const wchar_t*>(NULL)).isNull());
    char* mutableNull = NULL;
    EXPECT_TRUE(variant(mutableNull).isNull());
}

TEST(VariantConstruction, TextIsStoredAsString)
{
    const variant literal("abc");
    ASSERT_EQ(typeid(std::string), literal.getType());
    EXPECT_EQ("abc", literal.castString());

    char buffer[] = "xyz";
    char* mutableText = buffer;
    EXPECT_EQ("xyz", variant(mutableText).castString());
    EXPECT_EQ("xyz", variant(buffer).castString());

    const variant wide(L"w\u00e9");
    ASSERT_EQ(typeid(std::wstring), wide.getType());
    EXPECT_EQ(L"w\u00e9", wide.castWString());
}

TEST(VariantConstruction, TriboolStoresBool)
{
    EXPECT_TRUE(variant(boost::logic::tribool(true)).castBool());
    EXPECT_FALSE(variant(boost::logic::tribool(false)).castBool());
    const variant indeterminate{boost::logic::tribool(boost::logic::indeterminate)};
    ASSERT_EQ(typeid(bool), indeterminate.getType());
    EXPECT_FALSE(indeterminate.castBool());
}

TEST(VariantConstruction, CopiesAreDeep)
{
    VariantList inner;
    inner.push_back(variant(1));
    const variant original(inner);
    variant copy(original);

    VariantList changed = copy.cast<VariantList>();
    changed.push_back(variant(2));
    copy = changed;

    EXPECT_EQ(1u, original.cast<VariantList>().size());
    EXPECT_EQ(2u, copy.cast<VariantList>().size());
}

TEST(VariantConstruction, CopiedObjectPointerSharesTheObject)
{
    const RecordingPageObjectPtr page = RecordingPageObject::make();
    const long before = page.use_count();
    {
        const variant v(page);
        const variant copy(v);
        EXPECT_EQ(before + 2, page.use_count());
        EXPECT_EQ(page.get(), copy.castJSObjectPtr().get());
    }
    EXPECT_EQ(before, page.use_count());
}

TEST(MakeVariantList, HoldsOneCopy)
{
    const VariantList list = FB::makeVariantList(variant(std::string("x")));
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ("x", list[0].castString());
}

// ---------------------------------------------------------------- assignment

// Every assignment installs the order of the type it stores; a left-over
// order of the previous type would read the new value as the old type.
TEST(VariantAssignment, InstallsTheOrderOfTheStoredType)
{
    variant v(5);
    v = std::string("b");
    EXPECT_TRUE(variant("a") < v);
    EXPECT_FALSE(v < variant("a"));

    v.assign(std::string("c"));
    EXPECT_TRUE(variant("b") < v);

    v = variant(2.5);
    EXPECT_TRUE(v < variant(3.0));
    EXPECT_FALSE(variant(3.0) < v);

    v = VariantList(1, variant(1));
    EXPECT_TRUE(v < variant(VariantList(1, variant(2))));

    v.assign(FB::variant_detail::null());
    EXPECT_TRUE(v.isNull());
    EXPECT_FALSE(v < variant(FB::variant_detail::null()));

    v.assign(FB::variant_detail::empty());
    EXPECT_EQ(typeid(FB::variant_detail::empty), v.getType());
    EXPECT_FALSE(v < variant(FB::variant_detail::empty()));
    EXPECT_FALSE(variant(FB::variant_detail::empty()) < v);

    v = L"z";
    EXPECT_TRUE(variant(L"y") < v);
}

TEST(VariantAssignment, SelfAssignmentKeepsTheValue)
{
    variant v(std::string("keep"));
    const variant& same = v;
    v = same;
    EXPECT_EQ("keep", v.castString());
}

// A value whose copy can be made to fail.
struct FragileCopy {
    static bool failCopies;
    FragileCopy() {}
    FragileCopy(const FragileCopy&)
    {
        if (failCopies)
            throw std::runtime_error("copy failed");
    }
    bool operator<(const FragileCopy&) const { return false; }
};
bool FragileCopy::failCopies = false;

TEST(VariantAssignment, FailedCopyLeavesTheTargetUnchanged)
{
    variant target(std::string("old"));
    const variant source((FragileCopy()));
    FragileCopy::failCopies = true;
    EXPECT_THROW(target = source, std::runtime_error);
    EXPECT_THROW(target = FragileCopy(), std::runtime_error);
    FragileCopy::failCopies = false;
    ASSERT_EQ(typeid(std::string), target.getType());
    EXPECT_EQ("old", target.castString());
    EXPECT_TRUE(variant("a") < target);
}

// A value that counts its copies.
struct CountedCopy {
    static int copies;
    int id = 0;
    explicit CountedCopy(int i) : id(i) {}
    CountedCopy(const CountedCopy& other) : id(other.id) { ++copies; }
    bool operator<(const CountedCopy& other) const { return id < other.id; }
};
int CountedCopy::copies = 0;

// Moving hands the held value over: nothing is copied, the source is left
// holding nothing and the target orders as the moved type.
TEST(VariantMove, TakesTheValueWithoutCopyingIt)
{
    variant source((CountedCopy(2)));
    CountedCopy::copies = 0;
    variant moved(std::move(source));
    EXPECT_EQ(0, CountedCopy::copies);
    EXPECT_EQ(2, moved.cast<CountedCopy>().id);
    EXPECT_EQ(typeid(void), source.getType());
    EXPECT_FALSE(source < variant());
    EXPECT_FALSE(variant() < source);

    variant target(std::string("old"));
    CountedCopy::copies = 0;
    target = std::move(moved);
    EXPECT_EQ(0, CountedCopy::copies);
    ASSERT_EQ(typeid(CountedCopy), target.getType());
    EXPECT_TRUE(variant(CountedCopy(1)) < target);
    EXPECT_EQ(typeid(void), moved.getType());

    // A list of variants grows by moving its elements, not copying them.
    VariantList list;
    CountedCopy::copies = 0;
    for (int i = 0; i < 20; ++i)
        list.push_back(variant(CountedCopy(i)));
    // Each element is copied once into its variant, never again.
    EXPECT_EQ(20, CountedCopy::copies);
}

// Assigning a plain value builds its variant once.
TEST(VariantMove, AssigningAValueCopiesItOnce)
{
    variant target(1);
    const CountedCopy value(7);
    CountedCopy::copies = 0;
    target = value;
    EXPECT_EQ(1, CountedCopy::copies);
    EXPECT_EQ(7, target.cast<CountedCopy>().id);
}

// Moving a variant into itself keeps its value, its order and nothing
// copied, whatever the held type (a list too: its elements stay).
TEST(VariantMove, IntoItselfKeepsTheValue)
{
    variant text(std::string("keep"));
    variant& sameText = text;
    text = std::move(sameText);
    ASSERT_EQ(typeid(std::string), text.getType());
    EXPECT_EQ("keep", text.castString());
    EXPECT_TRUE(variant(std::string("a")) < text);

    variant counted((CountedCopy(3)));
    variant& sameCounted = counted;
    CountedCopy::copies = 0;
    counted = std::move(sameCounted);
    EXPECT_EQ(0, CountedCopy::copies);
    ASSERT_EQ(typeid(CountedCopy), counted.getType());
    EXPECT_EQ(3, counted.cast<CountedCopy>().id);
    EXPECT_TRUE(variant(CountedCopy(2)) < counted);

    VariantList elements;
    elements.push_back(variant(1));
    elements.push_back(variant("two"));
    variant list(elements);
    variant& sameList = list;
    list = std::move(sameList);
    ASSERT_EQ(typeid(VariantList), list.getType());
    EXPECT_EQ(2u, list.cast<VariantList>().size());
}

// ---------------------------------------------------------------- exact casts

TEST(ExactCast, ReturnsTheHeldValueOfExactlyThatType)
{
    EXPECT_EQ(7, variant(7).castInt());
    EXPECT_EQ(7u, variant(7u).castUInt());
    EXPECT_EQ(7L, variant(7L).castLong());
    EXPECT_EQ(7UL, variant(7UL).castULong());
    EXPECT_EQ(7LL, variant(7LL).castLongLong());
    EXPECT_EQ(7ULL, variant(7ULL).castULongLong());
    EXPECT_EQ(short(7), variant(short(7)).castShort());
    EXPECT_EQ((unsigned short)7, variant((unsigned short)7).castUShort());
    EXPECT_EQ('a', variant('a').castChar());
    EXPECT_EQ((unsigned char)200, variant((unsigned char)200).castUChar());
    EXPECT_EQ(1.5, variant(1.5).castDouble());
    EXPECT_EQ(1.5f, variant(1.5f).castFloat());
    EXPECT_TRUE(variant(true).castBool());

    const RecordingPageObjectPtr page = RecordingPageObject::make();
    EXPECT_EQ(page.get(), variant(FB::JSAPIPtr(page)).castJSAPIPtr().get());
    EXPECT_EQ(page.get(), variant(FB::JSAPIWeakPtr(page)).castJSAPIWeakPtr().lock().get());
    const FB::ScriptErrorPtr error = boost::make_shared<FB::script_error>("carried");
    EXPECT_STREQ("carried", variant(error).cast<FB::ScriptErrorPtr>()->what());
}

struct CastFailure {
    const char* label;
    variant value;
    void (*cast)(const variant&);
    const char* from;
    const char* to;
};

std::ostream& operator<<(std::ostream& out, const CastFailure& c) { return out << c.label; }

std::vector<CastFailure> castFailures()
{
    const RecordingPageObjectPtr page = RecordingPageObject::make();
    return {
        {"text_as_int", variant("abc"), [](const variant& v) { v.castInt(); }, "Ss", "i"},
        {"int_as_long", variant(1), [](const variant& v) { v.castLong(); }, "i", "l"},
        {"int_as_double", variant(1), [](const variant& v) { v.castDouble(); }, "i", "d"},
        {"double_as_float", variant(1.0), [](const variant& v) { v.castFloat(); }, "d", "f"},
        {"bool_as_int", variant(true), [](const variant& v) { v.castInt(); }, "b", "i"},
        {"nothing_as_string", variant(), [](const variant& v) { v.castString(); }, "v", "Ss"},
        {"null_as_object", variant(FB::variant_detail::null()),
         [](const variant& v) { v.castJSObjectPtr(); }, "N2FB14variant_detail4nullE",
         "N5boost10shared_ptrIN2FB8JSObjectEEE"},
        {"empty_as_wstring", variant(FB::variant_detail::empty()),
         [](const variant& v) { v.castWString(); }, "N2FB14variant_detail5emptyE",
         "SbIwSt11char_traitsIwESaIwEE"},
        {"string_as_wstring", variant("a"), [](const variant& v) { v.castWString(); }, "Ss",
         "SbIwSt11char_traitsIwESaIwEE"},
        {"jsobject_as_jsapi", variant(FB::JSObjectPtr(page)),
         [](const variant& v) { v.castJSAPIPtr(); }, "N5boost10shared_ptrIN2FB8JSObjectEEE",
         "N5boost10shared_ptrIN2FB5JSAPIEEE"},
        {"jsapi_as_weak", variant(FB::JSAPIPtr(page)),
         [](const variant& v) { v.castJSAPIWeakPtr(); }, "N5boost10shared_ptrIN2FB5JSAPIEEE",
         "N5boost8weak_ptrIN2FB5JSAPIEEE"},
        {"list_as_map", variant(VariantList()), [](const variant& v) { v.cast<VariantMap>(); },
         "St6vectorIN2FB7variantESaIS1_EE",
         "St3mapISsN2FB7variantESt4lessISsESaISt4pairIKSsS1_EEE"},
        {"unsigned_as_int", variant(1u), [](const variant& v) { v.castInt(); }, "j", "i"},
        {"ulonglong_as_ulong", variant(1ULL), [](const variant& v) { v.castULong(); }, "y", "m"},
        {"char_as_uchar", variant('a'), [](const variant& v) { v.castUChar(); }, "c", "h"},
        {"short_as_ushort", variant(short(1)), [](const variant& v) { v.castUShort(); }, "s", "t"},
    };
}

class ExactCastFailure : public ::testing::TestWithParam<CastFailure> {};

TEST_P(ExactCastFailure, NamesBothTypesAndLeavesTheValue)
{
    const variant before = GetParam().value;
    try {
        GetParam().cast(GetParam().value);
        FAIL() << "cast did not fail";
    } catch (const FB::bad_variant_cast& e) {
        EXPECT_STREQ(GetParam().from, e.from);
        EXPECT_STREQ(GetParam().to, e.to);
        EXPECT_STREQ("bad cast", e.what());
    }
    EXPECT_EQ(before.getType(), GetParam().value.getType());
}

INSTANTIATE_TEST_SUITE_P(Casts, ExactCastFailure, ::testing::ValuesIn(castFailures()),
                         [](const ::testing::TestParamInfo<CastFailure>& info) {
                             return std::string(info.param.label);
                         });

TEST(ExactCast, FailureIsAStdBadCast)
{
    EXPECT_THROW(variant(1).castString(), std::bad_cast);
}

// ---------------------------------------------------------------- ordering

void expectStrictlyOrdered(const std::vector<variant>& values)
{
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_FALSE(values[i] < values[i]) << "irreflexive at " << i;
        for (size_t j = i + 1; j < values.size(); ++j) {
            EXPECT_TRUE(values[i] < values[j])
                << heldName(values[i]) << " before " << heldName(values[j]) << " (" << i << ", " << j << ")";
            EXPECT_FALSE(values[j] < values[i])
                << heldName(values[j]) << " not before " << heldName(values[i]) << " (" << j << ", " << i << ")";
        }
    }
}

// Across types only the type names count, never the contents.
TEST(VariantOrder, AcrossTypesFollowsTheTypeNames)
{
    const RecordingPageObjectPtr page = RecordingPageObject::make();
    const std::vector<variant> ordered = {
        variant(FB::variant_detail::null()),
        variant(FB::variant_detail::empty()),
        variant(boost::make_shared<FB::script_error>("e")),
        variant(FB::JSAPIPtr(page)),
        variant(FB::JSObjectPtr(page)),
        variant(FB::JSAPIWeakPtr(page)),
        variant(std::wstring(L"zzz")),
        variant(std::string("")),
        variant(VariantMap()),
        variant(VariantList(3, variant(9))),
        variant(false),
        variant('z'),
        variant(-1e300),
        variant(1e30f),
        variant((unsigned char)255),
        variant(-100),
        variant(0u),
        variant(-5L),
        variant(0UL),
        variant(short(-1)),
        variant((unsigned short)0),
        variant(),
        variant(-1LL),
        variant(0ULL),
    };
    expectStrictlyOrdered(ordered);
}

TEST(VariantOrder, WideStringBeforeString)
{
    EXPECT_TRUE(variant(L"z") < variant("a"));
    EXPECT_FALSE(variant("a") < variant(L"z"));
}

TEST(VariantOrder, DoubleBeforeIntWhateverTheValues)
{
    EXPECT_TRUE(variant(2.0) < variant(1));
    EXPECT_FALSE(variant(1) < variant(2.0));
}

struct OrderedPair {
    const char* label;
    variant less;
    variant greater;
};

std::ostream& operator<<(std::ostream& out, const OrderedPair& c) { return out << c.label; }

VariantList list(std::initializer_list<variant> items) { return VariantList(items); }

VariantMap map(std::initializer_list<VariantMap::value_type> items) { return VariantMap(items); }

std::vector<OrderedPair> orderedPairs()
{
    return {
        {"int", variant(1), variant(2)},
        {"negative_int", variant(-3), variant(-2)},
        {"bool", variant(false), variant(true)},
        {"double", variant(-0.5), variant(0.25)},
        {"float", variant(1.0f), variant(1.5f)},
        {"long", variant(1L), variant(2L)},
        {"unsigned_long_long", variant(1ULL), variant(~0ULL)},
        {"text_prefix", variant("ab"), variant("abc")},
        {"text_byte", variant("abc"), variant("abd")},
        {"text_empty_first", variant(""), variant("a")},
        // Bytes compare unsigned: 0x7F before 0x80.
        {"text_unsigned_bytes", variant("\x7f"), variant("\x80")},
        {"wide_prefix", variant(L"ab"), variant(L"abc")},
        {"wide_value", variant(std::wstring(1, wchar_t(0x41))), variant(std::wstring(1, wchar_t(0x20AC)))},
        {"list_prefix", variant(list({variant(1)})), variant(list({variant(1), variant(2)}))},
        {"list_first_element", variant(list({variant(1), variant(3)})), variant(list({variant(2)}))},
        {"list_empty_first", variant(VariantList()), variant(list({variant()}))},
        {"list_elements_by_type", variant(list({variant(5.0)})), variant(list({variant(1)}))},
        {"list_nested", variant(list({variant(list({variant(1)}))})),
         variant(list({variant(list({variant(1), variant(0)}))}))},
        {"map_value", variant(map({{"a", variant(1)}})), variant(map({{"a", variant(2)}}))},
        {"map_key", variant(map({{"a", variant(5)}})), variant(map({{"b", variant(0)}}))},
        {"map_prefix", variant(map({{"a", variant(1)}})),
         variant(map({{"a", variant(1)}, {"b", variant(0)}}))},
        {"map_empty_first", variant(VariantMap()), variant(map({{"", variant()}}))},
    };
}

class WithinTypeOrder : public ::testing::TestWithParam<OrderedPair> {};

TEST_P(WithinTypeOrder, LessBeforeGreater)
{
    EXPECT_TRUE(GetParam().less < GetParam().greater);
    EXPECT_FALSE(GetParam().greater < GetParam().less);
}

INSTANTIATE_TEST_SUITE_P(Types, WithinTypeOrder, ::testing::ValuesIn(orderedPairs()),
                         [](const ::testing::TestParamInfo<OrderedPair>& info) {
                             return std::string(info.param.label);
                         });

TEST(VariantOrder, EqualValuesAreEquivalent)
{
    const std::vector<std::pair<variant, variant> > equal = {
        {variant(3), variant(3)},
        {variant("x"), variant(std::string("x"))},
        {variant(), variant()},
        {variant(FB::variant_detail::null()), variant(FB::variant_detail::null())},
        {variant(FB::variant_detail::empty()), variant(FB::variant_detail::empty())},
        {variant(list({variant(1), variant("a")})), variant(list({variant(1), variant("a")}))},
        {variant(map({{"k", variant(1.5)}})), variant(map({{"k", variant(1.5)}}))},
    };
    for (size_t i = 0; i < equal.size(); ++i) {
        EXPECT_FALSE(equal[i].first < equal[i].second) << i;
        EXPECT_FALSE(equal[i].second < equal[i].first) << i;
    }
}

TEST(VariantOrder, NaNIsNeverLessAndNothingIsLessThanNaN)
{
    const variant nan(std::numeric_limits<double>::quiet_NaN());
    const variant nanf(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(nan < variant(1.0));
    EXPECT_FALSE(variant(1.0) < nan);
    EXPECT_FALSE(nanf < variant(1.0f));
    EXPECT_FALSE(variant(1.0f) < nanf);
}

// Pointers order by their ownership block: two pointers into one block are
// equivalent even when they point at different objects.
TEST(VariantOrder, ObjectPointersOrderByOwnership)
{
    const RecordingPageObjectPtr owner = RecordingPageObject::make();
    const RecordingPageObjectPtr other = RecordingPageObject::make();
    RecordingPageObject unrelated;
    const FB::JSObjectPtr alias(owner, &unrelated);
    ASSERT_NE(alias.get(), owner.get());

    const variant a{FB::JSObjectPtr(owner)};
    const variant b(alias);
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(b < a);

    const variant c{FB::JSObjectPtr(other)};
    EXPECT_NE(a < c, c < a);

    const variant apiA{FB::JSAPIPtr(owner)};
    const variant apiAlias(FB::JSAPIPtr(owner, static_cast<FB::JSAPI*>(&unrelated)));
    EXPECT_FALSE(apiA < apiAlias);
    EXPECT_FALSE(apiAlias < apiA);
    const variant apiC{FB::JSAPIPtr(other)};
    EXPECT_NE(apiA < apiC, apiC < apiA);
    EXPECT_EQ(a < c, apiA < apiC);

    // A pointer that owns nothing orders before every owning one.
    const variant unowned(FB::JSAPIPtr(FB::JSAPIPtr(), static_cast<FB::JSAPI*>(&unrelated)));
    ASSERT_EQ(typeid(FB::JSAPIPtr), unowned.getType());
    EXPECT_TRUE(unowned < apiA);
    EXPECT_FALSE(apiA < unowned);
}

TEST(VariantOrder, ScriptErrorPointersOrderByOwnership)
{
    const FB::ScriptErrorPtr first = boost::make_shared<FB::script_error>("1");
    const FB::ScriptErrorPtr second = boost::make_shared<FB::script_error>("2");
    const variant a(first), sameBlock(first), b(second);
    EXPECT_FALSE(a < sameBlock);
    EXPECT_FALSE(sameBlock < a);
    EXPECT_NE(a < b, b < a);
}

TEST(VariantOrder, NullBeforeEmptyBeforeObjectPointers)
{
    const variant null{FB::variant_detail::null()};
    const variant empty{FB::variant_detail::empty()};
    const variant object{FB::JSObjectPtr(RecordingPageObject::make())};
    EXPECT_TRUE(null < empty);
    EXPECT_TRUE(empty < object);
    EXPECT_TRUE(null < object);
    EXPECT_FALSE(object < empty);
}

TEST(VariantOrder, AnyStringBeforeAnyBool)
{
    EXPECT_TRUE(variant("\xff\xff") < variant(false));
    EXPECT_FALSE(variant(false) < variant("\xff\xff"));
}

} // namespace
