// The one way the DOM wrappers wrap a page object that a page access
// answered: through the wrap operation of that object's own host, so that the
// browser binding decides the class. An empty object gives an empty pointer
// without touching a host; an object whose host is gone gives
// boost::bad_weak_ptr. Internal to the DOM wrappers.
#ifndef FB_DOM_HOSTWRAPPED_H
#define FB_DOM_HOSTWRAPPED_H

#include <boost/smart_ptr/bad_weak_ptr.hpp>

#include "../BrowserHost.h"
#include "../JSObject.h"

namespace FB {
namespace DOM {

template <class WrapperPtr>
WrapperPtr hostWrapped(const JSObjectPtr& object,
                       WrapperPtr (BrowserHost::*wrap)(const JSObjectPtr&))
{
    if (!object)
        return WrapperPtr();
    const BrowserHostPtr host(object->getHost());
    if (!host)
        throw boost::bad_weak_ptr();
    return ((*host).*wrap)(object);
}

} // namespace DOM
} // namespace FB

#endif
