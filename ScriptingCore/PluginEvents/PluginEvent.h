// FB::PluginEvent: the base of every window, input and stream event.
//
// Events are plain objects that the sender builds on its own stack and passes
// by pointer for one delivery (FB::PluginEventSource::SendEvent); sinks tell
// them apart with dynamic_cast. Fields are public and set by the constructor.
// Not shared between threads: an event lives on the sending thread.
#ifndef FB_PLUGINEVENTS_PLUGINEVENT_H
#define FB_PLUGINEVENTS_PLUGINEVENT_H

namespace FB {

class PluginEvent {
public:
    virtual ~PluginEvent() {}
};

} // namespace FB

#endif
