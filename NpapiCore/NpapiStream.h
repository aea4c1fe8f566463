// FB::Npapi::NpapiStream: a browser stream bound to the browser's NPStream.
//
// The host makes one for each GET or POST the plugin asks for and for each
// stream the browser opens by itself; the plugin adapter binds the NPStream
// to it and forwards the browser's stream callbacks to its signal
// operations, which update the stream and send the stream events. It reads
// byte ranges, writes and closes through the host.
// The browser refers to the stream by plain pointer (the NPStream's pdata and
// the URL request's notify data), so the stream keeps itself alive until the
// browser has destroyed it and reported the URL's completion - or until its
// host shuts down, after which the browser calls nothing for it.
// Every stream reports its completion exactly once: with success false when
// it is closed, refused or cut before it ended.
// Main thread only; no lock of its own.
#ifndef FB_NPAPI_NPAPISTREAM_H
#define FB_NPAPI_NPAPISTREAM_H

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include "BrowserStream.h"
#include "NpapiBrowserHost.h"
#include "NpapiTypes.h"

namespace FB {
namespace Npapi {

class NpapiStream : public FB::BrowserStream {
public:
    NpapiStream(const std::string& url, bool cache, bool seekable, size_t internalBufferSize,
                const NpapiBrowserHostPtr& host);
    ~NpapiStream() override;

    bool readRanges(const std::vector<Range>& ranges) override;
    bool write(const char* data, size_t length, size_t& written) override;
    bool close() override;

    // The browser accepted the stream: it keeps itself alive from now on.
    virtual void setCreated();
    virtual void setDestroyed();
    virtual void setNotified();
    // Answers how many bytes were taken (0 for none).
    virtual int32_t signalDataArrived(const void* data, int32_t length, int32_t offset);
    virtual void signalOpened();
    virtual void signalFailedOpen();
    virtual void signalCompleted(bool success);
    virtual void signalCacheFilename(const std::wstring& fileName);
    virtual void setStream(NPStream* stream);
    virtual NPStream* getStream() const;
    // Whether the browser ever opened the stream (bound an NPStream to it).
    bool wasBound() const;
    // Empty when the host is gone.
    virtual NpapiBrowserHostPtr getHost() const;

    // The host shut down: the browser will call nothing more for this
    // stream. Completes it (as failed, if it had not) and lets it go.
    void releaseFromBrowser();

private:
    void dropSelfWhenDone();

    NPStream* m_stream;
    NpapiBrowserHostWeakPtr m_host;
    boost::shared_ptr<NpapiStream> m_self;
    bool m_destroyed;
    bool m_notified;
    bool m_everBound;
};

typedef boost::shared_ptr<NpapiStream> NpapiStreamPtr;

} // namespace Npapi
} // namespace FB

#endif
