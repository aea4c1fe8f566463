// fakebrowser::FakeBrowser: drives a built NPAPI plugin library as a Linux
// x86-64 browser does, and keeps the books a test needs to judge it.
//
// Contract:
// - It loads the library (PluginLibrary), hands NP_Initialize a browser
//   function table of a chosen version and size (entries past the size are
//   poisoned: calling one records a violation, and under AddressSanitizer
//   the table's tail is unreadable) and a plugin table pre-filled with a
//   marker, so a test sees which entries the plugin wrote.
// - Every browser entry records its call and whether it ran on the main
//   thread (the thread that made the FakeBrowser). Only
//   NPN_PluginThreadAsyncCall may be called from other threads; any other
//   entry called off the main thread records a violation, and the scripting
//   entries then fail without touching the page. Any entry called after
//   NP_Shutdown returned (until NP_Initialize again) records a violation too,
//   from any thread, and then does its work as before.
// - Ledgers: every NPObject the browser knows with its reference count and
//   the browser's share of it (ObjectLedger), every block of browser memory
//   (MemoryLedger). ledgerProblems() lists what a plugin left behind.
// - Streams: the URL entries record their requests (urlRequests) and answer
//   setStreamAnswer; the test plays the browser's side of a stream through
//   Instance (newStream, deliver, destroyStream, urlNotify, ...), and
//   NPN_RequestRead, NPN_Write and NPN_DestroyStream on a stream the
//   browser did not give or already destroyed record a violation.
// - Pages, instances (Instance), identifiers (Identifiers.h), timers with a
//   virtual clock, and the queue of asynchronous calls, which runs only when
//   the main thread asks (runAsyncCalls, pumpUntil). Calls queued for an
//   instance that has been destroyed are dropped, as browsers do, and so is
//   everything still queued at NP_Shutdown; both are recorded.
// - Scripting as a page scripts: getProperty, invoke, callMember, ... call
//   the object's NPClass directly with browser-owned arguments, a result
//   preset to void, and release the result as NPN_ReleaseVariantValue does.
//
// One FakeBrowser per process at a time (the browser functions are plain C
// functions and find it through current()). unload() dlcloses the library as
// a browser does once it is done with a plugin, while the FakeBrowser and its
// records live on. Destroying it destroys live instances, calls NP_Shutdown
// when needed, tears the pages down and unloads the library. Unless stated
// otherwise, members are for the main thread.
#ifndef FAKEBROWSER_FAKEBROWSER_H
#define FAKEBROWSER_FAKEBROWSER_H

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BrowserEntries.h"
#include "Identifiers.h"
#include "Instance.h"
#include "MemoryLedger.h"
#include "NpapiAbi.h"
#include "ObjectLedger.h"
#include "PageObject.h"
#include "PluginLibrary.h"
#include "Value.h"

namespace fakebrowser {

struct TableOptions {
    uint16_t version = 27;
    uint16_t size = sizeof(NPNetscapeFuncs);
    // The plugin table's size and version fields as the browser sets them.
    uint16_t pluginFuncsSize = sizeof(NPPluginFuncs);
    uint16_t pluginFuncsVersion = 27;
    // Under AddressSanitizer, make the bytes past `size` unreadable.
    bool poisonTailMemory = true;
};

// How NPN_GetValue fails for a variable: with an error code, or with 0 and a
// null object pointer.
enum class GetValueFailure { None, Error, NullObject };

struct CallRecord {
    Entry entry;
    bool onMainThread;
};

// A request made through the URL and stream entries: which entry, and what
// it carried.
struct UrlRequest {
    Entry entry;
    NPP npp;
    std::string url;
    std::string target;
    std::string data;  // post data, or the bytes of NPN_Write
    bool file = false;
    void* notifyData = nullptr;
    NPStream* stream = nullptr;
    NPReason reason = 0;
    std::vector<std::pair<int32_t, uint32_t>> ranges;  // NPN_RequestRead
};

struct TimerRecord {
    int id;
    uint32_t delay;
    bool fired;
};

struct CallResult {
    bool ok = false;
    Value value;
    // NPN_SetException messages set during the call, in order.
    std::vector<std::string> exceptions;

    bool threw() const { return !exceptions.empty(); }
    std::string exception() const { return exceptions.empty() ? std::string() : exceptions.back(); }
};

class FakeBrowser {
public:
    // A browser without a plugin (pages, scripting, minimal objects).
    FakeBrowser();
    // Loads the plugin library at path; throws std::runtime_error.
    explicit FakeBrowser(const std::string& pluginPath);
    ~FakeBrowser();
    FakeBrowser(const FakeBrowser&) = delete;
    FakeBrowser& operator=(const FakeBrowser&) = delete;

    // The live FakeBrowser, or null. Any thread.
    static FakeBrowser* current();
    // Any thread.
    bool onMainThread() const { return std::this_thread::get_id() == m_mainThread; }

    // --- The library and its exports.
    void load(const std::string& pluginPath);
    // dlcloses the library, as a browser does after NP_Shutdown once nothing
    // of the plugin is left; the records, ledgers, pages and the browser
    // function table stay, so calls that still come are recorded. Throws
    // std::logic_error when no library is loaded, when NP_Initialize
    // succeeded without NP_Shutdown after it, or while the ledger holds an
    // object of the plugin's (its class lies in the library).
    void unload();
    bool loaded() const { return m_library != nullptr; }
    PluginLibrary& library();
    const char* pluginVersion() { return library().getPluginVersion(); }
    const char* mimeDescription() { return library().getMIMEDescription(); }
    // NP_GetValue with the null first argument browsers pass.
    NPError npGetValue(NPPVariable variable, void* value) { return library().getValue(nullptr, variable, value); }
    // NP_GetValue for a string variable; "" and the error in *error when it failed.
    std::string npGetString(NPPVariable variable, NPError* error = nullptr);
    NPError initialize(const TableOptions& options = TableOptions());
    NPError shutdown();
    bool initialized() const { return m_initialized; }
    bool shutDown() const { return m_shutDown; }

    // The tables handed to NP_Initialize (valid after it).
    NPNetscapeFuncs* browserFuncs() { return m_browserFuncs; }
    NPPluginFuncs& pluginFuncs() { return m_pluginFuncs; }
    static const unsigned char kPluginFuncsMarker = 0x5a;
    // NPPluginFuncs fields that the plugin changed from the marker, in table
    // order (the size and version fields included when changed).
    std::vector<std::string> filledPluginEntries() const;
    // False for an entry the plugin left null or at the marker.
    template <typename F>
    static bool callable(F entry)
    {
        return entry && reinterpret_cast<uintptr_t>(entry) != kPluginFuncsMarkerWord;
    }

    // --- Instances.
    // Makes the page, lets preparePage add to it (as the page's own scripts
    // would before the plugin loads), then calls NPP_New; see
    // Instance::newResult().
    Instance& createInstance(const std::string& mimeType, const std::vector<Param>& params = {},
                             const std::string& pageUrl = "http://127.0.0.1/page.html", uint16_t mode = NP_EMBED,
                             const std::function<void(Instance&)>& preparePage = {});
    // The instance of an NPP the browser made, or null.
    Instance* findInstance(NPP npp);
    // The record of an NPStream made for any instance, or null.
    StreamRecord* findStream(NPStream* stream);

    // --- Browser settings.
    void setSupportsXEmbed(bool supported) { m_supportsXEmbed = supported; }
    void setNetscapeWindow(unsigned long xid) { m_netscapeWindow = xid; }
    void setGetValueFailure(NPNVariable variable, GetValueFailure failure) { m_getValueFailures[variable] = failure; }
    void setUserAgent(const std::string& userAgent) { m_userAgent = userAgent; }
    void setProxyAnswer(NPError error, const std::string& text)
    {
        m_proxyError = error;
        m_proxyText = text;
    }
    // The answer of the URL and stream entries (NPN_GetURLNotify, ...).
    void setStreamAnswer(NPError error) { m_streamAnswer = error; }
    // NPN_DestroyStream calls the plugin's NPP_DestroyStream at once (with
    // the plugin's reason) instead of leaving it to the test.
    void setDestroyStreamCallsBack(bool callsBack) { m_destroyStreamCallsBack = callsBack; }
    void setEvaluateFails(bool fails) { m_evaluateFails = fails; }
    // The per-call log costs memory in long runs; the per-entry counts stay.
    void setCallLogEnabled(bool enabled) { m_callLogEnabled = enabled; }
    // Deliver asynchronous calls of destroyed instances instead of dropping them.
    void setDeliverAsyncCallsAfterDestroy(bool deliver) { m_deliverAfterDestroy = deliver; }

    // --- Records (any thread).
    std::vector<CallRecord> calls() const;
    std::size_t callCount(Entry entry) const { return m_callCounts[static_cast<std::size_t>(entry)].load(); }
    std::size_t offMainThreadCallCount(Entry entry) const
    {
        return m_offMainCounts[static_cast<std::size_t>(entry)].load();
    }
    std::vector<std::string> violations() const;
    std::vector<std::string> exceptions() const;
    std::string lastException() const;
    std::vector<UrlRequest> urlRequests() const;
    std::vector<std::pair<NPPVariable, void*>> setValueCalls() const;
    // Errors a script raised where nothing caught it (timer callbacks).
    std::vector<std::string> pageErrors() const;

    // --- Ledgers (any thread).
    ObjectLedger& objects() { return m_objects; }
    MemoryLedger& memory() { return m_memory; }
    // What the plugin left behind: plugin-held references, live objects the
    // plugin created, outstanding browser memory, violations. "" when none.
    std::string ledgerProblems() const;

    // --- Page objects, held by the caller.
    ObjectRef newObject(NPP npp = nullptr);
    ObjectRef newArray(const std::vector<Value>& elements = {}, NPP npp = nullptr);
    ObjectRef newFunction(NativeFunction function, NPP npp = nullptr);
    // An object of any class made through the browser as NPN_CreateObject
    // would (Origin::Browser); the caller holds the one reference.
    ObjectRef createObject(NPClass* cls, NPP npp = nullptr);

    // --- Scripting, as a page scripts an object of any class.
    bool hasMethod(NPObject* object, NPIdentifier name);
    bool hasProperty(NPObject* object, NPIdentifier name);
    CallResult getProperty(NPObject* object, NPIdentifier name);
    CallResult setProperty(NPObject* object, NPIdentifier name, const Value& value);
    CallResult removeProperty(NPObject* object, NPIdentifier name);
    CallResult invoke(NPObject* object, NPIdentifier name, const std::vector<Value>& args = {});
    CallResult invokeDefault(NPObject* object, const std::vector<Value>& args = {});
    CallResult construct(NPObject* object, const std::vector<Value>& args = {});
    // invoke with the NPVariants exactly as given, which the browser keeps:
    // values no Value expresses, such as an object variant without object.
    CallResult invokeRaw(NPObject* object, NPIdentifier name, const std::vector<NPVariant>& args);
    // The identifiers' texts; false when the class refuses or lacks enumerate.
    bool enumerate(NPObject* object, std::vector<std::string>* names);
    // The page expression object.name(args...): invoke when the object has
    // the method, otherwise read the name as a property and call the function
    // object it gives through invokeDefault.
    CallResult callMember(NPObject* object, const std::string& name, const std::vector<Value>& args = {});
    // An array's elements read as a script reads them ("length", then 0, 1, ...).
    std::vector<Value> arrayValues(NPObject* array);
    // Conveniences for the string-named forms.
    CallResult getProperty(NPObject* object, const std::string& name)
    {
        return getProperty(object, stringIdentifier(name));
    }
    CallResult setProperty(NPObject* object, const std::string& name, const Value& value)
    {
        return setProperty(object, stringIdentifier(name), value);
    }
    CallResult invoke(NPObject* object, const std::string& name, const std::vector<Value>& args = {})
    {
        return invoke(object, stringIdentifier(name), args);
    }

    // --- Asynchronous calls. pendingAsyncCalls: any thread.
    std::size_t pendingAsyncCalls() const;
    // Runs the calls queued so far; answers how many ran.
    std::size_t runAsyncCalls();
    // Runs asynchronous calls and due timers until predicate holds or the
    // timeout passes; answers the predicate's last value.
    bool pumpUntil(const std::function<bool()>& predicate,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Calls never run: queued for a destroyed instance, or at/after NP_Shutdown.
    std::size_t droppedAsyncCalls() const;

    // --- Timers (virtual clock in milliseconds).
    int setTimeout(std::function<void()> callback, uint32_t delay);
    // Advances the clock by advanceMs, then fires every due timer in order.
    std::size_t runTimers(uint32_t advanceMs = 0);
    std::size_t pendingTimers() const { return m_timers.size(); }
    std::vector<TimerRecord> timerLog() const { return m_timerLog; }
    uint64_t now() const { return m_now; }

    // --- For the browser's own parts (ObjectRef, page objects, the table).
    bool retainBrowserReference(NPObject* object);
    void releaseBrowserReference(NPObject* object);
    void recordViolation(const std::string& what);
    void recordPageError(const std::string& what);
    // A plugin-supplied NPVariant as a browser value (objects become browser references).
    Value fromNPVariant(const NPVariant& variant);
    // A value handed to the plugin, which owns it (string from the browser
    // allocator, object reference counted as the plugin's).
    void toOwnedNPVariant(const Value& value, NPVariant* variant);
    // NPN_ReleaseVariantValue.
    void releaseVariantValue(NPVariant* variant);
    // Releases one reference counted as the plugin's.
    void releasePluginReference(NPObject* object);

private:
    friend struct BrowserFunctions;
    friend class Instance;

    static const uintptr_t kPluginFuncsMarkerWord = 0x5a5a5a5a5a5a5a5aull;

    struct AsyncCall {
        NPP npp;
        NPN_AsyncCallFunc func;
        void* data;
    };
    struct Timer {
        int id;
        uint64_t due;
        std::function<void()> callback;
    };

    void recordCall(Entry entry, bool onMainThread);
    void recordException(const std::string& message);
    NPObject* createObjectInternal(NPClass* cls, NPP npp, Origin origin, bool browserRef);
    void deallocate(NPObject* object, NPClass* cls);
    bool checkScriptable(NPObject* object, const char* operation);
    CallResult finish(bool ok, NPVariant* result, std::size_t exceptionsBefore);
    std::vector<NPVariant> borrowedArguments(const std::vector<Value>& args);
    std::size_t exceptionCount() const;
    void dropAsyncCallsOf(NPP npp);
    void teardown();

    std::thread::id m_mainThread;
    std::unique_ptr<PluginLibrary> m_library;
    bool m_initialized = false;
    std::atomic<bool> m_shutDown{false};
    bool m_tearingDown = false;
    NPNetscapeFuncs* m_browserFuncs = nullptr;
    TableOptions m_tableOptions;
    NPPluginFuncs m_pluginFuncs;

    ObjectLedger m_objects;
    MemoryLedger m_memory;
    std::vector<std::unique_ptr<Instance>> m_instances;

    bool m_supportsXEmbed = true;
    unsigned long m_netscapeWindow = 0;
    std::map<NPNVariable, GetValueFailure> m_getValueFailures;
    std::string m_userAgent = "Mozilla/5.0 (X11; Linux x86_64) FakeBrowser/1.0";
    NPError m_proxyError = NPERR_NO_ERROR;
    std::string m_proxyText = "DIRECT";
    NPError m_streamAnswer = NPERR_NO_ERROR;
    bool m_destroyStreamCallsBack = false;
    bool m_evaluateFails = false;
    bool m_deliverAfterDestroy = false;
    std::atomic<bool> m_callLogEnabled{true};

    // Records, guarded by m_mutex.
    mutable std::mutex m_mutex;
    std::vector<CallRecord> m_calls;
    std::array<std::atomic<std::size_t>, kEntryCount> m_callCounts{};
    std::array<std::atomic<std::size_t>, kEntryCount> m_offMainCounts{};
    std::vector<std::string> m_violations;
    std::vector<std::string> m_exceptions;
    std::vector<UrlRequest> m_urlRequests;
    std::vector<std::pair<NPPVariable, void*>> m_setValues;
    std::vector<std::string> m_pageErrors;
    std::deque<AsyncCall> m_asyncCalls;
    std::size_t m_droppedAsyncCalls = 0;
    std::condition_variable m_asyncQueued;

    // Timers, main thread only.
    uint64_t m_now = 0;
    int m_nextTimerId = 1;
    std::vector<Timer> m_timers;
    std::vector<TimerRecord> m_timerLog;
};

} // namespace fakebrowser

#endif
