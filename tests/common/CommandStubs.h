// CommandStubs: stand-ins for the package manager ("yum") and the update
// viewer ("gpk-update-viewer"), first on PATH for the whole test executable.
//
// Each stub appends its command line to a shared call log, waits while it
// is held (at most 30 s), then exits with the code chosen for it (0 until
// chosen). A stub that starts while another one runs also logs the line
// "overlap", so tests see commands that ran at the same time.
//
// Including this header registers a global test environment that writes the
// stubs into a temporary directory and puts it first on PATH before the
// first test, while the process has no threads of its own. Include it in one
// source file per executable. The settings are files, so stubs that
// run in other processes see them; set them from the main thread.
#ifndef TESTS_COMMON_COMMANDSTUBS_H
#define TESTS_COMMON_COMMANDSTUBS_H

#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

class CommandStubs : public ::testing::Environment {
public:
    // Forgets the calls, the holds and the exit codes.
    static void reset()
    {
        for (const char* name : kNames) {
            std::filesystem::remove(file(std::string(name) + ".exit"));
            release(name);
        }
        std::filesystem::remove(file("calls"));
        std::filesystem::remove(file("running"));
    }
    static void exitWith(const std::string& command, int code)
    {
        std::ofstream(file(command + ".exit")) << code << "\n";
    }
    static void hold(const std::string& command) { std::ofstream(file(command + ".hold")); }
    static void release(const std::string& command)
    {
        std::filesystem::remove(file(command + ".hold"));
    }

    // The command lines run so far, in order.
    static std::vector<std::string> calls()
    {
        std::ifstream in(file("calls"));
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
        return lines;
    }
    // Waits until at least count commands have started.
    static bool waitForCalls(size_t count, int timeoutMs = 10000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (calls().size() < count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kzo_stubs.XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir() = pattern;
        for (const char* name : kNames) {
            const std::string path = file(name);
            std::ofstream(path) << kScript;
            chmod(path.c_str(), 0755);
        }
        const char* path = getenv("PATH");
        setenv("PATH", (dir() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir(), ignored);
    }

private:
    static constexpr const char* kNames[] = {"yum", "gpk-update-viewer"};
    static constexpr const char* kScript =
        "#!/bin/sh\n"
        "dir=$(dirname \"$0\"); name=$(basename \"$0\")\n"
        "echo \"$name${*:+ $*}\" >> \"$dir/calls\"\n"
        "if mkdir \"$dir/running\" 2>/dev/null; then alone=1; else echo overlap >> \"$dir/calls\"; fi\n"
        "n=0\n"
        "while [ -e \"$dir/$name.hold\" ] && [ $n -lt 3000 ]; do sleep 0.01; n=$((n+1)); done\n"
        "code=$(cat \"$dir/$name.exit\" 2>/dev/null)\n"
        "[ -n \"$alone\" ] && rmdir \"$dir/running\"\n"
        "exit ${code:-0}\n";

    static std::string& dir()
    {
        static std::string d;
        return d;
    }
    static std::string file(const std::string& name) { return dir() + "/" + name; }
};

[[maybe_unused]] static ::testing::Environment* const kCommandStubsEnvironment =
    ::testing::AddGlobalTestEnvironment(new CommandStubs);

#endif
