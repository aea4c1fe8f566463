#include "SystemProxyDetector.h"

#include <memory>

#include "X11/SystemProxyDetectorX11.h"

namespace FB {

SystemProxyDetector* SystemProxyDetector::instance()
{
    static const std::unique_ptr<SystemProxyDetector> detector(new SystemProxyDetectorX11());
    return detector.get();
}

} // namespace FB
