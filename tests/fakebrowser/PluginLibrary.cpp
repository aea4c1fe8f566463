#include "PluginLibrary.h"

#include <dlfcn.h>

#include <stdexcept>

namespace fakebrowser {

PluginLibrary::PluginLibrary(const std::string& path) : m_path(path)
{
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* error = dlerror();
        throw std::runtime_error("cannot load " + path + ": " + (error ? error : "unknown error"));
    }
    try {
        m_getPluginVersion = reinterpret_cast<NP_GetPluginVersionFunc>(symbol("NP_GetPluginVersion"));
        m_getMIMEDescription = reinterpret_cast<NP_GetMIMEDescriptionFunc>(symbol("NP_GetMIMEDescription"));
        m_getValue = reinterpret_cast<NP_GetValueFunc>(symbol("NP_GetValue"));
        m_initialize = reinterpret_cast<NP_InitializeFunc>(symbol("NP_Initialize"));
        m_shutdown = reinterpret_cast<NP_ShutdownFunc>(symbol("NP_Shutdown"));
    } catch (...) {
        dlclose(m_handle);
        throw;
    }
}

PluginLibrary::~PluginLibrary()
{
    dlclose(m_handle);
}

void* PluginLibrary::symbol(const char* name)
{
    dlerror();
    void* address = dlsym(m_handle, name);
    if (!address)
        throw std::runtime_error(m_path + " does not export " + name);
    return address;
}

} // namespace fakebrowser
