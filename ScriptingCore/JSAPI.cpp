#include "JSAPI.h"

#include "JSObject.h"
#include "script_error.h"
#include "utf8_tools.h"
#include "variant.h"

namespace FB {

namespace {
const char* const kNotImplemented = "Not implemented";
}

JSAPI::JSAPI() {}

JSAPI::~JSAPI() {}

void JSAPI::shutdown() {}

void JSAPI::enterZone(int) {}

void JSAPI::leaveZone() {}

void JSAPI::setBaseZone(int) {}

int JSAPI::getBaseZone() { return 0; }

int JSAPI::getCurrentZone() { return 0; }

void JSAPI::addEventHandler(const std::string&, const JSObjectPtr&) {
    throw script_error(kNotImplemented);
}

void JSAPI::addEventHandler(const std::wstring& name, const JSObjectPtr& handler) {
    addEventHandler(wideToUtf8(name), handler);
}

void JSAPI::removeEventHandler(const std::string&, const JSObjectPtr&) {
    throw script_error(kNotImplemented);
}

void JSAPI::removeEventHandler(const std::wstring& name, const JSObjectPtr& handler) {
    removeEventHandler(wideToUtf8(name), handler);
}

void JSAPI::addEventInterface(const JSObjectPtr&) { throw script_error(kNotImplemented); }

void JSAPI::removeEventInterface(const JSObjectPtr&) { throw script_error(kNotImplemented); }

void JSAPI::getMemberNames(std::vector<std::wstring>& names) const {
    names.clear();
    std::vector<std::string> utf8Names;
    getMemberNames(utf8Names);
    for (std::vector<std::string>::const_iterator it = utf8Names.begin(); it != utf8Names.end();
         ++it)
        names.push_back(utf8ToWide(*it));
}

void JSAPI::getMemberNames(std::vector<std::wstring>* names) const { getMemberNames(*names); }

void JSAPI::getMemberNames(std::vector<std::string>* names) const { getMemberNames(*names); }

bool JSAPI::hasMethod(const std::wstring& name) const { return hasMethod(wideToUtf8(name)); }

bool JSAPI::hasMethodFunction(const std::wstring& name) const {
    return hasMethodFunction(wideToUtf8(name));
}

bool JSAPI::hasMethodFunction(const std::string&) const { return false; }

bool JSAPI::hasProperty(const std::wstring& name) const { return hasProperty(wideToUtf8(name)); }

JSAPIPtr JSAPI::getMethodFunction(const std::wstring& name) {
    return getMethodFunction(wideToUtf8(name));
}

JSAPIPtr JSAPI::getMethodFunction(const std::string&) { return JSAPIPtr(); }

variant JSAPI::getProperty(const std::wstring& name) { return getProperty(wideToUtf8(name)); }

void JSAPI::setProperty(const std::wstring& name, const variant& value) {
    setProperty(wideToUtf8(name), value);
}

void JSAPI::removeProperty(const std::wstring& name) { removeProperty(wideToUtf8(name)); }

variant JSAPI::invoke(const std::wstring& name, const VariantList& args) {
    return invoke(wideToUtf8(name), args);
}

} // namespace FB
