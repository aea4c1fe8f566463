// The window as a browser gives it: NPP_SetWindow with the X window of a real
// GtkSocket (in a process of its own, as a browser's is) embeds the plugin's
// GtkPlug, the core is attached, input injected into the X server reaches
// the core as plugin events, and taking the window away and destroying the
// instance detach it cleanly.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PluginFixture.h"
#include "SocketHost.h"
#include "TestDisplay.h"

// Last: Xlib's macros (Bool, None, Status) would clash with the names above.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

class NpapiWindow : public PluginFixture {
protected:
    // The core's record of what it saw, read through its root object.
    std::vector<std::string> events(const ObjectRef& root)
    {
        std::vector<std::string> texts;
        const CallResult result = browser->callMember(root.get(), "events");
        for (const Value& value : browser->arrayValues(result.value.object()))
            texts.push_back(value.asString());
        return texts;
    }

    // The journal id of the instance's core (-1 for a core that keeps none).
    Value coreJournal(Instance& instance)
    {
        const ObjectRef root = instance.scriptableObject();
        return browser->invoke(root.get(), "coreJournal").value;
    }

    // A core's journal, read through a new instance (its own may be gone).
    std::vector<std::string> journalEntries(const Value& journal)
    {
        Instance& reader = newInstance();
        const ObjectRef root = reader.scriptableObject();
        const CallResult entries = browser->invoke(root.get(), "journal", {journal});
        std::vector<std::string> texts;
        if (!entries.value.isObject())
            return {"no journal"};
        for (const Value& value : browser->arrayValues(entries.value.object()))
            texts.push_back(value.asString());
        return texts;
    }

    bool sawEvent(const ObjectRef& root, const std::string& wanted)
    {
        const std::vector<std::string> seen(events(root));
        return std::find(seen.begin(), seen.end(), wanted) != seen.end();
    }

    uint32_t startSocket(testsupport::SocketHost& host)
    {
        std::string line;
        if (!host.start(FB_XEMBED_SOCKET_HOST) || !host.nextLine(line, 10000) ||
            line.find("socket ") != 0)
            return 0;
        return static_cast<uint32_t>(std::strtoul(line.c_str() + 7, nullptr, 10));
    }

    // The socket host's next line; "" when none comes within 10 s.
    static std::string nextLine(testsupport::SocketHost& host)
    {
        std::string line;
        return host.nextLine(line, 10000) ? line : std::string();
    }

    static NPWindow windowRecord(uint32_t xid)
    {
        NPWindow window = {};
        window.window = reinterpret_cast<void*>(static_cast<uintptr_t>(xid));
        window.width = 200;
        window.height = 150;
        window.clipRect.right = 200;
        window.clipRect.bottom = 150;
        window.type = NPWindowTypeWindow;
        return window;
    }
};

TEST_F(NpapiWindow, SetWindowEmbedsThePlugAndInputReachesTheCore)
{
    REQUIRE_TEST_DISPLAY();
    testsupport::SocketHost host;
    const uint32_t socketId = startSocket(host);
    ASSERT_NE(0u, socketId) << "the socket host did not start";

    Instance& instance = newInstance();
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    const ObjectRef root = instance.scriptableObject();
    EXPECT_EQ(NPERR_NO_ERROR, instance.setWindow(windowRecord(socketId)));
    EXPECT_TRUE(sawEvent(root, "attached"));

    std::string line;
    ASSERT_TRUE(host.nextLine(line, 10000));
    EXPECT_EQ("plug-added", line);
    // Give the plug time to be mapped at the socket's size.
    testsupport::pumpGtkUntil([] { return false; }, 300);

    Display* const display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    ASSERT_TRUE(XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor));
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, socketId, DefaultRootWindow(display), 60, 40, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
    EXPECT_TRUE(testsupport::pumpGtkUntil([&] { return sawEvent(root, "mousedown 0"); }, 10000));

    const KeyCode returnKey = XKeysymToKeycode(display, XK_Return);
    XTestFakeKeyEvent(display, returnKey, True, CurrentTime);
    XTestFakeKeyEvent(display, returnKey, False, CurrentTime);
    XFlush(display);
    EXPECT_TRUE(testsupport::pumpGtkUntil([&] { return sawEvent(root, "keydown 65293"); }, 10000));

    // The same window id again: updated in place, no second attach.
    EXPECT_EQ(NPERR_NO_ERROR, instance.setWindow(windowRecord(socketId)));
    const std::vector<std::string> seen(events(root));
    EXPECT_EQ(1, std::count(seen.begin(), seen.end(), std::string("attached")));

    // The browser takes the window away: detached, the plug leaves the socket.
    NPWindow none = {};
    EXPECT_EQ(NPERR_NO_ERROR, instance.setWindow(none));
    EXPECT_TRUE(sawEvent(root, "detached"));
    ASSERT_TRUE(host.nextLine(line, 10000));
    EXPECT_EQ("plug-removed", line);
}

// The browser gives the same window again at another place with another
// clip rectangle: the window is updated in place and the core reads every
// field of both.
TEST_F(NpapiWindow, TheSameWindowAgainMovesAndClipsIt)
{
    REQUIRE_TEST_DISPLAY();
    testsupport::SocketHost host;
    const uint32_t socketId = startSocket(host);
    ASSERT_NE(0u, socketId);

    Instance& instance = newInstance();
    const ObjectRef root = instance.scriptableObject();
    ASSERT_EQ(NPERR_NO_ERROR, instance.setWindow(windowRecord(socketId)));
    ASSERT_EQ("plug-added", nextLine(host));

    NPWindow moved = windowRecord(socketId);
    moved.x = 3;
    moved.y = 4;
    moved.width = 101;
    moved.height = 52;
    moved.clipRect.top = 5;
    moved.clipRect.left = 6;
    moved.clipRect.bottom = 57;
    moved.clipRect.right = 107;
    EXPECT_EQ(NPERR_NO_ERROR, instance.setWindow(moved));
    const std::vector<std::string> seen(events(root));
    EXPECT_EQ(1, std::count(seen.begin(), seen.end(), std::string("attached")));
    EXPECT_EQ(1, std::count(seen.begin(), seen.end(), std::string("resized 3 4 101 52")));
    EXPECT_EQ(1, std::count(seen.begin(), seen.end(), std::string("clip 5 6 57 107")));

    // Only the clip rectangle changes: one clip event, no resize.
    moved.clipRect.top = 9;
    EXPECT_EQ(NPERR_NO_ERROR, instance.setWindow(moved));
    const std::vector<std::string> after(events(root));
    EXPECT_EQ(1, std::count(after.begin(), after.end(), std::string("clip 9 6 57 107")));
    EXPECT_EQ(1, std::count_if(after.begin(), after.end(),
                               [](const std::string& e) { return e.find("resized") == 0; }));
}

// A page call from a mouse event ends the instance (the page removes the
// plugin): the event callback finishes on a window that is still there -
// the core reads its size after the call (AddressSanitizer watches) - then
// the window goes and the plug leaves.
TEST_F(NpapiWindow, APageCallFromAMouseEventMayDestroyTheInstance)
{
    REQUIRE_TEST_DISPLAY();
    testsupport::SocketHost host;
    const uint32_t socketId = startSocket(host);
    ASSERT_NE(0u, socketId);

    NPError destroyed = -1;
    Instance& instance = newInstance(
        {{"onmouse", "removePlugin"}}, "application/x-fbtest-mousecall", "http://127.0.0.1/page.html",
        [&](Instance& page) {
            Instance* const plugin = &page;
            const ObjectRef remove = browser->newFunction(
                [plugin, &destroyed](const Value&, const std::vector<Value>&) {
                    destroyed = plugin->destroy();
                    return Value("removed");
                },
                page.npp());
            browser->setProperty(page.window().get(), "removePlugin", Value(remove));
        });
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    const Value journal = coreJournal(instance);
    ASSERT_TRUE(journal.isInt());
    ASSERT_EQ(NPERR_NO_ERROR, instance.setWindow(windowRecord(socketId)));
    ASSERT_EQ("plug-added", nextLine(host));
    testsupport::pumpGtkUntil([] { return false; }, 300);

    Display* const display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(display, socketId, DefaultRootWindow(display), 60, 40, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
    EXPECT_TRUE(testsupport::pumpGtkUntil([&] { return destroyed != -1; }, 10000));
    EXPECT_EQ(NPERR_NO_ERROR, destroyed);
    EXPECT_TRUE(instance.destroyed());
    EXPECT_EQ("plug-removed", nextLine(host));
    // Events still queued for the window find no handler.
    testsupport::pumpGtkUntil([] { return false; }, 200);
    EXPECT_EQ(std::vector<std::string>{"mouse call=removed window=200x150"}, journalEntries(journal));
}

// NPP_Destroy shuts the host down before it takes the window from the core:
// the core's detach handler finds the host shut down, and its page call
// does not reach the page. Taking the window away earlier, with the host
// live, lets the same call through.
TEST_F(NpapiWindow, DestroyShutsTheHostDownBeforeTheWindowGoes)
{
    REQUIRE_TEST_DISPLAY();
    testsupport::SocketHost host;
    const uint32_t socketId = startSocket(host);
    ASSERT_NE(0u, socketId);

    std::vector<std::vector<Value>> calls;
    Instance& instance = newInstance(
        {{"ondetach", "pageDetach"}}, "application/x-fbtest-detachcall", "http://127.0.0.1/page.html",
        [&](Instance& page) {
            browser->setProperty(page.window().get(), "pageDetach",
                                 Value(recordingFunction(&calls, Value("reached"))));
        });
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    const Value journal = coreJournal(instance);
    ASSERT_TRUE(journal.isInt());

    ASSERT_EQ(NPERR_NO_ERROR, instance.setWindow(windowRecord(socketId)));
    ASSERT_EQ("plug-added", nextLine(host));
    NPWindow none = {};
    EXPECT_EQ(NPERR_NO_ERROR, instance.setWindow(none));
    EXPECT_EQ("plug-removed", nextLine(host));
    EXPECT_EQ(1u, calls.size());

    ASSERT_EQ(NPERR_NO_ERROR, instance.setWindow(windowRecord(socketId)));
    ASSERT_EQ("plug-added", nextLine(host));
    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    EXPECT_EQ(1u, calls.size()) << "a page call reached the page after the host's shutdown";

    EXPECT_EQ((std::vector<std::string>{"detached shutdown=0 call=reached",
                                        "detached shutdown=1 call=error []"}),
              journalEntries(journal));
}

TEST_F(NpapiWindow, DestroyingTheInstanceUnembedsThePlug)
{
    REQUIRE_TEST_DISPLAY();
    testsupport::SocketHost host;
    const uint32_t socketId = startSocket(host);
    ASSERT_NE(0u, socketId);

    Instance& instance = newInstance();
    ASSERT_EQ(NPERR_NO_ERROR, instance.setWindow(windowRecord(socketId)));
    std::string line;
    ASSERT_TRUE(host.nextLine(line, 10000));
    EXPECT_EQ("plug-added", line);
    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    ASSERT_TRUE(host.nextLine(line, 10000));
    EXPECT_EQ("plug-removed", line);
}

TEST_F(NpapiWindow, ABrowserWithoutXEmbedGetsNoWindow)
{
    browser->setSupportsXEmbed(false);
    Instance& instance = newInstance();
    const ObjectRef root = instance.scriptableObject();
    EXPECT_EQ(NPERR_GENERIC_ERROR, instance.setWindow(windowRecord(0x123)));
    EXPECT_FALSE(sawEvent(root, "attached"));
}

TEST_F(NpapiWindow, AnObserverThatRefusesTheWindowFailsSetWindow)
{
    REQUIRE_TEST_DISPLAY();
    testsupport::SocketHost host;
    const uint32_t socketId = startSocket(host);
    ASSERT_NE(0u, socketId);

    Instance& instance = newInstance({}, "application/x-fbtest-refusewin");
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    const ObjectRef root = instance.scriptableObject();
    EXPECT_EQ(NPERR_GENERIC_ERROR, instance.setWindow(windowRecord(socketId)));
    EXPECT_TRUE(sawEvent(root, "attached"));
    // The instance stays usable and goes down cleanly.
    EXPECT_EQ(Value(3), browser->callMember(root.get(), "add", {Value(1), Value(2)}).value);
}

} // namespace
