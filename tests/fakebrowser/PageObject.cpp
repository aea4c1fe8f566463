#include "PageObject.h"

#include <cmath>
#include <cstring>
#include <exception>

#include "FakeBrowser.h"
#include "Identifiers.h"

namespace fakebrowser {

namespace {

// The longest array a page may ask for by setting "length".
const double kMaxArrayLength = 1 << 20;

PageObject* self(NPObject* object)
{
    return static_cast<PageObject*>(object);
}

// The property name a script engine sees: the text, or the decimal integer.
bool keyOf(PageObject* page, NPIdentifier id, std::string* key)
{
    if (!isKnownIdentifier(id)) {
        page->browser->recordViolation("an identifier the browser never made");
        return false;
    }
    *key = identifierText(id);
    return true;
}

// An array index: an integer identifier, or a canonical decimal text.
bool indexOf(const PageObject* page, NPIdentifier id, std::size_t* index)
{
    if (page->kind != PageKind::Array)
        return false;
    if (!identifierIsString(id)) {
        if (identifierInt(id) < 0)
            return false;
        *index = static_cast<std::size_t>(identifierInt(id));
        return true;
    }
    const std::string& text = identifierString(id);
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0'))
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    *index = static_cast<std::size_t>(std::stoul(text));
    return true;
}

Value lookup(PageObject* page, NPIdentifier id, const std::string& key)
{
    std::size_t index = 0;
    if (indexOf(page, id, &index))
        return index < page->elements.size() ? page->elements[index] : Value();
    if (page->kind == PageKind::Array && key == "length")
        return Value(static_cast<int32_t>(page->elements.size()));
    const auto it = page->properties.find(key);
    return it == page->properties.end() ? Value() : it->second;
}

std::vector<Value> arguments(PageObject* page, const NPVariant* args, uint32_t count)
{
    std::vector<Value> values;
    values.reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        values.push_back(page->browser->fromNPVariant(args[i]));
    return values;
}

// Runs a native function; a ScriptError fails the call and, since no script
// catches it, is reported as the page's error.
bool callNative(PageObject* function, const Value& thisValue, const std::vector<Value>& args, NPVariant* result)
{
    try {
        const Value value = function->function(thisValue, args);
        function->browser->toOwnedNPVariant(value, result);
        return true;
    } catch (const std::exception& e) {
        function->browser->recordPageError(e.what());
        return false;
    }
}

NPObject* npAllocate(NPP, NPClass*)
{
    return new (std::nothrow) PageObject;
}

void npDeallocate(NPObject* object)
{
    delete self(object);
}

bool npHasMethod(NPObject* object, NPIdentifier name)
{
    PageObject* page = self(object);
    std::string key;
    if (!keyOf(page, name, &key))
        return false;
    if (page->kind == PageKind::Array && key == "push")
        return true;
    const Value member = lookup(page, name, key);
    const PageObject* function = member.isObject() ? asPageObject(member.object()) : nullptr;
    return function && function->kind == PageKind::Function;
}

bool npInvoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count, NPVariant* result)
{
    PageObject* page = self(object);
    FakeBrowser& browser = *page->browser;
    try {
        std::string key;
        if (!keyOf(page, name, &key))
            return false;
        std::vector<Value> values = arguments(page, args, count);
        if (page->kind == PageKind::Array && key == "push") {
            for (Value& value : values)
                page->elements.push_back(std::move(value));
            browser.toOwnedNPVariant(Value(static_cast<int32_t>(page->elements.size())), result);
            return true;
        }
        const Value member = lookup(page, name, key);
        PageObject* function = member.isObject() ? asPageObject(member.object()) : nullptr;
        if (function && function->kind == PageKind::Function)
            return callNative(function, Value(ObjectRef::retain(browser, object)), values, result);
        if (member.isObject()) {
            // Another class's object called as a function.
            const CallResult call = browser.invokeDefault(member.object(), values);
            if (call.ok)
                browser.toOwnedNPVariant(call.value, result);
            return call.ok;
        }
        browser.recordPageError("TypeError: " + key + " is not a function");
        return false;
    } catch (const std::exception& e) {
        browser.recordPageError(e.what());
        return false;
    }
}

bool npInvokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
{
    PageObject* page = self(object);
    if (page->kind != PageKind::Function)
        return false;
    try {
        return callNative(page, Value(), arguments(page, args, count), result);
    } catch (const std::exception& e) {
        page->browser->recordPageError(e.what());
        return false;
    }
}

bool npHasProperty(NPObject* object, NPIdentifier name)
{
    PageObject* page = self(object);
    std::string key;
    if (!keyOf(page, name, &key))
        return false;
    std::size_t index = 0;
    if (indexOf(page, name, &index))
        return index < page->elements.size();
    if (page->kind == PageKind::Array && key == "length")
        return true;
    return page->properties.count(key) != 0;
}

bool npGetProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    PageObject* page = self(object);
    try {
        std::string key;
        if (!keyOf(page, name, &key))
            return false;
        if (++page->reads > page->readLimit) {
            page->browser->recordViolation("a page object read past its limit: " + key);
            return false;
        }
        page->browser->toOwnedNPVariant(lookup(page, name, key), result);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool npSetProperty(NPObject* object, NPIdentifier name, const NPVariant* value)
{
    PageObject* page = self(object);
    try {
        std::string key;
        if (!keyOf(page, name, &key) || !value)
            return false;
        Value v = page->browser->fromNPVariant(*value);
        std::size_t index = 0;
        if (indexOf(page, name, &index)) {
            if (index >= page->elements.size())
                page->elements.resize(index + 1);
            page->elements[index] = std::move(v);
        } else if (page->kind == PageKind::Array && key == "length") {
            // A script engine refuses a length that is no whole number of 0
            // or more; this browser's arrays are dense, so it refuses a huge
            // one too.
            const double length = v.isNumber() ? v.asNumber() : 0;
            if (!(length >= 0 && length <= kMaxArrayLength) || length != std::floor(length))
                return false;
            page->elements.resize(static_cast<std::size_t>(length));
        } else {
            page->properties[key] = std::move(v);
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool npRemoveProperty(NPObject* object, NPIdentifier name)
{
    PageObject* page = self(object);
    try {
        std::string key;
        if (!keyOf(page, name, &key))
            return false;
        std::size_t index = 0;
        if (indexOf(page, name, &index)) {
            if (index < page->elements.size())
                page->elements[index] = Value();  // a hole, as "delete" leaves
        } else {
            const auto it = page->properties.find(key);
            if (it != page->properties.end()) {
                const Value removed = std::move(it->second);  // released after the erase
                page->properties.erase(it);
            }
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool npEnumerate(NPObject* object, NPIdentifier** identifiers, uint32_t* count)
{
    PageObject* page = self(object);
    try {
        std::vector<NPIdentifier> ids;
        for (std::size_t i = 0; i < page->elements.size(); ++i)
            ids.push_back(intIdentifier(static_cast<int32_t>(i)));
        for (const auto& property : page->properties)
            ids.push_back(stringIdentifier(property.first));
        void* block = page->browser->memory().allocate(static_cast<uint32_t>(ids.size() * sizeof(NPIdentifier)));
        if (!block)
            return false;
        if (!ids.empty())
            std::memcpy(block, ids.data(), ids.size() * sizeof(NPIdentifier));
        *identifiers = static_cast<NPIdentifier*>(block);
        *count = static_cast<uint32_t>(ids.size());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool npConstruct(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
{
    return npInvokeDefault(object, args, count, result);
}

NPClass g_pageClass = {NP_CLASS_STRUCT_VERSION_CTOR,
                       npAllocate,
                       npDeallocate,
                       nullptr,
                       npHasMethod,
                       npInvoke,
                       npInvokeDefault,
                       npHasProperty,
                       npGetProperty,
                       npSetProperty,
                       npRemoveProperty,
                       npEnumerate,
                       npConstruct};

} // namespace

void PageObject::clear()
{
    // Moved out first: releasing a value may come back to this object.
    std::map<std::string, Value> oldProperties;
    oldProperties.swap(properties);
    std::vector<Value> oldElements;
    oldElements.swap(elements);
    NativeFunction oldFunction;
    oldFunction.swap(function);
}

NPClass* pageClass()
{
    return &g_pageClass;
}

PageObject* asPageObject(NPObject* object)
{
    return object && object->_class == &g_pageClass ? static_cast<PageObject*>(object) : nullptr;
}

} // namespace fakebrowser
