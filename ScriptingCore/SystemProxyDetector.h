// FB::SystemProxyDetector: the process-wide lookup of the system's proxy
// settings for a URL, behind FB::BrowserHost::DetectProxySettings.
//
// detectProxy fills the map (keys "type", "hostname", "port") and answers
// true when a proxy applies; otherwise it answers false and leaves the map as
// it was. instance() makes the platform's detector on first use (thread-safe)
// and deletes it when the process exits. Detectors have no state of their
// own here and may be used from any thread.
#ifndef FB_SYSTEMPROXYDETECTOR_H
#define FB_SYSTEMPROXYDETECTOR_H

#include <map>
#include <string>

#include <boost/noncopyable.hpp>

namespace FB {

class SystemProxyDetector : private boost::noncopyable {
public:
    static SystemProxyDetector* instance();

    virtual ~SystemProxyDetector() {}

    virtual bool detectProxy(std::map<std::string, std::string>& settings,
                             const std::string& url) = 0;
};

} // namespace FB

#endif
