// FB::Npapi::NpapiPluginX11: the NPAPI plugin object of an X11 browser - the
// base adapter plus the XEmbed window.
//
// SetWindow makes an FB::PluginWindowX11 on the X window the browser gives
// (the browser must support XEmbed), updates it in place while the window
// id stays, and replaces or removes it when the id changes or the browser
// takes the window away; the core is detached from a window before it is
// deleted, and the window itself goes only once no event callback runs on
// it (a page call from an event may destroy the instance). The first
// construction in the process finds the plugin file's path. Main thread
// only.
#ifndef FB_NPAPI_NPAPIPLUGINX11_H
#define FB_NPAPI_NPAPIPLUGINX11_H

#include <boost/shared_ptr.hpp>

#include "NpapiPlugin.h"

namespace FB {

class PluginWindowX11;

namespace Npapi {

class NpapiPluginX11 : public NpapiPlugin {
public:
    NpapiPluginX11(const NpapiBrowserHostPtr& host, const std::string& mimetype);
    ~NpapiPluginX11() override;

    NPError SetWindow(NPWindow* window) override;
    NPError GetValue(NPPVariable variable, void* value) override;

private:
    void dropWindow();

    // Owned here; an event callback running on the window holds it too.
    boost::shared_ptr<PluginWindowX11> m_window;
};

// What FB::FactoryBase::createNpapiPlugin answers.
NpapiPluginPtr createNpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype);

} // namespace Npapi
} // namespace FB

#endif
