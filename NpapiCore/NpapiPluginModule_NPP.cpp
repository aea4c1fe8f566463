// The plugin-side entry points: bookkeeping of the instance record, then a
// forward to the instance's plugin object. Each one catches everything and
// answers its failure value, so no exception reaches the browser.
#include <cstdio>
#include <new>

#include "FactoryBase.h"
#include "NpapiBrowserHost.h"
#include "NpapiPlugin.h"
#include "NpapiPluginModule.h"
#include "logging.h"

namespace FB {
namespace Npapi {

namespace {

// The instance's record; null when there is no instance.
NpapiInstanceData* instanceData(NPP instance)
{
    return instance ? static_cast<NpapiInstanceData*>(instance->pdata) : NULL;
}

// The one forward of an entry point: no instance, no plugin object, the
// plugin's answer, or the failure value when anything is thrown. The plugin
// object is held for the whole call.
template <class R, class Call>
R forward(NPP instance, R noInstance, R noPlugin, R failed, Call call)
{
    if (!instanceData(instance))
        return noInstance;
    try {
        const boost::shared_ptr<NpapiPlugin> plugin(NpapiPluginModule::getPlugin(instance));
        if (!plugin)
            return noPlugin;
        return call(*plugin);
    } catch (...) {
        return failed;
    }
}

template <class Call>
void forwardVoid(NPP instance, Call call)
{
    forward(instance, 0, 0, 0, [&](NpapiPlugin& plugin) {
        call(plugin);
        return 0;
    });
}

// The host goes down first, then the plugin object; each step runs even when
// an earlier one failed, and nothing is let out.
void tearDown(NPP instance, const boost::shared_ptr<NpapiBrowserHost>& host,
              const boost::shared_ptr<NpapiPlugin>& plugin)
{
    if (host) {
        try {
            host->shutdown();
        } catch (const std::exception& e) {
            FBLOG_ERROR("NpapiPluginModule", "Host shutdown failed: " << e.what());
        } catch (...) {
            FBLOG_ERROR("NpapiPluginModule", "Host shutdown failed");
        }
    }
    if (plugin) {
        try {
            plugin->shutdown();
        } catch (const std::exception& e) {
            FBLOG_ERROR("NpapiPluginModule", "Plugin shutdown failed: " << e.what());
        } catch (...) {
            FBLOG_ERROR("NpapiPluginModule", "Plugin shutdown failed");
        }
    }
    NpapiInstanceData* const data = instanceData(instance);
    if (instance)
        instance->pdata = NULL;
    delete data;
}

// The process-wide answers of NPP_GetValue that need no instance. The
// strings are never freed: the browser keeps the pointers.
NPError instanceLessValue(NPPVariable variable, void* value)
{
    if (variable == NPPVpluginNameString) {
        static const std::string* const name =
            new std::string(sharedFactoryInstance()->getPluginName(std::string()));
        *static_cast<const char**>(value) = name->c_str();
        return NPERR_NO_ERROR;
    }
    if (variable == NPPVpluginDescriptionString) {
        static const std::string* const description =
            new std::string(sharedFactoryInstance()->getPluginDescription(std::string()));
        *static_cast<const char**>(value) = description->c_str();
        return NPERR_NO_ERROR;
    }
    return NPERR_GENERIC_ERROR;
}

} // namespace

NPError NpapiPluginModule::NPP_New(NPMIMEType pluginType, NPP instance, uint16_t, int16_t argc,
                                   char* argn[], char* argv[], NPSavedData*)
{
    if (!instance)
        return NPERR_INVALID_INSTANCE_ERROR;
    boost::shared_ptr<NpapiBrowserHost> host;
    boost::shared_ptr<NpapiPlugin> plugin;
    NPError answer = NPERR_NO_ERROR;
    try {
        releaseOrphans();
        // A browser below table version 19 has no NPN_PluginThreadAsyncCall:
        // the version-aware copy of its table left that entry empty.
        NpapiPluginModule* const module = getModule(NULL);
        host = boost::make_shared<NpapiBrowserHost>(module, instance);
        host->setBrowserFuncs(&module->browserFuncs());

        const std::string mimetype(pluginType ? pluginType : "");
        plugin = sharedFactoryInstance()->createNpapiPlugin(host, mimetype);
        if (!plugin) {
            tearDown(NULL, host, plugin);
            return NPERR_OUT_OF_MEMORY_ERROR;
        }
        NpapiInstanceData* const data = new NpapiInstanceData;
        data->host = host;
        data->plugin = plugin;
        instance->pdata = data;
        plugin->init(pluginType, argc, argn, argv);
        return NPERR_NO_ERROR;
    } catch (const PluginCreateError& e) {
        std::printf("%s\n", e.what());
        answer = NPERR_INCOMPATIBLE_VERSION_ERROR;
    } catch (const std::bad_alloc& e) {
        std::printf("%s\n", e.what());
        answer = NPERR_OUT_OF_MEMORY_ERROR;
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        answer = NPERR_GENERIC_ERROR;
    } catch (...) {
        answer = NPERR_GENERIC_ERROR;
    }
    std::fflush(stdout);
    // Whatever was made goes down as NPP_Destroy would take it down; pdata
    // is touched only when it holds our record.
    tearDown(instanceData(instance) ? instance : NULL, host, plugin);
    return answer;
}

NPError NpapiPluginModule::NPP_Destroy(NPP instance, NPSavedData**)
{
    NpapiInstanceData* const data = instanceData(instance);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
    try {
        const boost::shared_ptr<NpapiBrowserHost> host(data->host);
        const boost::shared_ptr<NpapiPlugin> plugin(data->plugin);
        tearDown(instance, host, plugin);
    } catch (...) {
        // Copying two shared pointers does not throw; nothing is left to undo.
    }
    try {
        releaseOrphans();
    } catch (...) {
    }
    return NPERR_NO_ERROR;
}

NPError NpapiPluginModule::NPP_SetWindow(NPP instance, NPWindow* window)
{
    // An observer of the window that refuses it (a page the plugin does not
    // serve) fails the call; the window stays as the refusal left it.
    return forward(instance, NPError(NPERR_INVALID_INSTANCE_ERROR), NPError(NPERR_NO_ERROR),
                   NPError(NPERR_GENERIC_ERROR),
                   [&](NpapiPlugin& plugin) { return plugin.SetWindow(window); });
}

NPError NpapiPluginModule::NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream,
                                         NPBool seekable, uint16_t* stype)
{
    return forward(instance, NPError(NPERR_INVALID_INSTANCE_ERROR), NPError(NPERR_GENERIC_ERROR),
                   NPError(NPERR_GENERIC_ERROR),
                   [&](NpapiPlugin& plugin) { return plugin.NewStream(type, stream, seekable, stype); });
}

NPError NpapiPluginModule::NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason)
{
    return forward(instance, NPError(NPERR_INVALID_INSTANCE_ERROR), NPError(NPERR_GENERIC_ERROR),
                   NPError(NPERR_GENERIC_ERROR),
                   [&](NpapiPlugin& plugin) { return plugin.DestroyStream(stream, reason); });
}

void NpapiPluginModule::NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname)
{
    forwardVoid(instance, [&](NpapiPlugin& plugin) { plugin.StreamAsFile(stream, fname); });
}

// The byte counts answer the same numbers as the errors.
int32_t NpapiPluginModule::NPP_WriteReady(NPP instance, NPStream* stream)
{
    return forward(instance, int32_t(NPERR_INVALID_INSTANCE_ERROR), int32_t(NPERR_GENERIC_ERROR),
                   int32_t(-1), [&](NpapiPlugin& plugin) { return plugin.WriteReady(stream); });
}

int32_t NpapiPluginModule::NPP_Write(NPP instance, NPStream* stream, int32_t offset,
                                     int32_t len, void* buffer)
{
    return forward(instance, int32_t(NPERR_INVALID_INSTANCE_ERROR), int32_t(NPERR_GENERIC_ERROR),
                   int32_t(-1),
                   [&](NpapiPlugin& plugin) { return plugin.Write(stream, offset, len, buffer); });
}

void NpapiPluginModule::NPP_Print(NPP instance, NPPrint* platformPrint)
{
    forwardVoid(instance, [&](NpapiPlugin& plugin) { plugin.Print(platformPrint); });
}

int16_t NpapiPluginModule::NPP_HandleEvent(NPP instance, void* event)
{
    return forward(instance, int16_t(0), int16_t(0), int16_t(0),
                   [&](NpapiPlugin& plugin) { return plugin.HandleEvent(event); });
}

void NpapiPluginModule::NPP_URLNotify(NPP instance, const char* url, NPReason reason,
                                      void* notifyData)
{
    forwardVoid(instance, [&](NpapiPlugin& plugin) { plugin.URLNotify(url, reason, notifyData); });
}

NPError NpapiPluginModule::NPP_GetValue(NPP instance, NPPVariable variable, void* value)
{
    if (!value)
        return NPERR_GENERIC_ERROR;
    try {
        if (!instanceData(instance))
            return instanceLessValue(variable, value);
        const boost::shared_ptr<NpapiPlugin> plugin(getPlugin(instance));
        if (!plugin)
            return NPERR_NO_ERROR;
        return plugin->GetValue(variable, value);
    } catch (...) {
        return NPERR_GENERIC_ERROR;
    }
}

NPError NpapiPluginModule::NPP_SetValue(NPP instance, NPNVariable variable, void* value)
{
    return forward(instance, NPError(NPERR_INVALID_INSTANCE_ERROR), NPError(NPERR_GENERIC_ERROR),
                   NPError(NPERR_GENERIC_ERROR),
                   [&](NpapiPlugin& plugin) { return plugin.SetValue(variable, value); });
}

} // namespace Npapi
} // namespace FB
