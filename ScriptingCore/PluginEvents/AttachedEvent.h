// FB::AttachedEvent: sent by a source to a sink that was just attached to it,
// before FB::PluginEventSource::AttachObserver returns.
#ifndef FB_PLUGINEVENTS_ATTACHEDEVENT_H
#define FB_PLUGINEVENTS_ATTACHEDEVENT_H

#include "PluginEvent.h"

namespace FB {

class AttachedEvent : public PluginEvent {
public:
    ~AttachedEvent() override {}
};

} // namespace FB

#endif
