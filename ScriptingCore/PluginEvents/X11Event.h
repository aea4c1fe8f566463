// FB::X11Event: every GDK event of the X11 plugin window, sent before the
// window translates it into the framework's own events. The pointers are the
// toolkit's and valid during the delivery only.
#ifndef FB_PLUGINEVENTS_X11EVENT_H
#define FB_PLUGINEVENTS_X11EVENT_H

#include "PluginEvent.h"

// The toolkit's own types, declared the way its headers declare them, so that
// code which does not use GTK need not include it.
typedef struct _GtkWidget GtkWidget;
typedef union _GdkEvent GdkEvent;

namespace FB {

class X11Event : public PluginEvent {
public:
    X11Event(GtkWidget* widget, GdkEvent* event) : widget(widget), event(event) {}
    ~X11Event() override {}

    GtkWidget* widget;
    GdkEvent* event;
};

} // namespace FB

#endif
