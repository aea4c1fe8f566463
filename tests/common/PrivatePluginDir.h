// PrivatePluginDir: runs the whole test executable in a private mount
// namespace in which the main plugin directory (a fixed system path) is an
// empty directory of the test's own, so the version pipeline can be tested
// without touching the real one.
//
// Including this header registers a global test environment that, before
// the first test, unshares the mount namespace and mounts a tmpfs there (or,
// when the directory does not exist, an overlay on its deepest existing
// ancestor in which it is then created). Needs root; where that fails,
// available() is false and reason() says why, for GTEST_SKIP. Include it in
// one source file per executable. Main thread only.
#ifndef TESTS_COMMON_PRIVATEPLUGINDIR_H
#define TESTS_COMMON_PRIVATEPLUGINDIR_H

#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kzohelpers.h"

class PrivatePluginDir : public ::testing::Environment {
public:
    static bool available() { return !dir().empty(); }
    static const std::string& reason() { return failure(); }
    static std::string path() { return dir(); }

    // Empties the directory, then adds empty files of these names.
    static void fill(const std::vector<std::string>& names)
    {
        for (const auto& entry : std::filesystem::directory_iterator(dir()))
            std::filesystem::remove_all(entry.path());
        for (const std::string& name : names)
            std::ofstream(dir() + "/" + name).put('\n');
    }

    void SetUp() override
    {
        const std::string target = getMasterPluginDir();
        if (unshare(CLONE_NEWNS) != 0)
            return fail("unshare(CLONE_NEWNS)");
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return fail("making / private");
        std::string pattern = (std::filesystem::temp_directory_path() / "kzo_plugins.XXXXXX").string();
        if (!mkdtemp(&pattern[0]))
            return fail("mkdtemp");
        m_scratch = pattern;
        if (mount("kzo_plugins", m_scratch.c_str(), "tmpfs", 0, nullptr) != 0)
            return fail("mounting a tmpfs");
        m_mounts.push_back(m_scratch);

        std::filesystem::path ancestor(target);
        while (!std::filesystem::exists(ancestor))
            ancestor = ancestor.parent_path();
        if (ancestor == target) {
            if (mount("kzo_plugins", target.c_str(), "tmpfs", 0, nullptr) != 0)
                return fail("mounting a tmpfs on " + target);
        } else {
            // The ancestor keeps what it holds (such as the dynamic loader).
            std::filesystem::create_directory(m_scratch + "/upper");
            std::filesystem::create_directory(m_scratch + "/work");
            const std::string options = "lowerdir=" + ancestor.string() + ",upperdir=" +
                                        m_scratch + "/upper,workdir=" + m_scratch + "/work";
            if (mount("kzo_plugins", ancestor.c_str(), "overlay", 0, options.c_str()) != 0)
                return fail("mounting an overlay on " + ancestor.string());
            std::filesystem::create_directories(target);
        }
        m_mounts.push_back(ancestor == target ? target : ancestor.string());
        dir() = target;
    }

    void TearDown() override
    {
        for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it)
            umount2(it->c_str(), MNT_DETACH);
        m_mounts.clear();
        if (!m_scratch.empty())
            rmdir(m_scratch.c_str());
        dir().clear();
    }

private:
    static std::string& dir()
    {
        static std::string d;
        return d;
    }
    static std::string& failure()
    {
        static std::string f;
        return f;
    }
    void fail(const std::string& step)
    {
        failure() = "no private mount namespace for " + getMasterPluginDir() + " (" + step +
                    ": " + strerror(errno) + "); run as root to test the version pipeline";
    }

    std::string m_scratch;
    std::vector<std::string> m_mounts;
};

[[maybe_unused]] static ::testing::Environment* const kPrivatePluginDirEnvironment =
    ::testing::AddGlobalTestEnvironment(new PrivatePluginDir);

#define REQUIRE_PRIVATE_PLUGIN_DIR()                        \
    do {                                                    \
        if (!PrivatePluginDir::available())                 \
            GTEST_SKIP() << PrivatePluginDir::reason();     \
    } while (0)

#endif
