// FB::variant: the dynamically typed value that every script call carries.
//
// A variant owns one heap copy of a value of any copyable type that has a
// `<`, or nothing (held type void, the script's undefined), and remembers the
// less-than function of that type; every constructor and assignment sets
// both together. Values of different held types order by their type names
// (type_names.h), values of one type by the type's own order.
// Two forms of no value stay distinct: a default variant holds nothing, and a
// variant may hold the FB::variant_detail::empty marker (what scriptable
// objects answer for a member that does not exist). Script null is the
// FB::variant_detail::null marker; an empty object pointer is stored as it.
// Exact casts (cast<T>) read one precise type; the converting casts
// (convertTo*, convert_cast<T>) accept every type with a sensible reading.
// Both throw FB::bad_variant_cast and leave the variant unchanged.
// A plain value without a lock: one variant is used by one thread at a time;
// copies may go to other threads.
#ifndef FB_VARIANT_H
#define FB_VARIANT_H

#include <map>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include <boost/any.hpp>
#include <boost/logic/tribool.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include "APITypes.h"
#include "bad_variant_cast.h"

namespace FB {

namespace variant_detail {
// Script null.
struct null {};
// No value: the answer for a property or attribute that does not exist.
struct empty {};

template <typename T> struct type_tag {};
template <typename T> struct is_shared_ptr : std::false_type {};
template <typename T> struct is_shared_ptr<boost::shared_ptr<T> > : std::true_type {};
} // namespace variant_detail

class variant {
public:
    typedef bool (*lessFunction)(const variant& left, const variant& right);

    variant() : lessFn(&lessNoValue) {}
    variant(const variant& other) : held(other.held), lessFn(other.lessFn) {}
    // Takes the other's held value without copying it; the other is left
    // holding nothing.
    variant(variant&& other) noexcept : held(std::move(other.held)), lessFn(other.lessFn)
    {
        other.lessFn = &lessNoValue;
    }
    // Stores a copy of x as T, with these exceptions: text pointers become
    // strings (a null pointer becomes the null marker), a shared pointer to a
    // class derived from FB::JSObject or FB::JSAPI is stored as FB::JSObjectPtr
    // or FB::JSAPIPtr, and an empty object pointer as the null marker.
    template <typename T>
    variant(const T& x) : lessFn(&lessNoValue) { set(x); }
    variant(const char* text) : lessFn(&lessNoValue) { setText(text); }
    variant(const wchar_t* text) : lessFn(&lessNoValue) { setText(text); }
    variant(const JSAPIPtr& ptr) : lessFn(&lessNoValue) { setObject(ptr); }
    variant(const JSObjectPtr& ptr) : lessFn(&lessNoValue) { setObject(ptr); }
    // True stores true; false and indeterminate store false.
    variant(const boost::logic::tribool& value) : lessFn(&lessNoValue) { store(bool(value == true)); }

    // Every assignment copies the new value before it drops the old one, so a
    // failed copy leaves the target as it was.
    variant& operator=(const variant& other) { return assign(other); }
    // Moving a variant into itself keeps its value (the held value's own
    // move would leave it empty).
    variant& operator=(variant&& other) noexcept
    {
        if (&other == this)
            return *this;
        held = std::move(other.held);
        lessFn = other.lessFn;
        other.lessFn = &lessNoValue;
        return *this;
    }
    template <typename T>
    variant& operator=(const T& x) { return *this = variant(x); }
    variant& assign(const variant& other);
    variant& assign(const std::string& text);
    variant& assign(const variant_detail::null& marker);
    variant& assign(const variant_detail::empty& marker);

    // The held type; typeid(void) when nothing is held.
    const std::type_info& getType() const { return held.type(); }
    bool isNull() const { return getType() == typeid(variant_detail::null); }
    template <typename T>
    bool is_of_type() const { return getType() == typeid(T); }

    // Same held type: that type's order. Otherwise the order of the type names.
    bool operator<(const variant& right) const;

    // Exact cast: a copy of the held value when the held type is exactly T.
    template <typename T>
    T cast() const
    {
        const T* value = boost::any_cast<T>(&held);
        if (!value)
            throw bad_variant_cast(getType(), typeid(T));
        return *value;
    }
    std::string castString() const { return cast<std::string>(); }
    std::wstring castWString() const { return cast<std::wstring>(); }
    double castDouble() const { return cast<double>(); }
    float castFloat() const { return cast<float>(); }
    int castInt() const { return cast<int>(); }
    unsigned int castUInt() const { return cast<unsigned int>(); }
    bool castBool() const { return cast<bool>(); }
    short castShort() const { return cast<short>(); }
    unsigned short castUShort() const { return cast<unsigned short>(); }
    char castChar() const { return cast<char>(); }
    unsigned char castUChar() const { return cast<unsigned char>(); }
    long castLong() const { return cast<long>(); }
    unsigned long castULong() const { return cast<unsigned long>(); }
    long long castLongLong() const { return cast<long long>(); }
    unsigned long long castULongLong() const { return cast<unsigned long long>(); }
    JSAPIPtr castJSAPIPtr() const { return cast<JSAPIPtr>(); }
    JSAPIWeakPtr castJSAPIWeakPtr() const { return cast<JSAPIWeakPtr>(); }
    JSObjectPtr castJSObjectPtr() const { return cast<JSObjectPtr>(); }

    // Converting casts (variant_conversions.cpp, variant_object_conversions.cpp).
    std::string convertToString() const;
    int convertToInt() const;
    long convertToLong() const;
    double convertToDouble() const;
    bool convertToBool() const;
    boost::logic::tribool convertToTribool() const;
    JSObjectPtr convertToJSObject() const;
    JSAPIPtr convertToJSAPI() const;
    VariantList convertToList() const;
    VariantMap convertToMap() const;
    // A page array of page objects (the answer of getElementsByTagName and
    // the like); a held vector of page objects is copied.
    std::vector<JSObjectPtr> convertToObjectList() const;
    variant convertToVariant() const { return *this; }
    void convertToVoid() const {}

    // The converting cast for T, one of: std::string, int, long, double, bool,
    // boost::logic::tribool, FB::JSObjectPtr, FB::JSAPIPtr, FB::VariantList,
    // FB::VariantMap, FB::variant, void.
    template <typename T>
    T convert_cast() const { return convertTo(variant_detail::type_tag<T>()); }

    // Read a page array or object whole; a null object adds nothing. What
    // they read is drawn from the call's PageReadBudget: an array or object
    // with more entries than are left is refused, as a length indexes cannot
    // reach, before any entry is read.
    static void jsArrayToList(const JSObjectPtr& object, VariantList& out);
    static void jsObjectToMap(const JSObjectPtr& object, VariantMap& out);
    static void jsArrayToObjectList(const JSObjectPtr& object, std::vector<JSObjectPtr>& out);

    // The less-than functions of the held types; both sides hold the type.
    static bool lessNoValue(const variant& left, const variant& right);
    static bool lessNull(const variant& left, const variant& right);
    static bool lessEmpty(const variant& left, const variant& right);
    static bool lessBool(const variant& left, const variant& right);
    static bool lessInt(const variant& left, const variant& right);
    static bool lessFloat(const variant& left, const variant& right);
    static bool lessDouble(const variant& left, const variant& right);
    static bool lessString(const variant& left, const variant& right);
    static bool lessWString(const variant& left, const variant& right);
    static bool lessList(const variant& left, const variant& right);
    static bool lessMap(const variant& left, const variant& right);
    static bool lessJSAPIPtr(const variant& left, const variant& right);
    static bool lessJSObjectPtr(const variant& left, const variant& right);
    static bool lessScriptErrorPtr(const variant& left, const variant& right);
    // Any further held type: its own `<`.
    template <typename T>
    static bool lessGeneric(const variant& left, const variant& right)
    {
        return *boost::any_cast<T>(&left.held) < *boost::any_cast<T>(&right.held);
    }

private:
    template <typename T>
    static lessFunction lessFor(variant_detail::type_tag<T>) { return &lessGeneric<T>; }
    static lessFunction lessFor(variant_detail::type_tag<variant_detail::null>) { return &lessNull; }
    static lessFunction lessFor(variant_detail::type_tag<variant_detail::empty>) { return &lessEmpty; }
    static lessFunction lessFor(variant_detail::type_tag<bool>) { return &lessBool; }
    static lessFunction lessFor(variant_detail::type_tag<int>) { return &lessInt; }
    static lessFunction lessFor(variant_detail::type_tag<float>) { return &lessFloat; }
    static lessFunction lessFor(variant_detail::type_tag<double>) { return &lessDouble; }
    static lessFunction lessFor(variant_detail::type_tag<std::string>) { return &lessString; }
    static lessFunction lessFor(variant_detail::type_tag<std::wstring>) { return &lessWString; }
    static lessFunction lessFor(variant_detail::type_tag<VariantList>) { return &lessList; }
    static lessFunction lessFor(variant_detail::type_tag<VariantMap>) { return &lessMap; }
    static lessFunction lessFor(variant_detail::type_tag<JSAPIPtr>) { return &lessJSAPIPtr; }
    static lessFunction lessFor(variant_detail::type_tag<JSObjectPtr>) { return &lessJSObjectPtr; }
    static lessFunction lessFor(variant_detail::type_tag<ScriptErrorPtr>) { return &lessScriptErrorPtr; }

    template <typename T>
    void store(const T& value)
    {
        held = value;
        lessFn = lessFor(variant_detail::type_tag<T>());
    }

    template <typename T>
    void set(const T& x)
    {
        typedef typename std::decay<T>::type D;
        if constexpr (std::is_same<D, char*>::value || std::is_same<D, const char*>::value) {
            setText(static_cast<const char*>(x));
        } else if constexpr (std::is_same<D, wchar_t*>::value || std::is_same<D, const wchar_t*>::value) {
            setText(static_cast<const wchar_t*>(x));
        } else if constexpr (variant_detail::is_shared_ptr<D>::value) {
            setSharedPtr(x);
        } else {
            store<D>(x);
        }
    }

    // Nothing, null or the empty marker: the values that read as no object.
    bool holdsNoValue() const;
    // The scriptable object held in any pointer form, empty for no value;
    // other held types are refused.
    JSAPIPtr heldObject() const;

    void setText(const char* text);
    void setText(const wchar_t* text);

    template <typename Ptr>
    void setObject(const Ptr& ptr)
    {
        if (ptr)
            store(ptr);
        else
            store(variant_detail::null());
    }

    template <typename T>
    void setSharedPtr(const boost::shared_ptr<T>& ptr)
    {
        typedef typename std::remove_cv<T>::type U;
        if constexpr (std::is_base_of<JSObject, U>::value) {
            setObject(JSObjectPtr(ptr));
        } else if constexpr (std::is_base_of<JSAPI, U>::value) {
            setObject(JSAPIPtr(ptr));
        } else {
            store(ptr);
        }
    }

    std::string convertTo(variant_detail::type_tag<std::string>) const { return convertToString(); }
    int convertTo(variant_detail::type_tag<int>) const { return convertToInt(); }
    long convertTo(variant_detail::type_tag<long>) const { return convertToLong(); }
    double convertTo(variant_detail::type_tag<double>) const { return convertToDouble(); }
    bool convertTo(variant_detail::type_tag<bool>) const { return convertToBool(); }
    boost::logic::tribool convertTo(variant_detail::type_tag<boost::logic::tribool>) const { return convertToTribool(); }
    JSObjectPtr convertTo(variant_detail::type_tag<JSObjectPtr>) const { return convertToJSObject(); }
    JSAPIPtr convertTo(variant_detail::type_tag<JSAPIPtr>) const { return convertToJSAPI(); }
    VariantList convertTo(variant_detail::type_tag<VariantList>) const { return convertToList(); }
    VariantMap convertTo(variant_detail::type_tag<VariantMap>) const { return convertToMap(); }
    variant convertTo(variant_detail::type_tag<variant>) const { return convertToVariant(); }
    void convertTo(variant_detail::type_tag<void>) const { convertToVoid(); }

    boost::any held;
    lessFunction lessFn;
};

// A list of one element, a copy of value: the arguments of a one-argument call.
VariantList makeVariantList(const variant& value);

} // namespace FB

#endif
