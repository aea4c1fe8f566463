// FB::makeEventObject: builds the script event object (a map of members) that
// the scriptable objects deliver to page handlers when they fire an event
// object.
//
// The standard members ("type", "target", "currentTarget", "eventPhase",
// "bubbles", "cancelable", "namespaceURI") cannot be changed by the caller's
// members; "arguments" always holds the argument list. Pure functions with no
// state; any thread.
#ifndef FB_EVENTOBJECT_H
#define FB_EVENTOBJECT_H

#include <string>

#include "APITypes.h"

namespace FB {

VariantMap makeEventObject(const JSAPIPtr& object, const std::string& name,
                           const VariantMap& members, const VariantList& args);
VariantMap makeEventObject(const JSAPIPtr& object, const std::string& name,
                           const VariantList& args);
VariantMap makeEventObject(const JSAPIPtr& object, const std::string& name,
                           const VariantMap& members);

} // namespace FB

#endif
