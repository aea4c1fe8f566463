// Reading a page answer as a list of page objects: the answer of
// getElementsByTagName and the like.
//
// A value holding such a vector gives a copy; anything else must convert to a
// page object (else FB::bad_variant_cast from the held type to
// FB::JSObjectPtr), which is walked as an array: "length", then each index
// in turn, each entry converted to a page object. Null and undefined give an
// empty vector, null entries an empty pointer at their place. Script errors
// of the walk come back as a plain FB::script_error with the same message; a
// length over 2147483647 fails with FB::bad_variant_cast. Runs on the calling
// thread under the page object's thread rules.
#ifndef FB_OBJECTLISTCONVERSION_H
#define FB_OBJECTLISTCONVERSION_H

#include <vector>

#include "APITypes.h"

namespace FB {

std::vector<JSObjectPtr> convertToObjectList(const variant& value);
void jsArrayToObjectList(const JSObjectPtr& array, std::vector<JSObjectPtr>& out);

} // namespace FB

#endif
