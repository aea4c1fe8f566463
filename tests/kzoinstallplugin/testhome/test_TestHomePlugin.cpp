// The installer plugin's test build through the fake browser: its home is
// the folder named by KZO_TEST_HOME and nothing at all while the variable is
// unset, so the plugin's files land in a scratch folder.
#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "../../talk/base/scratchdir.h"
#include "FakeBrowser.h"

using namespace fakebrowser;

namespace {

const char kPlugin[] = KZO_TESTHOME_PLUGIN_PATH;
const char kMime[] = "application/x-okzoinstallplugin";
const char kVendorPage[] = "https://www.otarnwell.com/update.html";

// One test: the plugin's logging is set up once per process, by the first
// instance that finds a home.
TEST(TestHomePlugin, TheHomeIsTheTestFolderOrNone)
{
    ScratchDir home;
    const std::string logs = home.path() + "/.config/Tarnwell/okzoinstallplugin/logs";
    {
        unsetenv("KZO_TEST_HOME");
        FakeBrowser browser(kPlugin);
        ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
        // No home: the log set-up fails, and so does the instance.
        Instance& instance = browser.createInstance(kMime, {}, kVendorPage);
        EXPECT_NE(NPERR_NO_ERROR, instance.newResult());
        EXPECT_EQ(NPERR_NO_ERROR, browser.shutdown());
        EXPECT_EQ("", browser.ledgerProblems());
    }
    EXPECT_FALSE(FileExists(home.path() + "/.config"));

    setenv("KZO_TEST_HOME", home.path().c_str(), 1);
    {
        FakeBrowser browser(kPlugin);
        ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
        Instance& instance = browser.createInstance(kMime, {}, kVendorPage);
        ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
        ObjectRef root = instance.scriptableObject();
        ASSERT_TRUE(root);
        EXPECT_EQ(Value("1.6.210.5"), browser.callMember(root.get(), "getVersion").value);
        root.reset();
        EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
        EXPECT_EQ(NPERR_NO_ERROR, browser.shutdown());
        EXPECT_EQ("", browser.ledgerProblems());
    }
    unsetenv("KZO_TEST_HOME");

    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(logs))
        log += ReadWholeFile(entry.path().string());
    EXPECT_NE(std::string::npos, log.find("Creating kzoautoinstall plugin ")) << log;
}

} // namespace
