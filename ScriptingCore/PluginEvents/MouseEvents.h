// The mouse events of the plugin window: position in window coordinates, the
// modifier keys held (a bit set of ModifierState) and, for the button events,
// which button (MouseButton).
#ifndef FB_PLUGINEVENTS_MOUSEEVENTS_H
#define FB_PLUGINEVENTS_MOUSEEVENTS_H

#include "PluginEvent.h"

namespace FB {

class MouseEvent : public PluginEvent {
public:
    enum ModifierState {
        ModifierState_None = 0,
        ModifierState_Shift = 1,
        ModifierState_Control = 2,
        ModifierState_Alt = 4
    };

    MouseEvent(int x, int y, int modifiers) : x(x), y(y), modifiers(modifiers) {}
    ~MouseEvent() override {}

    int x;
    int y;
    int modifiers;
};

class MouseButtonEvent : public MouseEvent {
public:
    enum MouseButton {
        MouseButton_Left = 0,
        MouseButton_Right = 1,
        MouseButton_Middle = 2
    };

    MouseButtonEvent(int x, int y, int modifiers, int button)
        : MouseEvent(x, y, modifiers), button(button) {}
    ~MouseButtonEvent() override {}

    int button;
};

class MouseDownEvent : public MouseButtonEvent {
public:
    MouseDownEvent(int x, int y, int modifiers, int button)
        : MouseButtonEvent(x, y, modifiers, button) {}
    ~MouseDownEvent() override {}
};

class MouseUpEvent : public MouseButtonEvent {
public:
    MouseUpEvent(int x, int y, int modifiers, int button)
        : MouseButtonEvent(x, y, modifiers, button) {}
    ~MouseUpEvent() override {}
};

class MouseDoubleClickEvent : public MouseButtonEvent {
public:
    MouseDoubleClickEvent(int x, int y, int modifiers, int button)
        : MouseButtonEvent(x, y, modifiers, button) {}
    ~MouseDoubleClickEvent() override {}
};

class MouseMoveEvent : public MouseEvent {
public:
    MouseMoveEvent(int x, int y, int modifiers) : MouseEvent(x, y, modifiers) {}
    ~MouseMoveEvent() override {}
};

class MouseScrollEvent : public MouseEvent {
public:
    MouseScrollEvent(int x, int y, int modifiers, double dx, double dy)
        : MouseEvent(x, y, modifiers), dx(dx), dy(dy) {}
    ~MouseScrollEvent() override {}

    double dx;
    double dy;
};

} // namespace FB

#endif
