// FB::DetachedEvent: sent by a source to a sink once for each of its entries
// that FB::PluginEventSource::DetachObserver removed.
#ifndef FB_PLUGINEVENTS_DETACHEDEVENT_H
#define FB_PLUGINEVENTS_DETACHEDEVENT_H

#include "PluginEvent.h"

namespace FB {

class DetachedEvent : public PluginEvent {
public:
    ~DetachedEvent() override {}
};

} // namespace FB

#endif
