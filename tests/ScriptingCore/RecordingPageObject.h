// A page object for tests of the scripting object model: it records the
// asynchronous calls and handler batches it receives instead of reaching a
// browser, and serves its properties from a map (so it can stand for a
// script array: "length" plus the indexed properties).
// Validity, batching, handler context and identity are set by the test.
// Not thread-safe: use it from one thread.
#ifndef TESTS_RECORDINGPAGEOBJECT_H
#define TESTS_RECORDINGPAGEOBJECT_H

#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "JSObject.h"
#include "script_error.h"
#include "variant.h"

class RecordingPageObject : public FB::JSObject {
public:
    struct AsyncCall {
        std::string name;
        FB::VariantList args;
    };
    struct Batch {
        std::string name;
        FB::VariantList args;
        std::vector<FB::JSObjectPtr> handlers;
        std::vector<FB::JSObjectPtr> interfaces;
    };
    enum Failure { NoFailure, ScriptError, RuntimeError };

    explicit RecordingPageObject(void* context = NULL)
        : FB::JSObject(FB::BrowserHostPtr()), context(context), identity(this), valid(true),
          batching(false), failure(NoFailure) {}

    static boost::shared_ptr<RecordingPageObject> make(void* context = NULL) {
        return boost::make_shared<RecordingPageObject>(context);
    }
    // An array of the page: "length" and the elements under their indexes.
    static boost::shared_ptr<RecordingPageObject> makeArray(const FB::VariantList& elements) {
        boost::shared_ptr<RecordingPageObject> array = make();
        array->properties["length"] = FB::variant(static_cast<int>(elements.size()));
        for (size_t i = 0; i < elements.size(); ++i)
            array->properties[std::to_string(i)] = elements[i];
        return array;
    }

    // FB::JSObject
    void* getHandlerIdentity() override { return identity; }
    void* getHandlerContext() override { return context; }
    bool canBatchCalls() override { return batching; }
    void invokeHandlerBatch(const std::string& name, const FB::VariantList& args,
                            const std::vector<FB::JSObjectPtr>& handlers,
                            const std::vector<FB::JSObjectPtr>& interfaces) override {
        Batch batch = {name, args, handlers, interfaces};
        batches.push_back(batch);
    }
    bool isValid() override { return valid; }
    void invokeAsync(const std::string& name, const FB::VariantList& args) override {
        AsyncCall call = {name, args};
        asyncCalls.push_back(call);
        if (failure == ScriptError)
            throw FB::script_error("page failed");
        if (failure == RuntimeError)
            throw std::runtime_error("Cannot invoke asynchronously");
    }
    FB::JSAPIPtr getJSAPI() override { return inner; }
    // A recorded batch lists page objects, often this one: clearing the
    // records breaks that cycle.
    void forget() {
        asyncCalls.clear();
        batches.clear();
    }

    // FB::JSAPI
    void invalidate() override { valid = false; }
    void getMemberNames(std::vector<std::string>& names) const override {
        names.clear();
        for (FB::VariantMap::const_iterator it = properties.begin(); it != properties.end(); ++it)
            names.push_back(it->first);
    }
    size_t getMemberCount() const override { return properties.size(); }
    bool hasMethod(const std::string&) const override { return false; }
    bool hasProperty(const std::string& name) const override { return properties.count(name) != 0; }
    bool hasPropertyByIndex(int index) const override { return hasProperty(std::to_string(index)); }
    FB::variant getProperty(const std::string& name) override {
        FB::VariantMap::const_iterator it = properties.find(name);
        if (it == properties.end())
            return FB::variant(FB::variant_detail::empty());
        return it->second;
    }
    void setProperty(const std::string& name, const FB::variant& value) override {
        properties[name] = value;
    }
    FB::variant getPropertyByIndex(int index) override { return getProperty(std::to_string(index)); }
    void setPropertyByIndex(int index, const FB::variant& value) override {
        setProperty(std::to_string(index), value);
    }
    void removeProperty(const std::string& name) override { properties.erase(name); }
    void removePropertyByIndex(int index) override { removeProperty(std::to_string(index)); }
    FB::variant invoke(const std::string& name, const FB::VariantList&) override {
        throw FB::invalid_member(name);
    }
    FB::variant construct(const FB::VariantList&) override {
        throw FB::invalid_member("constructor");
    }

    void* context;
    void* identity;
    bool valid;
    bool batching;
    Failure failure;
    FB::JSAPIPtr inner;
    FB::VariantMap properties;
    std::vector<AsyncCall> asyncCalls;
    std::vector<Batch> batches;
};

typedef boost::shared_ptr<RecordingPageObject> RecordingPageObjectPtr;

#endif
