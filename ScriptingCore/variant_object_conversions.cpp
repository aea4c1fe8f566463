// The converting casts to scriptable-object pointers and the reading of page
// arrays and objects whole into lists and maps.
#include "variant.h"

#include <climits>
#include <iterator>
#include <typeinfo>

#include <boost/pointer_cast.hpp>

#include "JSAPI.h"
#include "JSObject.h"
#include "script_error.h"

namespace FB {

namespace {

// The page object a list or map is read from. A value that has to become one
// and cannot is refused under the page-object pointer's name (cast errors
// only; anything else passes); a held page-object pointer is taken as it is,
// its errors unchanged.
JSObjectPtr pageObjectToRead(const variant& v)
{
    if (v.getType() == typeid(JSObjectPtr))
        return v.convertToJSObject();
    try {
        return v.convertToJSObject();
    } catch (const std::bad_cast&) {
        throw bad_variant_cast(v.getType(), typeid(JSObjectPtr));
    }
}

} // namespace

JSAPIPtr variant::heldObject() const
{
    if (holdsNoValue())
        return JSAPIPtr();
    if (const JSObjectPtr* object = boost::any_cast<JSObjectPtr>(&held))
        return *object;
    if (const JSAPIWeakPtr* weak = boost::any_cast<JSAPIWeakPtr>(&held))
        return weak->lock();
    if (const JSAPIPtr* api = boost::any_cast<JSAPIPtr>(&held))
        return *api;
    throw bad_variant_cast(getType(), typeid(JSAPIPtr));
}

JSObjectPtr variant::convertToJSObject() const
{
    const JSAPIPtr api = heldObject();
    if (!api)
        return JSObjectPtr();
    const JSObjectPtr object = boost::dynamic_pointer_cast<JSObject>(api);
    if (object) {
        const JSObjectPtr inner = boost::dynamic_pointer_cast<JSObject>(object->getJSAPI());
        if (inner)
            return inner;
        return object;
    }
    throw bad_variant_cast(getType(), typeid(JSObject));
}

JSAPIPtr variant::convertToJSAPI() const
{
    const JSAPIPtr api = heldObject();
    if (!api)
        return JSAPIPtr();
    if (const JSObjectPtr object = boost::dynamic_pointer_cast<JSObject>(api)) {
        const JSAPIPtr inner = object->getJSAPI();
        if (inner)
            return inner;
    }
    return api;
}

VariantList variant::convertToList() const
{
    if (const VariantList* list = boost::any_cast<VariantList>(&held))
        return *list;
    VariantList out;
    jsArrayToList(pageObjectToRead(*this), out);
    return out;
}

std::vector<JSObjectPtr> variant::convertToObjectList() const
{
    if (const std::vector<JSObjectPtr>* list = boost::any_cast<std::vector<JSObjectPtr> >(&held))
        return *list;
    std::vector<JSObjectPtr> out;
    jsArrayToObjectList(pageObjectToRead(*this), out);
    return out;
}

VariantMap variant::convertToMap() const
{
    if (const VariantMap* map = boost::any_cast<VariantMap>(&held))
        return *map;
    VariantMap out;
    jsObjectToMap(pageObjectToRead(*this), out);
    return out;
}

// Errors of the page keep their message but not their class.
void variant::jsArrayToList(const JSObjectPtr& object, VariantList& out)
{
    if (!object)
        return;
    variant lengthValue;
    try {
        lengthValue = object->getProperty("length");
    } catch (const script_error& e) {
        throw script_error(e.what());
    }
    const long length = lengthValue.convertToLong();
    // Indexes are ints; a longer array cannot be walked.
    if (length > INT_MAX)
        throw bad_variant_cast(lengthValue.getType(), typeid(int));
    try {
        for (long i = 0; i < length; ++i)
            out.push_back(object->getPropertyByIndex(static_cast<int>(i)));
    } catch (const script_error& e) {
        throw script_error(e.what());
    }
}

// The array walk is the list conversion's; each entry must be a page object
// (null entries give an empty pointer at their place).
void variant::jsArrayToObjectList(const JSObjectPtr& object, std::vector<JSObjectPtr>& out)
{
    VariantList entries;
    jsArrayToList(object, entries);
    out.reserve(out.size() + entries.size());
    for (const variant& entry : entries)
        out.push_back(entry.convertToJSObject());
}

void variant::jsObjectToMap(const JSObjectPtr& object, VariantMap& out)
{
    if (!object)
        return;
    try {
        std::vector<std::string> names;
        object->getMemberNames(names);
        VariantMap::iterator hint = out.end();
        for (const std::string& name : names) {
            // A name already present keeps its first value.
            hint = std::next(out.insert(hint, VariantMap::value_type(name, object->getProperty(name))));
        }
    } catch (const script_error& e) {
        throw script_error(e.what());
    }
}

} // namespace FB
