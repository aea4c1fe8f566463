// FB::NamingHosts: how many live browser hosts named each scriptable object
// for their shutdown notice (BrowserHost::notifyAtShutdown).
//
// One object may reach the pages of several instances (a function object of
// a scriptable object that they share); its notice drops what the pages
// stored on it, so only the last live host that named it may send it. Each
// host adds itself once per object and withdraws once, at its shutdown, when
// it finds the object gone, or when it goes without shutting down. An entry
// left by a gone object is never counted for a new object at its address.
// Process-wide, any thread. Its one lock is taken last: under a host's
// retained-objects mutex, never the other way round; nothing is called
// while it is held.
#ifndef FB_NAMINGHOSTS_H
#define FB_NAMINGHOSTS_H

#include "APITypes.h"

namespace FB {

class NamingHosts {
public:
    // One more host names the object.
    static void add(const JSAPIPtr& object);
    // A host that named the object, known by its address and a weak
    // reference, withdraws. True when no host names that very object any
    // more (also when none was counted): it may hear the notice now.
    static bool withdraw(const JSAPI* address, const JSAPIWeakPtr& object);
    // Whether some host names the very object.
    static bool isNamed(const JSAPIPtr& object);

private:
    NamingHosts() = delete;
};

} // namespace FB

#endif
