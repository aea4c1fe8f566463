// The installer helpers: fixed facts, per-user paths on a fake home
// directory, the site check and the main plugin's version pipeline (run in a
// private mount namespace over the fixed plugin directory).
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../talk/base/logcapture.h"
#include "FakePasswd.h"
#include "PrivatePluginDir.h"
#include "kzohelpers.h"

using testbed::FakePasswd;
using testbed::ScopedFakeHome;

namespace {

TEST(KzoHelpers, FixedFacts)
{
    EXPECT_EQ("1.6.210.5", getPluginVersion());
    EXPECT_EQ("/usr/lib64/mozilla/plugins", getMasterPluginDir());
    EXPECT_EQ("vudiriveze", getMasterPluginName());
}

TEST(KzoHelpers, PerUserPathsHangOffTheHomeDirectoryFollowedBySlashDot)
{
    ScopedFakeHome home("/home/u");
    EXPECT_EQ("/home/u/./.config/Tarnwell", getConfigDir());
    EXPECT_EQ("/home/u/./.config/Tarnwell/okzoinstallplugin", getPluginDataDir());
    EXPECT_EQ("/home/u/./.config/Tarnwell/okzoinstallplugin/downloads", getDownloadsDir());
    EXPECT_EQ("/home/u/./.config/Tarnwell/okzoinstallplugin/logs", getLogsDir());
    EXPECT_EQ("/home/u/./Tarnwell/Lintel", getLegacyProductDir());
}

TEST(KzoHelpers, PerUserPathsPassTheHomeLookupErrorsOn)
{
    FakePasswd::setNoEntry();
    try {
        getLogsDir();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("User not found.", e.what());
    }
    FakePasswd::setError(34);
    EXPECT_THROW(getLegacyProductDir(), std::runtime_error);
    FakePasswd::setNoEntry();
}

TEST(KzoHelpers, EndsWithAndQuoteString)
{
    EXPECT_TRUE(endsWith("www.otarnwell.com", "otarnwell.com"));
    EXPECT_TRUE(endsWith("abc", ""));
    EXPECT_TRUE(endsWith("abc", "abc"));
    EXPECT_FALSE(endsWith("bc", "abc"));
    EXPECT_FALSE(endsWith("abcd", "abc"));
    std::string text = "a b";
    quoteString(text);
    EXPECT_EQ("\"a b\"", text);
}

TEST(KzoSiteLists, BlockedEntriesAreTheDomainsFollowedByADot)
{
    ASSERT_EQ(3u, allowedDomains.size());
    EXPECT_EQ(13u, allowedDomains[0].size());
    EXPECT_EQ(16u, allowedDomains[1].size());
    EXPECT_EQ(16u, allowedDomains[2].size());
    ASSERT_EQ(allowedDomains.size(), blockedDomains.size());
    for (size_t i = 0; i < allowedDomains.size(); ++i)
        EXPECT_EQ(allowedDomains[i] + ".", blockedDomains[i]);
}

TEST(KzoSiteCheck, DecidesOnThePageAddressesHost)
{
    struct Case {
        const char* address;
        bool valid;
    } const cases[] = {
        // The vendor's domains and names under them.
        {"https://otarnwell.com/", true},
        {"https://otarnwell.com", true},
        {"https://www.otarnwell.com/install.html?x=1", true},
        {"http://a.b.tarnwellmeet.com:8080/p", true},
        {"https://tarnwellconf.com#top", true},
        {"https://WWW.OtarnWell.COM/", true},
        {"https://user:pw@www.otarnwell.com/", true},
        // A backslash ends the host, as browsers read it.
        {"https://otarnwell.com\\@evil.com/", true},
        // Other hosts, whatever the rest of the address holds.
        {"https://evil.com/otarnwell.com/", false},
        {"https://evil.com/?next=otarnwell.com/", false},
        {"https://evil.com/#otarnwell.com/", false},
        {"https://otarnwell.com@evil.com/", false},
        {"https://otarnwell.com.evil.com/", false},
        {"https://evilotarnwell.com/", false},
        {"https://otarnwell.community/", false},
        // The blocked entries: a domain followed by "." anywhere.
        {"https://otarnwell.com./", false},
        {"https://www.otarnwell.com/otarnwell.com.html", false},
        {"https://www.tarnwellconf.com/?r=tarnwellmeet.com.x", false},
        // No host, or no address at all.
        {"", false},
        {"file:///otarnwell.com/", false},
        {"https:///otarnwell.com/", false},
        {"about:blank", false},
        {"bad scheme://otarnwell.com/", false},
        {"https://otarnwell.com:port/", false},
        // Only web pages: http or https, in any case, followed by "://".
        {"HTTP://otarnwell.com/", true},
        {"hTTpS://www.otarnwell.com/", true},
        {"about:blank@www.otarnwell.com", false},
        {"data:;@www.otarnwell.com/,x", false},
        {"otarnwell.com/x", false},
        {"//otarnwell.com/x", false},
        {"javascript://otarnwell.com/%0aalert(1)", false},
        {"foo://otarnwell.com/", false},
        {"ftp://otarnwell.com/", false},
        {"https:otarnwell.com/", false},
        {"https:/otarnwell.com/", false},
        {" https://otarnwell.com/", false},
        {"xhttps://otarnwell.com/", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.valid, isValidSite(c.address)) << c.address;
}

// The host ends at the first "/", so a control byte after it is path.
TEST(KzoSiteCheck, RefusesAHostHoldingAControlByte)
{
    const char bytes[] = {'\0', '\x01', '\t', '\n', '\r', '\x1f', '\x7f'};
    for (const char byte : bytes) {
        const std::string inHost = std::string("https://evil.com") + byte + ".otarnwell.com/";
        EXPECT_FALSE(isValidSite(inHost)) << static_cast<int>(byte);
        const std::string inPath = std::string("https://www.otarnwell.com/a") + byte + "b";
        EXPECT_TRUE(isValidSite(inPath)) << static_cast<int>(byte);
    }
}

class MasterVersionTest : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_PRIVATE_PLUGIN_DIR(); }

    LogCapture log;
};

const char kVersionCommand[] =
    "ls \"/usr/lib64/mozilla/plugins\"| grep -i vudiriveze | cut -d '_' -f2 | cut -d '.' -f1-4";

TEST_F(MasterVersionTest, IsTheFirstLineOfThePipelineWithItsNewline)
{
    struct Case {
        std::vector<std::string> files;
        std::string version;
    } const cases[] = {
        {{"vudiriveze_1.8.2.3.so"}, "1.8.2.3\n"},
        {{"libVUDIRIVEZE_2.0.1.7.so", "other_9.9.9.9.so"}, "2.0.1.7\n"},
        {{"vudiriveze_1.8.2.3.so", "vudiriveze_1.9.0.0.so"}, "1.8.2.3\n"},
        {{}, ""},
        {{"okzoplugin_1.2.3.4.so", "npother.so"}, ""},
        // At most 49 bytes of the first line are read.
        {{"vudiriveze_" + std::string(60, '7') + ".so"}, std::string(49, '7')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.files));
        PrivatePluginDir::fill(c.files);
        EXPECT_EQ(c.version, getMasterPluginVersion());
    }
}

TEST_F(MasterVersionTest, LogsTheCommandAndTheVersionFound)
{
    PrivatePluginDir::fill({"vudiriveze_1.8.2.3.so"});
    getMasterPluginVersion();
    const std::vector<std::string> expected = {
        "INFO(kzohelpers.cpp): Onyx pluginls ",
        std::string("INFO(kzohelpers.cpp): Command is ") + kVersionCommand,
        "INFO(kzohelpers.cpp): Master plugin version is 1.8.2.3",
    };
    EXPECT_EQ(expected, log.Lines("kzohelpers.cpp"));
}

TEST_F(MasterVersionTest, NothingFoundLogsNoVersionLine)
{
    PrivatePluginDir::fill({});
    EXPECT_EQ("", getMasterPluginVersion());
    EXPECT_EQ(2u, log.Lines("kzohelpers.cpp").size());
}

} // namespace
