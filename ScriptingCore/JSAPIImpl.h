// FB::JSAPIImpl: the concrete base of every scriptable object the plugin
// implements itself.
//
// Adds to FB::JSAPI a valid flag, a stack of security zones, the page's event
// handlers and event interfaces grouped by handler context, proxies that
// re-fire this object's events as their own, and the firing of events to all
// of them. The member operations stay abstract (FB::JSAPIAuto fills them).
//
// Threads: any thread may call. The three mutexes are recursive and
// independent. A thread that enters a zone holds zoneMutex until it leaves
// that zone, so other threads' zone (and member) operations wait meanwhile;
// enterZone and leaveZone must be paired on one thread (a leave without a
// matching enter on the calling thread changes nothing). Handlers are always
// called without this object's locks, from copies of the tables; proxies are
// called while proxyMutex is held.
// Must be owned by a shared pointer before it fires an event.
#ifndef FB_JSAPIIMPL_H
#define FB_JSAPIIMPL_H

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include <boost/thread/recursive_mutex.hpp>

#include "APITypes.h"
#include "JSAPI.h"

namespace FB {

class JSAPIImpl;
typedef boost::shared_ptr<JSAPIImpl> JSAPIImplPtr;
typedef boost::weak_ptr<JSAPIImpl> JSAPIImplWeakPtr;

class JSAPIImpl : public JSAPI {
public:
    JSAPIImpl();
    explicit JSAPIImpl(int zone);
    ~JSAPIImpl() override;

    using JSAPI::addEventHandler;
    using JSAPI::removeEventHandler;

    void invalidate() override;
    void shutdown() override;

    void enterZone(int zone) override;
    void leaveZone() override;
    void setBaseZone(int zone) override;
    int getBaseZone() override;
    int getCurrentZone() override;

    // A null handler or interface: FB::invalid_arguments. One handler entry
    // per identity and name; one interface entry per object.
    void addEventHandler(const std::string& name, const JSObjectPtr& handler) override;
    void addEventHandler(const std::wstring& name, const JSObjectPtr& handler) override;
    void removeEventHandler(const std::string& name, const JSObjectPtr& handler) override;
    void removeEventHandler(const std::wstring& name, const JSObjectPtr& handler) override;
    void addEventInterface(const JSObjectPtr& object) override;
    void removeEventInterface(const JSObjectPtr& object) override;

    // Delivers an event to the handlers and event interfaces (no validity
    // test of this object; fireEvent makes it).
    virtual void notifyHandlers(const std::string& name, const VariantList& args);
    virtual void fireEvent(const std::wstring& name, const VariantList& args);
    // Fires to the proxies, then to the handlers; an invalid object fires
    // nothing.
    virtual void fireEvent(const std::string& name, const VariantList& args);
    virtual void fireEventObject(const std::string& name, const VariantMap& members,
                                 const VariantList& args);
    virtual void fireEventObject(const std::string& name, const VariantMap& members);
    virtual void fireEventObject(const std::string& name, const VariantList& args);
    virtual void declareEvent(const std::string& name);
    virtual void declareEvent(const std::wstring& name);
    // Kept weakly; no test for duplicates. An object is refused as its own
    // proxy (FB::invalid_arguments): it would re-fire to itself for ever.
    virtual void addProxy(const JSAPIImplPtr& proxy);
    // Removes the proxy and every expired one.
    virtual void removeProxy(const JSAPIImplPtr& proxy);

protected:
    typedef std::multimap<std::string, JSObjectPtr> EventMultiMap;
    typedef std::map<void*, EventMultiMap> EventContextMap;
    typedef std::map<void*, JSObjectPtr> EventIFaceMap;
    typedef std::map<void*, EventIFaceMap> EventIfaceContextMap;
    typedef std::vector<JSAPIImplWeakPtr> ProxyList;

    // Copies of the arguments for one proxy: this object's pointer becomes
    // the proxy's, in nested lists and maps too.
    VariantList proxyRewriteList(const VariantList& args, const JSAPIPtr& self,
                                 const JSAPIPtr& proxy) const;
    VariantMap proxyRewriteMap(const VariantMap& members, const JSAPIPtr& self,
                               const JSAPIPtr& proxy) const;
    // Drops every event handler and event interface. They go once eventMutex
    // is released: a page object's end may call back into this object.
    void dropEventHandlers();

    EventContextMap eventHandlers;
    EventIfaceContextMap eventInterfaces;
    ProxyList proxies;
    mutable boost::recursive_mutex eventMutex;
    mutable boost::recursive_mutex proxyMutex;
    mutable boost::recursive_mutex zoneMutex;
    // Front: the base zone; back: the current zone. Never empty.
    std::deque<int> zoneStack;
    // The current zone, for a caller that already holds zoneMutex.
    int currentZoneLocked() const { return zoneStack.back(); }
    // Written by invalidate, read by firing from any thread.
    std::atomic<bool> valid;

private:
    variant proxyRewrite(const variant& value, const JSAPIPtr& self,
                         const JSAPIPtr& proxy) const;
    // Calls fire (proxy, self) for each live proxy under proxyMutex, erasing
    // the expired ones.
    template <class Fire>
    void fireToProxies(Fire fire);
};

} // namespace FB

#endif
