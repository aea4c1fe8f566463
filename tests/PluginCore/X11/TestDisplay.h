// testsupport::haveTestDisplay: an X display for the window tests.
//
// When DISPLAY is set the tests use it; otherwise the first call starts an
// Xvfb of the process's own on a free display number (Xvfb -displayfd),
// points DISPLAY at it and stops it when the tests end. GTK is initialised
// on that display. Answers false, with the reason, when no display can be
// had; the tests then skip with that message.
// Main thread only, like GTK.
#ifndef TESTS_PLUGINCORE_X11_TESTDISPLAY_H
#define TESTS_PLUGINCORE_X11_TESTDISPLAY_H

#include <string>

#include <boost/function.hpp>

namespace testsupport {

bool haveTestDisplay(std::string& whyNot);

// Runs GTK's main loop until done() answers true or timeoutMs passes;
// answers done()'s last answer.
bool pumpGtkUntil(const boost::function<bool()>& done, int timeoutMs);
// Runs every GTK event and idle that is pending now.
void pumpGtkPending();

} // namespace testsupport

// Skips the current test when there is no display.
#define REQUIRE_TEST_DISPLAY()                                        \
    do {                                                              \
        std::string whyNoDisplay_;                                    \
        if (!::testsupport::haveTestDisplay(whyNoDisplay_))           \
            GTEST_SKIP() << "No X display: " << whyNoDisplay_;        \
    } while (false)

#endif
