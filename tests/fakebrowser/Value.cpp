#include "Value.h"

#include <ostream>
#include <sstream>

#include "FakeBrowser.h"

namespace fakebrowser {

ObjectRef ObjectRef::retain(FakeBrowser& browser, NPObject* object)
{
    if (!object || !browser.retainBrowserReference(object))
        return ObjectRef();
    return ObjectRef(&browser, object);
}

ObjectRef ObjectRef::adopt(FakeBrowser& browser, NPObject* object)
{
    return object ? ObjectRef(&browser, object) : ObjectRef();
}

ObjectRef::ObjectRef(const ObjectRef& other)
{
    if (other.m_object && other.m_browser->retainBrowserReference(other.m_object)) {
        m_browser = other.m_browser;
        m_object = other.m_object;
    }
}

ObjectRef::ObjectRef(ObjectRef&& other) noexcept : m_browser(other.m_browser), m_object(other.m_object)
{
    other.m_object = nullptr;
}

ObjectRef& ObjectRef::operator=(ObjectRef other) noexcept
{
    std::swap(m_browser, other.m_browser);
    std::swap(m_object, other.m_object);
    return *this;
}

ObjectRef::~ObjectRef()
{
    reset();
}

void ObjectRef::reset()
{
    NPObject* object = m_object;
    m_object = nullptr;
    if (object && FakeBrowser::current() == m_browser)
        m_browser->releaseBrowserReference(object);
}

NPObject* ObjectRef::release()
{
    NPObject* object = m_object;
    m_object = nullptr;
    return object;
}

Value Value::null()
{
    Value v;
    v.m_type = Type::Null;
    return v;
}

Value::Value(ObjectRef o)
{
    if (o) {
        m_type = Type::Object;
        m_object = std::move(o);
    } else {
        m_type = Type::Null;
    }
}

std::string Value::describe() const
{
    std::ostringstream out;
    switch (m_type) {
    case Type::Undefined: out << "undefined"; break;
    case Type::Null: out << "null"; break;
    case Type::Bool: out << (m_bool ? "true" : "false"); break;
    case Type::Int32: out << m_int; break;
    case Type::Double: out << m_double; break;
    case Type::String: out << '"' << m_string << '"'; break;
    case Type::Object: out << "[object " << static_cast<const void*>(m_object.get()) << ']'; break;
    }
    return out.str();
}

bool operator==(const Value& a, const Value& b)
{
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case Value::Type::Undefined:
    case Value::Type::Null: return true;
    case Value::Type::Bool: return a.asBool() == b.asBool();
    case Value::Type::Int32: return a.asInt() == b.asInt();
    case Value::Type::Double: return a.asNumber() == b.asNumber();
    case Value::Type::String: return a.asString() == b.asString();
    case Value::Type::Object: return a.object() == b.object();
    }
    return false;
}

void PrintTo(const Value& value, std::ostream* os)
{
    *os << value.describe();
}

} // namespace fakebrowser
