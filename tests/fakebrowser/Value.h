// fakebrowser::Value and fakebrowser::ObjectRef: script values as the browser
// holds them (undefined, null, bool, int32, double, string, object).
//
// An ObjectRef is one browser-owned reference to an NPObject, counted in the
// FakeBrowser's object ledger as the browser's: copying retains, destruction
// releases (deallocating at zero). Test code holds the objects it scripts
// through ObjectRefs, so it releases them exactly as a browser would.
// Destroy every ObjectRef before its FakeBrowser; one that outlives it
// releases nothing. Main thread of the FakeBrowser only.
#ifndef FAKEBROWSER_VALUE_H
#define FAKEBROWSER_VALUE_H

#include <cstdint>
#include <string>

#include "NpapiAbi.h"

namespace fakebrowser {

class FakeBrowser;

class ObjectRef {
public:
    ObjectRef() = default;
    // Takes a new browser reference to object (null gives an empty ref).
    static ObjectRef retain(FakeBrowser& browser, NPObject* object);
    // Takes over a browser reference that the ledger already counts.
    static ObjectRef adopt(FakeBrowser& browser, NPObject* object);

    ObjectRef(const ObjectRef& other);
    ObjectRef(ObjectRef&& other) noexcept;
    ObjectRef& operator=(ObjectRef other) noexcept;
    ~ObjectRef();

    NPObject* get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    void reset();
    // Gives the reference up without releasing it: the caller now owns it.
    NPObject* release();

private:
    ObjectRef(FakeBrowser* browser, NPObject* object) : m_browser(browser), m_object(object) {}

    FakeBrowser* m_browser = nullptr;
    NPObject* m_object = nullptr;
};

class Value {
public:
    enum class Type { Undefined, Null, Bool, Int32, Double, String, Object };

    Value() = default;  // undefined
    static Value null();
    Value(bool b) : m_type(Type::Bool), m_bool(b) {}
    Value(int32_t i) : m_type(Type::Int32), m_int(i) {}
    Value(double d) : m_type(Type::Double), m_double(d) {}
    Value(const char* s) : m_type(Type::String), m_string(s) {}
    Value(std::string s) : m_type(Type::String), m_string(std::move(s)) {}
    Value(ObjectRef o);

    Type type() const { return m_type; }
    bool isUndefined() const { return m_type == Type::Undefined; }
    bool isNull() const { return m_type == Type::Null; }
    bool isBool() const { return m_type == Type::Bool; }
    bool isInt() const { return m_type == Type::Int32; }
    bool isDouble() const { return m_type == Type::Double; }
    bool isNumber() const { return isInt() || isDouble(); }
    bool isString() const { return m_type == Type::String; }
    bool isObject() const { return m_type == Type::Object; }

    // Each answers the type's default for a value of another type.
    bool asBool() const { return m_bool; }
    int32_t asInt() const { return m_int; }
    double asNumber() const { return isInt() ? m_int : m_double; }
    const std::string& asString() const { return m_string; }
    const ObjectRef& asObject() const { return m_object; }
    NPObject* object() const { return m_object.get(); }

    // For messages and test output: undefined, null, true, 42, 1.5, "text", [object 0x...].
    std::string describe() const;

private:
    Type m_type = Type::Undefined;
    bool m_bool = false;
    int32_t m_int = 0;
    double m_double = 0;
    std::string m_string;
    ObjectRef m_object;
};

bool operator==(const Value& a, const Value& b);
inline bool operator!=(const Value& a, const Value& b) { return !(a == b); }
// So that GoogleTest prints values.
void PrintTo(const Value& value, std::ostream* os);

} // namespace fakebrowser

#endif
