// The installer as a page reaches it: the fake browser loads the plugin's
// test build (home in a scratch folder, stand-ins for yum and
// gpk-update-viewer first on PATH) and scripts it as a page would: the site
// check on addresses without a real web host, apply with a list whose
// "length" lies, many updates from one page, and an update still running
// when the browser destroys the instance and shuts the module down.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../common/CommandStubs.h"
#include "FakeBrowser.h"
#include "TestHomeEnvironment.h"

using namespace fakebrowser;

namespace {

const char kMime[] = "application/x-okzoinstallplugin";
const char kVendorPage[] = "https://www.otarnwell.com/update.html";
const char kRefused[] = "File corrupted. Try re-installing the plugin.";

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

    // The package-manager sequences that ended so far: each worker logs its
    // last command's "Return code" to the process's log.
    static size_t sequencesEnded()
    {
        const std::string log = TestHomeEnvironment::log();
        size_t found = 0;
        for (size_t at = log.find(". Return code: "); at != std::string::npos;
             at = log.find(". Return code: ", at + 1))
            ++found;
        return found;
    }
    static bool waitForSequencesEnded(size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (sequencesEnded() < count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
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

// A page that starts many updates: one yum at a time, each reports.
TEST_F(InstallerInBrowser, ManyUpdatesFromOnePageRunOneAfterAnother)
{
    const int kUpdates = 5;
    Instance& instance = open(kVendorPage);
    ObjectRef root = instance.scriptableObject();
    std::vector<int> successes, failures, progress;
    const ObjectRef success = recorder(&successes);
    const ObjectRef failure = recorder(&failures);
    const ObjectRef onProgress = recorder(&progress);
    CommandStubs::hold("yum");
    for (int i = 0; i < kUpdates; ++i) {
        const CallResult result = browser->callMember(
            root.get(), "updatePlugin", {Value("http://u"), Value(success), Value(failure), Value(onProgress)});
        ASSERT_TRUE(result.ok) << result.exception();
    }
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    EXPECT_FALSE(CommandStubs::waitForCalls(2, 300)) << testing::PrintToString(CommandStubs::calls());

    CommandStubs::release("yum");
    ASSERT_TRUE(browser->pumpUntil([&] { return successes.size() == kUpdates; },
                                   std::chrono::milliseconds(20000)));
    EXPECT_EQ(std::vector<std::string>(kUpdates, "yum -y update vudiriveze"), CommandStubs::calls());
    EXPECT_EQ(std::vector<int>(kUpdates, 100), progress);
    EXPECT_EQ(std::vector<int>(kUpdates, 0), successes);
    EXPECT_TRUE(failures.empty());
}

// The browser destroys the instance and shuts the module down while yum
// still runs: every page object is back by NP_Shutdown, and the worker,
// which runs on, calls nothing afterwards.
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
            ASSERT_TRUE(browser->callMember(root.get(), "updatePlugin",
                                            {Value("http://u"), Value(success), Value(failure),
                                             Value(onProgress)})
                            .ok);
        }
        ASSERT_TRUE(CommandStubs::waitForCalls(1));
        ASSERT_TRUE(browser->pumpUntil([&] { return !progress.empty(); }));

        root.reset();
        EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
        EXPECT_EQ(NPERR_NO_ERROR, browser->shutdown());
        EXPECT_EQ("", browser->ledgerProblems()) << "yum still runs";

        CommandStubs::release("yum");
        ASSERT_TRUE(waitForSequencesEnded(endedBefore + 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(successes.empty());
        EXPECT_TRUE(failures.empty());
        EXPECT_TRUE(browser->violations().empty()) << testing::PrintToString(browser->violations());
        live.clear();
        browser.reset();
    }
}

} // namespace
