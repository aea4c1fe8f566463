// The fake browser's books: object references, browser memory, identifiers
// and the violations a plugin commits against them.
#include <gtest/gtest.h>

#include "FakeBrowser.h"
#include "MinimalObject.h"

using namespace fakebrowser;

namespace {

const char kPlugin[] = FAKEBROWSER_TEST_PLUGIN;
const char kType[] = "application/x-fakebrowser-test";

class FakeBrowserLedgers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NPERR_NO_ERROR, browser.initialize()); }

    FakeBrowser browser{kPlugin};
};

TEST_F(FakeBrowserLedgers, BalancedAfterDestroyAndShutdown)
{
    Instance& instance = browser.createInstance(kType);
    ObjectRef root = instance.scriptableObject();
    ASSERT_TRUE(root);
    // The plugin holds the window, its own object and its instance record.
    EXPECT_EQ(2u, browser.objects().pluginHeldReferences());
    EXPECT_EQ(1u, browser.memory().outstandingBlocks());
    EXPECT_EQ(1u, browser.objects().liveCount(Origin::Plugin));
    EXPECT_EQ(Value("tiny"), browser.getProperty(root.get(), "name").value);

    instance.destroy();
    // The test still holds the root object: the plugin's object is alive.
    EXPECT_NE("", browser.ledgerProblems());
    root.reset();
    browser.shutdown();
    EXPECT_EQ("", browser.ledgerProblems());
    EXPECT_EQ(0u, browser.objects().liveCount(Origin::Plugin));
    EXPECT_EQ(0u, browser.objects().pluginHeldReferences());
}

TEST_F(FakeBrowserLedgers, DetectsWhatThePluginLeaks)
{
    const struct {
        const char* leak;
        const char* expected;
    } cases[] = {{"memory", "1 block(s) of browser memory (16 bytes) not freed"},
                 {"object", "holds 1 plugin reference(s)"}};
    for (const auto& c : cases) {
        Instance& instance = browser.createInstance(kType, {{"leak", c.leak}});
        instance.destroy();
        EXPECT_NE(std::string::npos, browser.ledgerProblems().find(c.expected)) << browser.ledgerProblems();
    }
}

TEST_F(FakeBrowserLedgers, RecordsMisuseOfMemoryAndReferences)
{
    Instance& instance = browser.createInstance(kType);
    NPNetscapeFuncs* npn = browser.browserFuncs();
    int local = 0;
    npn->memfree(&local);
    void* block = npn->memalloc(3);
    npn->memfree(block);
    npn->memfree(block);
    npn->memfree(nullptr);  // allowed

    // Releasing a reference the plugin never got: the window's only
    // references are the page's and the plugin's one.
    NPObject* window = instance.window().get();
    npn->releaseobject(window);
    npn->releaseobject(window);
    EXPECT_TRUE(browser.objects().knows(window));  // the page's reference survives

    const std::vector<std::string> violations = browser.violations();
    ASSERT_EQ(3u, violations.size());
    EXPECT_EQ("NPN_MemFree of memory the browser did not allocate (or freed twice)", violations[0]);
    EXPECT_EQ(violations[0], violations[1]);
    EXPECT_EQ("NPN_ReleaseObject of a reference the plugin does not hold", violations[2]);
}

TEST_F(FakeBrowserLedgers, ObjectsDeallocateThroughTheirClassAtZero)
{
    ObjectRef minimal = makeMinimalMethodObject(browser);
    NPObject* object = minimal.get();
    const std::size_t before = browser.objects().deallocatedCount();
    ObjectRef copy = minimal;
    EXPECT_EQ(2u, object->referenceCount);
    minimal.reset();
    copy.reset();
    // The object and the function object it held.
    EXPECT_EQ(before + 2, browser.objects().deallocatedCount());
    EXPECT_FALSE(browser.objects().knows(object));
}

TEST_F(FakeBrowserLedgers, IdentifiersAreInternedAndTheirTextIsBrowserMemory)
{
    NPNetscapeFuncs* npn = browser.browserFuncs();
    const NPIdentifier name = npn->getstringidentifier("length");
    EXPECT_EQ(name, npn->getstringidentifier("length"));
    EXPECT_EQ(name, stringIdentifier("length"));
    const NPIdentifier three = npn->getintidentifier(3);
    EXPECT_EQ(three, npn->getintidentifier(3));
    EXPECT_NE(three, npn->getstringidentifier("3"));
    EXPECT_TRUE(npn->identifierisstring(name));
    EXPECT_FALSE(npn->identifierisstring(three));
    EXPECT_EQ(3, npn->intfromidentifier(three));
    EXPECT_EQ(INT32_MIN, npn->intfromidentifier(name));
    EXPECT_EQ(nullptr, npn->utf8fromidentifier(three));

    NPUTF8* text = npn->utf8fromidentifier(name);
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ("length", text);
    EXPECT_EQ(1u, browser.memory().outstandingBlocks());
    npn->memfree(text);
    EXPECT_EQ(0u, browser.memory().outstandingBlocks());

    const char* names[] = {"a", nullptr, "length"};
    NPIdentifier ids[3];
    npn->getstringidentifiers(names, 3, ids);
    EXPECT_EQ(stringIdentifier("a"), ids[0]);
    EXPECT_EQ(nullptr, ids[1]);
    EXPECT_EQ(name, ids[2]);

    int bogus = 0;
    EXPECT_FALSE(npn->identifierisstring(&bogus));
    ASSERT_EQ(1u, browser.violations().size());
    EXPECT_EQ("identifierisstring with an identifier the browser never made", browser.violations()[0]);
}

TEST_F(FakeBrowserLedgers, ThePluginRoundTripsIdentifierText)
{
    Instance& instance = browser.createInstance(kType);
    ObjectRef root = instance.scriptableObject();
    const CallResult text = browser.invoke(root.get(), "identifierText", {Value("hello")});
    EXPECT_EQ(Value("hello"), text.value);
    // The plugin returned the browser's buffer, which the browser took back.
    EXPECT_EQ(1u, browser.memory().outstandingBlocks());  // the instance record only
}

} // namespace
