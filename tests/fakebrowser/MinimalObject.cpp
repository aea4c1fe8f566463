#include "MinimalObject.h"

#include <new>

#include "FakeBrowser.h"

namespace fakebrowser {

namespace {

struct MinimalFunction : NPObject {
    int32_t answer = 0;
};

struct MinimalObject : NPObject {
    NPIdentifier method = nullptr;
    NPObject* function = nullptr;  // one reference, the object's own
};

NPObject* allocateFunction(NPP, NPClass*)
{
    return new (std::nothrow) MinimalFunction;
}

void deallocateFunction(NPObject* object)
{
    delete static_cast<MinimalFunction*>(object);
}

bool invokeFunction(NPObject* object, const NPVariant*, uint32_t, NPVariant* result)
{
    result->type = NPVariantType_Int32;
    result->value.intValue = static_cast<MinimalFunction*>(object)->answer;
    return true;
}

NPClass g_functionClass = {NP_CLASS_STRUCT_VERSION_CTOR, allocateFunction, deallocateFunction, nullptr, nullptr,
                           nullptr, invokeFunction, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

NPObject* allocateObject(NPP, NPClass*)
{
    return new (std::nothrow) MinimalObject;
}

void deallocateObject(NPObject* object)
{
    MinimalObject* self = static_cast<MinimalObject*>(object);
    if (self->function)
        FakeBrowser::current()->releaseBrowserReference(self->function);
    delete self;
}

bool hasMethod(NPObject*, NPIdentifier)
{
    return false;
}

bool hasProperty(NPObject* object, NPIdentifier name)
{
    return name == static_cast<MinimalObject*>(object)->method;
}

bool getProperty(NPObject* object, NPIdentifier name, NPVariant* result)
{
    MinimalObject* self = static_cast<MinimalObject*>(object);
    if (name != self->method)
        return false;
    // The result carries a reference of its own for the caller.
    FakeBrowser::current()->objects().retain(self->function, false);
    result->type = NPVariantType_Object;
    result->value.objectValue = self->function;
    return true;
}

NPClass g_objectClass = {NP_CLASS_STRUCT_VERSION_CTOR, allocateObject, deallocateObject, nullptr, hasMethod,
                         nullptr, nullptr, hasProperty, getProperty, nullptr, nullptr, nullptr, nullptr};

} // namespace

ObjectRef makeMinimalMethodObject(FakeBrowser& browser, const std::string& method, int32_t answer)
{
    ObjectRef function = browser.createObject(&g_functionClass);
    ObjectRef object = browser.createObject(&g_objectClass);
    if (!function || !object)
        return ObjectRef();
    static_cast<MinimalFunction*>(function.get())->answer = answer;
    MinimalObject* self = static_cast<MinimalObject*>(object.get());
    self->method = stringIdentifier(method);
    self->function = function.release();
    return object;
}

} // namespace fakebrowser
