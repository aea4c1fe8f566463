// fakebrowser::StreamSpec and StreamRecord: the streams a browser opens for
// a plugin instance. A StreamRecord owns the NPStream handed to the plugin
// and the texts it points to; the Instance keeps every record as long as the
// FakeBrowser lives, so a stale pointer in the plugin stays recognisable.
// The stream calls themselves (NPP_NewStream, NPP_WriteReady, NPP_Write,
// NPP_StreamAsFile, NPP_DestroyStream, NPP_URLNotify) are Instance members.
// Main thread of the FakeBrowser only.
#ifndef FAKEBROWSER_BROWSERSTREAMS_H
#define FAKEBROWSER_BROWSERSTREAMS_H

#include <cstdint>
#include <string>

#include "NpapiAbi.h"

namespace fakebrowser {

struct UrlRequest;

// What the browser tells the plugin about a stream it opens.
struct StreamSpec {
    std::string url;
    std::string mimeType = "application/octet-stream";
    // The announced length; 0 when unknown.
    uint32_t end = 0;
    uint32_t lastModified = 0;
    // The raw response header block; empty gives a null headers pointer.
    std::string headers;
    bool seekable = false;
    // The notify data of the request the stream answers (null: the browser
    // opened the stream by itself).
    void* notifyData = nullptr;

    // The stream that answers a recorded GetURLNotify/PostURLNotify request.
    static StreamSpec answering(const UrlRequest& request);
};

class StreamRecord {
public:
    explicit StreamRecord(const StreamSpec& spec);
    StreamRecord(const StreamRecord&) = delete;
    StreamRecord& operator=(const StreamRecord&) = delete;

    NPStream* stream() { return &m_stream; }
    const StreamSpec& spec() const { return m_spec; }
    // NPP_DestroyStream ran for it; the browser calls nothing more with it.
    bool destroyed() const { return m_destroyed; }
    void setDestroyed() { m_destroyed = true; }

private:
    const StreamSpec m_spec;
    NPStream m_stream{};
    bool m_destroyed = false;
};

} // namespace fakebrowser

#endif
