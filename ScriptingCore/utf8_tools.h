// Conversion between UTF-8 std::string and std::wstring (32-bit wide
// characters: one code point per character, no surrogate pairs).
//
// Both convert the whole text or throw: UTF8-CPP's utf8::not_enough_room,
// utf8::invalid_utf8 or utf8::invalid_code_point (all std::exception) pass to
// the caller and no partial result is returned. Pure functions; any thread.
#ifndef FB_UTF8_TOOLS_H
#define FB_UTF8_TOOLS_H

#include <string>

namespace FB {

std::wstring utf8ToWide(const std::string& utf8);
std::string wideToUtf8(const std::wstring& wide);

} // namespace FB

#endif
