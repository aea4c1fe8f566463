// FB::JSAPIAuto: a scriptable object built from registries of methods,
// accessor properties and stored attributes, registered by name.
//
// Script reaches the registered members through the FB::JSAPI member
// operations. A member is visible while the object's current zone (its
// getCurrentZone, which a deriving class may override) is at least the zone
// that was current when its name was last registered. Unknown names
// read as no value (the FB::variant_detail::empty marker) and are created by
// assignment while dynamic attributes are on; each method can also be read as
// a property, as a cached FB::JSFunction. Every object answers "toString",
// "getAttribute", "setAttribute", "value" and "valid". After invalidate the
// member operations refuse (FB::object_invalidated) or answer false; the
// listing and the registrations go on working.
//
// Threads: the member operations and addMethod, addProperty and addAttribute
// hold zoneMutex (recursive) from start to end, including while the method,
// getter or setter runs; so does a thread that has entered a zone. The other
// registration and attribute operations take no lock: call them on the
// object's own thread, or from inside one of its methods.
// Must be owned by a shared pointer to hand out function objects or fire.
#ifndef FB_JSAPIAUTO_H
#define FB_JSAPIAUTO_H

#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <boost/function.hpp>

#include "APITypes.h"
#include "JSAPIImpl.h"
#include "variant.h"

namespace FB {

class JSFunction;
typedef boost::shared_ptr<JSFunction> JSFunctionPtr;

class JSAPIAuto : public JSAPIImpl {
public:
    struct Attribute {
        variant value;
        bool readOnly;
    };

    // Either may be empty; calling an empty one raises boost::bad_function_call.
    struct PropertyAccessors {
        boost::function<variant()> getter;
        boost::function<void(const variant&)> setter;
    };

    explicit JSAPIAuto(const std::string& description);
    JSAPIAuto(int zone, const std::string& description);
    ~JSAPIAuto() override;

    using JSAPI::getMemberNames;
    using JSAPI::hasMethod;
    using JSAPI::hasMethodFunction;
    using JSAPI::hasProperty;
    using JSAPI::getMethodFunction;
    using JSAPI::getProperty;
    using JSAPI::setProperty;
    using JSAPI::removeProperty;
    using JSAPI::invoke;
    using JSAPIImpl::fireEventObject;

    void getMemberNames(std::vector<std::string>& names) const override;
    size_t getMemberCount() const override;
    bool hasMethod(const std::string& name) const override;
    bool hasMethodFunction(const std::string& name) const override;
    bool hasProperty(const std::string& name) const override;
    bool hasPropertyByIndex(int index) const override;
    JSAPIPtr getMethodFunction(const std::string& name) override;
    variant getProperty(const std::string& name) override;
    void setProperty(const std::string& name, const variant& value) override;
    variant getPropertyByIndex(int index) override;
    void setPropertyByIndex(int index, const variant& value) override;
    void removeProperty(const std::string& name) override;
    void removePropertyByIndex(int index) override;
    variant invoke(const std::string& name, const VariantList& args) override;
    variant construct(const VariantList& args) override;

    // Also calls a page object stored in the attribute named like the event.
    void notifyHandlers(const std::string& name, const VariantList& args) override;
    void fireEventObject(const std::string& name, const VariantMap& members,
                         const VariantList& args) override;

    virtual void addAttribute(const std::string& name, const variant& value, bool readOnly);
    virtual void addReservedName(const std::string& name);
    virtual void removeMethod(const std::wstring& name);
    virtual void removeMethod(const std::string& name);
    virtual void addMethod(const std::wstring& name, const MethodHandler& method);
    virtual void addMethod(const std::string& name, const MethodHandler& method);
    virtual void addProperty(const std::wstring& name, const PropertyAccessors& accessors);
    virtual void addProperty(const std::string& name, const PropertyAccessors& accessors);
    virtual void removeAccessorProperty(const std::wstring& name);
    virtual void removeAccessorProperty(const std::string& name);
    virtual std::string toString();
    virtual bool getValid();
    virtual variant getAttribute(const std::string& name);
    virtual void setAttribute(const std::string& name, const variant& value);
    virtual void removeAttribute(const std::string& name);

    // The process-wide defaults copied into each new object's flags.
    static bool s_allowDynamicAttributes;
    static bool s_allowRemoveProperties;
    static bool s_allowMethodObjects;

protected:
    // Hashed by name; only the listing sorts (byte order).
    // Function objects by method name, then by zone.
    typedef std::unordered_map<std::string, std::map<int, JSFunctionPtr> > MethodFunctionCache;
    typedef std::unordered_map<std::string, MethodHandler> MethodMap;
    typedef std::unordered_map<std::string, PropertyAccessors> PropertyMap;
    // A name's zone, and the name's method when it has one (an element of
    // `methods`, kept in step by every registration and removal), so that
    // one lookup tells whether the name is a method the zone may see.
    struct MemberZone {
        int zone;
        const MethodHandler* method;
    };
    typedef std::unordered_map<std::string, MemberZone> ZoneMap;
    typedef std::unordered_map<std::string, Attribute> AttributeMap;
    typedef std::unordered_set<std::string> StringSet;

    // Whether the name is registered in a zone the current zone reaches.
    // The caller holds zoneMutex.
    bool memberAccessible(const std::string& name) const;
    // The name's entry when the name is visible in the current zone, else
    // null. The caller holds zoneMutex.
    const MemberZone* visibleMember(const std::string& name) const;
    // getCurrentZone, the one rule of what the page sees: a deriving class
    // may override it.
    int currentZone() const;
    // Drops every attribute; a name that is also a method or an accessor
    // property keeps its zone. The values go once zoneMutex is released: a
    // page object's end may call back into this object.
    void dropAttributes();

    MethodFunctionCache methodFunctionCache;
    MethodMap methods;
    PropertyMap properties;
    ZoneMap memberZones;
    std::string description;
    AttributeMap attributes;
    StringSet reservedNames;
    bool dynamicAttributes;
    bool removableProperties;
    bool methodFunctions;

private:
    void registerDefaults();
    // Records the zone for the name and links the name's method. Each
    // registration reads the zone before it changes anything, so a zone
    // that cannot be read leaves the object as it was.
    void setMemberZone(const std::string& name, int zone);
    void eraseMemberZone(const std::string& name);

    // The entry found by the last lookup, or null: a page call asks for
    // one name several times. Cleared whenever an entry goes.
    mutable const ZoneMap::value_type* lastMember;
    // The page object stored in the attribute named like the event, if any.
    JSObjectPtr attributeHandler(const std::string& name);
};

} // namespace FB

#endif
