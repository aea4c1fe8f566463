// FB::RefreshEvent: an area of the plugin window needs redrawing.
#ifndef FB_PLUGINEVENTS_REFRESHEVENT_H
#define FB_PLUGINEVENTS_REFRESHEVENT_H

#include "../Rect.h"
#include "PluginEvent.h"

namespace FB {

class RefreshEvent : public PluginEvent {
public:
    explicit RefreshEvent(const Rect& bounds) : bounds(bounds) {}
    ~RefreshEvent() override {}

    Rect bounds;
};

} // namespace FB

#endif
