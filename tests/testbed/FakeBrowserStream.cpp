#include "FakeBrowserStream.h"

#include <algorithm>
#include <stdexcept>

#include "PluginEvents/StreamEvents.h"

namespace testbed {

FakeBrowserStream::FakeBrowserStream(const std::string& url, bool cache, bool seekable,
                                     size_t internalBufferSize)
    : FB::BrowserStream(url, cache, seekable, internalBufferSize), closes(0), acceptReads(true),
      closeFails(false), silentClose(false)
{
}

FakeBrowserStream::~FakeBrowserStream() {}

void FakeBrowserStream::open()
{
    setOpen(true);
    FB::StreamOpenedEvent evt(this);
    SendEvent(&evt);
}

void FakeBrowserStream::failOpen()
{
    FB::StreamFailedOpenEvent evt(this);
    SendEvent(&evt);
}

size_t FakeBrowserStream::deliver(const void* data, size_t length, size_t offset)
{
    const size_t taken = std::min(length, getInternalBufferSize());
    if (taken == 0)
        return 0;
    const float progress =
        getLength() ? static_cast<float>(offset + length) / static_cast<float>(getLength()) * 100.0f
                    : 0.0f;
    if (isOpen()) {
        FB::StreamDataArrivedEvent evt(this, data, taken, offset, progress);
        SendEvent(&evt);
    }
    return taken;
}

size_t FakeBrowserStream::deliver(const std::string& bytes, size_t offset)
{
    return deliver(bytes.data(), bytes.size(), offset);
}

void FakeBrowserStream::complete(bool success)
{
    if ((isSeekable() && success) || isCompleted())
        return;
    finish(success);
}

void FakeBrowserStream::finish(bool success)
{
    setCompleted(true);
    setOpen(false);
    FB::StreamCompletedEvent evt(this, success);
    SendEvent(&evt);
}

bool FakeBrowserStream::readRanges(const std::vector<Range>& ranges)
{
    rangeRequests.push_back(ranges);
    return acceptReads;
}

bool FakeBrowserStream::write(const char* data, size_t length, size_t& count)
{
    if (!isOpen())
        return false;
    written.append(data, length);
    count = length;
    return true;
}

bool FakeBrowserStream::close()
{
    ++closes;
    if (silentClose)
        return true;
    if (!isCompleted())
        finish(false);
    setOpen(false);
    if (closeFails)
        throw std::runtime_error("the browser failed to close the stream");
    return true;
}

} // namespace testbed
