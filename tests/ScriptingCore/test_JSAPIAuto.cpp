// The automatic scriptable object: registries of methods, properties and
// attributes answering by name, zones, default members, reserved names,
// dynamic attributes, invalidation and events through attributes.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <boost/function.hpp>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "ArgumentList.h"
#include "BackgroundCall.h"
#include "RecordingPageObject.h"
#include "JSAPIAuto.h"
#include "JSFunction.h"
#include "method_wrappers.h"
#include "script_error.h"
#include "variant.h"

namespace {

using testbed::list;

// A registered object of the kind the application writes.
class Sample : public FB::JSAPIAuto {
public:
    Sample() : FB::JSAPIAuto("<sample>"), stored(0) {
        addMethod("echo", FB::bindMethod(this, &Sample::echo));
        addMethod("twice", FB::bindMethod(this, &Sample::twice));
        FB::JSAPIAuto::PropertyAccessors count;
        count.getter = [this] { return FB::variant(stored); };
        count.setter = [this](const FB::variant& v) { stored = v.convertToInt(); };
        addProperty("count", count);
    }

    FB::variant echo(const FB::variant& v) { return v; }
    std::string twice(const std::string& s) { return s + s; }

    // The flags a deriving class may set.
    using FB::JSAPIAuto::dynamicAttributes;
    using FB::JSAPIAuto::methodFunctions;
    using FB::JSAPIAuto::removableProperties;

    // Recorded calls may hold this object: forget the page objects so that
    // the two can go.
    void dropAll() {
        eventHandlers.clear();
        attributes.clear();
    }

    int stored;
};
typedef boost::shared_ptr<Sample> SamplePtr;

template <class Error, class F>
void expectError(F f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no error; expected: " << message;
    } catch (const Error& e) {
        EXPECT_EQ(message, e.what());
    }
}

bool isNoValue(const FB::variant& v) { return v.is_of_type<FB::variant_detail::empty>(); }


std::vector<std::string> names(const FB::JSAPI& api) {
    std::vector<std::string> out(1, "stale");
    api.getMemberNames(out);
    return out;
}

class AutoTest : public ::testing::Test {
protected:
    SamplePtr api = boost::make_shared<Sample>();
};

// Default members ---------------------------------------------------------------

TEST(DefaultMembers, AFreshObjectListsTheFiveDefaultsInByteOrder) {
    boost::shared_ptr<FB::JSAPIAuto> api = boost::make_shared<FB::JSAPIAuto>("<d>");
    const std::vector<std::string> expected = {"getAttribute", "setAttribute", "toString", "valid",
                                               "value"};
    EXPECT_EQ(expected, names(*api));
    EXPECT_EQ(5u, api->getMemberCount());
    std::vector<std::wstring> wide;
    api->getMemberNames(wide);
    EXPECT_EQ((std::vector<std::wstring>{L"getAttribute", L"setAttribute", L"toString", L"valid",
                                         L"value"}),
              wide);
}

TEST(DefaultMembers, AreRecordedInZoneZeroWhateverTheObjectsZone) {
    boost::shared_ptr<FB::JSAPIAuto> api = boost::make_shared<FB::JSAPIAuto>(2, "<z>");
    EXPECT_EQ(2, api->getCurrentZone());
    api->addMethod("inTwo", FB::MethodHandler());
    api->setBaseZone(0);
    const std::vector<std::string> expected = {"getAttribute", "setAttribute", "toString", "valid",
                                               "value"};
    EXPECT_EQ(expected, names(*api));
    EXPECT_EQ("<z>", api->invoke("toString", list()).cast<std::string>());
}

TEST_F(AutoTest, ListsRegisteredMembersWithTheDefaults) {
    api->setProperty("zeta", FB::variant(1));
    const std::vector<std::string> expected = {"count",    "echo",  "getAttribute", "setAttribute",
                                               "toString", "twice", "valid",        "value",
                                               "zeta"};
    EXPECT_EQ(expected, names(*api));
    EXPECT_EQ(expected.size(), api->getMemberCount());
}

TEST_F(AutoTest, ValueAndValidReadTheDescriptionAndTrueAndIgnoreAssignment) {
    EXPECT_EQ("<sample>", api->getProperty("value").cast<std::string>());
    EXPECT_TRUE(api->getProperty("valid").cast<bool>());
    api->setProperty("value", FB::variant(std::string("changed")));
    api->setProperty("valid", FB::variant(false));
    EXPECT_EQ("<sample>", api->getProperty("value").cast<std::string>());
    EXPECT_TRUE(api->getProperty("valid").cast<bool>());
    EXPECT_EQ("<sample>", api->toString());
}

TEST_F(AutoTest, DefaultMethodsServeScript) {
    EXPECT_EQ("<sample>", api->invoke("toString", list(FB::variant(1), FB::variant(2))).cast<std::string>());
    EXPECT_TRUE(api->invoke("setAttribute", list(FB::variant(std::string("a")), FB::variant(5)))
                    .getType() == typeid(void));
    EXPECT_EQ(5, api->invoke("getAttribute", list(FB::variant(std::string("a")))).cast<int>());
    EXPECT_EQ(5, api->getProperty("a").cast<int>());

    api->invoke("setAttribute", list(FB::variant(std::string("b"))));
    EXPECT_TRUE(api->getAttribute("b").getType() == typeid(void));
    EXPECT_TRUE(isNoValue(api->invoke("getAttribute", list(FB::variant(std::string("none"))))));

    expectError<FB::invalid_arguments>([&] { api->invoke("setAttribute", list()); },
                                       "Error: Argument 1is not optional.");
    expectError<FB::invalid_arguments>(
        [&] { api->invoke("getAttribute", list(FB::variant(std::string("a")), FB::variant(1))); },
        "Too many arguments, expected 1.");
}

// Reserved names and dynamic attributes ---------------------------------------------

class ReservedNames : public ::testing::TestWithParam<const char*> {};

TEST_P(ReservedNames, AreNotClaimedByDynamicAttributesNorListed) {
    SamplePtr api = boost::make_shared<Sample>();
    EXPECT_FALSE(api->hasProperty(std::string(GetParam())));
    std::vector<std::string> listed = names(*api);
    EXPECT_EQ(listed.end(), std::find(listed.begin(), listed.end(), GetParam()));
    // Registered, the name is a property like any other.
    api->setProperty(GetParam(), FB::variant(1));
    EXPECT_TRUE(api->hasProperty(std::string(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(All13, ReservedNames,
                         ::testing::Values("offsetWidth", "offsetHeight", "width", "height",
                                           "attributes", "nodeType", "namespaceURI", "localName",
                                           "wrappedJSObject", "prototype", "style", "id",
                                           "constructor"));

TEST_F(AutoTest, DynamicAttributesAnswerUnknownNamesAndCreateThemOnAssignment) {
    EXPECT_TRUE(api->hasProperty(std::string("unknown")));
    EXPECT_TRUE(isNoValue(api->getProperty("unknown")));
    EXPECT_TRUE(api->hasPropertyByIndex(-7));
    EXPECT_TRUE(api->hasPropertyByIndex(123456));

    api->setProperty("fresh", FB::variant(std::string("v")));
    EXPECT_EQ("v", api->getProperty("fresh").cast<std::string>());
    std::vector<std::string> listed = names(*api);
    EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), "fresh"));
    api->setAttribute("fresh", FB::variant(2));
    EXPECT_EQ(2, api->getProperty("fresh").cast<int>());
    api->removeProperty("fresh");
    EXPECT_TRUE(isNoValue(api->getProperty("fresh")));
    EXPECT_EQ(names(*api).size(), api->getMemberCount());
}

TEST_F(AutoTest, ReadOnlyAttributesRefuseSetAttributeButNotAssignment) {
    api->addAttribute("x", FB::variant(1), true);
    expectError<FB::script_error>([&] { api->setAttribute("x", FB::variant(3)); },
                                  "Cannot set read-only property x");
    expectError<FB::script_error>([&] { api->removeAttribute("x"); },
                                  "Cannot remove read-only property x");
    api->removeProperty("x");
    EXPECT_EQ(1, api->getProperty("x").cast<int>());

    api->setProperty("x", FB::variant(2));
    EXPECT_EQ(2, api->getProperty("x").cast<int>());
    api->setAttribute("x", FB::variant(4));
    EXPECT_EQ(4, api->getAttribute("x").cast<int>());
}

TEST_F(AutoTest, AddAttributeReplacesAReadOnlyAttribute) {
    api->addAttribute("x", FB::variant(1), true);
    api->addAttribute("x", FB::variant(2), false);
    api->setAttribute("x", FB::variant(3));
    EXPECT_EQ(3, api->getAttribute("x").cast<int>());
    api->removeAttribute("x");
    EXPECT_TRUE(isNoValue(api->getAttribute("x")));
    api->removeAttribute("absent");
}

// Without dynamic attributes, unknown names are errors.
class StrictTest : public AutoTest {
protected:
    void SetUp() override { api->dynamicAttributes = false; }
};

TEST_F(StrictTest, UnknownNamesAreInvalidMembers) {
    const char* const missing = "The specified member does not exist: ";
    EXPECT_FALSE(api->hasProperty(std::string("unknown")));
    EXPECT_FALSE(api->hasPropertyByIndex(4));
    expectError<FB::invalid_member>([&] { api->getProperty("unknown"); }, std::string(missing) + "unknown");
    expectError<FB::invalid_member>([&] { api->setProperty("unknown", FB::variant(1)); },
                                    std::string(missing) + "unknown");
    expectError<FB::invalid_member>([&] { api->getPropertyByIndex(4); }, std::string(missing) + "4");
    expectError<FB::invalid_member>([&] { api->setPropertyByIndex(-4, FB::variant(1)); },
                                    std::string(missing) + "-4");
    expectError<FB::invalid_member>([&] { api->removePropertyByIndex(4); }, std::string(missing) + "4");
}

TEST_F(StrictTest, OnlyWritableAttributesTakeAssignment) {
    api->addAttribute("w", FB::variant(1), false);
    api->addAttribute("r", FB::variant(1), true);
    api->addAttribute("4", FB::variant(1), false);
    api->addAttribute("5", FB::variant(1), true);
    api->setProperty("w", FB::variant(2));
    EXPECT_EQ(2, api->getProperty("w").cast<int>());
    EXPECT_THROW(api->setProperty("r", FB::variant(2)), FB::invalid_member);
    EXPECT_EQ(1, api->getProperty("r").cast<int>());
    EXPECT_TRUE(api->hasPropertyByIndex(4));
    api->setPropertyByIndex(4, FB::variant(6));
    EXPECT_EQ(6, api->getPropertyByIndex(4).cast<int>());
    EXPECT_THROW(api->setPropertyByIndex(5, FB::variant(6)), FB::invalid_member);
    // Removing needs dynamic attributes.
    EXPECT_THROW(api->removePropertyByIndex(4), FB::invalid_member);
    api->removeProperty("w");
    EXPECT_EQ(2, api->getProperty("w").cast<int>());
}

// Methods ---------------------------------------------------------------------------

TEST_F(AutoTest, InvokeCallsTheRegisteredMethodWithConvertedArguments) {
    EXPECT_EQ("abab", api->invoke("twice", list(FB::variant(std::string("ab")))).cast<std::string>());
    EXPECT_EQ("77", api->invoke(std::wstring(L"twice"), list(FB::variant(7))).cast<std::string>());
    EXPECT_EQ(3.5, api->invoke("echo", list(FB::variant(3.5))).cast<double>());
    EXPECT_TRUE(api->hasMethod(std::string("echo")));
    EXPECT_TRUE(api->hasMethod(std::wstring(L"echo")));
    EXPECT_FALSE(api->hasMethod(std::string("count")));
}

TEST_F(AutoTest, InvokeOfWhatIsNoMethodIsAnInvalidMember) {
    api->setProperty("attr", FB::variant(1));
    for (const char* name : {"unregistered", "count", "attr", ""}) {
        SCOPED_TRACE(name);
        expectError<FB::invalid_member>([&] { api->invoke(name, list()); },
                                        std::string("The specified member does not exist: ") + name);
    }
}

TEST_F(AutoTest, ConstructIsRefused) {
    expectError<FB::invalid_member>([&] { api->construct(list()); },
                                    "The specified member does not exist: constructor");
}

TEST_F(AutoTest, AFailedConversionInAMethodGetterOrSetterBecomesAnArgumentError) {
    api->addMethod("strict", [](const FB::VariantList& args) { return FB::variant(args.at(0).cast<int>()); });
    const std::string message = "Could not convert from Ss to i";
    expectError<FB::invalid_arguments>([&] { api->invoke("strict", list(FB::variant(std::string("7")))); },
                                       message);
    FB::JSAPIAuto::PropertyAccessors accessors;
    accessors.getter = [] { return FB::variant(FB::variant(std::string("x")).cast<int>()); };
    accessors.setter = [](const FB::variant& v) { v.cast<int>(); };
    api->addProperty("typed", accessors);
    expectError<FB::invalid_arguments>([&] { api->getProperty("typed"); }, message);
    expectError<FB::invalid_arguments>([&] { api->setProperty("typed", FB::variant(std::string("7"))); },
                                       message);
    // The converting setter of "count" fails the same way, with its own names.
    expectError<FB::invalid_arguments>([&] { api->setProperty("count", FB::variant(FB::VariantList())); },
                                       "Could not convert from St6vectorIN2FB7variantESaIS1_EE to i");
}

TEST_F(AutoTest, OtherErrorsOfAMethodPassUnchanged) {
    api->addMethod("throws", [](const FB::VariantList&) -> FB::variant { throw FB::invalid_member("inner"); });
    api->addMethod("std", [](const FB::VariantList&) -> FB::variant { throw std::out_of_range("range"); });
    expectError<FB::invalid_member>([&] { api->invoke("throws", list()); },
                                    "The specified member does not exist: inner");
    EXPECT_THROW(api->invoke("std", list()), std::out_of_range);
    // The wrappers' own errors are not rewritten.
    expectError<FB::invalid_arguments>([&] { api->invoke("twice", list(FB::variant(FB::VariantMap()))); },
                                       "Invalid argument conversion from "
                                       "St3mapISsN2FB7variantESt4lessISsESaISt4pairIKSsS1_EEE to Ss at index 1");
}

TEST_F(AutoTest, EmptyCallablesRaiseBadFunctionCall) {
    api->addMethod("hollow", FB::MethodHandler());
    api->addProperty("hollow", FB::JSAPIAuto::PropertyAccessors());
    EXPECT_THROW(api->invoke("hollow", list()), boost::bad_function_call);
    EXPECT_THROW(api->getProperty("hollow"), boost::bad_function_call);
    EXPECT_THROW(api->setProperty("hollow", FB::variant(1)), boost::bad_function_call);
}

TEST_F(AutoTest, AMethodMayCallBackIntoItsObject) {
    Sample* self = api.get();
    api->addMethod("nested", [self](const FB::VariantList&) {
        return self->invoke("twice", list(self->getProperty("count")));
    });
    api->setProperty("count", FB::variant(4));
    EXPECT_EQ("44", api->invoke("nested", list()).cast<std::string>());
}

TEST_F(AutoTest, RegistrationsReplaceAndRemove) {
    api->addMethod(std::wstring(L"echo"), [](const FB::VariantList&) { return FB::variant(1); });
    EXPECT_EQ(1, api->invoke("echo", list(FB::variant(9))).cast<int>());
    api->removeMethod(std::wstring(L"echo"));
    EXPECT_FALSE(api->hasMethod(std::string("echo")));
    api->removeMethod("never");

    FB::JSAPIAuto::PropertyAccessors fixed;
    fixed.getter = [] { return FB::variant(8); };
    api->addProperty(std::wstring(L"count"), fixed);
    EXPECT_EQ(8, api->getProperty("count").cast<int>());
    api->removeAccessorProperty(std::wstring(L"count"));
    EXPECT_TRUE(isNoValue(api->getProperty("count")));
    std::vector<std::string> listed = names(*api);
    EXPECT_EQ(listed.end(), std::find(listed.begin(), listed.end(), "count"));
}

TEST_F(AutoTest, AnAccessorPropertyHidesAMethodAndAMethodHidesAnAttribute) {
    api->setAttribute("echo", FB::variant(5));
    FB::variant read = api->getProperty("echo");
    ASSERT_TRUE(read.is_of_type<FB::JSAPIPtr>());
    EXPECT_EQ("echo()", read.cast<FB::JSAPIPtr>()->invoke("toString", list()).cast<std::string>());

    FB::JSAPIAuto::PropertyAccessors accessors;
    accessors.getter = [] { return FB::variant(std::string("property")); };
    api->addProperty("echo", accessors);
    EXPECT_EQ("property", api->getProperty("echo").cast<std::string>());
}

TEST_F(AutoTest, RemovingAnAttributeOfAMethodsNameHidesTheMethod) {
    api->setAttribute("echo", FB::variant(5));
    api->removeAttribute("echo");
    EXPECT_FALSE(api->hasMethod(std::string("echo")));
    EXPECT_THROW(api->invoke("echo", list()), FB::invalid_member);
    api->addMethod("echo", FB::bindMethod(api.get(), &Sample::echo));
    EXPECT_TRUE(api->hasMethod(std::string("echo")));
}

// One zone entry per name, whichever kind of member made it: the method
// comes back with any registration of its name, and a removed method stays
// gone whatever else is registered under its name afterwards.
TEST_F(AutoTest, AZoneEntryMadeByAnyMemberKindServesTheNamesMethod) {
    api->setAttribute("echo", FB::variant(5));
    api->removeAttribute("echo");
    api->addAttribute("echo", FB::variant(6), false);
    EXPECT_TRUE(api->hasMethod(std::string("echo")));
    EXPECT_EQ(3, api->invoke("echo", list(FB::variant(3))).cast<int>());

    api->removeMethod("echo");
    api->setAttribute("echo", FB::variant(7));
    EXPECT_FALSE(api->hasMethod(std::string("echo")));
    EXPECT_THROW(api->invoke("echo", list(FB::variant(3))), FB::invalid_member);
    EXPECT_EQ(7, api->getProperty("echo").cast<int>());

    FB::JSAPIAuto::PropertyAccessors fixed;
    fixed.getter = [] { return FB::variant(8); };
    api->addProperty("twice", fixed);
    api->removeAccessorProperty("twice");
    EXPECT_FALSE(api->hasMethod(std::string("twice")));
    api->addProperty("twice", fixed);
    EXPECT_TRUE(api->hasMethod(std::string("twice")));
    EXPECT_EQ(8, api->getProperty("twice").cast<int>());
}

// A name just looked up and then removed, whatever its kind, is gone for
// the next lookup; a name registered in its place is found.
TEST_F(AutoTest, ANameLookedUpThenRemovedIsGone) {
    struct Case {
        const char* name;
        std::function<void(Sample&)> add;
        std::function<void(Sample&)> remove;
    };
    FB::JSAPIAuto::PropertyAccessors fixed;
    fixed.getter = [] { return FB::variant(8); };
    const Case cases[] = {
        {"m", [](Sample& s) { s.addMethod("m", [](const FB::VariantList&) { return FB::variant(1); }); },
         [](Sample& s) { s.removeMethod("m"); }},
        {"p", [&](Sample& s) { s.addProperty("p", fixed); }, [](Sample& s) { s.removeAccessorProperty("p"); }},
        {"a", [](Sample& s) { s.setAttribute("a", FB::variant(2)); }, [](Sample& s) { s.removeAttribute("a"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.add(*api);
        EXPECT_TRUE(api->hasProperty(c.name));
        EXPECT_FALSE(isNoValue(api->getProperty(c.name)));
        c.remove(*api);
        EXPECT_FALSE(api->hasMethod(std::string(c.name)));
        EXPECT_TRUE(isNoValue(api->getProperty(c.name)));
        std::vector<std::string> listed = names(*api);
        EXPECT_EQ(listed.end(), std::find(listed.begin(), listed.end(), c.name));
        // Another name takes the freed entry's place; the removed one stays gone.
        api->setAttribute(std::string(c.name) + "2", FB::variant(3));
        EXPECT_EQ(3, api->getProperty(std::string(c.name) + "2").cast<int>());
        EXPECT_TRUE(isNoValue(api->getProperty(c.name)));
        EXPECT_THROW(api->invoke(c.name, list()), FB::invalid_member);
    }
}

TEST_F(AutoTest, RemovePropertyRemovesAccessorsOnlyWhenAllowed) {
    api->removeProperty("count");
    EXPECT_EQ(0, api->getProperty("count").cast<int>());
    api->removeProperty("echo");
    EXPECT_TRUE(api->hasMethod(std::string("echo")));
    expectError<FB::invalid_member>([&] { api->removeProperty("unknown"); },
                                    "The specified member does not exist: unknown");

    api->removableProperties = true;
    api->removeProperty(std::wstring(L"count"));
    EXPECT_TRUE(isNoValue(api->getProperty("count")));
}

TEST_F(AutoTest, IndexesAreAttributesNamedByTheirDecimalText) {
    api->setPropertyByIndex(3, FB::variant(std::string("v")));
    EXPECT_EQ("v", api->getPropertyByIndex(3).cast<std::string>());
    EXPECT_EQ("v", api->getProperty("3").cast<std::string>());
    api->setPropertyByIndex(-12, FB::variant(1));
    EXPECT_EQ(1, api->getAttribute("-12").cast<int>());
    EXPECT_TRUE(isNoValue(api->getPropertyByIndex(4)));

    api->removePropertyByIndex(3);
    EXPECT_TRUE(isNoValue(api->getProperty("3")));
    expectError<FB::invalid_member>([&] { api->removePropertyByIndex(3); },
                                    "The specified member does not exist: 3");
    api->addAttribute("5", FB::variant(1), true);
    EXPECT_THROW(api->removePropertyByIndex(5), FB::invalid_member);
    api->setPropertyByIndex(5, FB::variant(2));
    EXPECT_EQ(2, api->getPropertyByIndex(5).cast<int>());
}

// Zones -----------------------------------------------------------------------------

// Registers, in zone 2, the method "secret" (answers 42) and the accessor
// property "hidden" (reads 1).
void registerSecretsInZoneTwo(FB::JSAPIAuto& api) {
    api.enterZone(2);
    api.addMethod("secret", [](const FB::VariantList&) { return FB::variant(42); });
    FB::JSAPIAuto::PropertyAccessors accessors;
    accessors.getter = [] { return FB::variant(1); };
    accessors.setter = [](const FB::variant&) {};
    api.addProperty("hidden", accessors);
    api.leaveZone();
}

TEST_F(AutoTest, AMemberIsVisibleFromTheZoneItWasRegisteredIn) {
    registerSecretsInZoneTwo(*api);

    for (int zone : {0, 1}) {
        SCOPED_TRACE(zone);
        api->enterZone(zone);
        std::vector<std::string> listed = names(*api);
        EXPECT_EQ(listed.end(), std::find(listed.begin(), listed.end(), "secret"));
        EXPECT_FALSE(api->hasMethod(std::string("secret")));
        EXPECT_THROW(api->invoke("secret", list()), FB::invalid_member);
        EXPECT_THROW(api->getMethodFunction("secret"), FB::invalid_member);
        EXPECT_TRUE(isNoValue(api->getProperty("hidden")));
        EXPECT_THROW(api->setProperty("hidden", FB::variant(1)), FB::invalid_member);
        EXPECT_THROW(api->removeProperty("hidden"), FB::invalid_member);
        api->leaveZone();
    }
    for (int zone : {2, 3}) {
        SCOPED_TRACE(zone);
        api->enterZone(zone);
        std::vector<std::string> listed = names(*api);
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), "secret"));
        EXPECT_TRUE(api->hasMethod(std::string("secret")));
        EXPECT_EQ(42, api->invoke("secret", list()).cast<int>());
        EXPECT_EQ(1, api->getProperty("hidden").cast<int>());
        api->leaveZone();
    }
}

// A class that decides its current zone itself: what it answers, not the
// zone stack, is what the page sees, and what a registration records.
class OwnZone : public Sample {
public:
    int getCurrentZone() override {
        if (zoneFails)
            throw FB::script_error("no zone");
        return ownZone ? *ownZone : Sample::getCurrentZone();
    }
    std::optional<int> ownZone;
    bool zoneFails = false;
};
typedef boost::shared_ptr<OwnZone> OwnZonePtr;

bool listed(const FB::JSAPI& api, const std::string& name) {
    const std::vector<std::string> all = names(api);
    return std::find(all.begin(), all.end(), name) != all.end();
}

struct ZoneCase {
    const char* what;
    int stackZone;  // entered on the object
    int ownZone;    // what the object answers as its current zone
    bool visible;   // a member registered in zone 2
};

class AnOverriddenZone : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(AnOverriddenZone, DecidesVisibilityListingAndFunctionObjects) {
    const ZoneCase& c = GetParam();
    OwnZonePtr api = boost::make_shared<OwnZone>();
    const size_t countBefore = api->getMemberCount();
    registerSecretsInZoneTwo(*api);
    api->enterZone(c.stackZone);
    api->ownZone = c.ownZone;

    EXPECT_EQ(c.visible, listed(*api, "secret"));
    EXPECT_EQ(c.visible, listed(*api, "hidden"));
    EXPECT_EQ(countBefore + (c.visible ? 2u : 0u), api->getMemberCount());
    EXPECT_EQ(c.visible, api->hasMethod(std::string("secret")));
    EXPECT_EQ(c.visible, api->hasMethodFunction(std::string("secret")));
    if (c.visible) {
        EXPECT_EQ(42, api->invoke("secret", list()).cast<int>());
        EXPECT_EQ(1, api->getProperty("hidden").cast<int>());
        const FB::JSAPIPtr function = api->getMethodFunction("secret");
        EXPECT_EQ(c.ownZone, function->getCurrentZone());
        EXPECT_EQ(42, function->invoke("", list()).cast<int>());
    } else {
        EXPECT_THROW(api->invoke("secret", list()), FB::invalid_member);
        EXPECT_TRUE(isNoValue(api->getProperty("hidden")));
        EXPECT_THROW(api->getMethodFunction("secret"), FB::invalid_member);
    }
    // A function object stands for the zone the object answers.
    const FB::JSAPIPtr echo = api->getMethodFunction("echo");
    EXPECT_EQ(c.ownZone, echo->getCurrentZone());
    EXPECT_EQ(echo, api->getMethodFunction("echo"));
    api->ownZone = c.ownZone + 1;
    EXPECT_NE(echo, api->getMethodFunction("echo"));
    api->leaveZone();
}

INSTANTIATE_TEST_SUITE_P(
    NarrowedAndRaised, AnOverriddenZone,
    ::testing::Values(ZoneCase{"narrowed", 2, 0, false}, ZoneCase{"raised", 0, 2, true}),
    [](const ::testing::TestParamInfo<ZoneCase>& info) { return std::string(info.param.what); });

TEST(ZoneOverride, ARegistrationRecordsTheZoneTheObjectAnswers) {
    OwnZonePtr api = boost::make_shared<OwnZone>();
    api->ownZone = 3;
    api->addMethod("late", [](const FB::VariantList&) { return FB::variant(1); });
    api->ownZone = 2;
    EXPECT_FALSE(listed(*api, "late"));
    EXPECT_THROW(api->invoke("late", list()), FB::invalid_member);
    api->ownZone = 3;
    EXPECT_TRUE(listed(*api, "late"));
    EXPECT_EQ(1, api->invoke("late", list()).cast<int>());
}

// A registration whose zone cannot be read changes nothing: no name listed
// or counted, no member replaced.
TEST(ZoneOverride, ARegistrationThatCannotReadTheZoneChangesNothing) {
    OwnZonePtr api = boost::make_shared<OwnZone>();
    api->setAttribute("note", FB::variant(std::string("kept")));
    const std::vector<std::string> before = names(*api);
    const size_t countBefore = api->getMemberCount();
    FB::JSAPIAuto::PropertyAccessors other;
    other.getter = [] { return FB::variant(99); };
    other.setter = [](const FB::variant&) {};
    const auto returns99 = [](const FB::VariantList&) { return FB::variant(99); };

    const struct {
        const char* what;
        std::function<void()> run;
    } registrations[] = {
        {"addMethod, new", [&] { api->addMethod("fresh", returns99); }},
        {"addMethod, replacing", [&] { api->addMethod("echo", returns99); }},
        {"addMethod, wide", [&] { api->addMethod(std::wstring(L"fresh"), returns99); }},
        {"addProperty, new", [&] { api->addProperty("freshProperty", other); }},
        {"addProperty, replacing", [&] { api->addProperty("count", other); }},
        {"addAttribute, new", [&] { api->addAttribute("freshAttribute", FB::variant(1), false); }},
        {"addAttribute, replacing", [&] { api->addAttribute("note", FB::variant(1), true); }},
        {"setAttribute, new", [&] { api->setAttribute("freshAttribute", FB::variant(1)); }},
        {"setAttribute, replacing", [&] { api->setAttribute("note", FB::variant(1)); }},
    };
    for (const auto& r : registrations) {
        SCOPED_TRACE(r.what);
        api->zoneFails = true;
        EXPECT_THROW(r.run(), FB::script_error);
        api->zoneFails = false;
        EXPECT_EQ(before, names(*api));
        EXPECT_EQ(countBefore, api->getMemberCount());
        EXPECT_EQ("a", api->invoke("echo", list("a")).cast<std::string>());
        EXPECT_EQ(0, api->getProperty("count").cast<int>());
        EXPECT_EQ("kept", api->getAttribute("note").cast<std::string>());
        EXPECT_TRUE(isNoValue(api->getAttribute("freshAttribute")));
    }
}

// zoneMutex over whole member operations -------------------------------------------

struct MemberOperation {
    const char* name;
    std::function<void(Sample&)> run;
};

void PrintTo(const MemberOperation& op, std::ostream* os) { *os << op.name; }

std::string operationName(const ::testing::TestParamInfo<MemberOperation>& info) {
    return info.param.name;
}

// A method, getter or setter that runs until released.
class ARunningCallable : public ::testing::TestWithParam<MemberOperation> {
protected:
    void SetUp() override {
        std::function<void()> wait = [this] {
            inside = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        api->addMethod("slow", [wait](const FB::VariantList&) {
            wait();
            return FB::variant();
        });
        FB::JSAPIAuto::PropertyAccessors slow;
        slow.getter = [wait] {
            wait();
            return FB::variant();
        };
        slow.setter = [wait](const FB::variant&) { wait(); };
        api->addProperty("slowProperty", slow);
    }
    SamplePtr api = boost::make_shared<Sample>();
    std::atomic<bool> inside{false}, release{false};
};

TEST_P(ARunningCallable, KeepsOtherThreadsOffTheObject) {
    BackgroundCall caller([&] { GetParam().run(*api); });
    for (int i = 0; i < 5000 && !inside; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(inside);
    BackgroundCall reader([&] { api->hasMethod(std::string("echo")); });
    EXPECT_FALSE(reader.finishedWithin(100));
    release = true;
    EXPECT_TRUE(caller.finishedWithin(5000));
    EXPECT_TRUE(reader.finishedWithin(5000));
}

INSTANTIATE_TEST_SUITE_P(
    MethodGetterAndSetter, ARunningCallable,
    ::testing::Values(
        MemberOperation{"invoke", [](Sample& a) { a.invoke("slow", list()); }},
        MemberOperation{"getProperty", [](Sample& a) { a.getProperty("slowProperty"); }},
        MemberOperation{"setProperty",
                        [](Sample& a) { a.setProperty("slowProperty", FB::variant(1)); }}),
    operationName);

// Another thread is inside a zone of the object: every member operation waits.
class AZoneOfAnotherThread : public ::testing::TestWithParam<MemberOperation> {
protected:
    void SetUp() override { api->addAttribute("3", FB::variant(1), false); }
    SamplePtr api = boost::make_shared<Sample>();
};

TEST_P(AZoneOfAnotherThread, HoldsTheMemberOperationBack) {
    api->enterZone(0);
    BackgroundCall other([&] { GetParam().run(*api); });
    EXPECT_FALSE(other.finishedWithin(30));
    api->leaveZone();
    EXPECT_TRUE(other.finishedWithin(5000));
}

const MemberOperation kMemberOperations[] = {
    {"getMemberNames", [](Sample& a) { names(a); }},
    {"getMemberCount", [](Sample& a) { a.getMemberCount(); }},
    {"hasMethod", [](Sample& a) { a.hasMethod(std::string("echo")); }},
    {"hasMethodFunction", [](Sample& a) { a.hasMethodFunction(std::string("echo")); }},
    {"hasProperty", [](Sample& a) { a.hasProperty(std::string("count")); }},
    {"hasPropertyByIndex", [](Sample& a) { a.hasPropertyByIndex(3); }},
    {"getMethodFunction", [](Sample& a) { a.getMethodFunction("echo"); }},
    {"getProperty", [](Sample& a) { a.getProperty("count"); }},
    {"setProperty", [](Sample& a) { a.setProperty("count", FB::variant(1)); }},
    {"removeProperty", [](Sample& a) { a.removeProperty("count"); }},
    {"getPropertyByIndex", [](Sample& a) { a.getPropertyByIndex(3); }},
    {"setPropertyByIndex", [](Sample& a) { a.setPropertyByIndex(3, FB::variant(2)); }},
    {"removePropertyByIndex", [](Sample& a) { a.removePropertyByIndex(3); }},
    {"invoke", [](Sample& a) { a.invoke("echo", list()); }},
    {"construct",
     [](Sample& a) { EXPECT_THROW(a.construct(list()), FB::invalid_member); }},
    {"addMethod", [](Sample& a) { a.addMethod("late", FB::MethodHandler()); }},
    {"addProperty",
     [](Sample& a) { a.addProperty("late", FB::JSAPIAuto::PropertyAccessors()); }},
    {"addAttribute", [](Sample& a) { a.addAttribute("late", FB::variant(1), true); }},
};

INSTANTIATE_TEST_SUITE_P(EveryLockingOperation, AZoneOfAnotherThread,
                         ::testing::ValuesIn(kMemberOperations), operationName);

// Function objects --------------------------------------------------------------------

TEST_F(AutoTest, AMethodReadAsAPropertyIsACachedFunctionObjectPerZone) {
    EXPECT_TRUE(api->hasMethodFunction(std::string("echo")));
    EXPECT_TRUE(api->hasProperty(std::string("echo")));
    FB::JSAPIPtr first = api->getProperty("echo").cast<FB::JSAPIPtr>();
    FB::JSAPIPtr again = api->getProperty(std::wstring(L"echo")).cast<FB::JSAPIPtr>();
    EXPECT_EQ(first, again);
    EXPECT_EQ(first, api->getMethodFunction("echo"));

    api->enterZone(1);
    FB::JSAPIPtr inZone1 = api->getProperty("echo").cast<FB::JSAPIPtr>();
    api->leaveZone();
    EXPECT_NE(first, inZone1);
    EXPECT_EQ(1, inZone1->getCurrentZone());
    EXPECT_EQ(0, first->getCurrentZone());
}

TEST_F(AutoTest, WithoutMethodFunctionsAMethodNameReadsAsNoValue) {
    api->methodFunctions = false;
    EXPECT_FALSE(api->hasMethodFunction(std::string("echo")));
    EXPECT_TRUE(isNoValue(api->getProperty("echo")));
    api->dynamicAttributes = false;
    EXPECT_FALSE(api->hasProperty(std::string("echo")));
    EXPECT_THROW(api->getProperty("echo"), FB::invalid_member);
}

TEST(FunctionObjects, NeedASharedOwner) {
    Sample api;
    EXPECT_THROW(api.getMethodFunction("echo"), boost::bad_weak_ptr);
    EXPECT_THROW(api.getMethodFunction("none"), FB::invalid_member);
}

// Invalidation ------------------------------------------------------------------------

TEST_F(AutoTest, AnInvalidatedObjectRefusesMemberOperationsButStillLists) {
    api->setProperty("a", FB::variant(1));
    api->invalidate();
    EXPECT_FALSE(api->hasMethod(std::string("echo")));
    EXPECT_FALSE(api->hasMethodFunction(std::string("echo")));
    EXPECT_FALSE(api->hasProperty(std::string("a")));
    EXPECT_FALSE(api->hasPropertyByIndex(0));
    const std::vector<std::function<void()> > refused = {
        [&] { api->invoke("echo", list()); },
        [&] { api->getMethodFunction("echo"); },
        [&] { api->getProperty("a"); },
        [&] { api->setProperty("a", FB::variant(2)); },
        [&] { api->removeProperty("a"); },
        [&] { api->getPropertyByIndex(0); },
        [&] { api->setPropertyByIndex(0, FB::variant(2)); },
        [&] { api->removePropertyByIndex(0); },
        [&] { api->construct(list()); },
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        SCOPED_TRACE(i);
        expectError<FB::object_invalidated>(refused[i], "This object is no longer valid");
    }
    EXPECT_EQ(1, api->getAttribute("a").cast<int>());
    EXPECT_EQ(9u, names(*api).size());
    api->addMethod("late", FB::MethodHandler());
    EXPECT_EQ(10u, api->getMemberCount());
}

// Events through attributes -------------------------------------------------------------

class AttributeEvents : public AutoTest {
protected:
    void SetUp() override { api->addEventHandler("onload", handler); }
    void TearDown() override { api->dropAll(); }
    RecordingPageObjectPtr function = RecordingPageObject::make();
    RecordingPageObjectPtr handler = RecordingPageObject::make();
    FB::VariantList args = list(FB::variant(1), FB::variant(2));
};

TEST_F(AttributeEvents, APageObjectStoredUnderTheEventNameIsCalled) {
    api->setProperty("onload", FB::variant(FB::JSObjectPtr(function)));
    api->fireEvent("onload", args);
    ASSERT_EQ(1u, handler->asyncCalls.size());
    ASSERT_EQ(1u, function->asyncCalls.size());
    EXPECT_EQ("", function->asyncCalls[0].name);
    ASSERT_EQ(2u, function->asyncCalls[0].args.size());
    EXPECT_EQ(2, function->asyncCalls[0].args[1].cast<int>());

    api->fireEventObject("onload", FB::VariantMap(), args);
    ASSERT_EQ(2u, function->asyncCalls.size());
    EXPECT_EQ("", function->asyncCalls[1].name);
    FB::VariantMap event = function->asyncCalls[1].args.at(0).cast<FB::VariantMap>();
    EXPECT_EQ("onload", event["type"].cast<std::string>());
    EXPECT_EQ(FB::JSAPIPtr(api), event["target"].cast<FB::JSAPIPtr>());
    EXPECT_EQ(2u, handler->asyncCalls.size());
}

TEST_F(AttributeEvents, OtherValuesAreNotCalled) {
    boost::shared_ptr<Sample> plugin = boost::make_shared<Sample>();
    api->setProperty("onload", FB::variant(FB::JSAPIPtr(plugin)));
    api->fireEvent("onload", args);
    api->fireEventObject("onload", FB::VariantMap(), args);
    api->setProperty("onload", FB::variant(std::string("text")));
    api->fireEvent("onload", args);
    EXPECT_EQ(3u, handler->asyncCalls.size());
}

TEST_F(AttributeEvents, ErrorsOfTheAttributesPageObjectAreDropped) {
    function->failure = RecordingPageObject::RuntimeError;
    api->setProperty("onload", FB::variant(FB::JSObjectPtr(function)));
    EXPECT_NO_THROW(api->fireEvent("onload", args));
    EXPECT_NO_THROW(api->fireEventObject("onload", FB::VariantMap(), args));
    EXPECT_EQ(2u, function->asyncCalls.size());
}

TEST_F(AttributeEvents, AnInvalidatedObjectFiresNothingThroughItsAttributes) {
    api->setProperty("onload", FB::variant(FB::JSObjectPtr(function)));
    api->invalidate();
    api->fireEvent("onload", args);
    api->fireEventObject("onload", FB::VariantMap(), args);
    api->notifyHandlers("onload", args);
    EXPECT_TRUE(function->asyncCalls.empty());
}

} // namespace
