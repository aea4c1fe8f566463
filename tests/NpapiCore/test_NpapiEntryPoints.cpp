// The library as a browser first meets it: its exports, its identity before
// and after NP_Initialize, the plugin table it fills and the failures of
// NP_Initialize and NPP_New.
#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "PluginFixture.h"

using fakebrowser::FakeBrowser;
using fakebrowser::Instance;

namespace {

const char kMime[] = "application/x-okzoinstallplugin,version=1.6.210.5::OTarnwell Installation Plugin;";

std::set<std::string> definedDynamicSymbols(const std::string& path)
{
    std::set<std::string> names;
    FILE* const pipe = popen(("nm -D --defined-only '" + path + "'").c_str(), "r");
    if (!pipe)
        return names;
    char line[1024];
    while (fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        names.insert(text.substr(text.rfind(' ') + 1));
    }
    pclose(pipe);
    return names;
}

TEST(PluginLibrary, ExportsExactlyTheFiveEntryFunctions)
{
    const std::set<std::string> expected = {"NP_GetMIMEDescription", "NP_GetPluginVersion",
                                            "NP_GetValue", "NP_Initialize", "NP_Shutdown"};
    EXPECT_EQ(expected, definedDynamicSymbols(PluginFixture::pluginPath()));
}

// Answers that need no NP_Initialize, asked before and after it.
void expectIdentity(FakeBrowser& browser)
{
    EXPECT_STREQ("1.6.210.5", browser.pluginVersion());
    EXPECT_STREQ(kMime, browser.mimeDescription());
    NPError error = 1;
    EXPECT_EQ("okzoinstallplugin", browser.npGetString(NPPVpluginNameString, &error));
    EXPECT_EQ(NPERR_NO_ERROR, error);
    error = 1;
    EXPECT_EQ("", browser.npGetString(NPPVpluginDescriptionString, &error));
    EXPECT_EQ(NPERR_NO_ERROR, error);
    NPBool xembed = 7;
    EXPECT_EQ(NPERR_GENERIC_ERROR, browser.npGetValue(NPPVpluginNeedsXEmbed, &xembed));
    EXPECT_EQ(NPERR_GENERIC_ERROR, browser.npGetValue(NPPVpluginNameString, nullptr));
}

TEST(PluginLibrary, IdentityBeforeAndAfterInitialize)
{
    FakeBrowser browser(PluginFixture::pluginPath());
    expectIdentity(browser);
    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
    expectIdentity(browser);
    EXPECT_EQ(NPERR_NO_ERROR, browser.shutdown());
    EXPECT_EQ("", browser.ledgerProblems());
}

TEST(PluginLibrary, NPGetValueDoesNotReadItsFirstArgument)
{
    FakeBrowser browser(PluginFixture::pluginPath());
    // Garbage where a browser passes null.
    const char* name = nullptr;
    EXPECT_EQ(NPERR_NO_ERROR, browser.library().getValue(reinterpret_cast<void*>(0x10),
                                                         NPPVpluginNameString, &name));
    EXPECT_STREQ("okzoinstallplugin", name);
}

TEST(PluginLibrary, InitializeFillsExactlyThirteenEntries)
{
    FakeBrowser browser(PluginFixture::pluginPath());
    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
    const std::vector<std::string> expected = {
        "newp",  "destroy", "setwindow", "newstream", "destroystream", "asfile",   "writeready",
        "write", "print",   "event",     "urlnotify", "getvalue",      "setvalue"};
    EXPECT_EQ(expected, browser.filledPluginEntries());
    EXPECT_EQ(NPERR_NO_ERROR, browser.shutdown());
}

TEST(PluginLibrary, InitializeRefusesMissingTables)
{
    FakeBrowser browser(PluginFixture::pluginPath());
    NPPluginFuncs pluginFuncs = {};
    NPNetscapeFuncs browserFuncs = {};
    EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, browser.library().initialize(nullptr, &pluginFuncs));
    EXPECT_EQ(NPERR_INVALID_FUNCTABLE_ERROR, browser.library().initialize(&browserFuncs, nullptr));
}

TEST(PluginLibrary, ShutdownTwiceAndInitializeAgain)
{
    FakeBrowser browser(PluginFixture::pluginPath());
    ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
    EXPECT_EQ(NPERR_NO_ERROR, browser.library().shutdown());
    EXPECT_EQ(NPERR_NO_ERROR, browser.library().shutdown());
}

class InstanceCreation : public PluginFixture {};

TEST_F(InstanceCreation, FailureCodesAndTheirText)
{
    struct Case {
        const char* mime;
        NPError answer;
        const char* printed;
    };
    const Case cases[] = {
        {"application/x-fbtest-refuse", NPERR_INCOMPATIBLE_VERSION_ERROR, "refused\n"},
        {"application/x-fbtest-nomemory", NPERR_OUT_OF_MEMORY_ERROR, "std::bad_alloc\n"},
        {"application/x-fbtest-throw", NPERR_GENERIC_ERROR, "x\n"},
        {"application/x-fbtest-nocore", NPERR_OUT_OF_MEMORY_ERROR, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mime);
        testing::internal::CaptureStdout();
        Instance& instance = newInstance({}, c.mime);
        EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout());
        EXPECT_EQ(c.answer, instance.newResult());
        EXPECT_EQ(nullptr, instance.npp()->pdata);
        // Nothing of the failed instance is left.
        EXPECT_EQ(0u, browser->objects().pluginHeldReferences());
    }
}

TEST_F(InstanceCreation, NullInstanceAnswersTwo)
{
    char mime[] = "application/x-okzoinstallplugin";
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR,
              browser->pluginFuncs().newp(mime, nullptr, NP_EMBED, 0, nullptr, nullptr, nullptr));
}

TEST_F(InstanceCreation, DestroyTwiceAnswersTwoTheSecondTime)
{
    Instance& instance = newInstance();
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR,
              browser->pluginFuncs().destroy(instance.npp(), nullptr));
}

TEST_F(InstanceCreation, EntriesWithoutAnInstance)
{
    NPP_t empty = {};
    NPStream stream = {};
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, browser->pluginFuncs().writeready(&empty, &stream));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, browser->pluginFuncs().write(&empty, &stream, 0, 1, nullptr));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, browser->pluginFuncs().setwindow(&empty, nullptr));
    EXPECT_EQ(0, browser->pluginFuncs().event(&empty, nullptr));
    EXPECT_EQ(NPERR_INVALID_INSTANCE_ERROR, browser->pluginFuncs().destroy(nullptr, nullptr));
}

TEST_F(InstanceCreation, StreamsOfferedByTheBrowserAreDeclined)
{
    Instance& instance = newInstance();
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    NPStream stream = {};
    stream.url = "http://127.0.0.1/data.bin";
    uint16_t type = 0;
    char mime[] = "application/octet-stream";
    EXPECT_EQ(NPERR_NO_ERROR, browser->pluginFuncs().newstream(instance.npp(), mime, &stream, 0, &type));
    EXPECT_EQ(nullptr, stream.pdata);
    EXPECT_EQ(0, type);
    EXPECT_EQ(-1, browser->pluginFuncs().writeready(instance.npp(), &stream));
    char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(-1, browser->pluginFuncs().write(instance.npp(), &stream, 0, 4, data));
    EXPECT_EQ(NPERR_NO_ERROR, browser->pluginFuncs().destroystream(instance.npp(), &stream, NPRES_DONE));
}

TEST_F(InstanceCreation, APageWithoutWindowObjectStillGetsItsInstance)
{
    for (const GetValueFailure failure : {GetValueFailure::Error, GetValueFailure::NullObject}) {
        browser->setGetValueFailure(NPNVWindowNPObject, failure);
        browser->setGetValueFailure(NPNVPluginElementNPObject, failure);
        Instance& instance = newInstance({{"onload", "ready"}});
        ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
        const ObjectRef root = instance.scriptableObject();
        const CallResult location = browser->callMember(root.get(), "location");
        EXPECT_FALSE(location.ok);
        EXPECT_EQ("Cannot find HTML window", location.exception());
        EXPECT_EQ(Value(3), browser->callMember(root.get(), "add", {Value(1), Value(2)}).value);
    }
}

TEST_F(InstanceCreation, TheDescriptionIsLookedUpByTheWholeMimeType)
{
    struct Case {
        const char* mime;
        const char* description;
    };
    const Case cases[] = {
        {"application/x-okzoinstallplugin,version=1.6.210.5", "OTarnwell Installation Plugin"},
        {"application/x-okzoinstallplugin", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mime);
        Instance& instance = newInstance({}, c.mime);
        ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
        const char* description = nullptr;
        EXPECT_EQ(NPERR_NO_ERROR, instance.getValue(NPPVpluginDescriptionString, &description));
        EXPECT_STREQ(c.description, description);
    }
}

TEST_F(InstanceCreation, InstanceValuesAndTheScriptableObject)
{
    Instance& instance = newInstance();
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    const char* name = nullptr;
    EXPECT_EQ(NPERR_NO_ERROR, instance.getValue(NPPVpluginNameString, &name));
    EXPECT_STREQ("okzoinstallplugin", name);
    NPBool xembed = false;
    EXPECT_EQ(NPERR_NO_ERROR, instance.getValue(NPPVpluginNeedsXEmbed, &xembed));
    EXPECT_TRUE(xembed);
    EXPECT_EQ(NPERR_GENERIC_ERROR, instance.getValue(NPPVpluginWindowBool, &xembed));

    fakebrowser::ObjectRef first = instance.scriptableObject();
    fakebrowser::ObjectRef second = instance.scriptableObject();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), second.get());
    // The plugin keeps one reference; the browser holds the two it was given.
    EXPECT_EQ(3u, first.get()->referenceCount);
}

} // namespace

namespace {

// A browser of table version 18 has no NPN_PluginThreadAsyncCall: a worker's
// call into the page is refused at once instead of waiting for a delivery
// that never comes.
class OldBrowser : public PluginFixture {
protected:
    fakebrowser::TableOptions tableOptions() const override
    {
        fakebrowser::TableOptions options;
        options.version = 18;
        return options;
    }
};

TEST_F(OldBrowser, WorkersCannotReachThePageWithoutTheThreadCall)
{
    Instance& instance = newInstance();
    const ObjectRef root = instance.scriptableObject();
    std::vector<std::vector<Value>> calls;
    const ObjectRef func = recordingFunction(&calls);
    ASSERT_TRUE(browser->callMember(root.get(), "callPageFromWorker", {Value(func), Value(1)}).ok);
    ASSERT_TRUE(browser->pumpUntil(
        [&] { return !browser->callMember(root.get(), "workerResult").value.isUndefined(); }));
    EXPECT_EQ(Value("error: Could not marshal to main thread"),
              browser->callMember(root.get(), "workerResult").value);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(0u, browser->callCount(Entry::pluginthreadasynccall));
}

// A browser whose table ends right after NPN_SetException: the plugin never
// reads or calls past that end (the tail is poisoned and, under
// AddressSanitizer, unreadable), and still works.
class ShortTableBrowser : public PluginFixture {
protected:
    fakebrowser::TableOptions tableOptions() const override
    {
        fakebrowser::TableOptions options;
        options.size = offsetof(NPNetscapeFuncs, pushpopupsenabledstate);
        return options;
    }
};

TEST_F(ShortTableBrowser, NothingPastTheBrowsersSizeIsUsed)
{
    Instance& instance = newInstance({{"onload", "missing"}});
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    const ObjectRef root = instance.scriptableObject();
    EXPECT_EQ(Value(5), browser->callMember(root.get(), "add", {Value(2), Value(3)}).value);
    std::vector<std::string> names;
    EXPECT_TRUE(browser->enumerate(root.get(), &names));
    EXPECT_TRUE(browser->violations().empty());
}

} // namespace
