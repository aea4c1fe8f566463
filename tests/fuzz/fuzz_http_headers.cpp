// Fuzz target: a raw HTTP response header block, whole, through
// FB::parseHttpHeaders.
//
// Invariants besides "no crash": no name or value holds a line end or has
// white space at either end; a name holds no ":"; there are no more entries
// than lines with a ":"; each name and value occurs in the block.
#include <cstdint>
#include <string>

#include "FuzzInput.h"
#include "HttpHeaders.h"

namespace {

// White space as the classic locale classifies it.
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool trimmed(const std::string& text)
{
    return text.empty() || (!isSpace(text.front()) && !isSpace(text.back()));
}

size_t linesWithColon(const std::string& block)
{
    size_t count = 0;
    bool colon = false;
    for (char c : block) {
        if (c == '\r' || c == '\n') {
            count += colon;
            colon = false;
        } else if (c == ':') {
            colon = true;
        }
    }
    return count + colon;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string block(reinterpret_cast<const char*>(data), size);
    const FB::HeaderMap headers = FB::parseHttpHeaders(block);
    FUZZ_CHECK(headers.size() <= linesWithColon(block), "more entries than header lines");
    for (const FB::HeaderMap::value_type& header : headers) {
        const std::string& name = header.first;
        const std::string& value = header.second;
        FUZZ_CHECK(name.find_first_of("\r\n:") == std::string::npos, "name " + name);
        FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos, "value " + value);
        FUZZ_CHECK(trimmed(name) && trimmed(value), "untrimmed " + name + ": " + value);
        FUZZ_CHECK(block.find(name) != std::string::npos && block.find(value) != std::string::npos,
                   "an entry not in the block: " + name + ": " + value);
    }
    return 0;
}
