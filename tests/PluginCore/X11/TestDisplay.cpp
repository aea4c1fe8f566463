#include "TestDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "GtkInit.h"

namespace testsupport {

namespace {

// Stops the Xvfb this process started when the tests end.
class XvfbEnvironment : public ::testing::Environment {
public:
    void TearDown() override { stop(); }

    static pid_t& pid()
    {
        static pid_t value = 0;
        return value;
    }

    static void stop()
    {
        if (pid() > 0) {
            kill(pid(), SIGTERM);
            int status = 0;
            waitpid(pid(), &status, 0);
            pid() = 0;
        }
    }
};

[[maybe_unused]] ::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

// Starts Xvfb on a free display; answers the display name or "" with why.
// The server dies with the test process, even when the test crashes.
std::string startXvfb(std::string& whyNot)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        whyNot = "pipe failed";
        return std::string();
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        whyNot = "fork failed";
        return std::string();
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        // Xvfb writes the display number it chose to descriptor 3; nothing
        // else of it reaches the test's output.
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        dup2(fds[1], 3);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    XvfbEnvironment::pid() = pid;

    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (number.empty() || number.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        pollfd pfd = {fds[0], POLLIN, 0};
        if (left <= 0 || poll(&pfd, 1, static_cast<int>(left)) <= 0)
            break;
        char c = 0;
        if (read(fds[0], &c, 1) != 1)
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty() || number.back() != '\n') {
        XvfbEnvironment::stop();
        whyNot = "Xvfb could not be started or reported no display (is the xvfb package installed?)";
        return std::string();
    }
    number.pop_back();
    return ":" + number;
}

} // namespace

bool haveTestDisplay(std::string& whyNot)
{
    static bool tried = false;
    static bool ready = false;
    static std::string reason;
    if (!tried) {
        tried = true;
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) {
            const std::string started = startXvfb(reason);
            if (!started.empty())
                setenv("DISPLAY", started.c_str(), 1);
        }
        if (reason.empty()) {
            ready = FB::ensureGtkInitialized();
            if (!ready)
                reason = "GTK could not open the display";
        }
    }
    whyNot = reason;
    return ready;
}

bool pumpGtkUntil(const boost::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        if (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
        else
            g_usleep(2000);
    }
    return true;
}

void pumpGtkPending()
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

} // namespace testsupport
