#include "kzoinstallplugin.h"

#include <typeinfo>

#include <boost/make_shared.hpp>

#include "BrowserHost.h"
#include "DOM/Window.h"
#include "kzohelpers.h"
#include "kzoinstallpluginAPI.h"
#include "kzologsetup.h"
#include "script_error.h"
#include "talk/base/logging.h"

namespace {

const char kRefusedSite[] = "File corrupted. Try re-installing the plugin.";

FB::PluginWindow* asPluginWindow(FB::PluginEventSource* source)
{
    FB::PluginWindow* const window = dynamic_cast<FB::PluginWindow*>(source);
    if (!window)
        throw std::bad_cast();
    return window;
}

// One row of the event map: the event's type picks the handler.
template <class Event>
bool dispatch(kzoinstallplugin* plugin, FB::PluginEvent* evt, FB::PluginEventSource* source,
              bool (kzoinstallplugin::*handler)(Event*, FB::PluginWindow*), bool& matched)
{
    Event* const typed = dynamic_cast<Event*>(evt);
    if (!typed)
        return false;
    matched = true;
    return (plugin->*handler)(typed, asPluginWindow(source));
}

} // namespace

void kzoinstallplugin::globalInitialize() {}

void kzoinstallplugin::globalDeinitialize() {}

kzoinstallplugin::kzoinstallplugin() : m_site(SiteUnchecked)
{
    configureLoggingOnce();
    LOG(LS_INFO) << "Creating kzoautoinstall plugin ";
}

kzoinstallplugin::~kzoinstallplugin()
{
    m_api.reset();
    if (m_host)
        m_host->releaseAllJSAPI();
    LOG(LS_INFO) << "destructing kzoautoinstall plugin ";
}

bool kzoinstallplugin::HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource* source)
{
    if (!evt || !dynamic_cast<FB::PluginWindow*>(source))
        return false;
    bool matched = false;
    bool handled = dispatch(this, evt, source, &kzoinstallplugin::handleMouseDownEvent, matched);
    if (!matched)
        handled = dispatch(this, evt, source, &kzoinstallplugin::handleMouseUpEvent, matched);
    if (!matched)
        handled = dispatch(this, evt, source, &kzoinstallplugin::handleMouseMoveEvent, matched);
    if (!matched)
        handled = dispatch(this, evt, source, &kzoinstallplugin::handleAttachedEvent, matched);
    if (!matched)
        handled = dispatch(this, evt, source, &kzoinstallplugin::handleDetachedEvent, matched);
    return handled;
}

void kzoinstallplugin::onPluginReady(bool onloadScheduled)
{
    LOG(LS_INFO) << "onPluginReady " << (onloadScheduled ? 1 : 0);
}

void kzoinstallplugin::shutdown()
{
    // An update may run on: its worker must not keep the page's objects
    // past the instance, nor report to a page that is gone.
    if (const boost::shared_ptr<kzoinstallpluginAPI> api =
            boost::dynamic_pointer_cast<kzoinstallpluginAPI>(m_api))
        api->releasePageObjects();
}

FB::JSAPIPtr kzoinstallplugin::createJSAPI()
{
    // boost::bad_weak_ptr when no shared pointer owns this core.
    const boost::shared_ptr<kzoinstallplugin> self(
        boost::static_pointer_cast<kzoinstallplugin>(shared_from_this()));
    return boost::make_shared<kzoinstallpluginAPI>(self, m_host);
}

bool kzoinstallplugin::isWindowless() { return false; }

bool kzoinstallplugin::handleMouseDownEvent(FB::MouseDownEvent*, FB::PluginWindow*)
{
    return false;
}

bool kzoinstallplugin::handleMouseUpEvent(FB::MouseUpEvent*, FB::PluginWindow*) { return false; }

bool kzoinstallplugin::handleMouseMoveEvent(FB::MouseMoveEvent*, FB::PluginWindow*)
{
    return false;
}

bool kzoinstallplugin::handleAttachedEvent(FB::AttachedEvent*, FB::PluginWindow*)
{
    checkSite();
    return false;
}

bool kzoinstallplugin::handleDetachedEvent(FB::DetachedEvent*, FB::PluginWindow*)
{
    return false;
}

void kzoinstallplugin::checkSite()
{
    // A core without a host or a page without a window has no address to
    // show, which is refused like an empty one.
    const FB::DOM::WindowPtr window(m_host ? m_host->getDOMWindow() : FB::DOM::WindowPtr());
    const std::string address(window ? window->getLocation() : std::string());
    if (isValidSite(address)) {
        m_site = SiteValid;
        LOG(LS_INFO) << "Site is VALID ";
        return;
    }
    m_site = SiteRefused;
    LOG(LS_INFO) << "Site is INVALID ";
    throw FB::script_error(kRefusedSite);
}

void kzoinstallplugin::requireValidSite()
{
    if (m_site == SiteUnchecked)
        checkSite();
    else if (m_site == SiteRefused)
        throw FB::script_error(kRefusedSite);
}
