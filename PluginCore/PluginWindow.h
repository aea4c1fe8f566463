// FB::PluginWindow: the platform-neutral plugin window, the instance's
// on-screen area and the source of its window and input events.
//
// The plugin core attaches itself as an observer (FB::PluginEventSource) and
// receives FB::AttachedEvent and FB::DetachedEvent at once, on the same
// thread. Platform forms (FB::PluginWindowX11) keep the geometry the browser
// reports. Main thread only, like the browser's window calls.
#ifndef FB_PLUGINWINDOW_H
#define FB_PLUGINWINDOW_H

#include <cstdint>

#include "PluginEventSource.h"
#include "Rect.h"

namespace FB {

class PluginWindow : public PluginEventSource {
public:
    ~PluginWindow() override;

    // Asks for the whole window to be redrawn.
    virtual void InvalidateWindow() const = 0;
    virtual Rect getWindowPosition() const = 0;
    virtual uint32_t getWindowWidth() const = 0;
    virtual uint32_t getWindowHeight() const = 0;
    virtual Rect getWindowClipping() const = 0;
};

} // namespace FB

#endif
