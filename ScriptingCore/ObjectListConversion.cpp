#include "ObjectListConversion.h"

#include <typeinfo>

#include "JSObject.h"
#include "bad_variant_cast.h"
#include "variant.h"

namespace FB {

std::vector<JSObjectPtr> convertToObjectList(const variant& value)
{
    if (value.is_of_type<std::vector<JSObjectPtr> >())
        return value.cast<std::vector<JSObjectPtr> >();
    JSObjectPtr array;
    try {
        array = value.convertToJSObject();
    } catch (const std::bad_cast&) {
        throw bad_variant_cast(value.getType(), typeid(JSObjectPtr));
    }
    std::vector<JSObjectPtr> out;
    jsArrayToObjectList(array, out);
    return out;
}

void jsArrayToObjectList(const JSObjectPtr& array, std::vector<JSObjectPtr>& out)
{
    // The array walk itself (length limit, 64-bit index, script errors kept
    // by message only) is the list conversion's.
    VariantList entries;
    variant::jsArrayToList(array, entries);
    out.reserve(out.size() + entries.size());
    for (VariantList::const_iterator it = entries.begin(); it != entries.end(); ++it)
        out.push_back(it->convertToJSObject());
}

} // namespace FB
