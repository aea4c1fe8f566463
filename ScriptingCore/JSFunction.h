// FB::JSFunction: a script function object standing for one method of one
// scriptable object in one security zone.
//
// Calling it (the empty name, or its "call" and "apply" members) invokes the
// method on its target inside the zone in which the function object was
// obtained; the target is held weakly, so a function kept by the page does
// not keep the plugin's object alive, and once the target is gone every call
// fails with FB::script_error "Invalid JSAPI object". Otherwise it is an
// FB::JSAPIAuto with its default members, no reserved names and no function
// objects of its own. Subclasses replace invokeDefault only.
// The shutdown notice (the last live instance that handed it to a page is
// going; see BrowserHost::notifyAtShutdown) drops what the pages stored on
// it, attributes and event handlers: a page object kept there could
// otherwise hold the browser object that owns this function for ever.
// Threads: a call holds the target's zone lock while the method runs.
#ifndef FB_JSFUNCTION_H
#define FB_JSFUNCTION_H

#include <string>

#include "APITypes.h"
#include "JSAPIAuto.h"

namespace FB {

class JSFunction : public JSAPIAuto {
public:
    JSFunction(const JSAPIWeakPtr& target, const std::string& methodName, int zone);
    JSFunction(const JSAPIWeakPtr& target, const std::wstring& methodName, int zone);
    ~JSFunction() override;

    using JSAPIAuto::hasMethod;
    using JSAPIAuto::hasMethodFunction;
    using JSAPIAuto::hasProperty;
    using JSAPIAuto::invoke;

    void shutdown() override;

    bool hasMethod(const std::string& name) const override;
    bool hasMethodFunction(const std::string& name) const override;
    bool hasProperty(const std::string& name) const override;
    // The empty name, "call" and "apply" call the function; other names are
    // the members of any FB::JSAPIAuto.
    variant invoke(const std::string& name, const VariantList& args) override;

    virtual variant invokeDefault(const VariantList& args);
    // The first argument is the script's this value and is dropped.
    virtual variant call(const VariantList& args);
    // The second argument is the argument list (a list or a page array).
    virtual variant apply(const VariantList& args);

protected:
    JSAPIWeakPtr target;
    std::string methodName;
};

} // namespace FB

#endif
