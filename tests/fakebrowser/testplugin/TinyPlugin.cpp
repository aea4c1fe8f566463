// A tiny NPAPI plugin for the fake browser's own tests: just enough plugin to
// drive every part of the browser without the real one. It copies the
// browser table as far as its size says, fills five plugin entries, keeps its
// instance record in browser memory and offers one scriptable object:
//   add(a, b)             -> a + b (ints)
//   fail()                -> NPN_SetException("failed on purpose"), false
//   windowHref()          -> window.location.href, read through the browser
//   makeArray(...)        -> window.Array() with each argument pushed
//   defineHelper(name)    -> NPN_Evaluate of the page helper script; its value
//   callHelper(name, ...) -> window[name](...), the timer id
//   identifierText(s)     -> s, through NPN_GetStringIdentifier/UTF8FromIdentifier
//   callFromThread(n, b)  -> a worker queues n asynchronous calls (and, when b,
//                            also calls NPN_MemAlloc/MemFree off the main thread)
//   tableInfo()           -> "size=<browser size> version=<browser version>"
// and the property "name" ("tiny"). <param> "leak" = "memory" or "object"
// leaks a browser block or a window reference on purpose.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "NpapiAbi.h"

using namespace fakebrowser;

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

NPNetscapeFuncs g_browser;
int g_asyncRuns = 0;
std::vector<NPObject*> g_leakedObjects;  // kept reachable on purpose

struct InstanceData {
    NPObject* window;
    NPObject* scriptable;
};

struct TinyObject : NPObject {
    NPP npp;
};

NPIdentifier id(const char* name)
{
    return g_browser.getstringidentifier(name);
}

void setString(NPVariant* result, const std::string& text)
{
    char* copy = static_cast<char*>(g_browser.memalloc(static_cast<uint32_t>(text.size() + 1)));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    result->type = NPVariantType_String;
    result->value.stringValue.UTF8Characters = copy;
    result->value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
}

std::string stringOf(const NPVariant& v)
{
    return v.type == NPVariantType_String
               ? std::string(v.value.stringValue.UTF8Characters, v.value.stringValue.UTF8Length)
               : std::string();
}

NPObject* windowOf(NPP npp)
{
    return static_cast<InstanceData*>(npp->pdata)->window;
}

void asyncRun(void*)
{
    ++g_asyncRuns;
}

NPObject* allocate(NPP npp, NPClass*)
{
    TinyObject* object = new TinyObject;
    object->npp = npp;
    return object;
}

void deallocate(NPObject* object)
{
    delete static_cast<TinyObject*>(object);
}

const char* const kMethods[] = {"add", "fail", "windowHref", "makeArray", "defineHelper",
                                "callHelper", "identifierText", "callFromThread", "tableInfo"};

bool hasMethod(NPObject*, NPIdentifier name)
{
    for (const char* method : kMethods)
        if (name == id(method))
            return true;
    return false;
}

bool invoke(NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t argc, NPVariant* result)
{
    NPP npp = static_cast<TinyObject*>(object)->npp;
    if (name == id("add")) {
        if (argc != 2 || args[0].type != NPVariantType_Int32 || args[1].type != NPVariantType_Int32) {
            g_browser.setexception(object, "add needs two ints");
            return false;
        }
        result->type = NPVariantType_Int32;
        result->value.intValue = args[0].value.intValue + args[1].value.intValue;
        return true;
    }
    if (name == id("fail")) {
        g_browser.setexception(object, "failed on purpose");
        return false;
    }
    if (name == id("windowHref")) {
        NPVariant location;
        if (!g_browser.getproperty(npp, windowOf(npp), id("location"), &location))
            return false;
        const bool ok = location.type == NPVariantType_Object &&
                        g_browser.getproperty(npp, location.value.objectValue, id("href"), result);
        g_browser.releasevariantvalue(&location);
        return ok;
    }
    if (name == id("makeArray")) {
        NPVariant array;
        if (!g_browser.invoke(npp, windowOf(npp), id("Array"), nullptr, 0, &array))
            return false;
        for (uint32_t i = 0; i < argc; ++i) {
            NPVariant length;
            g_browser.invoke(npp, array.value.objectValue, id("push"), &args[i], 1, &length);
            g_browser.releasevariantvalue(&length);
        }
        *result = array;  // the reference goes to the caller
        return true;
    }
    if (name == id("defineHelper") && argc == 1) {
        const std::string script = "window." + stringOf(args[0]) +
                                   " = function(delay, f, args, fname) {"
                                   "   if (arguments.length == 3)"
                                   "       return setTimeout(function() { f.apply(null, args); }, delay);"
                                   "   else"
                                   "       return setTimeout(function() { f[fname].apply(f, args); }, delay);"
                                   "};";
        NPString text = {script.c_str(), static_cast<uint32_t>(script.size())};
        return g_browser.evaluate(npp, windowOf(npp), &text, result);
    }
    if (name == id("callHelper") && argc >= 1) {
        NPVariant helper;
        if (!g_browser.getproperty(npp, windowOf(npp), id(stringOf(args[0]).c_str()), &helper))
            return false;
        const bool ok = helper.type == NPVariantType_Object &&
                        g_browser.invokeDefault(npp, helper.value.objectValue, args + 1, argc - 1, result);
        g_browser.releasevariantvalue(&helper);
        return ok;
    }
    if (name == id("identifierText") && argc == 1) {
        NPUTF8* text = g_browser.utf8fromidentifier(id(stringOf(args[0]).c_str()));
        if (!text)
            return false;
        result->type = NPVariantType_String;  // the browser's buffer goes back to the browser
        result->value.stringValue.UTF8Characters = text;
        result->value.stringValue.UTF8Length = static_cast<uint32_t>(std::strlen(text));
        return true;
    }
    if (name == id("callFromThread") && argc == 2) {
        const int count = args[0].value.intValue;
        const bool memory = args[1].value.boolValue;
        std::thread worker([npp, count, memory] {
            for (int i = 0; i < count; ++i)
                g_browser.pluginthreadasynccall(npp, asyncRun, nullptr);
            if (memory)
                g_browser.memfree(g_browser.memalloc(8));
        });
        worker.join();
        return true;
    }
    if (name == id("tableInfo")) {
        setString(result, "size=" + std::to_string(g_browser.size) + " version=" + std::to_string(g_browser.version));
        return true;
    }
    return false;
}

bool hasProperty(NPObject*, NPIdentifier name)
{
    return name == id("name");
}

bool getProperty(NPObject*, NPIdentifier name, NPVariant* result)
{
    if (name != id("name"))
        return false;
    setString(result, "tiny");
    return true;
}

bool enumerate(NPObject*, NPIdentifier** ids, uint32_t* count)
{
    *ids = static_cast<NPIdentifier*>(g_browser.memalloc(2 * sizeof(NPIdentifier)));
    (*ids)[0] = id("add");
    (*ids)[1] = id("name");
    *count = 2;
    return true;
}

NPClass g_class = {NP_CLASS_STRUCT_VERSION_ENUM, allocate, deallocate, nullptr, hasMethod, invoke, nullptr,
                   hasProperty, getProperty, nullptr, nullptr, enumerate, nullptr};

NPError nppNew(NPMIMEType, NPP npp, uint16_t, int16_t argc, char* argn[], char* argv[], NPSavedData*)
{
    for (int16_t i = 0; i < argc; ++i) {
        if (!argn[i] || !argv[i])
            continue;
        if (std::strcmp(argn[i], "fail") == 0)
            return static_cast<NPError>(std::atoi(argv[i]));
    }
    InstanceData* data = static_cast<InstanceData*>(g_browser.memalloc(sizeof(InstanceData)));
    data->window = nullptr;
    data->scriptable = nullptr;
    if (g_browser.getvalue(npp, NPNVWindowNPObject, &data->window) != NPERR_NO_ERROR)
        data->window = nullptr;
    npp->pdata = data;
    for (int16_t i = 0; i < argc; ++i) {
        if (!argn[i] || !argv[i] || std::strcmp(argn[i], "leak") != 0)
            continue;
        if (std::strcmp(argv[i], "memory") == 0)
            g_browser.memalloc(16);
        if (std::strcmp(argv[i], "object") == 0 && data->window)
            g_leakedObjects.push_back(g_browser.retainobject(data->window));
    }
    return NPERR_NO_ERROR;
}

NPError nppDestroy(NPP npp, NPSavedData**)
{
    InstanceData* data = static_cast<InstanceData*>(npp->pdata);
    if (!data)
        return NPERR_INVALID_INSTANCE_ERROR;
    if (data->scriptable)
        g_browser.releaseobject(data->scriptable);
    if (data->window)
        g_browser.releaseobject(data->window);
    g_browser.memfree(data);
    npp->pdata = nullptr;
    return NPERR_NO_ERROR;
}

NPError nppSetWindow(NPP npp, NPWindow*)
{
    return npp && npp->pdata ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

NPError nppGetValue(NPP npp, NPPVariable variable, void* value)
{
    if (variable == NPPVpluginNameString) {
        *static_cast<const char**>(value) = "tiny";
        return NPERR_NO_ERROR;
    }
    if (variable != NPPVpluginScriptableNPObject || !npp || !npp->pdata)
        return NPERR_GENERIC_ERROR;
    InstanceData* data = static_cast<InstanceData*>(npp->pdata);
    if (!data->scriptable)
        data->scriptable = g_browser.createobject(npp, &g_class);
    *static_cast<NPObject**>(value) = g_browser.retainobject(data->scriptable);
    return NPERR_NO_ERROR;
}

int16_t nppHandleEvent(NPP, void*)
{
    return 0;
}

} // namespace

EXPORT const char* NP_GetPluginVersion()
{
    return "0.1";
}

EXPORT const char* NP_GetMIMEDescription()
{
    return "application/x-fakebrowser-test::Fake browser test plugin;";
}

EXPORT NPError NP_GetValue(void*, NPPVariable variable, void* value)
{
    return nppGetValue(nullptr, variable, value);
}

EXPORT NPError NP_Initialize(NPNetscapeFuncs* browser, NPPluginFuncs* plugin)
{
    if (!browser || !plugin)
        return NPERR_INVALID_FUNCTABLE_ERROR;
    // Never read past the browser's own size.
    std::memset(&g_browser, 0, sizeof g_browser);
    std::memcpy(&g_browser, browser, browser->size < sizeof g_browser ? browser->size : sizeof g_browser);
    g_browser.size = browser->size;
    plugin->newp = nppNew;
    plugin->destroy = nppDestroy;
    plugin->setwindow = nppSetWindow;
    plugin->getvalue = nppGetValue;
    plugin->event = nppHandleEvent;
    g_asyncRuns = 0;
    g_leakedObjects.clear();
    return NPERR_NO_ERROR;
}

EXPORT NPError NP_Shutdown()
{
    return NPERR_NO_ERROR;
}

// For the tests only: how many asynchronous calls ran.
EXPORT int fakebrowser_testplugin_asyncRuns()
{
    return g_asyncRuns;
}
