// The X11 plugin window: GDK events offered raw and then translated (driven
// here by calling the event callback with GDK event structures built by the
// test), focus grabbing, geometry changes, redraw requests through the X
// server, and the widgets going with the window.
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "EventLog.h"
#include "GtkInit.h"
#include "PluginWindowX11.h"
#include "TestDisplay.h"
#include "WindowContextX11.h"

using testsupport::EventRecorder;
using testsupport::RecordingCore;

namespace {

typedef std::vector<std::string> Events;

// A GDK event as GDK would hand it to the canvas.
struct GdkEventCase {
    const char* what;
    GdkEvent event;
    // What the observers receive after the raw X11 event.
    Events translated;
    // The callback's answer when no observer handles anything, and when
    // every observer handles every translated event.
    gboolean answerUnhandled;
    gboolean answerHandled;
};

GdkEvent button(GdkEventType type, guint number, double x, double y, guint state)
{
    GdkEvent e;
    std::memset(&e, 0, sizeof e);
    e.button.type = type;
    e.button.button = number;
    e.button.x = x;
    e.button.y = y;
    e.button.state = state;
    return e;
}

GdkEvent motion(double x, double y, guint state)
{
    GdkEvent e;
    std::memset(&e, 0, sizeof e);
    e.motion.type = GDK_MOTION_NOTIFY;
    e.motion.x = x;
    e.motion.y = y;
    e.motion.state = state;
    return e;
}

GdkEvent expose(int x, int y, int width, int height)
{
    GdkEvent e;
    std::memset(&e, 0, sizeof e);
    e.expose.type = GDK_EXPOSE;
    e.expose.area.x = x;
    e.expose.area.y = y;
    e.expose.area.width = width;
    e.expose.area.height = height;
    return e;
}

GdkEvent key(GdkEventType type, guint keyval, guint state)
{
    GdkEvent e;
    std::memset(&e, 0, sizeof e);
    e.key.type = type;
    e.key.keyval = keyval;
    e.key.state = state;
    return e;
}

GdkEvent focus(gint16 in)
{
    GdkEvent e;
    std::memset(&e, 0, sizeof e);
    e.focus_change.type = GDK_FOCUS_CHANGE;
    e.focus_change.in = in;
    return e;
}

GdkEvent scroll(int direction, double x, double y, guint state)
{
    GdkEvent e;
    std::memset(&e, 0, sizeof e);
    e.scroll.type = GDK_SCROLL;
    // Any number, also one outside the enumeration, as a server could send.
    std::memcpy(&e.scroll.direction, &direction, sizeof direction);
    e.scroll.x = x;
    e.scroll.y = y;
    e.scroll.state = state;
    return e;
}

GdkEvent plain(GdkEventType type)
{
    GdkEvent e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    return e;
}

const guint kShiftAlt = GDK_SHIFT_MASK | GDK_MOD1_MASK;
const guint kAllHeld = GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_LOCK_MASK |
                       GDK_MOD4_MASK | GDK_BUTTON1_MASK;

const GdkEventCase kCases[] = {
    {"left press", button(GDK_BUTTON_PRESS, 1, 10.9, -3.7, 0), {"MouseDown 10 -3 0 0"}, FALSE, TRUE},
    {"middle press, every modifier and more held", button(GDK_BUTTON_PRESS, 2, 1, 2, kAllHeld),
     {"MouseDown 1 2 7 2"}, FALSE, TRUE},
    {"right release with control", button(GDK_BUTTON_RELEASE, 3, 4, 5, GDK_CONTROL_MASK),
     {"MouseUp 4 5 2 1"}, FALSE, TRUE},
    {"right double click with shift and alt", button(GDK_2BUTTON_PRESS, 3, 6, 7, kShiftAlt),
     {"DoubleClick 6 7 5 1"}, FALSE, TRUE},
    {"left double click", button(GDK_2BUTTON_PRESS, 1, 0, 0, 0), {"DoubleClick 0 0 0 0"}, FALSE, TRUE},
    {"press of button 4", button(GDK_BUTTON_PRESS, 4, 1, 1, 0), {}, FALSE, FALSE},
    {"release of button 5", button(GDK_BUTTON_RELEASE, 5, 1, 1, 0), {}, FALSE, FALSE},
    {"double click of button 4", button(GDK_2BUTTON_PRESS, 4, 1, 1, 0), {}, FALSE, FALSE},
    {"triple click", button(GDK_3BUTTON_PRESS, 1, 1, 1, 0), {}, FALSE, FALSE},
    {"motion truncates toward zero and drops modifiers", motion(10.9, -3.7, GDK_SHIFT_MASK),
     {"MouseMove 10 -3 0"}, FALSE, TRUE},
    {"motion at negative fractions", motion(-0.9, 0.9, 0), {"MouseMove 0 0 0"}, FALSE, TRUE},
    {"motion far outside the int range", motion(1e12, -1e12, 0),
     {"MouseMove 2147483647 -2147483648 0"}, FALSE, TRUE},
    {"expose", expose(5, 7, 20, 10), {"Refresh 7 5 17 25"}, FALSE, TRUE},
    {"key press of a letter", key(GDK_KEY_PRESS, 0x0061, GDK_SHIFT_MASK), {"KeyDown 84 97 0"}, FALSE, FALSE},
    {"key release of Return", key(GDK_KEY_RELEASE, 0xff0d, 0), {"KeyUp 52 65293 0"}, FALSE, FALSE},
    {"key press of F1", key(GDK_KEY_PRESS, 0xffbe, 0), {"KeyDown 11 65470 0"}, FALSE, FALSE},
    {"focus in", focus(1), {"Focus 1"}, FALSE, TRUE},
    {"focus out", focus(0), {"Focus 0"}, FALSE, TRUE},
    {"scroll up", scroll(GDK_SCROLL_UP, 3.5, 4.5, GDK_CONTROL_MASK), {"Scroll 3 4 2 -0 3"}, FALSE, TRUE},
    {"scroll down", scroll(GDK_SCROLL_DOWN, 0, 0, 0), {"Scroll 0 0 0 -0 -3"}, FALSE, TRUE},
    {"scroll left", scroll(GDK_SCROLL_LEFT, 0, 0, 0), {"Scroll 0 0 0 3 -0"}, FALSE, TRUE},
    {"scroll right", scroll(GDK_SCROLL_RIGHT, 0, 0, 0), {"Scroll 0 0 0 -3 -0"}, FALSE, TRUE},
    {"scroll of an unknown direction", scroll(9, 1, 1, 0), {"Scroll 1 1 0 -0 -0"}, FALSE, TRUE},
    {"enter notify", plain(GDK_ENTER_NOTIFY), {}, FALSE, FALSE},
    {"visibility notify", plain(GDK_VISIBILITY_NOTIFY), {}, FALSE, FALSE},
};

class PluginWindowX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TEST_DISPLAY();
        // Window id 0: an unembedded plug, shown as a window of its own.
        window.reset(FB::PluginWindowX11::create(FB::WindowContextX11(0)));
        canvas = canvasOf(*window);
        window->AttachObserver(sink);
        sink->log.events.clear();
    }

    void TearDown() override
    {
        if (window)
            window->DetachObserver(sink);
        window.reset();
    }

    static GtkWidget* canvasOf(const FB::PluginWindowX11& w)
    {
        gpointer widget = nullptr;
        gdk_window_get_user_data(w.getGdkWindow(), &widget);
        return GTK_WIDGET(widget);
    }

    gboolean deliver(GdkEvent event)
    {
        event.any.window = window->getGdkWindow();
        return FB::PluginWindowX11::_EventCallback(canvas, &event, window.get());
    }

    boost::shared_ptr<FB::PluginWindowX11> window;
    GtkWidget* canvas = nullptr;
    boost::shared_ptr<EventRecorder> sink = boost::make_shared<EventRecorder>();
};

TEST_F(PluginWindowX11Test, TranslatesEachGdkEventAsTheTableSays)
{
    for (const GdkEventCase& c : kCases) {
        Events expected{"X11"};
        expected.insert(expected.end(), c.translated.begin(), c.translated.end());

        sink->log.events.clear();
        sink->log.answer = nullptr;
        EXPECT_EQ(c.answerUnhandled, deliver(c.event)) << c.what;
        EXPECT_EQ(expected, sink->log.events) << c.what;

        sink->log.events.clear();
        sink->log.answer = [](FB::PluginEvent* evt) { return !dynamic_cast<FB::X11Event*>(evt); };
        EXPECT_EQ(c.answerHandled, deliver(c.event)) << c.what << " (handled)";
        EXPECT_EQ(expected, sink->log.events) << c.what << " (handled)";
    }
}

TEST_F(PluginWindowX11Test, TheRawEventCarriesTheWidgetAndTheGdkEvent)
{
    GdkEvent event = expose(1, 2, 3, 4);
    GtkWidget* seenWidget = nullptr;
    GdkEvent* seenEvent = nullptr;
    sink->log.during = [&](FB::PluginEvent* evt) {
        if (FB::X11Event* raw = dynamic_cast<FB::X11Event*>(evt)) {
            seenWidget = raw->widget;
            seenEvent = raw->event;
        }
    };
    FB::PluginWindowX11::_EventCallback(canvas, &event, window.get());
    EXPECT_EQ(canvas, seenWidget);
    EXPECT_EQ(&event, seenEvent);
}

TEST_F(PluginWindowX11Test, AnObserverHandlingTheRawEventSuppressesTranslation)
{
    const auto second = boost::make_shared<EventRecorder>();
    window->AttachObserver(second);
    second->log.events.clear();
    sink->log.answer = [](FB::PluginEvent* evt) { return dynamic_cast<FB::X11Event*>(evt) != nullptr; };

    for (const GdkEventCase& c : kCases) {
        sink->log.events.clear();
        EXPECT_EQ(TRUE, deliver(c.event)) << c.what;
        EXPECT_EQ(Events{"X11"}, sink->log.events) << c.what;
    }
    EXPECT_TRUE(second->log.events.empty()) << "the handled raw event stops the delivery";
    window->DetachObserver(second);
}

TEST_F(PluginWindowX11Test, NothingAnObserverThrowsLeavesTheCallback)
{
    sink->log.answer = [](FB::PluginEvent* evt) -> bool {
        if (dynamic_cast<FB::MouseDownEvent*>(evt))
            throw std::runtime_error("handler failed");
        if (dynamic_cast<FB::RefreshEvent*>(evt))
            throw 42;
        return false;
    };
    EXPECT_EQ(FALSE, deliver(button(GDK_BUTTON_PRESS, 1, 0, 0, 0)));
    EXPECT_EQ(FALSE, deliver(expose(0, 0, 1, 1)));
    // EventCallback itself lets the observer's exception through.
    GdkEvent event = button(GDK_BUTTON_PRESS, 1, 0, 0, 0);
    sink->log.answer = [](FB::PluginEvent* evt) -> bool {
        if (dynamic_cast<FB::MouseDownEvent*>(evt))
            throw std::runtime_error("handler failed");
        return false;
    };
    EXPECT_THROW(window->EventCallback(canvas, &event), std::runtime_error);
}

TEST_F(PluginWindowX11Test, NullUserDataAnswersFalseAndSendsNothing)
{
    GdkEvent event = expose(0, 0, 1, 1);
    EXPECT_EQ(FALSE, FB::PluginWindowX11::_EventCallback(canvas, &event, nullptr));
    EXPECT_TRUE(sink->log.events.empty());
}

TEST_F(PluginWindowX11Test, APressGrabsTheFocusOnlyWhileTheCanvasIsUnfocused)
{
    GtkWidget* const plug = gtk_widget_get_toplevel(canvas);
    ASSERT_FALSE(gtk_widget_is_focus(canvas));

    deliver(button(GDK_BUTTON_PRESS, 1, 1, 1, 0));
    EXPECT_TRUE(gtk_widget_is_focus(canvas)) << "focus grabbed before the press was sent";

    deliver(focus(1));
    gtk_window_set_focus(GTK_WINDOW(plug), nullptr);
    deliver(button(GDK_BUTTON_PRESS, 1, 1, 1, 0));
    EXPECT_FALSE(gtk_widget_is_focus(canvas)) << "the focus field says focused: nothing grabbed";

    deliver(focus(0));
    deliver(button(GDK_BUTTON_PRESS, 3, 1, 1, 0));
    EXPECT_TRUE(gtk_widget_is_focus(canvas));

    gtk_window_set_focus(GTK_WINDOW(plug), nullptr);
    deliver(button(GDK_BUTTON_PRESS, 4, 1, 1, 0));
    EXPECT_FALSE(gtk_widget_is_focus(canvas)) << "other buttons grab nothing";
}

TEST_F(PluginWindowX11Test, GeometryChangesAreAnnouncedWithTheNewValuesInPlace)
{
    FB::Rect seen = {0, 0, 0, 0};
    sink->log.during = [&](FB::PluginEvent* evt) {
        if (dynamic_cast<FB::ResizedEvent*>(evt))
            seen = window->getWindowPosition();
        if (dynamic_cast<FB::ClipChangedEvent*>(evt))
            seen = window->getWindowClipping();
    };

    window->setWindowPosition(10, 20, 300, 200);
    EXPECT_EQ(Events{"Resized"}, sink->log.events);
    EXPECT_EQ(20, seen.top);
    EXPECT_EQ(10, seen.left);
    EXPECT_EQ(220, seen.bottom);
    EXPECT_EQ(310, seen.right);
    EXPECT_EQ(300u, window->getWindowWidth());
    EXPECT_EQ(200u, window->getWindowHeight());

    window->setWindowPosition(10, 20, 300, 200);
    EXPECT_EQ(Events{"Resized"}, sink->log.events) << "unchanged values send nothing";
    window->setWindowPosition(10, 20, 300, 201);
    EXPECT_EQ((Events{"Resized", "Resized"}), sink->log.events);
    EXPECT_EQ(221, seen.bottom);

    int x = 0, y = 0, width = 0, height = 0;
    window->getWindowPosition(x, y, width, height);
    EXPECT_EQ(10, x);
    EXPECT_EQ(20, y);
    EXPECT_EQ(300, width);
    EXPECT_EQ(201, height);

    sink->log.events.clear();
    window->setWindowClipping(1, 2, 3, 4);
    window->setWindowClipping(1, 2, 3, 4);
    EXPECT_EQ(Events{"ClipChanged"}, sink->log.events);
    EXPECT_EQ(1, seen.top);
    EXPECT_EQ(2, seen.left);
    EXPECT_EQ(3, seen.bottom);
    EXPECT_EQ(4, seen.right);
    int top = 0, left = 0, bottom = 0, right = 0;
    window->getWindowClipping(top, left, bottom, right);
    EXPECT_EQ(1, top);
    EXPECT_EQ(2, left);
    EXPECT_EQ(3, bottom);
    EXPECT_EQ(4, right);
}

TEST_F(PluginWindowX11Test, TheWindowKeepsItsIdsAndStartsEmpty)
{
    EXPECT_EQ(0u, window->getWindowId());
    EXPECT_EQ(0u, window->getBrowserWindow());
    window->setBrowserWindow(0x1234);
    EXPECT_EQ(0x1234u, window->getBrowserWindow());
    EXPECT_EQ(0u, window->getWindowWidth());
    const FB::Rect clip = window->getWindowClipping();
    EXPECT_EQ(0, clip.top + clip.left + clip.bottom + clip.right);
    EXPECT_NE(0ul, window->getCanvasXID());
    EXPECT_TRUE(gtk_widget_get_can_focus(canvas));
    EXPECT_EQ(0x227F0E, gtk_widget_get_events(canvas));
}

TEST_F(PluginWindowX11Test, AnInvalidatedWindowIsRedrawnThroughTheServer)
{
    ASSERT_TRUE(testsupport::pumpGtkUntil([&] { return gtk_widget_get_mapped(canvas) != FALSE; }, 5000));
    testsupport::pumpGtkPending();
    sink->log.events.clear();

    window->InvalidateWindow();
    const bool refreshed = testsupport::pumpGtkUntil(
        [&] {
            for (const std::string& e : sink->log.events) {
                if (e.compare(0, 7, "Refresh") == 0)
                    return true;
            }
            return false;
        },
        5000);
    EXPECT_TRUE(refreshed);
}

TEST(PluginWindowX11Lifetime, ChangingTheWindowDestroysThePreviousPlugAndCanvas)
{
    REQUIRE_TEST_DISPLAY();
    const auto core = boost::make_shared<RecordingCore>();

    std::unique_ptr<FB::PluginWindowX11> first(FB::PluginWindowX11::create(FB::WindowContextX11(0)));
    gpointer canvas = nullptr;
    gdk_window_get_user_data(first->getGdkWindow(), &canvas);
    gpointer plug = gtk_widget_get_toplevel(GTK_WIDGET(canvas));
    ASSERT_TRUE(GTK_IS_PLUG(plug));
    g_object_add_weak_pointer(G_OBJECT(canvas), &canvas);
    g_object_add_weak_pointer(G_OBJECT(plug), &plug);

    core->SetWindow(first.get());
    core->ClearWindow();
    first.reset();
    std::unique_ptr<FB::PluginWindowX11> second(FB::PluginWindowX11::create(FB::WindowContextX11(0)));
    core->SetWindow(second.get());
    testsupport::pumpGtkPending();

    EXPECT_EQ(nullptr, canvas) << "the first canvas was finalized";
    EXPECT_EQ(nullptr, plug) << "the first plug was finalized";
    EXPECT_EQ((Events{"Attached", "Detached", "Attached"}),
              testsupport::eventsOfKinds(core->log.events, {"Attached", "Detached"}));
    core->ClearWindow();
}

TEST(PluginWindowX11Lifetime, GtkInitialisationIsIdempotent)
{
    REQUIRE_TEST_DISPLAY();
    EXPECT_TRUE(FB::ensureGtkInitialized());
    EXPECT_TRUE(FB::ensureGtkInitialized());
    EXPECT_NE(nullptr, gdk_display_get_default());
}

} // namespace
