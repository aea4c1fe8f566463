#include "SimpleStreamHelper.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include <boost/bind/bind.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/make_shared.hpp>
#include <boost/noncopyable.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/mutex.hpp>

#include "BrowserHost.h"
#include "BrowserStream.h"
#include "BrowserStreamRequest.h"
#include "CrossThreadCall.h"
#include "HttpHeaders.h"
#include "PluginEvents/StreamEvents.h"
#include "URI.h"
#include "logging.h"

namespace FB {

namespace {

// A waiter that is never answered still sees the host's shutdown this soon.
const boost::posix_time::milliseconds kWaitStep(10);

BrowserStreamRequest makeRequest(const URI& uri, const std::string& method, bool cache,
                                 size_t internalBufferSize)
{
    BrowserStreamRequest request(uri, method, true);
    request.cache = cache;
    request.internalBufferSize = internalBufferSize;
    return request;
}

BrowserStreamRequest makePostRequest(const URI& uri, const std::string& postData, bool cache,
                                     size_t internalBufferSize)
{
    BrowserStreamRequest request(makeRequest(uri, "POST", cache, internalBufferSize));
    request.postData = postData;
    return request;
}

} // namespace

// The waiter of one synchronous request. Its callback may come after the
// waiting thread gave up, so both own it.
class SyncHTTPHelper : private boost::noncopyable {
public:
    SyncHTTPHelper() : m_done(false) {}

    // Main thread: the final call stores the response and wakes the waiter.
    void onResponse(bool success, const HeaderMap& headers,
                    const boost::shared_array<unsigned char>& data, size_t size, float,
                    bool finished)
    {
        if (!finished)
            return;
        const HttpStreamResponsePtr response(
            boost::make_shared<HttpStreamResponse>(success, headers, data, size));
        boost::mutex::scoped_lock lock(m_mutex);
        m_response = response;
        m_done = true;
        m_cond.notify_all();
    }

    // The response, or empty once the host has shut down without one.
    HttpStreamResponsePtr wait(const SimpleStreamHelperPtr& helper, const BrowserHost& host)
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        m_helper = helper;
        while (!m_done) {
            if (host.isShutDown())
                return HttpStreamResponsePtr();
            m_cond.timed_wait(lock, kWaitStep);
        }
        return m_response;
    }

private:
    bool m_done;
    SimpleStreamHelperPtr m_helper;
    boost::condition_variable m_cond;
    boost::mutex m_mutex;
    HttpStreamResponsePtr m_response;
};

HttpStreamResponse::HttpStreamResponse(bool success, const HeaderMap& headers,
                                       const boost::shared_array<unsigned char>& data, size_t size)
    : success(success), headers(headers), data(data), size(size)
{
}

SimpleStreamHelper::SimpleStreamHelper(const HttpCallback& callback, size_t blockSize)
    : m_blockSize(blockSize ? blockSize : BrowserStreamRequest::kDefaultBufferSize),
      m_received(0), m_callback(callback)
{
}

SimpleStreamHelper::~SimpleStreamHelper() {}

void SimpleStreamHelper::setSelfReference(const SimpleStreamHelperPtr& self)
{
    m_self = self;
}

bool SimpleStreamHelper::store(const unsigned char* data, size_t length, size_t offset)
{
    const size_t end = offset + length;
    if (end < offset)
        return false;
    try {
        // Every block the chunk touches exists before any byte is copied.
        const size_t lastBlock = (end - 1) / m_blockSize;
        if (m_blocks.size() <= lastBlock)
            m_blocks.resize(lastBlock + 1);
        for (size_t i = offset / m_blockSize; i <= lastBlock; ++i) {
            if (!m_blocks[i])
                m_blocks[i].reset(new unsigned char[m_blockSize]());
        }
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    for (size_t pos = offset; pos < end;) {
        const size_t within = pos % m_blockSize;
        const size_t n = std::min(m_blockSize - within, end - pos);
        std::memcpy(m_blocks[pos / m_blockSize].get() + within, data + (pos - offset), n);
        pos += n;
    }
    m_received = std::max(m_received, end);
    return true;
}

boost::shared_array<unsigned char> SimpleStreamHelper::assembleBody() const
{
    boost::shared_array<unsigned char> body(new unsigned char[m_received]);
    for (size_t start = 0, i = 0; start < m_received; start += m_blockSize, ++i) {
        const size_t n = std::min(m_blockSize, m_received - start);
        if (i < m_blocks.size() && m_blocks[i])
            std::memcpy(body.get() + start, m_blocks[i].get(), n);
        else
            std::memset(body.get() + start, 0, n);
    }
    return body;
}

bool SimpleStreamHelper::onStreamDataArrived(StreamDataArrivedEvent* evt, BrowserStream*)
{
    if (evt->length == 0 || !evt->data)
        return false;
    if (!store(static_cast<const unsigned char*>(evt->data), evt->length, evt->offset)) {
        FBLOG_WARN("SimpleStreamHelper", "Dropped a chunk that cannot be placed at offset "
                                             << evt->offset);
        return false;
    }
    if (m_callback)
        m_callback(true, HeaderMap(), boost::shared_array<unsigned char>(), 0, evt->progress, false);
    return false;
}

bool SimpleStreamHelper::onStreamOpened(StreamOpenedEvent*, BrowserStream*)
{
    return false;
}

bool SimpleStreamHelper::onStreamCompleted(StreamCompletedEvent* evt, BrowserStream* stream)
{
    // Released last, whatever the callback does; the callback is taken out
    // first so that it is called once.
    const SimpleStreamHelperPtr self(m_self);
    m_self.reset();
    HttpCallback callback;
    callback.swap(m_callback);

    bool success = evt->success;
    if (success && !m_body) {
        try {
            m_body = assembleBody();
            m_blocks.clear();
        } catch (const std::bad_alloc&) {
            success = false;
        }
    }
    if (!callback)
        return false;
    if (success)
        callback(true, parseHttpHeaders(stream->getHeaders()), m_body, m_received, 0, true);
    else
        callback(false, HeaderMap(), boost::shared_array<unsigned char>(), m_received, 0, true);
    return false;
}

SimpleStreamHelperPtr SimpleStreamHelper::asyncRequest(const BrowserHostConstPtr& host,
                                                       const BrowserStreamRequest& request)
{
    if (!request.callback)
        throw std::runtime_error("Invalid callback");
    if (!host->isMainThread()) {
        typedef SimpleStreamHelperPtr (*Request)(const BrowserHostConstPtr&,
                                                 const BrowserStreamRequest&);
        // Carrying a call changes nothing the helper sees of the host.
        return boost::const_pointer_cast<BrowserHost>(host)->callOnMainThread(
            boost::bind(static_cast<Request>(&SimpleStreamHelper::asyncRequest), host, request));
    }
    const BrowserStreamPtr stream(host->createStream(request, false));
    if (!stream)
        return SimpleStreamHelperPtr();
    return asyncRequest(host, stream, request);
}

SimpleStreamHelperPtr SimpleStreamHelper::asyncRequest(const BrowserHostConstPtr& host,
                                                       const BrowserStreamPtr& stream,
                                                       const BrowserStreamRequest& request)
{
    if (!host->isMainThread()) {
        typedef SimpleStreamHelperPtr (*Request)(const BrowserHostConstPtr&,
                                                 const BrowserStreamPtr&,
                                                 const BrowserStreamRequest&);
        return boost::const_pointer_cast<BrowserHost>(host)->callOnMainThread(boost::bind(
            static_cast<Request>(&SimpleStreamHelper::asyncRequest), host, stream, request));
    }
    if (!stream)
        return SimpleStreamHelperPtr();
    const SimpleStreamHelperPtr helper(
        boost::make_shared<SimpleStreamHelper>(request.callback, request.internalBufferSize));
    helper->setSelfReference(helper);
    try {
        stream->AttachObserver(helper);
    } catch (...) {
        helper->setSelfReference(SimpleStreamHelperPtr());
        throw;
    }
    return helper;
}

SimpleStreamHelperPtr SimpleStreamHelper::asyncGet(const BrowserHostConstPtr& host, const URI& uri,
                                                   const HttpCallback& callback, bool cache,
                                                   size_t internalBufferSize)
{
    BrowserStreamRequest request(makeRequest(uri, "GET", cache, internalBufferSize));
    request.callback = callback;
    return asyncRequest(host, request);
}

SimpleStreamHelperPtr SimpleStreamHelper::asyncPost(const BrowserHostConstPtr& host, const URI& uri,
                                                    const std::string& postData,
                                                    const HttpCallback& callback, bool cache,
                                                    size_t internalBufferSize)
{
    BrowserStreamRequest request(makePostRequest(uri, postData, cache, internalBufferSize));
    request.callback = callback;
    return asyncRequest(host, request);
}

HttpStreamResponsePtr SimpleStreamHelper::synchronousRequest(const BrowserHostConstPtr& host,
                                                             const BrowserStreamRequest& request)
{
    // The stream's events arrive on the main thread: it cannot wait for them.
    if (host->isMainThread())
        return HttpStreamResponsePtr();
    try {
        const boost::shared_ptr<SyncHTTPHelper> waiter(boost::make_shared<SyncHTTPHelper>());
        BrowserStreamRequest waited(request);
        waited.callback = [waiter](bool success, const HeaderMap& headers,
                                   const boost::shared_array<unsigned char>& data, size_t size,
                                   float progress, bool finished) {
            waiter->onResponse(success, headers, data, size, progress, finished);
        };
        const SimpleStreamHelperPtr helper(asyncRequest(host, waited));
        if (!helper)
            return HttpStreamResponsePtr();
        return waiter->wait(helper, *host);
    } catch (const std::exception&) {
        return HttpStreamResponsePtr();
    }
}

HttpStreamResponsePtr SimpleStreamHelper::synchronousGet(const BrowserHostConstPtr& host,
                                                         const URI& uri, bool cache,
                                                         size_t internalBufferSize)
{
    return synchronousRequest(host, makeRequest(uri, "GET", cache, internalBufferSize));
}

HttpStreamResponsePtr SimpleStreamHelper::synchronousPost(const BrowserHostConstPtr& host,
                                                          const URI& uri,
                                                          const std::string& postData, bool cache,
                                                          size_t internalBufferSize)
{
    return synchronousRequest(host, makePostRequest(uri, postData, cache, internalBufferSize));
}

} // namespace FB
