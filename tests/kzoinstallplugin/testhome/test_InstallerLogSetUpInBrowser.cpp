// The log set-up of the installer as a browser meets it: the fake browser
// loads the plugin's test build in a child process of its own per case (the
// set-up runs once per process) and makes an instance on a vendor page.
// A legacy folder the user cannot read, left by a run with sudo, is
// reported and passed over; one nested 20,000 folders deep goes on a
// browser main thread with a small stack, the walk holding a few
// descriptors at any time; folders of other mounts inside it stay whole.
// An entry of the logs folder that cannot be followed stops nothing.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "../../common/ChildRun.h"
#include "../../common/DeepFolders.h"
#include "../../common/LegacyMounts.h"
#include "../../common/LinkSwapSeam.h"
#include "../../common/SmallStack.h"
#include "FakeBrowser.h"
#include "TestHomeEnvironment.h"

using namespace fakebrowser;

namespace {

const char kMime[] = "application/x-okzoinstallplugin";
const char kVendorPage[] = "https://www.otarnwell.com/update.html";

// In the child: loads the plugin with its home at home, makes an instance
// on the vendor page (beforeNew runs just before), asks its version and
// tears everything down; answers what the browser saw, one "name=value" a
// line.
std::string browseVendorPage(const std::string& home, const std::function<void()>& beforeNew = {})
{
    setenv("KZO_TEST_HOME", home.c_str(), 1);
    std::ostringstream seen;
    FakeBrowser browser(KZO_TESTHOME_PLUGIN_PATH);
    seen << "initialize=" << browser.initialize() << "\n";
    if (beforeNew)
        beforeNew();
    Instance& instance = browser.createInstance(kMime, {}, kVendorPage);
    seen << "new=" << instance.newResult() << "\n";
    if (instance.alive()) {
        ObjectRef root = instance.scriptableObject();
        seen << "version=" << browser.callMember(root.get(), "getVersion").value.asString() << "\n";
        root.reset();
        seen << "destroy=" << instance.destroy() << "\n";
    }
    seen << "shutdown=" << browser.shutdown() << "\n";
    seen << "ledger=" << browser.ledgerProblems() << "\n";
    return seen.str();
}

// What a browser that made its instance and let everything go sees.
const std::string kBrowsedCleanly =
    "initialize=0\nnew=0\nversion=1.6.210.5\ndestroy=0\nshutdown=0\nledger=\n";

TEST(InstallerLogSetUpInBrowser, ALegacyFolderTheUserCannotReadIsReportedAndPassedOver)
{
    const std::string home = TestHomeEnvironment::home();
    const std::string legacy = home + "/Tarnwell/Lintel";
    const struct {
        const char* what;
        bool rootsOwn;
        mode_t mode;
    } cases[] = {
        {"root's, as sudo leaves it", true, 0700},
        {"the user's, mode 000", false, 0000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.rootsOwn && !childrun::dropsToOtherUser()) {
            std::cout << "[   NOTE   ] not run as root: no folder of root's\n";
            continue;
        }
        std::filesystem::remove_all(home + "/Tarnwell");
        std::filesystem::remove_all(home + "/.config");
        std::filesystem::create_directories(legacy + "/data");
        std::ofstream(legacy + "/data/file") << "old\n";
        childrun::handOver(home);
        if (c.rootsOwn) {
            ASSERT_EQ(0, lchown(legacy.c_str(), 0, 0));
        }
        ASSERT_EQ(0, chmod(legacy.c_str(), c.mode));

        const childrun::Outcome outcome =
            childrun::runInChild([&] { return browseVendorPage(home); }, childrun::As::OtherUser);
        chmod(legacy.c_str(), 0700);
        if (!outcome.skipped.empty())
            GTEST_SKIP() << outcome.skipped;
        ASSERT_TRUE(outcome.exitedCleanly()) << outcome.how() << "\n" << outcome.errors;
        EXPECT_EQ(kBrowsedCleanly, outcome.report);
        EXPECT_EQ("Placeholder Error String", outcome.errors);
        EXPECT_TRUE(FileExists(legacy + "/data/file"));
        EXPECT_EQ(1u, TestHomeEnvironment::logFiles().size()) << "logging was set up";
    }
}

TEST(InstallerLogSetUpInBrowser, ALegacyFolderOfAnyDepthGoesOnASmallMainThreadStack)
{
    const int kDepth = 20000;
    const size_t kStack = 256 * 1024;
    const size_t kMostDescriptors = 3;
    const ScratchDir home(MemoryTempDirectory());
    const ScratchDir elsewhere;
    const std::string legacy = home.path() + "/Tarnwell/Lintel";
    std::filesystem::create_directories(elsewhere.File("victim"));
    std::ofstream(elsewhere.File("victim/file")) << "keep\n";
    std::filesystem::create_directories(legacy);
    makeDeepFolders(legacy, "d", kDepth, [&](int bottom) {
        EXPECT_EQ(0, symlinkat(elsewhere.File("victim").c_str(), bottom, "victim"));
    });

    const childrun::Outcome outcome = childrun::runInChild([&] {
        // From just before the instance: the library holds descriptors of
        // its own from its load.
        DescriptorPeak peak(kMostDescriptors);
        std::string seen = "no thread\n";
        onSmallStack(kStack, [&] {
            seen = browseVendorPage(home.path(), [&] { peak.start(); });
        });
        return seen + "descriptors=" + std::to_string(peak.most()) + "\n";
    });
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.how();
    EXPECT_EQ("", outcome.errors);
    const std::string::size_type counted = outcome.report.find("descriptors=");
    ASSERT_NE(std::string::npos, counted) << outcome.report;
    EXPECT_EQ(kBrowsedCleanly, outcome.report.substr(0, counted));
    EXPECT_LE(std::stoul(outcome.report.substr(counted + 12)), kMostDescriptors);
    EXPECT_FALSE(FileExists(legacy));
    EXPECT_EQ("keep\n", ReadWholeFile(elsewhere.File("victim/file")));
    removeDeepFolders(legacy);
}

// A link in the logs folder whose target has a name longer than the system
// allows cannot be followed: it is no log file, it stays, and the instance
// is made all the same, as root and as another user. The eight-day-old log
// beside it goes, the one-day-old one stays.
TEST(InstallerLogSetUpInBrowser, ALinkInTheLogsFolderThatCannotBeFollowedStopsNothing)
{
    const std::string home = TestHomeEnvironment::home();
    const std::string logs = TestHomeEnvironment::logsDir();
    const struct {
        const char* what;
        childrun::As as;
    } cases[] = {{"as this user", childrun::As::ThisUser}, {"as another user", childrun::As::OtherUser}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(home + "/.config");
        std::filesystem::create_directories(logs);
        std::filesystem::create_symlink(std::string(300, 'a'), logs + "/long.log");
        const time_t now = time(nullptr);
        for (const auto& log : {std::make_pair("eight.log", 8), std::make_pair("one.log", 1)}) {
            const std::string path = logs + "/" + log.first;
            std::ofstream(path) << "old\n";
            const time_t when = now - log.second * 24 * 60 * 60;
            const struct timeval times[2] = {{when, 0}, {when, 0}};
            ASSERT_EQ(0, utimes(path.c_str(), times));
        }
        if (c.as == childrun::As::OtherUser)
            childrun::handOver(home);

        const childrun::Outcome outcome =
            childrun::runInChild([&] { return browseVendorPage(home); }, c.as);
        if (!outcome.skipped.empty())
            GTEST_SKIP() << outcome.skipped;
        ASSERT_TRUE(outcome.exitedCleanly()) << outcome.how() << "\n" << outcome.errors;
        EXPECT_EQ(kBrowsedCleanly, outcome.report);
        EXPECT_EQ("", outcome.errors);
        EXPECT_TRUE(std::filesystem::is_symlink(logs + "/long.log"));
        EXPECT_FALSE(FileExists(logs + "/eight.log"));
        EXPECT_TRUE(FileExists(logs + "/one.log"));
    }
    std::filesystem::remove_all(home + "/.config");
}

// Folders of other mounts inside the legacy folder, a folder of elsewhere
// bound there and a tmpfs, stay whole; the rest goes, the legacy folder's
// staying is reported, and the instance is made. In a browser process with
// mounts of its own.
TEST(InstallerLogSetUpInBrowser, FoldersOfOtherMountsInTheLegacyFolderStayWhole)
{
    const std::string home = TestHomeEnvironment::home();
    const std::string legacy = home + "/Tarnwell/Lintel";
    const ScratchDir elsewhere;
    const std::string victim = elsewhere.File("victim");
    for (const char* stale : {"/Tarnwell", "/.config"})
        std::filesystem::remove_all(home + stale);
    legacymounts::makeVictim(victim);

    const childrun::Outcome outcome = childrun::runInChild([&] {
        legacymounts::makeInChild(legacy, victim);
        const std::string seen = browseVendorPage(home);
        return seen + privatemounts::treeBelow(legacy);
    });
    if (!outcome.skipped.empty())
        GTEST_SKIP() << outcome.skipped;
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.how() << "\n" << outcome.errors;
    EXPECT_EQ(kBrowsedCleanly + legacymounts::left(), outcome.report);
    EXPECT_EQ("Placeholder Error String", outcome.errors);
    EXPECT_EQ("file=keep\nfolder\nfolder/file=keep\n", privatemounts::treeBelow(victim));
    std::filesystem::remove_all(home + "/Tarnwell");
}

} // namespace
