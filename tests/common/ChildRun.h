// runInChild: runs a piece of a test in a forked child process, so that what
// it does to its process stays there: a process-wide flag set once, a
// privilege dropped, a small stack, a crash. The body gives back what it
// saw, and may note lines on the way (note), which reach the parent even
// when the child dies after them; the child's standard error is kept; the
// parent asserts. A child that outlives its time limit is killed.
//
// As::OtherUser runs the body as a user other than root, as a browser runs:
// when the tests run as root the child drops to kOtherUser first (hand the
// folders it needs over with handOver); otherwise it stays the user it is.
// When the child cannot drop, it does not run the body and the outcome says
// why (skipped); a body that finds what it needs missing ends the same way
// with skip.
//
// Fork only while the process has no threads of its own (a child inherits
// none of them, and a lock one held would stay locked there). Main thread.
#ifndef TESTS_COMMON_CHILDRUN_H
#define TESTS_COMMON_CHILDRUN_H

#include <errno.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace childrun {

// The ids of the user a root test run drops to (nobody's, on Debian).
const uid_t kOtherUser = 65534;

enum class As { ThisUser, OtherUser };

struct Outcome {
    std::string skipped;    // why the body did not run or end, or ""
    int status = 0;         // as waitpid gives it
    bool timedOut = false;  // killed at its time limit
    std::string report;     // the noted lines, then what the body gave back or how it threw
    std::string errors;     // what the child wrote on standard error

    bool exitedCleanly() const { return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
    std::string how() const
    {
        if (timedOut)
            return "killed at its time limit";
        if (WIFSIGNALED(status))
            return "killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
                   strsignal(WTERMSIG(status)) + ")";
        return "exited with " + std::to_string(WEXITSTATUS(status));
    }
};

// Whether a child of this process runs as another user than the tests.
inline bool dropsToOtherUser()
{
    return geteuid() == 0;
}

// Gives root, every folder and file below it (never through a link) to the
// user the child runs as; nothing to do when that is this user.
inline void handOver(const std::string& root)
{
    if (!dropsToOtherUser())
        return;
    namespace fs = std::filesystem;
    lchown(root.c_str(), kOtherUser, kOtherUser);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        lchown(entry.path().c_str(), kOtherUser, kOtherUser);
}

namespace detail {

// The child's report file; -1 in the parent.
inline int& reportDescriptor()
{
    static int fd = -1;
    return fd;
}

inline void writeAll(int fd, const std::string& text)
{
    for (size_t at = 0; fd >= 0 && at < text.size();) {
        const ssize_t written = write(fd, text.data() + at, text.size() - at);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        at += static_cast<size_t>(written);
    }
}

inline std::string readAll(FILE* file)
{
    std::string text;
    rewind(file);
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    return text;
}

// The exit code of a child that did not run, or ended, its body for want
// of what it needs.
const int kSkipped = 77;

} // namespace detail

// In the child: adds line and a line end to the report at once.
inline void note(const std::string& line)
{
    detail::writeAll(detail::reportDescriptor(), line + "\n");
}

// In the child: ends it at once, the outcome skipped for why.
[[noreturn]] inline void skip(const std::string& why)
{
    note(why);
    fflush(nullptr);
    _exit(detail::kSkipped);
}

inline Outcome runInChild(const std::function<std::string()>& body, As as = As::ThisUser,
                          std::chrono::seconds limit = std::chrono::seconds(90))
{
    Outcome outcome;
    FILE* report = tmpfile();
    FILE* errors = tmpfile();
    if (!report || !errors) {
        outcome.skipped = std::string("no temporary file: ") + strerror(errno);
        if (report)
            fclose(report);
        if (errors)
            fclose(errors);
        return outcome;
    }
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(fileno(errors), STDERR_FILENO);
        detail::reportDescriptor() = fileno(report);
        int code = 0;
        if (as == As::OtherUser && dropsToOtherUser() &&
            (setgroups(0, nullptr) != 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0)) {
            note(std::string("cannot become user ") + std::to_string(kOtherUser) + ": " +
                 strerror(errno));
            code = detail::kSkipped;
        } else {
            std::string text;
            try {
                text = body();
            } catch (const std::exception& e) {
                text = std::string("threw: ") + e.what();
            } catch (...) {
                text = "threw something else";
            }
            detail::writeAll(fileno(report), text);
        }
        // No exit handlers: what the process set up is the parent's to end.
        fflush(nullptr);
        _exit(code);
    }
    if (child < 0) {
        outcome.skipped = std::string("no child process: ") + strerror(errno);
    } else {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const pid_t ended = waitpid(child, &outcome.status, WNOHANG);
            if (ended == child || (ended < 0 && errno != EINTR))
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                outcome.timedOut = true;
                kill(child, SIGKILL);
                while (waitpid(child, &outcome.status, 0) < 0 && errno == EINTR) {
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        outcome.report = detail::readAll(report);
        outcome.errors = detail::readAll(errors);
        if (!outcome.timedOut && WIFEXITED(outcome.status) &&
            WEXITSTATUS(outcome.status) == detail::kSkipped)
            outcome.skipped = outcome.report;
    }
    fclose(report);
    fclose(errors);
    return outcome;
}

} // namespace childrun

#endif
