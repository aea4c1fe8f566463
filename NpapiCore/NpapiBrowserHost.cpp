#include "NpapiBrowserHost.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

#include <boost/thread/locks.hpp>

#include "DOM/Document.h"
#include "DOM/Element.h"
#include "DOM/Window.h"
#include "NPJavascriptObject.h"
#include "NPObjectAPI.h"
#include "NpapiBrowserFuncs.h"
#include "NpapiPluginModule.h"
#include "NpapiStream.h"
#include "BrowserStreamRequest.h"
#include "PluginEvents/StreamEvents.h"
#include "URI.h"
#include "logging.h"
#include "NpapiVariantGuard.h"
#include "script_error.h"
#include "variant.h"

namespace FB {
namespace Npapi {

namespace {

const char kNoWindow[] = "Cannot find HTML window";
const char kNoDocument[] = "Cannot find HTML document";

// A stream that takes 0 bytes per delivery would never receive any: 0 means
// the default block, as it does for the download helper.
size_t bufferSizeOf(const BrowserStreamRequest& request)
{
    return request.internalBufferSize ? request.internalBufferSize
                                      : BrowserStreamRequest::kDefaultBufferSize;
}

} // namespace

class NpapiBrowserHost::NpapiStreamList {
public:
    void add(const NpapiStreamPtr& stream)
    {
        // Forget the streams that are gone, so the list stays short.
        streams.erase(std::remove_if(streams.begin(), streams.end(),
                                     [](const boost::weak_ptr<NpapiStream>& s) { return s.expired(); }),
                      streams.end());
        streams.push_back(stream);
    }
    std::vector<boost::weak_ptr<NpapiStream> > streams;
};

NpapiBrowserHost::NpapiBrowserHost(NpapiPluginModule* module, NPP npp)
    : m_module(module), m_npp(npp), m_streams(boost::make_shared<NpapiStreamList>())
{
    std::memset(&m_funcs, 0, sizeof(m_funcs));
}

NpapiBrowserHost::~NpapiBrowserHost()
{
    // Objects still queued go to the process-wide queue instead of leaking.
    const std::deque<NPObject*> rest(m_deferredReleases.close());
    for (NPObject* object : rest)
        NpapiPluginModule::queueOrphanRelease(object);
}

boost::shared_ptr<NPObjectAPI> NpapiBrowserHost::adoptPageObject(NPObject* object)
{
    if (!object)
        return boost::shared_ptr<NPObjectAPI>();
    // The page object holds its own reference; the browser's goes back on
    // every path.
    struct GiveBack {
        const NpapiBrowserHost* host;
        NPObject* object;
        ~GiveBack() { host->ReleaseObject(object); }
    } giveBack = {this, object};
    const NpapiBrowserHostPtr self(boost::static_pointer_cast<NpapiBrowserHost>(shared_from_this()));
    return boost::shared_ptr<NPObjectAPI>(new NPObjectAPI(object, self));
}

void NpapiBrowserHost::setBrowserFuncs(const NPNetscapeFuncs* funcs)
{
    {
        boost::unique_lock<boost::shared_mutex> lock(m_funcsGuard);
        copyBrowserFuncs(&m_funcs, funcs);
    }
    try {
        NPObject* window = NULL;
        if (GetValue(NPNVWindowNPObject, &window) == NPERR_NO_ERROR)
            m_htmlWin = adoptPageObject(window);
        NPObject* element = NULL;
        if (GetValue(NPNVPluginElementNPObject, &element) == NPERR_NO_ERROR)
            m_htmlElement = adoptPageObject(element);
    } catch (...) {
        // A page without these objects still gets its instance.
    }
    if (m_htmlWin) {
        const JSObjectPtr document(m_htmlWin->getProperty("document").cast<JSObjectPtr>());
        m_htmlDoc = boost::dynamic_pointer_cast<NPObjectAPI>(document);
    }
}

const void* NpapiBrowserHost::getContextID() const { return m_npp; }

DOM::WindowPtr NpapiBrowserHost::getDOMWindow()
{
    if (!m_htmlWin)
        throw std::runtime_error(kNoWindow);
    return wrapWindow(m_htmlWin);
}

DOM::DocumentPtr NpapiBrowserHost::getDOMDocument()
{
    if (!m_htmlDoc)
        throw std::runtime_error(kNoDocument);
    return wrapDocument(m_htmlDoc);
}

DOM::ElementPtr NpapiBrowserHost::getDOMElement()
{
    if (!m_htmlElement)
        throw std::runtime_error(kNoWindow);
    return wrapElement(m_htmlElement);
}

void NpapiBrowserHost::Navigate(const std::string& url, const std::string& target)
{
    PushPopupsEnabledState(true);
    GetURL(url.c_str(), target.c_str());
    PopPopupsEnabledState();
}

void NpapiBrowserHost::evaluateJavaScript(const std::string& script)
{
    assertMainThread();
    if (!m_htmlWin)
        throw std::runtime_error(kNoWindow);
    NpapiVariantGuard text(*this);
    getNPVariant(text.get(), variant(script));
    NpapiVariantGuard result(*this);
    if (!Evaluate(m_htmlWin->getNPObject(), &text.get()->value.stringValue, result.get()))
        throw script_error("Error executing JavaScript code");
}

void NpapiBrowserHost::shutdown()
{
    {
        boost::unique_lock<boost::shared_mutex> lock(m_funcsGuard);
        std::memset(&m_funcs, 0, sizeof(m_funcs));
    }
    FB::BrowserHost::shutdown();
    // The browser calls nothing more for this instance's streams.
    const std::vector<boost::weak_ptr<NpapiStream> > streams(m_streams->streams);
    m_streams->streams.clear();
    for (const boost::weak_ptr<NpapiStream>& weak : streams) {
        if (const NpapiStreamPtr stream = weak.lock()) {
            try {
                stream->releaseFromBrowser();
            } catch (...) {
            }
        }
    }
    m_htmlWin.reset();
    m_htmlElement.reset();
    m_htmlDoc.reset();
    // From here on releases go through the process-wide queue.
    const std::deque<NPObject*> rest(m_deferredReleases.close());
    for (NPObject* object : rest)
        NpapiPluginModule::queueOrphanRelease(object);
    NpapiPluginModule::releaseOrphans();
}

void NpapiBrowserHost::queueRelease(NPObject* object)
{
    if (!object)
        return;
    if (!m_deferredReleases.push(object))
        NpapiPluginModule::queueOrphanRelease(object);
    if (isMainThread())
        releaseDeferredObjects();
}

void NpapiBrowserHost::releaseDeferredObjects()
{
    // Releasing is the main thread's business only, whoever asks.
    if (!isMainThread())
        return;
    NPObject* object = NULL;
    while (m_deferredReleases.tryPop(object))
        ReleaseObject(object);
    NpapiPluginModule::releaseOrphans();
}

NPJavascriptObject* NpapiBrowserHost::getJSAPIWrapper(const JSAPIWeakPtr& api, bool autoRelease)
{
    if (const JSAPIPtr object = api.lock())
        return getJSAPIWrapper(object, autoRelease);
    assertMainThread();
    const NpapiBrowserHostPtr self(boost::static_pointer_cast<NpapiBrowserHost>(shared_from_this()));
    return NPJavascriptObject::newObject(self, api, false);
}

NPJavascriptObject* NpapiBrowserHost::getJSAPIWrapper(const JSAPIPtr& object, bool autoRelease)
{
    assertMainThread();
    // An entry for an earlier scriptable object at this address, now gone,
    // stands for nothing here: it is replaced below, and that browser
    // object's release then finds the entry not its own.
    NPJavascriptObject* const* cached = m_wrapperCache.find(object.get());
    if (cached && (*cached)->wraps(object)) {
        NPJavascriptObject* const wrapper = *cached;
        RetainObject(wrapper);
        return wrapper;
    }
    const NpapiBrowserHostPtr self(boost::static_pointer_cast<NpapiBrowserHost>(shared_from_this()));
    NPJavascriptObject* const wrapper = NPJavascriptObject::newObject(self, object, autoRelease);
    if (wrapper)
        m_wrapperCache.assign(object.get(), wrapper);
    return wrapper;
}

void NpapiBrowserHost::forgetJSAPIWrapper(const JSAPI* key, const NPJavascriptObject* wrapper)
{
    NPJavascriptObject* const* cached = m_wrapperCache.find(key);
    if (cached && *cached == wrapper)
        m_wrapperCache.erase(key);
}

bool NpapiBrowserHost::_scheduleAsyncCall(void (*func)(void*), void* userData)
{
    boost::shared_lock<boost::shared_mutex> lock(m_funcsGuard);
    // Without the browser's thread call nothing would ever deliver the call:
    // refuse it, so that a waiting caller fails instead of hanging.
    if (isShutDown() || !m_funcs.pluginthreadasynccall)
        return false;
    m_funcs.pluginthreadasynccall(m_npp, func, userData);
    return true;
}

BrowserStreamPtr NpapiBrowserHost::_createStream(const BrowserStreamRequest& request) const
{
    NpapiBrowserHost* const self = const_cast<NpapiBrowserHost*>(this);
    const std::string url(request.uri.toString(true));
    const NpapiStreamPtr stream(boost::make_shared<NpapiStream>(
        url, request.cache, request.seekable, bufferSizeOf(request),
        boost::static_pointer_cast<NpapiBrowserHost>(self->shared_from_this())));
    if (request.sink)
        stream->AttachObserver(request.sink);

    NPError answer;
    if (request.method == "GET") {
        answer = self->GetURLNotify(url.c_str(), nullptr, stream.get());
    } else {
        std::ostringstream body;
        if (!request.postHeaders.empty())
            body << request.postHeaders;
        else
            body << "Content-type: application/x-www-form-urlencoded\n"
                 << "Content-Length: " << request.postData.size();
        body << "\n\n" << request.postData;
        const std::string text(body.str());
        answer = self->PostURLNotify(url.c_str(), nullptr, static_cast<uint32_t>(text.size()),
                                     text.data(), false, stream.get());
    }
    if (answer != NPERR_NO_ERROR) {
        // Refused: no completion will ever come from the browser.
        stream->close();
        return BrowserStreamPtr();
    }
    stream->setCreated();
    self->m_streams->add(stream);
    StreamCreatedEvent created(stream.get());
    stream->SendEvent(&created);
    return stream;
}

BrowserStreamPtr NpapiBrowserHost::_createUnsolicitedStream(const BrowserStreamRequest& request) const
{
    NpapiBrowserHost* const self = const_cast<NpapiBrowserHost*>(this);
    const std::string url(request.uri.toString(true));
    FBLOG_INFO("NpapiBrowserStream", "Creating an unsolicited stream with url: " << url);
    const NpapiStreamPtr stream(boost::make_shared<NpapiStream>(
        url, false, request.seekable, bufferSizeOf(request),
        boost::static_pointer_cast<NpapiBrowserHost>(self->shared_from_this())));
    stream->setCreated();
    // No URL notification comes for a stream the browser opened.
    stream->setNotified();
    self->m_streams->add(stream);
    StreamCreatedEvent created(stream.get());
    stream->SendEvent(&created);
    return stream;
}

bool NpapiBrowserHost::DetectProxySettings(std::map<std::string, std::string>& settings,
                                           const std::string& url)
{
    char* text = nullptr;
    uint32_t length = 0;
    const NPError answer = GetValueForURL(NPNURLVProxy, url.c_str(), &text, &length);
    if (answer == NPERR_INCOMPATIBLE_VERSION_ERROR)
        return FB::BrowserHost::DetectProxySettings(settings, url);
    if (answer != NPERR_NO_ERROR)
        return false;
    std::string proxy;
    try {
        if (text)
            proxy.assign(text, length);
    } catch (...) {
        MemFree(text);
        throw;
    }
    MemFree(text);
    if (proxy == "DIRECT")
        return false;

    std::vector<std::string> parts;
    boost::algorithm::split(parts, proxy, boost::algorithm::is_any_of(" "));
    std::vector<std::string> hostPort;
    if (parts.size() >= 2)
        boost::algorithm::split(hostPort, parts[1], boost::algorithm::is_any_of(":"));
    // Only "TYPE host:port" tells where the proxy is; anything shorter is
    // no answer, and no missing part is read.
    if (hostPort.size() < 2)
        return false;
    std::string type(parts[0]);
    if (type == "PROXY") {
        // The type is the asked address's scheme; an address that does not
        // parse (a port that is no number) has none, and gets no answer.
        try {
            type = URI::fromString(url).protocol;
        } catch (const std::exception&) {
            return false;
        }
    } else if (type == "SOCKS") {
        type = "socks";
    }
    std::map<std::string, std::string> found;
    found["type"] = type;
    found["hostname"] = hostPort[0];
    found["port"] = hostPort[1];
    settings.swap(found);
    return true;
}

bool NpapiBrowserHost::userAgentContains(const char* text)
{
    const char* const agent = UserAgent();
    return agent && std::strstr(agent, text);
}

bool NpapiBrowserHost::isChrome() { return userAgentContains("Chrome"); }
bool NpapiBrowserHost::isFirefox() { return userAgentContains("Firefox"); }
bool NpapiBrowserHost::isSafari() { return userAgentContains("Safari") && !isChrome(); }

// ---- browser functions over the host's table ----

void NpapiBrowserHost::PluginThreadAsyncCall(void (*func)(void*), void* userData)
{
    boost::shared_lock<boost::shared_mutex> lock(m_funcsGuard);
    if (m_funcs.pluginthreadasynccall)
        m_funcs.pluginthreadasynccall(m_npp, func, userData);
}

uint32_t NpapiBrowserHost::ScheduleTimer(uint32_t interval, NPBool repeat,
                                         NPN_TimerFuncPtr timerFunc)
{
    return m_funcs.scheduletimer ? m_funcs.scheduletimer(m_npp, interval, repeat, timerFunc) : 0;
}

void NpapiBrowserHost::UnscheduleTimer(uint32_t timerID)
{
    if (m_funcs.unscheduletimer)
        m_funcs.unscheduletimer(m_npp, timerID);
}

NPError NpapiBrowserHost::GetValueForURL(NPNURLVariable variable, const char* url, char** value,
                                         uint32_t* len)
{
    return m_funcs.getvalueforurl ? m_funcs.getvalueforurl(m_npp, variable, url, value, len)
                                  : NPError(NPERR_INCOMPATIBLE_VERSION_ERROR);
}

NPError NpapiBrowserHost::SetValueForURL(NPNURLVariable variable, const char* url,
                                         const char* value, uint32_t len)
{
    return m_funcs.setvalueforurl ? m_funcs.setvalueforurl(m_npp, variable, url, value, len)
                                  : NPError(NPERR_INCOMPATIBLE_VERSION_ERROR);
}

NPError NpapiBrowserHost::GetAuthenticationInfo(const char* protocol, const char* host,
                                                int32_t port, const char* scheme,
                                                const char* realm, char** username,
                                                uint32_t* ulen, char** password, uint32_t* plen)
{
    return m_funcs.getauthenticationinfo
               ? m_funcs.getauthenticationinfo(m_npp, protocol, host, port, scheme, realm,
                                               username, ulen, password, plen)
               : NPError(NPERR_INCOMPATIBLE_VERSION_ERROR);
}

void NpapiBrowserHost::SetException(NPObject* object, const NPUTF8* message)
{
    assertMainThread();
    if (m_funcs.setexception)
        m_funcs.setexception(object, message);
}

bool NpapiBrowserHost::Construct(NPObject* object, const NPVariant* args, uint32_t count,
                                 NPVariant* result)
{
    assertMainThread();
    return m_funcs.construct && m_funcs.construct(m_npp, object, args, count, result);
}

bool NpapiBrowserHost::Enumerate(NPObject* object, NPIdentifier** ids, uint32_t* count)
{
    assertMainThread();
    return m_funcs.enumerate && m_funcs.enumerate(m_npp, object, ids, count);
}

bool NpapiBrowserHost::HasMethod(NPObject* object, NPIdentifier name)
{
    assertMainThread();
    return m_funcs.hasmethod && m_funcs.hasmethod(m_npp, object, name);
}

bool NpapiBrowserHost::HasProperty(NPObject* object, NPIdentifier name)
{
    assertMainThread();
    return m_funcs.hasproperty && m_funcs.hasproperty(m_npp, object, name);
}

bool NpapiBrowserHost::RemoveProperty(NPObject* object, NPIdentifier name)
{
    assertMainThread();
    return m_funcs.removeproperty && m_funcs.removeproperty(m_npp, object, name);
}

bool NpapiBrowserHost::SetProperty(NPObject* object, NPIdentifier name, const NPVariant* value)
{
    assertMainThread();
    return m_funcs.setproperty && m_funcs.setproperty(m_npp, object, name, value);
}

bool NpapiBrowserHost::GetProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    assertMainThread();
    return m_funcs.getproperty && m_funcs.getproperty(m_npp, object, name, result);
}

bool NpapiBrowserHost::Evaluate(NPObject* object, NPString* script, NPVariant* result)
{
    assertMainThread();
    return m_funcs.evaluate && m_funcs.evaluate(m_npp, object, script, result);
}

bool NpapiBrowserHost::InvokeDefault(NPObject* object, const NPVariant* args, uint32_t count,
                                     NPVariant* result)
{
    assertMainThread();
    return m_funcs.invokeDefault && m_funcs.invokeDefault(m_npp, object, args, count, result);
}

bool NpapiBrowserHost::Invoke(NPObject* object, NPIdentifier name, const NPVariant* args,
                              uint32_t count, NPVariant* result)
{
    assertMainThread();
    return m_funcs.invoke && m_funcs.invoke(m_npp, object, name, args, count, result);
}

NPObject* NpapiBrowserHost::CreateObject(NPClass* aClass)
{
    assertMainThread();
    return m_funcs.createobject ? m_funcs.createobject(m_npp, aClass) : NULL;
}

void NpapiBrowserHost::PushPopupsEnabledState(NPBool enabled)
{
    assertMainThread();
    if (m_funcs.pushpopupsenabledstate)
        m_funcs.pushpopupsenabledstate(m_npp, enabled);
}

void NpapiBrowserHost::PopPopupsEnabledState()
{
    assertMainThread();
    if (m_funcs.poppopupsenabledstate)
        m_funcs.poppopupsenabledstate(m_npp);
}

void NpapiBrowserHost::InvalidateRegion(NPRegion region)
{
    assertMainThread();
    if (m_funcs.invalidateregion)
        m_funcs.invalidateregion(m_npp, region);
}

void NpapiBrowserHost::InvalidateRect(NPRect* rect)
{
    assertMainThread();
    if (m_funcs.invalidaterect)
        m_funcs.invalidaterect(m_npp, rect);
}

void NpapiBrowserHost::InvalidateRect(const NPRect& rect)
{
    NPRect copy = rect;
    InvalidateRect(&copy);
}

void NpapiBrowserHost::ForceRedraw()
{
    assertMainThread();
    if (m_funcs.forceredraw)
        m_funcs.forceredraw(m_npp);
}

NPError NpapiBrowserHost::SetValue(NPPVariable variable, void* value)
{
    assertMainThread();
    return m_funcs.setvalue ? m_funcs.setvalue(m_npp, variable, value)
                            : NPError(NPERR_GENERIC_ERROR);
}

NPError NpapiBrowserHost::GetValue(NPNVariable variable, void* value)
{
    assertMainThread();
    return m_funcs.getvalue ? m_funcs.getvalue(m_npp, variable, value)
                            : NPError(NPERR_GENERIC_ERROR);
}

const char* NpapiBrowserHost::UserAgent()
{
    assertMainThread();
    return m_funcs.uagent ? m_funcs.uagent(m_npp) : NULL;
}

void NpapiBrowserHost::Status(const char* message)
{
    assertMainThread();
    if (m_funcs.status)
        m_funcs.status(m_npp, message);
}

NPError NpapiBrowserHost::DestroyStream(NPStream* stream, NPReason reason)
{
    assertMainThread();
    return m_funcs.destroystream ? m_funcs.destroystream(m_npp, stream, reason)
                                 : NPError(NPERR_GENERIC_ERROR);
}

int32_t NpapiBrowserHost::Write(NPStream* stream, int32_t len, void* buffer)
{
    assertMainThread();
    return m_funcs.write ? m_funcs.write(m_npp, stream, len, buffer) : 0;
}

NPError NpapiBrowserHost::NewStream(NPMIMEType type, const char* target, NPStream** stream)
{
    assertMainThread();
    return m_funcs.newstream ? m_funcs.newstream(m_npp, type, target, stream)
                             : NPError(NPERR_GENERIC_ERROR);
}

NPError NpapiBrowserHost::RequestRead(NPStream* stream, NPByteRange* rangeList)
{
    assertMainThread();
    return m_funcs.requestread ? m_funcs.requestread(stream, rangeList)
                               : NPError(NPERR_GENERIC_ERROR);
}

NPError NpapiBrowserHost::PostURL(const char* url, const char* target, uint32_t len,
                                  const char* buf, NPBool file)
{
    assertMainThread();
    return m_funcs.posturl ? m_funcs.posturl(m_npp, url, target, len, buf, file)
                           : NPError(NPERR_GENERIC_ERROR);
}

NPError NpapiBrowserHost::PostURLNotify(const char* url, const char* target, uint32_t len,
                                        const char* buf, NPBool file, void* notifyData)
{
    assertMainThread();
    return m_funcs.posturlnotify
               ? m_funcs.posturlnotify(m_npp, url, target, len, buf, file, notifyData)
               : NPError(NPERR_GENERIC_ERROR);
}

NPError NpapiBrowserHost::GetURL(const char* url, const char* target)
{
    assertMainThread();
    return m_funcs.geturl ? m_funcs.geturl(m_npp, url, target) : NPError(NPERR_GENERIC_ERROR);
}

NPError NpapiBrowserHost::GetURLNotify(const char* url, const char* target, void* notifyData)
{
    assertMainThread();
    return m_funcs.geturlnotify ? m_funcs.geturlnotify(m_npp, url, target, notifyData)
                                : NPError(NPERR_GENERIC_ERROR);
}

// ---- through the module ----

void* NpapiBrowserHost::MemAlloc(uint32_t size) const { return m_module->MemAlloc(size); }
void NpapiBrowserHost::MemFree(void* ptr) const { m_module->MemFree(ptr); }
uint32_t NpapiBrowserHost::MemFlush(uint32_t size) const { return m_module->MemFlush(size); }

void NpapiBrowserHost::ReleaseVariantValue(NPVariant* variant) const
{
    m_module->ReleaseVariantValue(variant);
}

NPIdentifier NpapiBrowserHost::GetStringIdentifier(const NPUTF8* name) const
{
    return m_module->GetStringIdentifier(name);
}

void NpapiBrowserHost::GetStringIdentifiers(const NPUTF8** names, int32_t count,
                                            NPIdentifier* ids) const
{
    m_module->GetStringIdentifiers(names, count, ids);
}

NPIdentifier NpapiBrowserHost::GetIntIdentifier(int32_t id) const
{
    return m_module->GetIntIdentifier(id);
}

bool NpapiBrowserHost::IdentifierIsString(NPIdentifier id) const
{
    return m_module->IdentifierIsString(id);
}

NPUTF8* NpapiBrowserHost::UTF8FromIdentifier(NPIdentifier id) const
{
    return m_module->UTF8FromIdentifier(id);
}

int32_t NpapiBrowserHost::IntFromIdentifier(NPIdentifier id) const
{
    return m_module->IntFromIdentifier(id);
}

std::string NpapiBrowserHost::StringFromIdentifier(NPIdentifier id) const
{
    return m_module->StringFromIdentifier(id);
}

const std::string& NpapiBrowserHost::identifierName(NPIdentifier id)
{
    static const std::string none;
    const std::unordered_map<NPIdentifier, std::string>::const_iterator found = m_identifierNames.find(id);
    if (found != m_identifierNames.end())
        return found->second;
    // Only a string identifier has a text.
    std::string text;
    if (!m_module->IdentifierText(id, &text))
        return none;
    return m_identifierNames.emplace(id, std::move(text)).first->second;
}

const std::string* NpapiBrowserHost::stringIdentifierName(NPIdentifier id)
{
    const std::unordered_map<NPIdentifier, std::string>::const_iterator found = m_identifierNames.find(id);
    if (found != m_identifierNames.end())
        return &found->second;
    if (!IdentifierIsString(id))
        return nullptr;
    return &identifierName(id);
}

NPObject* NpapiBrowserHost::RetainObject(NPObject* object) const
{
    return m_module->RetainObject(object);
}

void NpapiBrowserHost::ReleaseObject(NPObject* object) const { m_module->ReleaseObject(object); }

} // namespace Npapi
} // namespace FB
