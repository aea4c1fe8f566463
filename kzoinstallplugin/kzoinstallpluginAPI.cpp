#include "kzoinstallpluginAPI.h"

#include "kzoerrorstrings.h"
#include "kzohelpers.h"
#include "kzoinstallplugin.h"
#include "method_wrappers.h"
#include "talk/base/logging.h"

kzoinstallpluginAPI::kzoinstallpluginAPI(const boost::shared_ptr<kzoinstallplugin>& plugin,
                                         const FB::BrowserHostPtr& host)
    : FB::JSAPIAuto("<JSAPI-Auto Javascript Object>"), m_plugin(plugin), m_host(host)
{
    m_updater.setHost(m_host);
    addMethod("echo", FB::bindMethod(this, &kzoinstallpluginAPI::echo));
    addMethod("updatePlugin", FB::bindMethod(this, &kzoinstallpluginAPI::updatePlugin));
    addMethod("getVersion", FB::bindMethod(this, &kzoinstallpluginAPI::getVersion));
    addMethod("getErrorString", FB::bindMethod(this, &kzoinstallpluginAPI::getErrorString));
    addMethod("getMasterVersion", FB::bindMethod(this, &kzoinstallpluginAPI::getMasterVersion));
}

kzoinstallpluginAPI::~kzoinstallpluginAPI() {}

void kzoinstallpluginAPI::requireValidSite()
{
    // A plugin that is gone took its page with it; nothing is left to check.
    if (const boost::shared_ptr<kzoinstallplugin> plugin = m_plugin.lock())
        plugin->requireValidSite();
}

FB::variant kzoinstallpluginAPI::echo(const FB::variant& msg)
{
    requireValidSite();
    return msg;
}

void kzoinstallpluginAPI::updatePlugin(const std::string& url,
                                       const FB::JSObjectPtr& successCallback,
                                       const FB::JSObjectPtr& failureCallback,
                                       const FB::JSObjectPtr& progressCallback)
{
    requireValidSite();
    m_updater.setUseMasterVersion(true);
    m_updater.updatePlugin(url, successCallback, failureCallback, progressCallback);
}

std::string kzoinstallpluginAPI::getVersion()
{
    requireValidSite();
    return getPluginVersion();
}

std::string kzoinstallpluginAPI::getErrorString(int errorCode)
{
    requireValidSite();
    LOG(LS_INFO) << "getErrorString" << ": " << errorCode;
    return errorStringFor(errorCode);
}

std::string kzoinstallpluginAPI::getMasterVersion()
{
    requireValidSite();
    return getMasterPluginVersion();
}

void kzoinstallpluginAPI::releasePageObjects()
{
    m_updater.releasePageObjects();
}
