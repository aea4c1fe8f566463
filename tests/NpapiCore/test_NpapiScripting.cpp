// A page scripting the plugin's objects through the browser, and the plugin
// calling back into the page from the main thread and from a worker; a
// browser that passes null pointers and raw values the page cannot make.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PluginFixture.h"

using fakebrowser::CallResult;
using fakebrowser::Instance;
using fakebrowser::ObjectRef;
using fakebrowser::Value;
using fakebrowser::stringIdentifier;

namespace {

NPVariant voidVariant()
{
    NPVariant variant;
    variant.type = NPVariantType_Void;
    variant.value.objectValue = nullptr;
    return variant;
}

class Scripting : public InstanceFixture {
protected:
    CallResult call(const std::string& name, const std::vector<Value>& args = {})
    {
        return browser->callMember(root.get(), name, args);
    }
};

TEST_F(Scripting, AMethodIsReadAsAPropertyAndCalledThroughItsFunctionObject)
{
    EXPECT_FALSE(browser->hasMethod(root.get(), fakebrowser::stringIdentifier("add")));
    EXPECT_TRUE(browser->hasProperty(root.get(), fakebrowser::stringIdentifier("add")));
    const CallResult function = browser->getProperty(root.get(), "add");
    ASSERT_TRUE(function.ok);
    ASSERT_TRUE(function.value.isObject());
    const CallResult sum = browser->invokeDefault(function.value.object(), {Value(2), Value(3)});
    EXPECT_TRUE(sum.ok);
    EXPECT_EQ(Value(5), sum.value);
    // The same method gives the same browser object while it lives.
    const CallResult again = browser->getProperty(root.get(), "add");
    EXPECT_EQ(function.value.object(), again.value.object());
}

// A browser object stands for one scriptable object only: a later object
// made at the address of one that is gone gets a browser object of its own,
// while the earlier browser object, still held by the page, answers nothing.
TEST_F(Scripting, AnObjectAtTheAddressOfAGoneOneGetsABrowserObjectOfItsOwn)
{
    const CallResult first = browser->callMember(root.get(), "nextChildInPlace");
    ASSERT_TRUE(first.value.isObject());
    const ObjectRef earlier = first.value.asObject();
    EXPECT_EQ(Value("child"), browser->getProperty(earlier.get(), "kind").value);

    const CallResult second = browser->callMember(root.get(), "nextChildInPlace");
    ASSERT_TRUE(second.value.isObject());
    EXPECT_NE(earlier.get(), second.value.object());
    EXPECT_EQ(Value("child"), browser->getProperty(second.value.object(), "kind").value);
    EXPECT_FALSE(browser->getProperty(earlier.get(), "kind").ok);
}

// An object re-made in place twice: freeing the first browser object, long
// replaced in the wrapper cache, leaves the entry of the current one, which
// the page then meets again.
TEST_F(Scripting, FreeingAReplacedBrowserObjectKeepsTheCurrentOnesEntry)
{
    ObjectRef first = call("nextChildInPlace").value.asObject();
    ASSERT_TRUE(first);
    const ObjectRef second = call("nextChildInPlace").value.asObject();
    const ObjectRef third = call("nextChildInPlace").value.asObject();
    ASSERT_TRUE(third);
    EXPECT_NE(second.get(), third.get());
    const std::size_t live = browser->objects().liveCount();
    first.reset();
    ASSERT_EQ(live - 1, browser->objects().liveCount()) << "the first browser object is freed";

    const CallResult current = call("childInPlace");
    EXPECT_EQ(third.get(), current.value.object());
    EXPECT_EQ(Value("child"), browser->getProperty(current.value.object(), "kind").value);
}

// One living scriptable object is one browser object, whichever owner the
// plugin hands it out through, in either order.
TEST_F(Scripting, OneLivingObjectIsOneBrowserObjectWhateverItsOwner)
{
    for (const bool otherFirst : {false, true}) {
        SCOPED_TRACE(otherFirst);
        const CallResult a = call("heldChild", {Value(otherFirst)});
        const CallResult b = call("heldChild", {Value(!otherFirst)});
        const CallResult c = call("heldChild", {Value(otherFirst)});
        ASSERT_TRUE(a.value.isObject());
        EXPECT_EQ(a.value.object(), b.value.object());
        EXPECT_EQ(a.value.object(), c.value.object());
        EXPECT_EQ(Value("child"), browser->getProperty(b.value.object(), "kind").value);
    }
}

// The browser never frees an identifier: its text is fetched once, and an
// integer identifier stays an index (its decimal text names the same
// attribute), however often either is met.
TEST_F(Scripting, IdentifierTextsAreFetchedOnce)
{
    const NPIdentifier add = fakebrowser::stringIdentifier("add");
    const NPIdentifier three = fakebrowser::intIdentifier(3);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const size_t fetched = browser->callCount(fakebrowser::Entry::utf8fromidentifier);
        EXPECT_FALSE(browser->hasMethod(root.get(), add));
        EXPECT_TRUE(browser->hasProperty(root.get(), add));
        const CallResult function = browser->getProperty(root.get(), add);
        ASSERT_TRUE(function.value.isObject());
        EXPECT_EQ(Value(5), browser->invokeDefault(function.value.object(), {Value(2), Value(3)}).value);
        EXPECT_TRUE(browser->setProperty(root.get(), "x", Value(round)).ok);
        EXPECT_EQ(Value(round), browser->getProperty(root.get(), "x").value);
        if (round > 0) {
            EXPECT_EQ(fetched, browser->callCount(fakebrowser::Entry::utf8fromidentifier));
        }

        EXPECT_TRUE(browser->setProperty(root.get(), three, Value(7 + round)).ok);
        EXPECT_EQ(Value(7 + round), browser->getProperty(root.get(), three).value);
        EXPECT_EQ(Value(7 + round), browser->getProperty(root.get(), "3").value);
        EXPECT_TRUE(browser->hasProperty(root.get(), three));
        EXPECT_FALSE(browser->hasMethod(root.get(), three));
        // The integer identifier has no text: invoked, it names the object itself.
        const CallResult byIndex = browser->invoke(root.get(), three);
        EXPECT_FALSE(byIndex.ok);
        EXPECT_EQ("The specified member does not exist: ", byIndex.exception());
    }
}

// Every text the browser gives for an identifier is given back through
// NPN_MemFree right after, also the null text of an integer identifier.
TEST_F(Scripting, EveryIdentifierTextIsGivenBack)
{
    const std::size_t from = browser->calls().size();
    EXPECT_FALSE(browser->invoke(root.get(), fakebrowser::intIdentifier(5)).ok);
    EXPECT_FALSE(browser->hasMethod(root.get(), fakebrowser::intIdentifier(6)));
    EXPECT_TRUE(browser->invoke(root.get(), fakebrowser::stringIdentifier("nothing")).ok);
    const std::vector<fakebrowser::CallRecord> calls = browser->calls();
    std::size_t fetched = 0;
    for (std::size_t i = from; i < calls.size(); ++i) {
        if (calls[i].entry != fakebrowser::Entry::utf8fromidentifier)
            continue;
        ++fetched;
        ASSERT_LT(i + 1, calls.size());
        EXPECT_EQ(fakebrowser::Entry::memfree, calls[i + 1].entry) << "after text " << fetched;
    }
    EXPECT_GE(fetched, 3u);
}

TEST_F(Scripting, MembersEveryObjectHas)
{
    EXPECT_TRUE(browser->hasMethod(root.get(), fakebrowser::stringIdentifier("toString")));
    EXPECT_FALSE(browser->hasProperty(root.get(), fakebrowser::stringIdentifier("toString")));
    for (const char* name : {"addEventListener", "removeEventListener", "getLastException"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(browser->hasProperty(root.get(), fakebrowser::stringIdentifier(name)));
        EXPECT_FALSE(browser->hasMethod(root.get(), fakebrowser::stringIdentifier(name)));
    }
    std::vector<std::string> names;
    ASSERT_TRUE(browser->enumerate(root.get(), &names));
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ((std::vector<std::string>{"addEventListener", "removeEventListener", "getLastException"}),
              std::vector<std::string>(names.end() - 3, names.end()));
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "echo"));
}

TEST_F(Scripting, TheExtraMembersAreFunctionsWithTheirScriptNames)
{
    const struct {
        const char* member;
        const char* text;
    } cases[] = {
        {"addEventListener", "attachEvent()"},
        {"removeEventListener", "detachEvent()"},
        {"getLastException", "getLastException()"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.member);
        const CallResult function = browser->getProperty(root.get(), c.member);
        ASSERT_TRUE(function.ok);
        ASSERT_TRUE(function.value.isObject());
        EXPECT_EQ(Value(c.text), browser->callMember(function.value.object(), "toString").value);
    }
}

TEST_F(Scripting, ValuesCrossBothWays)
{
    struct Case {
        Value in;
        Value out;
    };
    const Case cases[] = {
        {Value(5), Value(5)},
        {Value(1.5), Value(1.5)},
        {Value(true), Value(true)},
        {Value("text"), Value("text")},
        {Value(std::string("a\0b", 3)), Value(std::string("a\0b", 3))},
        {Value::null(), Value::null()},
        {Value(), Value()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in.describe());
        const CallResult result = call("echo", {c.in});
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(c.out, result.value);
    }
    EXPECT_EQ(Value(), call("echo").value);
    EXPECT_EQ(Value(), call("nothing").value);
}

TEST_F(Scripting, WideIntegersReachThePageAsText)
{
    const CallResult result = call("wideNumbers");
    ASSERT_TRUE(result.value.isObject());
    EXPECT_EQ((std::vector<Value>{Value("7"), Value("8000000000"), Value(9)}),
              browser->arrayValues(result.value.object()));
}

// Each held type reaches the page in its own form; a type without a
// converter leaves the browser's value as it was (undefined).
TEST_F(Scripting, EveryHeldTypeReachesThePageInItsForm)
{
    const CallResult result = call("everyHeldType");
    ASSERT_TRUE(result.value.isObject());
    const std::vector<Value> values = browser->arrayValues(result.value.object());
    const std::vector<Value> scalars = {
        Value(true),
        Value(65),
        Value(200),
        Value(-300),
        Value(60000),
        Value(-7),
        Value("4000000000"),
        Value("-5000000000"),
        Value("6000000000"),
        Value("-7000000000"),
        Value("18000000000000000000"),
        Value(0.5),
        Value(2.25),
        Value("text"),
        Value("\xc3\xa9t\xc3\xa9"),
        Value::null(),
        Value(),
    };
    ASSERT_EQ(scalars.size() + 6, values.size());
    for (size_t i = 0; i < scalars.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(scalars[i], values[i]);
    }
    const size_t list = scalars.size();
    ASSERT_TRUE(values[list].isObject());
    EXPECT_EQ(std::vector<Value>{Value(1)}, browser->arrayValues(values[list].object()));
    ASSERT_TRUE(values[list + 1].isObject());
    EXPECT_EQ(Value(2), browser->getProperty(values[list + 1].object(), "k").value);
    ASSERT_TRUE(values[list + 2].isObject());
    EXPECT_EQ(Value("child"), browser->getProperty(values[list + 2].object(), "kind").value);
    ASSERT_TRUE(values[list + 3].isObject());
    EXPECT_TRUE(browser->getProperty(values[list + 3].object(), "add").value.isObject());
    EXPECT_EQ(Value::null(), values[list + 4]);
    EXPECT_EQ(Value(), values[list + 5]);
}

TEST_F(Scripting, ListsAndMapsBecomePageArraysAndObjects)
{
    const CallResult list = call("makeList");
    ASSERT_TRUE(list.value.isObject());
    const std::vector<Value> elements = browser->arrayValues(list.value.object());
    ASSERT_EQ(3u, elements.size());
    EXPECT_EQ(Value(1), elements[0]);
    EXPECT_EQ((std::vector<Value>{Value(2)}), browser->arrayValues(elements[1].object()));
    EXPECT_EQ(Value("three"), elements[2]);

    const CallResult map = call("makeMap");
    ASSERT_TRUE(map.value.isObject());
    EXPECT_EQ(Value(1), browser->getProperty(map.value.object(), "a").value);
    EXPECT_EQ(Value("bee"), browser->getProperty(map.value.object(), "b").value);
}

TEST_F(Scripting, ObjectsKeepTheirIdentity)
{
    // A page object goes back as the very object it came from.
    const ObjectRef page = browser->newObject(instance->npp());
    EXPECT_EQ(page.get(), call("echo", {Value(page)}).value.object());
    // The plugin's own object comes back as itself.
    EXPECT_EQ(Value(true), call("sameObject", {Value(root)}).value);
    // New scriptable objects are new browser objects.
    const CallResult a = call("makeChild");
    const CallResult b = call("makeChild");
    ASSERT_TRUE(a.value.isObject());
    EXPECT_NE(a.value.object(), b.value.object());
    EXPECT_EQ(Value("child"), browser->getProperty(a.value.object(), "kind").value);
}

TEST_F(Scripting, ScriptErrorsBecomeBrowserExceptions)
{
    const CallResult failed = call("fail", {Value("boom")});
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ("boom", failed.exception());
    EXPECT_EQ(Value("boom"), call("getLastException").value);

    // A conversion the method wrapper refuses reaches the page as its text.
    const CallResult badArgument = call("add", {Value("x"), Value(1)});
    EXPECT_FALSE(badArgument.ok);
    EXPECT_FALSE(badArgument.exception().empty());
    EXPECT_EQ(Value(badArgument.exception()), call("getLastException").value);

    const CallResult tooMany = call("add", {Value(1), Value(2), Value(3)});
    EXPECT_FALSE(tooMany.ok);
    EXPECT_FALSE(tooMany.exception().empty());
}

TEST_F(Scripting, OtherExceptionsNeverReachTheBrowser)
{
    const CallResult result = call("failStd");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ("not for the page", result.exception());
}

TEST_F(Scripting, AssigningAMethodIsRefused)
{
    const CallResult result = browser->setProperty(root.get(), "add", Value(1));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ("This property cannot be changed", result.exception());
    EXPECT_EQ(Value(3), call("add", {Value(1), Value(2)}).value);
}

TEST_F(Scripting, EventListenersAreAddedAndRemoved)
{
    std::vector<std::vector<Value>> calls;
    const ObjectRef handler = recordingFunction(&calls);
    ASSERT_TRUE(call("addEventListener", {Value("ping"), Value(handler), Value(false)}).ok);
    ASSERT_TRUE(call("fire", {Value("ping"), Value(7)}).ok);
    browser->runAsyncCalls();
    browser->runTimers(0);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(std::vector<Value>{Value(7)}, calls[0]);

    ASSERT_TRUE(call("removeEventListener", {Value("ping"), Value(handler)}).ok);
    ASSERT_TRUE(call("fire", {Value("ping"), Value(8)}).ok);
    browser->runAsyncCalls();
    browser->runTimers(0);
    EXPECT_EQ(1u, calls.size());

    for (const std::vector<Value>& args :
         {std::vector<Value>{Value("ping")},
          std::vector<Value>{Value("ping"), Value(handler), Value(1), Value(2)}}) {
        const CallResult bad = call("addEventListener", args);
        EXPECT_FALSE(bad.ok);
        EXPECT_EQ("Invalid Arguments", bad.exception());
    }
}

// A listener added, removed and added again is one listener.
TEST_F(Scripting, AListenerAddedAgainAfterItsRemovalIsCalledOnce)
{
    std::vector<std::vector<Value>> calls;
    const ObjectRef handler = recordingFunction(&calls);
    ASSERT_TRUE(call("addEventListener", {Value("ping"), Value(handler)}).ok);
    ASSERT_TRUE(call("removeEventListener", {Value("ping"), Value(handler)}).ok);
    ASSERT_TRUE(call("addEventListener", {Value("ping"), Value(handler)}).ok);
    ASSERT_TRUE(call("fire", {Value("ping"), Value(9)}).ok);
    browser->runAsyncCalls();
    browser->runTimers(0);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(std::vector<Value>{Value(9)}, calls[0]);
}

TEST_F(Scripting, PageFunctionsCalledFromTheMainThread)
{
    std::vector<std::vector<Value>> calls;
    const ObjectRef func = recordingFunction(&calls, Value(42));
    EXPECT_EQ(Value(42), call("callPage", {Value(func), Value(4)}).value);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(std::vector<Value>{Value(4)}, calls[0]);

    // A member the page object lacks: the error text is the name.
    const ObjectRef empty = browser->newObject(instance->npp());
    const CallResult missing = call("readMember", {Value(empty), Value("nowhere")});
    EXPECT_EQ(Value(), missing.value);
}

TEST_F(Scripting, PageFunctionsCalledFromAWorker)
{
    std::vector<std::vector<Value>> calls;
    const ObjectRef func = recordingFunction(&calls, Value("from page"));
    ASSERT_TRUE(call("callPageFromWorker", {Value(func), Value("w")}).ok);
    ASSERT_TRUE(browser->pumpUntil([&] { return !call("workerResult").value.isUndefined(); }));
    EXPECT_EQ(Value("from page"), call("workerResult").value);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(std::vector<Value>{Value("w")}, calls[0]);
    EXPECT_EQ(0u, browser->offMainThreadCallCount(fakebrowser::Entry::invokeDefault));
}

// A worker asking a page object for an index is answered by the browser,
// once per question and on the main thread, like every other page call.
TEST_F(Scripting, AnIndexAskedFromAWorkerIsAnsweredOnTheMainThread)
{
    const ObjectRef array = browser->newArray({Value("a"), Value("b"), Value("c")});
    const ObjectRef object = browser->newObject();
    ASSERT_TRUE(browser->setProperty(object.get(), "7", Value(1)).ok);
    const struct {
        const char* what;
        ObjectRef on;
        int index;
        const char* answer;
    } cases[] = {
        {"first element", array, 0, "true"},
        {"last element", array, 2, "true"},
        {"past the end", array, 3, "false"},
        {"negative", array, -1, "false"},
        {"member named by the index", object, 7, "true"},
        {"missing member", object, 8, "false"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t asked = browser->callCount(fakebrowser::Entry::hasproperty);
        ASSERT_TRUE(call("hasIndexFromWorker", {Value(c.on), Value(c.index)}).ok);
        ASSERT_TRUE(browser->pumpUntil([&] { return !call("workerResult").value.isUndefined(); }));
        EXPECT_EQ(Value(c.answer), call("workerResult").value);
        EXPECT_EQ(asked + 1, browser->callCount(fakebrowser::Entry::hasproperty));
    }
    EXPECT_EQ(0u, browser->offMainThreadCallCount(fakebrowser::Entry::hasproperty));
    EXPECT_EQ(0u, browser->offMainThreadCallCount(fakebrowser::Entry::getintidentifier));
}

TEST_F(Scripting, AsynchronousCallsRunOnTheMainThreadLater)
{
    std::vector<std::vector<Value>> calls;
    const ObjectRef func = recordingFunction(&calls);
    ASSERT_TRUE(call("callPageAsync", {Value(func), Value(1)}).ok);
    EXPECT_TRUE(calls.empty());
    ASSERT_TRUE(browser->pumpUntil([&] { browser->runTimers(0); return !calls.empty(); }));
    EXPECT_EQ(std::vector<Value>{Value(1)}, calls[0]);
}

// Every NPClass entry that takes a pointer from the browser answers false
// when it is null (and an argument array only matters with a count above 0);
// the object goes on working.
TEST_F(Scripting, NullPointersFromTheBrowserAnswerFalse)
{
    NPObject* const object = root.get();
    NPClass* const cls = object->_class;
    const NPIdentifier echo = stringIdentifier("echo");
    const NPIdentifier add = stringIdentifier("add");
    NPVariant one = voidVariant();
    one.type = NPVariantType_Int32;
    one.value.intValue = 1;
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    struct Case {
        const char* what;
        std::function<bool(NPVariant* result)> call;
    };
    const Case cases[] = {
        {"invoke, no result", [&](NPVariant*) { return cls->invoke(object, echo, &one, 1, nullptr); }},
        {"invoke, no arguments", [&](NPVariant* r) { return cls->invoke(object, add, nullptr, 2, r); }},
        {"invokeDefault, no result", [&](NPVariant*) { return cls->invokeDefault(object, &one, 1, nullptr); }},
        {"invokeDefault, no arguments", [&](NPVariant* r) { return cls->invokeDefault(object, nullptr, 1, r); }},
        {"construct, no result", [&](NPVariant*) { return cls->construct(object, &one, 1, nullptr); }},
        {"construct, no arguments", [&](NPVariant* r) { return cls->construct(object, nullptr, 3, r); }},
        {"getProperty, no result", [&](NPVariant*) { return cls->getProperty(object, echo, nullptr); }},
        {"setProperty, no value",
         [&](NPVariant*) { return cls->setProperty(object, stringIdentifier("x"), nullptr); }},
        {"enumerate, no count", [&](NPVariant*) { return cls->enumerate(object, &ids, nullptr); }},
        {"enumerate, no array", [&](NPVariant*) { return cls->enumerate(object, nullptr, &count); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NPVariant result = voidVariant();
        EXPECT_FALSE(c.call(&result));
        EXPECT_EQ(NPVariantType_Void, result.type);
    }
    EXPECT_EQ(nullptr, ids);
    EXPECT_TRUE(browser->exceptions().empty());

    // No arguments with the count 0 is a call without arguments.
    NPVariant result = voidVariant();
    EXPECT_TRUE(cls->invoke(object, stringIdentifier("nothing"), nullptr, 0, &result));
    browser->releaseVariantValue(&result);
    EXPECT_EQ(Value(3), call("add", {Value(1), Value(2)}).value);
}

// A value that holds nothing (an attribute the page set to undefined) is
// no value to write: the result stays as the browser passed it. The answer
// for a name that does not exist is undefined.
TEST_F(Scripting, APropertyHoldingNothingLeavesTheResultAsPassed)
{
    ASSERT_TRUE(browser->setProperty(root.get(), "blank", Value()).ok);
    NPObject* const object = root.get();
    const struct {
        const char* name;
        NPVariantType expected;
    } cases[] = {
        {"blank", NPVariantType_Int32},
        {"neverSet", NPVariantType_Void},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NPVariant result = voidVariant();
        result.type = NPVariantType_Int32;
        result.value.intValue = 7;
        EXPECT_TRUE(object->_class->getProperty(object, stringIdentifier(c.name), &result));
        EXPECT_EQ(c.expected, result.type);
        if (c.expected == NPVariantType_Int32) {
            EXPECT_EQ(7, result.value.intValue);
        }
        browser->releaseVariantValue(&result);
    }
}

// An object variant whose pointer is null (which no page value makes) is
// taken as null: the plugin holds no page object for it, so it never calls
// the browser with a null object, and it comes back as null.
TEST_F(Scripting, AnObjectValueWithoutObjectIsNull)
{
    NPVariant nothing = voidVariant();
    nothing.type = NPVariantType_Object;
    nothing.value.objectValue = nullptr;
    NPVariant one = voidVariant();
    one.type = NPVariantType_Int32;
    one.value.intValue = 1;
    const CallResult called = browser->invokeRaw(root.get(), stringIdentifier("callPage"), {nothing, one});
    EXPECT_FALSE(called.ok);
    EXPECT_EQ("no function", called.exception());
    EXPECT_EQ(0u, browser->callCount(fakebrowser::Entry::invokeDefault));
    const CallResult echoed = browser->invokeRaw(root.get(), stringIdentifier("echo"), {nothing});
    EXPECT_TRUE(echoed.ok);
    EXPECT_TRUE(echoed.value.isNull()) << echoed.value.describe();
}

// An object that cannot be asked answers false and writes neither the
// array nor the count: invalidated by the browser, or its instance gone.
TEST_F(Scripting, EnumeratingAnObjectThatCannotBeAskedWritesNothing)
{
    const CallResult child = call("makeChild");
    ASSERT_TRUE(child.value.isObject());
    const ObjectRef invalidated = child.value.asObject();
    invalidated.get()->_class->invalidate(invalidated.get());

    Instance& other = newInstance();
    const ObjectRef gone = other.scriptableObject();
    ASSERT_TRUE(gone);
    ASSERT_EQ(NPERR_NO_ERROR, other.destroy());

    for (NPObject* object : {invalidated.get(), gone.get()}) {
        NPIdentifier marker = stringIdentifier("marker");
        NPIdentifier* ids = &marker;
        uint32_t count = 77;
        EXPECT_FALSE(object->_class->enumerate(object, &ids, &count));
        EXPECT_EQ(&marker, ids);
        EXPECT_EQ(77u, count);
    }
    std::vector<std::string> names;
    EXPECT_TRUE(browser->enumerate(root.get(), &names));
}

// A listing that fails with a script error: enumerate answers false with
// the count 0 and the array untouched, and the page gets the error.
TEST_F(Scripting, AListingThatFailsIsReportedWithTheCountZero)
{
    const ObjectRef child = call("makeUnlistableChild").value.asObject();
    ASSERT_TRUE(child);
    NPObject* const object = child.get();
    NPIdentifier marker = stringIdentifier("marker");
    NPIdentifier* ids = &marker;
    uint32_t count = 77;
    EXPECT_FALSE(object->_class->enumerate(object, &ids, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(&marker, ids);
    ASSERT_FALSE(browser->exceptions().empty());
    EXPECT_EQ("no listing", browser->exceptions().back());
    EXPECT_EQ(Value("no listing"), call("getLastException").value);
}

// A handler that is another instance's object, whose scriptable object has
// gone with that instance, is called through the page like the page's own
// functions (and fails there), not skipped.
TEST_F(Scripting, AHandlerWhoseScriptableObjectIsGoneGoesThroughThePage)
{
    std::vector<std::vector<Value>> calls;
    const ObjectRef handler = recordingFunction(&calls);
    Instance& other = newInstance();
    const ObjectRef otherRoot = other.scriptableObject();
    ASSERT_TRUE(otherRoot);
    ASSERT_TRUE(call("addEventListener", {Value("ping"), Value(handler)}).ok);
    ASSERT_TRUE(call("addEventListener", {Value("ping"), Value(otherRoot)}).ok);
    ASSERT_EQ(NPERR_NO_ERROR, other.destroy());

    const std::size_t timers = browser->timerLog().size();
    ASSERT_TRUE(call("fire", {Value("ping"), Value(7)}).ok);
    browser->runAsyncCalls();
    browser->runTimers(0);
    EXPECT_EQ(timers + 2, browser->timerLog().size()) << "one page call per handler";
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(std::vector<Value>{Value(7)}, calls[0]);
    EXPECT_EQ(1u, browser->pageErrors().size()) << "the gone object refuses the page's call";
}

TEST_F(Scripting, ThePageAddressThroughTheDomWrappers)
{
    EXPECT_EQ(Value("http://127.0.0.1/page.html"), call("location").value);
}

} // namespace
