// FB::BrowserHost: the browser-neutral services object of one plugin
// instance.
//
// It knows the browser's main thread, carries work onto it (scheduleAsyncCall
// here; callOnMainThread and scheduleOnMainThread in CrossThreadCall.h),
// keeps the plugin's scriptable objects that the browser holds, defines and
// calls a helper function in the page for delayed page calls, logs to the
// page's console, opens browser streams (keeping them in its stream manager
// until they complete), wraps page objects as DOM wrappers, asks the system
// for proxy settings and shuts all of that down in a fixed order. The
// browser-specific operations are pure virtual and come from the browser
// binding.
// Always owned by a boost::shared_ptr (page objects hold it weakly). Any
// thread may call isMainThread, scheduleAsyncCall, htmlLog, isShutDown and
// the cross-thread operations; everything else runs on the main thread.
// Locks: the cross-thread mutex is held shared while a call is carried to the
// main thread and for upgrade by shutdown, never exclusively, so neither
// waits for the other; the recursive retained-objects mutex guards only the
// retained objects.
#ifndef FB_BROWSERHOST_H
#define FB_BROWSERHOST_H

#include <pthread.h>

#include <atomic>
#include <list>
#include <map>
#include <string>
#include <vector>

#include <boost/cstdint.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/shared_mutex.hpp>

#include "APITypes.h"
#include "AddressMap.h"
#include "DOM/DOMTypes.h"
#include "StreamTypes.h"

namespace FB {

class AsyncCallManager;
class BrowserStreamRequest;
class PluginEventSink;

class BrowserHost : public boost::enable_shared_from_this<BrowserHost>,
                    private boost::noncopyable {
public:
    // Records the calling thread as the browser's main thread.
    BrowserHost();
    // Does not shut the host down; the browser binding does that first.
    virtual ~BrowserHost();

    // The browser's identity of the instance.
    virtual const void* getContextID() const = 0;

    // Stream front, main thread; after shutdown no stream is opened (empty).
    // With enableAsync, a request that has a callback and no sink is read
    // into memory by the download helper, whose stream is answered (empty
    // when it could not be opened). Otherwise the binding opens the stream
    // (_createStream) and the stream manager keeps it until it completes.
    virtual BrowserStreamPtr createStream(const BrowserStreamRequest& request,
                                          bool enableAsync) const;
    // An accepted request for the URL, with every other field at its default,
    // through createStream with enableAsync.
    virtual BrowserStreamPtr createGetStream(const std::string& url,
                                             const boost::shared_ptr<PluginEventSink>& sink,
                                             bool cache, bool seekable,
                                             size_t internalBufferSize);
    // The same as a POST of the data, with empty post headers.
    virtual BrowserStreamPtr createPostStream(const std::string& url,
                                              const boost::shared_ptr<PluginEventSink>& sink,
                                              const std::string& postData, bool cache,
                                              bool seekable, size_t internalBufferSize);
    // Wraps a stream that the browser opened by itself and keeps it in the
    // stream manager.
    virtual BrowserStreamPtr createUnsolicitedStream(const BrowserStreamRequest& request);

    virtual DOM::DocumentPtr getDOMDocument() = 0;
    virtual DOM::WindowPtr getDOMWindow() = 0;
    // The plugin's own element in the page.
    virtual DOM::ElementPtr getDOMElement() = 0;

    // Does nothing.
    virtual void Navigate(const std::string& url, const std::string& target);

    virtual void evaluateJavaScript(const std::string& script) = 0;
    virtual void evaluateJavaScript(const std::wstring& script);

    // Defines the page helper function under a name derived from the pointer
    // value ("__FB_CALL_" and a number).
    virtual void installDelayedCallFunction(const void* seed);

    // Hands the message to the page console from the main thread, unless
    // page logging is off or the host has shut down. Never throws.
    virtual void htmlLog(const std::string& message);
    virtual void setHtmlLogEnabled(bool enabled);

    // Main thread: sends every retained object its shutdown notice, then
    // every live object named by notifyAtShutdown that is not retained
    // (an object this host named, retained or not, only when no other live
    // host names it), releases the retained ones, marks the host shut down,
    // runs every pending main-thread call at once (they see the host shut
    // down) and drops the stream manager, which closes the streams it still
    // keeps. Afterwards every hand-off to the main thread is refused.
    virtual void shutdown();

    // Releases browser objects queued for release (main thread only).
    virtual void releaseDeferredObjects() = 0;

    // The system's proxy settings for the URL ("type", "hostname", "port");
    // false, the map untouched, when no proxy applies. Any thread.
    virtual bool DetectProxySettings(std::map<std::string, std::string>& settings,
                                     const std::string& url);

    // A new wrapper of the given class over the page object.
    virtual DOM::WindowPtr wrapWindow(const JSObjectPtr& object);
    virtual DOM::DocumentPtr wrapDocument(const JSObjectPtr& object);
    virtual DOM::ElementPtr wrapElement(const JSObjectPtr& object);
    virtual DOM::NodePtr wrapNode(const JSObjectPtr& object);

    bool isMainThread() const;
    // Does nothing; marks the operations that belong on the main thread.
    void assertMainThread() const;
    bool isShutDown() const;

    // Any thread: registers the call and hands it to the browser for one run
    // on the main thread. True when the call was handed out (or, in a race
    // with shutdown, has already run); false when the host has shut down or
    // the browser refused - the caller then still owns its data.
    bool scheduleAsyncCall(void (*func)(void*), void* userData);

    // Any thread, defined in CrossThreadCall.h. callOnMainThread waits for
    // the call's result; the keep form holds the object alive for the whole
    // call. scheduleOnMainThread does not wait and keeps the object alive
    // until the call has run or been refused.
    template <class Functor>
    auto callOnMainThread(Functor func) -> decltype(func());
    template <class C, class Functor>
    auto callOnMainThread(const boost::shared_ptr<C>& keep, Functor func) -> decltype(func());
    template <class C, class Functor>
    void scheduleOnMainThread(const boost::shared_ptr<C>& keep, Functor func);

    // The scriptable objects that the browser holds, each at most once.
    void retainJSAPI(const JSAPIPtr& object);
    void releaseJSAPI(const JSAPIPtr& object);
    // The same for an object known by its address and a weak reference (a
    // browser object going away need not lock it): only the very object the
    // reference refers to is released, never another at the same address.
    void releaseJSAPI(const JSAPI* address, const JSAPIWeakPtr& object);
    void releaseAllJSAPI();
    // An object the page holds without the host retaining it (a function
    // object the page may store values on): it gets the shutdown notice at
    // this host's shutdown, and is not kept alive meanwhile. The pages of
    // several instances may reach one object: each host that names it
    // counts once, and it hears the notice from the last live one of them
    // only (NamingHosts), so what a living page stored on it stays. Named
    // once this host's notices have gone out, it hears the notice at once
    // unless another live host names it. A host destroyed without shutting
    // down sends no notice and names nothing any more.
    void notifyAtShutdown(const JSAPIPtr& object);

    // The page helper function, installed on first need; empty when the page
    // has no window.
    JSObjectPtr getDelayedCallFunction();
    // Calls func (or, with a method name, its member of that name) from the
    // page's own timer queue after delay ms; answers the timer id, or -1 when
    // the page has no window.
    int InvokeDelayed(int delay, const JSObjectPtr& func, const VariantList& args,
                      const std::string& fname);

    // The main-thread half of htmlLog; frees its request.
    static void AsyncHtmlLog(void* request);

protected:
    // Hands func with its data to the browser for one call on the main
    // thread. The base only ever passes AsyncCallManager::browserCallback.
    virtual bool _scheduleAsyncCall(void (*func)(void*), void* userData) = 0;
    // Opens a browser stream for the request, with its sink attached when it
    // has one, and sends it FB::StreamCreatedEvent; empty on failure. Main
    // thread.
    virtual BrowserStreamPtr _createStream(const BrowserStreamRequest& request) const = 0;
    // Wraps a stream that the browser opened by itself (the binding binds
    // the browser's stream to it afterwards); the request's sink is not
    // attached here. Main thread.
    virtual BrowserStreamPtr _createUnsolicitedStream(const BrowserStreamRequest& request) const = 0;

private:
    boost::shared_ptr<AsyncCallManager> m_asyncManager;
    const pthread_t m_mainThread;
    std::atomic<bool> m_isShutDown;
    boost::shared_mutex m_xtmutex;
    boost::recursive_mutex m_jsapimutex;
    // A retained object and its place in the order of first retention.
    struct RetainedObject {
        JSAPIPtr object;
        boost::uint64_t order;
    };
    // The retained objects by address: finding one takes constant time
    // whatever the page holds; shutdown restores the order from `order`.
    AddressMap<const JSAPI*, RetainedObject> m_retained;
    // Releases the entry of address; with only given, when it holds that
    // very object.
    void releaseRetained(const JSAPI* address, const JSAPIWeakPtr* only);
    // Sorts a snapshot of the table into the order of first retention.
    static void inRetentionOrder(std::vector<RetainedObject>& objects);
    boost::uint64_t m_retainCount;
    // The objects named by notifyAtShutdown, by address, each counted once
    // in NamingHosts; the gone ones are dropped (and withdrawn) whenever
    // the table has doubled since the last sweep.
    AddressMap<const JSAPI*, JSAPIWeakPtr> m_notified;
    std::size_t m_notifiedSweepAt;
    // Set when shutdown takes the objects to notify.
    bool m_noticesSent;
    // The objects that get the shutdown notice, in the order they get it;
    // from here on notifyAtShutdown notifies at once.
    std::vector<JSAPIPtr> takeObjectsToNotify();
    // Main thread only; empty from shutdown on.
    BrowserStreamManagerPtr m_streamManager;
    std::atomic<bool> m_htmlLogEnabled;
    std::string m_unique_key;
    std::string m_call_delegate;
};

} // namespace FB

#endif
