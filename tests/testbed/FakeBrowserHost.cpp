#include "FakeBrowserHost.h"

#include <stdexcept>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/make_shared.hpp>

#include "DOM/Document.h"
#include "DOM/Element.h"
#include "DOM/Window.h"
#include "PluginEvents/StreamEvents.h"

namespace testbed {

FakeBrowserHostPtr FakeBrowserHost::create()
{
    return createAs<FakeBrowserHost>();
}

void FakeBrowserHost::setUpPage()
{
    m_window = boost::make_shared<FakePageWindow>(shared_from_this());
    {
        boost::mutex::scoped_lock lock(m_objectsMutex);
        m_objects.push_back(m_window);
    }
    m_document = newObject();
    m_element = newObject();
    m_window->set("document", FB::variant(FB::JSObjectPtr(m_document)));
}

FakeBrowserHost::FakeBrowserHost()
    : m_mode(RefuseAfterShutdown), m_handOffs(0), m_refusals(0), m_deferredReleases(0),
      m_windowMode(WindowPresent), m_refuseStreams(false)
{
}

FakeBrowserHost::~FakeBrowserHost()
{
    std::vector<boost::weak_ptr<FakePageObject> > objects;
    {
        boost::mutex::scoped_lock lock(m_objectsMutex);
        objects.swap(m_objects);
    }
    for (size_t i = 0; i < objects.size(); ++i) {
        if (const FakePageObjectPtr object = objects[i].lock())
            object->clear();
    }
}

void FakeBrowserHost::setHandOffMode(HandOffMode mode)
{
    boost::mutex::scoped_lock lock(m_queueMutex);
    m_mode = mode;
}

void FakeBrowserHost::setHandOffHook(const HandOffHook& hook)
{
    boost::mutex::scoped_lock lock(m_queueMutex);
    m_hook = hook;
}

bool FakeBrowserHost::_scheduleAsyncCall(CallFunction func, void* userData)
{
    ++m_handOffs;
    HandOffHook hook;
    HandOffMode mode;
    {
        boost::mutex::scoped_lock lock(m_queueMutex);
        hook = m_hook;
        mode = m_mode;
    }
    int answer = hook ? hook(func, userData) : -1;
    if (answer < 0) {
        switch (mode) {
        case Deliver:
        case NeverDeliver:
            answer = 1;
            break;
        case Refuse:
            answer = 0;
            break;
        case RefuseAfterShutdown:
            answer = isShutDown() ? 0 : 1;
            break;
        }
    }
    if (answer == 0) {
        ++m_refusals;
        return false;
    }
    if (mode != NeverDeliver) {
        boost::mutex::scoped_lock lock(m_queueMutex);
        m_queue.push_back(HandOff(func, userData));
    }
    m_queueCond.notify_all();
    return true;
}

bool FakeBrowserHost::takeOne(HandOff& out)
{
    boost::mutex::scoped_lock lock(m_queueMutex);
    if (m_queue.empty())
        return false;
    out = m_queue.front();
    m_queue.pop_front();
    return true;
}

size_t FakeBrowserHost::pump()
{
    size_t delivered = 0;
    HandOff next;
    while (takeOne(next)) {
        next.first(next.second);
        ++delivered;
    }
    return delivered;
}

bool FakeBrowserHost::pumpUntil(const boost::function<bool()>& done, int timeoutMs)
{
    typedef boost::posix_time::microsec_clock Clock;
    const boost::posix_time::ptime deadline = Clock::universal_time() +
                                              boost::posix_time::milliseconds(timeoutMs);
    for (;;) {
        pump();
        if (done())
            return true;
        if (Clock::universal_time() >= deadline)
            return false;
        // done() may turn true without a hand-off: look again soon.
        boost::mutex::scoped_lock lock(m_queueMutex);
        if (m_queue.empty())
            m_queueCond.timed_wait(lock, boost::posix_time::milliseconds(2));
    }
}

size_t FakeBrowserHost::queued() const
{
    boost::mutex::scoped_lock lock(m_queueMutex);
    return m_queue.size();
}

FakePageObjectPtr FakeBrowserHost::newObject()
{
    const FakePageObjectPtr object(boost::make_shared<FakePageObject>(shared_from_this()));
    boost::mutex::scoped_lock lock(m_objectsMutex);
    m_objects.push_back(object);
    return object;
}

FakePageObjectPtr FakeBrowserHost::newFunction(const FakePageObject::Method& body)
{
    const FakePageObjectPtr function(newObject());
    function->method("", body);
    return function;
}

std::vector<std::string> FakeBrowserHost::scripts() const
{
    return m_window ? m_window->scripts() : std::vector<std::string>();
}

FB::DOM::DocumentPtr FakeBrowserHost::getDOMDocument()
{
    return wrapDocument(m_document);
}

FB::DOM::WindowPtr FakeBrowserHost::getDOMWindow()
{
    switch (m_windowMode.load()) {
    case WindowMissing:
        return FB::DOM::WindowPtr();
    case WindowThrows:
        throw std::runtime_error("no window");
    case WindowPresent:
        break;
    }
    return wrapWindow(m_window);
}

FB::DOM::ElementPtr FakeBrowserHost::getDOMElement()
{
    return wrapElement(m_element);
}

void FakeBrowserHost::evaluateJavaScript(const std::string& script)
{
    m_window->evaluate(script);
}

void FakeBrowserHost::releaseDeferredObjects()
{
    ++m_deferredReleases;
}

FakeBrowserStreamPtr FakeBrowserHost::makeStream(const FB::BrowserStreamRequest& request,
                                                bool cache) const
{
    FakeBrowserStreamPtr stream;
    if (!m_refuseStreams) {
        stream = boost::make_shared<FakeBrowserStream>(request.uri.toString(true), cache,
                                                       request.seekable,
                                                       request.internalBufferSize);
    }
    // Recorded without sink and callback, which the record must not keep.
    FB::BrowserStreamRequest recorded(request);
    recorded.sink.reset();
    recorded.callback.clear();
    boost::mutex::scoped_lock lock(m_streamsMutex);
    m_streamRequests.push_back(recorded);
    m_streams.push_back(stream);
    return stream;
}

FB::BrowserStreamPtr FakeBrowserHost::_createStream(const FB::BrowserStreamRequest& request) const
{
    const FakeBrowserStreamPtr stream(makeStream(request, request.cache));
    if (!stream)
        return stream;
    if (request.sink)
        stream->AttachObserver(request.sink);
    FB::StreamCreatedEvent evt(stream.get());
    stream->SendEvent(&evt);
    return stream;
}

FB::BrowserStreamPtr FakeBrowserHost::_createUnsolicitedStream(
    const FB::BrowserStreamRequest& request) const
{
    const FakeBrowserStreamPtr stream(makeStream(request, false));
    if (!stream)
        return stream;
    FB::StreamCreatedEvent evt(stream.get());
    stream->SendEvent(&evt);
    return stream;
}

std::vector<FB::BrowserStreamRequest> FakeBrowserHost::streamRequests() const
{
    boost::mutex::scoped_lock lock(m_streamsMutex);
    return m_streamRequests;
}

FakeBrowserStreamPtr FakeBrowserHost::stream(size_t n) const
{
    boost::mutex::scoped_lock lock(m_streamsMutex);
    return n < m_streams.size() ? m_streams[n].lock() : FakeBrowserStreamPtr();
}

FakeBrowserStreamPtr FakeBrowserHost::lastStream() const
{
    boost::mutex::scoped_lock lock(m_streamsMutex);
    return m_streams.empty() ? FakeBrowserStreamPtr() : m_streams.back().lock();
}

} // namespace testbed
