// FB::WindowContextX11: what the factory needs to make the X11 plugin
// window - the X window id the browser gave the instance (32 bits).
// A plain value; any thread.
#ifndef FB_WINDOWCONTEXTX11_H
#define FB_WINDOWCONTEXTX11_H

#include <cstdint>

namespace FB {

struct WindowContextX11 {
    explicit WindowContextX11(uint32_t window) : window(window) {}

    uint32_t window;
};

} // namespace FB

#endif
