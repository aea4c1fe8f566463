// FB::PluginWindowX11: the XEmbed plugin window - a GtkPlug on the X window
// the browser gave the instance, holding one focusable drawing area (the
// canvas) whose GDK events go to the observers, first raw (FB::X11Event)
// and then translated into the framework's window and input events.
//
// It keeps the position, size and clipping the browser reports and announces
// their changes (FB::ResizedEvent, FB::ClipChangedEvent); it draws nothing.
// Made by the factory (create), owned by the NPAPI adapter (through a
// shared pointer); the core is attached right after creation and detached
// before deletion. An event callback keeps a shared window alive until it
// returns, so an observer may end the instance from an event.
// Deleting the window destroys its plug and canvas, so giving the instance
// another window leaks no widgets. GTK is initialised on creation when
// nobody did (std::runtime_error when there is no display).
// Main thread only (GTK's thread); the window takes no lock of its own.
#ifndef FB_PLUGINWINDOWX11_H
#define FB_PLUGINWINDOWX11_H

#include <cstdint>

#include "PluginWindow.h"
#include "WindowContextX11.h"

// The toolkit's own types, declared the way its headers declare them, so
// that includers need not include GTK.
typedef struct _GtkWidget GtkWidget;
typedef union _GdkEvent GdkEvent;
typedef struct _GdkDrawable GdkWindow;
typedef int gboolean;

namespace FB {

class PluginWindowX11 : public PluginWindow {
public:
    // A new window for the context; the caller owns it.
    static PluginWindowX11* create(const WindowContextX11& ctx);

    explicit PluginWindowX11(const WindowContextX11& ctx);
    // Disconnects the event handler, then destroys the plug and the canvas.
    ~PluginWindowX11() override;

    // FB::PluginWindow
    void InvalidateWindow() const override;
    Rect getWindowPosition() const override;
    uint32_t getWindowWidth() const override;
    uint32_t getWindowHeight() const override;
    Rect getWindowClipping() const override;

    // Store the values and send FB::ResizedEvent / FB::ClipChangedEvent,
    // unless all four are unchanged.
    void setWindowPosition(int32_t x, int32_t y, uint32_t width, uint32_t height);
    void setWindowClipping(int32_t top, int32_t left, int32_t bottom, int32_t right);
    void getWindowPosition(int& x, int& y, int& width, int& height) const;
    void getWindowClipping(int& top, int& left, int& bottom, int& right) const;

    // The browser's X window for this instance.
    uint32_t getWindowId() const { return m_window; }
    // The browser's own window (NPNVnetscapeWindow); 0 until recorded.
    void setBrowserWindow(uint32_t window) { m_browserWindow = window; }
    uint32_t getBrowserWindow() const { return m_browserWindow; }

    // The canvas's GDK window and its X id.
    GdkWindow* getGdkWindow() const;
    unsigned long getCanvasXID() const;

    // The handler of the canvas's "event" signal (user data: the window).
    // Answers FALSE for null user data and, since nothing may cross into
    // the browser, for any exception of an observer.
    static gboolean _EventCallback(GtkWidget* widget, GdkEvent* event, void* user_data);
    // Offers the event raw, then translated; answers whether GTK should stop
    // its own handling. Observers' exceptions pass through.
    gboolean EventCallback(GtkWidget* widget, GdkEvent* event);

private:
    const uint32_t m_window;
    uint32_t m_browserWindow;
    GtkWidget* m_container;
    GtkWidget* m_canvas;
    bool m_focus;
    int32_t m_x;
    int32_t m_y;
    uint32_t m_width;
    uint32_t m_height;
    int32_t m_clipLeft;
    int32_t m_clipRight;
    int32_t m_clipTop;
    int32_t m_clipBottom;
    unsigned long m_handlerId;
};

} // namespace FB

#endif
