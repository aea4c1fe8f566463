// testbed::FakePageWindow: the page's window object, which also runs the
// scripts the host evaluates the way a page would for the host's helper.
//
// evaluate() logs every script; a script that assigns
// "window.<name> = function(delay, f, args, fname) {..." defines <name> on
// the window as a function that, like the helper, records each call and sets
// a timer: with three arguments the timer calls f itself with args, with four
// it calls f's member fname. runTimers() fires the timers set so far, in
// order, on the calling thread. Everything else is as for FakePageObject.
#ifndef TESTBED_FAKEPAGEWINDOW_H
#define TESTBED_FAKEPAGEWINDOW_H

#include <deque>
#include <string>
#include <vector>

#include "FakePageObject.h"

namespace testbed {

class FakePageWindow;
typedef boost::shared_ptr<FakePageWindow> FakePageWindowPtr;

class FakePageWindow : public FakePageObject {
public:
    struct HelperCall {
        std::string helper;  // the window member that was called
        size_t argCount;
        int delay;
        FB::JSObjectPtr func;
        FB::VariantList args;
        std::string fname;  // empty for three arguments
        int timerId;
    };

    explicit FakePageWindow(const FB::BrowserHostPtr& host);
    ~FakePageWindow() override;

    void evaluate(const std::string& script);
    std::vector<std::string> scripts() const;

    std::vector<HelperCall> helperCalls() const;
    // Fires every pending timer; answers how many fired.
    size_t runTimers();

    // The body of a function defined by evaluate(): records the call, sets
    // the timer and answers its id.
    FB::variant helperCalled(const std::string& helper, const FB::VariantList& args);

private:
    mutable boost::recursive_mutex m_pageMutex;
    std::vector<std::string> m_scripts;
    std::vector<HelperCall> m_helperCalls;
    std::deque<HelperCall> m_timers;
    int m_lastTimerId;
};

} // namespace testbed

#endif
