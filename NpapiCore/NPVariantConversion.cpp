// Values across the browser boundary: FB::variant to NPVariant by a table of
// converters keyed by the held type, NPVariant to FB::variant by the tag.
#include <atomic>
#include <limits>
#include <map>
#include <new>
#include <string>
#include <typeindex>
#include <typeinfo>

#include "DOM/Window.h"
#include "NPJavascriptObject.h"
#include "NPObjectAPI.h"
#include "NpapiBrowserHost.h"
#include "variant.h"

namespace FB {
namespace Npapi {

namespace {

typedef void (*Converter)(NpapiBrowserHost& host, const variant& value, NPVariant* dst);
typedef std::map<std::type_index, Converter> ConverterMap;

void makeNPVariantBool(NpapiBrowserHost&, const variant& value, NPVariant* dst)
{
    const bool b = value.convert_cast<bool>();
    dst->type = NPVariantType_Bool;
    dst->value.boolValue = b;
}

void makeNPVariantInt(NpapiBrowserHost&, const variant& value, NPVariant* dst)
{
    const int i = value.convert_cast<int>();
    dst->type = NPVariantType_Int32;
    dst->value.intValue = i;
}

void makeNPVariantDouble(NpapiBrowserHost&, const variant& value, NPVariant* dst)
{
    const double d = value.convert_cast<double>();
    dst->type = NPVariantType_Double;
    dst->value.doubleValue = d;
}

// Integers wider than a script number travel as their decimal text; wide
// strings as UTF-8.
void makeNPVariantString(NpapiBrowserHost& host, const variant& value, NPVariant* dst)
{
    const std::string text(value.convert_cast<std::string>());
    if (text.size() >= std::numeric_limits<uint32_t>::max())
        throw std::bad_alloc();
    char* const buffer = static_cast<char*>(host.MemAlloc(static_cast<uint32_t>(text.size() + 1)));
    if (!buffer)
        throw std::bad_alloc();
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    dst->type = NPVariantType_String;
    dst->value.stringValue.UTF8Characters = buffer;
    dst->value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
}

void makeNPVariantNull(NpapiBrowserHost&, const variant&, NPVariant* dst)
{
    dst->type = NPVariantType_Null;
    dst->value.objectValue = nullptr;
}

void makeNPVariantVoid(NpapiBrowserHost&, const variant&, NPVariant* dst)
{
    dst->type = NPVariantType_Void;
    dst->value.objectValue = nullptr;
}

void setObject(NPVariant* dst, NPObject* object)
{
    dst->type = object ? NPVariantType_Object : NPVariantType_Null;
    dst->value.objectValue = object;
}

// The last dynamic type found not to be a page object: the same type (a
// method's function object, over and over) is then told apart without a
// dynamic cast, whose walk up the class tree compares type names.
std::atomic<const std::type_info*> g_lastOtherType(nullptr);

// A page object goes back as the very browser object it came from.
bool setPageObject(NpapiBrowserHost& host, const JSAPIPtr& object, NPVariant* dst)
{
    const std::type_info& type = typeid(*object);
    if (&type == g_lastOtherType.load(std::memory_order_relaxed))
        return false;
    const NPObjectAPI* const page = dynamic_cast<const NPObjectAPI*>(object.get());
    if (!page) {
        g_lastOtherType.store(&type, std::memory_order_relaxed);
        return false;
    }
    setObject(dst, host.RetainObject(page->getNPObject()));
    return true;
}

// A held reference: the browser object keeps the scriptable object alive.
void setJSAPI(NpapiBrowserHost& host, const JSAPIPtr& object, NPVariant* dst)
{
    if (!object)
        return setObject(dst, nullptr);
    if (!setPageObject(host, object, dst))
        setObject(dst, host.getJSAPIWrapper(object, true));
}

void makeNPVariantJSAPI(NpapiBrowserHost& host, const variant& value, NPVariant* dst)
{
    setJSAPI(host, value.cast<JSAPIPtr>(), dst);
}

void makeNPVariantWeakJSAPI(NpapiBrowserHost& host, const variant& value, NPVariant* dst)
{
    const JSAPIPtr object(value.cast<JSAPIWeakPtr>().lock());
    if (!object)
        return setObject(dst, nullptr);
    if (!setPageObject(host, object, dst))
        setObject(dst, host.getJSAPIWrapper(object, false));
}

void makeNPVariantJSObject(NpapiBrowserHost& host, const variant& value, NPVariant* dst)
{
    const JSObjectPtr object(value.cast<JSObjectPtr>());
    if (!object)
        return setObject(dst, nullptr);
    if (!setPageObject(host, object, dst)) {
        const NpapiBrowserHostPtr self(
            boost::static_pointer_cast<NpapiBrowserHost>(host.shared_from_this()));
        setObject(dst, NPJavascriptObject::newObject(self, JSAPIPtr(object), true));
    }
}

void setContainer(NpapiBrowserHost& host, const JSObjectPtr& container, NPVariant* dst)
{
    setPageObject(host, container, dst);
}

void makeNPVariantList(NpapiBrowserHost& host, const variant& value, NPVariant* dst)
{
    const JSObjectPtr array(host.getDOMWindow()->createArray());
    const VariantList& list = value.cast<VariantList>();
    VariantList one(1);
    for (const variant& element : list) {
        one[0] = element;
        array->invoke("push", one);
    }
    setContainer(host, array, dst);
}

void makeNPVariantMap(NpapiBrowserHost& host, const variant& value, NPVariant* dst)
{
    const JSObjectPtr object(host.getDOMWindow()->createObject());
    const VariantMap& map = value.cast<VariantMap>();
    for (VariantMap::const_iterator it = map.begin(); it != map.end(); ++it)
        object->setProperty(it->first, it->second);
    setContainer(host, object, dst);
}

struct ConverterEntry {
    const std::type_info* type;
    Converter convert;
};

// The converter of each held type, the most frequent first.
const ConverterEntry kConverters[] = {
    {&typeid(int), &makeNPVariantInt},
    {&typeid(bool), &makeNPVariantBool},
    {&typeid(double), &makeNPVariantDouble},
    {&typeid(std::string), &makeNPVariantString},
    {&typeid(JSAPIPtr), &makeNPVariantJSAPI},
    {&typeid(variant_detail::empty), &makeNPVariantVoid},
    {&typeid(variant_detail::null), &makeNPVariantNull},
    {&typeid(JSObjectPtr), &makeNPVariantJSObject},
    {&typeid(VariantList), &makeNPVariantList},
    {&typeid(VariantMap), &makeNPVariantMap},
    {&typeid(JSAPIWeakPtr), &makeNPVariantWeakJSAPI},
    {&typeid(std::wstring), &makeNPVariantString},
    {&typeid(float), &makeNPVariantDouble},
    {&typeid(char), &makeNPVariantInt},
    {&typeid(unsigned char), &makeNPVariantInt},
    {&typeid(short), &makeNPVariantInt},
    {&typeid(unsigned short), &makeNPVariantInt},
    {&typeid(unsigned int), &makeNPVariantString},
    {&typeid(long), &makeNPVariantString},
    {&typeid(unsigned long), &makeNPVariantString},
    {&typeid(long long), &makeNPVariantString},
    {&typeid(unsigned long long), &makeNPVariantString},
};

// The converter for the held type, or null. Found by the type_info's
// address first; a type_info object of another library (same type, other
// address) is found by the ordered table, which compares type names.
Converter converterFor(const std::type_info& type)
{
    for (const ConverterEntry& entry : kConverters) {
        if (entry.type == &type)
            return entry.convert;
    }
    static const ConverterMap map = [] {
        ConverterMap byType;
        for (const ConverterEntry& entry : kConverters)
            byType.emplace(std::type_index(*entry.type), entry.convert);
        return byType;
    }();
    const ConverterMap::const_iterator found = map.find(std::type_index(type));
    return found == map.end() ? nullptr : found->second;
}

} // namespace

void NpapiBrowserHost::getNPVariant(NPVariant* dst, const variant& value)
{
    const Converter convert = converterFor(value.getType());
    if (!convert)
        return;
    // Built aside, so that a converter that throws midway leaves dst as the
    // caller set it.
    NPVariant converted;
    converted.type = NPVariantType_Void;
    converted.value.objectValue = nullptr;
    convert(*this, value, &converted);
    *dst = converted;
}

void NpapiBrowserHost::getNPVariant(NPVariant* dst, const JSAPIPtr& object)
{
    NPVariant converted;
    converted.type = NPVariantType_Void;
    converted.value.objectValue = nullptr;
    setJSAPI(*this, object, &converted);
    *dst = converted;
}

VariantList NpapiBrowserHost::takeArgumentList()
{
    VariantList list;
    list.swap(m_argumentList);
    return list;
}

void NpapiBrowserHost::giveArgumentList(VariantList& list)
{
    // A list grown by an unusually long call is not kept.
    const size_t kKeptCapacity = 16;
    list.clear();
    if (list.capacity() > m_argumentList.capacity() && list.capacity() <= kKeptCapacity)
        m_argumentList.swap(list);
}

variant NpapiBrowserHost::getVariant(const NPVariant* src)
{
    switch (src->type) {
    case NPVariantType_Null:
        return variant(variant_detail::null());
    case NPVariantType_Bool:
        return variant(src->value.boolValue);
    case NPVariantType_Int32:
        return variant(static_cast<int>(src->value.intValue));
    case NPVariantType_Double:
        return variant(src->value.doubleValue);
    case NPVariantType_String: {
        const NPString& text = src->value.stringValue;
        if (!text.UTF8Characters)
            return variant(std::string());
        return variant(std::string(text.UTF8Characters, text.UTF8Length));
    }
    case NPVariantType_Object: {
        if (!src->value.objectValue)
            return variant(variant_detail::null());
        const NpapiBrowserHostPtr self(
            boost::static_pointer_cast<NpapiBrowserHost>(shared_from_this()));
        return variant(JSObjectPtr(new NPObjectAPI(src->value.objectValue, self)));
    }
    case NPVariantType_Void:
    default:
        return variant();
    }
}

} // namespace Npapi
} // namespace FB
