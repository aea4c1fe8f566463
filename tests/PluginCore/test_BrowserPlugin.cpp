// The factory base and the browser-binding base: the core comes from the
// application's factory, the path is kept process-wide and handed on, and
// the factory's name and description come from the plugin's identity.
#include <stdexcept>
#include <string>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "BrowserPlugin.h"
#include "EventLog.h"
#include "FactoryBase.h"
#include "PluginInfo.h"

using testsupport::RecordingCore;

namespace {

class TestFactory : public FB::FactoryBase {
public:
    FB::PluginCorePtr createPlugin(const std::string& mimetype) override
    {
        lastMimetype = mimetype;
        if (noCore)
            return FB::PluginCorePtr();
        lastCore = boost::make_shared<RecordingCore>();
        return lastCore;
    }

    std::string lastMimetype;
    bool noCore = false;
    boost::shared_ptr<RecordingCore> lastCore;
};

boost::shared_ptr<TestFactory>& factory()
{
    static boost::shared_ptr<TestFactory> instance;
    return instance;
}

class TestBrowserPlugin : public FB::BrowserPlugin {
public:
    explicit TestBrowserPlugin(const std::string& mimetype) : FB::BrowserPlugin(mimetype) {}
    void shutdown() override {}
    FB::PluginCorePtr core() const { return m_core; }
};

class BrowserPluginTest : public ::testing::Test {
protected:
    void SetUp() override { factory() = boost::make_shared<TestFactory>(); }
    void TearDown() override { factory().reset(); }
};

TEST_F(BrowserPluginTest, TheCoreComesFromTheFactoryForTheMimeType)
{
    TestBrowserPlugin plugin("application/x-test");
    EXPECT_EQ("application/x-test", factory()->lastMimetype);
    EXPECT_EQ(FB::PluginCorePtr(factory()->lastCore), plugin.core());
    EXPECT_EQ(1, factory().use_count()) << "the factory reference is released again";
}

TEST_F(BrowserPluginTest, DestructionReleasesTheCore)
{
    boost::weak_ptr<RecordingCore> core;
    {
        TestBrowserPlugin plugin("application/x-test");
        core = factory()->lastCore;
        factory()->lastCore.reset();
        EXPECT_FALSE(core.expired());
    }
    EXPECT_TRUE(core.expired());
}

TEST_F(BrowserPluginTest, ThePathIsKeptProcessWideAndHandedToTheCore)
{
    TestBrowserPlugin plugin("application/x-test");
    plugin.setFilesystemPath("/opt/plugins/libtest.so");
    EXPECT_EQ("/opt/plugins/libtest.so", FB::BrowserPlugin::getFilesystemPath());
    EXPECT_EQ("/opt/plugins/libtest.so", factory()->lastCore->m_filesystemPath);
}

TEST_F(BrowserPluginTest, AMissingCoreOrFactoryFailsTheConstruction)
{
    factory()->noCore = true;
    EXPECT_THROW(TestBrowserPlugin("application/x-test"), std::runtime_error);
    factory().reset();
    EXPECT_THROW(TestBrowserPlugin("application/x-test"), std::runtime_error);
}

TEST_F(BrowserPluginTest, NameAndDescriptionComeFromThePluginIdentity)
{
    EXPECT_EQ("testplugin", factory()->getPluginName("application/x-test"));
    EXPECT_EQ("testplugin", factory()->getPluginName());
    EXPECT_EQ("about application/x-test", factory()->getPluginDescription("application/x-test"));
    EXPECT_EQ("about ", factory()->getPluginDescription());
}

TEST_F(BrowserPluginTest, TheBaseHooksDoNothingAndTheReservedValueIsFour)
{
    factory()->globalPluginInitialize();
    factory()->globalPluginDeinitialize();
    factory()->reservedHook();
    EXPECT_EQ(4, factory()->reservedValue());
}

} // namespace

FB::FactoryBasePtr sharedFactoryInstance()
{
    return factory();
}

// The plugin's identity comes from the NPAPI module; these tests supply
// their own.
std::string FB::getPluginNameString()
{
    return "testplugin";
}

std::string FB::getPluginDescriptionString(const std::string& mimetype)
{
    return "about " + mimetype;
}

// The factory's NPAPI and X11 operations are compiled into the X11 binding,
// which these tests do not link; nothing here may reach them.
boost::shared_ptr<FB::Npapi::NpapiPlugin>
FB::FactoryBase::createNpapiPlugin(const boost::shared_ptr<FB::Npapi::NpapiBrowserHost>&,
                                   const std::string&)
{
    ADD_FAILURE() << "createNpapiPlugin reached in a core test";
    return boost::shared_ptr<FB::Npapi::NpapiPlugin>();
}

FB::PluginWindowX11* FB::FactoryBase::createPluginWindowX11(const FB::WindowContextX11&)
{
    ADD_FAILURE() << "createPluginWindowX11 reached in a core test";
    return nullptr;
}
