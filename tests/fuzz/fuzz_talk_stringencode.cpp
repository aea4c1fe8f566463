// Fuzz target: the base library's string encoders and decoders, their
// buffer convention and the field splitters.
//
// The input: one byte picks the caller buffer's size for the bounded runs,
// one the escape character, then a set of illegal characters (one length
// byte and the characters), then the source (the rest, NUL bytes
// included). Every function writes into heap blocks of exactly the size it
// is given, so any write or read past a bound is caught. Invariants: the
// buffer convention (terminated output, fewer characters than the buffer
// holds), each decoder undoes its encoder given room, UTF-8 sequences
// round trip by value, split fields join back to the source.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "talk/base/stringencode.h"

namespace {

using namespace talk_base;


// A caller buffer of exactly `size` bytes.
struct Buffer {
    explicit Buffer(size_t size) : size(size), bytes(new char[size]) { std::memset(bytes.get(), 'Z', size); }
    std::string text(size_t length) const { return std::string(bytes.get(), length); }
    size_t size;
    std::unique_ptr<char[]> bytes;
};

void checkConvention(const Buffer& buffer, size_t written, const char* what)
{
    if (buffer.size == 0) {
        FUZZ_CHECK(written == 0, std::string(what) + " wrote into an empty buffer");
        return;
    }
    FUZZ_CHECK(written < buffer.size, std::string(what) + " wrote past its room");
    FUZZ_CHECK(buffer.bytes[written] == '\0', std::string(what) + " left its output unterminated");
}

size_t bounded(Transform transform, size_t buflen, const std::string& source, const char* what)
{
    Buffer buffer(buflen);
    const size_t written = transform(buffer.bytes.get(), buffer.size, source.data(), source.size());
    checkConvention(buffer, written, what);
    return written;
}

// The whole output of a transform given room for `room` characters.
std::string full(Transform transform, size_t room, const std::string& source, const char* what)
{
    Buffer buffer(room + 1);
    const size_t written = transform(buffer.bytes.get(), buffer.size, source.data(), source.size());
    checkConvention(buffer, written, what);
    return buffer.text(written);
}

void checkRoundTrip(Transform encode, Transform decode, size_t perByte, const std::string& source,
                    const char* what)
{
    const std::string encoded = full(encode, perByte * source.size(), source, what);
    const std::string decoded = full(decode, encoded.size(), encoded, what);
    FUZZ_CHECK(decoded == source, std::string(what) + " does not round trip");
}

void checkEscapes(const std::string& source, const std::string& illegal, char escape, size_t buflen)
{
    const std::string set(illegal.c_str());  // the set ends at its first NUL
    Buffer small(buflen);
    checkConvention(small, Encode(small.bytes.get(), small.size, source.data(), source.size(), set.c_str(), escape),
                    "Encode");
    checkConvention(small, Escape(small.bytes.get(), small.size, source.data(), source.size(), set.c_str(), escape),
                    "Escape");
    checkConvention(small, Decode(small.bytes.get(), small.size, source.data(), source.size(), escape), "Decode");
    checkConvention(small, Unescape(small.bytes.get(), small.size, source.data(), source.size(), escape), "Unescape");

    Buffer encoded(3 * source.size() + 1);
    const size_t n = Encode(encoded.bytes.get(), encoded.size, source.data(), source.size(), set.c_str(), escape);
    Buffer decoded(n + 1);
    const size_t m = Decode(decoded.bytes.get(), decoded.size, encoded.bytes.get(), n, escape);
    FUZZ_CHECK(decoded.text(m) == source, "Decode does not undo Encode");

    Buffer escaped(2 * source.size() + 1);
    const size_t e = Escape(escaped.bytes.get(), escaped.size, source.data(), source.size(), set.c_str(), escape);
    Buffer unescaped(e + 1);
    const size_t u = Unescape(unescaped.bytes.get(), unescaped.size, escaped.bytes.get(), e, escape);
    FUZZ_CHECK(unescaped.text(u) == source, "Unescape does not undo Escape");
}

void checkUtf8(const std::string& source)
{
    size_t pos = 0;
    while (pos < source.size()) {
        unsigned long value = 0;
        const size_t length = Utf8Decode(source.data() + pos, source.size() - pos, &value);
        if (length == 0) {
            ++pos;
            continue;
        }
        FUZZ_CHECK(length <= 4 && pos + length <= source.size(), "Utf8Decode length");
        char bytes[4];
        const size_t written = Utf8Encode(bytes, sizeof bytes, value);
        FUZZ_CHECK(written > 0, "Utf8Encode of a decoded value");
        unsigned long again = 0;
        FUZZ_CHECK(Utf8Decode(bytes, written, &again) == written && again == value, "UTF-8 round trip");
        pos += length;
    }
}

void checkFields(const std::string& source, char delimiter, char startMark, char endMark)
{
    std::vector<std::string> fields;
    const size_t pieces = Split(source, delimiter, &fields);
    FUZZ_CHECK(pieces == fields.size() && pieces >= 1, "Split count");
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i)
        joined += (i ? std::string(1, delimiter) : std::string()) + fields[i];
    FUZZ_CHECK(joined == source, "Split fields do not join back");

    const size_t tokens = Tokenize(source, delimiter, &fields);
    FUZZ_CHECK(tokens == fields.size(), "Tokenize count");
    for (const std::string& field : fields)
        FUZZ_CHECK(!field.empty() && field.find(delimiter) == std::string::npos, "Tokenize field " + field);
    FUZZ_CHECK(TokenizeAppend(source, delimiter, &fields) == 2 * tokens, "TokenizeAppend count");
    FUZZ_CHECK(TokenizeAppend(source, delimiter, nullptr) == 0, "TokenizeAppend into nothing");
    const size_t marked = TokenizeWithMarks(source, delimiter, startMark, endMark, &fields);
    FUZZ_CHECK(marked == fields.size(), "TokenizeWithMarks count");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput in(data, size);
    const size_t buflen = in.byte();
    const char escape = static_cast<char>(in.byte());
    const std::string illegal = in.text(16);
    const std::string source = in.rest();

    FUZZ_CHECK(UrlEncode(nullptr, 0, source.data(), source.size()) == 3 * source.size() + 1, "UrlEncode size");
    FUZZ_CHECK(UrlDecode(nullptr, 0, source.data(), source.size()) == source.size() + 1, "UrlDecode size");
    const struct {
        Transform transform;
        const char* name;
    } transforms[] = {{&UrlEncode, "UrlEncode"}, {&UrlDecode, "UrlDecode"}, {&HexEncode, "HexEncode"},
                      {&HexDecode, "HexDecode"}, {&XmlEncode, "XmlEncode"}, {&XmlDecode, "XmlDecode"},
                      {&HtmlEncode, "HtmlEncode"}, {&HtmlDecode, "HtmlDecode"}};
    for (const auto& t : transforms)
        bounded(t.transform, buflen, source, t.name);

    checkRoundTrip(&UrlEncode, &UrlDecode, 3, source, "UrlEncode/UrlDecode");
    checkRoundTrip(&HexEncode, &HexDecode, 2, source, "HexEncode/HexDecode");
    checkRoundTrip(&XmlEncode, &XmlDecode, 6, source, "XmlEncode/XmlDecode");
    // "&#" and a code point of at most seven digits and ";" for each byte at most.
    full(&HtmlEncode, 10 * source.size(), source, "HtmlEncode");
    FUZZ_CHECK(HexEncodeToString(source.data(), source.size()) == full(&HexEncode, 2 * source.size(), source, "hex"),
               "HexEncodeToString");
    FUZZ_CHECK(TransformString(source, &UrlEncode) == full(&UrlEncode, 3 * source.size(), source, "url"),
               "TransformString");
    std::string into;
    FUZZ_CHECK(TransformIntoString(&into, buflen, source, &UrlDecode) == into.size() && into.size() <= buflen,
               "TransformIntoString");

    checkEscapes(source, illegal, escape, buflen);
    checkUtf8(source);
    checkFields(source, escape, illegal.empty() ? '"' : illegal[0], illegal.size() < 2 ? '"' : illegal[1]);

    for (char c : source) {
        const char safe = MakeCharSafeForFilename(c);
        FUZZ_CHECK(safe == c || safe == '_', "MakeCharSafeForFilename");
        unsigned char digit = 0;
        if (HexDecodeDigit(c, &digit))
            FUZZ_CHECK(digit < 16 && HexEncodeDigit(digit) == (c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c),
                       "hex digit");
    }
    if (buflen > 0) {
        Buffer formatted(buflen);
        const std::string text(source.c_str());
        const size_t written = FormatToBuffer(formatted.bytes.get(), formatted.size, "%s", text.c_str());
        checkConvention(formatted, written, "FormatToBuffer");
        FUZZ_CHECK(formatted.text(written) == text.substr(0, written), "FormatToBuffer text");
    }
    return 0;
}
