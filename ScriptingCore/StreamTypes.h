// Shared declarations of the browser streams and the download helper.
//
// FB::HeaderMap holds response headers: names keep their case, a repeated
// name keeps all its values in arrival order. FB::HttpCallback is the
// completion callback of a download: success, headers, body, size, progress
// (percent) and finished, in this order; it is called on the browser's main
// thread. Include this wherever a header only names these types.
// Plain declarations; usable from any thread.
#ifndef FB_STREAMTYPES_H
#define FB_STREAMTYPES_H

#include <cstddef>
#include <map>
#include <string>

#include <boost/function.hpp>
#include <boost/shared_array.hpp>
#include <boost/shared_ptr.hpp>

namespace FB {

class BrowserHost;
class BrowserStream;
class BrowserStreamManager;
class SimpleStreamHelper;
struct HttpStreamResponse;

typedef std::multimap<std::string, std::string> HeaderMap;

typedef boost::function<void(bool success, const HeaderMap& headers,
                             const boost::shared_array<unsigned char>& data, size_t size,
                             float progress, bool finished)>
    HttpCallback;

typedef boost::shared_ptr<const BrowserHost> BrowserHostConstPtr;
typedef boost::shared_ptr<BrowserStream> BrowserStreamPtr;
typedef boost::shared_ptr<BrowserStreamManager> BrowserStreamManagerPtr;
typedef boost::shared_ptr<SimpleStreamHelper> SimpleStreamHelperPtr;
typedef boost::shared_ptr<HttpStreamResponse> HttpStreamResponsePtr;

} // namespace FB

#endif
