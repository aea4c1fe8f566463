#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include <gtest/gtest.h>

#include "RecordingPageObject.h"
#include "method_wrappers.h"
#include "script_error.h"
#include "variant.h"

namespace {

using FB::variant;
using FB::VariantList;

// The shapes of the script methods the framework and the application bind.
class Methods {
public:
    virtual ~Methods() {}

    std::string toString()
    {
        calls.push_back("toString");
        return "[Methods]";
    }
    variant getAttribute(const std::string& name)
    {
        calls.push_back("getAttribute " + name);
        return variant(name + "!");
    }
    void setAttribute(const std::string& name, const variant& value)
    {
        calls.push_back("setAttribute " + name);
        received = value;
    }
    variant echo(const variant& value)
    {
        calls.push_back("echo");
        return value;
    }
    void updatePlugin(const std::string& url, const FB::JSObjectPtr& progress,
                      const FB::JSObjectPtr& success, const FB::JSObjectPtr& failure)
    {
        calls.push_back("updatePlugin " + url);
        callbacks = {progress, success, failure};
    }
    std::string getErrorString(int code)
    {
        calls.push_back("getErrorString " + std::to_string(code));
        return "error " + std::to_string(code);
    }
    virtual std::string kind() { return "base"; }
    void fail(int) { throw std::runtime_error("member failed"); }
    void failScript() { throw FB::invalid_member("inner"); }

    std::vector<std::string> calls;
    variant received;
    std::vector<FB::JSObjectPtr> callbacks;
};

class DerivedMethods : public Methods {
public:
    std::string kind() override { return "derived"; }
};

variant null() { return variant(FB::variant_detail::null()); }

VariantList args(std::initializer_list<variant> items) { return VariantList(items); }

class MethodWrappers : public ::testing::Test {
protected:
    FB::MethodHandler handler(const std::string& name)
    {
        if (name == "toString") return FB::bindMethod(&object, &Methods::toString);
        if (name == "getAttribute") return FB::bindMethod(&object, &Methods::getAttribute);
        if (name == "setAttribute") return FB::bindMethod(&object, &Methods::setAttribute);
        if (name == "echo") return FB::bindMethod(&object, &Methods::echo);
        if (name == "updatePlugin") return FB::bindMethod(&object, &Methods::updatePlugin);
        if (name == "getErrorString") return FB::bindMethod(&object, &Methods::getErrorString);
        ADD_FAILURE() << "no method " << name;
        return FB::MethodHandler();
    }

    // The message of the FB::invalid_arguments a call ends with.
    std::string argumentError(const std::string& method, const VariantList& in)
    {
        try {
            handler(method)(in);
        } catch (const FB::invalid_arguments& e) {
            return e.what();
        }
        ADD_FAILURE() << method << " accepted its arguments";
        return std::string();
    }

    Methods object;
};

// ---------------------------------------------------------------- argument errors

struct ArgumentErrorCase {
    const char* label;
    const char* method;
    std::function<VariantList()> arguments;
    const char* message;
};

std::ostream& operator<<(std::ostream& out, const ArgumentErrorCase& c) { return out << c.label; }

const ArgumentErrorCase kArgumentErrors[] = {
    {"getErrorString_none", "getErrorString", [] { return VariantList(); },
     "Error: Argument 1is not optional."},
    {"getErrorString_two", "getErrorString", [] { return args({variant(1), variant(2)}); },
     "Too many arguments, expected 1."},
    {"getErrorString_text", "getErrorString", [] { return args({variant("abc")}); },
     "Invalid argument conversion from Ss to i at index 1"},
    {"getErrorString_null", "getErrorString", [] { return args({null()}); },
     "Invalid argument conversion from N2FB14variant_detail4nullE to i at index 1"},
    {"getErrorString_nothing", "getErrorString", [] { return args({variant()}); },
     "Invalid argument conversion from v to i at index 1"},
    {"getErrorString_too_big", "getErrorString", [] { return args({variant(3e9)}); },
     "Invalid argument conversion from d to i at index 1"},
    {"getAttribute_none", "getAttribute", [] { return VariantList(); },
     "Error: Argument 1is not optional."},
    {"getAttribute_two", "getAttribute", [] { return args({variant("a"), variant("b")}); },
     "Too many arguments, expected 1."},
    {"getAttribute_list", "getAttribute", [] { return args({variant(VariantList())}); },
     "Invalid argument conversion from St6vectorIN2FB7variantESaIS1_EE to Ss at index 1"},
    {"echo_two", "echo", [] { return args({variant(1), variant(2)}); },
     "Too many arguments, expected 1."},
    {"setAttribute_none", "setAttribute", [] { return VariantList(); },
     "Error: Argument 1is not optional."},
    {"setAttribute_three", "setAttribute", [] { return args({variant("a"), variant(1), variant(2)}); },
     "Too many arguments, expected 2."},
    {"setAttribute_bad_name", "setAttribute", [] { return args({null(), variant(1)}); },
     "Invalid argument conversion from N2FB14variant_detail4nullE to Ss at index 1"},
    {"updatePlugin_one", "updatePlugin", [] { return args({variant("url")}); },
     "Error: Argument 4is not optional."},
    {"updatePlugin_three", "updatePlugin", [] { return args({variant("url"), null(), null()}); },
     "Error: Argument 4is not optional."},
    // A missing argument 4 is reported before a bad argument 1.
    {"updatePlugin_missing_before_bad", "updatePlugin",
     [] { return args({variant(VariantList()), null(), null()}); },
     "Error: Argument 4is not optional."},
    {"updatePlugin_five", "updatePlugin",
     [] { return args({variant("url"), null(), null(), null(), null()}); },
     "Too many arguments, expected 4."},
    {"updatePlugin_int_callback", "updatePlugin",
     [] { return args({variant("url"), null(), null(), variant(5)}); },
     "Invalid argument conversion from i to N5boost10shared_ptrIN2FB5JSAPIEEE at index 4"},
    {"updatePlugin_text_callback", "updatePlugin",
     [] { return args({variant("url"), variant("f"), null(), null()}); },
     "Invalid argument conversion from Ss to N5boost10shared_ptrIN2FB5JSAPIEEE at index 2"},
    // The highest failing position is reported.
    {"updatePlugin_all_bad", "updatePlugin",
     [] { return args({variant(VariantList()), variant(1), variant(2.5), variant(true)}); },
     "Invalid argument conversion from b to N5boost10shared_ptrIN2FB5JSAPIEEE at index 4"},
    {"updatePlugin_bad_url", "updatePlugin",
     [] { return args({variant(VariantList()), null(), null(), null()}); },
     "Invalid argument conversion from St6vectorIN2FB7variantESaIS1_EE to Ss at index 1"},
};

class ArgumentErrors : public MethodWrappers, public ::testing::WithParamInterface<ArgumentErrorCase> {};

TEST_P(ArgumentErrors, MessageAndNoCall)
{
    const VariantList in = GetParam().arguments();
    EXPECT_EQ(GetParam().message, argumentError(GetParam().method, in));
    EXPECT_TRUE(object.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Calls, ArgumentErrors, ::testing::ValuesIn(kArgumentErrors),
                         [](const ::testing::TestParamInfo<ArgumentErrorCase>& info) {
                             return std::string(info.param.label);
                         });

// Positions of more than one digit are written in full.
TEST_F(MethodWrappers, MessagesWriteNumbersInDecimal)
{
    EXPECT_STREQ("Too many arguments, expected 12.", FB::detail::methods::tooManyArguments(12).what());
    EXPECT_STREQ("Error: Argument 10is not optional.", FB::detail::methods::missingArgument(10).what());
    EXPECT_STREQ("Invalid argument conversion from v to Ss at index 123",
                 FB::detail::methods::badArgumentConversion(FB::bad_variant_cast("v", "Ss"), 123).what());
}

// ---------------------------------------------------------------- successful calls

TEST_F(MethodWrappers, ConvertedArgumentsReachTheMember)
{
    EXPECT_EQ("error 7", handler("getErrorString")(args({variant("7")})).castString());
    EXPECT_EQ("error 7", handler("getErrorString")(args({variant(7.9)})).castString());
    EXPECT_EQ("error -3", handler("getErrorString")(args({variant(-3)})).castString());
    EXPECT_EQ("error 1", handler("getErrorString")(args({variant(true)})).castString());
    EXPECT_EQ((std::vector<std::string>{"getErrorString 7", "getErrorString 7", "getErrorString -3",
                                        "getErrorString 1"}),
              object.calls);
}

TEST_F(MethodWrappers, UpdatePluginTakesNullCallbacksAsEmptyPointers)
{
    const variant result = handler("updatePlugin")(args({variant("http://x/"), null(), variant(),
                                                         variant(FB::variant_detail::empty())}));
    EXPECT_EQ(typeid(void), result.getType());
    ASSERT_EQ(3u, object.callbacks.size());
    for (const FB::JSObjectPtr& callback : object.callbacks)
        EXPECT_FALSE(callback);
    EXPECT_EQ((std::vector<std::string>{"updatePlugin http://x/"}), object.calls);
}

TEST_F(MethodWrappers, UpdatePluginReadsTheFirstArgumentAsText)
{
    handler("updatePlugin")(args({variant(true), null(), null(), null()}));
    EXPECT_EQ((std::vector<std::string>{"updatePlugin true"}), object.calls);
}

TEST_F(MethodWrappers, PageObjectArgumentsArePassedOn)
{
    const RecordingPageObjectPtr progress = RecordingPageObject::make();
    const RecordingPageObjectPtr failure = RecordingPageObject::make();
    handler("updatePlugin")(args({variant("u"), variant(progress), null(), variant(FB::JSAPIPtr(failure))}));
    ASSERT_EQ(3u, object.callbacks.size());
    EXPECT_EQ(FB::JSObjectPtr(progress), object.callbacks[0]);
    EXPECT_FALSE(object.callbacks[1]);
    EXPECT_EQ(FB::JSObjectPtr(failure), object.callbacks[2]);
}

// A page object that notes when it is asked for its inner object, which the
// object conversion does once per argument.
class OrderedPage : public RecordingPageObject {
public:
    OrderedPage(int id, std::vector<int>* order) : id(id), order(order) {}
    FB::JSAPIPtr getJSAPI() override
    {
        order->push_back(id);
        return FB::JSAPIPtr();
    }
    int id;
    std::vector<int>* order;
};

class FourObjects {
public:
    void take(const FB::JSObjectPtr&, const FB::JSObjectPtr&, const FB::JSObjectPtr&, const FB::JSObjectPtr&) {}
};

TEST(MethodWrapperOrder, ArgumentsAreConvertedFromTheLastToTheFirst)
{
    std::vector<int> order;
    VariantList in;
    for (int id = 1; id <= 4; ++id)
        in.push_back(variant(boost::make_shared<OrderedPage>(id, &order)));
    FourObjects target;
    FB::bindMethod(&target, &FourObjects::take)(in);
    EXPECT_EQ((std::vector<int>{4, 3, 2, 1}), order);
}

TEST_F(MethodWrappers, VariantParameterIsOptional)
{
    const variant none = handler("echo")(VariantList());
    EXPECT_EQ(typeid(void), none.getType());

    const variant marker = handler("echo")(args({variant(FB::variant_detail::empty())}));
    EXPECT_EQ(typeid(FB::variant_detail::empty), marker.getType());

    const variant list = handler("echo")(args({variant(args({variant(1)}))}));
    EXPECT_EQ(1u, list.cast<VariantList>().size());

    handler("setAttribute")(args({variant("name")}));
    EXPECT_EQ(typeid(void), object.received.getType());
    handler("setAttribute")(args({variant("name"), variant(5)}));
    EXPECT_EQ(5, object.received.castInt());
}

TEST_F(MethodWrappers, ResultsAreWrapped)
{
    const variant text = handler("getAttribute")(args({variant(3)}));
    ASSERT_EQ(typeid(std::string), text.getType());
    EXPECT_EQ("3!", text.castString());

    const variant nothing = handler("setAttribute")(args({variant("n"), variant(1)}));
    EXPECT_EQ(typeid(void), nothing.getType());
}

TEST_F(MethodWrappers, NoParametersIgnoresEveryArgument)
{
    for (size_t count : {0u, 1u, 5u}) {
        const variant result = handler("toString")(VariantList(count, variant(VariantList())));
        EXPECT_EQ("[Methods]", result.castString()) << count;
    }
    EXPECT_EQ(3u, object.calls.size());
}

TEST(MethodWrapperBinding, CallsTheOverrideOfAVirtualMember)
{
    DerivedMethods derived;
    EXPECT_EQ("derived", FB::bindMethod(&derived, &Methods::kind)(VariantList()).castString());
    Methods base;
    EXPECT_EQ("base", FB::bindMethod(&base, &Methods::kind)(VariantList()).castString());
}

TEST(MethodWrapperBinding, HandlersAreBoundToTheirOwnObject)
{
    Methods first, second;
    const FB::MethodHandler toFirst = FB::bindMethod(&first, &Methods::toString);
    const FB::MethodHandler toSecond = FB::bindMethod(&second, &Methods::toString);
    toFirst(VariantList());
    toFirst(VariantList());
    toSecond(VariantList());
    EXPECT_EQ(2u, first.calls.size());
    EXPECT_EQ(1u, second.calls.size());
}

TEST(MethodWrapperBinding, ErrorsOfTheMemberPassUnchanged)
{
    Methods target;
    EXPECT_THROW(FB::bindMethod(&target, &Methods::fail)(args({variant(1)})), std::runtime_error);
    try {
        FB::bindMethod(&target, &Methods::failScript)(VariantList());
        FAIL() << "nothing thrown";
    } catch (const FB::invalid_member& e) {
        EXPECT_STREQ("The specified member does not exist: inner", e.what());
    }
}

// An error of a page object asked for its inner object is no conversion
// failure and passes unchanged.
class BrokenPage : public RecordingPageObject {
public:
    FB::JSAPIPtr getJSAPI() override { throw FB::object_invalidated(); }
};

TEST_F(MethodWrappers, OtherConversionErrorsPassUnchanged)
{
    const variant broken(boost::make_shared<BrokenPage>());
    EXPECT_THROW(handler("updatePlugin")(args({variant("u"), broken, null(), null()})),
                 FB::object_invalidated);
    EXPECT_TRUE(object.calls.empty());
}

// ---------------------------------------------------------------- argument steps

TEST(ArgumentSteps, NamedStepsConvertOneArgument)
{
    using namespace FB::detail::methods;
    const VariantList in = args({variant(" 12"), variant(3.9), null()});
    EXPECT_EQ(" 12", convertStringArgument(in, 1));
    EXPECT_EQ("3.9", convertStringArgument(in, 2));
    EXPECT_EQ(12, convertIntArgument(in, 1));
    EXPECT_EQ(3, convertIntArgument(in, 2));
    EXPECT_FALSE(convertObjectArgument(in, 3));
    EXPECT_THROW(convertStringArgument(in, 4), FB::invalid_arguments);
}

TEST(ArgumentSteps, ArityIsCheckedBeforeTheLastArgument)
{
    using namespace FB::detail::methods;
    const VariantList two = args({variant(1), variant("3")});
    EXPECT_EQ("3", checkArityAndConvertString(two, 2));
    EXPECT_EQ(3, checkArityAndConvertInt(two, 2));
    EXPECT_EQ(typeid(void), checkArityAndConvertVariant(two, 3).getType());
    EXPECT_EQ(1, checkArityAndConvertVariant(args({variant(1)}), 1).castInt());
    try {
        checkArityAndConvertString(args({variant(1), variant(2), variant(VariantList())}), 2);
        FAIL() << "accepted";
    } catch (const FB::invalid_arguments& e) {
        EXPECT_STREQ("Too many arguments, expected 2.", e.what());
    }
    EXPECT_THROW(checkArityAndConvertVariant(two, 1), FB::invalid_arguments);
}

} // namespace
