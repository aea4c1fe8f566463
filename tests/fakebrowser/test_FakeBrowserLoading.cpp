// The fake browser loads a plugin library, calls its exports and hands it
// browser tables of the requested version and size.
#include <gtest/gtest.h>

#include <cstddef>
#include <stdexcept>

#include "FakeBrowser.h"

using namespace fakebrowser;

namespace {

const char kPlugin[] = FAKEBROWSER_TEST_PLUGIN;

TEST(FakeBrowserLoading, CallsTheExportsBeforeAndAfterInitialize)
{
    FakeBrowser browser(kPlugin);
    EXPECT_STREQ("0.1", browser.pluginVersion());
    EXPECT_STREQ("application/x-fakebrowser-test::Fake browser test plugin;", browser.mimeDescription());
    NPError error = -1;
    EXPECT_EQ("tiny", browser.npGetString(NPPVpluginNameString, &error));
    EXPECT_EQ(NPERR_NO_ERROR, error);
    EXPECT_EQ("", browser.npGetString(NPPVpluginDescriptionString, &error));
    EXPECT_EQ(NPERR_GENERIC_ERROR, error);

    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
    EXPECT_TRUE(browser.initialized());
    EXPECT_EQ("tiny", browser.npGetString(NPPVpluginNameString));
    EXPECT_EQ(NPERR_NO_ERROR, browser.shutdown());
    EXPECT_TRUE(browser.shutDown());
    EXPECT_EQ("", browser.ledgerProblems());
}

// The browser unloads the library after NP_Shutdown and lives on: its
// records stay, and calls that still come through the table are recorded.
TEST(FakeBrowserLoading, UnloadsTheLibraryAndKeepsTheRecords)
{
    FakeBrowser browser(kPlugin);
    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
    EXPECT_THROW(browser.unload(), std::logic_error);  // before NP_Shutdown
    Instance& instance = browser.createInstance("application/x-fakebrowser-test");
    ObjectRef root = instance.scriptableObject();
    ASSERT_TRUE(root);
    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    EXPECT_EQ(NPERR_NO_ERROR, browser.shutdown());
    EXPECT_THROW(browser.unload(), std::logic_error);  // the page still holds the plugin's object
    EXPECT_TRUE(browser.loaded());
    root.reset();
    const std::size_t callsBefore = browser.calls().size();

    browser.unload();
    EXPECT_FALSE(browser.loaded());
    EXPECT_THROW(browser.library(), std::logic_error);
    EXPECT_THROW(browser.unload(), std::logic_error);
    EXPECT_EQ(callsBefore, browser.calls().size());
    EXPECT_EQ("", browser.ledgerProblems());
    browser.browserFuncs()->memfree(browser.browserFuncs()->memalloc(1));
    EXPECT_EQ(callsBefore + 2, browser.calls().size());
    EXPECT_EQ((std::vector<std::string>{"memalloc called after NP_Shutdown", "memfree called after NP_Shutdown"}),
              browser.violations());

    // A browser may load it again.
    browser.load(kPlugin);
    EXPECT_STREQ("0.1", browser.pluginVersion());
}

TEST(FakeBrowserLoading, ReportsALibraryThatDoesNotLoad)
{
    EXPECT_THROW(FakeBrowser("/nonexistent/plugin.so"), std::runtime_error);
    // The failed browser did not stay registered.
    EXPECT_EQ(nullptr, FakeBrowser::current());
    FakeBrowser withoutPlugin;
    EXPECT_EQ(&withoutPlugin, FakeBrowser::current());
    EXPECT_THROW(withoutPlugin.library(), std::logic_error);
    EXPECT_THROW(FakeBrowser(), std::logic_error);  // one at a time
}

TEST(FakeBrowserLoading, RecordsWhichPluginEntriesWereFilled)
{
    FakeBrowser browser(kPlugin);
    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
    EXPECT_EQ((std::vector<std::string>{"newp", "destroy", "setwindow", "event", "getvalue"}),
              browser.filledPluginEntries());
    EXPECT_TRUE(FakeBrowser::callable(browser.pluginFuncs().newp));
    EXPECT_FALSE(FakeBrowser::callable(browser.pluginFuncs().newstream));  // still the marker
    EXPECT_EQ(sizeof(NPPluginFuncs), browser.pluginFuncs().size);
}

TEST(FakeBrowserLoading, HandsTheTableWithTheRequestedVersionAndSize)
{
    struct Case {
        uint16_t version;
        uint16_t size;
    };
    const Case cases[] = {
        {27, sizeof(NPNetscapeFuncs)},
        {18, offsetof(NPNetscapeFuncs, pluginthreadasynccall)},
        {27, offsetof(NPNetscapeFuncs, getvalueforurl)},
    };
    for (const Case& c : cases) {
        FakeBrowser browser(kPlugin);
        TableOptions options;
        options.version = c.version;
        options.size = c.size;
        ASSERT_EQ(NPERR_NO_ERROR, browser.initialize(options));
        EXPECT_EQ(c.version, browser.browserFuncs()->version);
        Instance& instance = browser.createInstance("application/x-fakebrowser-test");
        ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
        ObjectRef root = instance.scriptableObject();
        ASSERT_TRUE(root);
        const CallResult info = browser.invoke(root.get(), "tableInfo");
        EXPECT_EQ(Value("size=" + std::to_string(c.size) + " version=" + std::to_string(c.version)), info.value);
        root.reset();
        EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
        browser.shutdown();
        // The plugin copied by size and never called past it.
        EXPECT_EQ("", browser.ledgerProblems()) << "version " << c.version << " size " << c.size;
    }
}

TEST(FakeBrowserLoading, AnEntryPastTheSizeRecordsAViolation)
{
    FakeBrowser browser(kPlugin);
    TableOptions options;
    options.size = offsetof(NPNetscapeFuncs, pluginthreadasynccall);
    options.poisonTailMemory = false;  // this test reads the tail itself
    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize(options));
    NPNetscapeFuncs* table = browser.browserFuncs();
    ASSERT_NE(nullptr, table->pluginthreadasynccall);
    table->pluginthreadasynccall(nullptr, nullptr, nullptr);
    char* text = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(NPERR_GENERIC_ERROR, table->getvalueforurl(nullptr, NPNURLVProxy, "http://127.0.0.1/", &text, &length));
    EXPECT_EQ(nullptr, text);
    ASSERT_EQ(2u, browser.violations().size());
    EXPECT_EQ("called pluginthreadasynccall, which lies past the table's size", browser.violations()[0]);
    EXPECT_EQ("called getvalueforurl, which lies past the table's size", browser.violations()[1]);
    // An entry inside the size is the real one.
    EXPECT_EQ(0u, browser.callCount(Entry::pluginthreadasynccall));
    void* block = table->memalloc(4);
    table->memfree(block);
    EXPECT_EQ(1u, browser.callCount(Entry::memalloc));
}

#if defined(__SANITIZE_ADDRESS__)
TEST(FakeBrowserLoadingDeathTest, ReadingPastTheSizeIsCaughtUnderAddressSanitizer)
{
    EXPECT_DEATH(
        {
            FakeBrowser browser(kPlugin);
            TableOptions options;
            options.size = offsetof(NPNetscapeFuncs, pluginthreadasynccall);
            browser.initialize(options);
            volatile auto entry = browser.browserFuncs()->getvalueforurl;
            (void)entry;
        },
        "use-after-poison");
}
#endif

TEST(FakeBrowserLoading, InstanceCreationPassesParamsAndAnswers)
{
    FakeBrowser browser(kPlugin);
    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
    // A null value and a null name are passed as the browser has them.
    Instance& ok = browser.createInstance("application/x-fakebrowser-test",
                                          {{"id", "x"}, {"empty", nullptr}, {nullptr, "y"}});
    EXPECT_EQ(NPERR_NO_ERROR, ok.newResult());
    EXPECT_TRUE(ok.alive());
    NPWindow window = {};
    window.window = reinterpret_cast<void*>(0x1234);
    window.width = 10;
    window.height = 20;
    window.type = NPWindowTypeWindow;
    EXPECT_EQ(NPERR_NO_ERROR, ok.setWindow(window));
    EXPECT_EQ(20u, ok.lastWindow().height);

    for (const char* code : {"8", "5", "1"}) {
        Instance& failed = browser.createInstance("application/x-fakebrowser-test", {{"fail", code}});
        EXPECT_EQ(std::atoi(code), failed.newResult());
        EXPECT_FALSE(failed.alive());
        EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, failed.destroy());  // a browser never destroys a failed one
    }
    EXPECT_EQ(NPERR_NO_ERROR, ok.destroy());
    EXPECT_TRUE(ok.destroyed());
    browser.shutdown();
    EXPECT_EQ("", browser.ledgerProblems());
}

} // namespace
