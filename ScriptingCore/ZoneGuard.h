// FB::ZoneGuard: enters a security zone on a scriptable object for the
// guard's scope and leaves it on every way out.
//
// Made from a shared pointer it also keeps the object alive until the zone is
// left; made from a plain pointer it keeps nothing (the caller guarantees the
// object outlives the guard). When entering fails the constructor throws and
// nothing is left later. Use it on one thread: the zone is left on the thread
// that entered it.
#ifndef FB_ZONEGUARD_H
#define FB_ZONEGUARD_H

#include <boost/noncopyable.hpp>

#include "APITypes.h"

namespace FB {

class ZoneGuard : private boost::noncopyable {
public:
    ZoneGuard(const JSAPIPtr& object, int zone);
    // Takes the reference over instead of copying it.
    ZoneGuard(JSAPIPtr&& object, int zone);
    ZoneGuard(JSAPI* object, int zone);
    ~ZoneGuard();

private:
    JSAPI* object;
    JSAPIPtr reference;
};

} // namespace FB

#endif
