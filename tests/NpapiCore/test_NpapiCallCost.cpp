// What a page's method call costs through the browser: few heap
// allocations, the browser's books balanced afterwards, and nothing else the
// page holds touched. (Its time, and that it does not grow with the objects
// the page holds, is measured by bench_ScriptCall --live.)
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AllocationCounter.h"
#include "PluginFixture.h"

using fakebrowser::CallResult;
using fakebrowser::ObjectRef;
using fakebrowser::Value;

namespace {

class CallCost : public InstanceFixture {
protected:
    void SetUp() override
    {
        InstanceFixture::SetUp();
        // The per-call log would grow with every call measured.
        browser->setCallLogEnabled(false);
    }

    // object.add(2, 3) as a page does it: the name read as a property, then
    // the function object called and let go.
    bool pageCall()
    {
        const CallResult function = browser->getProperty(root.get(), "add");
        if (!function.ok || !function.value.isObject())
            return false;
        const CallResult sum = browser->invokeDefault(function.value.object(), {Value(2), Value(3)});
        return sum.ok && sum.value == Value(5);
    }
};

// The plugin's share of a call: the argument and result values, the
// function object's browser object, nothing per call for its books.
TEST_F(CallCost, AllocatesAtMostEightTimesPerCall)
{
    bool ok = true;
    const double perCall = allocations::perCall([&] { ok = pageCall() && ok; });
    EXPECT_TRUE(ok);
    EXPECT_LE(perCall, 8.0);
}

// Calls among thousands of live plugin objects leave them all as they were.
TEST_F(CallCost, CallsAmongManyLiveObjectsLeaveThemAlone)
{
    std::vector<ObjectRef> children;
    for (int i = 0; i < 3000; ++i) {
        const CallResult child = browser->callMember(root.get(), "makeChild");
        ASSERT_TRUE(child.value.isObject());
        children.push_back(child.value.asObject());
    }
    const size_t objects = browser->objects().liveCount();
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(pageCall());
    EXPECT_EQ(objects, browser->objects().liveCount());
    for (const ObjectRef& child : children)
        ASSERT_EQ(Value("child"), browser->getProperty(child.get(), "kind").value);
}

// Many calls leave the browser's object and memory counts where they were.
TEST_F(CallCost, ManyCallsLeaveTheBooksBalanced)
{
    ASSERT_TRUE(pageCall());
    const size_t objects = browser->objects().liveCount();
    const size_t blocks = browser->memory().outstandingBlocks();
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(pageCall());
    EXPECT_EQ(objects, browser->objects().liveCount());
    EXPECT_EQ(blocks, browser->memory().outstandingBlocks());
}

} // namespace
