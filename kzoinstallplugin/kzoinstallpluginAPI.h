// kzoinstallpluginAPI: the root scriptable object of an installer instance,
// the plugin element's interface as the page sees it. Script methods:
//   echo(value?)                       - the value back (nothing without one)
//   updatePlugin(url, success, failure, progress) - starts the update
//   getVersion()                       - "1.6.210.5"
//   getErrorString(code)               - the error table's message
//   getMasterVersion()                 - the main plugin's version line
// Argument errors are FB::invalid_arguments from the method wrappers. Each
// method first has the plugin check the page's address (once per instance);
// a refused page gets the check's script error from every method.
// It owns the instance's updater and holds its plugin weakly (it may outlive
// it). Made by the plugin class; owned through FB::JSAPIPtr. Every method
// runs on the browser's main thread.
#ifndef KZOINSTALLPLUGINAPI_H
#define KZOINSTALLPLUGINAPI_H

#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include "APITypes.h"
#include "JSAPIAuto.h"
#include "kzoupdateAPI.h"
#include "variant.h"

class kzoinstallplugin;

class kzoinstallpluginAPI : public FB::JSAPIAuto {
public:
    kzoinstallpluginAPI(const boost::shared_ptr<kzoinstallplugin>& plugin,
                        const FB::BrowserHostPtr& host);
    ~kzoinstallpluginAPI() override;

    FB::variant echo(const FB::variant& msg);
    void updatePlugin(const std::string& url, const FB::JSObjectPtr& successCallback,
                      const FB::JSObjectPtr& failureCallback,
                      const FB::JSObjectPtr& progressCallback);
    std::string getVersion();
    std::string getErrorString(int errorCode);
    std::string getMasterVersion();

    // The instance is going (main thread): the updater lets go of the
    // page's objects.
    void releasePageObjects();

private:
    // The page's address must have passed the plugin's site check; throws
    // its script error otherwise.
    void requireValidSite();

    kzoupdateAPI m_updater;
    boost::weak_ptr<kzoinstallplugin> m_plugin;
    FB::BrowserHostPtr m_host;
};

#endif
