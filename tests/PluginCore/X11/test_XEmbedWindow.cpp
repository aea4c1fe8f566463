// The plugin window really embedded: a socket host in a process of its own
// (as the browser is) takes the plug made on its socket's id, and pointer and
// key input injected into the X server (XTest) reaches the core through GDK
// as plugin events; deleting the window unembeds it and frees its widgets.
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
#include "SocketHost.h"
#include "TestDisplay.h"
#include "WindowContextX11.h"

#include <gdk/gdkx.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using testsupport::RecordingCore;

namespace {

bool contains(const std::vector<std::string>& events, const std::string& wanted)
{
    return std::find(events.begin(), events.end(), wanted) != events.end();
}

TEST(XEmbedWindow, ThePlugEmbedsRealInputReachesTheCoreAndDeletionUnembeds)
{
    REQUIRE_TEST_DISPLAY();
    testsupport::SocketHost host;
    ASSERT_TRUE(host.start(FB_XEMBED_SOCKET_HOST));
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
