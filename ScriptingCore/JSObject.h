// FB::JSObject: a page object seen from the plugin (a script function, array
// or object of the page), with the browser host it belongs to.
//
// Besides the FB::JSAPI operations it offers handler identity and grouping,
// batched handler calls, a validity test, calls and assignments that may be
// requested from any thread and run later on the browser's main thread, and
// unwrapping to the plugin's own object when the page object wraps one.
// Holds no lock of its own; the host is kept weakly. Always owned through
// FB::JSObjectPtr. invokeAsync, scheduleInvoke and setPropertyAsync are
// defined with the cross-thread calls (JSObjectAsync.cpp).
#ifndef FB_JSOBJECT_H
#define FB_JSOBJECT_H

#include <string>
#include <vector>

#include "APITypes.h"
#include "JSAPI.h"

namespace FB {

class JSObject : public JSAPI {
public:
    explicit JSObject(const BrowserHostPtr& host);
    ~JSObject() override;

    // The key by which two references to one page object are one handler.
    virtual void* getHandlerIdentity();
    // The key under which handlers are grouped (one group per browser instance).
    virtual void* getHandlerContext();
    // When true, invokeHandlerBatch delivers one event to several handlers and
    // event interfaces of one group in a single call.
    virtual bool canBatchCalls();
    virtual void invokeHandlerBatch(const std::string& name, const VariantList& args,
                                    const std::vector<JSObjectPtr>& handlers,
                                    const std::vector<JSObjectPtr>& interfaces);
    virtual bool isValid() = 0;

    // Any thread: calls the method (the empty name: the object itself) later
    // on the main thread. Throws std::runtime_error when the host is gone.
    virtual void invokeAsync(const std::string& name, const VariantList& args);
    // The main-thread step of invokeAsync.
    virtual void scheduleInvoke(const VariantList& args, const std::string& name);
    // Any thread: assigns the property later on the main thread.
    virtual void setPropertyAsync(const std::string& name, const variant& value);

    // The plugin's own scriptable object when this page object wraps one.
    virtual JSAPIPtr getJSAPI() = 0;

    // The host this page object belongs to; empty once the host is gone.
    BrowserHostPtr getHost() const { return m_host.lock(); }

protected:
    BrowserHostWeakPtr m_host;
};

} // namespace FB

#endif
