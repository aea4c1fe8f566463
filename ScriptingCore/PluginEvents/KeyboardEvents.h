// The key events of the plugin window: the framework's key code, the
// platform's own key value and the modifier keys held (the bit set of
// FB::MouseEvent::ModifierState).
#ifndef FB_PLUGINEVENTS_KEYBOARDEVENTS_H
#define FB_PLUGINEVENTS_KEYBOARDEVENTS_H

#include "PluginEvent.h"

namespace FB {

class KeyEvent : public PluginEvent {
public:
    KeyEvent(int keyCode, int nativeKey, int modifiers)
        : keyCode(keyCode), nativeKey(nativeKey), modifiers(modifiers) {}
    ~KeyEvent() override {}

    int keyCode;
    int nativeKey;
    int modifiers;
};

class KeyDownEvent : public KeyEvent {
public:
    KeyDownEvent(int keyCode, int nativeKey, int modifiers)
        : KeyEvent(keyCode, nativeKey, modifiers) {}
    ~KeyDownEvent() override {}
};

class KeyUpEvent : public KeyEvent {
public:
    KeyUpEvent(int keyCode, int nativeKey, int modifiers)
        : KeyEvent(keyCode, nativeKey, modifiers) {}
    ~KeyUpEvent() override {}
};

} // namespace FB

#endif
