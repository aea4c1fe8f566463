#include "NPObjectAPI.h"

#include <typeinfo>

#include <boost/lexical_cast.hpp>

#include "CrossThreadCall.h"
#include "NPJavascriptObject.h"
#include "NpapiPluginModule.h"
#include "NpapiVariantGuard.h"
#include "script_error.h"
#include "variant.h"

namespace FB {
namespace Npapi {

NPObjectAPI::NPObjectAPI(NPObject* object, const NpapiBrowserHostPtr& host)
    : JSObject(host), m_npHost(host), m_obj(object), m_isJSAPI(false)
{
    m_inner = getJSAPI();
    m_isJSAPI = !m_inner.expired();
    if (m_obj)
        host->RetainObject(m_obj);
}

NPObjectAPI::~NPObjectAPI()
{
    if (!m_obj)
        return;
    try {
        if (const NpapiBrowserHostPtr host = m_npHost.lock())
            host->queueRelease(m_obj);
        else
            NpapiPluginModule::queueOrphanRelease(m_obj);
    } catch (...) {
        // Queueing only fails when memory runs out; the reference is lost
        // then, which is better than ending the browser.
    }
}

NpapiBrowserHostPtr NPObjectAPI::getNpapiHost() const
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        throw std::bad_cast();
    return host;
}

boost::shared_ptr<NPObjectAPI> NPObjectAPI::self() const
{
    return boost::static_pointer_cast<NPObjectAPI>(
        boost::const_pointer_cast<JSAPI>(shared_from_this()));
}

JSAPIPtr NPObjectAPI::getJSAPI()
{
    if (!m_obj || !NPJavascriptObject::isNPJavascriptObject(m_obj))
        return JSAPIPtr();
    return NPJavascriptObject::fromNPObject(m_obj)->getAPI();
}

void NPObjectAPI::invalidate() { m_inner.reset(); }

bool NPObjectAPI::isValid() { return !m_npHost.expired(); }

void* NPObjectAPI::getHandlerIdentity() { return m_obj; }

void* NPObjectAPI::getHandlerContext()
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    return host ? const_cast<void*>(host->getContextID()) : nullptr;
}

bool NPObjectAPI::canBatchCalls() { return true; }

variant NPObjectAPI::getProperty(const std::string& name)
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return variant(variant_detail::empty());
    if (!host->isMainThread())
        return host->callOnMainThread(self(), [this, name] { return getProperty(name); });
    if (m_isJSAPI) {
        const JSAPIPtr inner(ownObject());
        return inner ? inner->getProperty(name) : variant(false);
    }
    NpapiVariantGuard result(*host);
    if (!host->GetProperty(m_obj, host->GetStringIdentifier(name.c_str()), result.get()))
        throw script_error(name);
    return host->getVariant(result.get());
}

void NPObjectAPI::setProperty(const std::string& name, const variant& value)
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return;
    if (!host->isMainThread())
        return host->callOnMainThread(self(), [this, name, value] { setProperty(name, value); });
    if (m_isJSAPI) {
        if (const JSAPIPtr inner = ownObject())
            inner->setProperty(name, value);
        return;
    }
    NpapiVariantGuard converted(*host);
    host->getNPVariant(converted.get(), value);
    if (!host->SetProperty(m_obj, host->GetStringIdentifier(name.c_str()), converted.get()))
        throw script_error(name);
}

void NPObjectAPI::removeProperty(const std::string& name)
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return;
    if (!host->isMainThread())
        return host->callOnMainThread(self(), [this, name] { removeProperty(name); });
    if (m_isJSAPI) {
        if (const JSAPIPtr inner = ownObject())
            inner->removeProperty(name);
        return;
    }
    if (!host->RemoveProperty(m_obj, host->GetStringIdentifier(name.c_str())))
        throw script_error(name);
}

bool NPObjectAPI::hasProperty(const std::string& name) const
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return false;
    if (!host->isMainThread())
        return host->callOnMainThread(self(), [this, name] { return hasProperty(name); });
    if (m_isJSAPI) {
        const JSAPIPtr inner(ownObject());
        return inner && inner->hasProperty(name);
    }
    return host->HasProperty(m_obj, host->GetStringIdentifier(name.c_str()));
}

bool NPObjectAPI::hasMethod(const std::string& name) const
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return false;
    if (!host->isMainThread())
        return host->callOnMainThread(self(), [this, name] { return hasMethod(name); });
    if (m_isJSAPI) {
        const JSAPIPtr inner(ownObject());
        return inner && inner->hasMethod(name);
    }
    return host->HasMethod(m_obj, host->GetStringIdentifier(name.c_str()));
}

bool NPObjectAPI::hasPropertyByIndex(int index) const
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return false;
    // The browser is asked on the main thread only, like every other call.
    if (!host->isMainThread())
        return host->callOnMainThread(self(), [this, index] { return hasPropertyByIndex(index); });
    if (m_isJSAPI) {
        const JSAPIPtr inner(ownObject());
        return inner && inner->hasPropertyByIndex(index);
    }
    return host->HasProperty(m_obj, host->GetIntIdentifier(index));
}

variant NPObjectAPI::getPropertyByIndex(int index)
{
    if (m_npHost.expired())
        return variant(variant_detail::empty());
    if (const JSAPIPtr inner = ownObject())
        return inner->getPropertyByIndex(index);
    return getProperty(boost::lexical_cast<std::string>(index));
}

void NPObjectAPI::setPropertyByIndex(int index, const variant& value)
{
    if (m_npHost.expired())
        return;
    if (const JSAPIPtr inner = ownObject())
        return inner->setPropertyByIndex(index, value);
    setProperty(boost::lexical_cast<std::string>(index), value);
}

void NPObjectAPI::removePropertyByIndex(int index)
{
    if (m_npHost.expired())
        return;
    if (const JSAPIPtr inner = ownObject())
        return inner->removePropertyByIndex(index);
    removeProperty(boost::lexical_cast<std::string>(index));
}

size_t NPObjectAPI::getMemberCount() const
{
    std::vector<std::string> names;
    getMemberNames(names);
    return names.size();
}

void NPObjectAPI::getMemberNames(std::vector<std::string>& names) const
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return;
    if (!host->isMainThread()) {
        // By value: a waiter that gives up at shutdown must not leave the
        // main thread writing into its vector.
        const std::vector<std::string> found(host->callOnMainThread(self(), [this] {
            std::vector<std::string> result;
            getMemberNames(result);
            return result;
        }));
        names.insert(names.end(), found.begin(), found.end());
        return;
    }
    if (m_isJSAPI) {
        if (const JSAPIPtr inner = ownObject())
            inner->getMemberNames(names);
        return;
    }
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    if (!host->Enumerate(m_obj, &ids, &count))
        return;
    struct FreeIds {
        const NpapiBrowserHost& host;
        NPIdentifier* ids;
        ~FreeIds() { host.MemFree(ids); }
    } freeIds = {*host, ids};
    for (uint32_t i = 0; i < count; ++i)
        names.push_back(host->StringFromIdentifier(ids[i]));
}

variant NPObjectAPI::invoke(const std::string& name, const VariantList& args)
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return variant(false);
    if (!host->isMainThread())
        return host->callOnMainThread(self(), [this, name, args] { return invoke(name, args); });
    if (m_isJSAPI) {
        const JSAPIPtr inner(ownObject());
        return inner ? inner->invoke(name, args) : variant(false);
    }
    return invokeWith(host, name, args, false);
}

variant NPObjectAPI::construct(const VariantList& args)
{
    const NpapiBrowserHostPtr host(m_npHost.lock());
    if (!host)
        return variant(false);
    if (!host->isMainThread())
        return host->callOnMainThread(self(), [this, args] { return construct(args); });
    if (m_isJSAPI) {
        const JSAPIPtr inner(ownObject());
        return inner ? inner->construct(args) : variant(false);
    }
    return invokeWith(host, std::string(), args, true);
}

variant NPObjectAPI::invokeWith(const NpapiBrowserHostPtr& host, const std::string& name,
                                const VariantList& args, bool construct)
{
    NpapiVariantArray params(*host, args.size());
    for (size_t i = 0; i < args.size(); ++i)
        host->getNPVariant(&params[i], args[i]);
    NpapiVariantGuard result(*host);
    bool done;
    if (construct)
        done = host->Construct(m_obj, params.data(), params.size(), result.get());
    else if (name.empty())
        done = host->InvokeDefault(m_obj, params.data(), params.size(), result.get());
    else
        done = host->Invoke(m_obj, host->GetStringIdentifier(name.c_str()), params.data(),
                            params.size(), result.get());
    if (!done)
        throw script_error(construct ? std::string("constructor") : name);
    return host->getVariant(result.get());
}

void NPObjectAPI::callTarget(const NpapiBrowserHostPtr& host, NPObject* helper,
                             const JSObjectPtr& target, NPVariant* params, uint32_t count,
                             const VariantList& args)
{
    // One of our own objects is called directly while it lives; once its
    // scriptable object is gone it goes through the page like any other.
    const boost::shared_ptr<NPObjectAPI> page(boost::dynamic_pointer_cast<NPObjectAPI>(target));
    if (const JSAPIPtr inner = page ? page->ownObject() : JSAPIPtr()) {
        inner->invoke(std::string(), args);
        return;
    }
    NpapiVariantGuard slot(*host);
    host->getNPVariant(slot.get(), variant(target));
    params[1] = *slot.get();
    NpapiVariantGuard result(*host);
    host->InvokeDefault(helper, params, count, result.get());
    setVoid(&params[1]);
}

void NPObjectAPI::invokeHandlerBatch(const std::string& name, const VariantList& args,
                                     const std::vector<JSObjectPtr>& handlers,
                                     const std::vector<JSObjectPtr>& interfaces)
{
    if (!isValid())
        throw script_error("Error calling handlers");
    const NpapiBrowserHostPtr host(getNpapiHost());
    if (!host->isMainThread()) {
        host->scheduleOnMainThread(self(), [this, name, args, handlers, interfaces] {
            invokeHandlerBatch(name, args, handlers, interfaces);
        });
        return;
    }
    const JSObjectPtr helper(host->getDelayedCallFunction());
    const boost::shared_ptr<NPObjectAPI> helperObject(
        boost::dynamic_pointer_cast<NPObjectAPI>(helper));
    if (!helperObject)
        throw script_error("Error calling handlers (delegate disappeared)");

    // [0] delay, [1] the target (per call), [2] the arguments, [3] the event.
    NpapiVariantArray params(*host, 4);
    params[0].type = NPVariantType_Int32;
    params[0].value.intValue = 0;
    host->getNPVariant(&params[2], variant(args));
    host->getNPVariant(&params[3], variant(name));
    for (const JSObjectPtr& handler : handlers)
        callTarget(host, helperObject->getNPObject(), handler, &params[0], 3, args);
    for (const JSObjectPtr& iface : interfaces)
        callTarget(host, helperObject->getNPObject(), iface, &params[0], 4, args);
}

} // namespace Npapi
} // namespace FB
