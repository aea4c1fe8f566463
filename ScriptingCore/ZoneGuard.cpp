#include "ZoneGuard.h"

#include "JSAPI.h"

namespace FB {

ZoneGuard::ZoneGuard(const JSAPIPtr& object, int zone) : object(NULL), reference(object) {
    if (reference) {
        reference->enterZone(zone);
        this->object = reference.get();
    }
}

ZoneGuard::ZoneGuard(JSAPIPtr&& object, int zone) : object(NULL), reference(std::move(object)) {
    if (reference) {
        reference->enterZone(zone);
        this->object = reference.get();
    }
}

ZoneGuard::ZoneGuard(JSAPI* object, int zone) : object(NULL) {
    if (object) {
        object->enterZone(zone);
        this->object = object;
    }
}

ZoneGuard::~ZoneGuard() {
    if (object) {
        // A destructor must not throw; a failed leave has nothing to undo.
        try {
            object->leaveZone();
        } catch (...) {
        }
    }
}

} // namespace FB
