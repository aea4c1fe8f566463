// FB::SimpleStreamHelper: downloads one resource through the browser into
// memory and reports to one FB::HttpCallback: after each stored chunk with
// its progress, and once at the end with the success flag, the response
// headers and the whole body.
//
// A helper is made by asyncRequest and keeps itself alive (self reference)
// until its stream completes; it holds its stream from the attach on. Each
// chunk lands at its own offset, in blocks of the request's buffer size;
// blocks a gap skips read as zeros, a chunk whose end overflows or that cannot
// be stored is dropped. The body holds exactly the received extent (the
// highest end of a stored chunk), which is the size reported. The final call
// comes once, then the callback is cleared.
// asyncRequest may be called from any thread and carries itself to the
// main thread (waiting there for the result); the helper's stream work runs
// on the main thread only and has no lock. synchronousRequest is for other
// threads: it waits for the final call, and answers an empty response when
// the host shuts down first, on failure, or when called on the main thread.
#ifndef FB_SIMPLESTREAMHELPER_H
#define FB_SIMPLESTREAMHELPER_H

#include <cstddef>
#include <string>
#include <vector>

#include <boost/shared_array.hpp>

#include "DefaultBrowserStreamHandler.h"
#include "StreamTypes.h"

namespace FB {

class BrowserStreamRequest;
class URI;

struct HttpStreamResponse {
    HttpStreamResponse(bool success, const HeaderMap& headers,
                       const boost::shared_array<unsigned char>& data, size_t size);

    bool success;
    HeaderMap headers;
    boost::shared_array<unsigned char> data;
    size_t size;
};

class SimpleStreamHelper : public DefaultBrowserStreamHandler {
public:
    // Made by asyncRequest; public for boost::make_shared only. A block size
    // of 0 takes the request's default.
    SimpleStreamHelper(const HttpCallback& callback, size_t blockSize);
    ~SimpleStreamHelper() override;

    bool onStreamDataArrived(StreamDataArrivedEvent* evt, BrowserStream* stream) override;
    bool onStreamOpened(StreamOpenedEvent* evt, BrowserStream* stream) override;
    bool onStreamCompleted(StreamCompletedEvent* evt, BrowserStream* stream) override;

    void setSelfReference(const SimpleStreamHelperPtr& self);

    // std::runtime_error "Invalid callback" for a request without callback,
    // before any stream is opened. Opens the stream through the host; empty
    // when it cannot be opened. Off the main thread the failures of the
    // cross-thread call reach the caller ("Could not marshal to main
    // thread", "Shutting down").
    static SimpleStreamHelperPtr asyncRequest(const BrowserHostConstPtr& host,
                                              const BrowserStreamRequest& request);
    // Reads a stream that is already open; empty for an empty stream. Does
    // not test the callback: its callers do.
    static SimpleStreamHelperPtr asyncRequest(const BrowserHostConstPtr& host,
                                              const BrowserStreamPtr& stream,
                                              const BrowserStreamRequest& request);
    static SimpleStreamHelperPtr asyncGet(const BrowserHostConstPtr& host, const URI& uri,
                                          const HttpCallback& callback, bool cache,
                                          size_t internalBufferSize);
    static SimpleStreamHelperPtr asyncPost(const BrowserHostConstPtr& host, const URI& uri,
                                           const std::string& postData,
                                           const HttpCallback& callback, bool cache,
                                           size_t internalBufferSize);

    // Every std::exception gives an empty response.
    static HttpStreamResponsePtr synchronousRequest(const BrowserHostConstPtr& host,
                                                    const BrowserStreamRequest& request);
    static HttpStreamResponsePtr synchronousGet(const BrowserHostConstPtr& host, const URI& uri,
                                                bool cache, size_t internalBufferSize);
    static HttpStreamResponsePtr synchronousPost(const BrowserHostConstPtr& host, const URI& uri,
                                                 const std::string& postData, bool cache,
                                                 size_t internalBufferSize);

private:
    // False when the chunk cannot be placed.
    bool store(const unsigned char* data, size_t length, size_t offset);
    boost::shared_array<unsigned char> assembleBody() const;

    // Null entries are blocks that no chunk has reached yet.
    std::vector<boost::shared_array<unsigned char> > m_blocks;
    boost::shared_array<unsigned char> m_body;
    const size_t m_blockSize;
    size_t m_received;
    HttpCallback m_callback;
    SimpleStreamHelperPtr m_self;
};

} // namespace FB

#endif
