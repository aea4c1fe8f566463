// The per-process log set-up on a fake home directory in a scratch
// directory: the file name, the seven-day pruning boundary, the legacy
// directory, the directory chain of a fresh profile and configuring the
// base library once. Tests that configure logging restore its process-wide
// state afterwards.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../talk/base/scratchdir.h"
#include "ChildRun.h"
#include "DeepFolders.h"
#include "FakePasswd.h"
#include "LegacyMounts.h"
#include "LinkSwapSeam.h"
#include "OpenDescriptors.h"
#include "SmallStack.h"
#include "kzohelpers.h"
#include "kzologsetup.h"
#include "talk/base/logging.h"

using testbed::FakePasswd;

namespace {

const time_t kNow = 1700000000;
const time_t kDay = 24 * 60 * 60;

time_t fixedClock()
{
    return kNow;
}

time_t laterClock()
{
    return kNow + 5;
}

void setModified(const std::string& path, time_t when)
{
    const struct timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(0, utimes(path.c_str(), times)) << path;
}

void touch(const std::string& path, time_t when)
{
    std::ofstream(path) << "old\n";
    setModified(path, when);
}

std::string ownLogName(time_t when)
{
    return "okzoinstallplugin." + std::to_string(when) + "_" + std::to_string(getpid()) + ".log";
}

class LogSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakePasswd::setHome(home.path());
        setLogSetupClockForTesting(&fixedClock);
        logs = home.path() + "/./.config/Tarnwell/okzoinstallplugin/logs";
    }
    void TearDown() override
    {
        setLogSetupClockForTesting(nullptr);
        FakePasswd::setNoEntry();
        // Back to the state at load: no stream, nothing on standard error.
        talk_base::LogMessage::SetLogStream(nullptr, talk_base::LS_NONE);
        talk_base::LogMessage::SetDebugSeverity(talk_base::LS_NONE);
        talk_base::LogMessage::SetLogThreadIds(false);
        talk_base::LogMessage::SetConfigured(false);
    }

    std::string prepare()
    {
        std::string path;
        prepareLogFile("okzoinstallplugin", "log", path);
        return path;
    }

    // What a child that ran "made " + prepare() wrote on standard error,
    // and whether it threw or made a file of its own (its process id in the
    // name) in the logs folder.
    void expectSetUpInChild(const childrun::Outcome& outcome, const std::string& errors, bool threw)
    {
        EXPECT_EQ(errors, outcome.errors);
        if (threw) {
            EXPECT_EQ(0u, outcome.report.find("threw: ")) << outcome.report;
        } else {
            EXPECT_EQ(0u, outcome.report.find("made " + logs + "/okzoinstallplugin." +
                                              std::to_string(kNow) + "_"))
                << outcome.report;
        }
    }

    ScratchDir home;
    std::string logs;
};

TEST_F(LogSetupTest, AFreshProfileGetsTheDirectoryChainAndANameFromTimeAndPid)
{
    EXPECT_EQ(logs + "/" + ownLogName(kNow), prepare());
    EXPECT_TRUE(std::filesystem::is_directory(logs));
    EXPECT_TRUE(std::filesystem::is_empty(logs)) << "the file itself comes with the logging";
}

TEST_F(LogSetupTest, PrunesOnlyRegularFilesOlderThanSevenDays)
{
    std::filesystem::create_directories(logs + "/archive");
    touch(logs + "/eight.log", kNow - 8 * kDay);
    touch(logs + "/six.log", kNow - 6 * kDay);
    touch(logs + "/seven.log", kNow - 7 * kDay);
    touch(logs + "/seven-and-a-second.log", kNow - 7 * kDay - 1);
    touch(logs + "/archive/eight.log", kNow - 8 * kDay);
    setModified(logs + "/archive", kNow - 8 * kDay);

    prepare();
    EXPECT_FALSE(FileExists(logs + "/eight.log"));
    EXPECT_FALSE(FileExists(logs + "/seven-and-a-second.log"));
    EXPECT_TRUE(FileExists(logs + "/six.log"));
    EXPECT_TRUE(FileExists(logs + "/seven.log")) << "exactly seven days old stays";
    EXPECT_TRUE(FileExists(logs + "/archive/eight.log")) << "subdirectories are not walked";
}

TEST_F(LogSetupTest, RemovesTheLegacyProductDirectoryWithItsContents)
{
    const std::string legacy = home.path() + "/Tarnwell/Lintel";
    std::filesystem::create_directories(legacy + "/data/deep");
    touch(legacy + "/data/deep/file", kNow);
    touch(home.path() + "/Tarnwell/keep", kNow);

    prepare();
    EXPECT_FALSE(FileExists(legacy));
    EXPECT_TRUE(FileExists(home.path() + "/Tarnwell/keep"));
}

TEST_F(LogSetupTest, ALegacyNameThatIsNoDirectoryStays)
{
    std::filesystem::create_directories(home.path() + "/Tarnwell");
    touch(home.path() + "/Tarnwell/Lintel", kNow);
    prepare();
    EXPECT_TRUE(FileExists(home.path() + "/Tarnwell/Lintel"));
}

TEST_F(LogSetupTest, HomeLookupFailuresAndNonUtf8PathsLeaveAsExceptions)
{
    FakePasswd::setNoEntry();
    EXPECT_THROW(prepare(), std::runtime_error);
    FakePasswd::setHome(home.path() + "/\xff");
    EXPECT_ANY_THROW(prepare());
    EXPECT_FALSE(FileExists(home.path() + "/\xff"));
}

TEST_F(LogSetupTest, ConfiguresLoggingOnceIntoItsOwnFile)
{
    ASSERT_FALSE(talk_base::LogMessage::IsConfigured());
    configureLoggingOnce();
    EXPECT_TRUE(talk_base::LogMessage::IsConfigured());
    const std::string file = logs + "/" + ownLogName(kNow);
    ASSERT_TRUE(FileExists(file));

    LOG(LS_INFO) << "first line";
    LOG(LS_VERBOSE) << "below the file's level";
    const std::string text = ReadWholeFile(file);
    EXPECT_NE(std::string::npos, text.find("] INFO(test_kzologsetup.cpp:")) << text;
    EXPECT_NE(std::string::npos, text.find("): first line\n")) << text;
    EXPECT_EQ(std::string::npos, text.find("below")) << text;
    EXPECT_EQ(2, std::count(text.begin(), text.end(), '[')) << "time and thread prefixes: " << text;

    // A second instance of the process: nothing is prepared or created.
    setLogSetupClockForTesting(&laterClock);
    touch(logs + "/eight.log", kNow - 8 * kDay);
    std::filesystem::create_directories(home.path() + "/Tarnwell/Lintel");
    configureLoggingOnce();
    EXPECT_FALSE(FileExists(logs + "/" + ownLogName(kNow + 5)));
    EXPECT_TRUE(FileExists(logs + "/eight.log"));
    EXPECT_TRUE(FileExists(home.path() + "/Tarnwell/Lintel"));
}

TEST_F(LogSetupTest, AFailedSetUpLeavesLoggingUnconfiguredForTheNextTry)
{
    FakePasswd::setNoEntry();
    try {
        configureLoggingOnce();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("User not found.", e.what());
    }
    EXPECT_FALSE(talk_base::LogMessage::IsConfigured());

    FakePasswd::setHome(home.path());
    configureLoggingOnce();
    EXPECT_TRUE(talk_base::LogMessage::IsConfigured());
    EXPECT_TRUE(FileExists(logs + "/" + ownLogName(kNow)));
}

mode_t modeOf(const std::string& path)
{
    struct stat info;
    EXPECT_EQ(0, lstat(path.c_str(), &info)) << path;
    return info.st_mode & 07777;
}

// Sets the usual umask for the test's length.
class UsualUmask {
public:
    UsualUmask() : m_saved(umask(022)) {}
    ~UsualUmask() { umask(m_saved); }

private:
    mode_t m_saved;
};

TEST_F(LogSetupTest, WhatTheSetUpMakesIsTheUsersAlone)
{
    UsualUmask mask;
    std::filesystem::create_directories(home.path() + "/.config");
    chmod((home.path() + "/.config").c_str(), 0755);
    configureLoggingOnce();

    EXPECT_EQ(0755u, modeOf(home.path() + "/.config")) << "an existing folder keeps its mode";
    for (const char* made : {"/.config/Tarnwell", "/.config/Tarnwell/okzoinstallplugin",
                             "/.config/Tarnwell/okzoinstallplugin/logs"})
        EXPECT_EQ(0700u, modeOf(home.path() + made)) << made;
    EXPECT_EQ(0600u, modeOf(logs + "/" + ownLogName(kNow)));
}

// A folder elsewhere, where a planted link points.
class PlantedLinkTest : public LogSetupTest {
protected:
    void plant(const std::string& link, const std::string& target)
    {
        std::filesystem::create_directories(std::filesystem::path(link).parent_path());
        std::filesystem::create_symlink(target, link);
    }

    ScratchDir elsewhere;
};

TEST_F(PlantedLinkTest, ALogFolderReachedThroughALinkIsNeverPruned)
{
    const std::string plugin = home.path() + "/.config/Tarnwell/okzoinstallplugin";
    const struct {
        const char* what;
        std::string link;
        std::string target;
        std::string oldFile;  // the old file where the log folder then lies
    } cases[] = {
        {"the log folder", plugin + "/logs", elsewhere.path(), elsewhere.File("old.log")},
        {"a folder above it", home.path() + "/.config/Tarnwell", elsewhere.path(),
         elsewhere.File("okzoinstallplugin/logs/old.log")},
        {"the plugin's folder", plugin, elsewhere.path(), elsewhere.File("logs/old.log")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(home.path() + "/.config");
        std::filesystem::remove_all(elsewhere.path());
        std::filesystem::create_directories(std::filesystem::path(c.oldFile).parent_path());
        touch(c.oldFile, kNow - 30 * kDay);
        plant(c.link, c.target);

        EXPECT_EQ(logs + "/" + ownLogName(kNow), prepare()) << "the file is still made there";
        EXPECT_TRUE(FileExists(c.oldFile));
    }
}

TEST_F(PlantedLinkTest, AConfigurationFolderThatIsALinkIsTheUsersOwnAndPruned)
{
    // Shared dotfiles often make ~/.config a link; the logs below it are ours.
    const std::string oldFile = elsewhere.File("Tarnwell/okzoinstallplugin/logs/old.log");
    std::filesystem::create_directories(std::filesystem::path(oldFile).parent_path());
    touch(oldFile, kNow - 30 * kDay);
    plant(home.path() + "/.config", elsewhere.path());

    EXPECT_EQ(logs + "/" + ownLogName(kNow), prepare());
    EXPECT_FALSE(FileExists(oldFile));
}

TEST_F(PlantedLinkTest, TheLegacyFolderGoesOnlyWhenNoFolderOnItsWayIsALink)
{
    const std::string victim = elsewhere.File("Lintel/data");
    const struct {
        const char* what;
        std::string link;
        std::string target;
    } cases[] = {
        {"the vendor folder", home.path() + "/Tarnwell", elsewhere.path()},
        {"the legacy folder", home.path() + "/Tarnwell/Lintel", elsewhere.File("Lintel")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(home.path() + "/Tarnwell");
        std::filesystem::create_directories(victim);
        touch(victim + "/file", kNow);
        plant(c.link, c.target);

        prepare();
        EXPECT_TRUE(FileExists(victim + "/file"));
        EXPECT_TRUE(std::filesystem::is_symlink(c.link)) << "the link stays too";
    }
}

// Old files under root, each holding "old\n".
void makeOldFiles(const std::string& root, const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        std::filesystem::create_directories(std::filesystem::path(root + "/" + name).parent_path());
        touch(root + "/" + name, kNow - 30 * kDay);
    }
}

// Every file under root still there and unchanged.
void expectUntouched(const std::string& root, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        EXPECT_EQ("old\n", ReadWholeFile(root + "/" + name)) << name;
}

TEST_F(PlantedLinkTest, PruningDecidesByWhatAnEntryIsWhenFollowedAndRemovesOnlyTheEntry)
{
    // An entry goes when it is, followed through a link, a regular file
    // older than seven days; a link goes itself, and what it points to
    // always stays.
    enum Kind { File, Folder, LinkToFile, LinkToFolder, DanglingLink };
    const struct {
        const char* name;
        Kind kind;
        time_t age;  // of the entry, or of what the link points to
        bool gone;
    } cases[] = {
        {"eight.log", File, 8 * kDay, true},
        {"seven-and-a-second.log", File, 7 * kDay + 1, true},
        {"seven.log", File, 7 * kDay, false},
        {"six.log", File, 6 * kDay, false},
        {"archive", Folder, 8 * kDay, false},
        {"to-old.log", LinkToFile, 30 * kDay, true},
        {"to-recent.log", LinkToFile, kDay, false},
        {"to-folder", LinkToFolder, 30 * kDay, false},
        {"dangling.log", DanglingLink, 30 * kDay, false},
    };
    std::filesystem::create_directories(logs);
    for (const auto& c : cases) {
        const std::string entry = logs + "/" + c.name;
        const std::string target = elsewhere.File(c.name);
        const time_t when = kNow - c.age;
        switch (c.kind) {
        case File:
            touch(entry, when);
            break;
        case Folder:
            std::filesystem::create_directory(entry);
            touch(entry + "/inside.log", when);
            setModified(entry, when);
            break;
        case LinkToFile:
            touch(target, when);
            break;
        case LinkToFolder:
            std::filesystem::create_directory(target);
            touch(target + "/inside.log", when);
            setModified(target, when);
            break;
        case DanglingLink:
            break;
        }
        if (c.kind >= LinkToFile) {
            plant(entry, target);
            // The link's own time says nothing: recent where what it points
            // to is old, and old where that is recent.
            const time_t linkTime = c.age > 7 * kDay ? kNow : kNow - 30 * kDay;
            const struct timespec times[2] = {{linkTime, 0}, {linkTime, 0}};
            ASSERT_EQ(0, utimensat(AT_FDCWD, entry.c_str(), times, AT_SYMLINK_NOFOLLOW));
        }
    }

    testing::internal::CaptureStderr();
    prepare();
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    for (const auto& c : cases) {
        EXPECT_EQ(!c.gone, std::filesystem::exists(std::filesystem::symlink_status(logs + "/" + c.name)))
            << c.name;
    }
    EXPECT_TRUE(FileExists(logs + "/archive/inside.log")) << "folders are not walked";
    for (const char* outside : {"to-old.log", "to-recent.log", "to-folder/inside.log"})
        EXPECT_EQ("old\n", ReadWholeFile(elsewhere.File(outside))) << outside;
}

// A folder of ours swapped for a link to a copy elsewhere at the worst
// moment: after it was checked, or in the middle of the walk. The copy holds
// the same names as the folder, all old, so a walk that follows the link
// finds just what it expects there.
class LinkSwapTest : public PlantedLinkTest {
protected:
    // One case: at the moment the name is reached, swapped goes aside (or
    // beside itself, for none) and a link to target takes its place.
    struct Swap {
        const char* what;
        LinkSwapSeam::Moment moment;
        const char* name;
        std::string swapped;
        std::string target;
        std::string aside;
        std::string goneAfter;  // removed all the same where the real folder then lies
        const char* errors;     // on standard error
    };

    void TearDown() override
    {
        LinkSwapSeam::disarm();
        PlantedLinkTest::TearDown();
    }

    // What prepare() wrote on standard error.
    std::string prepareCapturingErrors()
    {
        testing::internal::CaptureStderr();
        prepare();
        return testing::internal::GetCapturedStderr();
    }

    // Runs the set-up with the swap armed.
    void prepareSwapping(const Swap& swap)
    {
        const Swap armed = swap;
        LinkSwapSeam::arm(swap.moment, swap.name, [armed] {
            LinkSwapSeam::swapForLink(armed.swapped, armed.target, armed.aside);
        });
        EXPECT_EQ(swap.errors, prepareCapturingErrors());
        EXPECT_TRUE(LinkSwapSeam::fired());
        if (!swap.goneAfter.empty()) {
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(swap.goneAfter)));
        }
    }
};

TEST_F(LinkSwapTest, TheLegacyRemovalNeverFollowsAFolderSwappedForALink)
{
    const std::string vendor = home.path() + "/Tarnwell";
    const std::string legacy = vendor + "/Lintel";
    const std::string copy = elsewhere.path();
    const std::vector<std::string> files = {"file", "data/one", "data/two", "data/deep/three"};
    // A folder inside the legacy folder is moved out of it, else it would
    // be left there.
    const std::string aside = home.path() + "/aside";
    const Swap cases[] = {
        {"the legacy folder, as it is opened", LinkSwapSeam::OpeningFolder, "Lintel", legacy,
         copy + "/Lintel", "", "", ""},
        {"the vendor folder, as the legacy folder is opened", LinkSwapSeam::OpeningFolder,
         "Lintel", vendor, copy, "", vendor + ".moved/Lintel", ""},
        {"a folder inside, as it is opened", LinkSwapSeam::OpeningFolder, "data",
         legacy + "/data", copy + "/Lintel/data", aside, legacy, ""},
        {"the legacy folder, as its first entry goes", LinkSwapSeam::RemovingEntry, "", legacy,
         copy + "/Lintel", "", "", "Placeholder Error String"},
        {"the vendor folder, as the first entry goes", LinkSwapSeam::RemovingEntry, "", vendor,
         copy, "", vendor + ".moved/Lintel", ""},
    };
    for (const Swap& c : cases) {
        SCOPED_TRACE(c.what);
        LinkSwapSeam::disarm();
        for (const std::string& stale : {vendor, vendor + ".moved", aside, copy + "/Lintel"})
            std::filesystem::remove_all(stale);
        makeOldFiles(legacy, files);
        makeOldFiles(copy + "/Lintel", files);

        prepareSwapping(c);
        expectUntouched(copy + "/Lintel", files);
    }
}

TEST_F(LinkSwapTest, PruningNeverFollowsAFolderSwappedForALink)
{
    const std::string vendor = home.path() + "/.config/Tarnwell";
    const std::string plugin = vendor + "/okzoinstallplugin";
    const std::string copy = elsewhere.path() + "/Tarnwell";
    const std::vector<std::string> files = {"okzoinstallplugin/logs/a.log",
                                            "okzoinstallplugin/logs/b.log"};
    const Swap cases[] = {
        {"the logs folder, as it is opened", LinkSwapSeam::OpeningFolder, "logs",
         plugin + "/logs", copy + "/okzoinstallplugin/logs", "", "", ""},
        {"the vendor folder, as the logs folder is opened", LinkSwapSeam::OpeningFolder, "logs",
         vendor, copy, "", vendor + ".moved/okzoinstallplugin/logs/b.log", ""},
        {"the logs folder, as the first old file goes", LinkSwapSeam::RemovingEntry, "",
         plugin + "/logs", copy + "/okzoinstallplugin/logs", "", plugin + "/logs.moved/b.log",
         ""},
        {"the plugin folder, as the first old file goes", LinkSwapSeam::RemovingEntry, "",
         plugin, copy + "/okzoinstallplugin", "", plugin + ".moved/logs/b.log", ""},
    };
    for (const Swap& c : cases) {
        SCOPED_TRACE(c.what);
        LinkSwapSeam::disarm();
        for (const std::string& stale : {vendor, vendor + ".moved", copy})
            std::filesystem::remove_all(stale);
        makeOldFiles(vendor, files);
        setModified(vendor + "/" + files[0], kNow - 10 * kDay);
        setModified(vendor + "/" + files[1], kNow - 9 * kDay);
        makeOldFiles(copy, files);

        prepareSwapping(c);
        expectUntouched(copy, files);
    }
}

TEST_F(PlantedLinkTest, ALegacyFolderNestedBeyondThePathLimitGoesWithoutFollowingItsLinks)
{
    const std::string legacy = home.path() + "/Tarnwell/Lintel";
    const std::string name(40, 'n');
    const int depth = 2 * PATH_MAX / static_cast<int>(name.size() + 1);
    const std::vector<std::string> outside = {"victim/file", "victim.log"};
    makeOldFiles(elsewhere.path(), outside);
    std::filesystem::create_directories(legacy + "/first");
    std::filesystem::create_directories(legacy + "/second");
    makeDeepFolders(legacy + "/first", name, depth, [&](int bottom) {
        EXPECT_EQ(0, symlinkat(elsewhere.File("victim").c_str(), bottom, "folder"));
        EXPECT_EQ(0, symlinkat(elsewhere.File("victim.log").c_str(), bottom, "file.log"));
    });
    makeDeepFolders(legacy + "/second", name, depth, [](int) {});

    const size_t descriptors = openDescriptors();
    testing::internal::CaptureStderr();
    prepare();
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(descriptors, openDescriptors());
    EXPECT_FALSE(FileExists(legacy));
    expectUntouched(elsewhere.path(), outside);
    removeDeepFolders(legacy);
}

// The walk's stack and open descriptors stay flat however deep the legacy
// folder is: 20,000 levels go on a thread with a 256 KB stack, and whenever
// the walk opens a folder (to enter, list or leave one) it holds three
// descriptors: the vendor and legacy folders and the deepest folder
// entered. The link at the bottom goes without what it points to.
TEST_F(PlantedLinkTest, ALegacyFolderOfAnyDepthGoesOnASmallStackWithFewDescriptors)
{
    const int kDepth = 20000;
    const size_t kStack = 256 * 1024;
    const size_t kMostDescriptors = 3;
    const ScratchDir memoryHome(MemoryTempDirectory());
    FakePasswd::setHome(memoryHome.path());
    const std::string legacy = memoryHome.path() + "/Tarnwell/Lintel";
    const std::string logs = memoryHome.path() + "/./.config/Tarnwell/okzoinstallplugin/logs";
    makeOldFiles(elsewhere.path(), {"victim/file"});
    std::filesystem::create_directories(legacy);
    makeDeepFolders(legacy, "d", kDepth, [&](int bottom) {
        EXPECT_EQ(0, symlinkat(elsewhere.File("victim").c_str(), bottom, "victim"));
    });

    const childrun::Outcome outcome = childrun::runInChild([this, kStack, kMostDescriptors] {
        DescriptorPeak peak(kMostDescriptors);
        peak.start();
        std::string made = "no thread";
        onSmallStack(kStack, [&] {
            try {
                made = "made " + prepare();
            } catch (const std::exception& e) {
                made = std::string("threw: ") + e.what();
            }
        });
        return made + "\n" + std::to_string(peak.most());
    });
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.how();
    EXPECT_EQ("", outcome.errors);
    const std::string::size_type end = outcome.report.find('\n');
    ASSERT_NE(std::string::npos, end) << outcome.report;
    EXPECT_EQ(0u, outcome.report.find("made " + logs + "/")) << outcome.report;
    EXPECT_LE(std::stoul(outcome.report.substr(end + 1)), kMostDescriptors);
    EXPECT_FALSE(FileExists(legacy));
    expectUntouched(elsewhere.path(), {"victim/file"});
    removeDeepFolders(legacy);
}

// A folder moved out of the legacy folder while it is emptied is not left
// through its new place, where the folders above are not ours: the removal
// stops there and is reported.
TEST_F(LinkSwapTest, AFolderMovedAwayWhileItIsEmptiedIsNotLeftThroughItsNewPlace)
{
    const std::string legacy = home.path() + "/Tarnwell/Lintel";
    makeOldFiles(legacy, {"a/b/c/file"});
    // c goes to elsewhere/x/c: a walk that took elsewhere/x for b would take
    // elsewhere for a and remove "b" from it.
    std::filesystem::create_directories(elsewhere.File("x"));
    std::filesystem::create_directories(elsewhere.File("b"));
    LinkSwapSeam::arm(LinkSwapSeam::RemovingEntry, "file",
                      [&] { std::filesystem::rename(legacy + "/a/b/c", elsewhere.File("x/c")); });

    EXPECT_EQ("Placeholder Error String", prepareCapturingErrors());
    EXPECT_TRUE(LinkSwapSeam::fired());
    EXPECT_TRUE(std::filesystem::is_directory(elsewhere.File("b")));
    EXPECT_TRUE(std::filesystem::is_directory(elsewhere.File("x/c")));
    EXPECT_TRUE(std::filesystem::is_directory(legacy + "/a/b"));
}

TEST_F(LinkSwapTest, EveryWayThroughTheSetUpClosesTheDescriptorsItOpened)
{
    const std::string vendor = home.path() + "/Tarnwell";
    const std::string plugin = home.path() + "/.config/Tarnwell/okzoinstallplugin";
    const std::string deep = vendor + "/Lintel/a/b";
    const struct {
        const char* what;
        std::function<void()> arrange;
        const char* errors;
    } cases[] = {
        {"a fresh profile", [] {}, ""},
        {"a legacy folder and old logs",
         [&] {
             makeOldFiles(vendor, {"Lintel/a/b/file", "Lintel/c"});
             makeOldFiles(logs, {"old.log"});
         },
         ""},
        {"links where the folders were",
         [&] {
             plant(vendor + "/Lintel", elsewhere.path());
             plant(plugin + "/logs", elsewhere.path());
         },
         ""},
        {"a folder swapped for a link in the middle of the walk",
         [&] {
             makeOldFiles(vendor, {"Lintel/a/b/file"});
             LinkSwapSeam::arm(LinkSwapSeam::OpeningFolder, "b",
                               [=] {
                                   LinkSwapSeam::swapForLink(deep, elsewhere.path(),
                                                             home.path() + "/aside");
                               });
         },
         ""},
        {"a removal deep in the walk that fails",
         [&] {
             makeOldFiles(vendor, {"Lintel/a/b/file", "Lintel/a/b/c/file"});
             // The file turns into a folder, which no file removal takes.
             LinkSwapSeam::arm(LinkSwapSeam::RemovingEntry, "file", [=] {
                 for (const std::string& file : {deep + "/file", deep + "/c/file"}) {
                     if (FileExists(file)) {
                         std::filesystem::remove(file);
                         std::filesystem::create_directory(file);
                     }
                 }
             });
         },
         "Placeholder Error String"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LinkSwapSeam::disarm();
        for (const char* stale : {"/Tarnwell", "/.config", "/aside"})
            std::filesystem::remove_all(home.path() + stale);
        c.arrange();

        const size_t descriptors = openDescriptors();
        EXPECT_EQ(c.errors, prepareCapturingErrors());
        EXPECT_EQ(descriptors, openDescriptors());
    }
}

TEST_F(PlantedLinkTest, ALogFileNameThatIsTakenIsNeitherFollowedNorTruncated)
{
    const std::string file = logs + "/" + ownLogName(kNow);
    const std::string target = elsewhere.File("precious");
    const struct {
        const char* what;
        bool link;
    } cases[] = {{"a link", true}, {"a file", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        talk_base::LogMessage::SetConfigured(false);
        std::filesystem::create_directories(logs);
        std::filesystem::remove(file);
        std::ofstream(target) << "keep\n";
        if (c.link)
            plant(file, target);
        else
            std::ofstream(file) << "keep\n";

        configureLoggingOnce();
        LOG(LS_INFO) << "a line";
        // As for a file that cannot be opened: configured, with no stream.
        EXPECT_TRUE(talk_base::LogMessage::IsConfigured());
        EXPECT_EQ(talk_base::LS_NONE, talk_base::LogMessage::GetStreamSeverity(nullptr));
        EXPECT_EQ("keep\n", ReadWholeFile(target));
        EXPECT_EQ("keep\n", ReadWholeFile(file));
        EXPECT_EQ(c.link, std::filesystem::is_symlink(file));
    }
}

TEST_F(LogSetupTest, TheFileStopsAtItsCapWithOneLastLine)
{
    const size_t cap = 1000;
    setLogFileCapForTesting(cap);
    configureLoggingOnce();
    setLogFileCapForTesting(0);
    const std::string file = logs + "/" + ownLogName(kNow);

    for (int i = 0; i < 100; ++i)
        LOG(LS_INFO) << "line " << i;
    const std::string text = ReadWholeFile(file);
    const std::string notice = "Log file size limit reached; further lines are dropped.\n";
    EXPECT_LE(text.size(), cap);
    EXPECT_GT(text.size(), cap - 200) << "lines fill the file up to the cap";
    ASSERT_GE(text.size(), notice.size());
    EXPECT_EQ(notice, text.substr(text.size() - notice.size())) << text;
    EXPECT_EQ(text.find(notice), text.rfind(notice)) << "once";
    EXPECT_NE(std::string::npos, text.find("): line 0\n"));
    EXPECT_EQ(std::string::npos, text.find("): line 99\n"));

    LOG(LS_INFO) << "x";
    EXPECT_EQ(text, ReadWholeFile(file)) << "everything after is dropped";
}

// Makes a directory read-only for this process only (a read-only bind mount
// in a private mount namespace), so that removals below it fail even for
// root. Empty text when that works, else why not.
std::string makeReadOnly(const std::string& dir)
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("no private mount namespace: ") + strerror(errno);
    if (mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        return std::string("no read-only bind mount: ") + strerror(errno);
    return std::string();
}

TEST_F(LogSetupTest, RemovalsThatFailAreReportedOnStandardErrorAndPassedOver)
{
    const std::string vendor = home.path() + "/Tarnwell";
    std::filesystem::create_directories(vendor + "/Lintel");
    std::filesystem::create_directories(logs);
    touch(logs + "/nine.log", kNow - 9 * kDay);
    touch(logs + "/eight.log", kNow - 8 * kDay);
    for (const std::string& dir : {vendor, logs}) {
        const std::string why = makeReadOnly(dir);
        if (!why.empty())
            GTEST_SKIP() << why << "; run as root to test failed removals";
    }

    testing::internal::CaptureStderr();
    std::string path;
    EXPECT_NO_THROW(path = prepare());
    const std::string errors = testing::internal::GetCapturedStderr();
    umount2(logs.c_str(), MNT_DETACH);
    umount2(vendor.c_str(), MNT_DETACH);

    EXPECT_EQ("Placeholder Error StringPlaceholder Error StringPlaceholder Error String", errors)
        << "the legacy directory, then each old file";
    EXPECT_EQ(logs + "/" + ownLogName(kNow), path);
    EXPECT_TRUE(FileExists(logs + "/nine.log"));
    EXPECT_TRUE(FileExists(vendor + "/Lintel"));
}

// Folders on the way that the user may not read, or not even search, as a
// run with sudo or a careless chmod leaves them. Where the set-up's rules
// go on, the plugin goes on: a legacy folder that cannot be removed is
// reported and passed over, and folders that may only be searched are
// searched; only what the set-up itself needs (the log folder's status and
// listing) fails it. Run as a user other than root, as a browser runs.
TEST_F(LogSetupTest, FoldersTheUserMayNotReadStopNothingTheRulesLetGoOn)
{
    const std::string error = "Placeholder Error String";
    const struct {
        const char* folder;  // below the home
        mode_t mode;
        bool rootsOwn;
        std::string errors;
        bool threw;
        bool legacyGone;
        bool oldLogGone;
    } cases[] = {
        {"Tarnwell/Lintel", 0700, true, error, false, false, true},
        {"Tarnwell/Lintel", 0000, false, error, false, false, true},
        {"Tarnwell/Lintel", 0300, false, error, false, false, true},
        {"Tarnwell/Lintel/data", 0700, true, error, false, false, true},
        {"Tarnwell", 0300, false, "", false, true, true},
        {"Tarnwell", 0000, false, error, false, false, true},
        {".config/Tarnwell", 0300, false, "", false, true, true},
        {".config/Tarnwell/okzoinstallplugin", 0300, false, "", false, true, true},
        // What the log file needs fails the set-up, which the next
        // instance tries again.
        {".config/Tarnwell", 0000, false, "", true, true, false},
        {".config/Tarnwell/okzoinstallplugin/logs", 0300, false, "", true, true, false},
    };
    const std::string legacy = home.path() + "/Tarnwell/Lintel";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " mode " + std::to_string(c.mode / 64) +
                     std::to_string(c.mode / 8 % 8) + std::to_string(c.mode % 8) +
                     (c.rootsOwn ? ", root's" : ""));
        if (c.rootsOwn && !childrun::dropsToOtherUser()) {
            std::cout << "[   NOTE   ] not run as root: no folder of root's for " << c.folder << "\n";
            continue;
        }
        for (const char* stale : {"/Tarnwell", "/.config"})
            std::filesystem::remove_all(home.path() + stale);
        makeOldFiles(legacy, {"file", "data/file"});
        makeOldFiles(logs, {"old.log"});
        touch(logs + "/recent.log", kNow - kDay);
        childrun::handOver(home.path());
        const std::string folder = home.path() + "/" + c.folder;
        if (c.rootsOwn) {
            ASSERT_EQ(0, lchown(folder.c_str(), 0, 0));
        }
        ASSERT_EQ(0, chmod(folder.c_str(), c.mode));

        const childrun::Outcome outcome = childrun::runInChild(
            [this] { return "made " + prepare(); }, childrun::As::OtherUser);
        chmod(folder.c_str(), 0700);
        if (!outcome.skipped.empty())
            GTEST_SKIP() << outcome.skipped;
        ASSERT_TRUE(outcome.exitedCleanly()) << outcome.how();
        expectSetUpInChild(outcome, c.errors, c.threw);
        EXPECT_EQ(!c.legacyGone, FileExists(legacy));
        EXPECT_EQ(!c.oldLogGone, FileExists(logs + "/old.log"));
        EXPECT_TRUE(FileExists(logs + "/recent.log"));
    }
}

// The set-up's rules in one table, each case in a child run as a user other
// than root (as a browser runs): which failures leave the set-up as an
// exception (the next instance tries again), which are reported on standard
// error and passed over, and what is removed and what stays. Paths are
// below the home; modes are set once the home is the child's.
class LogSetupRulesTest : public LogSetupTest {
protected:
    struct Rule {
        const char* what;
        std::function<void(const std::string& home)> arrange;
        std::vector<std::pair<std::string, mode_t>> modes;
        std::function<void(const std::string& home)> homeLookup;  // none: the home
        std::string errors;
        bool threw;
        std::vector<std::string> gone;
        std::vector<std::string> stay;
        childrun::As as = childrun::As::OtherUser;
    };

    void check(const Rule& rule)
    {
        SCOPED_TRACE(rule.what);
        for (const char* stale : {"/Tarnwell", "/.config", "/elsewhere"})
            std::filesystem::remove_all(home.path() + stale);
        rule.arrange(home.path());
        if (rule.as == childrun::As::OtherUser)
            childrun::handOver(home.path());
        for (const auto& mode : rule.modes)
            ASSERT_EQ(0, chmod((home.path() + "/" + mode.first).c_str(), mode.second)) << mode.first;

        const childrun::Outcome outcome = childrun::runInChild(
            [&] {
                if (rule.homeLookup)
                    rule.homeLookup(home.path());
                return "made " + prepare();
            },
            rule.as);
        for (auto mode = rule.modes.rbegin(); mode != rule.modes.rend(); ++mode)
            chmod((home.path() + "/" + mode->first).c_str(), 0700);
        if (!outcome.skipped.empty())
            GTEST_SKIP() << outcome.skipped;
        ASSERT_TRUE(outcome.exitedCleanly()) << outcome.how();
        expectSetUpInChild(outcome, rule.errors, rule.threw);
        for (const std::string& path : rule.gone)
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(home.path() + "/" + path)))
                << path << " is still there";
        for (const std::string& path : rule.stay)
            EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(home.path() + "/" + path)))
                << path << " is gone";
    }
};

const char kLogsBelowHome[] = ".config/Tarnwell/okzoinstallplugin/logs";

std::string logsEntry(const std::string& name)
{
    return std::string(kLogsBelowHome) + "/" + name;
}

// An eight-day-old log, which goes, and a one-day-old one, which stays.
void makeOldAndRecentLogs(const std::string& home)
{
    std::filesystem::create_directories(home + "/" + kLogsBelowHome);
    touch(home + "/" + logsEntry("eight.log"), kNow - 8 * kDay);
    touch(home + "/" + logsEntry("one.log"), kNow - kDay);
}

TEST_F(LogSetupRulesTest, WhatFailsTheSetUpWhatIsReportedWhatGoesAndWhatStays)
{
    const std::string error = "Placeholder Error String";
    const auto nothing = [](const std::string&) {};
    const Rule rules[] = {
        {"a fresh profile gets its folders", nothing, {}, {}, "", false, {}, {kLogsBelowHome}},
        {"the legacy folder goes with everything below it",
         [](const std::string& home) { makeOldFiles(home, {"Tarnwell/Lintel/data/file", "Tarnwell/keep"}); },
         {}, {}, "", false, {"Tarnwell/Lintel"}, {"Tarnwell/keep"}},
        {"a legacy name that is no folder stays",
         [](const std::string& home) { makeOldFiles(home, {"Tarnwell/Lintel"}); }, {}, {}, "",
         false, {}, {"Tarnwell/Lintel"}},
        {"logs older than seven days go; a folder among them is not walked",
         [](const std::string& home) {
             makeOldAndRecentLogs(home);
             touch(home + "/" + logsEntry("seven.log"), kNow - 7 * kDay);
             makeOldFiles(home, {logsEntry("archive/old.log")});
         },
         {}, {}, "", false, {logsEntry("eight.log")},
         {logsEntry("one.log"), logsEntry("seven.log"), logsEntry("archive/old.log")}},
        {"a legacy folder that cannot be removed is reported and passed over",
         [](const std::string& home) {
             makeOldFiles(home, {"Tarnwell/Lintel/file"});
             makeOldAndRecentLogs(home);
         },
         {{"Tarnwell/Lintel", 0500}}, {}, error, false, {logsEntry("eight.log")},
         {"Tarnwell/Lintel/file", logsEntry("one.log")}},
        {"each old log that cannot be deleted is reported and passed over",
         [](const std::string& home) {
             makeOldAndRecentLogs(home);
             makeOldFiles(home, {logsEntry("nine.log")});
         },
         {{kLogsBelowHome, 0500}}, {}, error + error, false, {},
         {logsEntry("eight.log"), logsEntry("nine.log")}},
        {"a home the user is not found for fails it", nothing, {},
         [](const std::string&) { FakePasswd::setNoEntry(); }, "", true, {}, {}},
        {"a home that is no UTF-8 fails it", nothing, {},
         [](const std::string& home) { FakePasswd::setHome(home + "/\xff"); }, "", true, {}, {}},
        {"a home that cannot be searched: the legacy removal is reported, then the log "
         "folder's status fails it",
         [](const std::string& home) { makeOldFiles(home, {"Tarnwell/Lintel/file"}); },
         {{"", 0600}}, {}, error, true, {}, {"Tarnwell/Lintel/file"}},
        {"a log folder whose status cannot be read fails it", makeOldAndRecentLogs,
         {{".config/Tarnwell", 0000}}, {}, "", true, {}, {logsEntry("eight.log")}},
        {"a log folder that cannot be listed fails it", makeOldAndRecentLogs,
         {{kLogsBelowHome, 0300}}, {}, "", true, {}, {logsEntry("eight.log")}},
        {"a log folder that cannot be created fails it",
         [](const std::string& home) { std::filesystem::create_directories(home + "/.config/Tarnwell"); },
         {{".config/Tarnwell", 0500}}, {}, "", true, {".config/Tarnwell/okzoinstallplugin"}, {}},
    };
    for (const Rule& rule : rules)
        check(rule);
}

// Makes a link at path below the home to target.
void makeLink(const std::string& home, const std::string& path, const std::string& target)
{
    std::filesystem::create_directories(std::filesystem::path(home + "/" + path).parent_path());
    std::filesystem::create_symlink(target, home + "/" + path);
}

// A socket file at path, bound and closed, with the time when.
void makeSocketFile(const std::string& path, time_t when)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_LE(0, fd);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path) << path;
    strcpy(address.sun_path, path.c_str());
    EXPECT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address)) << strerror(errno);
    close(fd);
    setModified(path, when);
}

// Only what is, through its links, a regular file is a log file; an entry
// whose status cannot be read through its link is none, whatever the
// reason, and stays: one odd entry never stops every start. The old log
// beside it goes all the same.
TEST_F(LogSetupRulesTest, AnEntryThatIsNoRegularFileThroughItsLinksStaysAndStopsNothing)
{
    const std::string longName(300, 'a');
    const auto withOldAndRecentLogs = [](std::function<void(const std::string&)> odd) {
        return [odd](const std::string& home) {
            makeOldAndRecentLogs(home);
            odd(home);
        };
    };
    const auto longLink = withOldAndRecentLogs(
        [&](const std::string& home) { makeLink(home, logsEntry("long.log"), longName); });
    const std::vector<std::string> gone = {logsEntry("eight.log")};
    const Rule rules[] = {
        {"a link whose target's name is too long", longLink, {}, {}, "", false, gone,
         {logsEntry("long.log"), logsEntry("one.log")}, childrun::As::ThisUser},
        {"a link whose target's name is too long, as another user", longLink, {}, {}, "", false,
         gone, {logsEntry("long.log"), logsEntry("one.log")}},
        {"a link into a folder the user may not search",
         withOldAndRecentLogs([](const std::string& home) {
             makeOldFiles(home, {"elsewhere/closed/old.log"});
             makeLink(home, logsEntry("closed.log"), home + "/elsewhere/closed/old.log");
         }),
         {{"elsewhere/closed", 0000}}, {}, "", false, gone,
         {logsEntry("closed.log"), "elsewhere/closed/old.log", logsEntry("one.log")}},
        {"a link through a regular file",
         withOldAndRecentLogs([](const std::string& home) {
             makeOldFiles(home, {"elsewhere/file"});
             makeLink(home, logsEntry("through.log"), home + "/elsewhere/file/old.log");
         }),
         {}, {}, "", false, gone, {logsEntry("through.log"), "elsewhere/file", logsEntry("one.log")}},
        {"links that lead round in a loop",
         withOldAndRecentLogs([](const std::string& home) {
             makeLink(home, logsEntry("round.log"), "about.log");
             makeLink(home, logsEntry("about.log"), "round.log");
         }),
         {}, {}, "", false, gone, {logsEntry("round.log"), logsEntry("about.log")}},
        {"an old FIFO and an old socket",
         withOldAndRecentLogs([](const std::string& home) {
             const std::string logs = home + "/" + kLogsBelowHome;
             ASSERT_EQ(0, mkfifo((logs + "/old.fifo").c_str(), 0600));
             setModified(logs + "/old.fifo", kNow - 30 * kDay);
             makeSocketFile(logs + "/old.sock", kNow - 30 * kDay);
         }),
         {}, {}, "", false, gone, {logsEntry("old.fifo"), logsEntry("old.sock"), logsEntry("one.log")}},
    };
    for (const Rule& rule : rules)
        check(rule);
}

// Errors a status read through a link may meet that no test can bring
// about for real (a failing disk, a network or FUSE mount that is gone)
// pass the entry over too, though it is an old regular file.
TEST_F(LinkSwapTest, AnEntryWhoseStatusReadFailsForAnyReasonIsPassedOver)
{
    const struct {
        const char* name;
        int error;
    } errors[] = {
        {"EIO", EIO},       {"ENOTCONN", ENOTCONN}, {"ESTALE", ESTALE}, {"ENAMETOOLONG", ENAMETOOLONG},
        {"EOVERFLOW", EOVERFLOW}, {"EACCES", EACCES}, {"ELOOP", ELOOP},  {"ENOMEM", ENOMEM},
    };
    for (const auto& e : errors) {
        SCOPED_TRACE(e.name);
        std::filesystem::remove_all(home.path() + "/.config");
        makeOldAndRecentLogs(home.path());
        makeOldFiles(logs, {"odd.log"});
        LinkSwapSeam::failStatusOf("odd.log", e.error);

        std::string path;
        testing::internal::CaptureStderr();
        EXPECT_NO_THROW(path = prepare());
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
        LinkSwapSeam::disarm();
        EXPECT_EQ(logs + "/" + ownLogName(kNow), path);
        EXPECT_TRUE(FileExists(logs + "/odd.log"));
        EXPECT_FALSE(FileExists(logs + "/eight.log"));
        EXPECT_TRUE(FileExists(logs + "/one.log"));
    }
}

// Entries that disappear while the legacy folder is emptied (the old
// product's own uninstaller running at the same time, say) are passed over,
// and the rest of the folder goes.
TEST_F(LinkSwapTest, EntriesThatDisappearDuringTheLegacyRemovalArePassedOver)
{
    const std::string legacy = home.path() + "/Tarnwell/Lintel";
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i)
        files.push_back("file" + std::to_string(i));
    const struct {
        const char* what;
        LinkSwapSeam::Moment moment;
        const char* name;
        std::vector<std::string> gone;  // by the action, below the legacy folder
    } cases[] = {
        {"listed files, gone at the first removal", LinkSwapSeam::RemovingEntry, "", files},
        {"a folder, gone between its status and its opening", LinkSwapSeam::OpeningFolder,
         "folder", {"folder"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LinkSwapSeam::disarm();
        std::filesystem::remove_all(home.path() + "/Tarnwell");
        makeOldFiles(legacy, files);
        makeOldFiles(legacy, {"folder/file", "rest/file"});
        size_t removed = 0;
        LinkSwapSeam::arm(c.moment, c.name, [&] {
            for (const std::string& entry : c.gone)
                removed += std::filesystem::remove_all(legacy + "/" + entry) > 0;
        });

        EXPECT_EQ("", prepareCapturingErrors());
        EXPECT_TRUE(LinkSwapSeam::fired());
        // More than the entry the walk was at when they went.
        EXPECT_LE(std::min<size_t>(2, c.gone.size()), removed);
        EXPECT_FALSE(FileExists(legacy));
    }
}

// The legacy removal never enters a folder that lies on another mount than
// the legacy folder: a folder of elsewhere bound inside it (on the same file
// system, so of the same device) and a tmpfs stay whole, and so do the
// folders above them; the rest goes. The legacy folder cannot go then,
// which is reported, and the set-up goes on. In a child with mounts of its
// own.
TEST_F(PlantedLinkTest, TheLegacyRemovalNeverEntersAFolderOfAnotherMount)
{
    const std::string legacy = home.path() + "/Tarnwell/Lintel";
    const std::string victim = elsewhere.File("victim");
    legacymounts::makeVictim(victim);
    const childrun::Outcome outcome = childrun::runInChild([&] {
        legacymounts::makeInChild(legacy, victim);
        const std::string made = "made " + prepare();
        return made + "\n" + privatemounts::treeBelow(legacy);
    });
    if (!outcome.skipped.empty())
        GTEST_SKIP() << outcome.skipped;
    ASSERT_TRUE(outcome.exitedCleanly()) << outcome.how();
    EXPECT_EQ("Placeholder Error String", outcome.errors);
    EXPECT_EQ(0u, outcome.report.find("made " + logs + "/okzoinstallplugin.")) << outcome.report;
    EXPECT_EQ(legacymounts::left(), outcome.report.substr(outcome.report.find('\n') + 1));
    EXPECT_EQ("file=keep\nfolder\nfolder/file=keep\n", privatemounts::treeBelow(victim));
}

} // namespace
