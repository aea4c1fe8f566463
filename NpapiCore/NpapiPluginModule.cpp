#include "NpapiPluginModule.h"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <map>

#include "FactoryBase.h"
#include "LockedQueue.h"
#include "NpapiBrowserFuncs.h"
#include "logging.h"

namespace FB {
namespace Npapi {

namespace {

typedef std::map<const void*, NpapiPluginModule*> ModuleMap;

// Never destroyed: modules outlive every static destructor that might still
// reach them. Main thread only.
ModuleMap& moduleMap()
{
    static ModuleMap* const map = new ModuleMap;
    return *map;
}

int g_moduleCount = 0;

// The browser's main thread: the one that makes the module. Read by any
// thread that asks whether it may release browser objects.
std::atomic<pthread_t> g_mainThread;

bool onMainThread()
{
    return pthread_equal(pthread_self(), g_mainThread.load()) != 0;
}

LockedQueue<NPObject*>& orphanQueue()
{
    static LockedQueue<NPObject*>* const queue = new LockedQueue<NPObject*>;
    return *queue;
}

void runGlobalStartHooks()
{
    logInit();
    sharedFactoryInstance()->globalPluginInitialize();
}

void runGlobalEndHooks()
{
    sharedFactoryInstance()->globalPluginDeinitialize();
    logStop();
}

} // namespace

NpapiPluginModule::NpapiPluginModule() : m_live(true)
{
    std::memset(&m_funcs, 0, sizeof(m_funcs));
}

NpapiPluginModule::~NpapiPluginModule() {}

NpapiPluginModule* NpapiPluginModule::getModule(const void* key)
{
    if (g_moduleCount == 0) {
        g_mainThread.store(pthread_self());
        runGlobalStartHooks();
    }
    NpapiPluginModule*& module = moduleMap()[key];
    if (!module)
        module = new NpapiPluginModule;
    else if (module->m_live)
        return module;
    module->m_live = true;
    orphanQueue().reopen();
    std::memset(&module->m_funcs, 0, sizeof(module->m_funcs));
    ++g_moduleCount;
    return module;
}

void NpapiPluginModule::releaseModule(const void* key)
{
    const ModuleMap::iterator it = moduleMap().find(key);
    if (it != moduleMap().end() && it->second->m_live) {
        NpapiPluginModule* const module = it->second;
        // The orphans go back while the browser's table still stands; after
        // this nothing is released.
        releaseOrphans();
        orphanQueue().close();
        module->m_live = false;
        std::memset(&module->m_funcs, 0, sizeof(module->m_funcs));
        --g_moduleCount;
    }
    if (g_moduleCount == 0)
        runGlobalEndHooks();
}

int NpapiPluginModule::moduleCount() { return g_moduleCount; }

boost::shared_ptr<NpapiPlugin> NpapiPluginModule::getPlugin(NPP instance)
{
    if (!instance || !instance->pdata)
        return boost::shared_ptr<NpapiPlugin>();
    return static_cast<NpapiInstanceData*>(instance->pdata)->plugin;
}

void NpapiPluginModule::setNetscapeFuncs(const NPNetscapeFuncs* funcs)
{
    copyBrowserFuncs(&m_funcs, funcs);
}

void NpapiPluginModule::Version(int& pluginMajor, int& pluginMinor, int& browserMajor,
                                int& browserMinor) const
{
    pluginMajor = 0;
    pluginMinor = 27;
    browserMajor = m_funcs.version >> 8;
    browserMinor = m_funcs.version & 0xff;
}

void NpapiPluginModule::getPluginFuncs(NPPluginFuncs* funcs)
{
    funcs->newp = &NPP_New;
    funcs->destroy = &NPP_Destroy;
    funcs->setwindow = &NPP_SetWindow;
    funcs->newstream = &NPP_NewStream;
    funcs->destroystream = &NPP_DestroyStream;
    funcs->asfile = &NPP_StreamAsFile;
    funcs->writeready = &NPP_WriteReady;
    funcs->write = &NPP_Write;
    funcs->print = &NPP_Print;
    funcs->event = &NPP_HandleEvent;
    funcs->urlnotify = &NPP_URLNotify;
    funcs->getvalue = &NPP_GetValue;
    funcs->setvalue = &NPP_SetValue;
}

void NpapiPluginModule::queueOrphanRelease(NPObject* object)
{
    if (object)
        orphanQueue().push(object);
}

void NpapiPluginModule::releaseOrphans()
{
    // Another thread (a worker dropping the last reference to a core) only
    // queues: the browser is called, and the module map read, on the main
    // thread alone.
    if (orphanQueue().empty() || !onMainThread())
        return;
    const ModuleMap::const_iterator it = moduleMap().find(NULL);
    if (it == moduleMap().end() || !it->second->m_live)
        return;
    NPObject* object = NULL;
    while (orphanQueue().tryPop(object))
        it->second->ReleaseObject(object);
}

void* NpapiPluginModule::MemAlloc(uint32_t size) const
{
    return m_funcs.memalloc ? m_funcs.memalloc(size) : NULL;
}

void NpapiPluginModule::MemFree(void* ptr) const
{
    if (m_funcs.memfree)
        m_funcs.memfree(ptr);
}

uint32_t NpapiPluginModule::MemFlush(uint32_t size) const
{
    return m_funcs.memflush ? m_funcs.memflush(size) : 0;
}

void NpapiPluginModule::ReloadPlugins(NPBool reloadPages) const
{
    if (m_funcs.reloadplugins)
        m_funcs.reloadplugins(reloadPages);
}

void NpapiPluginModule::ReleaseVariantValue(NPVariant* variant) const
{
    if (m_funcs.releasevariantvalue)
        m_funcs.releasevariantvalue(variant);
}

NPIdentifier NpapiPluginModule::GetStringIdentifier(const NPUTF8* name) const
{
    return m_funcs.getstringidentifier ? m_funcs.getstringidentifier(name) : NULL;
}

void NpapiPluginModule::GetStringIdentifiers(const NPUTF8** names, int32_t count,
                                             NPIdentifier* ids) const
{
    if (m_funcs.getstringidentifiers)
        m_funcs.getstringidentifiers(names, count, ids);
}

NPIdentifier NpapiPluginModule::GetIntIdentifier(int32_t id) const
{
    return m_funcs.getintidentifier ? m_funcs.getintidentifier(id) : NULL;
}

bool NpapiPluginModule::IdentifierIsString(NPIdentifier id) const
{
    return m_funcs.identifierisstring ? m_funcs.identifierisstring(id) : true;
}

NPUTF8* NpapiPluginModule::UTF8FromIdentifier(NPIdentifier id) const
{
    return m_funcs.utf8fromidentifier ? m_funcs.utf8fromidentifier(id) : NULL;
}

int32_t NpapiPluginModule::IntFromIdentifier(NPIdentifier id) const
{
    return m_funcs.intfromidentifier ? m_funcs.intfromidentifier(id) : 1;
}

bool NpapiPluginModule::IdentifierText(NPIdentifier id, std::string* text) const
{
    NPUTF8* const utf8 = UTF8FromIdentifier(id);
    if (!utf8) {
        // The browser's answer is always handed back, a null one too.
        MemFree(utf8);
        return false;
    }
    try {
        text->assign(utf8);
    } catch (...) {
        MemFree(utf8);
        throw;
    }
    MemFree(utf8);
    return true;
}

std::string NpapiPluginModule::StringFromIdentifier(NPIdentifier id) const
{
    std::string result;
    IdentifierText(id, &result);
    return result;
}

NPObject* NpapiPluginModule::RetainObject(NPObject* object) const
{
    return m_funcs.retainobject ? m_funcs.retainobject(object) : object;
}

void NpapiPluginModule::ReleaseObject(NPObject* object) const
{
    if (m_funcs.releaseobject)
        m_funcs.releaseobject(object);
}

} // namespace Npapi
} // namespace FB
