#include "NpapiStream.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "PluginEvents/StreamEvents.h"

namespace FB {
namespace Npapi {

NpapiStream::NpapiStream(const std::string& url, bool cache, bool seekable,
                         size_t internalBufferSize, const NpapiBrowserHostPtr& host)
    : FB::BrowserStream(url, cache, seekable, internalBufferSize),
      m_stream(nullptr),
      m_host(host),
      m_destroyed(false),
      m_notified(false),
      m_everBound(false)
{
}

NpapiStream::~NpapiStream()
{
    try {
        close();
    } catch (...) {
        // A sink that throws at the final completion must not end the
        // browser; the base still sends the destroyed event.
    }
}

void NpapiStream::setCreated()
{
    m_self = boost::static_pointer_cast<NpapiStream>(sharedFromThis());
}

void NpapiStream::dropSelfWhenDone()
{
    if (m_destroyed && m_notified) {
        // The stream may go with this reference: nothing after it.
        boost::shared_ptr<NpapiStream> self;
        self.swap(m_self);
    }
}

void NpapiStream::setDestroyed()
{
    m_destroyed = true;
    dropSelfWhenDone();
}

void NpapiStream::setNotified()
{
    m_notified = true;
    dropSelfWhenDone();
}

int32_t NpapiStream::signalDataArrived(const void* data, int32_t length, int32_t offset)
{
    // A negative length is a bogus count, not a huge chunk: nothing is read.
    if (length <= 0)
        return 0;
    const size_t taken = std::min(static_cast<size_t>(length), getInternalBufferSize());
    if (taken == 0)
        return 0;
    float progress = 0;
    if (getLength() != 0) {
        // In 64 bits: offset and length may each be near the 32-bit limit.
        const int64_t end = static_cast<int64_t>(offset) + length;
        progress = static_cast<float>(end) / static_cast<float>(getLength()) * 100.0f;
    }
    if (isOpen()) {
        StreamDataArrivedEvent evt(this, data, taken, static_cast<size_t>(offset), progress);
        SendEvent(&evt);
    }
    return static_cast<int32_t>(taken);
}

void NpapiStream::signalOpened()
{
    setOpen(true);
    StreamOpenedEvent evt(this);
    SendEvent(&evt);
}

void NpapiStream::signalFailedOpen()
{
    StreamFailedOpenEvent evt(this);
    SendEvent(&evt);
}

void NpapiStream::signalCompleted(bool success)
{
    // A seekable stream stays usable for range reads after its first pass,
    // as long as the browser still holds it; once unbound it can only end.
    if (isSeekable() && success && m_stream)
        return;
    if (isCompleted())
        return;
    setCompleted(true);
    close();
    StreamCompletedEvent evt(this, success);
    SendEvent(&evt);
}

void NpapiStream::signalCacheFilename(const std::wstring& fileName) { setCacheFilename(fileName); }

void NpapiStream::setStream(NPStream* stream)
{
    m_stream = stream;
    if (stream)
        m_everBound = true;
}

bool NpapiStream::wasBound() const { return m_everBound; }

NPStream* NpapiStream::getStream() const { return m_stream; }

NpapiBrowserHostPtr NpapiStream::getHost() const { return m_host.lock(); }

bool NpapiStream::readRanges(const std::vector<Range>& ranges)
{
    if (!m_stream || !isSeekable() || !isOpen())
        return false;
    if (ranges.empty())
        return true;
    // The browser's records hold a 32-bit offset and length: a reversed or
    // larger range cannot be asked for, so none of the list is.
    for (const Range& range : ranges) {
        if (range.end < range.start || range.start > static_cast<size_t>(INT32_MAX) ||
            range.end - range.start > static_cast<size_t>(UINT32_MAX))
            return false;
    }
    const NpapiBrowserHostPtr host(getHost());
    if (!host)
        return false;
    std::vector<NPByteRange> records(ranges.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
        records[i].offset = static_cast<int32_t>(ranges[i].start);
        records[i].length = static_cast<uint32_t>(ranges[i].end - ranges[i].start);
        records[i].next = i + 1 < ranges.size() ? &records[i + 1] : nullptr;
    }
    return host->RequestRead(m_stream, &records[0]) == NPERR_NO_ERROR;
}

bool NpapiStream::write(const char* data, size_t length, size_t& written)
{
    if (!m_stream || !isOpen())
        return false;
    const NpapiBrowserHostPtr host(getHost());
    if (!host || length > static_cast<size_t>(INT32_MAX))
        return false;
    const int32_t answer =
        host->Write(m_stream, static_cast<int32_t>(length), const_cast<char*>(data));
    written = static_cast<size_t>(static_cast<int64_t>(answer));
    return written == length;
}

bool NpapiStream::close()
{
    setOpen(false);
    // A stream cut before it ended has failed; its one completion says so.
    if (!isCompleted()) {
        setCompleted(true);
        StreamCompletedEvent evt(this, false);
        SendEvent(&evt);
    }
    if (!m_stream)
        return false;
    NPStream* const stream = m_stream;
    m_stream = nullptr;
    const NpapiBrowserHostPtr host(getHost());
    if (!host)
        return false;
    return host->DestroyStream(stream, NPRES_USER_BREAK) == NPERR_NO_ERROR;
}

void NpapiStream::releaseFromBrowser()
{
    m_stream = nullptr;
    if (!isCompleted())
        close();
    m_destroyed = true;
    m_notified = true;
    dropSelfWhenDone();
}

} // namespace Npapi
} // namespace FB
