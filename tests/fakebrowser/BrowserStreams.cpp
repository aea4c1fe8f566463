#include "BrowserStreams.h"

#include "FakeBrowser.h"

namespace fakebrowser {

StreamSpec StreamSpec::answering(const UrlRequest& request)
{
    StreamSpec spec;
    spec.url = request.url;
    spec.notifyData = request.notifyData;
    return spec;
}

StreamRecord::StreamRecord(const StreamSpec& spec) : m_spec(spec)
{
    m_stream.url = m_spec.url.c_str();
    m_stream.end = m_spec.end;
    m_stream.lastmodified = m_spec.lastModified;
    m_stream.notifyData = m_spec.notifyData;
    m_stream.headers = m_spec.headers.empty() ? nullptr : m_spec.headers.c_str();
}

} // namespace fakebrowser
