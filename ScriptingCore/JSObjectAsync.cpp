// The operations of a page object that may be requested from any thread and
// run later on the browser's main thread.
#include <stdexcept>

#include <boost/bind/bind.hpp>
#include <boost/pointer_cast.hpp>
#include <boost/smart_ptr/bad_weak_ptr.hpp>

#include "BrowserHost.h"
#include "CrossThreadCall.h"
#include "JSObject.h"
#include "variant.h"

namespace FB {

namespace {

BrowserHostPtr hostForAsyncCall(const BrowserHostWeakPtr& weakHost)
{
    BrowserHostPtr host(weakHost.lock());
    if (!host)
        throw std::runtime_error("Cannot invoke asynchronously");
    return host;
}

} // namespace

void JSObject::invokeAsync(const std::string& name, const VariantList& args)
{
    const BrowserHostPtr host(hostForAsyncCall(m_host));
    const JSObjectPtr self(boost::static_pointer_cast<JSObject>(shared_from_this()));
    host->scheduleOnMainThread(self, boost::bind(&JSObject::scheduleInvoke, this, args, name));
}

void JSObject::scheduleInvoke(const VariantList& args, const std::string& name)
{
    const BrowserHostPtr host(m_host.lock());
    if (!host)
        throw boost::bad_weak_ptr();
    host->InvokeDelayed(0, boost::static_pointer_cast<JSObject>(shared_from_this()), args, name);
}

void JSObject::setPropertyAsync(const std::string& name, const variant& value)
{
    typedef void (JSAPI::*SetProperty)(const std::string&, const variant&);
    const BrowserHostPtr host(hostForAsyncCall(m_host));
    const JSObjectPtr self(boost::static_pointer_cast<JSObject>(shared_from_this()));
    host->scheduleOnMainThread(
        self, boost::bind(static_cast<SetProperty>(&JSAPI::setProperty), this, name, value));
}

} // namespace FB
