// FB::gdkKeyvalToKeyCode: the framework's key code (FB::KeyEvent) for a GDK
// keyval (an X keysym). Keys without a code of their own give 84.
// A pure lookup in a constant table; any thread.
#ifndef FB_KEYCODESX11_H
#define FB_KEYCODESX11_H

namespace FB {

// The code of every keyval that is not in the table.
const int kUnknownKeyCode = 84;

int gdkKeyvalToKeyCode(unsigned int keyval);

} // namespace FB

#endif
