// What a page call can make the plugin read from the page: an array's
// "length" and an object's member names are the page's word, and one call
// reads at most 65,536 entries of page arrays and objects in all. The test
// plugin through the fake browser: apply of a method's function object,
// list and map parameters, lists read inside a method.
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PluginFixture.h"

using fakebrowser::CallResult;
using fakebrowser::ObjectRef;
using fakebrowser::PageObject;
using fakebrowser::Value;

namespace {

// The most entries one call reads.
const std::size_t kLimit = 65536;
const char kObjectPtr[] = "N5boost10shared_ptrIN2FB8JSObjectEEE";
const char kVariantMap[] = "St3mapISsN2FB7variantESt4lessISsESaISt4pairIKSsS1_EEE";

class PageReading : public InstanceFixture {
protected:
    void SetUp() override
    {
        InstanceFixture::SetUp();
        browser->setCallLogEnabled(false);
    }

    static PageObject& page(const ObjectRef& object) { return *fakebrowser::asPageObject(object.get()); }

    // {length: claimed}: a plain page object. A plugin that reads more of it
    // than "length" and a few entries is stopped (a violation).
    ObjectRef claiming(const Value& length)
    {
        ObjectRef object = browser->newObject();
        EXPECT_TRUE(browser->setProperty(object.get(), "length", length).ok);
        page(object).readLimit = 10;
        return object;
    }
    ObjectRef arrayOf(std::size_t length) { return browser->newArray(std::vector<Value>(length, Value(1))); }

    CallResult call(const std::string& method, const std::vector<Value>& args)
    {
        return browser->callMember(root.get(), method, args);
    }
    // method.apply(null, list): the method's function object called through
    // its "apply".
    CallResult apply(const std::string& method, const Value& list)
    {
        const CallResult function = browser->getProperty(root.get(), method);
        EXPECT_TRUE(function.value.isObject());
        if (!function.value.isObject())
            return CallResult();
        return browser->invoke(function.value.object(), "apply", {Value::null(), list});
    }
};

// A claimed length beyond what a call reads fails as a length indexes
// cannot reach (4294967296) always has, before any entry is read: through
// apply a plain failure with nothing reported, as a list parameter an
// argument error.
TEST_F(PageReading, AClaimedHugeLengthIsRefusedBeforeAnyEntryIsRead)
{
    const struct {
        Value length;
        std::string argumentError;
    } cases[] = {
        {Value(2147483647), "Invalid argument conversion from i to i at index 1"},
        {Value(static_cast<int32_t>(kLimit + 1)), "Invalid argument conversion from i to i at index 1"},
        {Value(2147483647.0), "Invalid argument conversion from d to i at index 1"},
        {Value(4294967296.0), "Invalid argument conversion from d to i at index 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length.describe());
        const ObjectRef viaApply = claiming(c.length);
        const CallResult applied = apply("echo", Value(viaApply));
        EXPECT_FALSE(applied.ok);
        EXPECT_FALSE(applied.threw());
        EXPECT_EQ(1u, page(viaApply).reads);

        const ObjectRef asParameter = claiming(c.length);
        const CallResult listed = call("listLength", {Value(asParameter)});
        EXPECT_FALSE(listed.ok);
        EXPECT_EQ(c.argumentError, listed.exception());
        EXPECT_EQ(1u, page(asParameter).reads);
    }
    // The instance still answers.
    EXPECT_EQ(Value(5), call("add", {Value(2), Value(3)}).value);
}

TEST_F(PageReading, ListsWithinTheLimitConvertAsBefore)
{
    EXPECT_EQ(Value("x"), apply("echo", Value(browser->newArray({Value("x")}))).value);
    const ObjectRef arrayLike = browser->newObject();
    page(arrayLike).properties = {{"length", Value(2)}, {"0", Value("a")}, {"1", Value("b")}};
    EXPECT_EQ(Value(2), call("listLength", {Value(arrayLike)}).value);
    EXPECT_EQ(3u, page(arrayLike).reads);

    const ObjectRef whole = arrayOf(kLimit);
    EXPECT_EQ(Value(static_cast<int32_t>(kLimit)), call("listLength", {Value(whole)}).value);
    EXPECT_EQ(kLimit + 1, page(whole).reads);
    // The next call reads as much again.
    EXPECT_EQ(Value(static_cast<int32_t>(kLimit)), call("listLength", {Value(whole)}).value);

    const ObjectRef pair = browser->newArray({Value(browser->newArray({Value(1), Value(2)})),
                                              Value(browser->newArray({Value(3)}))});
    EXPECT_EQ(Value(3), call("nestedLength", {Value(pair)}).value);
}

// The lists read inside a call, by a method or by a property's setter,
// count against the call's one total with the list holding them: up to the
// total they are read, one entry more is refused before the last list is
// read.
TEST_F(PageReading, AListOfListsCannotMultiplyTheLimit)
{
    const struct {
        std::size_t innerLength;
        bool refused;
    } cases[] = {
        {kLimit / 2 - 1, false},  // 2 + 2 * (kLimit / 2 - 1) = kLimit
        {kLimit / 2, true},
    };
    for (const bool viaSetter : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(viaSetter ? "setter " : "method ") + std::to_string(c.innerLength));
            const ObjectRef a = arrayOf(c.innerLength);
            const ObjectRef b = arrayOf(c.innerLength);
            const Value lists(browser->newArray({Value(a), Value(b)}));
            const CallResult result =
                viaSetter ? browser->setProperty(root.get(), "lists", lists) : call("nestedLength", {lists});
            if (c.refused) {
                EXPECT_FALSE(result.ok);
                EXPECT_EQ("Could not convert from i to i", result.exception());
                EXPECT_EQ(1u, page(b).reads);
            } else {
                ASSERT_TRUE(result.ok) << result.exception();
                const Value total(static_cast<int32_t>(2 * c.innerLength));
                EXPECT_EQ(total, viaSetter ? browser->getProperty(root.get(), "lists").value : result.value);
            }
        }
    }
}

// Each member name costs a read: an object with more names than a call
// reads is refused before any member is read.
TEST_F(PageReading, AnObjectWithTooManyNamesIsRefusedAsAMap)
{
    const ObjectRef object = browser->newObject();
    for (std::size_t i = 0; i < kLimit; ++i)
        page(object).properties["n" + std::to_string(i)] = Value(1);
    EXPECT_EQ(Value(static_cast<int32_t>(kLimit)), call("mapSize", {Value(object)}).value);
    EXPECT_EQ(kLimit, page(object).reads);

    page(object).properties["one more"] = Value(1);
    page(object).reads = 0;
    const CallResult refused = call("mapSize", {Value(object)});
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(std::string("Invalid argument conversion from ") + kObjectPtr + " to " + kVariantMap +
                  " at index 1",
              refused.exception());
    EXPECT_EQ(0u, page(object).reads);
}

} // namespace
