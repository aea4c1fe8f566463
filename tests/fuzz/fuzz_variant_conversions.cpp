// Fuzz target: the converting casts of FB::variant on values of every
// scalar held type, texts above all (script arguments arrive as text).
//
// The first byte picks the held type, the rest is the value (a text takes
// all of it; a wide text takes it four bytes per character). Every
// conversion runs; a refusal must be FB::bad_variant_cast (or, for a wide
// text that is no valid text, the UTF-8 converter's own error). Invariants:
// a text is true exactly when it is one of the five true words in any case;
// an int reading agrees with the long reading; integers written as text
// read back as the same number; a double read as an int is truncated.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <utf8.h>

#include "FuzzInput.h"
#include "variant.h"

namespace {

using FB::variant;

template <typename T>
bool attempt(T (variant::*conversion)() const, const variant& v, T* out, bool wide)
{
    try {
        *out = (v.*conversion)();
        return true;
    } catch (const FB::bad_variant_cast&) {
        return false;
    } catch (const utf8::exception&) {
        FUZZ_CHECK(wide, "a UTF-8 error from a value that is no wide text");
        return false;
    }
}

bool isTrueWord(const std::string& text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower == "y" || lower == "1" || lower == "yes" || lower == "true" || lower == "t";
}

variant heldValue(fuzz::FuzzInput& in, int* kind)
{
    *kind = in.byte() % 18;
    switch (*kind) {
    case 0: return variant(in.rest());
    case 1: {
        std::wstring text;
        while (!in.empty())
            text.push_back(static_cast<wchar_t>(in.integral<int32_t>()));
        return variant(text);
    }
    case 2: return variant(in.integral<int>());
    case 3: return variant(in.integral<short>());
    case 4: return variant(in.integral<long>());
    case 5: return variant(in.integral<long long>());
    case 6: return variant(in.integral<unsigned int>());
    case 7: return variant(in.integral<unsigned short>());
    case 8: return variant(in.integral<unsigned long>());
    case 9: return variant(in.integral<unsigned long long>());
    case 10: return variant(in.floating<double>());
    case 11: return variant(in.floating<float>());
    case 12: return variant(in.flag());
    case 13: return variant(static_cast<char>(in.byte()));
    case 14: return variant(static_cast<unsigned char>(in.byte()));
    case 15: return variant();
    case 16: return variant(FB::variant_detail::null());
    default: return variant(FB::variant_detail::empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput in(data, size);
    int kind = 0;
    const variant v = heldValue(in, &kind);
    const bool wide = kind == 1;
    const bool integral = kind >= 2 && kind <= 9;

    std::string text;
    const bool hasText = attempt(&variant::convertToString, v, &text, wide);
    int asInt = 0;
    const bool hasInt = attempt(&variant::convertToInt, v, &asInt, wide);
    long asLong = 0;
    const bool hasLong = attempt(&variant::convertToLong, v, &asLong, wide);
    double asDouble = 0;
    attempt(&variant::convertToDouble, v, &asDouble, wide);
    bool asBool = false;
    const bool hasBool = attempt(&variant::convertToBool, v, &asBool, wide);
    boost::logic::tribool asTribool;
    attempt(&variant::convertToTribool, v, &asTribool, wide);
    FB::JSObjectPtr object;
    attempt(&variant::convertToJSObject, v, &object, wide);
    FB::JSAPIPtr api;
    attempt(&variant::convertToJSAPI, v, &api, wide);
    FB::VariantList list;
    attempt(&variant::convertToList, v, &list, wide);
    FB::VariantMap map;
    attempt(&variant::convertToMap, v, &map, wide);
    std::vector<FB::JSObjectPtr> objects;
    attempt(&variant::convertToObjectList, v, &objects, wide);

    if (kind == 0) {
        FUZZ_CHECK(hasBool && asBool == isTrueWord(v.cast<std::string>()), "truth of " + v.cast<std::string>());
        FUZZ_CHECK(hasText && text == v.cast<std::string>(), "a text converted to text");
    }
    if (hasInt)
        FUZZ_CHECK(hasLong && asLong == asInt, "int and long readings differ");
    if (integral && hasLong) {
        FUZZ_CHECK(hasText, "an integer without text");
        long back = 0;
        FUZZ_CHECK(attempt(&variant::convertToLong, variant(text), &back, false) && back == asLong,
                   "the integer text " + text + " reads back differently");
    }
    if (kind == 10 && hasInt) {
        const double value = v.cast<double>();
        FUZZ_CHECK(value > -2147483649.0 && value < 2147483648.0 && asInt == static_cast<int>(std::trunc(value)),
                   "double to int");
    }
    return 0;
}
