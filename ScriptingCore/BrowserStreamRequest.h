// FB::BrowserStreamRequest: the description of a browser stream to open, or
// of one that the browser opened by itself.
//
// Made from the resource, the method ("GET" or "POST") and whether the plugin
// takes the stream; every other field starts at its default below and is set
// by the caller afterwards. A plain value: copies hold every field, the
// callback and the sink included. A request that has a callback and no sink
// is read into memory by the download helper (FB::SimpleStreamHelper).
// No lock; a copy may be used on any thread.
#ifndef FB_BROWSERSTREAMREQUEST_H
#define FB_BROWSERSTREAMREQUEST_H

#include <cstddef>
#include <string>

#include <boost/cstdint.hpp>

#include "PluginEventSink.h"
#include "StreamTypes.h"
#include "URI.h"

namespace FB {

class BrowserStreamRequest {
public:
    // The default block of one data delivery and of the download helper.
    static const size_t kDefaultBufferSize = 131072;

    BrowserStreamRequest(const URI& uri, const std::string& method, bool accepted);

    URI uri;
    std::string method;
    // Response headers of a stream that the browser opened by itself.
    HeaderMap headers;
    // The browser's last-modified time, for a stream it opened by itself.
    boost::uint32_t lastModified;
    bool seekable;
    // The most bytes taken from one delivery; the download helper's block size.
    size_t internalBufferSize;
    // Asks the browser to keep the resource in a cache file too.
    bool cache;
    PluginEventSinkPtr sink;
    HttpCallback callback;
    bool accepted;
    std::string postData;
    // Header lines sent ahead of a POST body; empty lets the binding send the
    // form content type with the body's length.
    std::string postHeaders;
};

} // namespace FB

#endif
