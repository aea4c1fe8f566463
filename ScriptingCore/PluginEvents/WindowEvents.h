// Changes of the plugin window's geometry: its position or size
// (FB::ResizedEvent) and its clipping (FB::ClipChangedEvent). The new values
// are read from the window itself.
#ifndef FB_PLUGINEVENTS_WINDOWEVENTS_H
#define FB_PLUGINEVENTS_WINDOWEVENTS_H

#include "PluginEvent.h"

namespace FB {

class ResizedEvent : public PluginEvent {
public:
    ~ResizedEvent() override {}
};

class ClipChangedEvent : public PluginEvent {
public:
    ~ClipChangedEvent() override {}
};

} // namespace FB

#endif
