#include "PluginWindowX11.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "GtkInit.h"
#include "KeyCodesX11.h"
#include "PluginEvents/FocusChangedEvent.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "PluginEvents/RefreshEvent.h"
#include "PluginEvents/WindowEvents.h"
#include "PluginEvents/X11Event.h"
#include "logging.h"

namespace FB {

namespace {

// The events the canvas asks GDK for (0x227F0E).
const gint kCanvasEventMask = GDK_EXPOSURE_MASK | GDK_POINTER_MOTION_MASK |
                              GDK_POINTER_MOTION_HINT_MASK | GDK_BUTTON_PRESS_MASK |
                              GDK_BUTTON_RELEASE_MASK | GDK_KEY_PRESS_MASK |
                              GDK_KEY_RELEASE_MASK | GDK_ENTER_NOTIFY_MASK |
                              GDK_LEAVE_NOTIFY_MASK | GDK_FOCUS_CHANGE_MASK |
                              GDK_VISIBILITY_NOTIFY_MASK | GDK_SCROLL_MASK;

GdkColor kBackground = {0, 0, 0, 0};

struct ModifierBit {
    guint gdkMask;
    int modifier;
};
const ModifierBit kModifierBits[] = {
    {GDK_SHIFT_MASK, MouseEvent::ModifierState_Shift},
    {GDK_CONTROL_MASK, MouseEvent::ModifierState_Control},
    {GDK_MOD1_MASK, MouseEvent::ModifierState_Alt},
};

struct ButtonMapping {
    guint gdkButton;
    int button;
};
const ButtonMapping kButtons[] = {
    {1, MouseButtonEvent::MouseButton_Left},
    {3, MouseButtonEvent::MouseButton_Right},
    {2, MouseButtonEvent::MouseButton_Middle},
};

struct ScrollDelta {
    int direction;
    double dx;
    double dy;
};
const ScrollDelta kScrollDeltas[] = {
    {GDK_SCROLL_UP, -0.0, 3.0},
    {GDK_SCROLL_DOWN, -0.0, -3.0},
    {GDK_SCROLL_LEFT, 3.0, -0.0},
    {GDK_SCROLL_RIGHT, -3.0, -0.0},
};
const double kUnknownScrollDelta = -0.0;

int modifiersOf(guint state)
{
    int modifiers = 0;
    for (const ModifierBit& bit : kModifierBits) {
        if (state & bit.gdkMask)
            modifiers |= bit.modifier;
    }
    return modifiers;
}

// False for the GDK buttons that have no framework button.
bool buttonOf(guint gdkButton, int& button)
{
    for (const ButtonMapping& mapping : kButtons) {
        if (mapping.gdkButton == gdkButton) {
            button = mapping.button;
            return true;
        }
    }
    return false;
}

// Truncates toward zero; values outside int (which no X server sends) are
// clamped instead of overflowing.
int coordinate(gdouble value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<gdouble>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= static_cast<gdouble>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

} // namespace

PluginWindowX11* PluginWindowX11::create(const WindowContextX11& ctx)
{
    return new PluginWindowX11(ctx);
}

PluginWindowX11::PluginWindowX11(const WindowContextX11& ctx)
    : m_window(ctx.window), m_browserWindow(0), m_container(nullptr), m_canvas(nullptr),
      m_focus(false), m_x(0), m_y(0), m_width(0), m_height(0), m_clipLeft(0), m_clipRight(0),
      m_clipTop(0), m_clipBottom(0), m_handlerId(0)
{
    if (!ensureGtkInitialized())
        throw std::runtime_error("GTK could not be initialised");

    m_container = gtk_plug_new(static_cast<GdkNativeWindow>(m_window));
    m_canvas = gtk_drawing_area_new();
    // Our own references keep both objects valid even when GTK destroys the
    // plug first (it does when the socket goes away); the destructor drops
    // them.
    g_object_ref(m_container);
    g_object_ref_sink(m_canvas);

    gtk_widget_set_can_focus(m_canvas, TRUE);
    gtk_widget_add_events(m_canvas, kCanvasEventMask);
    m_handlerId = g_signal_connect(G_OBJECT(m_canvas), "event",
                                   G_CALLBACK(&PluginWindowX11::_EventCallback), this);

    gtk_widget_show(m_canvas);
    gtk_container_add(GTK_CONTAINER(m_container), m_canvas);
    gtk_widget_show(m_container);

    if (GdkWindow* const window = gtk_widget_get_window(m_canvas)) {
        gdk_window_set_background(window, &kBackground);
        gdk_window_clear(window);
    }
}

PluginWindowX11::~PluginWindowX11()
{
    if (g_signal_handler_is_connected(G_OBJECT(m_canvas), m_handlerId))
        g_signal_handler_disconnect(G_OBJECT(m_canvas), m_handlerId);
    // Destroying the plug destroys the canvas inside it; destroying an
    // already destroyed widget again is harmless.
    gtk_widget_destroy(m_container);
    g_object_unref(m_canvas);
    g_object_unref(m_container);
}

void PluginWindowX11::InvalidateWindow() const
{
    if (GdkWindow* const window = getGdkWindow())
        gdk_window_invalidate_rect(window, nullptr, TRUE);
}

Rect PluginWindowX11::getWindowPosition() const
{
    const Rect position = {m_y, m_x, static_cast<int>(m_y + m_height),
                           static_cast<int>(m_x + m_width)};
    return position;
}

uint32_t PluginWindowX11::getWindowWidth() const
{
    return m_width;
}

uint32_t PluginWindowX11::getWindowHeight() const
{
    return m_height;
}

Rect PluginWindowX11::getWindowClipping() const
{
    const Rect clipping = {m_clipTop, m_clipLeft, m_clipBottom, m_clipRight};
    return clipping;
}

void PluginWindowX11::getWindowPosition(int& x, int& y, int& width, int& height) const
{
    x = m_x;
    y = m_y;
    width = static_cast<int>(m_width);
    height = static_cast<int>(m_height);
}

void PluginWindowX11::getWindowClipping(int& top, int& left, int& bottom, int& right) const
{
    top = m_clipTop;
    left = m_clipLeft;
    bottom = m_clipBottom;
    right = m_clipRight;
}

void PluginWindowX11::setWindowPosition(int32_t x, int32_t y, uint32_t width, uint32_t height)
{
    if (x == m_x && y == m_y && width == m_width && height == m_height)
        return;
    m_x = x;
    m_y = y;
    m_width = width;
    m_height = height;
    ResizedEvent evt;
    SendEvent(&evt);
}

void PluginWindowX11::setWindowClipping(int32_t top, int32_t left, int32_t bottom, int32_t right)
{
    if (top == m_clipTop && left == m_clipLeft && bottom == m_clipBottom && right == m_clipRight)
        return;
    m_clipTop = top;
    m_clipLeft = left;
    m_clipBottom = bottom;
    m_clipRight = right;
    ClipChangedEvent evt;
    SendEvent(&evt);
}

GdkWindow* PluginWindowX11::getGdkWindow() const
{
    return gtk_widget_get_window(m_canvas);
}

unsigned long PluginWindowX11::getCanvasXID() const
{
    GdkWindow* const window = getGdkWindow();
    return window ? gdk_x11_drawable_get_xid(window) : 0;
}

gboolean PluginWindowX11::_EventCallback(GtkWidget* widget, GdkEvent* event, void* user_data)
{
    if (!user_data)
        return FALSE;
    PluginWindowX11* const window = static_cast<PluginWindowX11*>(user_data);
    // An observer may end the instance from here (a page call that destroys
    // it): its owner then lets the window go, and this keeps it until the
    // callback is done with it. A window no shared pointer owns is kept by
    // its owner.
    const boost::shared_ptr<PluginEventSource> keep(window->weak_from_this().lock());
    // GTK calls this straight from the browser's event loop: whatever an
    // observer throws ends here, and GTK goes on with its own handling.
    try {
        return window->EventCallback(widget, event);
    } catch (const std::exception& e) {
        FBLOG_ERROR("PluginWindowX11", "An event handler failed: " << e.what());
    } catch (...) {
        FBLOG_ERROR("PluginWindowX11", "An event handler failed");
    }
    return FALSE;
}

gboolean PluginWindowX11::EventCallback(GtkWidget* widget, GdkEvent* event)
{
    X11Event raw(widget, event);
    if (SendEvent(&raw))
        return TRUE;

    int button = 0;
    switch (event->type) {
    case GDK_EXPOSE: {
        const GdkRectangle& area = event->expose.area;
        RefreshEvent evt(Rect{area.y, area.x, area.y + area.height, area.x + area.width});
        return SendEvent(&evt) ? TRUE : FALSE;
    }
    case GDK_MOTION_NOTIFY: {
        MouseMoveEvent evt(coordinate(event->motion.x), coordinate(event->motion.y), 0);
        return SendEvent(&evt) ? TRUE : FALSE;
    }
    case GDK_BUTTON_PRESS: {
        const GdkEventButton& b = event->button;
        if (!buttonOf(b.button, button))
            return FALSE;
        if (!m_focus)
            gtk_widget_grab_focus(widget);
        MouseDownEvent evt(coordinate(b.x), coordinate(b.y), modifiersOf(b.state), button);
        return SendEvent(&evt) ? TRUE : FALSE;
    }
    case GDK_2BUTTON_PRESS: {
        const GdkEventButton& b = event->button;
        if (!buttonOf(b.button, button))
            return FALSE;
        MouseDoubleClickEvent evt(coordinate(b.x), coordinate(b.y), modifiersOf(b.state), button);
        return SendEvent(&evt) ? TRUE : FALSE;
    }
    case GDK_BUTTON_RELEASE: {
        const GdkEventButton& b = event->button;
        if (!buttonOf(b.button, button))
            return FALSE;
        MouseUpEvent evt(coordinate(b.x), coordinate(b.y), modifiersOf(b.state), button);
        return SendEvent(&evt) ? TRUE : FALSE;
    }
    case GDK_KEY_PRESS: {
        const guint keyval = event->key.keyval;
        KeyDownEvent evt(gdkKeyvalToKeyCode(keyval), static_cast<int>(keyval), 0);
        SendEvent(&evt);
        return FALSE;
    }
    case GDK_KEY_RELEASE: {
        const guint keyval = event->key.keyval;
        KeyUpEvent evt(gdkKeyvalToKeyCode(keyval), static_cast<int>(keyval), 0);
        SendEvent(&evt);
        return FALSE;
    }
    case GDK_FOCUS_CHANGE: {
        m_focus = event->focus_change.in != 0;
        FocusChangedEvent evt(m_focus);
        return SendEvent(&evt) ? TRUE : FALSE;
    }
    case GDK_SCROLL: {
        const GdkEventScroll& s = event->scroll;
        // Read as the number the event carries: a value outside the
        // enumeration must not be loaded as one.
        int direction = 0;
        static_assert(sizeof direction == sizeof s.direction, "GdkScrollDirection is an int");
        std::memcpy(&direction, &s.direction, sizeof direction);
        double dx = kUnknownScrollDelta;
        double dy = kUnknownScrollDelta;
        for (const ScrollDelta& delta : kScrollDeltas) {
            if (delta.direction == direction) {
                dx = delta.dx;
                dy = delta.dy;
                break;
            }
        }
        MouseScrollEvent evt(coordinate(s.x), coordinate(s.y), modifiersOf(s.state), dx, dy);
        return SendEvent(&evt) ? TRUE : FALSE;
    }
    default:
        return FALSE;
    }
}

} // namespace FB
