// testbed::FakeBrowserHost: a browser host without a browser, for tests of
// the host services and of everything that reaches the page through a host.
//
// Make it on the test's main thread (the host records its creator as the
// browser's main thread). Hand-offs to the main thread are queued and run by
// pump() or pumpUntil() on that thread; the hand-off mode decides what the
// "browser" does with them:
//   Deliver             - accept every hand-off and deliver it when pumped
//   Refuse              - refuse every hand-off
//   NeverDeliver        - accept every hand-off and never deliver it
//   RefuseAfterShutdown - deliver, but refuse once the host has shut down
//                         (what the NPAPI binding does; the default)
// An optional hook sees each hand-off first and may answer for the browser.
// The page has a window (FakePageWindow, which also runs evaluated scripts),
// a document and the plugin element; the window can be made missing or
// failing. Page objects made by newObject/newFunction are cleared when the
// host goes, so cycles between them do not leak.
// Streams: _createStream makes a testbed::FakeBrowserStream for each request
// (attaching the request's sink and sending the created event, as the NPAPI
// host does) unless streams are refused; the requests are recorded and the
// streams reachable (weakly: the host does not keep them alive).
// pump* run on the main thread; hand-offs and the counters are thread-safe.
#ifndef TESTBED_FAKEBROWSERHOST_H
#define TESTBED_FAKEBROWSERHOST_H

#include <atomic>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/weak_ptr.hpp>

#include "BrowserHost.h"
#include "BrowserStreamRequest.h"
#include "FakeBrowserStream.h"
#include "FakePageObject.h"
#include "FakePageWindow.h"

namespace testbed {

class FakeBrowserHost;
typedef boost::shared_ptr<FakeBrowserHost> FakeBrowserHostPtr;

class FakeBrowserHost : public FB::BrowserHost {
public:
    enum HandOffMode { Deliver, Refuse, NeverDeliver, RefuseAfterShutdown };
    enum WindowMode { WindowPresent, WindowMissing, WindowThrows };

    typedef void (*CallFunction)(void*);
    // Sees a hand-off before the mode does. Answer 1 to accept it (queued
    // unless the mode is NeverDeliver), 0 to refuse it, -1 to leave it to
    // the mode. Runs on the thread that hands off.
    typedef boost::function<int(CallFunction, void*)> HandOffHook;

    // A host with its window, document and element.
    static FakeBrowserHostPtr create();
    // The same for a subclass (made with its default constructor).
    template <class Host>
    static boost::shared_ptr<Host> createAs()
    {
        const boost::shared_ptr<Host> host(new Host());
        host->setUpPage();
        return host;
    }
    // Made directly, the host has no page and no shared owner: only for tests
    // of exactly that.
    FakeBrowserHost();
    ~FakeBrowserHost() override;

    void setHandOffMode(HandOffMode mode);
    void setHandOffHook(const HandOffHook& hook);

    // Delivers the queued hand-offs, including those queued while it runs;
    // answers how many it delivered.
    size_t pump();
    // Delivers hand-offs as they arrive until done() answers true (checked
    // after each delivery and while idle) or the timeout passes; answers
    // done()'s last answer.
    bool pumpUntil(const boost::function<bool()>& done, int timeoutMs);

    size_t queued() const;
    int handOffs() const { return m_handOffs; }
    int refusals() const { return m_refusals; }
    int deferredReleases() const { return m_deferredReleases; }

    // The page.
    FakePageObjectPtr newObject();
    FakePageObjectPtr newFunction(const FakePageObject::Method& body);
    FakePageWindowPtr window() const { return m_window; }
    FakePageObjectPtr document() const { return m_document; }
    FakePageObjectPtr element() const { return m_element; }
    void setWindowMode(WindowMode mode) { m_windowMode = mode; }
    std::vector<std::string> scripts() const;

    // Streams.
    void setRefuseStreams(bool refuse) { m_refuseStreams = refuse; }
    // Every request that reached _createStream or _createUnsolicitedStream,
    // without its sink and callback.
    std::vector<FB::BrowserStreamRequest> streamRequests() const;
    // The stream made for the n-th request (0-based), while it lives.
    FakeBrowserStreamPtr stream(size_t n) const;
    FakeBrowserStreamPtr lastStream() const;

    // FB::BrowserHost
    const void* getContextID() const override { return this; }
    FB::DOM::DocumentPtr getDOMDocument() override;
    FB::DOM::WindowPtr getDOMWindow() override;
    FB::DOM::ElementPtr getDOMElement() override;
    void evaluateJavaScript(const std::string& script) override;
    using FB::BrowserHost::evaluateJavaScript;
    void releaseDeferredObjects() override;

protected:
    bool _scheduleAsyncCall(CallFunction func, void* userData) override;
    FB::BrowserStreamPtr _createStream(const FB::BrowserStreamRequest& request) const override;
    FB::BrowserStreamPtr _createUnsolicitedStream(
        const FB::BrowserStreamRequest& request) const override;

private:
    typedef std::pair<CallFunction, void*> HandOff;

    void setUpPage();
    FakeBrowserStreamPtr makeStream(const FB::BrowserStreamRequest& request, bool cache) const;

    bool takeOne(HandOff& out);

    mutable boost::mutex m_queueMutex;
    boost::condition_variable m_queueCond;
    std::deque<HandOff> m_queue;
    HandOffMode m_mode;
    HandOffHook m_hook;
    std::atomic<int> m_handOffs;
    std::atomic<int> m_refusals;
    std::atomic<int> m_deferredReleases;

    mutable boost::mutex m_objectsMutex;
    std::vector<boost::weak_ptr<FakePageObject> > m_objects;
    FakePageWindowPtr m_window;
    FakePageObjectPtr m_document;
    FakePageObjectPtr m_element;
    std::atomic<WindowMode> m_windowMode;

    std::atomic<bool> m_refuseStreams;
    mutable boost::mutex m_streamsMutex;
    mutable std::vector<FB::BrowserStreamRequest> m_streamRequests;
    // Empty where the stream was refused.
    mutable std::vector<boost::weak_ptr<FakeBrowserStream> > m_streams;
};

} // namespace testbed

#endif
