#include "FakeBrowser.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>
#include <stdexcept>

// GCC says __SANITIZE_ADDRESS__, clang __has_feature(address_sanitizer).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAKEBROWSER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define FAKEBROWSER_ASAN 1
#endif
#ifdef FAKEBROWSER_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace fakebrowser {

// Defined in BrowserFunctions.cpp.
void fillBrowserFuncs(NPNetscapeFuncs* table, uint16_t size, uint16_t version);

namespace {

std::atomic<FakeBrowser*> g_current{nullptr};

#define FAKEBROWSER_PLUGIN_ENTRIES(X)                                                                       \
    X(newp) X(destroy) X(setwindow) X(newstream) X(destroystream) X(asfile) X(writeready) X(write) X(print) \
    X(event) X(urlnotify) X(javaClass) X(getvalue) X(setvalue) X(gotfocus) X(lostfocus)                     \
    X(urlredirectnotify) X(clearsitedata) X(getsiteswithdata) X(didComposite)

bool changedFromMarker(const void* field, std::size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(field);
    for (std::size_t i = 0; i < size; ++i)
        if (bytes[i] != FakeBrowser::kPluginFuncsMarker)
            return true;
    return false;
}

std::size_t tailStart(uint16_t size)
{
    return (static_cast<std::size_t>(size) + 7) & ~static_cast<std::size_t>(7);
}

} // namespace

FakeBrowser::FakeBrowser() : m_mainThread(std::this_thread::get_id())
{
    FakeBrowser* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this))
        throw std::logic_error("one FakeBrowser at a time");
    std::memset(&m_pluginFuncs, 0, sizeof m_pluginFuncs);
}

FakeBrowser::FakeBrowser(const std::string& pluginPath) : FakeBrowser()
{
    try {
        load(pluginPath);
    } catch (...) {
        g_current = nullptr;
        throw;
    }
}

FakeBrowser::~FakeBrowser()
{
    teardown();
    g_current = nullptr;
}

FakeBrowser* FakeBrowser::current()
{
    return g_current.load();
}

void FakeBrowser::load(const std::string& pluginPath)
{
    m_library.reset(new PluginLibrary(pluginPath));
}

void FakeBrowser::unload()
{
    if (!m_library)
        throw std::logic_error("no plugin library loaded");
    if (m_initialized)
        throw std::logic_error("unload before NP_Shutdown");
    if (m_objects.liveCount(Origin::Plugin) != 0)
        throw std::logic_error("unload while objects of the plugin live");
    m_library.reset();
}

PluginLibrary& FakeBrowser::library()
{
    if (!m_library)
        throw std::logic_error("no plugin library loaded");
    return *m_library;
}

std::string FakeBrowser::npGetString(NPPVariable variable, NPError* error)
{
    const char* text = nullptr;
    const NPError result = npGetValue(variable, &text);
    if (error)
        *error = result;
    return result == NPERR_NO_ERROR && text ? std::string(text) : std::string();
}

NPError FakeBrowser::initialize(const TableOptions& options)
{
    if (!m_browserFuncs) {
        // A block of its own, so that AddressSanitizer can fence its tail.
        m_browserFuncs = static_cast<NPNetscapeFuncs*>(::operator new(sizeof(NPNetscapeFuncs)));
    }
#ifdef FAKEBROWSER_ASAN
    ASAN_UNPOISON_MEMORY_REGION(m_browserFuncs, sizeof(NPNetscapeFuncs));
#endif
    m_tableOptions = options;
    fillBrowserFuncs(m_browserFuncs, options.size, options.version);
#ifdef FAKEBROWSER_ASAN
    if (options.poisonTailMemory && tailStart(options.size) < sizeof(NPNetscapeFuncs))
        ASAN_POISON_MEMORY_REGION(reinterpret_cast<char*>(m_browserFuncs) + tailStart(options.size),
                                  sizeof(NPNetscapeFuncs) - tailStart(options.size));
#else
    (void)tailStart;
#endif
    std::memset(&m_pluginFuncs, kPluginFuncsMarker, sizeof m_pluginFuncs);
    m_pluginFuncs.size = options.pluginFuncsSize;
    m_pluginFuncs.version = options.pluginFuncsVersion;
    const NPError result = library().initialize(m_browserFuncs, &m_pluginFuncs);
    if (result == NPERR_NO_ERROR) {
        m_initialized = true;
        m_shutDown = false;
    }
    return result;
}

NPError FakeBrowser::shutdown()
{
    const NPError result = library().shutdown();
    m_initialized = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shutDown = true;
    m_droppedAsyncCalls += m_asyncCalls.size();
    m_asyncCalls.clear();
    return result;
}

std::vector<std::string> FakeBrowser::filledPluginEntries() const
{
    std::vector<std::string> filled;
    if (m_pluginFuncs.size != m_tableOptions.pluginFuncsSize)
        filled.push_back("size");
    if (m_pluginFuncs.version != m_tableOptions.pluginFuncsVersion)
        filled.push_back("version");
#define FAKEBROWSER_CHECK_FILLED(name)                                          \
    if (changedFromMarker(&m_pluginFuncs.name, sizeof m_pluginFuncs.name)) \
        filled.push_back(#name);
    FAKEBROWSER_PLUGIN_ENTRIES(FAKEBROWSER_CHECK_FILLED)
#undef FAKEBROWSER_CHECK_FILLED
    return filled;
}

Instance& FakeBrowser::createInstance(const std::string& mimeType, const std::vector<Param>& params,
                                      const std::string& pageUrl, uint16_t mode,
                                      const std::function<void(Instance&)>& preparePage)
{
    m_instances.emplace_back(new Instance(*this, mimeType, params, pageUrl));
    Instance& instance = *m_instances.back();
    if (preparePage)
        preparePage(instance);
    instance.create(mode);
    return instance;
}

Instance* FakeBrowser::findInstance(NPP npp)
{
    for (const auto& instance : m_instances)
        if (instance->npp() == npp)
            return instance.get();
    return nullptr;
}

StreamRecord* FakeBrowser::findStream(NPStream* stream)
{
    for (const auto& instance : m_instances)
        if (StreamRecord* record = instance->findStream(stream))
            return record;
    return nullptr;
}

// --- Records.

void FakeBrowser::recordCall(Entry entry, bool onMainThread)
{
    const std::size_t index = static_cast<std::size_t>(entry);
    ++m_callCounts[index];
    if (!onMainThread)
        ++m_offMainCounts[index];
    if (m_callLogEnabled.load()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(CallRecord{entry, onMainThread});
    }
}

void FakeBrowser::recordViolation(const std::string& what)
{
    if (m_tearingDown)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_violations.push_back(what);
}

void FakeBrowser::recordPageError(const std::string& what)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pageErrors.push_back(what);
}

void FakeBrowser::recordException(const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exceptions.push_back(message);
}

std::size_t FakeBrowser::exceptionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exceptions.size();
}

std::vector<CallRecord> FakeBrowser::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::vector<std::string> FakeBrowser::violations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_violations;
}

std::vector<std::string> FakeBrowser::exceptions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exceptions;
}

std::string FakeBrowser::lastException() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exceptions.empty() ? std::string() : m_exceptions.back();
}

std::vector<UrlRequest> FakeBrowser::urlRequests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_urlRequests;
}

std::vector<std::pair<NPPVariable, void*>> FakeBrowser::setValueCalls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_setValues;
}

std::vector<std::string> FakeBrowser::pageErrors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pageErrors;
}

std::string FakeBrowser::ledgerProblems() const
{
    std::ostringstream out;
    for (const ObjectRecord& record : m_objects.snapshot()) {
        const uint32_t pluginRefs = record.references - record.browserReferences;
        if (pluginRefs != 0)
            out << "object " << record.object << (record.origin == Origin::Plugin ? " (plugin class)" : "")
                << " holds " << pluginRefs << " plugin reference(s)\n";
        else if (record.origin == Origin::Plugin)
            out << "plugin object " << record.object << " still alive with " << record.browserReferences
                << " browser reference(s)\n";
    }
    if (m_memory.outstandingBlocks() != 0)
        out << m_memory.outstandingBlocks() << " block(s) of browser memory (" << m_memory.outstandingBytes()
            << " bytes) not freed\n";
    for (const std::string& violation : violations())
        out << "violation: " << violation << '\n';
    return out.str();
}

// --- Objects.

NPObject* FakeBrowser::createObjectInternal(NPClass* cls, NPP npp, Origin origin, bool browserRef)
{
    if (!cls)
        return nullptr;
    NPObject* object = cls->allocate ? cls->allocate(npp, cls) : static_cast<NPObject*>(std::malloc(sizeof(NPObject)));
    if (!object)
        return nullptr;
    object->_class = cls;
    object->referenceCount = 1;
    m_objects.add(object, cls, npp, origin, browserRef);
    return object;
}

void FakeBrowser::deallocate(NPObject* object, NPClass* cls)
{
    if (cls && cls->deallocate)
        cls->deallocate(object);
    else
        std::free(object);
}

bool FakeBrowser::retainBrowserReference(NPObject* object)
{
    if (m_objects.retain(object, true) == ObjectLedger::Status::Ok)
        return true;
    recordViolation("browser reference to an object the browser does not know");
    return false;
}

void FakeBrowser::releaseBrowserReference(NPObject* object)
{
    NPClass* cls = nullptr;
    switch (m_objects.release(object, true, &cls)) {
    case ObjectLedger::Status::Dead: deallocate(object, cls); break;
    case ObjectLedger::Status::Ok: break;
    case ObjectLedger::Status::Unknown:
    case ObjectLedger::Status::NotOwned:
        recordViolation("the browser lost one of its references (the plugin released it)");
        break;
    }
}

void FakeBrowser::releasePluginReference(NPObject* object)
{
    NPClass* cls = nullptr;
    switch (m_objects.release(object, false, &cls)) {
    case ObjectLedger::Status::Dead: deallocate(object, cls); break;
    case ObjectLedger::Status::Ok: break;
    case ObjectLedger::Status::Unknown: recordViolation("NPN_ReleaseObject of an unknown or freed object"); break;
    case ObjectLedger::Status::NotOwned:
        recordViolation("NPN_ReleaseObject of a reference the plugin does not hold");
        break;
    }
}

ObjectRef FakeBrowser::createObject(NPClass* cls, NPP npp)
{
    return ObjectRef::adopt(*this, createObjectInternal(cls, npp, Origin::Browser, true));
}

ObjectRef FakeBrowser::newObject(NPP npp)
{
    ObjectRef ref = createObject(pageClass(), npp);
    asPageObject(ref.get())->browser = this;
    return ref;
}

ObjectRef FakeBrowser::newArray(const std::vector<Value>& elements, NPP npp)
{
    ObjectRef ref = newObject(npp);
    PageObject* page = asPageObject(ref.get());
    page->kind = PageKind::Array;
    page->elements = elements;
    return ref;
}

ObjectRef FakeBrowser::newFunction(NativeFunction function, NPP npp)
{
    ObjectRef ref = newObject(npp);
    PageObject* page = asPageObject(ref.get());
    page->kind = PageKind::Function;
    page->function = std::move(function);
    return ref;
}

// --- Values.

Value FakeBrowser::fromNPVariant(const NPVariant& variant)
{
    switch (variant.type) {
    case NPVariantType_Void: return Value();
    case NPVariantType_Null: return Value::null();
    case NPVariantType_Bool: return Value(variant.value.boolValue);
    case NPVariantType_Int32: return Value(variant.value.intValue);
    case NPVariantType_Double: return Value(variant.value.doubleValue);
    case NPVariantType_String: {
        const NPString& s = variant.value.stringValue;
        if (!s.UTF8Characters && s.UTF8Length != 0)
            recordViolation("string NPVariant with a null pointer and a length");
        return Value(s.UTF8Characters ? std::string(s.UTF8Characters, s.UTF8Length) : std::string());
    }
    case NPVariantType_Object: {
        if (!variant.value.objectValue)
            return Value::null();
        ObjectRef ref = ObjectRef::retain(*this, variant.value.objectValue);
        return ref ? Value(std::move(ref)) : Value::null();
    }
    }
    recordViolation("NPVariant with tag " + std::to_string(static_cast<int>(variant.type)));
    return Value();
}

void FakeBrowser::toOwnedNPVariant(const Value& value, NPVariant* variant)
{
    switch (value.type()) {
    case Value::Type::Undefined: variant->type = NPVariantType_Void; break;
    case Value::Type::Null: variant->type = NPVariantType_Null; break;
    case Value::Type::Bool:
        variant->type = NPVariantType_Bool;
        variant->value.boolValue = value.asBool();
        break;
    case Value::Type::Int32:
        variant->type = NPVariantType_Int32;
        variant->value.intValue = value.asInt();
        break;
    case Value::Type::Double:
        variant->type = NPVariantType_Double;
        variant->value.doubleValue = value.asNumber();
        break;
    case Value::Type::String: {
        const std::string& text = value.asString();
        char* copy = static_cast<char*>(m_memory.allocate(static_cast<uint32_t>(text.size() + 1)));
        std::memcpy(copy, text.c_str(), text.size() + 1);
        variant->type = NPVariantType_String;
        variant->value.stringValue.UTF8Characters = copy;
        variant->value.stringValue.UTF8Length = static_cast<uint32_t>(text.size());
        break;
    }
    case Value::Type::Object:
        m_objects.retain(value.object(), false);
        variant->type = NPVariantType_Object;
        variant->value.objectValue = value.object();
        break;
    }
}

void FakeBrowser::releaseVariantValue(NPVariant* variant)
{
    if (!variant)
        return;
    if (variant->type == NPVariantType_String) {
        void* text = const_cast<NPUTF8*>(variant->value.stringValue.UTF8Characters);
        if (!m_memory.free(text))
            recordViolation("string NPVariant whose text is not browser memory");
    } else if (variant->type == NPVariantType_Object && variant->value.objectValue) {
        releasePluginReference(variant->value.objectValue);
    }
    variant->type = NPVariantType_Void;
}

// --- Scripting.

bool FakeBrowser::checkScriptable(NPObject* object, const char* operation)
{
    if (!onMainThread()) {
        recordViolation(std::string("scripting (") + operation + ") off the main thread");
        return false;
    }
    if (!object || !m_objects.knows(object)) {
        recordViolation(std::string("scripting (") + operation + ") an unknown object");
        return false;
    }
    return object->_class != nullptr;
}

std::vector<NPVariant> FakeBrowser::borrowedArguments(const std::vector<Value>& args)
{
    // The browser owns its arguments for the call; the values keep strings
    // and objects alive, so the NPVariants only point into them.
    std::vector<NPVariant> variants(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        NPVariant& v = variants[i];
        const Value& a = args[i];
        switch (a.type()) {
        case Value::Type::Undefined: v.type = NPVariantType_Void; break;
        case Value::Type::Null: v.type = NPVariantType_Null; break;
        case Value::Type::Bool: v.type = NPVariantType_Bool; v.value.boolValue = a.asBool(); break;
        case Value::Type::Int32: v.type = NPVariantType_Int32; v.value.intValue = a.asInt(); break;
        case Value::Type::Double: v.type = NPVariantType_Double; v.value.doubleValue = a.asNumber(); break;
        case Value::Type::String:
            v.type = NPVariantType_String;
            v.value.stringValue.UTF8Characters = a.asString().c_str();
            v.value.stringValue.UTF8Length = static_cast<uint32_t>(a.asString().size());
            break;
        case Value::Type::Object: v.type = NPVariantType_Object; v.value.objectValue = a.object(); break;
        }
    }
    return variants;
}

CallResult FakeBrowser::finish(bool ok, NPVariant* result, std::size_t exceptionsBefore)
{
    CallResult call;
    call.ok = ok;
    if (result) {
        // The result is the browser's whatever the answer: take the value,
        // then give the plugin's buffer and reference back.
        if (ok)
            call.value = fromNPVariant(*result);
        releaseVariantValue(result);
    }
    const std::vector<std::string> all = exceptions();
    call.exceptions.assign(all.begin() + static_cast<std::ptrdiff_t>(std::min(exceptionsBefore, all.size())),
                           all.end());
    return call;
}

bool FakeBrowser::hasMethod(NPObject* object, NPIdentifier name)
{
    return checkScriptable(object, "hasMethod") && object->_class->hasMethod &&
           object->_class->hasMethod(object, name);
}

bool FakeBrowser::hasProperty(NPObject* object, NPIdentifier name)
{
    return checkScriptable(object, "hasProperty") && object->_class->hasProperty &&
           object->_class->hasProperty(object, name);
}

CallResult FakeBrowser::getProperty(NPObject* object, NPIdentifier name)
{
    if (!checkScriptable(object, "getProperty") || !object->_class->getProperty)
        return CallResult();
    const std::size_t before = exceptionCount();
    NPVariant result;
    result.type = NPVariantType_Void;
    const bool ok = object->_class->getProperty(object, name, &result);
    return finish(ok, &result, before);
}

CallResult FakeBrowser::setProperty(NPObject* object, NPIdentifier name, const Value& value)
{
    if (!checkScriptable(object, "setProperty") || !object->_class->setProperty)
        return CallResult();
    const std::size_t before = exceptionCount();
    const std::vector<Value> args(1, value);
    std::vector<NPVariant> variants = borrowedArguments(args);
    const bool ok = object->_class->setProperty(object, name, &variants[0]);
    return finish(ok, nullptr, before);
}

CallResult FakeBrowser::removeProperty(NPObject* object, NPIdentifier name)
{
    if (!checkScriptable(object, "removeProperty") || !object->_class->removeProperty)
        return CallResult();
    const std::size_t before = exceptionCount();
    const bool ok = object->_class->removeProperty(object, name);
    return finish(ok, nullptr, before);
}

CallResult FakeBrowser::invoke(NPObject* object, NPIdentifier name, const std::vector<Value>& args)
{
    if (!checkScriptable(object, "invoke") || !object->_class->invoke)
        return CallResult();
    const std::size_t before = exceptionCount();
    std::vector<NPVariant> variants = borrowedArguments(args);
    NPVariant result;
    result.type = NPVariantType_Void;
    const bool ok = object->_class->invoke(object, name, variants.data(), static_cast<uint32_t>(variants.size()),
                                           &result);
    return finish(ok, &result, before);
}

CallResult FakeBrowser::invokeRaw(NPObject* object, NPIdentifier name, const std::vector<NPVariant>& args)
{
    if (!checkScriptable(object, "invoke") || !object->_class->invoke)
        return CallResult();
    const std::size_t before = exceptionCount();
    std::vector<NPVariant> variants(args);
    NPVariant result;
    result.type = NPVariantType_Void;
    const bool ok = object->_class->invoke(object, name, variants.data(), static_cast<uint32_t>(variants.size()),
                                           &result);
    return finish(ok, &result, before);
}

CallResult FakeBrowser::invokeDefault(NPObject* object, const std::vector<Value>& args)
{
    if (!checkScriptable(object, "invokeDefault") || !object->_class->invokeDefault)
        return CallResult();
    const std::size_t before = exceptionCount();
    std::vector<NPVariant> variants = borrowedArguments(args);
    NPVariant result;
    result.type = NPVariantType_Void;
    const bool ok =
        object->_class->invokeDefault(object, variants.data(), static_cast<uint32_t>(variants.size()), &result);
    return finish(ok, &result, before);
}

CallResult FakeBrowser::construct(NPObject* object, const std::vector<Value>& args)
{
    if (!checkScriptable(object, "construct") || object->_class->structVersion < NP_CLASS_STRUCT_VERSION_CTOR ||
        !object->_class->construct)
        return CallResult();
    const std::size_t before = exceptionCount();
    std::vector<NPVariant> variants = borrowedArguments(args);
    NPVariant result;
    result.type = NPVariantType_Void;
    const bool ok =
        object->_class->construct(object, variants.data(), static_cast<uint32_t>(variants.size()), &result);
    return finish(ok, &result, before);
}

bool FakeBrowser::enumerate(NPObject* object, std::vector<std::string>* names)
{
    if (!checkScriptable(object, "enumerate") || object->_class->structVersion < NP_CLASS_STRUCT_VERSION_ENUM ||
        !object->_class->enumerate)
        return false;
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    if (!object->_class->enumerate(object, &ids, &count))
        return false;
    for (uint32_t i = 0; i < count; ++i)
        names->push_back(identifierText(ids[i]));
    if (!m_memory.free(ids))
        recordViolation("enumerate answered an identifier array that is not browser memory");
    return true;
}

CallResult FakeBrowser::callMember(NPObject* object, const std::string& name, const std::vector<Value>& args)
{
    const NPIdentifier id = stringIdentifier(name);
    if (hasMethod(object, id))
        return invoke(object, id, args);
    CallResult property = getProperty(object, id);
    if (!property.ok || !property.value.isObject()) {
        if (property.exceptions.empty())
            property.exceptions.push_back("TypeError: " + name + " is not a function");
        property.ok = false;
        property.value = Value();
        return property;
    }
    CallResult call = invokeDefault(property.value.object(), args);
    call.exceptions.insert(call.exceptions.begin(), property.exceptions.begin(), property.exceptions.end());
    return call;
}

std::vector<Value> FakeBrowser::arrayValues(NPObject* array)
{
    std::vector<Value> values;
    const CallResult length = getProperty(array, "length");
    if (!length.ok || !length.value.isNumber())
        return values;
    const int32_t n = static_cast<int32_t>(length.value.asNumber());
    for (int32_t i = 0; i < n; ++i)
        values.push_back(getProperty(array, intIdentifier(i)).value);
    return values;
}

// --- Asynchronous calls.

std::size_t FakeBrowser::pendingAsyncCalls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_asyncCalls.size();
}

std::size_t FakeBrowser::droppedAsyncCalls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_droppedAsyncCalls;
}

void FakeBrowser::dropAsyncCallsOf(NPP npp)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto end = std::remove_if(m_asyncCalls.begin(), m_asyncCalls.end(),
                                    [npp](const AsyncCall& call) { return call.npp == npp; });
    m_droppedAsyncCalls += static_cast<std::size_t>(m_asyncCalls.end() - end);
    m_asyncCalls.erase(end, m_asyncCalls.end());
}

std::size_t FakeBrowser::runAsyncCalls()
{
    if (!onMainThread()) {
        recordViolation("runAsyncCalls off the main thread");
        return 0;
    }
    std::deque<AsyncCall> calls;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        calls.swap(m_asyncCalls);
    }
    std::size_t ran = 0;
    for (const AsyncCall& call : calls) {
        // An instance destroyed while its call was being queued.
        Instance* instance = findInstance(call.npp);
        if (m_shutDown || !instance || (instance->destroyed() && !m_deliverAfterDestroy)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_droppedAsyncCalls;
            continue;
        }
        call.func(call.data);
        ++ran;
    }
    return ran;
}

bool FakeBrowser::pumpUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        runAsyncCalls();
        runTimers(0);
        if (predicate())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_asyncQueued.wait_for(lock, std::chrono::milliseconds(2), [this] { return !m_asyncCalls.empty(); });
    }
}

// --- Timers.

int FakeBrowser::setTimeout(std::function<void()> callback, uint32_t delay)
{
    const int id = m_nextTimerId++;
    m_timers.push_back(Timer{id, m_now + delay, std::move(callback)});
    m_timerLog.push_back(TimerRecord{id, delay, false});
    return id;
}

std::size_t FakeBrowser::runTimers(uint32_t advanceMs)
{
    if (!onMainThread()) {
        recordViolation("runTimers off the main thread");
        return 0;
    }
    m_now += advanceMs;
    std::size_t fired = 0;
    for (;;) {
        // The earliest due timer first; equal times in the order they were set.
        auto next = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
            if (it->due <= m_now && (next == m_timers.end() || it->due < next->due))
                next = it;
        if (next == m_timers.end())
            return fired;
        Timer timer = std::move(*next);
        m_timers.erase(next);
        for (TimerRecord& record : m_timerLog)
            if (record.id == timer.id)
                record.fired = true;
        timer.callback();
        ++fired;
    }
}

// --- Teardown.

void FakeBrowser::teardown()
{
    if (m_library) {
        for (const auto& instance : m_instances)
            if (instance->alive())
                instance->destroy();
        if (m_initialized)
            shutdown();
    }
    m_tearingDown = true;
    m_timers.clear();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_asyncCalls.clear();
    }
    // Break the page's cycles, then free what is left: the plugin's objects
    // through their class (as a browser does once the plugin is gone), the
    // browser's own directly.
    m_instances.clear();
    for (const ObjectRecord& record : m_objects.snapshot())
        if (m_objects.knows(record.object))
            if (PageObject* page = asPageObject(record.object))
                page->clear();
    const std::vector<ObjectRecord> remaining = m_objects.takeAll();
    for (const ObjectRecord& record : remaining)
        if (record.origin == Origin::Plugin)
            deallocate(record.object, record.cls);
    for (const ObjectRecord& record : remaining)
        if (record.origin == Origin::Browser)
            deallocate(record.object, record.cls);
    if (m_browserFuncs) {
#ifdef FAKEBROWSER_ASAN
        ASAN_UNPOISON_MEMORY_REGION(m_browserFuncs, sizeof(NPNetscapeFuncs));
#endif
        ::operator delete(m_browserFuncs);
        m_browserFuncs = nullptr;
    }
    m_library.reset();
}

} // namespace fakebrowser
