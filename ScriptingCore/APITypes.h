// Shared forward declarations and pointer types of the scripting object model.
//
// Include this wherever a header only names these types; include variant.h,
// JSAPI.h or JSObject.h where values are built or members are called.
// FB::VariantList and FB::VariantMap are declared here although FB::variant is
// still incomplete: naming a standard container in a typedef, or in a
// parameter by reference, instantiates nothing. Use them by value only where
// variant.h is included.
// Plain declarations and one pointer comparison; usable from any thread.
#ifndef FB_APITYPES_H
#define FB_APITYPES_H

#include <map>
#include <string>
#include <vector>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

namespace FB {

class variant;
class JSAPI;
class JSObject;
class BrowserHost;
class script_error;

typedef std::vector<variant> VariantList;
typedef std::map<std::string, variant> VariantMap;

typedef boost::shared_ptr<JSAPI> JSAPIPtr;
typedef boost::weak_ptr<JSAPI> JSAPIWeakPtr;
typedef boost::shared_ptr<JSObject> JSObjectPtr;
typedef boost::shared_ptr<BrowserHost> BrowserHostPtr;
typedef boost::weak_ptr<BrowserHost> BrowserHostWeakPtr;
// Carries an error caught on one thread back to the thread that waits for it.
typedef boost::shared_ptr<script_error> ScriptErrorPtr;

// A script method: the script's arguments in, one value out. May be empty.
// Made from member functions by FB::bindMethod (method_wrappers.h).
typedef boost::function<variant (const VariantList&)> MethodHandler;

// Whether two shared or weak pointers share one owner: the very same object,
// not merely a later one made at the same address.
template <class A, class B>
bool sameOwner(const A& a, const B& b)
{
    return !a.owner_before(b) && !b.owner_before(a);
}

} // namespace FB

#endif
