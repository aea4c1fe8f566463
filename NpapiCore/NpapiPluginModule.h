// FB::Npapi::NpapiPluginModule: the process-wide NPAPI module - the copy of
// the browser's function table, thin wrappers over the browser's memory,
// identifier and reference-count functions, and the thirteen plugin-side
// entry points (NPP_New and its siblings) that NP_Initialize hands to the
// browser.
//
// The module registry keeps one module per key (the whole plugin uses the
// key null). A module's storage is never freed: releasing it empties its
// table, so a host or page object that outlives NP_Shutdown finds a module
// that answers the fixed values instead of freed memory, and getModule
// after a release revives the same object.
// Every entry point catches everything: no exception reaches the browser.
// A page object whose host is gone hands its browser object to the orphan
// queue (any thread); the queue is drained on the main thread while the
// module lives and dropped at NP_Shutdown - after it nothing is released.
// Threads: everything but queueOrphanRelease and releaseOrphans (a no-op
// off the main thread) runs on the browser's main thread.
#ifndef FB_NPAPI_NPAPIPLUGINMODULE_H
#define FB_NPAPI_NPAPIPLUGINMODULE_H

#include <stdexcept>
#include <string>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include "NpapiTypes.h"

namespace FB {
namespace Npapi {

class NpapiPlugin;
class NpapiBrowserHost;

// A factory or plugin core refuses an instance with this; NPP_New then
// answers 8.
class PluginCreateError : public std::runtime_error {
public:
    explicit PluginCreateError(const std::string& what) : std::runtime_error(what) {}
};

// The record kept in an instance's pdata between NPP_New and NPP_Destroy.
struct NpapiInstanceData {
    boost::shared_ptr<NpapiBrowserHost> host;
    boost::shared_ptr<NpapiPlugin> plugin;
};

class NpapiPluginModule : private boost::noncopyable {
public:
    virtual ~NpapiPluginModule();

    // Runs the global start hooks when no module exists, then answers the
    // module for key, creating it when needed.
    static NpapiPluginModule* getModule(const void* key);
    // Releases the module for key; when none is left, runs the global end
    // hooks (also when nothing was registered under key).
    static void releaseModule(const void* key);
    // The number of modules created and not yet released.
    static int moduleCount();

    // The instance's plugin object; empty without an instance record.
    static boost::shared_ptr<NpapiPlugin> getPlugin(NPP instance);

    void getPluginFuncs(NPPluginFuncs* funcs);
    void setNetscapeFuncs(const NPNetscapeFuncs* funcs);
    const NPNetscapeFuncs& browserFuncs() const { return m_funcs; }
    void Version(int& pluginMajor, int& pluginMinor, int& browserMajor, int& browserMinor) const;

    // Any thread: a browser object to release on the main thread.
    static void queueOrphanRelease(NPObject* object);
    // Releases every queued orphan through the live module on the main
    // thread (the one that made the module); elsewhere does nothing.
    static void releaseOrphans();

    // Wrappers over the browser's table; each gives its fixed answer when
    // the browser lacks the entry (or the module is released).
    void* MemAlloc(uint32_t size) const;
    void MemFree(void* ptr) const;
    uint32_t MemFlush(uint32_t size) const;
    void ReloadPlugins(NPBool reloadPages) const;
    void ReleaseVariantValue(NPVariant* variant) const;
    NPIdentifier GetStringIdentifier(const NPUTF8* name) const;
    void GetStringIdentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids) const;
    NPIdentifier GetIntIdentifier(int32_t id) const;
    bool IdentifierIsString(NPIdentifier id) const;
    NPUTF8* UTF8FromIdentifier(NPIdentifier id) const;
    int32_t IntFromIdentifier(NPIdentifier id) const;
    // The identifier's text (empty for none); the browser's answer is
    // handed to MemFree, also when null.
    std::string StringFromIdentifier(NPIdentifier id) const;
    // The same into *text; false when the browser gives no text (an integer
    // identifier, or a browser without the function).
    bool IdentifierText(NPIdentifier id, std::string* text) const;
    NPObject* RetainObject(NPObject* object) const;
    void ReleaseObject(NPObject* object) const;

    // The plugin-side entry points.
    static NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc,
                           char* argn[], char* argv[], NPSavedData* saved);
    static NPError NPP_Destroy(NPP instance, NPSavedData** save);
    static NPError NPP_SetWindow(NPP instance, NPWindow* window);
    static NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream,
                                 NPBool seekable, uint16_t* stype);
    static NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
    static void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
    static int32_t NPP_WriteReady(NPP instance, NPStream* stream);
    static int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len,
                             void* buffer);
    static void NPP_Print(NPP instance, NPPrint* platformPrint);
    static int16_t NPP_HandleEvent(NPP instance, void* event);
    static void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);
    static NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value);
    static NPError NPP_SetValue(NPP instance, NPNVariable variable, void* value);

private:
    NpapiPluginModule();

    NPNetscapeFuncs m_funcs;
    bool m_live;
};

} // namespace Npapi
} // namespace FB

#endif
