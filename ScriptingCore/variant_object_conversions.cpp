// The converting casts to scriptable-object pointers and the reading of page
// arrays and objects whole into lists and maps.
#include "variant.h"

#include <climits>
#include <iterator>
#include <typeinfo>

#include <boost/pointer_cast.hpp>

#include "JSAPI.h"
#include "JSObject.h"
#include "PageReadBudget.h"
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

namespace {

// Walks a page array in index order, handing each entry to take as soon as
// it is read, so that an entry take refuses ends the walk before the next
// read. The length is taken from the call's PageReadBudget up front. Script
// errors of the reads keep their message but not their class; whatever take
// throws passes unchanged.
template <class Take>
void walkPageArray(const JSObjectPtr& object, Take take)
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
    // The call's budget is smaller than the int index range, so one check
    // refuses both before any entry is read: a length indexes cannot reach,
    // and more than the call may still read (a length is the page's word).
    static_assert(PageReadBudget::kMaxEntries <= INT_MAX, "indexes are ints");
    PageReadBudget budget;
    if (length > 0 && !budget.take(static_cast<std::size_t>(length)))
        throw bad_variant_cast(lengthValue.getType(), typeid(int));
    for (long i = 0; i < length; ++i) {
        variant entry;
        try {
            entry = object->getPropertyByIndex(static_cast<int>(i));
        } catch (const script_error& e) {
            throw script_error(e.what());
        }
        take(entry);
    }
}

} // namespace

void variant::jsArrayToList(const JSObjectPtr& object, VariantList& out)
{
    walkPageArray(object, [&out](const variant& entry) { out.push_back(entry); });
}

// Each entry must be a page object (null entries give an empty pointer at
// their place); the first that is not ends the walk with its cast error.
void variant::jsArrayToObjectList(const JSObjectPtr& object, std::vector<JSObjectPtr>& out)
{
    walkPageArray(object, [&out](const variant& entry) { out.push_back(entry.convertToJSObject()); });
}

void variant::jsObjectToMap(const JSObjectPtr& object, VariantMap& out)
{
    if (!object)
        return;
    PageReadBudget budget;
    try {
        std::vector<std::string> names;
        object->getMemberNames(names);
        // Each name costs a read: more than the call may still read is
        // refused before the first.
        if (!budget.take(names.size()))
            throw bad_variant_cast(typeid(JSObjectPtr), typeid(VariantMap));
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
