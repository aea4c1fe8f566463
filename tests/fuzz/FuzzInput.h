// FuzzInput: reads a fuzzer's byte string as the values a target needs, and
// FUZZ_CHECK, the way a target reports a broken invariant.
//
// Every read succeeds: past the end, numbers read as 0 and texts as empty,
// so any byte string is a valid input. Integers take their bytes in
// little-endian order. FUZZ_CHECK prints what failed and aborts, which
// libFuzzer and the replay runner both count as a finding.
// One input per object; any thread, one at a time.
#ifndef FB_FUZZ_FUZZINPUT_H
#define FB_FUZZ_FUZZINPUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n  %s\n", __FILE__, __LINE__,        \
                         #condition, std::string(what).c_str());                                   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    size_t remaining() const { return m_size - m_pos; }

    uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }
    bool flag() { return (byte() & 1) != 0; }

    template <typename T>
    T integral()
    {
        static_assert(std::is_integral<T>::value, "an integer type");
        typedef typename std::make_unsigned<T>::type U;
        U value = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            value = static_cast<U>(value | static_cast<U>(static_cast<U>(byte()) << (8 * i)));
        return static_cast<T>(value);
    }

    // Any bit pattern: NaNs, infinities and denormals included.
    template <typename T>
    T floating()
    {
        static_assert(std::is_floating_point<T>::value, "a floating type");
        typedef typename std::conditional<sizeof(T) == 8, uint64_t, uint32_t>::type Bits;
        const Bits bits = integral<Bits>();
        T value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // A value below count (0 when count is 0).
    size_t below(size_t count) { return count ? byte() % count : 0; }

    // A text of one length byte (at most max) and that many bytes.
    std::string text(size_t max = 255)
    {
        const size_t length = std::min<size_t>(byte(), max);
        return take(length);
    }

    // The bytes up to the next `end` byte (which is consumed), or to the end.
    std::string until(char end)
    {
        const size_t start = m_pos;
        while (m_pos < m_size && m_data[m_pos] != static_cast<uint8_t>(end))
            ++m_pos;
        const std::string out(reinterpret_cast<const char*>(m_data + start), m_pos - start);
        if (m_pos < m_size)
            ++m_pos;
        return out;
    }

    std::string rest() { return take(remaining()); }

private:
    std::string take(size_t length)
    {
        length = std::min(length, remaining());
        const std::string out(reinterpret_cast<const char*>(m_data + m_pos), length);
        m_pos += length;
        return out;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace fuzz

#endif
