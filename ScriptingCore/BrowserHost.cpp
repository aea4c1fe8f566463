#include "BrowserHost.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include <boost/algorithm/string/replace.hpp>
#include <boost/cstdint.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>

#include "AsyncCallManager.h"
#include "BrowserStream.h"
#include "BrowserStreamManager.h"
#include "BrowserStreamRequest.h"
#include "DOM/Document.h"
#include "DOM/Element.h"
#include "DOM/Node.h"
#include "DOM/Window.h"
#include "JSAPI.h"
#include "JSObject.h"
#include "NamingHosts.h"
#include "SimpleStreamHelper.h"
#include "SystemProxyDetector.h"
#include "URI.h"
#include "bad_variant_cast.h"
#include "logging.h"
#include "script_error.h"
#include "utf8_tools.h"
#include "variant.h"

namespace FB {

namespace {

const char kDelayedCallPrefix[] = "__FB_CALL_";

// The size of the table of objects to notify at which gone ones are first
// swept out.
const std::size_t kFirstNoticeSweep = 64;

// An object named for the notice, by address, as the table holds it.
typedef std::pair<const JSAPI*, JSAPIWeakPtr> NamedObject;

// The page helper: with three arguments it calls f itself, with four f's
// member fname with f as its object, from the page's timer queue.
const char kDelayedCallScript[] =
    "window.__FB_CALL_%1% = function(delay, f, args, fname) {"
    "   if (arguments.length == 3)"
    "       return setTimeout(function() { f.apply(null, args); }, delay);"
    "   else"
    "       return setTimeout(function() { f[fname].apply(f, args); }, delay);"
    "};";

// One page-logging request on its way to the main thread.
struct HtmlLogRequest {
    HtmlLogRequest(const BrowserHostPtr& host, const std::string& message)
        : host(host), message(message) {}

    BrowserHostPtr host;
    std::string message;
};

// A notice that fails is logged; the shutdown goes on.
void sendShutdownNotice(JSAPI& object)
{
    try {
        object.shutdown();
    } catch (const std::exception& e) {
        FBLOG_ERROR("BrowserHost", "Shutdown of a scriptable object failed: " << e.what());
    } catch (...) {
        FBLOG_ERROR("BrowserHost", "Shutdown of a scriptable object failed");
    }
}

} // namespace

BrowserHost::BrowserHost()
    : m_asyncManager(boost::make_shared<AsyncCallManager>()),
      m_mainThread(pthread_self()),
      m_isShutDown(false),
      m_retainCount(0),
      m_notifiedSweepAt(kFirstNoticeSweep),
      m_noticesSent(false),
      m_streamManager(boost::make_shared<BrowserStreamManager>()),
      m_htmlLogEnabled(true)
{
}

BrowserHost::~BrowserHost()
{
    // Gone without shutting down: no notice, and this host names nothing
    // any more. After shutdown the table is empty.
    m_notified.forEach(
        [](const JSAPI* address, const JSAPIWeakPtr& object) { NamingHosts::withdraw(address, object); });
}

void BrowserHost::Navigate(const std::string&, const std::string&) {}

void BrowserHost::evaluateJavaScript(const std::wstring& script)
{
    evaluateJavaScript(wideToUtf8(script));
}

bool BrowserHost::isMainThread() const
{
    return pthread_equal(pthread_self(), m_mainThread) != 0;
}

void BrowserHost::assertMainThread() const {}

bool BrowserHost::isShutDown() const
{
    return m_isShutDown.load();
}

bool BrowserHost::scheduleAsyncCall(void (*func)(void*), void* userData)
{
    if (isShutDown())
        return false;
    AsyncCallRecord* record = m_asyncManager->makeCallRecord(func, userData);
    if (!record)
        return false;
    bool accepted = false;
    try {
        accepted = _scheduleAsyncCall(&AsyncCallManager::browserCallback, record);
    } catch (...) {
        if (m_asyncManager->dropCallRecord(record))
            throw;
        return true;
    }
    if (accepted)
        return true;
    // Shutdown may have run the call between registering and the refusal; it
    // then owns and has freed its data, and the caller must not free it again.
    return !m_asyncManager->dropCallRecord(record);
}

void BrowserHost::shutdown()
{
    // Objects may retain or release others while they shut down: notify a
    // snapshot.
    std::vector<JSAPIPtr> notified(takeObjectsToNotify());
    for (const JSAPIPtr& object : notified)
        sendShutdownNotice(*object);
    notified.clear();

    releaseAllJSAPI();

    boost::upgrade_lock<boost::shared_mutex> xtLock(m_xtmutex);
    m_isShutDown = true;
    m_asyncManager->shutdown();
    // After the pending calls, which may still open streams: every stream
    // is closed here and reports its end to its sinks.
    m_streamManager.reset();
}

BrowserStreamPtr BrowserHost::createStream(const BrowserStreamRequest& request,
                                           bool enableAsync) const
{
    assertMainThread();
    if (!m_streamManager)
        return BrowserStreamPtr();
    if (enableAsync && request.callback && !request.sink) {
        const SimpleStreamHelperPtr helper(SimpleStreamHelper::asyncRequest(shared_from_this(), request));
        return helper ? helper->getStream() : BrowserStreamPtr();
    }
    const BrowserStreamPtr stream(_createStream(request));
    if (stream)
        m_streamManager->retainStream(stream);
    return stream;
}

BrowserStreamPtr BrowserHost::createGetStream(const std::string& url,
                                              const boost::shared_ptr<PluginEventSink>& sink,
                                              bool cache, bool seekable, size_t internalBufferSize)
{
    BrowserStreamRequest request(URI::fromString(url), "GET", true);
    request.sink = sink;
    request.cache = cache;
    request.seekable = seekable;
    request.internalBufferSize = internalBufferSize;
    return createStream(request, true);
}

BrowserStreamPtr BrowserHost::createPostStream(const std::string& url,
                                               const boost::shared_ptr<PluginEventSink>& sink,
                                               const std::string& postData, bool cache,
                                               bool seekable, size_t internalBufferSize)
{
    BrowserStreamRequest request(URI::fromString(url), "POST", true);
    request.sink = sink;
    request.cache = cache;
    request.seekable = seekable;
    request.internalBufferSize = internalBufferSize;
    request.postData = postData;
    return createStream(request, true);
}

BrowserStreamPtr BrowserHost::createUnsolicitedStream(const BrowserStreamRequest& request)
{
    assertMainThread();
    if (!m_streamManager)
        return BrowserStreamPtr();
    const BrowserStreamPtr stream(_createUnsolicitedStream(request));
    if (stream)
        m_streamManager->retainStream(stream);
    return stream;
}

bool BrowserHost::DetectProxySettings(std::map<std::string, std::string>& settings,
                                      const std::string& url)
{
    return SystemProxyDetector::instance()->detectProxy(settings, url);
}

void BrowserHost::retainJSAPI(const JSAPIPtr& object)
{
    boost::recursive_mutex::scoped_lock lock(m_jsapimutex);
    if (m_retained.find(object.get()))
        return;
    m_retained.assign(object.get(), RetainedObject{object, ++m_retainCount});
}

void BrowserHost::releaseJSAPI(const JSAPIPtr& object)
{
    releaseRetained(object.get(), NULL);
}

void BrowserHost::releaseJSAPI(const JSAPI* address, const JSAPIWeakPtr& object)
{
    releaseRetained(address, &object);
}

void BrowserHost::releaseRetained(const JSAPI* address, const JSAPIWeakPtr* only)
{
    boost::recursive_mutex::scoped_lock lock(m_jsapimutex);
    {
        // The object's release may reach back here; it happens after the
        // entry is gone.
        RetainedObject released;
        const RetainedObject* const entry = m_retained.find(address);
        if (entry && (!only || sameOwner(entry->object, *only)))
            m_retained.erase(address, &released);
    }
    if (isMainThread())
        releaseDeferredObjects();
}

void BrowserHost::releaseAllJSAPI()
{
    boost::recursive_mutex::scoped_lock lock(m_jsapimutex);
    {
        // Released from a snapshot: an object's release may call back into
        // retainJSAPI or releaseJSAPI. One at a time, in the order of first
        // retention: a release may release browser objects in turn.
        std::vector<RetainedObject> released(m_retained.takeAll());
        inRetentionOrder(released);
        for (RetainedObject& entry : released)
            entry.object.reset();
    }
    releaseDeferredObjects();
}

void BrowserHost::notifyAtShutdown(const JSAPIPtr& object)
{
    if (!object)
        return;
    {
        boost::recursive_mutex::scoped_lock lock(m_jsapimutex);
        if (!m_noticesSent) {
            const JSAPIWeakPtr* const known = m_notified.find(object.get());
            if (known && sameOwner(*known, object))
                return;
            // A gone object at this address.
            if (known)
                NamingHosts::withdraw(object.get(), *known);
            if (m_notified.size() >= m_notifiedSweepAt) {
                std::vector<NamedObject> gone;
                m_notified.forEach([&gone](const JSAPI* address, const JSAPIWeakPtr& entry) {
                    if (entry.expired())
                        gone.emplace_back(address, entry);
                });
                for (const NamedObject& entry : gone) {
                    NamingHosts::withdraw(entry.first, entry.second);
                    m_notified.erase(entry.first);
                }
                m_notifiedSweepAt = std::max(kFirstNoticeSweep, 2 * m_notified.size());
            }
            m_notified.assign(object.get(), object);
            NamingHosts::add(object);
            return;
        }
        // Named and ended at once: a live host that names it keeps it from
        // the notice.
        if (NamingHosts::isNamed(object))
            return;
    }
    sendShutdownNotice(*object);
}

std::vector<JSAPIPtr> BrowserHost::takeObjectsToNotify()
{
    boost::recursive_mutex::scoped_lock lock(m_jsapimutex);
    m_noticesSent = true;
    std::vector<RetainedObject> retained;
    retained.reserve(m_retained.size());
    m_retained.forEach(
        [&retained](const JSAPI*, const RetainedObject& entry) { retained.push_back(entry); });
    inRetentionOrder(retained);
    // This host names nothing from here on: an object it named hears the
    // notice only when no other live host names it still (the page of a
    // living instance may have stored values on it).
    std::vector<JSAPIPtr> objects;
    objects.reserve(retained.size() + m_notified.size());
    for (const RetainedObject& entry : retained) {
        const JSAPI* const address = entry.object.get();
        const JSAPIWeakPtr* const named = m_notified.find(address);
        if (named && sameOwner(*named, entry.object)) {
            const bool last = NamingHosts::withdraw(address, *named);
            m_notified.erase(address);
            if (!last)
                continue;
        }
        objects.push_back(entry.object);
    }
    // The others after the retained ones, each once.
    std::vector<NamedObject> others;
    others.reserve(m_notified.size());
    m_notified.forEach([&others](const JSAPI* address, const JSAPIWeakPtr& object) {
        others.emplace_back(address, object);
    });
    m_notified.takeAll();
    for (const NamedObject& entry : others) {
        const bool last = NamingHosts::withdraw(entry.first, entry.second);
        const JSAPIPtr object(entry.second.lock());
        if (object && last)
            objects.push_back(object);
    }
    return objects;
}

void BrowserHost::inRetentionOrder(std::vector<RetainedObject>& objects)
{
    std::sort(objects.begin(), objects.end(),
              [](const RetainedObject& a, const RetainedObject& b) { return a.order < b.order; });
}

void BrowserHost::installDelayedCallFunction(const void* seed)
{
    assertMainThread();
    const boost::uint64_t p = reinterpret_cast<boost::uintptr_t>(seed);
    const std::string id = boost::lexical_cast<std::string>(p + (p >> 3));
    m_unique_key = id;
    m_call_delegate = kDelayedCallPrefix + id;
    evaluateJavaScript(boost::algorithm::replace_all_copy(std::string(kDelayedCallScript), "%1%", id));
}

JSObjectPtr BrowserHost::getDelayedCallFunction()
{
    const DOM::WindowPtr window(getDOMWindow());
    if (!window)
        return JSObjectPtr();
    if (m_call_delegate.empty())
        installDelayedCallFunction(this);

    JSObjectPtr helper;
    try {
        helper = window->getJSObject()->getProperty(m_call_delegate).convertToJSObject();
    } catch (const script_error&) {
        // Missing or unusable: installed again below.
    } catch (const bad_variant_cast&) {
    }
    if (!helper) {
        installDelayedCallFunction(this);
        helper = window->getProperty<JSObjectPtr>(m_call_delegate);
    }
    return helper;
}

int BrowserHost::InvokeDelayed(int delay, const JSObjectPtr& func, const VariantList& args,
                               const std::string& fname)
{
    assertMainThread();
    const JSObjectPtr helper(getDelayedCallFunction());
    if (!helper)
        return -1;
    VariantList helperArgs;
    helperArgs.push_back(variant(delay));
    helperArgs.push_back(variant(func));
    helperArgs.push_back(variant(args));
    if (!fname.empty())
        helperArgs.push_back(variant(fname));
    return helper->invoke("", helperArgs).convertToInt();
}

void BrowserHost::htmlLog(const std::string& message)
{
    FBLOG_INFO("BrowserHost", "Logging to HTML: " << message);
    if (!m_htmlLogEnabled.load())
        return;
    try {
        std::unique_ptr<HtmlLogRequest> request(new HtmlLogRequest(shared_from_this(), message));
        if (scheduleAsyncCall(&BrowserHost::AsyncHtmlLog, request.get()))
            request.release();
    } catch (const std::exception&) {
    }
}

void BrowserHost::setHtmlLogEnabled(bool enabled)
{
    m_htmlLogEnabled = enabled;
}

void BrowserHost::AsyncHtmlLog(void* data)
{
    const std::unique_ptr<HtmlLogRequest> request(static_cast<HtmlLogRequest*>(data));
    try {
        const DOM::WindowPtr window(request->host->getDOMWindow());
        if (window && window->getJSObject()->hasProperty("console")) {
            const JSObjectPtr console(window->getProperty<JSObjectPtr>("console"));
            std::printf("Logging: %s\n", request->message.c_str());
            if (console)
                console->invoke("log", makeVariantList(variant(request->message)));
        }
    } catch (const std::exception&) {
        FBLOG_INFO("BrowserHost", "Logging to browser console failed");
    }
}

DOM::WindowPtr BrowserHost::wrapWindow(const JSObjectPtr& object)
{
    return boost::make_shared<DOM::Window>(object);
}

DOM::DocumentPtr BrowserHost::wrapDocument(const JSObjectPtr& object)
{
    return boost::make_shared<DOM::Document>(object);
}

DOM::ElementPtr BrowserHost::wrapElement(const JSObjectPtr& object)
{
    return boost::make_shared<DOM::Element>(object);
}

DOM::NodePtr BrowserHost::wrapNode(const JSObjectPtr& object)
{
    return boost::make_shared<DOM::Node>(object);
}

} // namespace FB
