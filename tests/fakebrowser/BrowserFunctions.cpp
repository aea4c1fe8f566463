// The browser function table handed to NP_Initialize: one plain function per
// NPNetscapeFuncs entry, each recording its call before doing the browser's
// work on the live FakeBrowser.
#include <cstring>
#include <regex>
#include <type_traits>

#include "FakeBrowser.h"

namespace fakebrowser {

const char* entryName(Entry entry)
{
    static const char* const names[] = {
#define FAKEBROWSER_ENTRY_NAME(name) #name,
        FAKEBROWSER_NPN_ENTRIES(FAKEBROWSER_ENTRY_NAME)
#undef FAKEBROWSER_ENTRY_NAME
    };
    return names[static_cast<std::size_t>(entry)];
}

struct BrowserFunctions {
    // Records the call; null when no browser is alive. A call after
    // NP_Shutdown is the plugin's fault whichever entry and thread it is.
    static FakeBrowser* enter(Entry entry)
    {
        FakeBrowser* browser = FakeBrowser::current();
        if (!browser)
            return nullptr;
        const bool onMain = browser->onMainThread();
        browser->recordCall(entry, onMain);
        if (browser->m_shutDown)
            browser->recordViolation(std::string(entryName(entry)) + " called after NP_Shutdown");
        if (!onMain && entry != Entry::pluginthreadasynccall)
            browser->recordViolation(std::string(entryName(entry)) + " called off the main thread");
        return browser;
    }

    // For entries that touch the page: null (the call fails) off the main thread.
    static FakeBrowser* enterMain(Entry entry)
    {
        FakeBrowser* browser = enter(entry);
        return browser && browser->onMainThread() ? browser : nullptr;
    }

    static Instance* instance(FakeBrowser* browser, NPP npp, Entry entry)
    {
        Instance* found = npp ? browser->findInstance(npp) : nullptr;
        if (!found || !found->usable()) {
            browser->recordViolation(std::string(entryName(entry)) +
                                     (found ? " for a destroyed or failed instance" : " for an unknown instance"));
            return nullptr;
        }
        return found;
    }

    // The common checks of the scripting entries: a live instance, a known
    // object with a class, a known identifier.
    static FakeBrowser* scripting(Entry entry, NPP npp, NPObject* object, NPIdentifier id, bool needsId)
    {
        FakeBrowser* browser = enterMain(entry);
        if (!browser || !instance(browser, npp, entry))
            return nullptr;
        if (!object || !browser->m_objects.knows(object) || !object->_class) {
            browser->recordViolation(std::string(entryName(entry)) + " on an unknown or freed object");
            return nullptr;
        }
        if (needsId && !isKnownIdentifier(id)) {
            browser->recordViolation(std::string(entryName(entry)) + " with an identifier the browser never made");
            return nullptr;
        }
        return browser;
    }

    static void presetVoid(NPVariant* result)
    {
        if (result)
            result->type = NPVariantType_Void;
    }

    static NPError recordRequest(Entry entry, UrlRequest request)
    {
        FakeBrowser* browser = enter(entry);
        if (!browser)
            return NPERR_GENERIC_ERROR;
        request.entry = entry;
        std::lock_guard<std::mutex> lock(browser->m_mutex);
        browser->m_urlRequests.push_back(request);
        return browser->m_streamAnswer;
    }

    static std::string text(const char* s) { return s ? std::string(s) : std::string(); }

    // The record of a stream the browser gave the plugin and has not
    // destroyed; otherwise a violation and null.
    static StreamRecord* liveStream(Entry entry, NPStream* stream)
    {
        FakeBrowser* browser = FakeBrowser::current();
        if (!browser)
            return nullptr;
        StreamRecord* record = browser->findStream(stream);
        if (!record || record->destroyed()) {
            browser->recordViolation(std::string(entryName(entry)) +
                                     (record ? " on a destroyed stream" : " on an unknown stream"));
            return nullptr;
        }
        return record;
    }

    // --- URLs and streams.
    static NPError geturl(NPP npp, const char* url, const char* window)
    {
        UrlRequest r;
        r.npp = npp;
        r.url = text(url);
        r.target = text(window);
        return recordRequest(Entry::geturl, r);
    }
    static NPError posturl(NPP npp, const char* url, const char* window, uint32_t len, const char* buf, NPBool file)
    {
        UrlRequest r;
        r.npp = npp;
        r.url = text(url);
        r.target = text(window);
        r.data = buf ? std::string(buf, len) : std::string();
        r.file = file != 0;
        return recordRequest(Entry::posturl, r);
    }
    static NPError requestread(NPStream* stream, NPByteRange* ranges)
    {
        UrlRequest r;
        r.npp = nullptr;
        r.stream = stream;
        for (NPByteRange* range = ranges; range; range = range->next)
            r.ranges.emplace_back(range->offset, range->length);
        const NPError answer = recordRequest(Entry::requestread, r);
        return liveStream(Entry::requestread, stream) ? answer : static_cast<NPError>(NPERR_GENERIC_ERROR);
    }
    static NPError newstream(NPP npp, NPMIMEType type, const char* window, NPStream**)
    {
        UrlRequest r;
        r.npp = npp;
        r.url = text(type);
        r.target = text(window);
        recordRequest(Entry::newstream, r);
        return NPERR_GENERIC_ERROR;  // streams from the plugin to the browser are not offered
    }
    static int32_t write(NPP npp, NPStream* stream, int32_t len, void* buffer)
    {
        UrlRequest r;
        r.npp = npp;
        r.stream = stream;
        r.data = buffer && len > 0 ? std::string(static_cast<const char*>(buffer), static_cast<std::size_t>(len))
                                   : std::string();
        const bool taken = recordRequest(Entry::write, r) == NPERR_NO_ERROR;
        return taken && liveStream(Entry::write, stream) ? len : -1;
    }
    static NPError destroystream(NPP npp, NPStream* stream, NPReason reason)
    {
        UrlRequest r;
        r.npp = npp;
        r.stream = stream;
        r.reason = reason;
        const NPError answer = recordRequest(Entry::destroystream, r);
        StreamRecord* record = liveStream(Entry::destroystream, stream);
        if (!record)
            return NPERR_GENERIC_ERROR;
        FakeBrowser* browser = FakeBrowser::current();
        if (answer == NPERR_NO_ERROR && browser->m_destroyStreamCallsBack) {
            // As some browsers do: the plugin's NPP_DestroyStream at once.
            if (Instance* owner = browser->findInstance(npp))
                owner->destroyStream(*record, reason);
        }
        return answer;
    }
    static NPError geturlnotify(NPP npp, const char* url, const char* target, void* notifyData)
    {
        UrlRequest r;
        r.npp = npp;
        r.url = text(url);
        r.target = text(target);
        r.notifyData = notifyData;
        return recordRequest(Entry::geturlnotify, r);
    }
    static NPError posturlnotify(NPP npp, const char* url, const char* target, uint32_t len, const char* buf,
                                 NPBool file, void* notifyData)
    {
        UrlRequest r;
        r.npp = npp;
        r.url = text(url);
        r.target = text(target);
        r.data = buf ? std::string(buf, len) : std::string();
        r.file = file != 0;
        r.notifyData = notifyData;
        return recordRequest(Entry::posturlnotify, r);
    }
    static void status(NPP, const char*) { enter(Entry::status); }
    static const char* uagent(NPP)
    {
        FakeBrowser* browser = enter(Entry::uagent);
        return browser ? browser->m_userAgent.c_str() : nullptr;
    }

    // --- Memory.
    static void* memalloc(uint32_t size)
    {
        FakeBrowser* browser = enter(Entry::memalloc);
        return browser ? browser->m_memory.allocate(size) : nullptr;
    }
    static void memfree(void* p)
    {
        FakeBrowser* browser = enter(Entry::memfree);
        if (browser && !browser->m_memory.free(p))
            browser->recordViolation("NPN_MemFree of memory the browser did not allocate (or freed twice)");
    }
    static uint32_t memflush(uint32_t)
    {
        enter(Entry::memflush);
        return 0;
    }
    static void reloadplugins(NPBool) { enter(Entry::reloadplugins); }
    static void* getJavaEnv()
    {
        enter(Entry::getJavaEnv);
        return nullptr;
    }
    static void* getJavaPeer(NPP)
    {
        enter(Entry::getJavaPeer);
        return nullptr;
    }

    // --- Values.
    static NPError getvalue(NPP npp, NPNVariable variable, void* value)
    {
        FakeBrowser* browser = enterMain(Entry::getvalue);
        if (!browser || !value)
            return NPERR_GENERIC_ERROR;
        const auto failure = browser->m_getValueFailures.find(variable);
        const GetValueFailure how = failure == browser->m_getValueFailures.end() ? GetValueFailure::None
                                                                                 : failure->second;
        if (how == GetValueFailure::Error)
            return NPERR_GENERIC_ERROR;
        switch (variable) {
        case NPNVWindowNPObject:
        case NPNVPluginElementNPObject: {
            Instance* inst = instance(browser, npp, Entry::getvalue);
            if (!inst)
                return NPERR_INVALID_INSTANCE_ERROR;
            NPObject* object = nullptr;
            if (how != GetValueFailure::NullObject) {
                object = (variable == NPNVWindowNPObject ? inst->window() : inst->element()).get();
                browser->m_objects.retain(object, false);  // the caller owns it
            }
            *static_cast<NPObject**>(value) = object;
            return NPERR_NO_ERROR;
        }
        case NPNVSupportsXEmbedBool: *static_cast<NPBool*>(value) = browser->m_supportsXEmbed; return NPERR_NO_ERROR;
        // An X Window is an unsigned long: 8 bytes on x86-64.
        case NPNVnetscapeWindow: *static_cast<unsigned long*>(value) = browser->m_netscapeWindow; return NPERR_NO_ERROR;
        case NPNVToolkit: *static_cast<NPNToolkitType*>(value) = NPNVGtk2; return NPERR_NO_ERROR;
        default: return NPERR_GENERIC_ERROR;
        }
    }
    static NPError setvalue(NPP, NPPVariable variable, void* value)
    {
        FakeBrowser* browser = enter(Entry::setvalue);
        if (!browser)
            return NPERR_GENERIC_ERROR;
        std::lock_guard<std::mutex> lock(browser->m_mutex);
        browser->m_setValues.emplace_back(variable, value);
        return NPERR_NO_ERROR;
    }
    static void invalidaterect(NPP, NPRect*) { enter(Entry::invalidaterect); }
    static void invalidateregion(NPP, NPRegion) { enter(Entry::invalidateregion); }
    static void forceredraw(NPP) { enter(Entry::forceredraw); }

    // --- Identifiers.
    static NPIdentifier getstringidentifier(const NPUTF8* name)
    {
        FakeBrowser* browser = enter(Entry::getstringidentifier);
        if (!name) {
            if (browser)
                browser->recordViolation("NPN_GetStringIdentifier(null)");
            return nullptr;
        }
        return stringIdentifier(name);
    }
    static void getstringidentifiers(const NPUTF8** names, int32_t count, NPIdentifier* ids)
    {
        enter(Entry::getstringidentifiers);
        for (int32_t i = 0; names && ids && i < count; ++i)
            ids[i] = names[i] ? stringIdentifier(names[i]) : nullptr;
    }
    static NPIdentifier getintidentifier(int32_t value)
    {
        enter(Entry::getintidentifier);
        return intIdentifier(value);
    }
    static bool knownIdentifier(FakeBrowser* browser, NPIdentifier id, Entry entry)
    {
        if (isKnownIdentifier(id))
            return true;
        if (browser)
            browser->recordViolation(std::string(entryName(entry)) + " with an identifier the browser never made");
        return false;
    }
    static bool identifierisstring(NPIdentifier id)
    {
        FakeBrowser* browser = enter(Entry::identifierisstring);
        return knownIdentifier(browser, id, Entry::identifierisstring) && identifierIsString(id);
    }
    static NPUTF8* utf8fromidentifier(NPIdentifier id)
    {
        FakeBrowser* browser = enter(Entry::utf8fromidentifier);
        if (!browser || !knownIdentifier(browser, id, Entry::utf8fromidentifier) || !identifierIsString(id))
            return nullptr;
        const std::string& name = identifierString(id);
        char* copy = static_cast<char*>(browser->m_memory.allocate(static_cast<uint32_t>(name.size() + 1)));
        if (copy)
            std::memcpy(copy, name.c_str(), name.size() + 1);
        return copy;
    }
    static int32_t intfromidentifier(NPIdentifier id)
    {
        FakeBrowser* browser = enter(Entry::intfromidentifier);
        if (!knownIdentifier(browser, id, Entry::intfromidentifier) || identifierIsString(id))
            return INT32_MIN;
        return identifierInt(id);
    }

    // --- Objects.
    static NPObject* createobject(NPP npp, NPClass* cls)
    {
        FakeBrowser* browser = enterMain(Entry::createobject);
        if (!browser || !instance(browser, npp, Entry::createobject))
            return nullptr;
        if (!cls) {
            browser->recordViolation("NPN_CreateObject without a class");
            return nullptr;
        }
        return browser->createObjectInternal(cls, npp, Origin::Plugin, false);
    }
    static NPObject* retainobject(NPObject* object)
    {
        FakeBrowser* browser = enter(Entry::retainobject);
        if (browser && object && browser->m_objects.retain(object, false) != ObjectLedger::Status::Ok)
            browser->recordViolation("NPN_RetainObject of an unknown or freed object");
        return object;
    }
    static void releaseobject(NPObject* object)
    {
        FakeBrowser* browser = enter(Entry::releaseobject);
        if (browser && object)
            browser->releasePluginReference(object);
    }
    static bool invoke(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* args, uint32_t count,
                       NPVariant* result)
    {
        presetVoid(result);
        FakeBrowser* browser = scripting(Entry::invoke, npp, object, name, true);
        return browser && result && object->_class->invoke && object->_class->invoke(object, name, args, count, result);
    }
    static bool invokeDefault(NPP npp, NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
    {
        presetVoid(result);
        FakeBrowser* browser = scripting(Entry::invokeDefault, npp, object, nullptr, false);
        return browser && result && object->_class->invokeDefault &&
               object->_class->invokeDefault(object, args, count, result);
    }
    static bool evaluate(NPP npp, NPObject* object, NPString* script, NPVariant* result)
    {
        presetVoid(result);
        FakeBrowser* browser = scripting(Entry::evaluate, npp, object, nullptr, false);
        if (!browser || !script || !result)
            return false;
        Instance* inst = browser->findInstance(npp);
        const std::string source = script->UTF8Characters
                                       ? std::string(script->UTF8Characters, script->UTF8Length)
                                       : std::string();
        inst->m_scripts.push_back(source);
        if (browser->m_evaluateFails)
            return false;
        // The page helper: "window.<name> = function(delay, f, args, fname) {...}".
        static const std::regex helper(
            R"(^\s*window\.([A-Za-z_$][A-Za-z0-9_$]*)\s*=\s*function\s*\(\s*delay\s*,\s*f\s*,\s*args\s*,\s*fname\s*\))");
        std::smatch match;
        if (std::regex_search(source, match, helper)) {
            const std::string name = match[1];
            inst->defineHelper(name);
            // An assignment's value is the function.
            browser->toOwnedNPVariant(asPageObject(inst->window().get())->properties[name], result);
        }
        return true;
    }
    static bool getproperty(NPP npp, NPObject* object, NPIdentifier name, NPVariant* result)
    {
        presetVoid(result);
        FakeBrowser* browser = scripting(Entry::getproperty, npp, object, name, true);
        return browser && result && object->_class->getProperty && object->_class->getProperty(object, name, result);
    }
    static bool setproperty(NPP npp, NPObject* object, NPIdentifier name, const NPVariant* value)
    {
        FakeBrowser* browser = scripting(Entry::setproperty, npp, object, name, true);
        return browser && value && object->_class->setProperty && object->_class->setProperty(object, name, value);
    }
    static bool removeproperty(NPP npp, NPObject* object, NPIdentifier name)
    {
        FakeBrowser* browser = scripting(Entry::removeproperty, npp, object, name, true);
        return browser && object->_class->removeProperty && object->_class->removeProperty(object, name);
    }
    static bool hasproperty(NPP npp, NPObject* object, NPIdentifier name)
    {
        FakeBrowser* browser = scripting(Entry::hasproperty, npp, object, name, true);
        return browser && object->_class->hasProperty && object->_class->hasProperty(object, name);
    }
    static bool hasmethod(NPP npp, NPObject* object, NPIdentifier name)
    {
        FakeBrowser* browser = scripting(Entry::hasmethod, npp, object, name, true);
        return browser && object->_class->hasMethod && object->_class->hasMethod(object, name);
    }
    static void releasevariantvalue(NPVariant* variant)
    {
        FakeBrowser* browser = enter(Entry::releasevariantvalue);
        if (browser)
            browser->releaseVariantValue(variant);
    }
    static void setexception(NPObject*, const NPUTF8* message)
    {
        FakeBrowser* browser = enter(Entry::setexception);
        if (browser)
            browser->recordException(text(message));
    }
    static void pushpopupsenabledstate(NPP, NPBool) { enter(Entry::pushpopupsenabledstate); }
    static void poppopupsenabledstate(NPP) { enter(Entry::poppopupsenabledstate); }
    static bool enumerate(NPP npp, NPObject* object, NPIdentifier** ids, uint32_t* count)
    {
        FakeBrowser* browser = scripting(Entry::enumerate, npp, object, nullptr, false);
        return browser && ids && count && object->_class->structVersion >= NP_CLASS_STRUCT_VERSION_ENUM &&
               object->_class->enumerate && object->_class->enumerate(object, ids, count);
    }
    static bool construct(NPP npp, NPObject* object, const NPVariant* args, uint32_t count, NPVariant* result)
    {
        presetVoid(result);
        FakeBrowser* browser = scripting(Entry::construct, npp, object, nullptr, false);
        return browser && result && object->_class->structVersion >= NP_CLASS_STRUCT_VERSION_CTOR &&
               object->_class->construct && object->_class->construct(object, args, count, result);
    }

    // --- The one entry for any thread.
    static void pluginthreadasynccall(NPP npp, NPN_AsyncCallFunc func, void* data)
    {
        FakeBrowser* browser = enter(Entry::pluginthreadasynccall);
        if (!browser)
            return;
        std::lock_guard<std::mutex> lock(browser->m_mutex);
        if (browser->m_shutDown || !func) {
            ++browser->m_droppedAsyncCalls;
            return;
        }
        browser->m_asyncCalls.push_back(FakeBrowser::AsyncCall{npp, func, data});
        browser->m_asyncQueued.notify_all();
    }

    // --- Newer entries.
    static NPError getvalueforurl(NPP npp, NPNURLVariable variable, const char* url, char** value, uint32_t* len)
    {
        FakeBrowser* browser = enterMain(Entry::getvalueforurl);
        if (!browser)
            return NPERR_GENERIC_ERROR;
        {
            UrlRequest r;
            r.entry = Entry::getvalueforurl;
            r.npp = npp;
            r.url = text(url);
            std::lock_guard<std::mutex> lock(browser->m_mutex);
            browser->m_urlRequests.push_back(r);
        }
        if (variable != NPNURLVProxy || !value || !len)
            return NPERR_GENERIC_ERROR;
        if (browser->m_proxyError != NPERR_NO_ERROR)
            return browser->m_proxyError;
        const std::string& answer = browser->m_proxyText;
        char* copy = static_cast<char*>(browser->m_memory.allocate(static_cast<uint32_t>(answer.size() + 1)));
        std::memcpy(copy, answer.c_str(), answer.size() + 1);
        *value = copy;
        *len = static_cast<uint32_t>(answer.size());
        return NPERR_NO_ERROR;
    }
    static NPError setvalueforurl(NPP, NPNURLVariable, const char*, const char*, uint32_t)
    {
        enter(Entry::setvalueforurl);
        return NPERR_GENERIC_ERROR;
    }
    static NPError getauthenticationinfo(NPP, const char*, const char*, int32_t, const char*, const char*, char**,
                                         uint32_t*, char**, uint32_t*)
    {
        enter(Entry::getauthenticationinfo);
        return NPERR_GENERIC_ERROR;
    }
    static uint32_t scheduletimer(NPP, uint32_t, NPBool, NPN_TimerFunc)
    {
        enter(Entry::scheduletimer);
        return 0;
    }
    static void unscheduletimer(NPP, uint32_t) { enter(Entry::unscheduletimer); }
    static NPError popupcontextmenu(NPP, NPMenu*)
    {
        enter(Entry::popupcontextmenu);
        return NPERR_GENERIC_ERROR;
    }
    static NPBool convertpoint(NPP, double, double, NPCoordinateSpace, double*, double*, NPCoordinateSpace)
    {
        enter(Entry::convertpoint);
        return 0;
    }
    static NPBool handleevent(NPP, void*, NPBool)
    {
        enter(Entry::handleevent);
        return 0;
    }
    static NPBool unfocusinstance(NPP, NPFocusDirection)
    {
        enter(Entry::unfocusinstance);
        return 0;
    }
    static void urlredirectresponse(NPP, void*, NPBool) { enter(Entry::urlredirectresponse); }
    static NPError initasyncsurface(NPP, NPSize*, NPImageFormat, void*, NPAsyncSurface*)
    {
        enter(Entry::initasyncsurface);
        return NPERR_GENERIC_ERROR;
    }
    static NPError finalizeasyncsurface(NPP, NPAsyncSurface*)
    {
        enter(Entry::finalizeasyncsurface);
        return NPERR_GENERIC_ERROR;
    }
    static void setcurrentasyncsurface(NPP, NPAsyncSurface*, NPRect*) { enter(Entry::setcurrentasyncsurface); }
};

namespace {

// An entry past the table's size: calling it is the plugin's fault.
template <Entry E, typename F>
struct Poison;

template <Entry E, typename R, typename... A>
struct Poison<E, R (*)(A...)> {
    static R call(A...)
    {
        if (FakeBrowser* browser = FakeBrowser::current())
            browser->recordViolation(std::string("called ") + entryName(E) + ", which lies past the table's size");
        // NPError entries fail; the others answer their zero.
        if constexpr (std::is_same<R, NPError>::value)
            return NPERR_GENERIC_ERROR;
        else
            return R();
    }
};

} // namespace

void fillBrowserFuncs(NPNetscapeFuncs* table, uint16_t size, uint16_t version)
{
    std::memset(table, 0, sizeof *table);
    table->size = size;
    table->version = version;
#define FAKEBROWSER_FILL(name)                                                          \
    table->name = offsetof(NPNetscapeFuncs, name) + sizeof(table->name) <= size        \
                      ? &BrowserFunctions::name                                        \
                      : &Poison<Entry::name, decltype(NPNetscapeFuncs::name)>::call;
    FAKEBROWSER_NPN_ENTRIES(FAKEBROWSER_FILL)
#undef FAKEBROWSER_FILL
}

} // namespace fakebrowser
