// FB::BrowserStream: the base of every open browser stream.
//
// A plugin event source that reports the stream's life to its sinks through
// the stream events (PluginEvents/StreamEvents.h) and keeps the stream's
// properties. A browser binding derives from it, supplies reading by byte
// ranges, writing and closing, sets open, completed, length, MIME type,
// header block, cache file name and seekable-by-server as the browser reports
// them, and sends the events in this order: created, opened (or failed
// open), data..., completed exactly once - with success false for a stream
// that is closed, or ends, before it completed - and destroyed from this
// base's destructor. Every sink relies on that single completion: the
// download helper keeps itself alive until it arrives.
// Streams live and send their events on the browser's main thread; only
// their event-source base takes a lock.
#ifndef FB_BROWSERSTREAM_H
#define FB_BROWSERSTREAM_H

#include <cstddef>
#include <string>
#include <vector>

#include "PluginEventSource.h"
#include "StreamTypes.h"

namespace FB {

class PluginEvent;

class BrowserStream : public PluginEventSource {
public:
    // A byte range of the stream; end is exclusive.
    struct Range {
        Range(size_t start, size_t end) : start(start), end(end) {}
        size_t start;
        size_t end;
    };

    BrowserStream(const std::string& url, bool cache, bool seekable, size_t internalBufferSize);
    // Sends FB::StreamDestroyedEvent to the sinks still alive; nothing a sink
    // throws leaves the destructor. No shared pointer owns the stream then.
    ~BrowserStream() override;

    // boost::bad_weak_ptr when no shared pointer owns the stream.
    virtual BrowserStreamPtr sharedFromThis();

    // Asks the browser for [start, end) of a seekable stream; false for an
    // end before the start or when the request was not made.
    virtual bool readRange(size_t start, size_t end);
    // True when the browser took the request.
    virtual bool readRanges(const std::vector<Range>& ranges) = 0;
    // Writes through the browser; true when every byte was taken.
    virtual bool write(const char* data, size_t length, size_t& written) = 0;
    // Ends the stream; a stream not yet completed reports its completion
    // with success false.
    virtual bool close() = 0;

    virtual std::string getUrl() const;
    virtual bool isSeekableByServer() const;
    virtual bool isSeekableRequested() const;
    // Seeking was requested and, only then asked, the server allows it.
    virtual bool isSeekable() const;
    virtual bool isCached() const;
    virtual bool isCompleted() const;
    virtual bool isOpen() const;
    virtual std::string getMimeType() const;
    virtual std::wstring getCacheFilename() const;
    // The raw response header block.
    virtual std::string getHeaders() const;
    virtual size_t getInternalBufferSize() const;
    // 0 when the length is unknown.
    virtual size_t getLength() const;

    virtual void setUrl(const std::string& url);
    virtual void setSeekableByServer(bool seekable);
    virtual void setCached(bool cached);
    virtual void setCompleted(bool completed);
    virtual void setOpen(bool open);
    virtual void setMimeType(const std::string& mimeType);
    virtual void setCacheFilename(const std::wstring& fileName);
    virtual void setHeaders(const std::string& headers);
    virtual void setInternalBufferSize(size_t size);
    virtual void setLength(size_t length);

private:
    std::string m_url;
    const bool m_seekingRequested;
    bool m_seekableByServer;
    bool m_cached;
    size_t m_internalBufferSize;
    std::wstring m_cacheFilename;
    size_t m_length;
    std::string m_mimeType;
    bool m_completed;
    bool m_open;
    std::string m_headers;
};

// The checked cast of an event's source to a stream: std::bad_cast for a
// null source or one that is not a stream.
BrowserStream* streamFromSource(PluginEventSource* source);

} // namespace FB

#endif
