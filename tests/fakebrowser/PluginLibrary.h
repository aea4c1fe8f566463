// fakebrowser::PluginLibrary: a plugin library loaded as a browser loads it:
// dlopen(RTLD_NOW | RTLD_LOCAL) and the five exported entry functions.
//
// The constructor throws std::runtime_error (with dlerror's text) when the
// library does not load or lacks one of the exports. The destructor
// dlcloses, as a browser does: a library linked with -z nodelete (the
// installer's builds, see cmake/Plugin.cmake) stays mapped for threads it
// may have left running, any other is unmapped once its last handle goes.
// Main thread only.
#ifndef FAKEBROWSER_PLUGINLIBRARY_H
#define FAKEBROWSER_PLUGINLIBRARY_H

#include <string>

#include "NpapiAbi.h"

namespace fakebrowser {

class PluginLibrary {
public:
    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return m_path; }

    const char* getPluginVersion() const { return m_getPluginVersion(); }
    const char* getMIMEDescription() const { return m_getMIMEDescription(); }
    NPError getValue(void* future, NPPVariable variable, void* value) const
    {
        return m_getValue(future, variable, value);
    }
    NPError initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs) const
    {
        return m_initialize(browserFuncs, pluginFuncs);
    }
    NPError shutdown() const { return m_shutdown(); }

private:
    void* symbol(const char* name);

    std::string m_path;
    void* m_handle = nullptr;
    NP_GetPluginVersionFunc m_getPluginVersion = nullptr;
    NP_GetMIMEDescriptionFunc m_getMIMEDescription = nullptr;
    NP_GetValueFunc m_getValue = nullptr;
    NP_InitializeFunc m_initialize = nullptr;
    NP_ShutdownFunc m_shutdown = nullptr;
};

} // namespace fakebrowser

#endif
