// testsupport::TestWindow: a plugin window without a screen, an event source
// only, for tests of plugin cores. Main thread, like any window.
#ifndef TESTS_PLUGINCORE_TESTWINDOW_H
#define TESTS_PLUGINCORE_TESTWINDOW_H

#include "PluginWindow.h"

namespace testsupport {

class TestWindow : public FB::PluginWindow {
public:
    void InvalidateWindow() const override {}
    FB::Rect getWindowPosition() const override { return FB::Rect{0, 0, 0, 0}; }
    uint32_t getWindowWidth() const override { return 0; }
    uint32_t getWindowHeight() const override { return 0; }
    FB::Rect getWindowClipping() const override { return FB::Rect{0, 0, 0, 0}; }
};

} // namespace testsupport

#endif
