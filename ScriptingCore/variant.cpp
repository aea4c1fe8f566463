#include "variant.h"

#include <algorithm>
#include <cstring>

namespace FB {

namespace {

bool entryLess(const VariantMap::value_type& left, const VariantMap::value_type& right)
{
    if (left.first < right.first)
        return true;
    return left.first == right.first && left.second < right.second;
}

} // namespace

variant& variant::assign(const variant& other)
{
    boost::any copy(other.held);
    held.swap(copy);
    lessFn = other.lessFn;
    return *this;
}

variant& variant::assign(const std::string& text)
{
    return *this = variant(text);
}

variant& variant::assign(const variant_detail::null& marker)
{
    return *this = variant(marker);
}

variant& variant::assign(const variant_detail::empty& marker)
{
    return *this = variant(marker);
}

bool variant::holdsNoValue() const
{
    const std::type_info& type = getType();
    return type == typeid(void) || type == typeid(variant_detail::null) ||
           type == typeid(variant_detail::empty);
}

void variant::setText(const char* text)
{
    if (text)
        store(std::string(text));
    else
        store(variant_detail::null());
}

void variant::setText(const wchar_t* text)
{
    if (text)
        store(std::wstring(text));
    else
        store(variant_detail::null());
}

bool variant::operator<(const variant& right) const
{
    const std::type_info& leftType = getType();
    const std::type_info& rightType = right.getType();
    if (leftType == rightType)
        return lessFn(*this, right);
    return std::strcmp(typeName(leftType), typeName(rightType)) < 0;
}

bool variant::lessNoValue(const variant&, const variant&) { return false; }
bool variant::lessNull(const variant&, const variant&) { return false; }
bool variant::lessEmpty(const variant&, const variant&) { return false; }
bool variant::lessBool(const variant& l, const variant& r) { return lessGeneric<bool>(l, r); }
bool variant::lessInt(const variant& l, const variant& r) { return lessGeneric<int>(l, r); }
bool variant::lessFloat(const variant& l, const variant& r) { return lessGeneric<float>(l, r); }
bool variant::lessDouble(const variant& l, const variant& r) { return lessGeneric<double>(l, r); }
// std::char_traits<char> compares as unsigned bytes.
bool variant::lessString(const variant& l, const variant& r) { return lessGeneric<std::string>(l, r); }
bool variant::lessWString(const variant& l, const variant& r) { return lessGeneric<std::wstring>(l, r); }

// Compared in place rather than on copies: the order is the same, and
// ordering never allocates (so it cannot throw).
bool variant::lessList(const variant& l, const variant& r)
{
    const VariantList& left = *boost::any_cast<VariantList>(&l.held);
    const VariantList& right = *boost::any_cast<VariantList>(&r.held);
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
}

bool variant::lessMap(const variant& l, const variant& r)
{
    const VariantMap& left = *boost::any_cast<VariantMap>(&l.held);
    const VariantMap& right = *boost::any_cast<VariantMap>(&r.held);
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        &entryLess);
}

// Shared pointers order by their ownership block, not by the object.
bool variant::lessJSAPIPtr(const variant& l, const variant& r)
{
    return boost::any_cast<JSAPIPtr>(&l.held)->owner_before(*boost::any_cast<JSAPIPtr>(&r.held));
}

bool variant::lessJSObjectPtr(const variant& l, const variant& r)
{
    return boost::any_cast<JSObjectPtr>(&l.held)->owner_before(*boost::any_cast<JSObjectPtr>(&r.held));
}

bool variant::lessScriptErrorPtr(const variant& l, const variant& r)
{
    return boost::any_cast<ScriptErrorPtr>(&l.held)->owner_before(*boost::any_cast<ScriptErrorPtr>(&r.held));
}

VariantList makeVariantList(const variant& value)
{
    return VariantList(1, value);
}

} // namespace FB
