// Calls carried from a worker to the main thread: results and errors come
// back to a waiting caller; refusals and shutdown end the wait; fire-and-
// forget calls run later on the main thread and keep their object alive.
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/bind/bind.hpp>
#include <gtest/gtest.h>

#include "CrossThreadCall.h"
#include "FakeBrowserHost.h"
#include "Watchdog.h"
#include "bad_variant_cast.h"
#include "script_error.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::FakePageObject;
using testbed::FakePageObjectPtr;

namespace {

typedef FB::variant (FB::JSAPI::*GetProperty)(const std::string&);
typedef void (FB::JSAPI::*SetProperty)(const std::string&, const FB::variant&);
typedef bool (FB::JSAPI::*HasProperty)(const std::string&) const;
typedef void (FB::JSAPI::*GetNames)(std::vector<std::string>*) const;

const GetProperty kGet = &FB::JSAPI::getProperty;
const SetProperty kSet = &FB::JSAPI::setProperty;
const HasProperty kHas = &FB::JSAPI::hasProperty;
const GetNames kNames = &FB::JSAPI::getMemberNames;

class CrossThreadCallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = host->newObject();
        page->set("answer", FB::variant(42));
    }
    void TearDown() override { host->shutdown(); }

    // Runs f on a worker while this (main) thread serves the hand-offs.
    template <class F>
    auto onWorker(F f) -> decltype(f())
    {
        std::future<decltype(f())> result = std::async(std::launch::async, f);
        const bool done = host->pumpUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            10000);
        EXPECT_TRUE(done) << "the worker did not finish";
        return result.get();
    }

    // The message of the FB::script_error that f throws on a worker.
    template <class F>
    std::string workerError(F f)
    {
        try {
            onWorker(f);
        } catch (const FB::script_error& e) {
            EXPECT_EQ(nullptr, dynamic_cast<const FB::invalid_member*>(&e))
                << "errors come back as plain script errors";
            return e.what();
        } catch (const std::exception& e) {
            return std::string("not a script error: ") + e.what();
        }
        return "no error";
    }

    testbed::Watchdog watchdog{60};
    FakeBrowserHostPtr host = FakeBrowserHost::create();
    FakePageObjectPtr page;
};

TEST_F(CrossThreadCallTest, OnTheMainThreadTheCallRunsInlineAndItsErrorsPassUnchanged)
{
    EXPECT_EQ(42, host->callOnMainThread(boost::bind(kGet, page.get(), "answer")).convertToInt());
    page->failOn("bad", [] { throw FB::invalid_member("bad"); });
    EXPECT_THROW(host->callOnMainThread(boost::bind(kGet, page.get(), "bad")), FB::invalid_member);
    page->failOn("worse", [] { throw std::logic_error("worse"); });
    EXPECT_THROW(host->callOnMainThread(boost::bind(kGet, page.get(), "worse")), std::logic_error);
    EXPECT_EQ(0, host->handOffs());
}

TEST_F(CrossThreadCallTest, AWorkersCallRunsOnTheMainThreadAndReturnsItsResult)
{
    const FB::variant answer =
        onWorker([&] { return host->callOnMainThread(page, boost::bind(kGet, page.get(), "answer")); });
    EXPECT_EQ(42, answer.convertToInt());
    const auto gets = page->callsOf("get", "answer");
    ASSERT_EQ(1u, gets.size());
    EXPECT_TRUE(gets[0].onMainThread);
}

TEST_F(CrossThreadCallTest, ResultsOfEveryKindComeBack)
{
    EXPECT_TRUE(onWorker([&] { return host->callOnMainThread(boost::bind(kHas, page.get(), "answer")); }));
    EXPECT_EQ(1u, onWorker([&] {
                  return host->callOnMainThread(boost::bind(&FB::JSAPI::getMemberCount, page.get()));
              }));
    onWorker([&] { host->callOnMainThread(boost::bind(kSet, page.get(), "k", FB::variant("v"))); });
    EXPECT_EQ("v", page->value("k").convertToString());
    std::vector<std::string> names;
    onWorker([&] { host->callOnMainThread(boost::bind(kNames, page.get(), &names)); });
    EXPECT_EQ((std::vector<std::string>{"answer", "k"}), names);
}

TEST_F(CrossThreadCallTest, AScriptErrorOnTheMainThreadReachesTheWorkerWithItsMessage)
{
    page->failOn("missing", [] { throw FB::invalid_member("missing"); });
    EXPECT_EQ("The specified member does not exist: missing", workerError([&] {
                  host->callOnMainThread(boost::bind(kGet, page.get(), "missing"));
              }));
}

TEST_F(CrossThreadCallTest, AnyOtherFailureOnTheMainThreadReachesTheWorkerAsAScriptError)
{
    page->failOn("broken", [] { throw std::runtime_error("disk on fire"); });
    EXPECT_EQ("disk on fire",
              workerError([&] { host->callOnMainThread(boost::bind(kGet, page.get(), "broken")); }));
    page->failOn("cast", [] { throw FB::bad_variant_cast("i", "Ss"); });
    EXPECT_EQ("bad cast",
              workerError([&] { host->callOnMainThread(boost::bind(kGet, page.get(), "cast")); }));
    page->failOn("odd", [] { throw 7; });
    EXPECT_EQ("Unknown exception",
              workerError([&] { host->callOnMainThread(boost::bind(kGet, page.get(), "odd")); }));
    EXPECT_FALSE(host->isShutDown());
}

TEST_F(CrossThreadCallTest, ARefusedHandOffFailsAtOnce)
{
    host->setHandOffMode(FakeBrowserHost::Refuse);
    EXPECT_EQ("Could not marshal to main thread",
              workerError([&] { host->callOnMainThread(boost::bind(kGet, page.get(), "answer")); }));
    EXPECT_TRUE(page->calls().empty());
}

TEST_F(CrossThreadCallTest, AfterShutdownACallFailsAtOnce)
{
    host->shutdown();
    EXPECT_EQ("Could not marshal to main thread",
              workerError([&] { host->callOnMainThread(boost::bind(kGet, page.get(), "answer")); }));
    EXPECT_TRUE(page->calls().empty());
}

// Asks for page's "answer" from a new worker through host; the future holds
// the answer as text, or the script error's message.
std::future<std::string> askOnWorker(FB::BrowserHost* host, const FakePageObjectPtr& page)
{
    return std::async(std::launch::async, [host, page] {
        try {
            return host->callOnMainThread(page, boost::bind(kGet, page.get(), "answer"))
                .convertToString();
        } catch (const FB::script_error& e) {
            return std::string(e.what());
        }
    });
}

TEST_F(CrossThreadCallTest, AWorkerWaitingWhenTheHostShutsDownFailsWithShuttingDown)
{
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    std::future<std::string> worker = askOnWorker(host.get(), page);
    while (host->handOffs() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    host->shutdown();
    ASSERT_EQ(std::future_status::ready, worker.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ("Shutting down", worker.get());
    EXPECT_EQ(1u, page->callsOf("get", "answer").size()) << "shutdown ran the pending call";
}

TEST_F(CrossThreadCallTest, AWaiterWhoseCallRanDuringShutdownFailsWithShuttingDown)
{
    // The shutdown order, step by step: the flag is set before the pending
    // call runs, so the call sees the host shut down, and its waiter fails
    // although the call itself returned.
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    std::atomic<int> runs{0};
    std::atomic<bool> sawShutDown{false};
    page->failOn("answer", [&] {
        sawShutDown = host->isShutDown();
        ++runs;
    });
    std::future<std::string> worker = askOnWorker(host.get(), page);
    while (host->handOffs() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(0, runs) << "the browser never delivers";
    host->shutdown();
    EXPECT_EQ(1, runs) << "shutdown ran the pending call before it returned";
    EXPECT_TRUE(sawShutDown);
    ASSERT_EQ(std::future_status::ready, worker.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ("Shutting down", worker.get()) << "not the call's result";
}

TEST_F(CrossThreadCallTest, AWorkerWaitsUntilTheBrowserDeliversItsCall)
{
    host->setHandOffMode(FakeBrowserHost::Deliver);
    std::future<std::string> worker = askOnWorker(host.get(), page);
    while (host->queued() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(std::future_status::timeout, worker.wait_for(std::chrono::seconds(0)));
    host->pump();
    EXPECT_EQ("42", worker.get());
}

TEST_F(CrossThreadCallTest, AHandOffRefusedAfterShutdownRanTheCallEndsTheWaitWithoutDeadlock)
{
    // The browser side refuses late: meanwhile the host shuts down and runs
    // the registered call, which needs the call's own mutex. A waiter holding
    // that mutex across the hand-off would deadlock the two threads.
    std::promise<void> handingOff;
    std::promise<void> shutDown;
    std::shared_future<void> shutDownDone(shutDown.get_future());
    host->setHandOffHook([&](FakeBrowserHost::CallFunction, void*) {
        handingOff.set_value();
        shutDownDone.wait_for(std::chrono::seconds(5));
        return 0;
    });
    std::future<std::string> worker = askOnWorker(host.get(), page);
    handingOff.get_future().wait();
    host->shutdown();
    shutDown.set_value();
    ASSERT_EQ(std::future_status::ready, worker.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ("Shutting down", worker.get()) << "the call ran; its data is not the caller's";
    EXPECT_EQ(1u, page->callsOf("get", "answer").size());
}

TEST(CrossThreadCallLifetime, TheCarriedCallMayHoldTheHostsLastReference)
{
    testbed::Watchdog watchdog(60);
    FakeBrowserHostPtr host = FakeBrowserHost::create();
    FakePageObjectPtr page = host->newObject();
    page->set("answer", FB::variant(42));
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    FakeBrowserHost::CallFunction deliver = nullptr;
    void* record = nullptr;
    std::promise<void> handedOff;
    host->setHandOffHook([&](FakeBrowserHost::CallFunction f, void* data) {
        deliver = f;
        record = data;
        handedOff.set_value();
        return 1;
    });
    // The worker reaches the host through a plain pointer only.
    std::future<std::string> worker = askOnWorker(host.get(), page);
    handedOff.get_future().wait();
    boost::weak_ptr<FakeBrowserHost> weakHost(host);
    host.reset();
    ASSERT_FALSE(weakHost.expired()) << "the carried call keeps the host";

    deliver(record);  // the browser delivers; the worker then drops the host
    EXPECT_EQ("42", worker.get());
    EXPECT_TRUE(weakHost.expired());
}

TEST_F(CrossThreadCallTest, TheKeptTargetOutlivesAWaiterThatGaveUp)
{
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    FakePageObjectPtr target = host->newObject();
    boost::weak_ptr<FakePageObject> weakTarget(target);
    std::promise<void> workerLeft;
    std::shared_future<void> left(workerLeft.get_future());
    bool aliveWhenRun = false;
    std::string workerError;
    // Runs on the main thread inside the target's getProperty, during
    // shutdown, after the worker has given up and dropped its reference.
    target->failOn("slow", [&] {
        left.wait_for(std::chrono::seconds(5));
        aliveWhenRun = !weakTarget.expired();
    });

    std::thread worker([&, t = target]() mutable {
        try {
            host->callOnMainThread(t, boost::bind(kGet, t.get(), "slow"));
        } catch (const FB::script_error& e) {
            workerError = e.what();
        }
        t.reset();
        workerLeft.set_value();
    });
    target.reset();
    while (host->handOffs() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    host->shutdown();
    worker.join();
    EXPECT_EQ("Shutting down", workerError);
    EXPECT_TRUE(aliveWhenRun);
    EXPECT_TRUE(weakTarget.expired());
}

// Fire-and-forget calls.

TEST_F(CrossThreadCallTest, AScheduledCallRunsLaterOnTheMainThread)
{
    std::thread worker([&] {
        host->scheduleOnMainThread(page, boost::bind(kSet, page.get(), "late", FB::variant(1)));
    });
    worker.join();
    EXPECT_FALSE(page->holds("late"));
    host->pump();
    ASSERT_TRUE(page->holds("late"));
    const auto sets = page->callsOf("set", "late");
    ASSERT_EQ(1u, sets.size());
    EXPECT_TRUE(sets[0].onMainThread);
}

TEST_F(CrossThreadCallTest, AScheduledCallKeepsItsObjectUntilItHasRun)
{
    FakePageObjectPtr target = host->newObject();
    boost::weak_ptr<FakePageObject> weak(target);
    host->scheduleOnMainThread(target, boost::bind(kSet, target.get(), "x", FB::variant(1)));
    target.reset();
    EXPECT_FALSE(weak.expired());
    host->pump();
    EXPECT_TRUE(weak.expired());
}

TEST_F(CrossThreadCallTest, ARefusedScheduledCallReleasesItsObjectAndNeverRuns)
{
    host->setHandOffMode(FakeBrowserHost::Refuse);
    FakePageObjectPtr target = host->newObject();
    boost::weak_ptr<FakePageObject> weak(target);
    EXPECT_NO_THROW(
        host->scheduleOnMainThread(target, boost::bind(kSet, target.get(), "x", FB::variant(1))));
    EXPECT_TRUE(target->calls().empty());
    target.reset();
    EXPECT_TRUE(weak.expired());
}

TEST_F(CrossThreadCallTest, AScheduledCallAfterShutdownNeverRuns)
{
    host->shutdown();
    host->scheduleOnMainThread(page, boost::bind(kSet, page.get(), "x", FB::variant(1)));
    host->pump();
    EXPECT_TRUE(page->calls().empty());
}

TEST_F(CrossThreadCallTest, AScheduledCallPendingAtShutdownRunsThen)
{
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    host->scheduleOnMainThread(page, boost::bind(kSet, page.get(), "x", FB::variant(1)));
    host->shutdown();
    EXPECT_TRUE(page->holds("x"));
}

TEST_F(CrossThreadCallTest, FailuresOfScheduledCallsAreDropped)
{
    page->failOn("script", [] { throw FB::script_error("page said no"); });
    page->failOn("cast", [] { throw FB::bad_variant_cast("i", "Ss"); });
    page->failOn("other", [] { throw std::runtime_error("other"); });
    page->failOn("odd", [] { throw 7; });
    const char* names[] = {"script", "cast", "other", "odd", "fine"};
    for (const char* name : names)
        host->scheduleOnMainThread(page, boost::bind(kSet, page.get(), std::string(name), FB::variant(1)));
    EXPECT_NO_THROW(host->pump());
    EXPECT_TRUE(page->holds("fine"));
    EXPECT_FALSE(page->holds("script"));
}

TEST(CrossThreadCallUnowned, AHostWithoutSharedOwnerCannotCarryCalls)
{
    FakeBrowserHost host;
    EXPECT_THROW(host.callOnMainThread(boost::bind(&FakeBrowserHost::queued, &host)),
                 boost::bad_weak_ptr);
    host.shutdown();
}

} // namespace
