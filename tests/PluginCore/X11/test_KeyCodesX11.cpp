// The key table: every listed GDK keyval gives its code, every other 84.
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "KeyCodesX11.h"

namespace {

// The table as the platform's keysyms list it; ranges run in order.
std::vector<std::pair<unsigned int, int> > expectedTable()
{
    std::vector<std::pair<unsigned int, int> > t = {
        {0x0020, 58}, {0xff08, 68}, {0xff09, 60}, {0xff0b, 4},  {0xff0d, 52}, {0xff13, 71},
        {0xff14, 53}, {0xff15, 57}, {0xff1b, 9},  {0xff50, 70}, {0xff51, 63}, {0xff52, 61},
        {0xff53, 64}, {0xff54, 62}, {0xff55, 50}, {0xff56, 49}, {0xff57, 69}, {0xff60, 54},
        {0xff61, 72}, {0xff62, 10}, {0xff63, 34}, {0xff67, 66}, {0xff69, 2},  {0xff6a, 33},
        {0xff7f, 38}, {0xffaa, 37}, {0xffab, 0},  {0xffac, 55}, {0xffad, 59}, {0xffae, 6},
        {0xffaf, 8},  {0xffbe, 11}, {0xffbf, 22}, {0xffd1, 23}, {0xffd2, 24}, {0xffd3, 25},
        {0xffe1, 56}, {0xffe2, 56}, {0xffe3, 5},  {0xffe4, 5},  {0xffe5, 3},  {0xffe7, 65},
        {0xffe8, 67}, {0xffe9, 1},  {0xffea, 1},  {0xffff, 7},
    };
    for (unsigned int i = 0; i <= 9; ++i)
        t.push_back({0xffb0 + i, 39 + static_cast<int>(i)});  // KP_0 .. KP_9
    for (unsigned int i = 0; i <= 6; ++i)
        t.push_back({0xffc0 + i, 26 + static_cast<int>(i)});  // F3 .. F9
    for (unsigned int i = 0; i <= 9; ++i)
        t.push_back({0xffc7 + i, 12 + static_cast<int>(i)});  // F10 .. F19
    return t;
}

TEST(KeyCodesX11, EveryListedKeyvalGivesItsCode)
{
    for (const auto& entry : expectedTable())
        EXPECT_EQ(entry.second, FB::gdkKeyvalToKeyCode(entry.first)) << std::hex << entry.first;
}

TEST(KeyCodesX11, ExactlyTheListedKeyvalsHaveCodesOfTheirOwn)
{
    std::set<unsigned int> listed;
    for (const auto& entry : expectedTable())
        listed.insert(entry.first);
    ASSERT_EQ(73u, listed.size());

    int known = 0;
    for (unsigned int keyval = 0; keyval <= 0x1ffff; ++keyval) {
        const int code = FB::gdkKeyvalToKeyCode(keyval);
        if (listed.count(keyval))
            ++known;
        else
            EXPECT_EQ(84, code) << std::hex << keyval;
    }
    EXPECT_EQ(73, known);
}

TEST(KeyCodesX11, UnlistedKeysGive84)
{
    const unsigned int unlisted[] = {
        0x0061,      // a
        0x0031,      // 1
        0xffd4,      // F23
        0xffe6,      // Shift_Lock
        0xffeb,      // Super_L
        0xffed,      // Hyper_L
        0xff8d,      // KP_Enter
        0xff96,      // KP_Left
        0xff91,      // KP_F1
        0x1000000,   // a Unicode keyval
        0xffffffff,
    };
    for (unsigned int keyval : unlisted)
        EXPECT_EQ(FB::kUnknownKeyCode, FB::gdkKeyvalToKeyCode(keyval)) << std::hex << keyval;
    EXPECT_EQ(84, FB::kUnknownKeyCode);
}

TEST(KeyCodesX11, CodesNeverProducedStayUnused)
{
    std::set<int> produced;
    for (unsigned int keyval = 0; keyval <= 0xffff; ++keyval) {
        const int code = FB::gdkKeyvalToKeyCode(keyval);
        if (code != 84)
            produced.insert(code);
    }
    for (int code : {35, 36, 51, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83})
        EXPECT_EQ(0u, produced.count(code)) << code;
    EXPECT_EQ(70u, produced.size()) << "73 keyvals, shift, control and alt pairs share codes";
}

} // namespace
