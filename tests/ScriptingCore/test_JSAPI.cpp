// The scriptable-object interface: wide names forward to the narrow forms,
// the base defaults, and the page-object base.
#include <functional>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <utf8.h>

#include "RecordingPageObject.h"
#include "JSAPI.h"
#include "JSObject.h"
#include "script_error.h"
#include "variant.h"

namespace {

// Implements only the narrow forms and records which one was reached, with
// what name and arguments.
class RecordingAPI : public FB::JSAPI {
public:
    using FB::JSAPI::addEventHandler;
    using FB::JSAPI::getMemberNames;
    using FB::JSAPI::getMethodFunction;
    using FB::JSAPI::getProperty;
    using FB::JSAPI::hasMethod;
    using FB::JSAPI::hasMethodFunction;
    using FB::JSAPI::hasProperty;
    using FB::JSAPI::invoke;
    using FB::JSAPI::removeEventHandler;
    using FB::JSAPI::removeProperty;
    using FB::JSAPI::setProperty;

    void invalidate() override {}
    void addEventHandler(const std::string& name, const FB::JSObjectPtr& h) override {
        record("addEventHandler", name);
        handler = h;
    }
    void removeEventHandler(const std::string& name, const FB::JSObjectPtr& h) override {
        record("removeEventHandler", name);
        handler = h;
    }
    void getMemberNames(std::vector<std::string>& out) const override {
        out.clear();
        out.insert(out.end(), names.begin(), names.end());
    }
    size_t getMemberCount() const override { return names.size(); }
    bool hasMethod(const std::string& name) const override {
        record("hasMethod", name);
        return true;
    }
    bool hasMethodFunction(const std::string& name) const override {
        record("hasMethodFunction", name);
        return true;
    }
    bool hasProperty(const std::string& name) const override {
        record("hasProperty", name);
        return true;
    }
    bool hasPropertyByIndex(int) const override { return false; }
    FB::JSAPIPtr getMethodFunction(const std::string& name) override {
        record("getMethodFunction", name);
        return shared_from_this();
    }
    FB::variant getProperty(const std::string& name) override {
        record("getProperty", name);
        return FB::variant(42);
    }
    void setProperty(const std::string& name, const FB::variant& value) override {
        record("setProperty", name);
        lastValue = value;
    }
    FB::variant getPropertyByIndex(int) override { return FB::variant(); }
    void setPropertyByIndex(int, const FB::variant&) override {}
    void removeProperty(const std::string& name) override { record("removeProperty", name); }
    void removePropertyByIndex(int) override {}
    FB::variant invoke(const std::string& name, const FB::VariantList& args) override {
        record("invoke", name);
        lastArgs = args;
        return FB::variant(std::string("result"));
    }
    FB::variant construct(const FB::VariantList&) override { return FB::variant(); }

    void record(const char* op, const std::string& name) const {
        calls.push_back(std::string(op) + ":" + name);
    }

    mutable std::vector<std::string> calls;
    std::vector<std::string> names;
    FB::JSObjectPtr handler;
    FB::variant lastValue;
    FB::VariantList lastArgs;
};

struct WideCase {
    const char* op;
    std::function<void(RecordingAPI&, const std::wstring&)> callWide;
};

void PrintTo(const WideCase& c, std::ostream* os) { *os << c.op; }

class WideForwarding : public ::testing::TestWithParam<WideCase> {
protected:
    boost::shared_ptr<RecordingAPI> api = boost::make_shared<RecordingAPI>();
};

const FB::JSObjectPtr kHandler = RecordingPageObject::make();

const WideCase kWideCases[] = {
    {"addEventHandler", [](RecordingAPI& a, const std::wstring& n) { a.addEventHandler(n, kHandler); }},
    {"removeEventHandler", [](RecordingAPI& a, const std::wstring& n) { a.removeEventHandler(n, kHandler); }},
    {"hasMethod", [](RecordingAPI& a, const std::wstring& n) { EXPECT_TRUE(a.hasMethod(n)); }},
    {"hasMethodFunction", [](RecordingAPI& a, const std::wstring& n) { EXPECT_TRUE(a.hasMethodFunction(n)); }},
    {"hasProperty", [](RecordingAPI& a, const std::wstring& n) { EXPECT_TRUE(a.hasProperty(n)); }},
    {"getMethodFunction", [](RecordingAPI& a, const std::wstring& n) {
         EXPECT_EQ(a.shared_from_this(), a.getMethodFunction(n));
     }},
    {"getProperty", [](RecordingAPI& a, const std::wstring& n) { EXPECT_EQ(42, a.getProperty(n).cast<int>()); }},
    {"setProperty", [](RecordingAPI& a, const std::wstring& n) {
         a.setProperty(n, FB::variant(7));
         EXPECT_EQ(7, a.lastValue.cast<int>());
     }},
    {"removeProperty", [](RecordingAPI& a, const std::wstring& n) { a.removeProperty(n); }},
    {"invoke", [](RecordingAPI& a, const std::wstring& n) {
         FB::VariantList args;
         args.push_back(FB::variant(1));
         args.push_back(FB::variant(std::string("two")));
         EXPECT_EQ("result", a.invoke(n, args).cast<std::string>());
         ASSERT_EQ(2u, a.lastArgs.size());
         EXPECT_EQ(1, a.lastArgs[0].cast<int>());
         EXPECT_EQ("two", a.lastArgs[1].cast<std::string>());
     }},
};

TEST_P(WideForwarding, ReachesTheNarrowFormWithTheUtf8Name) {
    GetParam().callWide(*api, L"caf\u00e9\u20ac");
    ASSERT_EQ(1u, api->calls.size());
    EXPECT_EQ(std::string(GetParam().op) + ":caf\xc3\xa9\xe2\x82\xac", api->calls[0]);
}

TEST_P(WideForwarding, ABadWideNameFailsWithoutReachingTheNarrowForm) {
    EXPECT_THROW(GetParam().callWide(*api, std::wstring(1, wchar_t(0xD800))), utf8::invalid_code_point);
    EXPECT_TRUE(api->calls.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryNameTakingOperation, WideForwarding, ::testing::ValuesIn(kWideCases),
                         [](const ::testing::TestParamInfo<WideCase>& info) {
                             return std::string(info.param.op);
                         });

TEST(WideForwarding, NarrowAndWideCallsGetTheSameHandler) {
    boost::shared_ptr<RecordingAPI> api = boost::make_shared<RecordingAPI>();
    FB::JSObjectPtr handler = RecordingPageObject::make();
    api->addEventHandler(std::wstring(L"load"), handler);
    EXPECT_EQ(handler, api->handler);
    api->handler.reset();
    api->addEventHandler(std::string("load"), handler);
    EXPECT_EQ(handler, api->handler);
    EXPECT_EQ(api->calls[0], api->calls[1]);
}

TEST(WideMemberNames, ReplaceTheVectorContentWithTheConvertedNames) {
    RecordingAPI api;
    api.names.push_back("a");
    api.names.push_back("\xc3\xa9t\xc3\xa9");
    std::vector<std::wstring> out(3, L"stale");
    api.getMemberNames(out);
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(L"a", out[0]);
    EXPECT_EQ(L"\u00e9t\u00e9", out[1]);

    std::vector<std::wstring> byPointer(1, L"stale");
    api.getMemberNames(&byPointer);
    EXPECT_EQ(out, byPointer);

    std::vector<std::string> narrow(1, "stale");
    api.getMemberNames(&narrow);
    EXPECT_EQ(api.names, narrow);
}

TEST(WideMemberNames, ABadNameFailsAndKeepsTheNamesBeforeIt) {
    RecordingAPI api;
    api.names.push_back("ok");
    api.names.push_back("\xff");
    api.names.push_back("late");
    std::vector<std::wstring> out(1, L"stale");
    EXPECT_THROW(api.getMemberNames(out), utf8::invalid_utf8);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(L"ok", out[0]);
}

TEST(JSAPIBase, OffersNoZonesAndNoFunctionObjects) {
    boost::shared_ptr<RecordingAPI> api = boost::make_shared<RecordingAPI>();
    api->enterZone(5);
    api->setBaseZone(3);
    EXPECT_EQ(0, api->getBaseZone());
    EXPECT_EQ(0, api->getCurrentZone());
    api->leaveZone();
    api->shutdown();
    EXPECT_FALSE(api->FB::JSAPI::hasMethodFunction(std::string("x")));
    EXPECT_FALSE(api->FB::JSAPI::getMethodFunction(std::string("x")));
}

// A page object that overrides none of the event operations.
TEST(JSObjectBase, RefusesEventOperationsWithNotImplemented) {
    RecordingPageObjectPtr page = RecordingPageObject::make();
    FB::JSObjectPtr other = RecordingPageObject::make();
    const std::vector<std::function<void()> > operations = {
        [&] { page->addEventHandler(std::string("e"), other); },
        [&] { page->addEventHandler(std::wstring(L"e"), other); },
        [&] { page->removeEventHandler(std::string("e"), other); },
        [&] { page->removeEventHandler(std::wstring(L"e"), other); },
        [&] { page->addEventInterface(other); },
        [&] { page->removeEventInterface(other); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        SCOPED_TRACE(i);
        try {
            operations[i]();
            ADD_FAILURE() << "no error";
        } catch (const FB::script_error& e) {
            EXPECT_STREQ("Not implemented", e.what());
        }
    }
}

// Only the abstract members are supplied; the rest is the base's.
class MinimalPage : public RecordingPageObject {
public:
    void* getHandlerIdentity() override { return FB::JSObject::getHandlerIdentity(); }
    void* getHandlerContext() override { return FB::JSObject::getHandlerContext(); }
    bool canBatchCalls() override { return FB::JSObject::canBatchCalls(); }
};

TEST(JSObjectBase, HasNoIdentityContextOrBatching) {
    MinimalPage page;
    EXPECT_EQ(NULL, page.getHandlerIdentity());
    EXPECT_EQ(NULL, page.getHandlerContext());
    EXPECT_FALSE(page.canBatchCalls());
    std::vector<FB::JSObjectPtr> none;
    page.FB::JSObject::invokeHandlerBatch("e", FB::VariantList(), none, none);
    EXPECT_TRUE(page.batches.empty());
}

} // namespace
