// testsupport::SocketHost: the browser's side of XEmbed for the window
// tests - a GtkSocket in a process of its own (xembed_socket_host), as a
// browser's is, spoken to line by line: it says "socket <id>" once the socket
// can take a plug, then "plug-added" and "plug-removed"; it quits when its
// input closes. Main thread only (it runs GTK while it waits).
#ifndef TESTS_PLUGINCORE_X11_SOCKETHOST_H
#define TESTS_PLUGINCORE_X11_SOCKETHOST_H

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "TestDisplay.h"

extern char** environ;

namespace testsupport {

class SocketHost {
public:
    ~SocketHost()
    {
        if (m_in >= 0)
            close(m_in);  // the host quits when its input closes
        if (m_pid > 0) {
            int status = 0;
            for (int i = 0; i < 500 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
                usleep(10000);
            if (waitpid(m_pid, &status, WNOHANG) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
        }
        if (m_out >= 0)
            close(m_out);
    }

    // program: the path of xembed_socket_host.
    bool start(const char* program)
    {
        int toHost[2];
        int fromHost[2];
        if (pipe2(toHost, O_CLOEXEC) != 0 || pipe2(fromHost, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
        char* argv[] = {const_cast<char*>(program), nullptr};
        const int rc = posix_spawn(&m_pid, program, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(toHost[0]);
        close(fromHost[1]);
        m_in = toHost[1];
        m_out = fromHost[0];
        fcntl(m_out, F_SETFL, O_NONBLOCK);
        return rc == 0;
    }

    // Waits, running GTK meanwhile, for the next line from the host.
    bool nextLine(std::string& line, int timeoutMs)
    {
        const bool got = pumpGtkUntil(
            [&] {
                char buffer[256];
                ssize_t n;
                while ((n = read(m_out, buffer, sizeof buffer)) > 0)
                    m_pending.append(buffer, static_cast<size_t>(n));
                return m_pending.find('\n') != std::string::npos;
            },
            timeoutMs);
        if (!got)
            return false;
        const size_t end = m_pending.find('\n');
        line = m_pending.substr(0, end);
        m_pending.erase(0, end + 1);
        return true;
    }

private:
    pid_t m_pid = 0;
    int m_in = -1;
    int m_out = -1;
    std::string m_pending;
};

} // namespace testsupport

#endif
