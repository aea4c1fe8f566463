// The plugin window really embedded: a socket host in a process of its own
// (as the browser is) takes the plug made on its socket's id, and pointer and
// key input injected into the X server (XTest) reaches the core through GDK
// as plugin events; deleting the window unembeds it and frees its widgets.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "EventLog.h"
#include "PluginWindowX11.h"
#include "TestDisplay.h"
#include "WindowContextX11.h"

#include <gdk/gdkx.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

extern char** environ;

using testsupport::RecordingCore;

namespace {

// The socket host process and its line protocol.
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

    bool start()
    {
        int toHost[2];
        int fromHost[2];
        if (pipe2(toHost, O_CLOEXEC) != 0 || pipe2(fromHost, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
        char arg0[] = FB_XEMBED_SOCKET_HOST;
        char* argv[] = {arg0, nullptr};
        const int rc = posix_spawn(&m_pid, FB_XEMBED_SOCKET_HOST, &actions, nullptr, argv, environ);
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
        const bool got = testsupport::pumpGtkUntil(
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

bool contains(const std::vector<std::string>& events, const std::string& wanted)
{
    return std::find(events.begin(), events.end(), wanted) != events.end();
}

TEST(XEmbedWindow, ThePlugEmbedsRealInputReachesTheCoreAndDeletionUnembeds)
{
    REQUIRE_TEST_DISPLAY();
    SocketHost host;
    ASSERT_TRUE(host.start());
    std::string line;
    ASSERT_TRUE(host.nextLine(line, 10000)) << "the socket host did not start";
    ASSERT_EQ(0u, line.find("socket ")) << line;
    const uint32_t socketId = static_cast<uint32_t>(std::strtoul(line.c_str() + 7, nullptr, 10));

    const auto core = boost::make_shared<RecordingCore>();
    std::unique_ptr<FB::PluginWindowX11> window(FB::PluginWindowX11::create(FB::WindowContextX11(socketId)));
    window->setWindowPosition(0, 0, 200, 150);
    core->SetWindow(window.get());
    EXPECT_EQ(std::vector<std::string>{"Attached"}, core->log.events);

    ASSERT_TRUE(host.nextLine(line, 10000));
    EXPECT_EQ("plug-added", line);

    gpointer canvas = nullptr;
    gdk_window_get_user_data(window->getGdkWindow(), &canvas);
    gpointer plug = gtk_widget_get_toplevel(GTK_WIDGET(canvas));
    g_object_add_weak_pointer(G_OBJECT(canvas), &canvas);
    g_object_add_weak_pointer(G_OBJECT(plug), &plug);
    EXPECT_TRUE(gtk_plug_get_embedded(GTK_PLUG(plug)));
    // Shown, and given the socket's whole size, before the pointer aims at it.
    ASSERT_TRUE(testsupport::pumpGtkUntil(
        [&] {
            GtkAllocation area;
            gtk_widget_get_allocation(GTK_WIDGET(canvas), &area);
            return gdk_window_is_viewable(window->getGdkWindow()) && area.width == 200 &&
                   area.height == 150;
        },
        10000));

    // Pointer over the canvas at (60, 40), then a left click and a Return.
    Display* const display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    ASSERT_TRUE(XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor));
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, window->getCanvasXID(), DefaultRootWindow(display), 60, 40,
                          &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
    EXPECT_TRUE(testsupport::pumpGtkUntil([&] { return contains(core->log.events, "MouseUp 60 40 0 0"); },
                                          10000));

    const KeyCode returnKey = XKeysymToKeycode(display, XK_Return);
    XTestFakeKeyEvent(display, returnKey, True, CurrentTime);
    XTestFakeKeyEvent(display, returnKey, False, CurrentTime);
    XFlush(display);
    EXPECT_TRUE(testsupport::pumpGtkUntil([&] { return contains(core->log.events, "KeyUp 52 65293 0"); },
                                          10000));

    EXPECT_EQ((std::vector<std::string>{"MouseDown 60 40 0 0", "MouseUp 60 40 0 0", "KeyDown 52 65293 0",
                                        "KeyUp 52 65293 0"}),
              testsupport::eventsOfKinds(core->log.events, {"MouseDown", "MouseUp", "KeyDown", "KeyUp"}));
    EXPECT_TRUE(gtk_widget_is_focus(GTK_WIDGET(canvas))) << "the click gave the canvas the focus";

    core->ClearWindow();
    window.reset();
    EXPECT_EQ("Detached", core->log.events.back());
    ASSERT_TRUE(host.nextLine(line, 10000));
    EXPECT_EQ("plug-removed", line);
    testsupport::pumpGtkPending();
    EXPECT_EQ(nullptr, canvas) << "the canvas was freed";
    EXPECT_EQ(nullptr, plug) << "the plug was freed";
}

} // namespace
