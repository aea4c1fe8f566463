// kzoinstallplugin: the installer's plugin core, one per page instance.
//
// Construction sets the process's logging up once (the first construction
// whose set-up succeeds; a failure fails this instance and the next one
// tries again). Window events go to five handlers by type. The page's
// address is checked against the vendor's sites when the window is attached
// and, for a browser that never attaches one, when the page first calls the
// root object: a refused page gets FB::script_error "File corrupted. Try
// re-installing the plugin." there and from every root-object method after.
// Main thread only.
#ifndef KZOINSTALLPLUGIN_H
#define KZOINSTALLPLUGIN_H

#include "PluginCore.h"
#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/DetachedEvent.h"
#include "PluginEvents/MouseEvents.h"
#include "PluginWindow.h"

class kzoinstallplugin : public FB::PluginCore {
public:
    static void globalInitialize();
    static void globalDeinitialize();

    kzoinstallplugin();
    ~kzoinstallplugin() override;

    bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource* source) override;
    void onPluginReady(bool onloadScheduled) override;
    // The instance is going: the root object's updater lets go of the
    // page's objects.
    void shutdown() override;
    FB::JSAPIPtr createJSAPI() override;
    // Always windowed, whatever the page's "windowless" parameter says.
    bool isWindowless() override;

    // Throws the site check's script error when the page is refused; runs
    // the check first when no window has been attached yet.
    void requireValidSite();

    virtual bool handleMouseDownEvent(FB::MouseDownEvent* evt, FB::PluginWindow* window);
    virtual bool handleMouseUpEvent(FB::MouseUpEvent* evt, FB::PluginWindow* window);
    virtual bool handleMouseMoveEvent(FB::MouseMoveEvent* evt, FB::PluginWindow* window);
    // The site check; false (not handled) for a valid page.
    virtual bool handleAttachedEvent(FB::AttachedEvent* evt, FB::PluginWindow* window);
    virtual bool handleDetachedEvent(FB::DetachedEvent* evt, FB::PluginWindow* window);

private:
    enum SiteState { SiteUnchecked, SiteValid, SiteRefused };

    // Reads the page's address, logs the verdict and records it; throws the
    // refusal.
    void checkSite();

    SiteState m_site;
};

#endif
