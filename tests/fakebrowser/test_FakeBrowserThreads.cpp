// The fake browser's main thread: recording which thread called, and the
// queue of asynchronous calls that only the main thread runs.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <thread>

#include "FakeBrowser.h"

using namespace fakebrowser;

namespace {

const char kPlugin[] = FAKEBROWSER_TEST_PLUGIN;
const char kType[] = "application/x-fakebrowser-test";

// The test plugin's count of asynchronous calls that ran.
int asyncRuns()
{
    void* handle = dlopen(kPlugin, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return -1;
    auto runs = reinterpret_cast<int (*)()>(dlsym(handle, "fakebrowser_testplugin_asyncRuns"));
    const int n = runs ? runs() : -1;
    dlclose(handle);
    return n;
}

class FakeBrowserThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
        instance = &browser.createInstance(kType);
        root = instance->scriptableObject();
        ASSERT_TRUE(root);
    }

    void queueFromWorker(int count, bool alsoMemory = false)
    {
        ASSERT_TRUE(browser.invoke(root.get(), "callFromThread", {Value(count), Value(alsoMemory)}).ok);
    }

    FakeBrowser browser{kPlugin};
    Instance* instance = nullptr;
    ObjectRef root;
};

TEST_F(FakeBrowserThreads, AsyncCallsFromAWorkerRunOnlyWhenTheMainThreadAsks)
{
    queueFromWorker(3);
    EXPECT_EQ(3u, browser.pendingAsyncCalls());
    EXPECT_EQ(0, asyncRuns());
    EXPECT_EQ(3u, browser.callCount(Entry::pluginthreadasynccall));
    EXPECT_EQ(3u, browser.offMainThreadCallCount(Entry::pluginthreadasynccall));
    EXPECT_EQ(3u, browser.runAsyncCalls());
    EXPECT_EQ(3, asyncRuns());
    EXPECT_TRUE(browser.violations().empty());

    queueFromWorker(1);
    EXPECT_TRUE(browser.pumpUntil([] { return asyncRuns() == 4; }, std::chrono::milliseconds(2000)));
    EXPECT_FALSE(browser.pumpUntil([] { return asyncRuns() == 5; }, std::chrono::milliseconds(20)));
}

TEST_F(FakeBrowserThreads, PumpWaitsForCallsQueuedLater)
{
    NPNetscapeFuncs* npn = browser.browserFuncs();
    NPP npp = instance->npp();
    bool ran = false;
    std::thread worker([npn, npp, &ran] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        npn->pluginthreadasynccall(npp, [](void* flag) { *static_cast<bool*>(flag) = true; }, &ran);
    });
    EXPECT_TRUE(browser.pumpUntil([&ran] { return ran; }, std::chrono::milliseconds(5000)));
    worker.join();
}

TEST_F(FakeBrowserThreads, OtherEntriesOffTheMainThreadAreViolations)
{
    queueFromWorker(0, true);
    EXPECT_EQ(1u, browser.offMainThreadCallCount(Entry::memalloc));
    EXPECT_EQ(1u, browser.offMainThreadCallCount(Entry::memfree));
    const std::vector<std::string> violations = browser.violations();
    ASSERT_EQ(2u, violations.size());
    EXPECT_EQ("memalloc called off the main thread", violations[0]);
    EXPECT_EQ("memfree called off the main thread", violations[1]);
    // The call log keeps the order and the thread of every call.
    bool sawOffMain = false;
    for (const CallRecord& call : browser.calls())
        sawOffMain = sawOffMain || (call.entry == Entry::memalloc && !call.onMainThread);
    EXPECT_TRUE(sawOffMain);

    // Scripting from another thread fails without touching the page.
    CallResult fromWorker;
    std::thread worker([this, &fromWorker] { fromWorker = browser.getProperty(instance->window().get(), "document"); });
    worker.join();
    EXPECT_FALSE(fromWorker.ok);
    EXPECT_EQ("scripting (getProperty) off the main thread", browser.violations().back());
}

TEST_F(FakeBrowserThreads, CallsOfADestroyedInstanceAreDropped)
{
    queueFromWorker(2);
    root.reset();
    instance->destroy();
    EXPECT_EQ(0u, browser.runAsyncCalls());
    EXPECT_EQ(0, asyncRuns());
    EXPECT_EQ(2u, browser.droppedAsyncCalls());
    browser.shutdown();
    EXPECT_EQ("", browser.ledgerProblems());
}

TEST_F(FakeBrowserThreads, NoCallRunsAfterShutdown)
{
    ObjectRef keep = root;
    Instance& second = browser.createInstance(kType);
    ObjectRef secondRoot = second.scriptableObject();
    browser.setDeliverAsyncCallsAfterDestroy(true);
    queueFromWorker(2);
    root.reset();
    keep.reset();
    instance->destroy();
    browser.invoke(secondRoot.get(), "callFromThread", {Value(1), Value(false)});
    secondRoot.reset();
    second.destroy();
    EXPECT_EQ(3u, browser.pendingAsyncCalls());
    browser.shutdown();
    EXPECT_EQ(3u, browser.droppedAsyncCalls());
    EXPECT_EQ("", browser.ledgerProblems());
    // Still queued after shutdown: recorded, never run, and a violation.
    browser.browserFuncs()->pluginthreadasynccall(second.npp(), [](void*) { FAIL(); }, nullptr);
    EXPECT_EQ(0u, browser.runAsyncCalls());
    EXPECT_EQ(4u, browser.droppedAsyncCalls());
    EXPECT_EQ(0, asyncRuns());
    EXPECT_EQ(std::vector<std::string>{"pluginthreadasynccall called after NP_Shutdown"}, browser.violations());
}

TEST_F(FakeBrowserThreads, AnyEntryCalledAfterShutdownIsAViolation)
{
    NPNetscapeFuncs* npn = browser.browserFuncs();
    root.reset();
    instance->destroy();
    ASSERT_EQ(NPERR_NO_ERROR, browser.shutdown());
    EXPECT_EQ("", browser.ledgerProblems());
    // From the main thread the entry still does its work.
    npn->memfree(npn->memalloc(4));
    EXPECT_EQ(0u, browser.memory().outstandingBlocks());
    std::thread worker([npn] { npn->getstringidentifier("late"); });
    worker.join();
    EXPECT_EQ((std::vector<std::string>{"memalloc called after NP_Shutdown", "memfree called after NP_Shutdown",
                                        "getstringidentifier called after NP_Shutdown",
                                        "getstringidentifier called off the main thread"}),
              browser.violations());
    // A new NP_Initialize opens the table again.
    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
    npn = browser.browserFuncs();
    npn->memfree(npn->memalloc(4));
    EXPECT_EQ(4u, browser.violations().size());
}

TEST_F(FakeBrowserThreads, DeliveryAfterDestroyCanBeAskedFor)
{
    browser.setDeliverAsyncCallsAfterDestroy(true);
    queueFromWorker(1);
    root.reset();
    instance->destroy();
    EXPECT_EQ(1u, browser.runAsyncCalls());
    EXPECT_EQ(1, asyncRuns());
}

} // namespace
