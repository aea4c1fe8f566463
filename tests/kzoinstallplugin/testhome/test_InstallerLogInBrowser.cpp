// A hostile page against the installer's log, through the fake browser and
// the plugin's test build: a page elsewhere that makes, calls and destroys
// instances in a loop writes lines until the log's cap (set small through
// KZO_TEST_LOG_CAP), then one last line, then nothing; what the set-up made
// is the user's alone. One test: logging is set up once per process.
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "FakeBrowser.h"
#include "TestHomeEnvironment.h"

using namespace fakebrowser;

namespace {

const char kMime[] = "application/x-okzoinstallplugin";
const char kNotice[] = "Log file size limit reached; further lines are dropped.\n";

mode_t modeOf(const std::string& path)
{
    struct stat info;
    EXPECT_EQ(0, lstat(path.c_str(), &info)) << path;
    return info.st_mode & 07777;
}

TEST(InstallerLogInBrowser, AnInstanceLoopFillsTheLogOnlyUpToItsCap)
{
    const size_t kCap = 8192;
    setenv("KZO_TEST_LOG_CAP", std::to_string(kCap).c_str(), 1);
    const mode_t mask = umask(022);
    {
        FakeBrowser browser(KZO_TESTHOME_PLUGIN_PATH);
        ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
        for (int i = 0; i < 200; ++i) {
            Instance& instance = browser.createInstance(kMime, {}, "https://evil.example/");
            ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
            ObjectRef root = instance.scriptableObject();
            EXPECT_TRUE(browser.callMember(root.get(), "getVersion").threw());
            root.reset();
            ASSERT_EQ(NPERR_NO_ERROR, instance.destroy());
        }
        EXPECT_EQ(NPERR_NO_ERROR, browser.shutdown());
        EXPECT_EQ("", browser.ledgerProblems());
    }
    umask(mask);
    unsetenv("KZO_TEST_LOG_CAP");

    const std::string file = TestHomeEnvironment::logFile();
    ASSERT_NE("", file);
    const std::string log = TestHomeEnvironment::log();
    EXPECT_LE(log.size(), kCap);
    EXPECT_GT(log.size(), kCap / 2);
    const std::string notice(kNotice);
    ASSERT_GE(log.size(), notice.size());
    EXPECT_EQ(notice, log.substr(log.size() - notice.size()));
    EXPECT_NE(std::string::npos, log.find("Site is INVALID "));

    EXPECT_EQ(0600u, modeOf(file));
    const std::string home = TestHomeEnvironment::home();
    for (const char* made : {"/.config", "/.config/Tarnwell", "/.config/Tarnwell/okzoinstallplugin",
                             "/.config/Tarnwell/okzoinstallplugin/logs"})
        EXPECT_EQ(0700u, modeOf(home + made)) << made;
}

} // namespace
