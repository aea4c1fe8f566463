// Asynchronous invoke and property assignment on a page object, requested
// from any thread and run on the main thread through the page helper.
#include <stdexcept>
#include <string>
#include <thread>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "FakeBrowserHost.h"
#include "JSAPIAuto.h"
#include "JSObject.h"
#include "script_error.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::FakePageObject;
using testbed::FakePageObjectPtr;
using testbed::FakePageWindow;

namespace {

class JSObjectAsyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        callback = host->newFunction([this](const FB::VariantList& args) {
            received = args;
            receivedOnMain = host->isMainThread();
            return FB::variant();
        });
    }
    void TearDown() override { host->shutdown(); }

    template <class F>
    void fromWorker(F f)
    {
        std::thread worker(f);
        worker.join();
    }

    FakeBrowserHostPtr host = FakeBrowserHost::create();
    FakePageObjectPtr callback;
    FB::VariantList received;
    bool receivedOnMain = false;
};

TEST_F(JSObjectAsyncTest, InvokeWithoutANameCallsThePageFunctionItselfLater)
{
    FB::VariantList args;
    args.push_back(FB::variant(100));
    fromWorker([&] { callback->invokeAsync("", args); });
    EXPECT_TRUE(host->window()->helperCalls().empty());

    host->pump();
    const auto calls = host->window()->helperCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(3u, calls[0].argCount);
    EXPECT_EQ(0, calls[0].delay);
    EXPECT_EQ(FB::JSObjectPtr(callback), calls[0].func);
    EXPECT_TRUE(received.empty()) << "the page calls the function from its timer";

    host->window()->runTimers();
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(100, received[0].convertToInt());
    EXPECT_TRUE(receivedOnMain);
}

TEST_F(JSObjectAsyncTest, InvokeWithANameCallsThatMemberOfTheObject)
{
    FakePageObjectPtr listener = host->newObject();
    int done = 0;
    listener->method("onSuccess", [&](const FB::VariantList& args) {
        done = args.at(0).convertToInt();
        return FB::variant();
    });
    fromWorker([&] { listener->invokeAsync("onSuccess", FB::makeVariantList(FB::variant(16))); });
    host->pump();
    const auto calls = host->window()->helperCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(4u, calls[0].argCount);
    EXPECT_EQ("onSuccess", calls[0].fname);
    host->window()->runTimers();
    EXPECT_EQ(16, done);
}

TEST_F(JSObjectAsyncTest, SetPropertyAsyncAssignsOnTheMainThread)
{
    FakePageObjectPtr target = host->newObject();
    fromWorker([&] { target->setPropertyAsync("progress", FB::variant(100)); });
    EXPECT_FALSE(target->holds("progress"));
    host->pump();
    EXPECT_EQ(100, target->value("progress").convertToInt());
    const auto sets = target->callsOf("set", "progress");
    ASSERT_EQ(1u, sets.size());
    EXPECT_TRUE(sets[0].onMainThread);
}

TEST_F(JSObjectAsyncTest, ThePageObjectStaysAliveUntilItsCallHasRun)
{
    boost::weak_ptr<FakePageObject> weak(callback);
    callback->invokeAsync("", FB::VariantList());
    callback.reset();
    EXPECT_FALSE(weak.expired());
    host->pump();
    ASSERT_EQ(1u, host->window()->helperCalls().size());
    EXPECT_FALSE(weak.expired()) << "the page holds it for its timer now";
    host->window()->runTimers();
    EXPECT_TRUE(receivedOnMain);
}

TEST_F(JSObjectAsyncTest, AfterShutdownTheCallsReturnAndNothingReachesThePage)
{
    FakePageObjectPtr target = host->newObject();
    host->shutdown();
    EXPECT_NO_THROW(callback->invokeAsync("", FB::VariantList()));
    EXPECT_NO_THROW(target->setPropertyAsync("x", FB::variant(1)));
    host->pump();
    EXPECT_TRUE(host->window()->helperCalls().empty());
    EXPECT_TRUE(host->scripts().empty());
    EXPECT_FALSE(target->holds("x"));
}

TEST_F(JSObjectAsyncTest, FailuresOnTheMainThreadStayThere)
{
    host->setWindowMode(FakeBrowserHost::WindowMissing);
    callback->invokeAsync("", FB::VariantList());
    EXPECT_NO_THROW(host->pump());

    host->setWindowMode(FakeBrowserHost::WindowThrows);
    callback->invokeAsync("", FB::VariantList());
    EXPECT_NO_THROW(host->pump());

    host->setWindowMode(FakeBrowserHost::WindowPresent);
    FakePageObjectPtr target = host->newObject();
    target->failOn("x", [] { throw FB::script_error("read-only"); });
    target->setPropertyAsync("x", FB::variant(1));
    EXPECT_NO_THROW(host->pump());
    EXPECT_TRUE(host->window()->helperCalls().empty());
}

TEST_F(JSObjectAsyncTest, AnEventFiredFromAWorkerReachesThePageHandler)
{
    boost::shared_ptr<FB::JSAPIAuto> plugin = boost::make_shared<FB::JSAPIAuto>("plugin");
    plugin->addEventHandler("onprogress", callback);
    fromWorker([&] { plugin->fireEvent("onprogress", FB::makeVariantList(FB::variant(75))); });
    host->pump();
    host->window()->runTimers();
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(75, received[0].convertToInt());
    EXPECT_TRUE(receivedOnMain);
}

TEST(JSObjectAsyncWithoutHost, BothOperationsRefuseOnceTheHostIsGone)
{
    FakePageObjectPtr orphan;
    {
        FakeBrowserHostPtr host = FakeBrowserHost::create();
        orphan = host->newObject();
        host->shutdown();
    }
    ASSERT_FALSE(orphan->getHost());
    try {
        orphan->invokeAsync("", FB::VariantList());
        FAIL() << "invokeAsync accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Cannot invoke asynchronously", e.what());
    }
    try {
        orphan->setPropertyAsync("x", FB::variant(1));
        FAIL() << "setPropertyAsync accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Cannot invoke asynchronously", e.what());
    }
    EXPECT_THROW(orphan->scheduleInvoke(FB::VariantList(), ""), boost::bad_weak_ptr);
}

} // namespace
