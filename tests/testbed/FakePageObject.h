// testbed::FakePageObject: a page object (FB::JSObject) as a page would
// answer it, for tests of code that reaches the page.
//
// It holds a property map (indexes are stored under their decimal text, as
// page objects write them), methods as callbacks (the empty name is the
// object itself), configurable failures per member name, and a log of every
// access with whether it ran on the host's main thread. A missing property
// reads as undefined (a variant holding nothing); invoking a missing method
// raises FB::invalid_member. Retained by a host it also logs its shutdown
// notice ("shutdown").
// Make them through testbed::FakeBrowserHost::newObject so that the host can
// break reference cycles between page objects when it goes. Safe to use from
// several threads; callbacks run without the object's lock held.
#ifndef TESTBED_FAKEPAGEOBJECT_H
#define TESTBED_FAKEPAGEOBJECT_H

#include <map>
#include <string>
#include <vector>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include "JSObject.h"
#include "variant.h"

namespace testbed {

class FakePageObject;
typedef boost::shared_ptr<FakePageObject> FakePageObjectPtr;

class FakePageObject : public FB::JSObject {
public:
    typedef boost::function<FB::variant(const FB::VariantList&)> Method;
    // Called for every access of a member name; throw from it to fail it.
    typedef boost::function<void()> Failure;

    struct Call {
        std::string op;  // "get", "set", "remove", "has", "invoke", "construct", "shutdown", ...
        std::string name;  // index accesses carry the decimal index
        FB::VariantList args;  // invoke/construct arguments, or the value set
        bool onMainThread;
    };

    explicit FakePageObject(const FB::BrowserHostPtr& host);
    ~FakePageObject() override;

    // Set-up.
    void set(const std::string& name, const FB::variant& value);
    void setIndex(int index, const FB::variant& value);
    void method(const std::string& name, const Method& m);
    void failOn(const std::string& name, const Failure& failure);
    // Drops every property, method and failure (breaks cycles).
    void clear();

    // What the page holds now.
    bool holds(const std::string& name) const;
    FB::variant value(const std::string& name) const;

    // The access log.
    std::vector<Call> calls() const;
    std::vector<Call> callsOf(const std::string& op, const std::string& name) const;

    // FB::JSAPI
    using FB::JSAPI::getMemberNames;
    using FB::JSAPI::getProperty;
    using FB::JSAPI::hasMethod;
    using FB::JSAPI::hasProperty;
    using FB::JSAPI::invoke;
    using FB::JSAPI::removeProperty;
    using FB::JSAPI::setProperty;

    void invalidate() override;
    void shutdown() override;
    void getMemberNames(std::vector<std::string>& names) const override;
    size_t getMemberCount() const override;
    bool hasMethod(const std::string& name) const override;
    bool hasProperty(const std::string& name) const override;
    bool hasPropertyByIndex(int index) const override;
    FB::variant getProperty(const std::string& name) override;
    void setProperty(const std::string& name, const FB::variant& value) override;
    FB::variant getPropertyByIndex(int index) override;
    void setPropertyByIndex(int index, const FB::variant& value) override;
    void removeProperty(const std::string& name) override;
    void removePropertyByIndex(int index) override;
    FB::variant invoke(const std::string& name, const FB::VariantList& args) override;
    FB::variant construct(const FB::VariantList& args) override;

    // FB::JSObject
    bool isValid() override;
    FB::JSAPIPtr getJSAPI() override;

private:
    void record(const std::string& op, const std::string& name, const FB::VariantList& args) const;
    // Runs the failure registered for the name, if any.
    void failIfAsked(const std::string& name) const;

    mutable boost::recursive_mutex m_mutex;
    std::map<std::string, FB::variant> m_properties;
    std::map<std::string, Method> m_methods;
    std::map<std::string, Failure> m_failures;
    mutable std::vector<Call> m_calls;
    bool m_valid;
};

} // namespace testbed

#endif
