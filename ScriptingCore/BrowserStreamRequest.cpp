#include "BrowserStreamRequest.h"

namespace FB {

const size_t BrowserStreamRequest::kDefaultBufferSize;

BrowserStreamRequest::BrowserStreamRequest(const URI& uri, const std::string& method,
                                           bool accepted)
    : uri(uri), method(method), lastModified(0), seekable(false),
      internalBufferSize(kDefaultBufferSize), cache(false), accepted(accepted)
{
}

} // namespace FB
