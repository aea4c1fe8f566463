// FB::Rect: an area of the plugin window in window coordinates, four ints in
// the order top, left, bottom, right. A plain value; any thread.
#ifndef FB_RECT_H
#define FB_RECT_H

namespace FB {

struct Rect {
    int top;
    int left;
    int bottom;
    int right;
};

} // namespace FB

#endif
