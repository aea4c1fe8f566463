#include "FakePageObject.h"

#include <boost/lexical_cast.hpp>

#include "BrowserHost.h"
#include "script_error.h"

namespace testbed {

namespace {

std::string indexName(int index)
{
    return boost::lexical_cast<std::string>(index);
}

} // namespace

FakePageObject::FakePageObject(const FB::BrowserHostPtr& host) : FB::JSObject(host), m_valid(true)
{
}

FakePageObject::~FakePageObject() {}

void FakePageObject::set(const std::string& name, const FB::variant& value)
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    m_properties[name] = value;
}

void FakePageObject::setIndex(int index, const FB::variant& value)
{
    set(indexName(index), value);
}

void FakePageObject::method(const std::string& name, const Method& m)
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    m_methods[name] = m;
}

void FakePageObject::failOn(const std::string& name, const Failure& failure)
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    m_failures[name] = failure;
}

void FakePageObject::clear()
{
    // Destroyed outside the lock: the values may be page objects of their own.
    std::map<std::string, FB::variant> properties;
    std::map<std::string, Method> methods;
    std::map<std::string, Failure> failures;
    {
        boost::recursive_mutex::scoped_lock lock(m_mutex);
        properties.swap(m_properties);
        methods.swap(m_methods);
        failures.swap(m_failures);
    }
}

bool FakePageObject::holds(const std::string& name) const
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    return m_properties.count(name) != 0;
}

FB::variant FakePageObject::value(const std::string& name) const
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    std::map<std::string, FB::variant>::const_iterator it = m_properties.find(name);
    return it == m_properties.end() ? FB::variant() : it->second;
}

std::vector<FakePageObject::Call> FakePageObject::calls() const
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    return m_calls;
}

std::vector<FakePageObject::Call> FakePageObject::callsOf(const std::string& op,
                                                          const std::string& name) const
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    std::vector<Call> out;
    for (std::vector<Call>::const_iterator it = m_calls.begin(); it != m_calls.end(); ++it) {
        if (it->op == op && it->name == name)
            out.push_back(*it);
    }
    return out;
}

void FakePageObject::record(const std::string& op, const std::string& name,
                            const FB::VariantList& args) const
{
    const FB::BrowserHostPtr host(getHost());
    const bool onMain = host && host->isMainThread();
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    Call call = {op, name, args, onMain};
    m_calls.push_back(call);
}

void FakePageObject::failIfAsked(const std::string& name) const
{
    Failure failure;
    {
        boost::recursive_mutex::scoped_lock lock(m_mutex);
        std::map<std::string, Failure>::const_iterator it = m_failures.find(name);
        if (it == m_failures.end())
            return;
        failure = it->second;
    }
    failure();
}

void FakePageObject::invalidate()
{
    record("invalidate", "", FB::VariantList());
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    m_valid = false;
}

void FakePageObject::shutdown()
{
    record("shutdown", "", FB::VariantList());
}

void FakePageObject::getMemberNames(std::vector<std::string>& names) const
{
    record("names", "", FB::VariantList());
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    names.clear();
    for (std::map<std::string, FB::variant>::const_iterator it = m_properties.begin();
         it != m_properties.end(); ++it)
        names.push_back(it->first);
    for (std::map<std::string, Method>::const_iterator it = m_methods.begin();
         it != m_methods.end(); ++it) {
        if (!it->first.empty() && !m_properties.count(it->first))
            names.push_back(it->first);
    }
}

size_t FakePageObject::getMemberCount() const
{
    std::vector<std::string> names;
    getMemberNames(names);
    return names.size();
}

bool FakePageObject::hasMethod(const std::string& name) const
{
    record("hasMethod", name, FB::VariantList());
    failIfAsked(name);
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    return m_methods.count(name) != 0;
}

bool FakePageObject::hasProperty(const std::string& name) const
{
    record("has", name, FB::VariantList());
    failIfAsked(name);
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    return m_properties.count(name) != 0;
}

bool FakePageObject::hasPropertyByIndex(int index) const
{
    return hasProperty(indexName(index));
}

FB::variant FakePageObject::getProperty(const std::string& name)
{
    record("get", name, FB::VariantList());
    failIfAsked(name);
    return value(name);
}

void FakePageObject::setProperty(const std::string& name, const FB::variant& value)
{
    record("set", name, FB::makeVariantList(value));
    failIfAsked(name);
    set(name, value);
}

FB::variant FakePageObject::getPropertyByIndex(int index)
{
    return getProperty(indexName(index));
}

void FakePageObject::setPropertyByIndex(int index, const FB::variant& value)
{
    setProperty(indexName(index), value);
}

void FakePageObject::removeProperty(const std::string& name)
{
    record("remove", name, FB::VariantList());
    failIfAsked(name);
    FB::variant removed;
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    std::map<std::string, FB::variant>::iterator it = m_properties.find(name);
    if (it != m_properties.end()) {
        removed = it->second;
        m_properties.erase(it);
    }
}

void FakePageObject::removePropertyByIndex(int index)
{
    removeProperty(indexName(index));
}

FB::variant FakePageObject::invoke(const std::string& name, const FB::VariantList& args)
{
    record("invoke", name, args);
    failIfAsked(name);
    Method m;
    {
        boost::recursive_mutex::scoped_lock lock(m_mutex);
        std::map<std::string, Method>::const_iterator it = m_methods.find(name);
        if (it == m_methods.end())
            throw FB::invalid_member(name);
        m = it->second;
    }
    return m(args);
}

FB::variant FakePageObject::construct(const FB::VariantList& args)
{
    record("construct", "", args);
    return FB::variant();
}

bool FakePageObject::isValid()
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    return m_valid;
}

FB::JSAPIPtr FakePageObject::getJSAPI()
{
    return FB::JSAPIPtr();
}

} // namespace testbed
