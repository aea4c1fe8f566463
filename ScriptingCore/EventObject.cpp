#include "EventObject.h"

#include "JSAPI.h"
#include "variant.h"

namespace FB {

VariantMap makeEventObject(const JSAPIPtr& object, const std::string& name,
                           const VariantMap& members, const VariantList& args) {
    VariantMap event;
    event["type"] = variant(name);
    event["target"] = variant(object);
    event["currentTarget"] = variant(object);
    event["eventPhase"] = variant(2);
    event["bubbles"] = variant(false);
    event["cancelable"] = variant(false);
    event["namespaceURI"] = variant(name);
    // insert() keeps what is already there, so the members above stay.
    event.insert(members.begin(), members.end());
    event["arguments"] = variant(args);
    return event;
}

VariantMap makeEventObject(const JSAPIPtr& object, const std::string& name,
                           const VariantList& args) {
    return makeEventObject(object, name, VariantMap(), args);
}

VariantMap makeEventObject(const JSAPIPtr& object, const std::string& name,
                           const VariantMap& members) {
    return makeEventObject(object, name, members, VariantList());
}

} // namespace FB
