// What one call may read from page arrays and objects: one total per call on
// each thread, joined by everything the call reads (nested lists, the
// method's own conversions), through the method wrappers and a function
// object's apply.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <thread>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "ArgumentList.h"
#include "CastFailure.h"
#include "JSAPIAuto.h"
#include "PageReadBudget.h"
#include "RecordingPageObject.h"
#include "method_wrappers.h"
#include "script_error.h"
#include "variant.h"

namespace {

using FB::PageReadBudget;
using FB::variant;
using FB::VariantList;
using testbed::list;

const std::size_t kBudget = PageReadBudget::kMaxEntries;

// An array-like page object whose "length" is whatever the page claims; each
// entry reads as its index. Reading past the budget is a fault of the
// reader: it throws, so a walk that believes the claim stops early.
class ClaimingArray : public RecordingPageObject {
public:
    explicit ClaimingArray(const variant& length) { properties["length"] = length; }
    variant getPropertyByIndex(int index) override
    {
        if (index >= static_cast<int>(kBudget))
            throw std::length_error("read past what one call may read");
        ++entriesRead;
        return variant(index);
    }
    std::size_t entriesRead = 0;
};
typedef boost::shared_ptr<ClaimingArray> ClaimingArrayPtr;

ClaimingArrayPtr claiming(const variant& length)
{
    return boost::make_shared<ClaimingArray>(length);
}

ClaimingArrayPtr ofLength(std::size_t length)
{
    return claiming(variant(static_cast<int>(length)));
}

variant page(const FB::JSObjectPtr& object)
{
    return variant(object);
}

// The entries of lists, each read as a list inside the method: the sum of
// their lengths.
class Lists : public FB::JSAPIAuto {
public:
    Lists() : FB::JSAPIAuto("<lists>")
    {
        addMethod("nestedLength", FB::bindMethod(this, &Lists::nestedLength));
        addMethod("count", [this](const VariantList& args) {
            ++counted;
            return variant(static_cast<int>(args.size()));
        });
    }
    int nestedLength(const VariantList& lists)
    {
        ++called;
        std::size_t total = 0;
        for (const variant& entry : lists)
            total += entry.convert_cast<VariantList>().size();
        return static_cast<int>(total);
    }
    int called = 0;
    int counted = 0;
};

template <typename Call>
std::string scriptErrorOf(Call call)
{
    try {
        call();
    } catch (const FB::script_error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no script error";
    return std::string();
}

// ---------------------------------------------------------------- the budget

TEST(PageReadBudget, BudgetsMadeWhileOneIsOpenShareItsTotal)
{
    {
        PageReadBudget call;
        EXPECT_TRUE(call.take(kBudget - 10));
        {
            PageReadBudget nested;
            EXPECT_FALSE(nested.take(11));
            // A refusal takes nothing.
            EXPECT_TRUE(nested.take(10));
        }
        EXPECT_FALSE(call.take(1));
        EXPECT_TRUE(call.take(0));
    }
    // Closed with its call: the next call starts with the whole total.
    PageReadBudget next;
    EXPECT_FALSE(next.take(kBudget + 1));
    EXPECT_TRUE(next.take(kBudget));
}

TEST(PageReadBudget, EachThreadHasItsOwn)
{
    PageReadBudget call;
    ASSERT_TRUE(call.take(kBudget));
    bool tookAll = false;
    std::thread other([&tookAll] {
        PageReadBudget own;
        tookAll = own.take(kBudget);
    });
    other.join();
    EXPECT_TRUE(tookAll);
    EXPECT_FALSE(call.take(1));
}

// ---------------------------------------------------------------- conversions

TEST(PageReadBudget, ConversionsInsideACallDrawFromItsTotal)
{
    const ClaimingArrayPtr first = ofLength(kBudget - 1);
    const ClaimingArrayPtr second = ofLength(2);
    {
        PageReadBudget call;
        EXPECT_EQ(kBudget - 1, page(first).convertToList().size());
        expectCastFailure([&] { page(second).convertToList(); }, "i", "i");
        EXPECT_EQ(0u, second->entriesRead);
    }
    // Outside a call each conversion opens its own.
    EXPECT_EQ(kBudget - 1, page(first).convertToList().size());
    EXPECT_EQ(2u, page(second).convertToList().size());
}

// ---------------------------------------------------------------- calls

// A list parameter that claims a huge length is an argument error, and the
// member is not called; nothing past "length" is read.
TEST(PageReadBudget, AListParameterClaimingAHugeLengthIsAnArgumentError)
{
    Lists lists;
    const FB::MethodHandler nestedLength = FB::bindMethod(&lists, &Lists::nestedLength);
    const ClaimingArrayPtr claim = claiming(variant(2147483647));
    EXPECT_EQ("Invalid argument conversion from i to i at index 1",
              scriptErrorOf([&] { nestedLength(list(page(claim))); }));
    EXPECT_EQ(0u, claim->entriesRead);
    EXPECT_EQ(0, lists.called);
}

// The lists a method reads from its list parameter count against the call's
// one total, with the parameter's own entries: up to the total they are
// read, one entry more is refused before the last list is read.
TEST(PageReadBudget, AListOfListsCannotMultiplyTheTotal)
{
    const struct {
        std::size_t innerLength;
        bool refused;
    } cases[] = {
        {kBudget / 2 - 1, false},  // 2 + 2 * (kBudget / 2 - 1) = kBudget
        {kBudget / 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.innerLength);
        Lists lists;
        const ClaimingArrayPtr a = ofLength(c.innerLength);
        const ClaimingArrayPtr b = ofLength(c.innerLength);
        const FB::JSObjectPtr outer = RecordingPageObject::makeArray(list(page(a), page(b)));
        const FB::MethodHandler nestedLength = FB::bindMethod(&lists, &Lists::nestedLength);
        if (c.refused) {
            expectCastFailure([&] { nestedLength(list(page(outer))); }, "i", "i");
            EXPECT_EQ(0u, b->entriesRead);
        } else {
            EXPECT_EQ(static_cast<int>(2 * c.innerLength), nestedLength(list(page(outer))).castInt());
        }
        EXPECT_EQ(c.innerLength, a->entriesRead);
    }
}

// apply reads its list and the method's reads within one total.
TEST(PageReadBudget, ApplyReadsItsListWithinTheCallsTotal)
{
    const boost::shared_ptr<Lists> lists = boost::make_shared<Lists>();
    const FB::JSAPIPtr count = lists->getProperty("count").cast<FB::JSAPIPtr>();
    const FB::JSAPIPtr nestedLength = lists->getProperty("nestedLength").cast<FB::JSAPIPtr>();
    const variant thisValue{FB::variant_detail::null()};

    const ClaimingArrayPtr claim = claiming(variant(2147483647));
    expectCastFailure([&] { count->invoke("apply", list(thisValue, page(claim))); }, "i", "i");
    EXPECT_EQ(0u, claim->entriesRead);
    EXPECT_EQ(0, lists->counted);

    EXPECT_EQ(static_cast<int>(kBudget), count->invoke("apply", list(thisValue, page(ofLength(kBudget)))).castInt());

    // apply's list holds one list of two lists: 1 + 2 + kBudget / 2 +
    // (kBudget / 2 - 2) entries, one more than the total.
    const ClaimingArrayPtr a = ofLength(kBudget / 2);
    const ClaimingArrayPtr b = ofLength(kBudget / 2 - 2);
    const FB::JSObjectPtr pair = RecordingPageObject::makeArray(list(page(a), page(b)));
    const FB::JSObjectPtr arguments = RecordingPageObject::makeArray(list(page(pair)));
    EXPECT_EQ("Could not convert from i to i",
              scriptErrorOf([&] { nestedLength->invoke("apply", list(thisValue, page(arguments))); }));
    EXPECT_EQ(0u, b->entriesRead);
}

} // namespace
