#include "BrowserStream.h"

#include <typeinfo>

#include <boost/pointer_cast.hpp>

#include "PluginEvents/StreamEvents.h"
#include "logging.h"

namespace FB {

BrowserStream::BrowserStream(const std::string& url, bool cache, bool seekable,
                             size_t internalBufferSize)
    : m_url(url), m_seekingRequested(seekable), m_seekableByServer(false), m_cached(cache),
      m_internalBufferSize(internalBufferSize), m_length(0), m_completed(false), m_open(false)
{
}

BrowserStream::~BrowserStream()
{
    // A destructor may run from any release; a sink that throws (or asks for
    // sharedFromThis, which no longer works) must not end the process.
    try {
        StreamDestroyedEvent evt(this);
        SendEvent(&evt);
    } catch (const std::exception& e) {
        FBLOG_WARN("BrowserStream", "A sink failed on the stream's destruction: " << e.what());
    } catch (...) {
        FBLOG_WARN("BrowserStream", "A sink failed on the stream's destruction");
    }
}

BrowserStreamPtr BrowserStream::sharedFromThis()
{
    return boost::static_pointer_cast<BrowserStream>(shared_from_this());
}

bool BrowserStream::readRange(size_t start, size_t end)
{
    if (end < start)
        return false;
    return readRanges(std::vector<Range>(1, Range(start, end)));
}

std::string BrowserStream::getUrl() const { return m_url; }
bool BrowserStream::isSeekableByServer() const { return m_seekableByServer; }
bool BrowserStream::isSeekableRequested() const { return m_seekingRequested; }
bool BrowserStream::isSeekable() const { return isSeekableRequested() && isSeekableByServer(); }
bool BrowserStream::isCached() const { return m_cached; }
bool BrowserStream::isCompleted() const { return m_completed; }
bool BrowserStream::isOpen() const { return m_open; }
std::string BrowserStream::getMimeType() const { return m_mimeType; }
std::wstring BrowserStream::getCacheFilename() const { return m_cacheFilename; }
std::string BrowserStream::getHeaders() const { return m_headers; }
size_t BrowserStream::getInternalBufferSize() const { return m_internalBufferSize; }
size_t BrowserStream::getLength() const { return m_length; }

void BrowserStream::setUrl(const std::string& url) { m_url = url; }
void BrowserStream::setSeekableByServer(bool seekable) { m_seekableByServer = seekable; }
void BrowserStream::setCached(bool cached) { m_cached = cached; }
void BrowserStream::setCompleted(bool completed) { m_completed = completed; }
void BrowserStream::setOpen(bool open) { m_open = open; }
void BrowserStream::setMimeType(const std::string& mimeType) { m_mimeType = mimeType; }
void BrowserStream::setCacheFilename(const std::wstring& fileName) { m_cacheFilename = fileName; }
void BrowserStream::setHeaders(const std::string& headers) { m_headers = headers; }
void BrowserStream::setInternalBufferSize(size_t size) { m_internalBufferSize = size; }
void BrowserStream::setLength(size_t length) { m_length = length; }

BrowserStream* streamFromSource(PluginEventSource* source)
{
    BrowserStream* stream = dynamic_cast<BrowserStream*>(source);
    if (!stream)
        throw std::bad_cast();
    return stream;
}

} // namespace FB
