#include "NpapiPluginX11.h"

#include <dlfcn.h>

#include <boost/make_shared.hpp>

#include "FactoryBase.h"
#include "PluginWindowX11.h"
#include "WindowContextX11.h"

extern "C" NPError NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs);

namespace FB {
namespace Npapi {

namespace {

// The file this code was loaded from, found once per process.
const std::string& pluginFilePath()
{
    static const std::string* const path = [] {
        Dl_info info;
        if (dladdr(reinterpret_cast<void*>(&NP_Initialize), &info) && info.dli_fname)
            return new std::string(info.dli_fname);
        return new std::string;
    }();
    return *path;
}

} // namespace

NpapiPluginPtr createNpapiPlugin(const NpapiBrowserHostPtr& host, const std::string& mimetype)
{
    return boost::make_shared<NpapiPluginX11>(host, mimetype);
}

NpapiPluginX11::NpapiPluginX11(const NpapiBrowserHostPtr& host, const std::string& mimetype)
    : NpapiPlugin(host, mimetype)
{
    PluginCore::setPlatform("X11", "NPAPI");
    setFilesystemPath(pluginFilePath());
}

NpapiPluginX11::~NpapiPluginX11()
{
    // The core was detached by shutdown; a window left over is only let go
    // (an event callback still running on it keeps it until it returns).
}

void NpapiPluginX11::dropWindow()
{
    // The window goes when this returns, after the core was detached from
    // it (also when the detach throws).
    boost::shared_ptr<PluginWindowX11> window;
    window.swap(m_window);
    m_core->ClearWindow();
}

NPError NpapiPluginX11::SetWindow(NPWindow* window)
{
    if (!window || !window->window) {
        if (m_window)
            dropWindow();
        return NPERR_NO_ERROR;
    }
    NPBool xembed = false;
    m_npHost->GetValue(NPNVSupportsXEmbedBool, &xembed);
    if (!xembed)
        return NPERR_GENERIC_ERROR;

    const uint32_t windowId = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window->window));
    if (m_window) {
        if (m_window->getWindowId() == windowId) {
            m_window->setWindowPosition(window->x, window->y, window->width, window->height);
            m_window->setWindowClipping(window->clipRect.top, window->clipRect.left,
                                        window->clipRect.bottom, window->clipRect.right);
            return NPERR_NO_ERROR;
        }
        dropWindow();
    }

    unsigned long browserWindow = 0;
    m_npHost->GetValue(NPNVnetscapeWindow, &browserWindow);
    // Shared, so that an event callback can keep the window for its whole
    // length even when the instance goes during it.
    m_window.reset(sharedFactoryInstance()->createPluginWindowX11(WindowContextX11(windowId)));
    m_window->setBrowserWindow(static_cast<uint32_t>(browserWindow));
    m_window->setWindowPosition(window->x, window->y, window->width, window->height);
    m_window->setWindowClipping(window->clipRect.top, window->clipRect.left,
                                window->clipRect.bottom, window->clipRect.right);
    // An observer that refuses the window (the application's site check)
    // throws from here; the window stays attached as the refusal left it.
    m_core->SetWindow(m_window.get());
    return NPERR_NO_ERROR;
}

NPError NpapiPluginX11::GetValue(NPPVariable variable, void* value)
{
    if (variable == NPPVpluginNeedsXEmbed) {
        *static_cast<NPBool*>(value) = true;
        return NPERR_NO_ERROR;
    }
    return NpapiPlugin::GetValue(variable, value);
}

} // namespace Npapi
} // namespace FB
