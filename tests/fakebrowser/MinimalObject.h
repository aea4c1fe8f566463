// fakebrowser::makeMinimalMethodObject: the smallest scriptable object with
// one method, written directly against NPClass with no framework, as the
// baseline for measuring what a framework's call path costs.
//
// Like a framework object whose methods are function objects, it answers
// hasMethod with false, so a page reads the method name as a property
// (getProperty gives one function object, made once and kept) and calls that
// through invokeDefault, which answers the fixed integer. Any other name is
// not a property. Made through the browser (Origin::Browser); the caller
// holds the one reference. Main thread of the FakeBrowser only.
#ifndef FAKEBROWSER_MINIMALOBJECT_H
#define FAKEBROWSER_MINIMALOBJECT_H

#include <cstdint>
#include <string>

#include "Value.h"

namespace fakebrowser {

ObjectRef makeMinimalMethodObject(FakeBrowser& browser, const std::string& method = "answer", int32_t answer = 42);

} // namespace fakebrowser

#endif
