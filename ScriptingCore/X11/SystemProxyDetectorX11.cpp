#include "X11/SystemProxyDetectorX11.h"

namespace FB {

bool SystemProxyDetectorX11::detectProxy(std::map<std::string, std::string>&, const std::string&)
{
    return false;
}

} // namespace FB
