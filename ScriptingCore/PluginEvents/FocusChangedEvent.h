// FB::FocusChangedEvent: the plugin window gained (true) or lost the focus.
#ifndef FB_PLUGINEVENTS_FOCUSCHANGEDEVENT_H
#define FB_PLUGINEVENTS_FOCUSCHANGEDEVENT_H

#include "PluginEvent.h"

namespace FB {

class FocusChangedEvent : public PluginEvent {
public:
    explicit FocusChangedEvent(bool focused) : focused(focused) {}
    ~FocusChangedEvent() override {}

    bool focused;
};

} // namespace FB

#endif
