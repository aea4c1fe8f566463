#include "JSFunction.h"

#include "PageReadBudget.h"
#include "ZoneGuard.h"
#include "script_error.h"
#include "utf8_tools.h"

namespace FB {

JSFunction::JSFunction(const JSAPIWeakPtr& target, const std::string& methodName, int zone)
    : JSAPIAuto(zone, methodName + "()"), target(target), methodName(methodName) {
    reservedNames.clear();
    methodFunctions = false;
}

JSFunction::JSFunction(const JSAPIWeakPtr& target, const std::wstring& methodName, int zone)
    : JSFunction(target, wideToUtf8(methodName), zone) {}

JSFunction::~JSFunction() {}

void JSFunction::shutdown() {
    dropAttributes();
    dropEventHandlers();
}

bool JSFunction::hasMethod(const std::string& name) const {
    if (name.empty() || name == "call" || name == "apply")
        return true;
    return JSAPIAuto::hasMethod(name);
}

bool JSFunction::hasMethodFunction(const std::string&) const { return false; }

bool JSFunction::hasProperty(const std::string& name) const {
    if (name == "call" || name == "apply")
        return false;
    return JSAPIAuto::hasProperty(name);
}

variant JSFunction::invoke(const std::string& name, const VariantList& args) {
    if (name.empty())
        return invokeDefault(args);
    if (name == "call")
        return call(args);
    if (name == "apply")
        return apply(args);
    return JSAPIAuto::invoke(name, args);
}

variant JSFunction::invokeDefault(const VariantList& args) {
    JSAPIPtr object(target.lock());
    if (!object)
        throw script_error("Invalid JSAPI object");
    JSAPI* const callee = object.get();
    // The guard keeps the target alive until the zone is left.
    ZoneGuard zone(std::move(object), getCurrentZone());
    return callee->invoke(methodName, args);
}

variant JSFunction::call(const VariantList& args) {
    if (args.size() < 2)
        return invokeDefault(VariantList());
    return invokeDefault(VariantList(args.begin() + 1, args.end()));
}

variant JSFunction::apply(const VariantList& args) {
    if (args.size() < 2)
        return invokeDefault(VariantList());
    // The list and whatever the method reads are one call's reading.
    PageReadBudget budget;
    return invokeDefault(args[1].convertToList());
}

} // namespace FB
