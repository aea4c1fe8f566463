#include "JSAPIImpl.h"

#include <set>

#include "EventObject.h"
#include "JSObject.h"
#include "script_error.h"
#include "utf8_tools.h"
#include "variant.h"

namespace FB {

namespace {
typedef boost::recursive_mutex::scoped_lock ScopedLock;

// The handlers stored under one name in one context, in registration order.
template <class MultiMap>
std::vector<JSObjectPtr> handlersNamed(const MultiMap& handlers, const std::string& name) {
    std::vector<JSObjectPtr> out;
    std::pair<typename MultiMap::const_iterator, typename MultiMap::const_iterator> range =
        handlers.equal_range(name);
    for (typename MultiMap::const_iterator it = range.first; it != range.second; ++it)
        out.push_back(it->second);
    return out;
}

// The entry under the name whose handler has the identity, or end.
template <class MultiMap>
typename MultiMap::iterator findHandler(MultiMap& handlers, const std::string& name,
                                        void* identity) {
    std::pair<typename MultiMap::iterator, typename MultiMap::iterator> range =
        handlers.equal_range(name);
    for (typename MultiMap::iterator it = range.first; it != range.second; ++it) {
        if (it->second->getHandlerIdentity() == identity)
            return it;
    }
    return handlers.end();
}

template <class Map>
std::vector<JSObjectPtr> mappedObjects(const Map& objects) {
    std::vector<JSObjectPtr> out;
    for (typename Map::const_iterator it = objects.begin(); it != objects.end(); ++it)
        out.push_back(it->second);
    return out;
}
} // namespace

JSAPIImpl::JSAPIImpl() : zoneStack(1, 0), valid(true) {}

JSAPIImpl::JSAPIImpl(int zone) : zoneStack(1, zone), valid(true) {}

JSAPIImpl::~JSAPIImpl() {}

void JSAPIImpl::invalidate() { valid = false; }

void JSAPIImpl::shutdown() {}

// Zones --------------------------------------------------------------------

void JSAPIImpl::enterZone(int zone) {
    // Taken here and kept until the matching leaveZone.
    zoneMutex.lock();
    try {
        zoneStack.push_back(zone);
    } catch (...) {
        zoneMutex.unlock();
        throw;
    }
}

void JSAPIImpl::leaveZone() {
    ScopedLock lock(zoneMutex);
    // Entered zones keep the lock, so a thread that gets it here while zones
    // are entered is the one that entered them. With only the base left this
    // leave has no enter to match (one too many, or from another thread):
    // dropping the base or unlocking would break the stack and the lock.
    if (zoneStack.size() < 2)
        return;
    zoneStack.pop_back();
    zoneMutex.unlock();
}

void JSAPIImpl::setBaseZone(int zone) {
    ScopedLock lock(zoneMutex);
    zoneStack.front() = zone;
}

int JSAPIImpl::getBaseZone() {
    ScopedLock lock(zoneMutex);
    return zoneStack.front();
}

int JSAPIImpl::getCurrentZone() {
    ScopedLock lock(zoneMutex);
    return currentZoneLocked();
}

// Handlers and interfaces ----------------------------------------------------

void JSAPIImpl::addEventHandler(const std::string& name, const JSObjectPtr& handler) {
    if (!handler)
        throw invalid_arguments();
    ScopedLock lock(eventMutex);
    EventMultiMap& handlers = eventHandlers[handler->getHandlerContext()];
    if (findHandler(handlers, name, handler->getHandlerIdentity()) != handlers.end())
        return;
    // A multimap inserts after the entries of an equal key.
    handlers.insert(EventMultiMap::value_type(name, handler));
}

void JSAPIImpl::addEventHandler(const std::wstring& name, const JSObjectPtr& handler) {
    addEventHandler(wideToUtf8(name), handler);
}

void JSAPIImpl::removeEventHandler(const std::string& name, const JSObjectPtr& handler) {
    if (!handler)
        throw invalid_arguments();
    ScopedLock lock(eventMutex);
    EventContextMap::iterator context = eventHandlers.find(handler->getHandlerContext());
    if (context == eventHandlers.end())
        return;
    EventMultiMap& handlers = context->second;
    EventMultiMap::iterator it = findHandler(handlers, name, handler->getHandlerIdentity());
    if (it != handlers.end())
        handlers.erase(it);
}

void JSAPIImpl::removeEventHandler(const std::wstring& name, const JSObjectPtr& handler) {
    removeEventHandler(wideToUtf8(name), handler);
}

void JSAPIImpl::addEventInterface(const JSObjectPtr& object) {
    if (!object)
        throw invalid_arguments();
    ScopedLock lock(eventMutex);
    eventInterfaces[object->getHandlerContext()][object.get()] = object;
}

void JSAPIImpl::dropEventHandlers() {
    EventContextMap handlers;
    EventIfaceContextMap interfaces;
    ScopedLock lock(eventMutex);
    handlers.swap(eventHandlers);
    interfaces.swap(eventInterfaces);
}

void JSAPIImpl::removeEventInterface(const JSObjectPtr& object) {
    if (!object)
        throw invalid_arguments();
    ScopedLock lock(eventMutex);
    EventIfaceContextMap::iterator context = eventInterfaces.find(object->getHandlerContext());
    if (context != eventInterfaces.end())
        context->second.erase(object.get());
}

// Firing ---------------------------------------------------------------------

void JSAPIImpl::notifyHandlers(const std::string& name, const VariantList& args) {
    EventContextMap handlers;
    EventIfaceContextMap interfaces;
    {
        ScopedLock lock(eventMutex);
        handlers = eventHandlers;
        interfaces = eventInterfaces;
    }

    std::set<void*> batchedContexts;
    for (EventContextMap::const_iterator context = handlers.begin(); context != handlers.end();
         ++context) {
        std::vector<JSObjectPtr> named = handlersNamed(context->second, name);
        bool first = true;
        for (std::vector<JSObjectPtr>::const_iterator it = named.begin(); it != named.end();
             ++it) {
            const JSObjectPtr& handler = *it;
            // The first valid handler decides: one batch for the whole
            // context, or one asynchronous call per valid handler.
            if (first && handler->isValid() && handler->canBatchCalls()) {
                batchedContexts.insert(context->first);
                std::vector<JSObjectPtr> contextInterfaces;
                EventIfaceContextMap::const_iterator ifaces = interfaces.find(context->first);
                if (ifaces != interfaces.end())
                    contextInterfaces = mappedObjects(ifaces->second);
                handler->invokeHandlerBatch(name, args, named, contextInterfaces);
                break;
            }
            if (handler->isValid()) {
                handler->invokeAsync("", args);
                first = false;
            }
        }
    }

    for (EventIfaceContextMap::const_iterator context = interfaces.begin();
         context != interfaces.end(); ++context) {
        if (batchedContexts.count(context->first))
            continue;
        for (EventIFaceMap::const_iterator it = context->second.begin();
             it != context->second.end(); ++it) {
            const JSObjectPtr& iface = it->second;
            if (iface->isValid() && iface->canBatchCalls()) {
                iface->invokeHandlerBatch(name, args, std::vector<JSObjectPtr>(),
                                          mappedObjects(context->second));
                break;
            }
            iface->invokeAsync(name, args);
        }
    }
}

void JSAPIImpl::fireEvent(const std::wstring& name, const VariantList& args) {
    fireEvent(wideToUtf8(name), args);
}

template <class Fire>
void JSAPIImpl::fireToProxies(Fire fire) {
    JSAPIPtr self(shared_from_this());
    ScopedLock lock(proxyMutex);
    ProxyList::iterator it = proxies.begin();
    while (it != proxies.end()) {
        JSAPIImplPtr proxy(it->lock());
        if (!proxy) {
            it = proxies.erase(it);
            continue;
        }
        fire(proxy, self);
        ++it;
    }
}

void JSAPIImpl::fireEvent(const std::string& name, const VariantList& args) {
    if (!valid)
        return;
    fireToProxies([&](const JSAPIImplPtr& proxy, const JSAPIPtr& self) {
        proxy->fireEvent(name, proxyRewriteList(args, self, proxy));
    });
    try {
        notifyHandlers(name, args);
    } catch (const script_error&) {
        // A page object's failure is not the firing object's.
    }
}

void JSAPIImpl::fireEventObject(const std::string& name, const VariantMap& members,
                                const VariantList& args) {
    if (!valid)
        return;
    fireToProxies([&](const JSAPIImplPtr& proxy, const JSAPIPtr& self) {
        proxy->fireEventObject(name, proxyRewriteMap(members, self, proxy),
                               proxyRewriteList(args, self, proxy));
    });

    VariantList eventArgs(1, variant(makeEventObject(shared_from_this(), name, members, args)));

    EventContextMap handlers;
    {
        ScopedLock lock(eventMutex);
        handlers = eventHandlers;
    }
    for (EventContextMap::const_iterator context = handlers.begin(); context != handlers.end();
         ++context) {
        std::vector<JSObjectPtr> named = handlersNamed(context->second, name);
        for (std::vector<JSObjectPtr>::const_iterator it = named.begin(); it != named.end(); ++it)
            (*it)->invokeAsync("", eventArgs);
    }

    EventIfaceContextMap interfaces;
    {
        ScopedLock lock(eventMutex);
        interfaces = eventInterfaces;
    }
    for (EventIfaceContextMap::const_iterator context = interfaces.begin();
         context != interfaces.end(); ++context) {
        for (EventIFaceMap::const_iterator it = context->second.begin();
             it != context->second.end(); ++it)
            it->second->invokeAsync(name, eventArgs);
    }
}

void JSAPIImpl::fireEventObject(const std::string& name, const VariantMap& members) {
    fireEventObject(name, members, VariantList());
}

void JSAPIImpl::fireEventObject(const std::string& name, const VariantList& args) {
    fireEventObject(name, VariantMap(), args);
}

void JSAPIImpl::declareEvent(const std::string&) {}

void JSAPIImpl::declareEvent(const std::wstring& name) { declareEvent(wideToUtf8(name)); }

// Proxies --------------------------------------------------------------------

void JSAPIImpl::addProxy(const JSAPIImplPtr& proxy) {
    if (proxy.get() == this)
        throw invalid_arguments();
    ScopedLock lock(proxyMutex);
    proxies.push_back(proxy);
}

void JSAPIImpl::removeProxy(const JSAPIImplPtr& proxy) {
    ScopedLock lock(proxyMutex);
    ProxyList::iterator it = proxies.begin();
    while (it != proxies.end()) {
        JSAPIImplPtr current(it->lock());
        if (!current || current == proxy)
            it = proxies.erase(it);
        else
            ++it;
    }
}

variant JSAPIImpl::proxyRewrite(const variant& value, const JSAPIPtr& self,
                                const JSAPIPtr& proxy) const {
    if (value.is_of_type<JSAPIPtr>()) {
        if (value.cast<JSAPIPtr>().get() == self.get())
            return variant(proxy);
        return value;
    }
    if (value.is_of_type<VariantList>())
        return variant(proxyRewriteList(value.cast<VariantList>(), self, proxy));
    if (value.is_of_type<VariantMap>())
        return variant(proxyRewriteMap(value.cast<VariantMap>(), self, proxy));
    return value;
}

VariantList JSAPIImpl::proxyRewriteList(const VariantList& args, const JSAPIPtr& self,
                                        const JSAPIPtr& proxy) const {
    VariantList out;
    out.reserve(args.size());
    for (VariantList::const_iterator it = args.begin(); it != args.end(); ++it)
        out.push_back(proxyRewrite(*it, self, proxy));
    return out;
}

VariantMap JSAPIImpl::proxyRewriteMap(const VariantMap& members, const JSAPIPtr& self,
                                      const JSAPIPtr& proxy) const {
    VariantMap out;
    for (VariantMap::const_iterator it = members.begin(); it != members.end(); ++it)
        out.insert(out.end(), VariantMap::value_type(it->first, proxyRewrite(it->second, self, proxy)));
    return out;
}

} // namespace FB
