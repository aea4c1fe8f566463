#include "utf8_tools.h"

#include <cstdint>
#include <iterator>

#include <utf8.h>

static_assert(sizeof(wchar_t) == 4, "a wide character must hold any code point");

namespace FB {

std::wstring utf8ToWide(const std::string& utf8)
{
    std::wstring out;
    std::string::const_iterator it = utf8.begin();
    const std::string::const_iterator end = utf8.end();
    while (it != end)
        out.push_back(static_cast<wchar_t>(utf8::next(it, end)));
    return out;
}

std::string wideToUtf8(const std::wstring& wide)
{
    std::string out;
    std::back_insert_iterator<std::string> sink(out);
    for (wchar_t c : wide) {
        // A negative character becomes a value far above 0x10FFFF and is refused.
        sink = utf8::append(static_cast<uint32_t>(c), sink);
    }
    return out;
}

} // namespace FB
