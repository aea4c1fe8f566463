// The converting casts between scalar types: text, integers, double and the
// truth values. Each target has one table from held type to reader; a held
// type missing from the table is refused with FB::bad_variant_cast.
#include "variant.h"

#include <cmath>
#include <sstream>
#include <typeindex>
#include <unordered_map>

#include <boost/numeric/conversion/cast.hpp>

#include "utf8_tools.h"

namespace FB {

namespace {

template <typename Target>
struct ConversionTable {
    typedef Target (*Reader)(const variant&);
    std::unordered_map<std::type_index, Reader> readers;

    template <typename Held>
    ConversionTable& add(Reader reader)
    {
        readers.emplace(std::type_index(typeid(Held)), reader);
        return *this;
    }

    Target convert(const variant& v) const
    {
        // The held type already is the target: read it as it is, no lookup.
        if (&v.getType() == &typeid(Target))
            return v.cast<Target>();
        typename std::unordered_map<std::type_index, Reader>::const_iterator it =
            readers.find(std::type_index(v.getType()));
        if (it == readers.end())
            throw bad_variant_cast(v.getType(), typeid(Target));
        return it->second(v);
    }
};

// ---- text

// Written as Shown by a default stream: a float is widened to double first.
template <typename Held, typename Shown = Held>
std::string streamed(const variant& v)
{
    std::ostringstream out;
    out << static_cast<Shown>(v.cast<Held>());
    if (out.fail())
        throw bad_variant_cast(v.getType(), typeid(std::string));
    return out.str();
}

template <typename Held>
std::string oneChar(const variant& v)
{
    return std::string(1, static_cast<char>(v.cast<Held>()));
}

std::string boolText(const variant& v) { return v.cast<bool>() ? "true" : "false"; }
std::string stringText(const variant& v) { return v.cast<std::string>(); }
std::string wideText(const variant& v) { return wideToUtf8(v.cast<std::wstring>()); }

const ConversionTable<std::string>& stringTable()
{
    static const ConversionTable<std::string> table = [] {
        ConversionTable<std::string> t;
        t.add<std::string>(&stringText)
            .add<std::wstring>(&wideText)
            .add<bool>(&boolText)
            .add<int>(&streamed<int>)
            .add<short>(&streamed<short>)
            .add<long>(&streamed<long>)
            .add<long long>(&streamed<long long>)
            .add<unsigned int>(&streamed<unsigned int>)
            .add<unsigned short>(&streamed<unsigned short>)
            .add<unsigned long>(&streamed<unsigned long>)
            .add<unsigned long long>(&streamed<unsigned long long>)
            .add<double>(&streamed<double>)
            .add<float>(&streamed<float, double>)
            .add<char>(&oneChar<char>)
            .add<unsigned char>(&oneChar<unsigned char>);
        return t;
    }();
    return table;
}

// ---- numbers

// Reads the leading number of the text, decimal only; what follows it is
// ignored. Empty text, text without a leading number and a number outside
// Target's range fail.
template <typename Target>
Target parsed(const variant& v, const std::string& text)
{
    std::istringstream in(text);
    Target value = Target();
    in >> value;
    if (in.fail() || in.bad())
        throw bad_variant_cast(v.getType(), typeid(Target));
    return value;
}

template <typename Target>
Target fromText(const variant& v) { return parsed<Target>(v, v.cast<std::string>()); }

template <typename Target>
Target fromWideText(const variant& v) { return parsed<Target>(v, wideToUtf8(v.cast<std::wstring>())); }

template <typename Target>
Target fromBool(const variant& v) { return v.cast<bool>() ? Target(1) : Target(0); }

// Range checks are boost::numeric_cast's; floating values are truncated
// toward zero. NaN passes those checks but has no integer value.
template <typename Target, typename Held>
Target fromNumber(const variant& v)
{
    const Held value = v.cast<Held>();
    if constexpr (std::is_floating_point<Held>::value && std::is_integral<Target>::value) {
        if (std::isnan(value))
            throw bad_variant_cast(v.getType(), typeid(Target));
    }
    try {
        return boost::numeric_cast<Target>(value);
    } catch (const boost::numeric::bad_numeric_cast&) {
        throw bad_variant_cast(v.getType(), typeid(Target));
    }
}

template <typename Target>
ConversionTable<Target> numberTable()
{
    ConversionTable<Target> t;
    t.template add<int>(&fromNumber<Target, int>)
        .template add<short>(&fromNumber<Target, short>)
        .template add<unsigned short>(&fromNumber<Target, unsigned short>)
        .template add<char>(&fromNumber<Target, char>)
        .template add<unsigned char>(&fromNumber<Target, unsigned char>)
        .template add<unsigned int>(&fromNumber<Target, unsigned int>)
        .template add<long>(&fromNumber<Target, long>)
        .template add<long long>(&fromNumber<Target, long long>)
        .template add<unsigned long>(&fromNumber<Target, unsigned long>)
        .template add<unsigned long long>(&fromNumber<Target, unsigned long long>)
        .template add<double>(&fromNumber<Target, double>)
        .template add<float>(&fromNumber<Target, float>)
        .template add<bool>(&fromBool<Target>)
        .template add<std::string>(&fromText<Target>)
        .template add<std::wstring>(&fromWideText<Target>);
    return t;
}

template <typename Target>
const ConversionTable<Target>& numberTableFor()
{
    static const ConversionTable<Target> table = numberTable<Target>();
    return table;
}

// ---- truth values

const char* const kTrueWords[] = {"y", "1", "yes", "true", "t"};

// ASCII only: other characters, bytes of UTF-8 sequences included, stay as they are.
template <typename Char>
Char asciiLower(Char c)
{
    return (c >= Char('A') && c <= Char('Z')) ? Char(c - Char('A') + Char('a')) : c;
}

template <typename Char>
bool isTrueWord(const std::basic_string<Char>& text)
{
    for (const char* word : kTrueWords) {
        const size_t length = std::char_traits<char>::length(word);
        if (text.size() != length)
            continue;
        size_t i = 0;
        while (i < length && asciiLower(text[i]) == Char(word[i]))
            ++i;
        if (i == length)
            return true;
    }
    return false;
}

} // namespace

std::string variant::convertToString() const
{
    return stringTable().convert(*this);
}

int variant::convertToInt() const
{
    return numberTableFor<int>().convert(*this);
}

long variant::convertToLong() const
{
    return numberTableFor<long>().convert(*this);
}

double variant::convertToDouble() const
{
    return numberTableFor<double>().convert(*this);
}

bool variant::convertToBool() const
{
    if (const bool* value = boost::any_cast<bool>(&held))
        return *value;
    if (const std::string* text = boost::any_cast<std::string>(&held))
        return isTrueWord(*text);
    if (const std::wstring* text = boost::any_cast<std::wstring>(&held))
        return isTrueWord(*text);
    return convertToLong() != 0;
}

boost::logic::tribool variant::convertToTribool() const
{
    if (holdsNoValue())
        return boost::logic::indeterminate;
    return convertToBool();
}

} // namespace FB
