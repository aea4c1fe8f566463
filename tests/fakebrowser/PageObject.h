// fakebrowser::PageObject: the page's own script objects (plain objects with
// a property map, arrays, native functions), as NPObjects of the browser's
// own NPClass, so the plugin reaches them through the browser functions
// exactly as it reaches a real page.
//
// Semantics follow a script engine: a missing property reads as undefined
// (the read succeeds), "delete" always succeeds, an integer identifier names
// the property "3" of a plain object and the element 3 of an array, arrays
// have "length" and "push", a function is called through invokeDefault and,
// as a member, through invoke with the object as "this". A native function
// fails the call by throwing ScriptError. The class functions never let an
// exception out to the caller. Main thread of the FakeBrowser only.
#ifndef FAKEBROWSER_PAGEOBJECT_H
#define FAKEBROWSER_PAGEOBJECT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "NpapiAbi.h"
#include "Value.h"

namespace fakebrowser {

// A script exception raised by a native page function.
class ScriptError : public std::runtime_error {
public:
    explicit ScriptError(const std::string& message) : std::runtime_error(message) {}
};

// thisValue is the object a member call was made on, undefined otherwise.
typedef std::function<Value(const Value& thisValue, const std::vector<Value>& args)> NativeFunction;

enum class PageKind { Object, Array, Function };

struct PageObject : NPObject {
    PageKind kind = PageKind::Object;
    FakeBrowser* browser = nullptr;
    std::map<std::string, Value> properties;
    std::vector<Value> elements;  // arrays
    NativeFunction function;      // functions
    // Property reads asked of the object (npGetProperty), for tests that
    // bound what a plugin reads. A read past readLimit fails and records a
    // violation, so a plugin that believes whatever "length" a page claims
    // is stopped early instead of reading on for good.
    std::size_t reads = 0;
    std::size_t readLimit = SIZE_MAX;

    // Drops everything the object holds (breaks reference cycles at teardown).
    void clear();
};

// The browser's class for page objects.
NPClass* pageClass();
// Null when object is not a page object.
PageObject* asPageObject(NPObject* object);

} // namespace fakebrowser

#endif
