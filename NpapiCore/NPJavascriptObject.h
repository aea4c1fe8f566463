// FB::Npapi::NPJavascriptObject: the browser object through which a page
// scripts one scriptable object of the plugin.
//
// It is an NPObject of the plugin's one NPClass. Each NPClass call becomes one
// call on the wrapped FB::JSAPI with names as text and values converted by
// the host; FB::script_error becomes a browser exception and the
// process-wide last exception, a failed conversion a plain false. Nothing is
// let out to the browser: any other exception is reported as a browser
// exception with its text. Null pointers from the browser (a result, a
// value, a count, arguments with a count above 0) answer false. Every
// object also offers "addEventListener", "removeEventListener" and
// "getLastException" as function objects.
// The scriptable object and the host are held weakly; with autoRelease the
// host retains the scriptable object while this browser object exists. Once
// the host has shut down every member call answers false, as when it is
// gone. A browser object made for a function object names the function to
// the host for its shutdown notice, which drops what the pages stored on it
// once the last host that named it shuts down.
// Main thread only; no lock of its own.
#ifndef FB_NPAPI_NPJAVASCRIPTOBJECT_H
#define FB_NPAPI_NPJAVASCRIPTOBJECT_H

#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include "APITypes.h"
#include "NpapiBrowserHost.h"
#include "NpapiTypes.h"
#include "ShareableReference.h"

namespace FB {

class JSFunction;

namespace Npapi {

class NPJavascriptObject : public NPObject {
public:
    typedef ShareableReference<NPJavascriptObject> Reference;

    virtual ~NPJavascriptObject();

    // A new browser object bound to api (the caller owns its first
    // reference), or null when the browser made none.
    static NPJavascriptObject* newObject(const NpapiBrowserHostPtr& host, const JSAPIWeakPtr& api,
                                         bool autoRelease);
    // The same for an object the caller holds (no weak reference to lock).
    static NPJavascriptObject* newObject(const NpapiBrowserHostPtr& host, const JSAPIPtr& api,
                                         bool autoRelease);
    static bool isNPJavascriptObject(const NPObject* object);
    static NPJavascriptObject* fromNPObject(NPObject* object)
    {
        return static_cast<NPJavascriptObject*>(object);
    }

    void setAPI(const JSAPIWeakPtr& api, const NpapiBrowserHostWeakPtr& host);
    // Throws std::bad_cast when the scriptable object is gone.
    JSAPIPtr getAPI() const;
    // Invalidates and throws std::bad_cast when the host is gone.
    NpapiBrowserHostPtr getHost();
    // Made on first request: only the listener functions need one.
    boost::weak_ptr<Reference> getWeakReference();
    // Whether this object stands for that living scriptable object, through
    // whichever owner it is handed out: the object it was made for is at
    // that address and still alive (an earlier one that lived there is gone).
    bool wraps(const JSAPIPtr& api) const { return api.get() == m_apiAddress && !m_api.expired(); }
    bool isValid() const { return m_valid; }

    void Invalidate();
    bool HasMethod(NPIdentifier name);
    bool Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount, NPVariant* result);
    bool InvokeDefault(const NPVariant* args, uint32_t argCount, NPVariant* result);
    bool HasProperty(NPIdentifier name);
    bool GetProperty(NPIdentifier name, NPVariant* result);
    bool SetProperty(NPIdentifier name, const NPVariant* value);
    bool RemoveProperty(NPIdentifier name);
    bool Enumerate(NPIdentifier** value, uint32_t* count);
    bool Construct(const NPVariant* args, uint32_t argCount, NPVariant* result);

    // The process-wide text of the last script error.
    static variant lastException();

private:
    explicit NPJavascriptObject(NPP npp);

    // Runs body inside the common frame of every member call, one
    // PageReadBudget for all it reads from the page; failed runs when an
    // exception was caught (not when the object could not be asked).
    template <class Body>
    bool guarded(Body body);
    template <class Body, class Failed>
    bool guarded(Body body, Failed failed);
    void reportException(const char* message);
    // The host exists and has not shut down: an instance that is gone takes
    // no page values (they could never be let go).
    bool hostLive() const;
    // "addEventListener", "removeEventListener" or "getLastException" as a
    // function object; empty for any other name.
    JSAPIPtr extraMember(const std::string& name);

    static NPObject* npAllocate(NPP npp, NPClass* aClass);
    static void npDeallocate(NPObject* object);
    static void npInvalidate(NPObject* object);
    static bool npHasMethod(NPObject* object, NPIdentifier name);
    static bool npInvoke(NPObject* object, NPIdentifier name, const NPVariant* args,
                         uint32_t argCount, NPVariant* result);
    static bool npInvokeDefault(NPObject* object, const NPVariant* args, uint32_t argCount,
                                NPVariant* result);
    static bool npHasProperty(NPObject* object, NPIdentifier name);
    static bool npGetProperty(NPObject* object, NPIdentifier name, NPVariant* result);
    static bool npSetProperty(NPObject* object, NPIdentifier name, const NPVariant* value);
    static bool npRemoveProperty(NPObject* object, NPIdentifier name);
    static bool npEnumerate(NPObject* object, NPIdentifier** value, uint32_t* count);
    static bool npConstruct(NPObject* object, const NPVariant* args, uint32_t argCount,
                            NPVariant* result);

    static NPClass s_class;

    JSAPIWeakPtr m_api;
    NpapiBrowserHostWeakPtr m_host;
    bool m_valid;
    bool m_autoRelease;
    // The address of the scriptable object, for its release by address and
    // for the host's wrapper cache, which may hold this object under it.
    const JSAPI* m_apiAddress;
    boost::shared_ptr<Reference> m_sharedRef;
    boost::shared_ptr<JSFunction> m_addEventListener;
    boost::shared_ptr<JSFunction> m_removeEventListener;
    boost::shared_ptr<JSFunction> m_getLastException;
};

} // namespace Npapi
} // namespace FB

#endif
