// Script function objects: a method handed out as a function object and
// called directly, with call and with apply, in the zone it was obtained in.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "ArgumentList.h"
#include "RecordingPageObject.h"
#include "JSAPIAuto.h"
#include "JSFunction.h"
#include "method_wrappers.h"
#include "script_error.h"
#include "variant.h"

namespace {

using testbed::list;

class Target : public FB::JSAPIAuto {
public:
    Target() : FB::JSAPIAuto("<target>") {
        addMethod("echo", FB::bindMethod(this, &Target::echo));
        addMethod("count", [this](const FB::VariantList& args) {
            zoneSeen = getCurrentZone();
            return FB::variant(static_cast<int>(args.size()));
        });
        addMethod("join", [](const FB::VariantList& args) {
            std::string out;
            for (const FB::variant& a : args)
                out += a.convertToString() + ",";
            return FB::variant(out);
        });
    }
    FB::variant echo(const FB::variant& v) { return v; }
    int zoneSeen = -1;
};
typedef boost::shared_ptr<Target> TargetPtr;


class FunctionTest : public ::testing::Test {
protected:
    FB::JSAPIPtr function(const std::string& name) {
        return target->getProperty(name).cast<FB::JSAPIPtr>();
    }
    TargetPtr target = boost::make_shared<Target>();
    FB::variant thisValue = FB::variant(FB::JSObjectPtr(RecordingPageObject::make()));
    FB::variant a = FB::variant(std::string("a"));
};

TEST_F(FunctionTest, DirectCallCallAndApplyReachTheMethod) {
    FB::JSAPIPtr echo = function("echo");
    EXPECT_EQ("a", echo->invoke("", list(a)).cast<std::string>());
    EXPECT_EQ("a", echo->invoke("call", list(thisValue, a)).cast<std::string>());
    EXPECT_EQ("a", echo->invoke("apply", list(thisValue, FB::variant(list(a)))).cast<std::string>());
    FB::JSObjectPtr pageArray = RecordingPageObject::makeArray(list(a));
    EXPECT_EQ("a", echo->invoke("apply", list(thisValue, FB::variant(pageArray))).cast<std::string>());
    EXPECT_EQ("a", echo->invoke(std::wstring(L"call"), list(thisValue, a)).cast<std::string>());
}

TEST_F(FunctionTest, CallDropsTheThisValueAndApplyUnpacksTheSecondArgument) {
    FB::JSAPIPtr join = function("join");
    FB::variant b = FB::variant(2);
    EXPECT_EQ("a,2,", join->invoke("call", list(thisValue, a, b)).cast<std::string>());
    EXPECT_EQ("a,2,", join->invoke("apply", list(thisValue, FB::variant(list(a, b)), FB::variant(9)))
                          .cast<std::string>());
    FB::JSObjectPtr pageArray = RecordingPageObject::makeArray(list(b, a));
    EXPECT_EQ("2,a,", join->invoke("apply", list(thisValue, FB::variant(pageArray))).cast<std::string>());
}

TEST_F(FunctionTest, FewerThanTwoArgumentsCallTheMethodWithNone) {
    FB::JSAPIPtr count = function("count");
    EXPECT_EQ(2, count->invoke("", list(a, a)).cast<int>());
    for (const char* how : {"call", "apply"}) {
        SCOPED_TRACE(how);
        EXPECT_EQ(0, count->invoke(how, list()).cast<int>());
        EXPECT_EQ(0, count->invoke(how, list(thisValue)).cast<int>());
    }
}

TEST_F(FunctionTest, ApplyOfANonListFails) {
    FB::JSAPIPtr echo = function("echo");
    try {
        echo->invoke("apply", list(thisValue, FB::variant(5)));
        FAIL() << "no error";
    } catch (const FB::bad_variant_cast& e) {
        EXPECT_STREQ("i", e.from);
        EXPECT_STREQ("N5boost10shared_ptrIN2FB8JSObjectEEE", e.to);
    }
}

TEST_F(FunctionTest, AnswersAsAFunctionWithoutReservedNames) {
    FB::JSAPIPtr echo = function("echo");
    for (const char* name : {"", "call", "apply", "toString"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(echo->hasMethod(std::string(name)));
        EXPECT_FALSE(echo->hasMethodFunction(std::string(name)));
    }
    EXPECT_FALSE(echo->hasMethod(std::string("echo")));
    EXPECT_FALSE(echo->hasProperty(std::string("call")));
    EXPECT_FALSE(echo->hasProperty(std::wstring(L"apply")));
    EXPECT_TRUE(echo->hasProperty(std::string("unregistered")));
    EXPECT_TRUE(echo->hasProperty(std::string("constructor")));
    EXPECT_FALSE(target->hasProperty(std::string("constructor")));
    EXPECT_TRUE(echo->getMethodFunction("toString") != NULL);
    EXPECT_TRUE(echo->getProperty("toString").is_of_type<FB::variant_detail::empty>());
}

TEST_F(FunctionTest, DescribesItselfByTheMethodName) {
    FB::JSAPIPtr echo = function("echo");
    EXPECT_EQ("echo()", echo->invoke("toString", list()).cast<std::string>());
    EXPECT_EQ("echo()", echo->getProperty("value").cast<std::string>());
    FB::JSFunction getVersion(FB::JSAPIWeakPtr(), std::wstring(L"getVersion"), 0);
    EXPECT_EQ("getVersion()", getVersion.toString());
}

TEST_F(FunctionTest, StoresAttributesLikeAnyAutomaticObject) {
    FB::JSAPIPtr echo = function("echo");
    echo->setProperty("tag", FB::variant(3));
    EXPECT_EQ(3, echo->getProperty("tag").cast<int>());
    EXPECT_EQ(3, echo->invoke("getAttribute", list(FB::variant(std::string("tag")))).cast<int>());
}

// The shutdown notice (its instance is going) drops every value the page
// stored on a function object, by name, by index, through "setAttribute" or
// as an event handler or interface; the function's own members stay, also
// one whose name the page reused for an attribute, and it still calls.
TEST_F(FunctionTest, TheShutdownNoticeDropsWhatThePageStoredOnIt) {
    FB::JSAPIPtr echo = function("echo");
    const boost::shared_ptr<RecordingPageObject> byName = RecordingPageObject::make();
    const boost::shared_ptr<RecordingPageObject> byIndex = RecordingPageObject::make();
    const boost::shared_ptr<RecordingPageObject> byScript = RecordingPageObject::make();
    const boost::shared_ptr<RecordingPageObject> handler = RecordingPageObject::make();
    const boost::shared_ptr<RecordingPageObject> eventInterface = RecordingPageObject::make();
    echo->setProperty("tag", FB::variant(FB::JSObjectPtr(byName)));
    echo->setPropertyByIndex(3, FB::variant(FB::JSObjectPtr(byIndex)));
    echo->invoke("setAttribute", list(FB::variant(std::string("s")), FB::variant(FB::JSObjectPtr(byScript))));
    echo->setProperty("toString", FB::variant(1));
    echo->addEventHandler("onping", handler);
    echo->addEventInterface(eventInterface);
    std::vector<boost::weak_ptr<RecordingPageObject> > stored;
    for (const boost::shared_ptr<RecordingPageObject>* object :
         {&byName, &byIndex, &byScript, &handler, &eventInterface}) {
        EXPECT_EQ(2, object->use_count()) << "held by the function and here";
        stored.push_back(*object);
    }
    std::vector<std::string> names;
    echo->getMemberNames(names);
    EXPECT_EQ((std::vector<std::string>{"3", "getAttribute", "s", "setAttribute", "tag", "toString",
                                        "valid", "value"}),
              names);

    echo->shutdown();
    for (size_t i = 0; i < stored.size(); ++i)
        EXPECT_EQ(1, stored[i].use_count()) << "value " << i << " is still held";
    echo->getMemberNames(names);
    EXPECT_EQ((std::vector<std::string>{"getAttribute", "setAttribute", "toString", "valid", "value"}),
              names);
    EXPECT_TRUE(echo->getProperty("tag").is_of_type<FB::variant_detail::empty>());
    EXPECT_EQ("echo()", echo->invoke("toString", list()).cast<std::string>());
    EXPECT_EQ("a", echo->invoke("", list(a)).cast<std::string>());
    boost::dynamic_pointer_cast<FB::JSAPIImpl>(echo)->fireEvent("onping", list());
    EXPECT_TRUE(handler->asyncCalls.empty());
}

TEST_F(FunctionTest, FailsOnceTheTargetIsGone) {
    FB::JSAPIPtr echo = function("echo");
    target.reset();
    for (const char* how : {"", "call", "apply"}) {
        SCOPED_TRACE(how);
        try {
            echo->invoke(how, list(thisValue, FB::variant(list(a))));
            ADD_FAILURE() << "no error";
        } catch (const FB::script_error& e) {
            EXPECT_STREQ("Invalid JSAPI object", e.what());
        }
    }
    FB::JSFunction unbound(FB::JSAPIWeakPtr(), std::string("echo"), 0);
    EXPECT_THROW(unbound.invokeDefault(list()), FB::script_error);
}

TEST_F(FunctionTest, HoldsItsTargetOnlyWeakly) {
    FB::JSAPIPtr echo = function("echo");
    boost::weak_ptr<Target> weak(target);
    target.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ("echo()", echo->invoke("toString", list()).cast<std::string>());
}

TEST_F(FunctionTest, CallsInTheZoneItWasObtainedIn) {
    target->enterZone(2);
    target->addMethod("secret", [](const FB::VariantList&) { return FB::variant(42); });
    FB::JSAPIPtr secret = function("secret");
    FB::JSAPIPtr count = function("count");
    target->leaveZone();

    EXPECT_THROW(target->invoke("secret", list()), FB::invalid_member);
    EXPECT_EQ(2, secret->getBaseZone());
    EXPECT_EQ(2, secret->getCurrentZone());
    EXPECT_EQ(42, secret->invoke("", list()).cast<int>());
    count->invoke("", list());
    EXPECT_EQ(2, target->zoneSeen);
    EXPECT_EQ(0, target->getCurrentZone());
}

TEST_F(FunctionTest, ErrorsOfTheTargetPassAfterTheZoneIsLeft) {
    FB::JSAPIPtr echo = function("echo");
    target->enterZone(1);
    FB::JSAPIPtr echoZone1 = function("echo");
    target->leaveZone();
    target->removeMethod("echo");
    try {
        echoZone1->invoke("", list(a));
        FAIL() << "no error";
    } catch (const FB::invalid_member& e) {
        EXPECT_STREQ("The specified member does not exist: echo", e.what());
    }
    EXPECT_EQ(0, target->getCurrentZone());
    std::atomic<bool> entered(false);
    std::thread other([&] {
        target->enterZone(3);
        target->leaveZone();
        entered = true;
    });
    other.join();
    EXPECT_TRUE(entered);
    target->invalidate();
    EXPECT_THROW(echo->invoke("", list(a)), FB::object_invalidated);
}

// A subclass replaces the default call; call and apply go through it.
class Recording : public FB::JSFunction {
public:
    Recording() : FB::JSFunction(FB::JSAPIWeakPtr(), std::string("rec"), 0) {}
    FB::variant invokeDefault(const FB::VariantList& args) override {
        seen.push_back(args.size());
        return FB::variant(std::string("mine"));
    }
    std::vector<size_t> seen;
};

TEST(FunctionSubclass, ReplacesTheDefaultCall) {
    boost::shared_ptr<Recording> rec = boost::make_shared<Recording>();
    FB::variant x(1);
    EXPECT_EQ("mine", rec->invoke("", list(x, x, x)).cast<std::string>());
    EXPECT_EQ("mine", rec->invoke("call", list(x, x, x)).cast<std::string>());
    EXPECT_EQ("mine", rec->invoke("apply", list(x, FB::variant(FB::VariantList(4, x)))).cast<std::string>());
    EXPECT_EQ((std::vector<size_t>{3, 2, 4}), rec->seen);
    EXPECT_THROW(rec->invoke("Call", list()), FB::invalid_member);
}

} // namespace
