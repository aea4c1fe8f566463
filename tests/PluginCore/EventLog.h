// Test helpers for code that sends plugin events: a one-line text for each
// event (describeEvent), a sink that logs what it receives and answers as it
// is told (EventRecorder), and a plugin core that does the same and counts
// its root object and ready calls (RecordingCore).
// Used on the test's main thread only.
#ifndef TESTS_PLUGINCORE_EVENTLOG_H
#define TESTS_PLUGINCORE_EVENTLOG_H

#include <cmath>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "JSAPIAuto.h"
#include "PluginCore.h"
#include "PluginEventSink.h"
#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/DetachedEvent.h"
#include "PluginEvents/FocusChangedEvent.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "PluginEvents/RefreshEvent.h"
#include "PluginEvents/WindowEvents.h"
#include "PluginEvents/X11Event.h"

namespace testsupport {

// Signed zero stays visible: "-0".
inline std::string deltaText(double d)
{
    std::ostringstream out;
    if (d == 0.0)
        out << (std::signbit(d) ? "-0" : "0");
    else
        out << d;
    return out.str();
}

inline std::string describeEvent(FB::PluginEvent* evt)
{
    std::ostringstream out;
    if (dynamic_cast<FB::AttachedEvent*>(evt)) {
        out << "Attached";
    } else if (dynamic_cast<FB::DetachedEvent*>(evt)) {
        out << "Detached";
    } else if (dynamic_cast<FB::X11Event*>(evt)) {
        out << "X11";
    } else if (FB::RefreshEvent* e = dynamic_cast<FB::RefreshEvent*>(evt)) {
        out << "Refresh " << e->bounds.top << ' ' << e->bounds.left << ' ' << e->bounds.bottom
            << ' ' << e->bounds.right;
    } else if (FB::MouseButtonEvent* e = dynamic_cast<FB::MouseButtonEvent*>(evt)) {
        const char* name = dynamic_cast<FB::MouseDownEvent*>(evt)     ? "MouseDown"
                           : dynamic_cast<FB::MouseUpEvent*>(evt)     ? "MouseUp"
                           : dynamic_cast<FB::MouseDoubleClickEvent*>(evt) ? "DoubleClick"
                                                                       : "MouseButton?";
        out << name << ' ' << e->x << ' ' << e->y << ' ' << e->modifiers << ' ' << e->button;
    } else if (FB::MouseScrollEvent* e = dynamic_cast<FB::MouseScrollEvent*>(evt)) {
        out << "Scroll " << e->x << ' ' << e->y << ' ' << e->modifiers << ' ' << deltaText(e->dx)
            << ' ' << deltaText(e->dy);
    } else if (FB::MouseMoveEvent* e = dynamic_cast<FB::MouseMoveEvent*>(evt)) {
        out << "MouseMove " << e->x << ' ' << e->y << ' ' << e->modifiers;
    } else if (FB::KeyEvent* e = dynamic_cast<FB::KeyEvent*>(evt)) {
        out << (dynamic_cast<FB::KeyDownEvent*>(evt) ? "KeyDown " : "KeyUp ") << e->keyCode << ' '
            << e->nativeKey << ' ' << e->modifiers;
    } else if (FB::FocusChangedEvent* e = dynamic_cast<FB::FocusChangedEvent*>(evt)) {
        out << "Focus " << e->focused;
    } else if (dynamic_cast<FB::ResizedEvent*>(evt)) {
        out << "Resized";
    } else if (dynamic_cast<FB::ClipChangedEvent*>(evt)) {
        out << "ClipChanged";
    } else {
        out << "Unknown";
    }
    return out.str();
}

// The events of the kinds named (the first word of their text), in order.
inline std::vector<std::string> eventsOfKinds(const std::vector<std::string>& events,
                                              const std::vector<std::string>& kinds)
{
    std::vector<std::string> out;
    for (const std::string& e : events) {
        const std::string kind = e.substr(0, e.find(' '));
        for (const std::string& k : kinds) {
            if (kind == k)
                out.push_back(e);
        }
    }
    return out;
}

// What a test sink or core does with an event: log it, then answer (or
// throw) as the test decides.
struct EventLog {
    // Answers whether the event counts as handled; may throw.
    std::function<bool(FB::PluginEvent*)> answer;
    // Runs inside the delivery, after logging.
    std::function<void(FB::PluginEvent*)> during;
    std::vector<std::string> events;

    bool take(FB::PluginEvent* evt)
    {
        events.push_back(describeEvent(evt));
        if (during)
            during(evt);
        return answer ? answer(evt) : false;
    }
};

class EventRecorder : public FB::PluginEventSink {
public:
    bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource*) override { return log.take(evt); }

    EventLog log;
};

class RecordingCore : public FB::PluginCore {
public:
    bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource*) override { return log.take(evt); }

    FB::JSAPIPtr createJSAPI() override
    {
        ++createCount;
        if (failCreate)
            throw std::runtime_error("no root object");
        return boost::make_shared<FB::JSAPIAuto>("root");
    }

    void onPluginReady(bool onloadScheduled) override { readyCalls.push_back(onloadScheduled); }

    using FB::PluginCore::m_filesystemPath;
    using FB::PluginCore::m_params;

    EventLog log;
    int createCount = 0;
    bool failCreate = false;
    std::vector<bool> readyCalls;
};

} // namespace testsupport

#endif
