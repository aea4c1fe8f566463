// FB::SystemProxyDetectorX11: the proxy detector of X11 desktops. It knows
// no system proxy source, so it finds no proxy: the browser's own answer is
// the one that counts. Stateless; any thread.
#ifndef FB_SYSTEMPROXYDETECTORX11_H
#define FB_SYSTEMPROXYDETECTORX11_H

#include "SystemProxyDetector.h"

namespace FB {

class SystemProxyDetectorX11 : public SystemProxyDetector {
public:
    // False; the map is left as it was.
    bool detectProxy(std::map<std::string, std::string>& settings,
                     const std::string& url) override;
};

} // namespace FB

#endif
