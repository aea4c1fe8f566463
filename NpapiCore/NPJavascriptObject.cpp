#include "NPJavascriptObject.h"

#include <new>
#include <string_view>
#include <typeinfo>

#include <boost/make_shared.hpp>

#include "JSFunction.h"
#include "NpapiVariantGuard.h"
#include "PageReadBudget.h"
#include "script_error.h"
#include "variant.h"

namespace FB {
namespace Npapi {

namespace {

// Views, so that a comparison with a member name tests the length first.
constexpr std::string_view kAddEventListener = "addEventListener";
constexpr std::string_view kRemoveEventListener = "removeEventListener";
constexpr std::string_view kGetLastException = "getLastException";
// The script names the two listener functions carry (their toString text);
// the page reaches them under the member names above.
const char kAttachEventName[] = "attachEvent";
const char kDetachEventName[] = "detachEvent";

// The browser's arguments as script values, in order, in the list the host
// lends for the call.
class Arguments {
public:
    Arguments(NpapiBrowserHost& host, const NPVariant* args, uint32_t count)
        : m_host(host), m_list(host.takeArgumentList())
    {
        try {
            m_list.reserve(count);
            for (uint32_t i = 0; i < count; ++i)
                m_list.push_back(host.getVariant(&args[i]));
        } catch (...) {
            m_host.giveArgumentList(m_list);
            throw;
        }
    }
    ~Arguments() { m_host.giveArgumentList(m_list); }
    const VariantList& list() const { return m_list; }

private:
    NpapiBrowserHost& m_host;
    VariantList m_list;
};

// The empty name: the object itself is called.
const std::string kDefaultCall;

// Shared by every browser object of the process; main thread only.
variant& lastExceptionStore()
{
    static variant* const last = new variant;
    return *last;
}

// The add and remove functions. They reach their owner through its
// shareable reference: a page may keep the function after the browser has
// freed the owner, and the call then fails instead of touching freed memory.
class ListenerFunction : public JSFunction {
public:
    typedef void (JSAPI::*Change)(const std::string&, const JSObjectPtr&);

    ListenerFunction(const boost::weak_ptr<NPJavascriptObject::Reference>& owner,
                     const char* name, Change change)
        : JSFunction(JSAPIWeakPtr(), name, 0), m_owner(owner), m_change(change)
    {
    }

    variant invokeDefault(const VariantList& args) override
    {
        const boost::shared_ptr<NPJavascriptObject::Reference> owner(m_owner.lock());
        JSAPIPtr api;
        if (owner && owner->getPtr()->isValid()) {
            try {
                api = owner->getPtr()->getAPI();
                owner->getPtr()->getHost();
            } catch (const std::bad_cast&) {
                api.reset();
            }
        }
        if (!api || (args.size() != 2 && args.size() != 3))
            throw invalid_arguments("Invalid Arguments");
        try {
            const std::string name("on" + args[0].convert_cast<std::string>());
            const JSObjectPtr handler(args[1].convert_cast<JSObjectPtr>());
            (api.get()->*m_change)(name, handler);
        } catch (const std::bad_cast& e) {
            throw invalid_arguments(e.what());
        }
        return variant();
    }

private:
    boost::weak_ptr<NPJavascriptObject::Reference> m_owner;
    Change m_change;
};

class LastExceptionFunction : public JSFunction {
public:
    LastExceptionFunction() : JSFunction(JSAPIWeakPtr(), std::string(kGetLastException), 0) {}

    variant invokeDefault(const VariantList&) override { return lastExceptionStore(); }
};

} // namespace

NPClass NPJavascriptObject::s_class = {
    NP_CLASS_STRUCT_VERSION,
    &NPJavascriptObject::npAllocate,
    &NPJavascriptObject::npDeallocate,
    &NPJavascriptObject::npInvalidate,
    &NPJavascriptObject::npHasMethod,
    &NPJavascriptObject::npInvoke,
    &NPJavascriptObject::npInvokeDefault,
    &NPJavascriptObject::npHasProperty,
    &NPJavascriptObject::npGetProperty,
    &NPJavascriptObject::npSetProperty,
    &NPJavascriptObject::npRemoveProperty,
    &NPJavascriptObject::npEnumerate,
    &NPJavascriptObject::npConstruct,
};

NPJavascriptObject::NPJavascriptObject(NPP)
    : m_valid(true), m_autoRelease(false), m_apiAddress(nullptr)
{
    _class = &s_class;
    referenceCount = 0;
}

// The three function objects are made when the page first reads them: most
// browser objects (every method's function object among them) never need
// them, and each is a whole scriptable object.
JSAPIPtr NPJavascriptObject::extraMember(const std::string& name)
{
    typedef void (JSAPI::*Change)(const std::string&, const JSObjectPtr&);
    if (name == kAddEventListener) {
        if (!m_addEventListener)
            m_addEventListener = boost::make_shared<ListenerFunction>(
                getWeakReference(), kAttachEventName, static_cast<Change>(&JSAPI::addEventHandler));
        return m_addEventListener;
    }
    if (name == kRemoveEventListener) {
        if (!m_removeEventListener)
            m_removeEventListener = boost::make_shared<ListenerFunction>(
                getWeakReference(), kDetachEventName, static_cast<Change>(&JSAPI::removeEventHandler));
        return m_removeEventListener;
    }
    if (name == kGetLastException) {
        if (!m_getLastException)
            m_getLastException = boost::make_shared<LastExceptionFunction>();
        return m_getLastException;
    }
    return JSAPIPtr();
}

boost::weak_ptr<NPJavascriptObject::Reference> NPJavascriptObject::getWeakReference()
{
    if (!m_sharedRef)
        m_sharedRef = boost::make_shared<Reference>(this);
    return m_sharedRef;
}

NPJavascriptObject::~NPJavascriptObject()
{
    const NpapiBrowserHostPtr host(m_host.lock());
    if (host && m_apiAddress)
        host->forgetJSAPIWrapper(m_apiAddress, this);
    if (m_autoRelease && host && m_apiAddress) {
        try {
            host->releaseJSAPI(m_apiAddress, m_api);
        } catch (...) {
        }
    }
}

NPJavascriptObject* NPJavascriptObject::newObject(const NpapiBrowserHostPtr& host,
                                                  const JSAPIWeakPtr& api, bool autoRelease)
{
    const JSAPIPtr alive(api.lock());
    if (alive)
        return newObject(host, alive, autoRelease);
    NPObject* const made = host->CreateObject(&s_class);
    if (!made)
        return nullptr;
    NPJavascriptObject* const object = fromNPObject(made);
    object->setAPI(api, host);
    object->m_autoRelease = autoRelease;
    return object;
}

NPJavascriptObject* NPJavascriptObject::newObject(const NpapiBrowserHostPtr& host,
                                                  const JSAPIPtr& api, bool autoRelease)
{
    NPObject* const made = host->CreateObject(&s_class);
    if (!made)
        return nullptr;
    NPJavascriptObject* const object = fromNPObject(made);
    object->m_api = api;
    object->m_apiAddress = api.get();
    object->m_host = host;
    object->m_autoRelease = autoRelease;
    if (autoRelease && api)
        host->retainJSAPI(api);
    // The page may store values on a function object, among them one that
    // holds the browser object owning the function: they go when the last
    // instance that handed the function to its page does.
    if (dynamic_cast<const JSFunction*>(api.get()))
        host->notifyAtShutdown(api);
    return object;
}

bool NPJavascriptObject::isNPJavascriptObject(const NPObject* object)
{
    return object && object->_class == &s_class;
}

void NPJavascriptObject::setAPI(const JSAPIWeakPtr& api, const NpapiBrowserHostWeakPtr& host)
{
    m_api = api;
    m_apiAddress = api.lock().get();
    m_host = host;
}

JSAPIPtr NPJavascriptObject::getAPI() const
{
    const JSAPIPtr api(m_api.lock());
    if (!api)
        throw std::bad_cast();
    return api;
}

NpapiBrowserHostPtr NPJavascriptObject::getHost()
{
    const NpapiBrowserHostPtr host(m_host.lock());
    if (!host) {
        Invalidate();
        throw std::bad_cast();
    }
    return host;
}

void NPJavascriptObject::Invalidate()
{
    m_valid = false;
    try {
        if (const JSAPIPtr api = m_api.lock())
            api->invalidate();
    } catch (const std::bad_cast&) {
    }
}

variant NPJavascriptObject::lastException() { return lastExceptionStore(); }

bool NPJavascriptObject::hostLive() const
{
    const NpapiBrowserHostPtr host(m_host.lock());
    return host && !host->isShutDown();
}

void NPJavascriptObject::reportException(const char* message)
{
    if (const NpapiBrowserHostPtr host = m_host.lock())
        host->SetException(this, message);
}

template <class Body>
bool NPJavascriptObject::guarded(Body body)
{
    return guarded(body, [] {});
}

template <class Body, class Failed>
bool NPJavascriptObject::guarded(Body body, Failed failed)
{
    if (!m_valid || m_api.expired() || !hostLive())
        return false;
    // Whatever the call reads from the page, in all, is bounded.
    PageReadBudget budget;
    try {
        return body();
    } catch (const std::bad_cast&) {
        failed();
        return false;
    } catch (const script_error& e) {
        reportException(e.what());
        lastExceptionStore() = variant(std::string(e.what()));
        failed();
        return false;
    } catch (const std::exception& e) {
        // Not meant for the page, but nothing may reach the browser either.
        reportException(e.what());
        failed();
        return false;
    } catch (...) {
        reportException("Unknown exception");
        failed();
        return false;
    }
}

bool NPJavascriptObject::HasMethod(NPIdentifier name)
{
    return guarded([&] {
        const NpapiBrowserHostPtr host(getHost());
        const std::string& method = host->identifierName(name);
        if (method == "toString")
            return true;
        const JSAPIPtr api(getAPI());
        if (api->hasMethodFunction(method))
            return false;
        return api->hasMethod(method);
    });
}

bool NPJavascriptObject::Invoke(NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                NPVariant* result)
{
    if (!result)
        return false;
    setVoid(result);
    if (argCount && !args)
        return false;
    return guarded([&] {
        const NpapiBrowserHostPtr host(getHost());
        const JSAPIPtr api(getAPI());
        const std::string& method = name ? host->identifierName(name) : kDefaultCall;
        const Arguments arguments(*host, args, argCount);
        host->getNPVariant(result, api->invoke(method, arguments.list()));
        return true;
    });
}

bool NPJavascriptObject::InvokeDefault(const NPVariant* args, uint32_t argCount,
                                       NPVariant* result)
{
    return Invoke(nullptr, args, argCount, result);
}

bool NPJavascriptObject::HasProperty(NPIdentifier name)
{
    return guarded([&] {
        const NpapiBrowserHostPtr host(getHost());
        const JSAPIPtr api(getAPI());
        const std::string* const text = host->stringIdentifierName(name);
        if (!text)
            return api->hasPropertyByIndex(host->IntFromIdentifier(name));
        const std::string& property = *text;
        if (property == kAddEventListener || property == kRemoveEventListener ||
            property == kGetLastException)
            return true;
        if (property != "toString" && api->hasMethodFunction(property))
            return true;
        if (HasMethod(name))
            return false;
        return api->hasProperty(property);
    });
}

bool NPJavascriptObject::GetProperty(NPIdentifier name, NPVariant* result)
{
    if (!result)
        return false;
    // Not preset: a value holding nothing leaves the result as the browser
    // passed it.
    return guarded([&] {
        const NpapiBrowserHostPtr host(getHost());
        const JSAPIPtr api(getAPI());
        const std::string* const property = host->stringIdentifierName(name);
        if (!property) {
            host->getNPVariant(result, api->getPropertyByIndex(host->IntFromIdentifier(name)));
        } else if (const JSAPIPtr extra = extraMember(*property)) {
            host->getNPVariant(result, extra);
        } else if (api->hasMethodFunction(*property)) {
            host->getNPVariant(result, api->getMethodFunction(*property));
        } else {
            host->getNPVariant(result, api->getProperty(*property));
        }
        return true;
    });
}

bool NPJavascriptObject::SetProperty(NPIdentifier name, const NPVariant* value)
{
    if (!value)
        return false;
    return guarded([&] {
        const NpapiBrowserHostPtr host(getHost());
        const JSAPIPtr api(getAPI());
        const variant converted(host->getVariant(value));
        const std::string* const property = host->stringIdentifierName(name);
        if (!property) {
            api->setPropertyByIndex(host->IntFromIdentifier(name), converted);
            return true;
        }
        if (api->hasMethodFunction(*property))
            throw script_error("This property cannot be changed");
        api->setProperty(*property, converted);
        return true;
    });
}

bool NPJavascriptObject::RemoveProperty(NPIdentifier name)
{
    return guarded([&] {
        const NpapiBrowserHostPtr host(getHost());
        const JSAPIPtr api(getAPI());
        if (const std::string* const property = host->stringIdentifierName(name))
            api->removeProperty(*property);
        else
            api->removePropertyByIndex(host->IntFromIdentifier(name));
        return true;
    });
}

bool NPJavascriptObject::Enumerate(NPIdentifier** value, uint32_t* count)
{
    if (!value || !count)
        return false;
    const auto list = [&] {
        const NpapiBrowserHostPtr host(getHost());
        const JSAPIPtr api(getAPI());
        std::vector<std::string> names;
        api->getMemberNames(names);
        names.emplace_back(kAddEventListener);
        names.emplace_back(kRemoveEventListener);
        names.emplace_back(kGetLastException);
        *count = 0;
        if (names.size() > UINT32_MAX / sizeof(NPIdentifier))
            return false;
        const uint32_t total = static_cast<uint32_t>(names.size());
        NPIdentifier* const ids =
            static_cast<NPIdentifier*>(host->MemAlloc(total * sizeof(NPIdentifier)));
        if (!ids)
            return false;
        for (uint32_t i = 0; i < total; ++i)
            ids[i] = host->GetStringIdentifier(names[i].c_str());
        *value = ids;
        *count = total;
        return true;
    };
    // An object that cannot be asked (invalid, its host gone or shut down,
    // or its scriptable object gone) leaves both out-parameters as the
    // browser set them.
    return guarded(list, [&] { *count = 0; });
}

bool NPJavascriptObject::Construct(const NPVariant* args, uint32_t argCount, NPVariant* result)
{
    if (!result)
        return false;
    setVoid(result);
    if (argCount && !args)
        return false;
    return guarded([&] {
        const NpapiBrowserHostPtr host(getHost());
        const JSAPIPtr api(getAPI());
        const Arguments arguments(*host, args, argCount);
        host->getNPVariant(result, api->construct(arguments.list()));
        return true;
    });
}

// ---- the NPClass entries: each converts the object and passes on ----
// None lets an exception out, whatever a scriptable object throws.

NPObject* NPJavascriptObject::npAllocate(NPP npp, NPClass*)
{
    try {
        return new NPJavascriptObject(npp);
    } catch (...) {
        return nullptr;
    }
}

void NPJavascriptObject::npDeallocate(NPObject* object)
{
    delete fromNPObject(object);
}

void NPJavascriptObject::npInvalidate(NPObject* object)
{
    if (object)
        fromNPObject(object)->Invalidate();
}

bool NPJavascriptObject::npHasMethod(NPObject* object, NPIdentifier name)
{
    return object && fromNPObject(object)->HasMethod(name);
}

bool NPJavascriptObject::npInvoke(NPObject* object, NPIdentifier name, const NPVariant* args,
                                  uint32_t argCount, NPVariant* result)
{
    return object && fromNPObject(object)->Invoke(name, args, argCount, result);
}

bool NPJavascriptObject::npInvokeDefault(NPObject* object, const NPVariant* args,
                                         uint32_t argCount, NPVariant* result)
{
    return object && fromNPObject(object)->InvokeDefault(args, argCount, result);
}

bool NPJavascriptObject::npHasProperty(NPObject* object, NPIdentifier name)
{
    return object && fromNPObject(object)->HasProperty(name);
}

bool NPJavascriptObject::npGetProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    return object && fromNPObject(object)->GetProperty(name, result);
}

bool NPJavascriptObject::npSetProperty(NPObject* object, NPIdentifier name,
                                       const NPVariant* value)
{
    return object && fromNPObject(object)->SetProperty(name, value);
}

bool NPJavascriptObject::npRemoveProperty(NPObject* object, NPIdentifier name)
{
    return object && fromNPObject(object)->RemoveProperty(name);
}

bool NPJavascriptObject::npEnumerate(NPObject* object, NPIdentifier** value, uint32_t* count)
{
    return object && fromNPObject(object)->Enumerate(value, count);
}

bool NPJavascriptObject::npConstruct(NPObject* object, const NPVariant* args, uint32_t argCount,
                                     NPVariant* result)
{
    return object && fromNPObject(object)->Construct(args, argCount, result);
}

} // namespace Npapi
} // namespace FB
