// FB::PluginCore: the per-instance, browser-neutral plugin object that the
// application subclasses.
//
// It holds the instance's browser host, the plugin file's path, the page's
// <param> values, the window it observes and the root scriptable object.
// "on..." parameters are looked up as functions of the page window; once set
// up, the page's "onload" handler is called 250 ms later with the root
// object. The browser binding sets a core up in the order SetHost,
// setFilesystemPath, setParams, isWindowless, setReady, then gives and takes
// windows (SetWindow, ClearWindow) and finally calls ClearWindow and
// shutdown. Destroying a core that has a host shuts that host down (again).
// Always owned by a boost::shared_ptr (it attaches itself to its window as
// an observer). Main thread only; no lock is taken here.
#ifndef FB_PLUGINCORE_H
#define FB_PLUGINCORE_H

#include <atomic>
#include <string>

#include <boost/logic/tribool.hpp>
#include <boost/optional.hpp>
#include <boost/shared_ptr.hpp>

#include "APITypes.h"
#include "PluginEventSink.h"
#include "variant.h"

namespace FB {

class PluginWindow;
class BrowserStreamRequest;

class PluginCore : public PluginEventSink {
public:
    // Number of live plugin cores.
    static std::atomic<int> ActivePluginCount;
    // The platform and browser binding names, e.g. "X11" and "NPAPI".
    static std::string OS;
    static std::string Browser;
    static void setPlatform(const std::string& os, const std::string& browser);

    PluginCore();
    ~PluginCore() override;

    // The application handles the window's events (PluginEventSink).
    bool HandleEvent(PluginEvent* evt, PluginEventSource* source) override = 0;

    virtual void SetHost(const BrowserHostPtr& host);
    virtual PluginWindow* GetWindow() const;
    virtual void setFlag(bool flag);
    virtual bool getFlag() const;
    // Clears a different window first, stores the new one and attaches the
    // core to it (the core receives FB::AttachedEvent before this returns).
    // An exception from the attachment leaves the window stored and passes
    // to the caller.
    virtual void SetWindow(PluginWindow* window);
    // Detaches the core from its window (FB::DetachedEvent) and forgets it.
    virtual void ClearWindow();
    // Schedules the page's "onload" handler; answers whether it was
    // scheduled, after telling onPluginReady the same. Never throws for the
    // page's failures.
    virtual bool setReady();
    virtual void onPluginReady(bool onloadScheduled);
    virtual void shutdown();
    // The application's root scriptable object, made once by getRootJSAPI.
    virtual JSAPIPtr createJSAPI() = 0;
    virtual JSAPIPtr getRootJSAPI();
    // Whether the "windowless" parameter reads as true.
    virtual bool isWindowless();
    virtual void setFilesystemPath(const std::string& path);
    // Stores the parameters; entries the map does not name stay. Values of
    // names beginning with "on" become page functions (null when the page
    // window has no such member).
    virtual void setParams(const VariantMap& params);
    // The parameter as text, none when absent; FB::bad_variant_cast when it
    // does not convert.
    virtual boost::optional<std::string> getParam(const std::string& name);
    // A copy of the parameter, or an empty variant when absent.
    virtual variant getParamVariant(const std::string& name);
    // Offered each stream the browser opened by itself; accepting it is up
    // to an override.
    virtual void onUnsolicitedStream(BrowserStreamRequest& request);
    virtual BrowserHostPtr getHost() const;

protected:
    BrowserHostPtr m_host;
    std::string m_filesystemPath;
    VariantMap m_params;
    PluginWindow* m_window;
    JSAPIPtr m_api;
    boost::logic::tribool m_windowless;
    bool m_flag;
};

typedef boost::shared_ptr<PluginCore> PluginCorePtr;

} // namespace FB

#endif
