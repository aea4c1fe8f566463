#include "FakePageWindow.h"

#include <boost/bind/bind.hpp>
#include <boost/bind/placeholders.hpp>
#include <boost/make_shared.hpp>
#include <boost/pointer_cast.hpp>

#include "FakeBrowserHost.h"

namespace testbed {

namespace {

const char kAssignPrefix[] = "window.";
const char kHelperHead[] = " = function(delay, f, args, fname) {";

// The window is held weakly by the functions it defines, which it holds.
FB::variant callHelper(const boost::weak_ptr<FakePageWindow>& window, const std::string& helper,
                       const FB::VariantList& args)
{
    const FakePageWindowPtr w(window.lock());
    if (!w)
        return FB::variant();
    return w->helperCalled(helper, args);
}

} // namespace

FakePageWindow::FakePageWindow(const FB::BrowserHostPtr& host)
    : FakePageObject(host), m_lastTimerId(0)
{
}

FakePageWindow::~FakePageWindow() {}

void FakePageWindow::evaluate(const std::string& script)
{
    {
        boost::recursive_mutex::scoped_lock lock(m_pageMutex);
        m_scripts.push_back(script);
    }
    if (script.compare(0, sizeof(kAssignPrefix) - 1, kAssignPrefix) != 0)
        return;
    const std::string::size_type head = script.find(kHelperHead);
    if (head == std::string::npos)
        return;
    const std::string name =
        script.substr(sizeof(kAssignPrefix) - 1, head - (sizeof(kAssignPrefix) - 1));

    const boost::shared_ptr<FakeBrowserHost> host(
        boost::dynamic_pointer_cast<FakeBrowserHost>(getHost()));
    if (!host)
        return;
    const boost::weak_ptr<FakePageWindow> self(
        boost::static_pointer_cast<FakePageWindow>(shared_from_this()));
    const FakePageObjectPtr helper(host->newFunction(
        boost::bind(&callHelper, self, name, boost::placeholders::_1)));
    set(name, FB::variant(FB::JSObjectPtr(helper)));
}

std::vector<std::string> FakePageWindow::scripts() const
{
    boost::recursive_mutex::scoped_lock lock(m_pageMutex);
    return m_scripts;
}

std::vector<FakePageWindow::HelperCall> FakePageWindow::helperCalls() const
{
    boost::recursive_mutex::scoped_lock lock(m_pageMutex);
    return m_helperCalls;
}

FB::variant FakePageWindow::helperCalled(const std::string& helper, const FB::VariantList& args)
{
    HelperCall call;
    call.helper = helper;
    call.argCount = args.size();
    call.delay = args.size() > 0 ? args[0].convertToInt() : 0;
    call.func = args.size() > 1 ? args[1].convertToJSObject() : FB::JSObjectPtr();
    call.args = args.size() > 2 ? args[2].convertToList() : FB::VariantList();
    call.fname = args.size() > 3 ? args[3].convertToString() : std::string();
    boost::recursive_mutex::scoped_lock lock(m_pageMutex);
    call.timerId = ++m_lastTimerId;
    m_helperCalls.push_back(call);
    m_timers.push_back(call);
    return FB::variant(call.timerId);
}

size_t FakePageWindow::runTimers()
{
    size_t fired = 0;
    for (;;) {
        HelperCall timer;
        {
            boost::recursive_mutex::scoped_lock lock(m_pageMutex);
            if (m_timers.empty())
                break;
            timer = m_timers.front();
            m_timers.pop_front();
        }
        ++fired;
        if (!timer.func)
            continue;
        if (timer.argCount == 3)
            timer.func->invoke("", timer.args);
        else
            timer.func->invoke(timer.fname, timer.args);
    }
    return fired;
}

} // namespace testbed
