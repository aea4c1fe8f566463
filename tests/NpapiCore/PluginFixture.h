// The test plugin in a fresh fake browser: initialised before each test,
// and at the end every instance destroyed, the module shut down and the
// browser's ledgers checked for anything the plugin kept.
#ifndef TESTS_NPAPICORE_PLUGINFIXTURE_H
#define TESTS_NPAPICORE_PLUGINFIXTURE_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeBrowser.h"

// The browser's own NPAPI declarations, for the tests' brevity.
using namespace fakebrowser;

class PluginFixture : public ::testing::Test {
public:
    static const char* pluginPath() { return FB_TEST_PLUGIN_PATH; }

protected:
    void SetUp() override
    {
        browser.reset(new fakebrowser::FakeBrowser(pluginPath()));
        ASSERT_EQ(NPERR_NO_ERROR, browser->initialize(tableOptions()));
    }

    void TearDown() override
    {
        if (!browser)
            return;
        for (fakebrowser::Instance* instance : live) {
            if (instance->alive()) {
                EXPECT_EQ(NPERR_NO_ERROR, instance->destroy());
            }
        }
        live.clear();
        if (!browser->shutDown()) {
            EXPECT_EQ(NPERR_NO_ERROR, browser->shutdown());
        }
        EXPECT_EQ("", browser->ledgerProblems());
        EXPECT_TRUE(browser->violations().empty());
        browser.reset();
    }

    virtual fakebrowser::TableOptions tableOptions() const { return fakebrowser::TableOptions(); }

    // preparePage runs on the new page before NPP_New.
    fakebrowser::Instance& newInstance(const std::vector<fakebrowser::Param>& params = {},
                                       const std::string& mime = "application/x-okzoinstallplugin",
                                       const std::string& url = "http://127.0.0.1/page.html",
                                       const std::function<void(fakebrowser::Instance&)>& preparePage = {})
    {
        fakebrowser::Instance& instance = browser->createInstance(mime, params, url, NP_EMBED, preparePage);
        live.push_back(&instance);
        return instance;
    }

    // A page function that records each call's arguments and answers answer.
    fakebrowser::ObjectRef recordingFunction(std::vector<std::vector<fakebrowser::Value>>* calls,
                                             fakebrowser::Value answer = fakebrowser::Value())
    {
        return browser->newFunction(
            [calls, answer](const fakebrowser::Value&, const std::vector<fakebrowser::Value>& args) {
                calls->push_back(args);
                return answer;
            });
    }

    std::unique_ptr<fakebrowser::FakeBrowser> browser;
    std::vector<fakebrowser::Instance*> live;
};

// One live instance and its root object, made before each test.
class InstanceFixture : public PluginFixture {
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        instance = &newInstance();
        ASSERT_EQ(NPERR_NO_ERROR, instance->newResult());
        root = instance->scriptableObject();
        ASSERT_TRUE(root);
    }

    void TearDown() override
    {
        root = ObjectRef();
        PluginFixture::TearDown();
    }

    fakebrowser::Instance* instance = nullptr;
    fakebrowser::ObjectRef root;
};

#endif
