#include "Instance.h"

#include <algorithm>
#include <cstring>

#include "FakeBrowser.h"
#include "PageObject.h"

namespace fakebrowser {

namespace {

char* copyText(std::vector<std::unique_ptr<char[]>>& storage, const char* text)
{
    if (!text)
        return nullptr;
    const std::size_t size = std::strlen(text) + 1;
    storage.emplace_back(new char[size]);
    std::memcpy(storage.back().get(), text, size);
    return storage.back().get();
}

void setMember(const ObjectRef& object, const std::string& name, const Value& value)
{
    asPageObject(object.get())->properties[name] = value;
}

} // namespace

Instance::Instance(FakeBrowser& browser, const std::string& mimeType, const std::vector<Param>& params,
                   const std::string& pageUrl)
    : m_browser(browser), m_mimeType(mimeType), m_pageUrl(pageUrl)
{
    m_npp.ndata = this;
    for (const Param& param : params) {
        m_argn.push_back(copyText(m_strings, param.name));
        m_argv.push_back(copyText(m_strings, param.value));
    }

    FakeBrowser* b = &m_browser;
    NPP npp = &m_npp;
    m_window = b->newObject(npp);
    m_location = b->newObject(npp);
    m_document = b->newObject(npp);
    m_element = b->newObject(npp);
    setMember(m_location, "href", Value(pageUrl));
    setMember(m_document, "location", Value(m_location));
    setMember(m_window, "location", Value(m_location));
    setMember(m_window, "document", Value(m_document));
    // window.Array() and window.Object() make new page objects, as the
    // framework's createArray/createObject call them.
    setMember(m_window, "Array", Value(b->newFunction(
        [b, npp](const Value&, const std::vector<Value>& args) { return Value(b->newArray(args, npp)); }, npp)));
    setMember(m_window, "Object", Value(b->newFunction(
        [b, npp](const Value&, const std::vector<Value>&) { return Value(b->newObject(npp)); }, npp)));
}

Instance::~Instance() = default;

void Instance::addConsole()
{
    const ObjectRef console = m_browser.newObject(&m_npp);
    setMember(console, "log", Value(m_browser.newFunction(
        [this](const Value&, const std::vector<Value>& args) {
            const Value message = args.empty() ? Value() : args[0];
            m_consoleMessages.push_back(message.isString() ? message.asString() : message.describe());
            return Value();
        },
        &m_npp)));
    setMember(m_window, "console", Value(console));
}

void Instance::create(uint16_t mode)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!FakeBrowser::callable(funcs.newp)) {
        m_browser.recordViolation("NPP_New is missing from the plugin's table");
        return;
    }
    char* type = copyText(m_strings, m_mimeType.c_str());
    m_creating = true;
    m_newResult = funcs.newp(type, &m_npp, mode, static_cast<int16_t>(m_argn.size()), m_argn.data(),
                             m_argv.data(), nullptr);
    m_creating = false;
}

void Instance::defineHelper(const std::string& name)
{
    // window.<name>(delay, f, args[, fname]): after delay ms, f(...args) with
    // three arguments, otherwise f[fname](...args); answers the timer id.
    FakeBrowser* b = &m_browser;
    NativeFunction helper = [b](const Value&, const std::vector<Value>& args) {
        const uint32_t delay = !args.empty() && args[0].isNumber() ? static_cast<uint32_t>(args[0].asNumber()) : 0;
        const Value f = args.size() > 1 ? args[1] : Value();
        const Value list = args.size() > 2 ? args[2] : Value();
        const bool member = args.size() != 3;
        const std::string fname =
            args.size() > 3 ? (args[3].isString() ? args[3].asString() : args[3].describe()) : "undefined";
        const int id = b->setTimeout(
            [b, f, list, member, fname]() {
                if (!f.isObject()) {
                    b->recordPageError("TypeError: f is not an object");
                    return;
                }
                const std::vector<Value> spread = list.isObject() ? b->arrayValues(list.object()) : std::vector<Value>();
                const CallResult call = member ? b->callMember(f.object(), fname, spread) : b->invokeDefault(f.object(), spread);
                if (!call.ok)
                    b->recordPageError("uncaught exception in a timer: " +
                                       (call.threw() ? call.exception() : std::string("the call failed")));
            },
            delay);
        return Value(static_cast<int32_t>(id));
    };
    setMember(m_window, name, Value(m_browser.newFunction(helper, &m_npp)));
}

NPError Instance::setWindow(const NPWindow& window)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!usable() || !FakeBrowser::callable(funcs.setwindow))
        return NPERR_INVALID_INSTANCE_ERROR;
    m_window_struct = window;
    return funcs.setwindow(&m_npp, &m_window_struct);
}

NPError Instance::destroy()
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!alive() || !FakeBrowser::callable(funcs.destroy))
        return NPERR_INVALID_INSTANCE_ERROR;
    NPSavedData* saved = nullptr;
    const NPError result = funcs.destroy(&m_npp, &saved);
    m_destroyed = true;
    if (saved) {
        // Saved data comes from the browser's allocator; this browser keeps none.
        if (!m_browser.memory().free(saved->buf) || !m_browser.memory().free(saved))
            m_browser.recordViolation("NPP_Destroy saved data that is not browser memory");
    }
    if (!m_browser.m_deliverAfterDestroy)
        m_browser.dropAsyncCallsOf(&m_npp);
    return result;
}

NPError Instance::getValue(NPPVariable variable, void* value)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!usable() || !FakeBrowser::callable(funcs.getvalue))
        return NPERR_INVALID_INSTANCE_ERROR;
    return funcs.getvalue(&m_npp, variable, value);
}

NPError Instance::setValue(NPNVariable variable, void* value)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!usable() || !FakeBrowser::callable(funcs.setvalue))
        return NPERR_INVALID_INSTANCE_ERROR;
    return funcs.setvalue(&m_npp, variable, value);
}

int16_t Instance::handleEvent(void* event)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!usable() || !FakeBrowser::callable(funcs.event))
        return 0;
    return funcs.event(&m_npp, event);
}

ObjectRef Instance::scriptableObject(NPError* error)
{
    NPObject* object = nullptr;
    const NPError result = getValue(NPPVpluginScriptableNPObject, &object);
    if (error)
        *error = result;
    if (result != NPERR_NO_ERROR || !object)
        return ObjectRef();
    // The plugin's reference becomes the browser's (here: the test's).
    ObjectRef ref = ObjectRef::retain(m_browser, object);
    if (ref)
        m_browser.releasePluginReference(object);
    else
        m_browser.recordViolation("the scriptable object was not made through NPN_CreateObject");
    return ref;
}

StreamRecord* Instance::newStream(const StreamSpec& spec, NPError* result, uint16_t* streamType)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!usable() || !FakeBrowser::callable(funcs.newstream)) {
        if (result)
            *result = NPERR_INVALID_INSTANCE_ERROR;
        return nullptr;
    }
    m_streams.emplace_back(new StreamRecord(spec));
    StreamRecord* record = m_streams.back().get();
    record->stream()->ndata = record;
    char* type = copyText(m_strings, spec.mimeType.c_str());
    uint16_t stype = NP_NORMAL;
    const NPError answer = funcs.newstream(&m_npp, type, record->stream(), spec.seekable, &stype);
    if (result)
        *result = answer;
    if (streamType)
        *streamType = stype;
    // A refused stream is gone for the browser: no NPP_DestroyStream follows.
    if (answer != NPERR_NO_ERROR)
        record->setDestroyed();
    return record;
}

bool Instance::streamUsable(StreamRecord& stream, const char* call)
{
    if (stream.destroyed()) {
        m_browser.recordViolation(std::string("the test drove ") + call + " on a destroyed stream");
        return false;
    }
    return usable();
}

int32_t Instance::writeReady(StreamRecord& stream)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!streamUsable(stream, "NPP_WriteReady") || !FakeBrowser::callable(funcs.writeready))
        return -1;
    return funcs.writeready(&m_npp, stream.stream());
}

int32_t Instance::write(StreamRecord& stream, int32_t offset, int32_t len, const void* data)
{
    return writeBuffer(stream, offset, len, data, len > 0 ? static_cast<std::size_t>(len) : 0);
}

int32_t Instance::writePartlyHeld(StreamRecord& stream, int32_t offset, int32_t len, const std::string& held)
{
    return writeBuffer(stream, offset, len, held.data(), held.size());
}

int32_t Instance::writeBuffer(StreamRecord& stream, int32_t offset, int32_t len, const void* data,
                              std::size_t size)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!streamUsable(stream, "NPP_Write") || !FakeBrowser::callable(funcs.write))
        return -1;
    // Exactly size bytes (one byte for none, so the pointer is valid).
    std::unique_ptr<char[]> buffer(new char[size ? size : 1]());
    if (size)
        std::memcpy(buffer.get(), data, size);
    return funcs.write(&m_npp, stream.stream(), offset, len, buffer.get());
}

std::size_t Instance::deliver(StreamRecord& stream, const std::string& body, int32_t offset,
                              std::size_t* writes)
{
    std::size_t taken = 0;
    std::size_t calls = 0;
    while (taken < body.size() && !stream.destroyed()) {
        const int32_t ready = writeReady(stream);
        if (ready <= 0)
            break;
        const std::size_t offer = std::min(static_cast<std::size_t>(ready), body.size() - taken);
        const int32_t n = write(stream, offset + static_cast<int32_t>(taken), static_cast<int32_t>(offer),
                                body.data() + taken);
        ++calls;
        if (n <= 0)
            break;
        if (static_cast<std::size_t>(n) > offer) {
            m_browser.recordViolation("NPP_Write took more bytes than it was offered");
            break;
        }
        taken += static_cast<std::size_t>(n);
    }
    if (writes)
        *writes = calls;
    return taken;
}

void Instance::streamAsFile(StreamRecord& stream, const char* fileName)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!streamUsable(stream, "NPP_StreamAsFile") || !FakeBrowser::callable(funcs.asfile))
        return;
    funcs.asfile(&m_npp, stream.stream(), fileName);
}

NPError Instance::destroyStream(StreamRecord& stream, NPReason reason)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!streamUsable(stream, "NPP_DestroyStream") || !FakeBrowser::callable(funcs.destroystream))
        return NPERR_INVALID_INSTANCE_ERROR;
    // Gone for the browser from here on, also for calls the plugin makes
    // from inside NPP_DestroyStream.
    stream.setDestroyed();
    return funcs.destroystream(&m_npp, stream.stream(), reason);
}

void Instance::urlNotify(const std::string& url, NPReason reason, void* notifyData)
{
    NPPluginFuncs& funcs = m_browser.pluginFuncs();
    if (!usable() || !FakeBrowser::callable(funcs.urlnotify))
        return;
    funcs.urlnotify(&m_npp, url.c_str(), reason, notifyData);
}

StreamRecord* Instance::findStream(NPStream* stream)
{
    for (const auto& record : m_streams)
        if (record->stream() == stream)
            return record.get();
    return nullptr;
}

} // namespace fakebrowser
