// FB::Npapi::NpapiBrowserHost: the browser host of one plugin instance in an
// NPAPI browser.
//
// Supplies what FB::BrowserHost leaves to the browser binding (the page's
// window, document and plugin element, script evaluation, navigation,
// hand-offs to the main thread) over the browser's function table, which it
// copies from the module. Each browser function has a wrapper here that
// gives a fixed answer when the browser lacks it, and always after
// shutdown; memory, identifier and reference-count functions go through the
// module and keep working after shutdown. The host also converts values
// between NPVariant and FB::variant (NPVariantConversion.cpp), keeps the
// browser object that stands for each scriptable object of the plugin, and
// queues browser objects for their release on the main thread.
// Threads: every operation runs on the browser's main thread except
// queueRelease and _scheduleAsyncCall, which any thread may call. A hand-off
// holds the async-call guard shared, shutdown takes it exclusively to clear
// the table, so a worker never calls a browser entry that is being cleared.
// The second shutdown (from the plugin core's end) runs on whichever thread
// drops the core last; it calls the browser for nothing, and browser objects
// let go then wait in the module's orphan queue for the main thread.
#ifndef FB_NPAPI_NPAPIBROWSERHOST_H
#define FB_NPAPI_NPAPIBROWSERHOST_H

#include <map>
#include <string>
#include <unordered_map>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/shared_mutex.hpp>
#include <boost/weak_ptr.hpp>

#include "AddressMap.h"
#include "BrowserHost.h"
#include "LockedQueue.h"
#include "NpapiTypes.h"

namespace FB {
namespace Npapi {

class NpapiPluginModule;
class NPObjectAPI;
class NPJavascriptObject;

class NpapiBrowserHost : public FB::BrowserHost {
public:
    NpapiBrowserHost(NpapiPluginModule* module, NPP npp);
    ~NpapiBrowserHost() override;

    // Copies the table (by the browser's version and size) and wraps the
    // page's window, plugin element and document.
    void setBrowserFuncs(const NPNetscapeFuncs* funcs);

    const void* getContextID() const override;
    DOM::DocumentPtr getDOMDocument() override;
    DOM::WindowPtr getDOMWindow() override;
    DOM::ElementPtr getDOMElement() override;
    void Navigate(const std::string& url, const std::string& target) override;
    using FB::BrowserHost::evaluateJavaScript;
    void evaluateJavaScript(const std::string& script) override;
    void shutdown() override;
    void releaseDeferredObjects() override;
    // The browser's proxy for the URL; the system's when the browser cannot
    // tell. False, with the map untouched, when there is none or the URL
    // does not parse.
    bool DetectProxySettings(std::map<std::string, std::string>& settings,
                             const std::string& url) override;
    // Any thread. On the main thread the queue is drained at once.
    virtual void queueRelease(NPObject* object);

    // The browser object standing for the scriptable object (the caller owns
    // one reference), or null when the browser could not make one. A living
    // object has one, through whichever owner it is handed out.
    NPJavascriptObject* getJSAPIWrapper(const JSAPIWeakPtr& api, bool autoRelease);
    // The same for an object the caller holds (no weak reference to lock).
    NPJavascriptObject* getJSAPIWrapper(const JSAPIPtr& object, bool autoRelease);
    // Called by a browser object that the browser frees: the entry goes when
    // it is that object's, so the cache holds only live browser objects.
    void forgetJSAPIWrapper(const JSAPI* key, const NPJavascriptObject* wrapper);

    // Value conversion. getNPVariant leaves dst untouched for a held type it
    // cannot convert; getVariant never takes ownership of src.
    void getNPVariant(NPVariant* dst, const variant& value);
    // The same for a scriptable object, without making a variant of it.
    void getNPVariant(NPVariant* dst, const JSAPIPtr& object);
    variant getVariant(const NPVariant* src);

    // A call's argument list, lent for the call so that a call does not
    // allocate one: take it empty, give it back when the call is over (its
    // values are dropped then). A call made meanwhile gets a list of its own.
    // Main thread.
    VariantList takeArgumentList();
    void giveArgumentList(VariantList& list);

    NPP getNPP() const { return m_npp; }
    NpapiPluginModule* getModule() const { return m_module; }

    // ---- the browser's functions over the host's table ----
    void PluginThreadAsyncCall(void (*func)(void*), void* userData);
    uint32_t ScheduleTimer(uint32_t interval, NPBool repeat, NPN_TimerFuncPtr timerFunc);
    void UnscheduleTimer(uint32_t timerID);
    NPError GetValueForURL(NPNURLVariable variable, const char* url, char** value, uint32_t* len);
    NPError SetValueForURL(NPNURLVariable variable, const char* url, const char* value,
                           uint32_t len);
    NPError GetAuthenticationInfo(const char* protocol, const char* host, int32_t port,
                                  const char* scheme, const char* realm, char** username,
                                  uint32_t* ulen, char** password, uint32_t* plen);
    void SetException(NPObject* object, const NPUTF8* message);
    bool Construct(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result);
    bool Enumerate(NPObject* object, NPIdentifier** ids, uint32_t* count);
    bool HasMethod(NPObject* object, NPIdentifier name);
    bool HasProperty(NPObject* object, NPIdentifier name);
    bool RemoveProperty(NPObject* object, NPIdentifier name);
    bool SetProperty(NPObject* object, NPIdentifier name, const NPVariant* value);
    bool GetProperty(NPObject* object, NPIdentifier name, NPVariant* result);
    bool Evaluate(NPObject* object, NPString* script, NPVariant* result);
    bool InvokeDefault(NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result);
    bool Invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                NPVariant* result);
    NPObject* CreateObject(NPClass* aClass);
    void PushPopupsEnabledState(NPBool enabled);
    void PopPopupsEnabledState();
    void InvalidateRegion(NPRegion region);
    void InvalidateRect(NPRect* rect);
    void InvalidateRect(const NPRect& rect);
    void ForceRedraw();
    NPError SetValue(NPPVariable variable, void* value);
    NPError GetValue(NPNVariable variable, void* value);
    const char* UserAgent();
    void Status(const char* message);
    NPError DestroyStream(NPStream* stream, NPReason reason);
    int32_t Write(NPStream* stream, int32_t len, void* buffer);
    NPError NewStream(NPMIMEType type, const char* target, NPStream** stream);
    NPError RequestRead(NPStream* stream, NPByteRange* rangeList);
    NPError PostURL(const char* url, const char* target, uint32_t len, const char* buf,
                    NPBool file);
    NPError PostURLNotify(const char* url, const char* target, uint32_t len, const char* buf,
                          NPBool file, void* notifyData);
    NPError GetURL(const char* url, const char* target);
    NPError GetURLNotify(const char* url, const char* target, void* notifyData);

    // ---- through the module; these work after shutdown too ----
    void* MemAlloc(uint32_t size) const;
    void MemFree(void* ptr) const;
    uint32_t MemFlush(uint32_t size) const;
    void ReleaseVariantValue(NPVariant* variant) const;
    NPIdentifier GetStringIdentifier(const NPUTF8* name) const;
    void GetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids) const;
    NPIdentifier GetIntIdentifier(int32_t id) const;
    bool IdentifierIsString(NPIdentifier id) const;
    NPUTF8* UTF8FromIdentifier(NPIdentifier id) const;
    int32_t IntFromIdentifier(NPIdentifier id) const;
    std::string StringFromIdentifier(NPIdentifier id) const;

    // Identifiers as the browser-facing object reads them, each string
    // identifier's text fetched from the browser once (the browser never
    // frees an identifier). Main thread; the references stay valid for the
    // host's life.
    // The text, as StringFromIdentifier gives it (empty for an integer
    // identifier).
    const std::string& identifierName(NPIdentifier id);
    // The text of a string identifier; null for an integer identifier.
    const std::string* stringIdentifierName(NPIdentifier id);
    NPObject* RetainObject(NPObject* object) const;
    void ReleaseObject(NPObject* object) const;

    // The user agent contains "Chrome" / "Firefox" / "Safari" without
    // "Chrome"; false when the browser gives none.
    bool isChrome();
    bool isFirefox();
    bool isSafari();

protected:
    bool _scheduleAsyncCall(void (*func)(void*), void* userData) override;
    BrowserStreamPtr _createStream(const BrowserStreamRequest& request) const override;
    BrowserStreamPtr _createUnsolicitedStream(const BrowserStreamRequest& request) const override;

private:
    class NpapiStreamList;
    // The browser object standing for each scriptable object, by the
    // object's address. Holds no reference: a browser object takes its own
    // entry out when the browser frees it.
    typedef AddressMap<const JSAPI*, NPJavascriptObject*> WrapperCache;

    bool userAgentContains(const char* text);
    // Wraps an object the browser handed out (and gives its reference back).
    boost::shared_ptr<NPObjectAPI> adoptPageObject(NPObject* object);

    NPNetscapeFuncs m_funcs;
    NpapiPluginModule* const m_module;
    const NPP m_npp;
    boost::shared_ptr<NPObjectAPI> m_htmlDoc;
    boost::shared_ptr<NPObjectAPI> m_htmlWin;
    boost::shared_ptr<NPObjectAPI> m_htmlElement;
    LockedQueue<NPObject*> m_deferredReleases;
    WrapperCache m_wrapperCache;
    // The argument list lent to calls, empty while lent.
    VariantList m_argumentList;
    // The texts of the string identifiers met so far.
    std::unordered_map<NPIdentifier, std::string> m_identifierNames;
    // The streams this host made, let go at shutdown. Main thread.
    boost::shared_ptr<NpapiStreamList> m_streams;
    // Held shared by a hand-off to the browser, exclusively while the table
    // is written.
    boost::shared_mutex m_funcsGuard;
};

typedef boost::shared_ptr<NpapiBrowserHost> NpapiBrowserHostPtr;
typedef boost::weak_ptr<NpapiBrowserHost> NpapiBrowserHostWeakPtr;

} // namespace Npapi
} // namespace FB

#endif
