#include "KeyCodesX11.h"

#include <algorithm>
#include <iterator>

namespace FB {

namespace {

struct KeyCodeEntry {
    unsigned int keyval;
    int code;
};

// Sorted by keyval for the binary search.
const KeyCodeEntry kKeyCodes[] = {
    {0x0020, 58},  // space
    {0xff08, 68},  // BackSpace
    {0xff09, 60},  // Tab
    {0xff0b, 4},   // Clear
    {0xff0d, 52},  // Return
    {0xff13, 71},  // Pause
    {0xff14, 53},  // Scroll_Lock
    {0xff15, 57},  // Sys_Req
    {0xff1b, 9},   // Escape
    {0xff50, 70},  // Home
    {0xff51, 63},  // Left
    {0xff52, 61},  // Up
    {0xff53, 64},  // Right
    {0xff54, 62},  // Down
    {0xff55, 50},  // Prior (Page_Up)
    {0xff56, 49},  // Next (Page_Down)
    {0xff57, 69},  // End
    {0xff60, 54},  // Select
    {0xff61, 72},  // Print
    {0xff62, 10},  // Execute
    {0xff63, 34},  // Insert
    {0xff67, 66},  // Menu
    {0xff69, 2},   // Cancel
    {0xff6a, 33},  // Help
    {0xff7f, 38},  // Num_Lock
    {0xffaa, 37},  // KP_Multiply
    {0xffab, 0},   // KP_Add
    {0xffac, 55},  // KP_Separator
    {0xffad, 59},  // KP_Subtract
    {0xffae, 6},   // KP_Decimal
    {0xffaf, 8},   // KP_Divide
    {0xffb0, 39},  // KP_0
    {0xffb1, 40},
    {0xffb2, 41},
    {0xffb3, 42},
    {0xffb4, 43},
    {0xffb5, 44},
    {0xffb6, 45},
    {0xffb7, 46},
    {0xffb8, 47},
    {0xffb9, 48},  // KP_9
    {0xffbe, 11},  // F1
    {0xffbf, 22},  // F2
    {0xffc0, 26},  // F3
    {0xffc1, 27},
    {0xffc2, 28},
    {0xffc3, 29},
    {0xffc4, 30},
    {0xffc5, 31},
    {0xffc6, 32},  // F9
    {0xffc7, 12},  // F10
    {0xffc8, 13},
    {0xffc9, 14},
    {0xffca, 15},
    {0xffcb, 16},
    {0xffcc, 17},
    {0xffcd, 18},
    {0xffce, 19},
    {0xffcf, 20},
    {0xffd0, 21},  // F19
    {0xffd1, 23},  // F20
    {0xffd2, 24},  // F21
    {0xffd3, 25},  // F22
    {0xffe1, 56},  // Shift_L
    {0xffe2, 56},  // Shift_R
    {0xffe3, 5},   // Control_L
    {0xffe4, 5},   // Control_R
    {0xffe5, 3},   // Caps_Lock
    {0xffe7, 65},  // Meta_L
    {0xffe8, 67},  // Meta_R
    {0xffe9, 1},   // Alt_L
    {0xffea, 1},   // Alt_R
    {0xffff, 7},   // Delete
};

bool keyvalLess(const KeyCodeEntry& entry, unsigned int keyval)
{
    return entry.keyval < keyval;
}

} // namespace

int gdkKeyvalToKeyCode(unsigned int keyval)
{
    const KeyCodeEntry* const end = std::end(kKeyCodes);
    const KeyCodeEntry* const it = std::lower_bound(std::begin(kKeyCodes), end, keyval, &keyvalLess);
    if (it == end || it->keyval != keyval)
        return kUnknownKeyCode;
    return it->code;
}

} // namespace FB
