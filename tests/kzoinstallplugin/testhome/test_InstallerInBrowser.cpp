// The installer as a page reaches it: the fake browser loads the plugin's
// test build (home in a scratch folder, stand-ins for yum and
// gpk-update-viewer first on PATH) and scripts it as a page would: the site
// check on addresses without a real web host, apply with a list whose
// "length" lies, hundreds of updates from one page, an update that cannot
// start, and updates still running or pending when the browser destroys the
// instance and shuts the module down.
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../common/CommandStubs.h"
#include "../../common/ThreadCount.h"
#include "FakeBrowser.h"
#include "TestHomeEnvironment.h"

using namespace fakebrowser;

namespace {

const char kMime[] = "application/x-okzoinstallplugin";
const char kVendorPage[] = "https://www.otarnwell.com/update.html";
const char kRefused[] = "File corrupted. Try re-installing the plugin.";
const char kNotStarted[] = "Could not start the update";
const char kYum[] = "yum -y update vudiriveze";

class InstallerInBrowser : public ::testing::Test {
protected:
    void SetUp() override
    {
        CommandStubs::reset();
        browser.reset(new FakeBrowser(KZO_TESTHOME_PLUGIN_PATH));
        ASSERT_EQ(NPERR_NO_ERROR, browser->initialize());
    }
    void TearDown() override
    {
        CommandStubs::reset();
        if (!browser)
            return;
        for (Instance* instance : live) {
            if (instance->alive()) {
                EXPECT_EQ(NPERR_NO_ERROR, instance->destroy());
            }
        }
        if (!browser->shutDown()) {
            EXPECT_EQ(NPERR_NO_ERROR, browser->shutdown());
        }
        EXPECT_EQ("", browser->ledgerProblems());
        EXPECT_TRUE(browser->violations().empty())
            << testing::PrintToString(browser->violations());
        browser.reset();
    }

    Instance& open(const std::string& address)
    {
        Instance& instance = browser->createInstance(kMime, {}, address);
        live.push_back(&instance);
        return instance;
    }

    // A page function that records the first argument of each call.
    ObjectRef recorder(std::vector<int>* values)
    {
        return browser->newFunction([values](const Value&, const std::vector<Value>& args) {
            values->push_back(args.empty() ? -1 : static_cast<int>(args[0].asNumber()));
            return Value();
        });
    }

    CallResult update(Instance& instance, const ObjectRef& success, const ObjectRef& failure,
                      const ObjectRef& progress)
    {
        ObjectRef root = instance.scriptableObject();
        return browser->callMember(root.get(), "updatePlugin",
                                   {Value("http://u"), Value(success), Value(failure), Value(progress)});
    }

    static size_t sequencesEnded() { return TestHomeEnvironment::sequencesEnded(); }
    static bool waitForSequencesEnded(size_t count)
    {
        return TestHomeEnvironment::waitForSequencesEnded(count);
    }

    std::unique_ptr<FakeBrowser> browser;
    std::vector<Instance*> live;
};

// Only http and https pages whose host is a vendor's, and holds no control
// byte, may script the plugin; the others get the refusal from every call.
TEST_F(InstallerInBrowser, ThePageMustBeAWebPageOfTheVendor)
{
    const struct {
        std::string address;
        bool valid;
    } cases[] = {
        {kVendorPage, true},
        {"HTTP://otarnwell.com/", true},
        {"about:blank@www.otarnwell.com", false},
        {"data:;@www.otarnwell.com/,x", false},
        {"otarnwell.com/x", false},
        {"javascript://otarnwell.com/%0aalert(1)", false},
        {"foo://otarnwell.com/", false},
        {std::string("https://evil.com", 16) + '\0' + ".otarnwell.com/", false},
        {"https://evil.com\t.otarnwell.com/", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.address));
        Instance& instance = open(c.address);
        ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
        ObjectRef root = instance.scriptableObject();
        ASSERT_TRUE(root);
        const CallResult result = browser->callMember(root.get(), "getVersion");
        if (c.valid) {
            EXPECT_EQ(Value("1.6.210.5"), result.value);
            EXPECT_FALSE(result.threw());
        } else {
            EXPECT_EQ(kRefused, result.exception());
        }
        root.reset();
        EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    }
}

// apply of every function object the plugin hands out converts its list
// before any method or site check runs, so any page reaches it: a claimed
// huge "length" is refused at once, before any entry is read. A real list
// still reaches the method, and so its site check.
TEST_F(InstallerInBrowser, ApplyWithAClaimedHugeLengthReadsNoEntry)
{
    const struct {
        const char* address;
        Value echoed;
    } pages[] = {
        {kVendorPage, Value("x")},
        {"https://evil.example/", Value()},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.address);
        Instance& instance = open(p.address);
        ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
        ObjectRef root = instance.scriptableObject();
        ASSERT_TRUE(root);
        for (const char* member : {"getVersion", "echo", "getErrorString", "getMasterVersion", "updatePlugin",
                                   "addEventListener", "removeEventListener", "getLastException"}) {
            SCOPED_TRACE(member);
            const CallResult function = browser->getProperty(root.get(), member);
            ASSERT_TRUE(function.value.isObject());
            ObjectRef claim = browser->newObject();
            ASSERT_TRUE(browser->setProperty(claim.get(), "length", Value(2147483647)).ok);
            // Past "length" and a few entries the plugin is stopped.
            asPageObject(claim.get())->readLimit = 10;
            const CallResult applied =
                browser->invoke(function.value.object(), "apply", {Value::null(), Value(claim)});
            EXPECT_FALSE(applied.ok);
            EXPECT_FALSE(applied.threw());
            EXPECT_EQ(1u, asPageObject(claim.get())->reads);
        }
        EXPECT_TRUE(CommandStubs::calls().empty());

        const CallResult echo = browser->getProperty(root.get(), "echo");
        ASSERT_TRUE(echo.value.isObject());
        const ObjectRef list = browser->newArray({Value("x")});
        const CallResult echoed = browser->invoke(echo.value.object(), "apply", {Value::null(), Value(list)});
        EXPECT_EQ(p.echoed, echoed.value);
        EXPECT_EQ(p.echoed.isUndefined() ? kRefused : "", echoed.exception());
        root.reset();
        EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    }
}

// A page that starts hundreds of updates while yum runs: one worker thread,
// one more yum for all the calls made meanwhile, and each call reports.
TEST_F(InstallerInBrowser, HundredsOfUpdatesFromOnePageShareOneMoreSequence)
{
    const size_t kUpdates = 300;
    Instance& instance = open(kVendorPage);
    std::vector<int> successes, failures, progress;
    const ObjectRef success = recorder(&successes);
    const ObjectRef failure = recorder(&failures);
    const ObjectRef onProgress = recorder(&progress);
    CommandStubs::hold("yum");
    const size_t threadsBefore = threadsBeforeWorkers();
    for (size_t i = 0; i < kUpdates; ++i) {
        const CallResult result = update(instance, success, failure, onProgress);
        ASSERT_TRUE(result.ok) << result.exception();
    }
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    EXPECT_LE(threadsOfThisProcess(), threadsBefore + 2);
    EXPECT_FALSE(CommandStubs::waitForCalls(2, 300)) << testing::PrintToString(CommandStubs::calls());

    CommandStubs::release("yum");
    ASSERT_TRUE(browser->pumpUntil([&] { return successes.size() >= kUpdates; },
                                   std::chrono::milliseconds(20000)));
    browser->pumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(std::vector<std::string>(2, kYum), CommandStubs::calls());
    EXPECT_EQ(std::vector<int>(kUpdates, 100), progress);
    EXPECT_EQ(std::vector<int>(kUpdates, 0), successes);
    EXPECT_TRUE(failures.empty());
}

// Another instance's calls wait for the pending sequence when it is
// destroyed: the sequence never starts, and the running one still reports
// to the page that lives on.
TEST_F(InstallerInBrowser, AnInstanceDestroyedWithAPendingUpdateNeverStartsIt)
{
    CommandStubs::hold("yum");
    const size_t endedBefore = sequencesEnded();
    Instance& staying = open(kVendorPage);
    Instance& going = open(kVendorPage);
    std::vector<int> successes, goneResults, progress;
    {
        const ObjectRef success = recorder(&successes);
        const ObjectRef onProgress = recorder(&progress);
        ASSERT_TRUE(update(staying, success, success, onProgress).ok);
        ASSERT_TRUE(CommandStubs::waitForCalls(1));
        const ObjectRef result = recorder(&goneResults);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(update(going, result, result, onProgress).ok);
    }
    ASSERT_TRUE(browser->pumpUntil([&] { return progress.size() == 4; }));
    EXPECT_EQ(NPERR_NO_ERROR, going.destroy());

    CommandStubs::release("yum");
    ASSERT_TRUE(browser->pumpUntil([&] { return !successes.empty(); },
                                   std::chrono::milliseconds(20000)));
    ASSERT_TRUE(waitForSequencesEnded(endedBefore + 1));
    browser->pumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(std::vector<std::string>{kYum}, CommandStubs::calls());
    EXPECT_EQ(endedBefore + 1, sequencesEnded());
    EXPECT_EQ(std::vector<int>{0}, successes);
    EXPECT_TRUE(goneResults.empty());
}

// The thread for the package manager cannot be made: the page gets a script
// error it can read back, and no progress went out before it.
TEST_F(InstallerInBrowser, AnUpdateThatCannotStartIsAScriptErrorThePageReadsBack)
{
    Instance& instance = open(kVendorPage);
    ObjectRef root = instance.scriptableObject();
    std::vector<int> successes, progress;
    const ObjectRef success = recorder(&successes);
    const ObjectRef onProgress = recorder(&progress);

    setenv("KZO_TEST_REFUSE_THREADS", "1", 1);
    const CallResult refused = update(instance, success, success, onProgress);
    unsetenv("KZO_TEST_REFUSE_THREADS");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(std::vector<std::string>{kNotStarted}, refused.exceptions);
    EXPECT_EQ(Value(kNotStarted), browser->callMember(root.get(), "getLastException").value);
    browser->pumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(progress.empty());
    EXPECT_TRUE(CommandStubs::calls().empty());

    ASSERT_TRUE(update(instance, success, success, onProgress).ok);
    ASSERT_TRUE(browser->pumpUntil([&] { return !successes.empty(); },
                                   std::chrono::milliseconds(20000)));
    EXPECT_EQ(std::vector<int>{100}, progress);
    EXPECT_EQ(std::vector<std::string>{kYum}, CommandStubs::calls());
}

// The browser destroys the instance and shuts the module down while yum
// still runs and more calls wait for the next sequence: every page object
// is back by NP_Shutdown, the worker, which runs on, calls nothing
// afterwards, and the pending sequence never starts.
TEST_F(InstallerInBrowser, AnUpdateRunningAtShutdownKeepsNoPageObject)
{
    for (const int yumExit : {0, 2}) {
        SCOPED_TRACE("yum exits " + std::to_string(yumExit));
        if (!browser) {
            browser.reset(new FakeBrowser(KZO_TESTHOME_PLUGIN_PATH));
            ASSERT_EQ(NPERR_NO_ERROR, browser->initialize());
        }
        CommandStubs::reset();
        CommandStubs::exitWith("yum", yumExit);
        CommandStubs::hold("yum");
        const size_t endedBefore = sequencesEnded();
        Instance& instance = open(kVendorPage);
        ObjectRef root = instance.scriptableObject();
        std::vector<int> successes, failures, progress;
        {
            const ObjectRef success = recorder(&successes);
            const ObjectRef failure = recorder(&failures);
            const ObjectRef onProgress = recorder(&progress);
            ASSERT_TRUE(update(instance, success, failure, onProgress).ok);
            ASSERT_TRUE(CommandStubs::waitForCalls(1));
            for (int i = 0; i < 2; ++i)
                ASSERT_TRUE(update(instance, success, failure, onProgress).ok);
        }
        ASSERT_TRUE(browser->pumpUntil([&] { return progress.size() == 3; }));

        root.reset();
        EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
        EXPECT_EQ(NPERR_NO_ERROR, browser->shutdown());
        EXPECT_EQ("", browser->ledgerProblems()) << "yum still runs";

        CommandStubs::release("yum");
        ASSERT_TRUE(waitForSequencesEnded(endedBefore + 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(std::vector<std::string>{kYum}, CommandStubs::calls());
        EXPECT_EQ(endedBefore + 1, sequencesEnded());
        EXPECT_TRUE(successes.empty());
        EXPECT_TRUE(failures.empty());
        EXPECT_TRUE(browser->violations().empty()) << testing::PrintToString(browser->violations());
        live.clear();
        browser.reset();
    }
}

// A page that stores a value on one of the plugin's function objects (the
// three extra members, a method read as a property), be it the plugin
// itself, the function itself or another function object, and keeps the
// function or lets it go at once: the value reads back while the instance
// lives, and once the instance is gone and the page lets go, none of the
// plugin's browser objects is left. The plugin kept on one of its own extra
// members used to hold itself for ever.
TEST_F(InstallerInBrowser, WhatThePageStoresOnFunctionObjectsGoesWithTheInstance)
{
    const struct {
        const char* function;
        const char* value;  // "plugin", "itself" or a member of the plugin
        bool keep;
    } cases[] = {
        {"addEventListener", "plugin", true},    {"removeEventListener", "plugin", true},
        {"getLastException", "plugin", true},    {"echo", "plugin", true},
        {"echo", "itself", true},                {"echo", "getLastException", true},
        {"getLastException", "itself", true},    {"getLastException", "echo", true},
        {"addEventListener", "plugin", false},   {"getLastException", "plugin", false},
        {"echo", "plugin", false},               {"echo", "getLastException", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("plugin.") + c.function + ".x = " + c.value +
                     (c.keep ? ", function kept" : ", function let go"));
        Instance& instance = open(kVendorPage);
        ObjectRef plugin = instance.scriptableObject();
        ObjectRef function = browser->getProperty(plugin.get(), c.function).value.asObject();
        ASSERT_TRUE(function);
        const std::string value(c.value);
        ObjectRef stored = value == "plugin" ? plugin
                           : value == "itself" ? function
                                               : browser->getProperty(plugin.get(), value).value.asObject();
        ASSERT_TRUE(stored);
        NPObject* const made[] = {plugin.get(), function.get(), stored.get()};
        const CallResult result = browser->setProperty(function.get(), "x", Value(stored));
        EXPECT_TRUE(result.ok);
        EXPECT_FALSE(result.threw()) << result.exception();
        if (!c.keep) {
            function.reset();
            stored.reset();
            function = browser->getProperty(plugin.get(), c.function).value.asObject();
        }
        EXPECT_EQ(made[2], browser->getProperty(function.get(), "x").value.object());
        EXPECT_EQ(Value("1.6.210.5"), browser->callMember(plugin.get(), "getVersion").value);
        if (!c.keep)
            function.reset();

        EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
        // The page lets go of its objects: none of them may stay.
        plugin.reset();
        function.reset();
        stored.reset();
        for (NPObject* object : made) {
            EXPECT_FALSE(browser->objects().knows(object));
        }
    }
}

} // namespace
