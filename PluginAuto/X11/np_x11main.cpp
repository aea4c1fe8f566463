// The five functions a browser looks up in the plugin library. They are the
// only symbols the library exports; none lets an exception out.
#include "NpapiPluginModule.h"
#include "PluginIdentity.h"

#define FB_EXPORT extern "C" __attribute__((visibility("default")))

FB_EXPORT const char* NP_GetPluginVersion()
{
    return FB::getPluginVersionText();
}

FB_EXPORT const char* NP_GetMIMEDescription()
{
    return FB::getPluginMimeDescription();
}

// The first argument is not read: browsers pass null, and the answers need
// no instance.
FB_EXPORT NPError NP_GetValue(void*, NPPVariable variable, void* value)
{
    return FB::Npapi::NpapiPluginModule::NPP_GetValue(nullptr, variable, value);
}

FB_EXPORT NPError NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs)
{
    if (!browserFuncs || !pluginFuncs)
        return NPERR_INVALID_FUNCTABLE_ERROR;
    try {
        FB::Npapi::NpapiPluginModule* const module = FB::Npapi::NpapiPluginModule::getModule(nullptr);
        module->getPluginFuncs(pluginFuncs);
        module->setNetscapeFuncs(browserFuncs);
        return NPERR_NO_ERROR;
    } catch (...) {
        return NPERR_MODULE_LOAD_FAILED_ERROR;
    }
}

FB_EXPORT NPError NP_Shutdown()
{
    try {
        FB::Npapi::NpapiPluginModule::releaseModule(nullptr);
        return NPERR_NO_ERROR;
    } catch (...) {
        return NPERR_GENERIC_ERROR;
    }
}
