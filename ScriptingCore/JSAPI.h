// FB::JSAPI: the one interface through which script reaches an object of the
// plugin and the plugin reaches an object of the page.
//
// Member names are UTF-8; every operation that takes a name also has a wide
// form that converts the name and calls the narrow form through the virtual
// table, so a class only overrides the narrow forms (and says
// `using FB::JSAPI::name;` to keep the wide twins visible). The order of the
// virtual operations below is part of the contract: keep it.
// Always owned through FB::JSAPIPtr. Holds no lock of its own; implementations
// say which threads may call them.
#ifndef FB_JSAPI_H
#define FB_JSAPI_H

#include <cstddef>
#include <string>
#include <vector>

#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>

#include "APITypes.h"

namespace FB {

class JSAPI : public boost::enable_shared_from_this<JSAPI>, private boost::noncopyable {
public:
    virtual ~JSAPI();

    // The object stops serving script.
    virtual void invalidate() = 0;
    // Sent by the browser host to each object it retains when it shuts down.
    virtual void shutdown();

    // Security zones; enterZone and leaveZone are paired on one thread.
    virtual void enterZone(int zone);
    virtual void leaveZone();
    virtual void setBaseZone(int zone);
    virtual int getBaseZone();
    virtual int getCurrentZone();

    // The base refuses with FB::script_error "Not implemented".
    virtual void addEventHandler(const std::string& name, const JSObjectPtr& handler);
    virtual void addEventHandler(const std::wstring& name, const JSObjectPtr& handler);
    virtual void removeEventHandler(const std::string& name, const JSObjectPtr& handler);
    virtual void removeEventHandler(const std::wstring& name, const JSObjectPtr& handler);
    virtual void addEventInterface(const JSObjectPtr& object);
    virtual void removeEventInterface(const JSObjectPtr& object);

    // The names script can currently see. The wide reference form replaces
    // the vector's content.
    virtual void getMemberNames(std::vector<std::wstring>& names) const;
    virtual void getMemberNames(std::vector<std::wstring>* names) const;
    virtual void getMemberNames(std::vector<std::string>& names) const = 0;
    // The form that cross-thread calls bind.
    virtual void getMemberNames(std::vector<std::string>* names) const;
    virtual size_t getMemberCount() const = 0;

    virtual bool hasMethod(const std::wstring& name) const;
    virtual bool hasMethod(const std::string& name) const = 0;
    // Whether reading the method's name as a property yields a function object.
    virtual bool hasMethodFunction(const std::wstring& name) const;
    virtual bool hasMethodFunction(const std::string& name) const;
    virtual bool hasProperty(const std::wstring& name) const;
    virtual bool hasProperty(const std::string& name) const = 0;
    virtual bool hasPropertyByIndex(int index) const = 0;

    virtual JSAPIPtr getMethodFunction(const std::wstring& name);
    // The base offers no function objects: an empty pointer.
    virtual JSAPIPtr getMethodFunction(const std::string& name);

    virtual variant getProperty(const std::wstring& name);
    virtual variant getProperty(const std::string& name) = 0;
    virtual void setProperty(const std::wstring& name, const variant& value);
    virtual void setProperty(const std::string& name, const variant& value) = 0;
    virtual variant getPropertyByIndex(int index) = 0;
    virtual void setPropertyByIndex(int index, const variant& value) = 0;
    virtual void removeProperty(const std::wstring& name);
    virtual void removeProperty(const std::string& name) = 0;
    virtual void removePropertyByIndex(int index) = 0;

    // The empty name calls the object itself (its default method).
    virtual variant invoke(const std::wstring& name, const VariantList& args);
    virtual variant invoke(const std::string& name, const VariantList& args) = 0;
    virtual variant construct(const VariantList& args) = 0;

protected:
    JSAPI();
};

} // namespace FB

#endif
