// The converting casts to scriptable-object pointers, lists and maps.
#include <climits>
#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "CastFailure.h"
#include "RecordingPageObject.h"
#include "JSAPI.h"
#include "PageReadBudget.h"
#include "script_error.h"
#include "variant.h"

namespace {

using FB::variant;
using FB::VariantList;
using FB::VariantMap;

const char* const kJSAPIPtr = "N5boost10shared_ptrIN2FB5JSAPIEEE";
const char* const kJSObjectPtr = "N5boost10shared_ptrIN2FB8JSObjectEEE";
const char* const kJSObject = "N2FB8JSObjectE";
const char* const kVariantMap = "St3mapISsN2FB7variantESt4lessISsESaISt4pairIKSsS1_EEE";
const size_t kBudget = FB::PageReadBudget::kMaxEntries;

// A page object whose reads can be made to fail, recording what was read.
class ScriptedPage : public RecordingPageObject {
public:
    enum Raise { Nothing, InvalidMember, OutOfMemory, Runtime, CastError };

    using RecordingPageObject::getProperty;

    FB::variant getProperty(const std::string& name) override
    {
        namesRead.push_back(name);
        if (name == failingName)
            raise(name);
        return RecordingPageObject::getProperty(name);
    }
    FB::variant getPropertyByIndex(int index) override
    {
        // A walk that believes a huge "length" is stopped here, not after
        // billions of reads.
        if (index >= static_cast<int>(FB::PageReadBudget::kMaxEntries))
            throw std::length_error("read past what one call may read");
        indexesRead.push_back(index);
        if (index == failingIndex)
            raise(std::to_string(index));
        return RecordingPageObject::getProperty(std::to_string(index));
    }
    void getMemberNames(std::vector<std::string>& names) const override
    {
        if (namesFail)
            throw FB::invalid_member("names");
        if (!memberNames.empty()) {
            names = memberNames;
            return;
        }
        RecordingPageObject::getMemberNames(names);
    }
    FB::JSAPIPtr getJSAPI() override
    {
        if (getJSAPIRaises == OutOfMemory)
            throw std::bad_alloc();
        if (getJSAPIRaises == InvalidMember)
            throw FB::invalid_member("inner");
        if (getJSAPIRaises == CastError)
            throw FB::bad_variant_cast("inner-from", "inner-to");
        return RecordingPageObject::getJSAPI();
    }

    void raise(const std::string& name) const
    {
        switch (raises) {
        case InvalidMember: throw FB::invalid_member(name);
        case OutOfMemory: throw std::bad_alloc();
        case Runtime: throw std::runtime_error("page broke");
        case CastError: throw FB::bad_variant_cast("read-from", "read-to");
        case Nothing: break;
        }
    }

    std::string failingName;
    int failingIndex = -1;
    Raise raises = InvalidMember;
    bool namesFail = false;
    Raise getJSAPIRaises = Nothing;
    std::vector<std::string> memberNames;
    std::vector<std::string> namesRead;
    std::vector<int> indexesRead;
};

typedef boost::shared_ptr<ScriptedPage> ScriptedPagePtr;

ScriptedPagePtr makeArray(const VariantList& elements)
{
    ScriptedPagePtr page = boost::make_shared<ScriptedPage>();
    page->properties["length"] = variant(static_cast<int>(elements.size()));
    for (size_t i = 0; i < elements.size(); ++i)
        page->properties[std::to_string(i)] = elements[i];
    return page;
}

// A scriptable object of the plugin: a JSAPI that is no page object.
class PluginObject : public FB::JSAPI {
public:
    void invalidate() override {}
    void getMemberNames(std::vector<std::string>& names) const override { names.clear(); }
    size_t getMemberCount() const override { return 0; }
    bool hasMethod(const std::string&) const override { return false; }
    bool hasProperty(const std::string&) const override { return false; }
    bool hasPropertyByIndex(int) const override { return false; }
    FB::variant getProperty(const std::string& name) override { throw FB::invalid_member(name); }
    void setProperty(const std::string& name, const FB::variant&) override { throw FB::invalid_member(name); }
    FB::variant getPropertyByIndex(int) override { throw FB::invalid_member("index"); }
    void setPropertyByIndex(int, const FB::variant&) override { throw FB::invalid_member("index"); }
    void removeProperty(const std::string& name) override { throw FB::invalid_member(name); }
    void removePropertyByIndex(int) override { throw FB::invalid_member("index"); }
    FB::variant invoke(const std::string& name, const FB::VariantList&) override { throw FB::invalid_member(name); }
    FB::variant construct(const FB::VariantList&) override { throw FB::invalid_member("construct"); }
};

// The exception class and text a call ends with.
template <typename Call>
std::pair<const std::type_info*, std::string> scriptErrorOf(Call call)
{
    try {
        call();
    } catch (const FB::script_error& e) {
        return std::make_pair(&typeid(e), std::string(e.what()));
    }
    ADD_FAILURE() << "no script error";
    return std::make_pair(&typeid(void), std::string());
}

const std::vector<variant> noValues()
{
    return {variant(), variant(FB::variant_detail::null()), variant(FB::variant_detail::empty())};
}

// ---------------------------------------------------------------- page object

TEST(ToJSObject, NoValueGivesAnEmptyPointer)
{
    for (const variant& v : noValues()) {
        SCOPED_TRACE(FB::typeName(v.getType()));
        EXPECT_FALSE(v.convertToJSObject());
        EXPECT_FALSE(v.convert_cast<FB::JSObjectPtr>());
    }
}

TEST(ToJSObject, PageObjectInAnyPointerForm)
{
    const RecordingPageObjectPtr page = RecordingPageObject::make();
    EXPECT_EQ(page, variant(FB::JSObjectPtr(page)).convertToJSObject());
    EXPECT_EQ(page, variant(FB::JSAPIPtr(page)).convertToJSObject());
    EXPECT_EQ(page, variant(FB::JSAPIWeakPtr(page)).convertToJSObject());
}

TEST(ToJSObject, ExpiredWeakPointerGivesAnEmptyPointer)
{
    FB::JSAPIWeakPtr weak;
    {
        weak = RecordingPageObject::make();
    }
    EXPECT_FALSE(variant(weak).convertToJSObject());
}

TEST(ToJSObject, RefusesValuesThatAreNoObject)
{
    expectCastFailure([] { variant(5).convertToJSObject(); }, "i", kJSAPIPtr);
    expectCastFailure([] { variant("f").convertToJSObject(); }, "Ss", kJSAPIPtr);
    expectCastFailure([] { variant(VariantList()).convertToJSObject(); },
                      "St6vectorIN2FB7variantESaIS1_EE", kJSAPIPtr);
    expectCastFailure([] { variant(boost::make_shared<FB::script_error>("e")).convertToJSObject(); },
                      "N5boost10shared_ptrIN2FB12script_errorEEE", kJSAPIPtr);
}

TEST(ToJSObject, RefusesAPluginObjectThatIsNoPageObject)
{
    const FB::JSAPIPtr plugin = boost::make_shared<PluginObject>();
    expectCastFailure([&] { variant(plugin).convertToJSObject(); }, kJSAPIPtr, kJSObject);
    expectCastFailure([&] { variant(FB::JSAPIWeakPtr(plugin)).convertToJSObject(); },
                      "N5boost8weak_ptrIN2FB5JSAPIEEE", kJSObject);
}

TEST(ToJSObject, UnwrapsAnInnerPageObject)
{
    const RecordingPageObjectPtr outer = RecordingPageObject::make();
    const RecordingPageObjectPtr inner = RecordingPageObject::make();
    outer->inner = inner;
    EXPECT_EQ(inner, variant(FB::JSObjectPtr(outer)).convertToJSObject());
}

TEST(ToJSObject, KeepsThePageObjectWhenItsInnerObjectIsNoPageObject)
{
    const RecordingPageObjectPtr outer = RecordingPageObject::make();
    outer->inner = boost::make_shared<PluginObject>();
    EXPECT_EQ(outer, variant(FB::JSObjectPtr(outer)).convertToJSObject());
}

TEST(ToJSObject, ErrorsOfThePageObjectPassUnchanged)
{
    const ScriptedPagePtr page = boost::make_shared<ScriptedPage>();
    page->getJSAPIRaises = ScriptedPage::InvalidMember;
    EXPECT_THROW(variant(FB::JSObjectPtr(page)).convertToJSObject(), FB::invalid_member);
}

// ---------------------------------------------------------------- scriptable object

TEST(ToJSAPI, NoValueGivesAnEmptyPointer)
{
    for (const variant& v : noValues())
        EXPECT_FALSE(v.convertToJSAPI()) << FB::typeName(v.getType());
}

TEST(ToJSAPI, PluginObjectAsItIs)
{
    const FB::JSAPIPtr plugin = boost::make_shared<PluginObject>();
    EXPECT_EQ(plugin, variant(plugin).convertToJSAPI());
    EXPECT_EQ(plugin, variant(FB::JSAPIWeakPtr(plugin)).convertToJSAPI());
    EXPECT_EQ(plugin, variant(plugin).convert_cast<FB::JSAPIPtr>());
}

TEST(ToJSAPI, ThePluginObjectBehindAPageObject)
{
    const RecordingPageObjectPtr page = RecordingPageObject::make();
    EXPECT_EQ(FB::JSAPIPtr(page), variant(FB::JSObjectPtr(page)).convertToJSAPI());
    const FB::JSAPIPtr plugin = boost::make_shared<PluginObject>();
    page->inner = plugin;
    EXPECT_EQ(plugin, variant(FB::JSObjectPtr(page)).convertToJSAPI());
}

TEST(ToJSAPI, RefusesValuesThatAreNoObject)
{
    expectCastFailure([] { variant(1.5).convertToJSAPI(); }, "d", kJSAPIPtr);
    expectCastFailure([] { variant(true).convertToJSAPI(); }, "b", kJSAPIPtr);
}

// ---------------------------------------------------------------- list

TEST(ToList, HeldListIsCopied)
{
    const VariantList list = {variant(1), variant("two")};
    const VariantList out = variant(list).convertToList();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(1, out[0].castInt());
    EXPECT_EQ("two", out[1].castString());
}

TEST(ToList, NoValueGivesAnEmptyList)
{
    for (const variant& v : noValues())
        EXPECT_TRUE(v.convertToList().empty()) << FB::typeName(v.getType());
}

TEST(ToList, PageArrayInIndexOrder)
{
    const ScriptedPagePtr array = makeArray({variant("a"), variant(2), variant(FB::variant_detail::null())});
    const VariantList out = variant(FB::JSObjectPtr(array)).convert_cast<VariantList>();
    ASSERT_EQ(3u, out.size());
    EXPECT_EQ("a", out[0].castString());
    EXPECT_EQ(2, out[1].castInt());
    EXPECT_TRUE(out[2].isNull());
    EXPECT_EQ((std::vector<int>{0, 1, 2}), array->indexesRead);
    EXPECT_EQ((std::vector<std::string>{"length"}), array->namesRead);
}

TEST(ToList, LengthIsConvertedAsLong)
{
    const ScriptedPagePtr array = makeArray({variant(7), variant(8)});
    array->properties["length"] = variant(2.0);
    EXPECT_EQ(2u, variant(FB::JSObjectPtr(array)).convertToList().size());
    array->properties["length"] = variant("1");
    EXPECT_EQ(1u, variant(FB::JSObjectPtr(array)).convertToList().size());
}

TEST(ToList, ZeroOrNegativeLengthReadsNoElement)
{
    for (int length : {0, -1, INT_MIN}) {
        const ScriptedPagePtr array = makeArray({variant(1)});
        array->properties["length"] = variant(length);
        EXPECT_TRUE(variant(FB::JSObjectPtr(array)).convertToList().empty()) << length;
        EXPECT_TRUE(array->indexesRead.empty()) << length;
    }
}

TEST(ToList, MissingLengthFailsItsConversion)
{
    const ScriptedPagePtr page = boost::make_shared<ScriptedPage>();
    expectCastFailure([&] { variant(FB::JSObjectPtr(page)).convertToList(); },
                      "N2FB14variant_detail5emptyE", "l");
}

// An int index cannot reach past 2147483647 elements.
TEST(ToList, LengthBeyondTheIndexRangeFailsBeforeReading)
{
    const ScriptedPagePtr array = makeArray({variant(1)});
    array->properties["length"] = variant(2147483648L);
    expectCastFailure([&] { variant(FB::JSObjectPtr(array)).convertToList(); }, "l", "i");
    array->properties["length"] = variant(4294967296.0);
    expectCastFailure([&] { variant(FB::JSObjectPtr(array)).convertToList(); }, "d", "i");
    EXPECT_TRUE(array->indexesRead.empty());
}

// What "length" claims is the page's word: more entries than one call may
// read fail as a length indexes cannot reach does, before any is read, in
// both walks.
TEST(ToList, ALengthBeyondWhatACallReadsFailsBeforeReading)
{
    const struct {
        variant length;
        const char* from;
    } cases[] = {
        {variant(2147483647), "i"},
        {variant(static_cast<int>(kBudget) + 1), "i"},
        {variant(2147483647.0), "d"},
        {variant(std::string("65537")), "Ss"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length.convertToString());
        const ScriptedPagePtr array = boost::make_shared<ScriptedPage>();
        array->properties["length"] = c.length;
        expectCastFailure([&] { variant(FB::JSObjectPtr(array)).convertToList(); }, c.from, "i");
        expectCastFailure([&] { variant(FB::JSObjectPtr(array)).convertToObjectList(); }, c.from, "i");
        EXPECT_TRUE(array->indexesRead.empty());
    }
}

// Outside a call each conversion reads within a budget of its own.
TEST(ToList, AnArrayOfAsManyEntriesAsACallReadsIsReadWhole)
{
    const ScriptedPagePtr array = boost::make_shared<ScriptedPage>();
    array->properties["length"] = variant(static_cast<int>(kBudget));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        array->indexesRead.clear();
        EXPECT_EQ(kBudget, variant(FB::JSObjectPtr(array)).convertToList().size());
        ASSERT_EQ(kBudget, array->indexesRead.size());
        EXPECT_EQ(static_cast<int>(kBudget) - 1, array->indexesRead.back());
    }
}

TEST(ToList, RefusesValuesThatAreNoObject)
{
    expectCastFailure([] { variant(3).convertToList(); }, "i", kJSObjectPtr);
    expectCastFailure([] { variant(VariantMap()).convertToList(); }, kVariantMap, kJSObjectPtr);
    const FB::JSAPIPtr plugin = boost::make_shared<PluginObject>();
    expectCastFailure([&] { variant(plugin).convertToList(); }, kJSAPIPtr, kJSObjectPtr);
}

TEST(ToList, ScriptErrorsOfReadsArriveAsPlainScriptErrors)
{
    const ScriptedPagePtr array = makeArray({variant(1), variant(2)});
    array->failingIndex = 1;
    const auto elementError = scriptErrorOf([&] { variant(FB::JSObjectPtr(array)).convertToList(); });
    EXPECT_EQ(typeid(FB::script_error), *elementError.first);
    EXPECT_EQ("The specified member does not exist: 1", elementError.second);

    array->failingName = "length";
    const auto lengthError = scriptErrorOf([&] { variant(FB::JSObjectPtr(array)).convertToList(); });
    EXPECT_EQ(typeid(FB::script_error), *lengthError.first);
    EXPECT_EQ("The specified member does not exist: length", lengthError.second);
}

TEST(ToList, OtherErrorsOfThePagePassUnchanged)
{
    const ScriptedPagePtr array = makeArray({variant(1)});
    array->failingIndex = 0;
    array->raises = ScriptedPage::OutOfMemory;
    EXPECT_THROW(variant(FB::JSObjectPtr(array)).convertToList(), std::bad_alloc);
    array->raises = ScriptedPage::Runtime;
    EXPECT_THROW(variant(FB::JSObjectPtr(array)).convertToList(), std::runtime_error);
    // Only the step to the page object is refused as such, not its reads.
    array->raises = ScriptedPage::CastError;
    expectCastFailure([&] { variant(FB::JSAPIPtr(array)).convertToList(); }, "read-from", "read-to");
}

// Only cast errors of the page-object step become a refusal.
TEST(ToList, OutOfMemoryWhileUnwrappingPassesUnchanged)
{
    const ScriptedPagePtr array = makeArray({variant(1)});
    array->getJSAPIRaises = ScriptedPage::OutOfMemory;
    EXPECT_THROW(variant(FB::JSAPIPtr(array)).convertToList(), std::bad_alloc);
    EXPECT_THROW(variant(FB::JSAPIPtr(array)).convertToMap(), std::bad_alloc);
}

// A value that first has to become a page object is refused under the
// page-object pointer's name; a held page-object pointer is read as it is and
// a cast error of its own passes unchanged.
TEST(ToListAndMap, OnlyAValueThatHasToBecomeAPageObjectIsRefusedAsSuch)
{
    const ScriptedPagePtr page = makeArray({variant(1)});
    page->getJSAPIRaises = ScriptedPage::CastError;
    expectCastFailure([&] { variant(FB::JSAPIPtr(page)).convertToList(); }, kJSAPIPtr, kJSObjectPtr);
    expectCastFailure([&] { variant(FB::JSAPIPtr(page)).convertToMap(); }, kJSAPIPtr, kJSObjectPtr);
    expectCastFailure([&] { variant(FB::JSObjectPtr(page)).convertToList(); }, "inner-from", "inner-to");
    expectCastFailure([&] { variant(FB::JSObjectPtr(page)).convertToMap(); }, "inner-from", "inner-to");
}

TEST(ToObjectList, PageArrayOfPageObjectsWithNullEntriesInPlace)
{
    const ScriptedPagePtr first = boost::make_shared<ScriptedPage>();
    const ScriptedPagePtr array =
        makeArray({variant(FB::JSObjectPtr(first)), variant(FB::variant_detail::null())});
    const std::vector<FB::JSObjectPtr> out = variant(FB::JSObjectPtr(array)).convertToObjectList();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(FB::JSObjectPtr(first), out[0]);
    EXPECT_FALSE(out[1]);

    const std::vector<FB::JSObjectPtr> held(1, first);
    EXPECT_EQ(held, variant(held).convertToObjectList());
    for (const variant& v : noValues())
        EXPECT_TRUE(v.convertToObjectList().empty()) << FB::typeName(v.getType());
}

TEST(ToObjectList, RefusesANonObjectAnswerAndNonObjectEntries)
{
    expectCastFailure([] { variant(3).convertToObjectList(); }, "i", kJSObjectPtr);
    const ScriptedPagePtr array = makeArray({variant(7)});
    expectCastFailure([&] { variant(FB::JSObjectPtr(array)).convertToObjectList(); }, "i", kJSAPIPtr);
    array->properties["length"] = variant(2147483648L);
    expectCastFailure([&] { variant(FB::JSObjectPtr(array)).convertToObjectList(); }, "l", "i");
}

TEST(ToObjectList, TheWalkStopsAtTheFirstEntryThatIsNoObject)
{
    // Each entry is converted as it is read: nothing after the refused entry
    // is read from the page.
    const ScriptedPagePtr first = boost::make_shared<ScriptedPage>();
    const ScriptedPagePtr array = makeArray(
        {variant(FB::JSObjectPtr(first)), variant(7), variant(FB::JSObjectPtr(first))});
    expectCastFailure([&] { variant(FB::JSObjectPtr(array)).convertToObjectList(); }, "i",
                      kJSAPIPtr);
    EXPECT_EQ(std::vector<std::string>({"length"}), array->namesRead);
    EXPECT_EQ(std::vector<int>({0, 1}), array->indexesRead);
}

TEST(JsArrayToList, AppendsToTheGivenList)
{
    VariantList out(1, variant("kept"));
    variant::jsArrayToList(makeArray({variant(1)}), out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ("kept", out[0].castString());
    EXPECT_EQ(1, out[1].castInt());
    variant::jsArrayToList(FB::JSObjectPtr(), out);
    EXPECT_EQ(2u, out.size());
}

// ---------------------------------------------------------------- map

TEST(ToMap, HeldMapIsCopied)
{
    const VariantMap map = {{"k", variant(1)}};
    const VariantMap out = variant(map).convertToMap();
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(1, out.at("k").castInt());
}

TEST(ToMap, NoValueGivesAnEmptyMap)
{
    for (const variant& v : noValues())
        EXPECT_TRUE(v.convertToMap().empty()) << FB::typeName(v.getType());
}

TEST(ToMap, PageObjectMembersInKeyOrder)
{
    const ScriptedPagePtr page = boost::make_shared<ScriptedPage>();
    page->properties["b"] = variant(2);
    page->properties["a"] = variant("one");
    page->memberNames = {"b", "a"};
    const VariantMap out = variant(FB::JSObjectPtr(page)).convert_cast<VariantMap>();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ("a", out.begin()->first);
    EXPECT_EQ("one", out.at("a").castString());
    EXPECT_EQ(2, out.at("b").castInt());
    EXPECT_EQ((std::vector<std::string>{"b", "a"}), page->namesRead);
}

TEST(JsObjectToMap, ANameAlreadyPresentKeepsItsFirstValue)
{
    const ScriptedPagePtr page = boost::make_shared<ScriptedPage>();
    page->properties["a"] = variant(1);
    page->properties["b"] = variant(2);
    VariantMap out = {{"b", variant("first")}};
    variant::jsObjectToMap(page, out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(1, out.at("a").castInt());
    EXPECT_EQ("first", out.at("b").castString());
}

// Each member name costs a read: an object with more names than one call
// may read is refused before any is read.
TEST(ToMap, MoreNamesThanACallReadsAreRefusedBeforeReading)
{
    const ScriptedPagePtr page = boost::make_shared<ScriptedPage>();
    for (size_t i = 0; i <= kBudget; ++i)
        page->memberNames.push_back("n" + std::to_string(i));
    expectCastFailure([&] { variant(FB::JSObjectPtr(page)).convertToMap(); }, kJSObjectPtr, kVariantMap);
    EXPECT_TRUE(page->namesRead.empty());

    page->memberNames.pop_back();
    EXPECT_EQ(kBudget, variant(FB::JSObjectPtr(page)).convertToMap().size());
    EXPECT_EQ(kBudget, page->namesRead.size());
}

TEST(ToMap, RefusesValuesThatAreNoObject)
{
    expectCastFailure([] { variant("x").convertToMap(); }, "Ss", kJSObjectPtr);
    expectCastFailure([] { variant(VariantList()).convertToMap(); },
                      "St6vectorIN2FB7variantESaIS1_EE", kJSObjectPtr);
}

TEST(ToMap, ScriptErrorsOfReadsArriveAsPlainScriptErrors)
{
    const ScriptedPagePtr page = boost::make_shared<ScriptedPage>();
    page->properties["a"] = variant(1);
    page->failingName = "a";
    const auto readError = scriptErrorOf([&] { variant(FB::JSObjectPtr(page)).convertToMap(); });
    EXPECT_EQ(typeid(FB::script_error), *readError.first);
    EXPECT_EQ("The specified member does not exist: a", readError.second);

    page->namesFail = true;
    const auto namesError = scriptErrorOf([&] { variant(FB::JSObjectPtr(page)).convertToMap(); });
    EXPECT_EQ(typeid(FB::script_error), *namesError.first);
    EXPECT_EQ("The specified member does not exist: names", namesError.second);
}

TEST(ToMap, OtherErrorsOfThePagePassUnchanged)
{
    const ScriptedPagePtr page = boost::make_shared<ScriptedPage>();
    page->properties["a"] = variant(1);
    page->failingName = "a";
    page->raises = ScriptedPage::OutOfMemory;
    EXPECT_THROW(variant(FB::JSObjectPtr(page)).convertToMap(), std::bad_alloc);
}

} // namespace
