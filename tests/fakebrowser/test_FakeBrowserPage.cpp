// The page the fake browser offers a plugin: its objects, NPN_GetValue,
// NPN_Evaluate with the page helper and its timers, and scripting from the
// page's side.
#include <cmath>

#include <gtest/gtest.h>

#include "FakeBrowser.h"
#include "MinimalObject.h"

using namespace fakebrowser;

namespace {

const char kPlugin[] = FAKEBROWSER_TEST_PLUGIN;
const char kType[] = "application/x-fakebrowser-test";
const char kPage[] = "http://127.0.0.1/install.html";

class FakeBrowserPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(NPERR_NO_ERROR, browser.initialize());
        instance = &browser.createInstance(kType, {}, kPage);
        ASSERT_EQ(NPERR_NO_ERROR, instance->newResult());
        root = instance->scriptableObject();
        ASSERT_TRUE(root);
    }

    void expectBalancedAtTheEnd()
    {
        root.reset();
        instance->destroy();
        browser.shutdown();
        EXPECT_EQ("", browser.ledgerProblems());
    }

    FakeBrowser browser{kPlugin};
    Instance* instance = nullptr;
    ObjectRef root;
};

TEST_F(FakeBrowserPage, ThePluginReadsTheWindowLocation)
{
    EXPECT_EQ(Value(kPage), browser.invoke(root.get(), "windowHref").value);
    EXPECT_EQ(Value(kPage), browser.getProperty(instance->location().get(), "href").value);
    EXPECT_EQ(Value(instance->document()), browser.getProperty(instance->window().get(), "document").value);
    expectBalancedAtTheEnd();
}

TEST_F(FakeBrowserPage, ThePluginBuildsArraysThroughTheWindow)
{
    CallResult made = browser.invoke(root.get(), "makeArray", {Value(1), Value("two"), Value(root)});
    ASSERT_TRUE(made.ok);
    ASSERT_TRUE(made.value.isObject());
    EXPECT_EQ((std::vector<Value>{Value(1), Value("two"), Value(root)}), browser.arrayValues(made.value.object()));
    EXPECT_EQ(Value(3), browser.getProperty(made.value.object(), "length").value);
    // String and integer identifiers name the same element.
    EXPECT_EQ(Value("two"), browser.getProperty(made.value.object(), "1").value);
    EXPECT_EQ(Value("two"), browser.getProperty(made.value.object(), intIdentifier(1)).value);
    EXPECT_EQ(4u, browser.callCount(Entry::invoke));  // Array() and three pushes
    // window.Object() makes an empty object, as the framework's createObject asks.
    const CallResult object = browser.callMember(instance->window().get(), "Object");
    ASSERT_TRUE(object.value.isObject());
    std::vector<std::string> names;
    EXPECT_TRUE(browser.enumerate(object.value.object(), &names));
    EXPECT_TRUE(names.empty());
    // The array holds the plugin's object until the page lets it go.
    made.value = Value();
    expectBalancedAtTheEnd();
}

TEST_F(FakeBrowserPage, PageObjectsBehaveAsScriptObjects)
{
    ObjectRef object = browser.newObject();
    EXPECT_TRUE(browser.setProperty(object.get(), "a", Value(1.5)).ok);
    EXPECT_TRUE(browser.hasProperty(object.get(), stringIdentifier("a")));
    EXPECT_EQ(Value(1.5), browser.getProperty(object.get(), "a").value);
    // A missing property reads as undefined, and the read succeeds.
    const CallResult missing = browser.getProperty(object.get(), "b");
    EXPECT_TRUE(missing.ok);
    EXPECT_TRUE(missing.value.isUndefined());
    EXPECT_TRUE(browser.removeProperty(object.get(), stringIdentifier("a")).ok);
    EXPECT_FALSE(browser.hasProperty(object.get(), stringIdentifier("a")));
    // An integer identifier names the decimal property of a plain object.
    browser.setProperty(object.get(), intIdentifier(7), Value("seven"));
    EXPECT_EQ(Value("seven"), browser.getProperty(object.get(), "7").value);

    std::vector<Value> seenArgs;
    Value seenThis;
    ObjectRef function = browser.newFunction([&](const Value& self, const std::vector<Value>& args) {
        seenThis = self;
        seenArgs = args;
        if (!args.empty() && args[0] == Value("throw"))
            throw ScriptError("thrown");
        return Value(static_cast<int32_t>(args.size()));
    });
    browser.setProperty(object.get(), "f", Value(function));
    EXPECT_TRUE(browser.hasMethod(object.get(), stringIdentifier("f")));
    EXPECT_EQ(Value(2), browser.invokeDefault(function.get(), {Value(true), Value::null()}).value);
    EXPECT_TRUE(seenThis.isUndefined());
    EXPECT_EQ(Value(1), browser.callMember(object.get(), "f", {Value("x")}).value);
    EXPECT_EQ(Value(object), seenThis);
    EXPECT_FALSE(browser.invokeDefault(function.get(), {Value("throw")}).ok);
    EXPECT_EQ(std::vector<std::string>{"thrown"}, browser.pageErrors());
    EXPECT_FALSE(browser.callMember(object.get(), "missing").ok);

    std::vector<std::string> names;
    ASSERT_TRUE(browser.enumerate(object.get(), &names));
    EXPECT_EQ((std::vector<std::string>{"7", "f"}), names);
    seenThis = Value();
    seenArgs.clear();
}

TEST_F(FakeBrowserPage, AnArrayRefusesALengthThatIsNoWholeNumber)
{
    ObjectRef array = browser.newArray({Value(1), Value(2), Value(3)});
    const double refused[] = {-1.0, 1.5, std::nan(""), 1e300};
    for (double length : refused) {
        EXPECT_FALSE(browser.setProperty(array.get(), "length", Value(length)).ok) << length;
        EXPECT_EQ(Value(3), browser.getProperty(array.get(), "length").value) << length;
    }
    EXPECT_TRUE(browser.setProperty(array.get(), "length", Value(2.0)).ok);
    EXPECT_EQ((std::vector<Value>{Value(1), Value(2)}), browser.arrayValues(array.get()));
    array.reset();
    expectBalancedAtTheEnd();
}

// A plain object may claim any "length"; its reads are counted, and past
// the limit a test sets they fail as a violation.
TEST_F(FakeBrowserPage, PropertyReadsAreCountedAndCanBeLimited)
{
    ObjectRef object = browser.newObject();
    ASSERT_TRUE(browser.setProperty(object.get(), "length", Value(2147483647)).ok);
    PageObject& page = *asPageObject(object.get());
    EXPECT_EQ(0u, page.reads);
    page.readLimit = 2;
    EXPECT_EQ(Value(2147483647), browser.getProperty(object.get(), "length").value);
    EXPECT_TRUE(browser.getProperty(object.get(), "0").value.isUndefined());
    EXPECT_TRUE(browser.violations().empty());
    EXPECT_FALSE(browser.getProperty(object.get(), "1").ok);
    EXPECT_EQ(3u, page.reads);
    EXPECT_EQ(std::vector<std::string>{"a page object read past its limit: 1"}, browser.violations());
    object.reset();
    root.reset();
    instance->destroy();
    browser.shutdown();
    // Nothing left behind besides that violation.
    EXPECT_EQ("violation: a page object read past its limit: 1\n", browser.ledgerProblems());
}

TEST_F(FakeBrowserPage, GetValueAnswersAndConfiguredFailures)
{
    NPNetscapeFuncs* npn = browser.browserFuncs();
    NPP npp = instance->npp();
    NPObject* window = nullptr;
    ASSERT_EQ(NPERR_NO_ERROR, npn->getvalue(npp, NPNVWindowNPObject, &window));
    EXPECT_EQ(instance->window().get(), window);
    npn->releaseobject(window);  // the caller owned it
    NPObject* element = nullptr;
    ASSERT_EQ(NPERR_NO_ERROR, npn->getvalue(npp, NPNVPluginElementNPObject, &element));
    EXPECT_EQ(instance->element().get(), element);
    npn->releaseobject(element);

    NPBool xembed = 0;
    EXPECT_EQ(NPERR_NO_ERROR, npn->getvalue(npp, NPNVSupportsXEmbedBool, &xembed));
    EXPECT_EQ(1, xembed);
    browser.setNetscapeWindow(0x5000001);
    unsigned long xid = 0;
    EXPECT_EQ(NPERR_NO_ERROR, npn->getvalue(npp, NPNVnetscapeWindow, &xid));
    EXPECT_EQ(0x5000001ul, xid);
    NPNToolkitType toolkit = NPNVGtk12;
    EXPECT_EQ(NPERR_NO_ERROR, npn->getvalue(npp, NPNVToolkit, &toolkit));
    EXPECT_EQ(NPNVGtk2, toolkit);

    browser.setGetValueFailure(NPNVWindowNPObject, GetValueFailure::Error);
    EXPECT_EQ(NPERR_GENERIC_ERROR, npn->getvalue(npp, NPNVWindowNPObject, &window));
    browser.setGetValueFailure(NPNVWindowNPObject, GetValueFailure::NullObject);
    window = reinterpret_cast<NPObject*>(1);
    EXPECT_EQ(NPERR_NO_ERROR, npn->getvalue(npp, NPNVWindowNPObject, &window));
    EXPECT_EQ(nullptr, window);
    browser.setSupportsXEmbed(false);
    EXPECT_EQ(NPERR_NO_ERROR, npn->getvalue(npp, NPNVSupportsXEmbedBool, &xembed));
    EXPECT_EQ(0, xembed);

    // A plugin that gets no window at NPP_New.
    browser.setGetValueFailure(NPNVWindowNPObject, GetValueFailure::Error);
    Instance& windowless = browser.createInstance(kType);
    EXPECT_EQ(NPERR_NO_ERROR, windowless.newResult());
    windowless.destroy();
    expectBalancedAtTheEnd();
}

TEST_F(FakeBrowserPage, ProxyUserAgentAndRequestsAreConfigurableAndRecorded)
{
    NPNetscapeFuncs* npn = browser.browserFuncs();
    NPP npp = instance->npp();
    browser.setProxyAnswer(NPERR_NO_ERROR, "PROXY 127.0.0.1:3128");
    char* text = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(NPERR_NO_ERROR, npn->getvalueforurl(npp, NPNURLVProxy, "http://127.0.0.1/", &text, &length));
    EXPECT_EQ("PROXY 127.0.0.1:3128", std::string(text, length));
    npn->memfree(text);
    browser.setProxyAnswer(NPERR_INCOMPATIBLE_VERSION_ERROR, "");
    EXPECT_EQ(NPERR_INCOMPATIBLE_VERSION_ERROR,
              npn->getvalueforurl(npp, NPNURLVProxy, "http://127.0.0.1/", &text, &length));

    browser.setUserAgent("Firefox/3.6");
    EXPECT_STREQ("Firefox/3.6", npn->uagent(npp));

    int notify = 0;
    EXPECT_EQ(NPERR_NO_ERROR, npn->geturlnotify(npp, "http://127.0.0.1/a", nullptr, &notify));
    browser.setStreamAnswer(NPERR_INVALID_URL);
    EXPECT_EQ(NPERR_INVALID_URL, npn->posturlnotify(npp, "http://127.0.0.1/b", nullptr, 3, "a=1", 0, &notify));
    const std::vector<UrlRequest> requests = browser.urlRequests();
    ASSERT_EQ(4u, requests.size());  // two proxy queries, then the two requests
    EXPECT_EQ(Entry::geturlnotify, requests[2].entry);
    EXPECT_EQ("http://127.0.0.1/a", requests[2].url);
    EXPECT_EQ(&notify, requests[2].notifyData);
    EXPECT_EQ(Entry::posturlnotify, requests[3].entry);
    EXPECT_EQ("a=1", requests[3].data);

    npn->setvalue(npp, NPPVpluginWindowBool, nullptr);
    ASSERT_EQ(1u, browser.setValueCalls().size());
    EXPECT_EQ(NPPVpluginWindowBool, browser.setValueCalls()[0].first);
    expectBalancedAtTheEnd();
}

TEST_F(FakeBrowserPage, EvaluateRecordsScriptsAndFails)
{
    NPNetscapeFuncs* npn = browser.browserFuncs();
    NPString script = {"1 + 1", 5};
    NPVariant result;
    EXPECT_TRUE(npn->evaluate(instance->npp(), instance->window().get(), &script, &result));
    EXPECT_EQ(NPVariantType_Void, result.type);
    browser.setEvaluateFails(true);
    EXPECT_FALSE(npn->evaluate(instance->npp(), instance->window().get(), &script, &result));
    EXPECT_EQ((std::vector<std::string>{"1 + 1", "1 + 1"}), instance->scripts());
    expectBalancedAtTheEnd();
}

TEST_F(FakeBrowserPage, ThePageHelperCallsFunctionsAndMembersFromTimers)
{
    const CallResult defined = browser.invoke(root.get(), "defineHelper", {Value("__FB_CALL_7")});
    ASSERT_TRUE(defined.ok);
    ASSERT_TRUE(defined.value.isObject());  // the assignment's value: the function
    EXPECT_EQ(defined.value, browser.getProperty(instance->window().get(), "__FB_CALL_7").value);
    ASSERT_EQ(1u, instance->scripts().size());

    std::vector<std::vector<Value>> calls;
    ObjectRef function = browser.newFunction([&](const Value&, const std::vector<Value>& args) {
        calls.push_back(args);
        return Value();
    });
    ObjectRef target = browser.newObject();
    browser.setProperty(target.get(), "onDone", Value(function));
    ObjectRef args = browser.newArray({Value(1), Value("a")});

    // Three arguments: the function itself; four: the named member, with the
    // plugin's own object as a target too.
    const CallResult first =
        browser.invoke(root.get(), "callHelper", {Value("__FB_CALL_7"), Value(250), Value(function), Value(args)});
    const CallResult second = browser.invoke(
        root.get(), "callHelper", {Value("__FB_CALL_7"), Value(0), Value(target), Value(args), Value("onDone")});
    ObjectRef addArgs = browser.newArray({Value(2), Value(3)});
    const CallResult third = browser.invoke(
        root.get(), "callHelper", {Value("__FB_CALL_7"), Value(0), Value(root), Value(addArgs), Value("add")});
    ASSERT_TRUE(first.ok && second.ok && third.ok);
    EXPECT_EQ(Value(1), first.value);  // timer ids
    EXPECT_EQ(Value(2), second.value);
    EXPECT_EQ(3u, browser.pendingTimers());

    EXPECT_EQ(2u, browser.runTimers(0));  // the two with no delay
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ((std::vector<Value>{Value(1), Value("a")}), calls[0]);
    EXPECT_EQ(0u, browser.runTimers(249));
    EXPECT_EQ(1u, browser.runTimers(1));
    EXPECT_EQ(2u, calls.size());
    EXPECT_TRUE(browser.pageErrors().empty());
    const std::vector<TimerRecord> log = browser.timerLog();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(250u, log[0].delay);
    EXPECT_TRUE(log[0].fired && log[1].fired && log[2].fired);

    // A failing call in a timer is the page's uncaught error.
    ObjectRef none = browser.newArray();
    browser.invoke(root.get(), "callHelper", {Value("__FB_CALL_7"), Value(0), Value(root), Value(none), Value("fail")});
    browser.runTimers();
    ASSERT_EQ(1u, browser.pageErrors().size());
    EXPECT_EQ("uncaught exception in a timer: failed on purpose", browser.pageErrors()[0]);

    function.reset();
    target.reset();
    args.reset();
    addArgs.reset();
    none.reset();
    calls.clear();
    expectBalancedAtTheEnd();
}

TEST_F(FakeBrowserPage, ScriptingThePluginReportsItsExceptions)
{
    const CallResult sum = browser.callMember(root.get(), "add", {Value(2), Value(40)});
    EXPECT_TRUE(sum.ok);
    EXPECT_EQ(Value(42), sum.value);
    EXPECT_FALSE(sum.threw());

    const CallResult bad = browser.invoke(root.get(), "add", {Value("2")});
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ("add needs two ints", bad.exception());
    EXPECT_EQ("add needs two ints", browser.lastException());

    std::vector<std::string> names;
    ASSERT_TRUE(browser.enumerate(root.get(), &names));
    EXPECT_EQ((std::vector<std::string>{"add", "name"}), names);
    // The plugin's class has no construct entry (structVersion 2).
    EXPECT_FALSE(browser.construct(root.get()).ok);
    expectBalancedAtTheEnd();
}

TEST_F(FakeBrowserPage, TheMinimalObjectIsCalledTheWayAPageCallsAMethodFunction)
{
    ObjectRef minimal = makeMinimalMethodObject(browser, "answer", 7);
    EXPECT_FALSE(browser.hasMethod(minimal.get(), stringIdentifier("answer")));
    EXPECT_TRUE(browser.hasProperty(minimal.get(), stringIdentifier("answer")));
    const std::size_t objects = browser.objects().liveCount();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(Value(7), browser.callMember(minimal.get(), "answer").value);
    EXPECT_EQ(objects, browser.objects().liveCount());
    EXPECT_FALSE(browser.callMember(minimal.get(), "other").ok);
    minimal.reset();
    expectBalancedAtTheEnd();
}

TEST_F(FakeBrowserPage, TheConsoleRecordsWhatThePageLogs)
{
    instance->addConsole();
    const Value console = browser.getProperty(instance->window().get(), "console").value;
    ASSERT_TRUE(console.isObject());
    EXPECT_TRUE(browser.callMember(console.object(), "log", {Value("hello")}).ok);
    EXPECT_EQ(std::vector<std::string>{"hello"}, instance->consoleMessages());
}

} // namespace
