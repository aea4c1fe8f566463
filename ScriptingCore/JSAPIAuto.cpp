#include "JSAPIAuto.h"

#include <algorithm>

#include <boost/make_shared.hpp>

#include "EventObject.h"
#include "JSFunction.h"
#include "JSObject.h"
#include "ZoneGuard.h"
#include "method_wrappers.h"
#include "script_error.h"
#include "utf8_tools.h"

namespace FB {

bool JSAPIAuto::s_allowDynamicAttributes = true;
bool JSAPIAuto::s_allowRemoveProperties = false;
bool JSAPIAuto::s_allowMethodObjects = true;

namespace {
typedef boost::recursive_mutex::scoped_lock ScopedLock;

// Names that dynamic attributes do not claim, in registration order.
const char* const kReservedNames[] = {
    "offsetWidth", "offsetHeight", "width",           "height",    "attributes",
    "nodeType",    "namespaceURI", "localName",       "wrappedJSObject",
    "prototype",   "style",        "id",              "constructor",
};

void ignoreValue(const variant&) {}

std::string indexName(int index) { return std::to_string(index); }

// Runs a method, getter or setter; a value it could not convert reaches the
// page as an argument error naming both types.
template <class Call>
auto callConverting(Call call) -> decltype(call()) {
    try {
        return call();
    } catch (const bad_variant_cast& e) {
        throw invalid_arguments(std::string("Could not convert from ") + e.from + " to " + e.to);
    }
}
} // namespace

JSAPIAuto::JSAPIAuto(const std::string& description) : JSAPIAuto(0, description) {}

JSAPIAuto::JSAPIAuto(int zone, const std::string& description)
    : JSAPIImpl(zone), description(description), dynamicAttributes(s_allowDynamicAttributes),
      removableProperties(s_allowRemoveProperties), methodFunctions(s_allowMethodObjects),
      lastMember(NULL) {
    registerDefaults();
}

JSAPIAuto::~JSAPIAuto() {}

void JSAPIAuto::registerDefaults() {
    {
        ZoneGuard guard(this, 0);
        addMethod("toString", bindMethod(this, &JSAPIAuto::toString));
        addMethod("getAttribute", bindMethod(this, &JSAPIAuto::getAttribute));
        addMethod("setAttribute", bindMethod(this, &JSAPIAuto::setAttribute));

        PropertyAccessors value;
        value.getter = [this] { return variant(toString()); };
        value.setter = &ignoreValue;
        addProperty("value", value);

        PropertyAccessors validity;
        validity.getter = [this] { return variant(getValid()); };
        validity.setter = &ignoreValue;
        addProperty("valid", validity);
    }
    for (size_t i = 0; i < sizeof(kReservedNames) / sizeof(kReservedNames[0]); ++i)
        addReservedName(kReservedNames[i]);
}

bool JSAPIAuto::memberAccessible(const std::string& name) const {
    return visibleMember(name) != NULL;
}

const JSAPIAuto::MemberZone* JSAPIAuto::visibleMember(const std::string& name) const {
    const ZoneMap::value_type* entry = lastMember;
    if (!entry || entry->first != name) {
        ZoneMap::const_iterator it = memberZones.find(name);
        if (it == memberZones.end())
            return NULL;
        entry = lastMember = &*it;
    }
    if (currentZone() < entry->second.zone)
        return NULL;
    return &entry->second;
}

int JSAPIAuto::currentZone() const {
    // Through the virtual: a class that overrides getCurrentZone decides what
    // the page sees. getCurrentZone changes nothing; it is not const only by
    // its interface.
    return const_cast<JSAPIAuto*>(this)->getCurrentZone();
}

void JSAPIAuto::eraseMemberZone(const std::string& name) {
    lastMember = NULL;
    memberZones.erase(name);
}

void JSAPIAuto::setMemberZone(const std::string& name, int zone) {
    MemberZone& entry = memberZones[name];
    entry.zone = zone;
    MethodMap::const_iterator method = methods.find(name);
    entry.method = method == methods.end() ? NULL : &method->second;
}

// Registration ---------------------------------------------------------------

void JSAPIAuto::addAttribute(const std::string& name, const variant& value, bool readOnly) {
    ScopedLock lock(zoneMutex);
    const int zone = currentZone();
    Attribute attribute = {value, readOnly};
    attributes[name] = attribute;
    setMemberZone(name, zone);
}

void JSAPIAuto::dropAttributes() {
    AttributeMap dropped;
    ScopedLock lock(zoneMutex);
    for (AttributeMap::const_iterator it = attributes.begin(); it != attributes.end(); ++it) {
        if (!methods.count(it->first) && !properties.count(it->first))
            eraseMemberZone(it->first);
    }
    dropped.swap(attributes);
}

void JSAPIAuto::addReservedName(const std::string& name) { reservedNames.insert(name); }

void JSAPIAuto::removeMethod(const std::wstring& name) { removeMethod(wideToUtf8(name)); }

void JSAPIAuto::removeMethod(const std::string& name) {
    if (methods.erase(name))
        eraseMemberZone(name);
}

void JSAPIAuto::addMethod(const std::wstring& name, const MethodHandler& method) {
    addMethod(wideToUtf8(name), method);
}

void JSAPIAuto::addMethod(const std::string& name, const MethodHandler& method) {
    ScopedLock lock(zoneMutex);
    const int zone = currentZone();
    methods[name] = method;
    setMemberZone(name, zone);
}

void JSAPIAuto::addProperty(const std::wstring& name, const PropertyAccessors& accessors) {
    addProperty(wideToUtf8(name), accessors);
}

void JSAPIAuto::addProperty(const std::string& name, const PropertyAccessors& accessors) {
    ScopedLock lock(zoneMutex);
    const int zone = currentZone();
    properties[name] = accessors;
    setMemberZone(name, zone);
}

void JSAPIAuto::removeAccessorProperty(const std::wstring& name) {
    removeAccessorProperty(wideToUtf8(name));
}

void JSAPIAuto::removeAccessorProperty(const std::string& name) {
    if (properties.erase(name))
        eraseMemberZone(name);
}

std::string JSAPIAuto::toString() { return description; }

bool JSAPIAuto::getValid() { return true; }

variant JSAPIAuto::getAttribute(const std::string& name) {
    AttributeMap::const_iterator it = attributes.find(name);
    if (it == attributes.end())
        return variant(variant_detail::empty());
    return it->second.value;
}

void JSAPIAuto::setAttribute(const std::string& name, const variant& value) {
    AttributeMap::iterator it = attributes.find(name);
    if (it != attributes.end() && it->second.readOnly)
        throw script_error("Cannot set read-only property " + name);
    const int zone = currentZone();
    Attribute attribute = {value, false};
    attributes[name] = attribute;
    setMemberZone(name, zone);
}

void JSAPIAuto::removeAttribute(const std::string& name) {
    AttributeMap::iterator it = attributes.find(name);
    if (it == attributes.end())
        return;
    if (it->second.readOnly)
        throw script_error("Cannot remove read-only property " + name);
    attributes.erase(it);
    eraseMemberZone(name);
}

// Listing and tests ----------------------------------------------------------

void JSAPIAuto::getMemberNames(std::vector<std::string>& names) const {
    ScopedLock lock(zoneMutex);
    names.clear();
    const int zone = currentZone();
    for (ZoneMap::const_iterator it = memberZones.begin(); it != memberZones.end(); ++it) {
        if (zone >= it->second.zone)
            names.push_back(it->first);
    }
    std::sort(names.begin(), names.end());
}

size_t JSAPIAuto::getMemberCount() const {
    ScopedLock lock(zoneMutex);
    const int zone = currentZone();
    size_t count = 0;
    for (ZoneMap::const_iterator it = memberZones.begin(); it != memberZones.end(); ++it) {
        if (zone >= it->second.zone)
            ++count;
    }
    return count;
}

bool JSAPIAuto::hasMethod(const std::string& name) const {
    ScopedLock lock(zoneMutex);
    if (!valid)
        return false;
    const MemberZone* member = visibleMember(name);
    return member && member->method;
}

bool JSAPIAuto::hasMethodFunction(const std::string& name) const {
    ScopedLock lock(zoneMutex);
    return methodFunctions && hasMethod(name);
}

bool JSAPIAuto::hasProperty(const std::string& name) const {
    ScopedLock lock(zoneMutex);
    if (!valid)
        return false;
    bool isMethod = hasMethod(name);
    if (dynamicAttributes && !isMethod && !reservedNames.count(name))
        return true;
    if (methodFunctions && isMethod)
        return true;
    if (properties.count(name))
        return true;
    return attributes.count(name) != 0;
}

bool JSAPIAuto::hasPropertyByIndex(int index) const {
    ScopedLock lock(zoneMutex);
    if (!valid)
        return false;
    if (dynamicAttributes)
        return true;
    return attributes.count(indexName(index)) != 0;
}

// Member operations ----------------------------------------------------------

JSAPIPtr JSAPIAuto::getMethodFunction(const std::string& name) {
    ScopedLock lock(zoneMutex);
    if (!valid)
        throw object_invalidated();
    if (!memberAccessible(name) || !hasMethod(name))
        throw invalid_member(name);
    const int zone = currentZone();
    MethodFunctionCache::iterator named = methodFunctionCache.find(name);
    if (named != methodFunctionCache.end()) {
        std::map<int, JSFunctionPtr>::const_iterator it = named->second.find(zone);
        if (it != named->second.end())
            return it->second;
    }
    JSFunctionPtr function =
        boost::make_shared<JSFunction>(JSAPIWeakPtr(shared_from_this()), name, zone);
    methodFunctionCache[name][zone] = function;
    return function;
}

variant JSAPIAuto::getProperty(const std::string& name) {
    ScopedLock lock(zoneMutex);
    if (!valid)
        throw object_invalidated();
    if (memberAccessible(name)) {
        PropertyMap::const_iterator property = properties.find(name);
        if (property != properties.end()) {
            // A copy, so that a getter that changes the registry runs safely.
            boost::function<variant()> getter = property->second.getter;
            return callConverting([&] { return getter(); });
        }
        if (hasMethodFunction(name))
            return variant(getMethodFunction(name));
        AttributeMap::const_iterator attribute = attributes.find(name);
        if (attribute != attributes.end())
            return attribute->second.value;
    }
    if (dynamicAttributes)
        return variant(variant_detail::empty());
    throw invalid_member(name);
}

void JSAPIAuto::setProperty(const std::string& name, const variant& value) {
    ScopedLock lock(zoneMutex);
    if (!valid)
        throw object_invalidated();
    PropertyMap::const_iterator property = properties.find(name);
    if (property != properties.end()) {
        if (!memberAccessible(name))
            throw invalid_member(name);
        boost::function<void(const variant&)> setter = property->second.setter;
        callConverting([&] { setter(value); });
        return;
    }
    AttributeMap::const_iterator attribute = attributes.find(name);
    if (dynamicAttributes || (attribute != attributes.end() && !attribute->second.readOnly)) {
        addAttribute(name, value, false);
        return;
    }
    throw invalid_member(name);
}

void JSAPIAuto::removeProperty(const std::string& name) {
    ScopedLock lock(zoneMutex);
    if (!valid)
        throw object_invalidated();
    if (!memberAccessible(name))
        throw invalid_member(name);
    if (removableProperties && properties.count(name)) {
        removeAccessorProperty(name);
        return;
    }
    AttributeMap::const_iterator attribute = attributes.find(name);
    if (dynamicAttributes && attribute != attributes.end() && !attribute->second.readOnly)
        removeAttribute(name);
}

variant JSAPIAuto::getPropertyByIndex(int index) {
    ScopedLock lock(zoneMutex);
    if (!valid)
        throw object_invalidated();
    std::string name(indexName(index));
    AttributeMap::const_iterator attribute = attributes.find(name);
    if (attribute != attributes.end() && memberAccessible(name))
        return attribute->second.value;
    if (dynamicAttributes)
        return variant(variant_detail::empty());
    throw invalid_member(name);
}

void JSAPIAuto::setPropertyByIndex(int index, const variant& value) {
    if (!valid)
        throw object_invalidated();
    ScopedLock lock(zoneMutex);
    std::string name(indexName(index));
    AttributeMap::const_iterator attribute = attributes.find(name);
    if (!dynamicAttributes && (attribute == attributes.end() || attribute->second.readOnly))
        throw invalid_member(name);
    addAttribute(name, value, false);
}

void JSAPIAuto::removePropertyByIndex(int index) {
    if (!valid)
        throw object_invalidated();
    ScopedLock lock(zoneMutex);
    std::string name(indexName(index));
    AttributeMap::const_iterator attribute = attributes.find(name);
    if (dynamicAttributes && attribute != attributes.end() && !attribute->second.readOnly) {
        removeAttribute(name);
        return;
    }
    throw invalid_member(name);
}

variant JSAPIAuto::invoke(const std::string& name, const VariantList& args) {
    ScopedLock lock(zoneMutex);
    if (!valid)
        throw object_invalidated();
    const MemberZone* member = visibleMember(name);
    if (!member || !member->method)
        throw invalid_member(name);
    // A copy, so that a method that re-registers itself runs safely.
    MethodHandler handler = *member->method;
    return callConverting([&] { return handler(args); });
}

variant JSAPIAuto::construct(const VariantList&) {
    ScopedLock lock(zoneMutex);
    if (!valid)
        throw object_invalidated();
    throw invalid_member("constructor");
}

// Events ---------------------------------------------------------------------

JSObjectPtr JSAPIAuto::attributeHandler(const std::string& name) {
    // An invalidated object fires nothing, through its attributes neither.
    if (!valid)
        return JSObjectPtr();
    variant value = getAttribute(name);
    if (!value.is_of_type<JSObjectPtr>())
        return JSObjectPtr();
    return value.cast<JSObjectPtr>();
}

void JSAPIAuto::notifyHandlers(const std::string& name, const VariantList& args) {
    JSAPIImpl::notifyHandlers(name, args);
    try {
        JSObjectPtr handler = attributeHandler(name);
        if (handler)
            handler->invokeAsync("", args);
    } catch (...) {
        // The attribute's page object failing does not fail the event.
    }
}

void JSAPIAuto::fireEventObject(const std::string& name, const VariantMap& members,
                                const VariantList& args) {
    JSAPIImpl::fireEventObject(name, members, args);
    JSObjectPtr handler = attributeHandler(name);
    if (!handler)
        return;
    VariantList eventArgs(1, variant(makeEventObject(shared_from_this(), name, members, args)));
    try {
        handler->invokeAsync("", eventArgs);
    } catch (...) {
        // The attribute's page object failing does not fail the event.
    }
}

} // namespace FB
