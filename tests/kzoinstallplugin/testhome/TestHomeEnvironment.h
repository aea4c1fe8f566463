// TestHomeEnvironment: one scratch home for a whole test executable that
// drives the installer's test build (npokzoinstallplugin_testhome), named
// by KZO_TEST_HOME before the first test and removed after the last. The
// plugin sets its logging up once per process, so the executable's log
// file lies in this home whichever test made the first instance.
// Include it in one source file per executable; main thread only.
#ifndef TESTS_KZOINSTALLPLUGIN_TESTHOME_TESTHOMEENVIRONMENT_H
#define TESTS_KZOINSTALLPLUGIN_TESTHOME_TESTHOMEENVIRONMENT_H

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../talk/base/scratchdir.h"

class TestHomeEnvironment : public ::testing::Environment {
public:
    static const std::string& home() { return dir()->path(); }
    static std::string logsDir() { return home() + "/.config/Tarnwell/okzoinstallplugin/logs"; }
    // The log files of this home, whichever process made them.
    static std::vector<std::string> logFiles()
    {
        std::vector<std::string> files;
        std::error_code error;
        for (std::filesystem::directory_iterator it(logsDir(), error), end; !error && it != end;
             ++it)
            files.push_back(it->path().string());
        return files;
    }
    // This process's log file ("" before the plugin made it).
    static std::string logFile()
    {
        const std::string suffix = "_" + std::to_string(getpid()) + ".log";
        for (const std::string& file : logFiles()) {
            if (file.size() > suffix.size() &&
                file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0)
                return file;
        }
        return std::string();
    }
    static std::string log() { return ReadWholeFile(logFile()); }

    // The package-manager sequences that ended so far in this home: each
    // worker logs its last command's "Return code". Every log file counts,
    // so a child process that loaded the plugin is counted too.
    static size_t sequencesEnded()
    {
        const std::string mark = ". Return code: ";
        size_t found = 0;
        for (const std::string& file : logFiles()) {
            const std::string text = ReadWholeFile(file);
            for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
                ++found;
        }
        return found;
    }
    // Waits until at least count sequences ended, for at most 20 s.
    static bool waitForSequencesEnded(size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (sequencesEnded() < count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    void SetUp() override
    {
        dir().reset(new ScratchDir);
        setenv("KZO_TEST_HOME", home().c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("KZO_TEST_HOME");
        dir().reset();
    }

private:
    static std::unique_ptr<ScratchDir>& dir()
    {
        static std::unique_ptr<ScratchDir> d;
        return d;
    }
};

[[maybe_unused]] static ::testing::Environment* const kTestHomeEnvironment =
    ::testing::AddGlobalTestEnvironment(new TestHomeEnvironment);

#endif
