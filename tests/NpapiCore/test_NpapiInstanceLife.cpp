// An instance's life as the browser drives it: <param> values and the
// onload call, and teardown that gives every browser object and every byte
// of browser memory back, whatever was still pending or held by workers.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PluginFixture.h"

using fakebrowser::CallResult;
using fakebrowser::FakeBrowser;
using fakebrowser::Instance;
using fakebrowser::ObjectRef;
using fakebrowser::Value;

namespace {

// A pipe whose ends close with it.
struct Pipe {
    int fds[2] = {-1, -1};

    Pipe() { EXPECT_EQ(0, ::pipe2(fds, O_CLOEXEC)); }
    ~Pipe()
    {
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    int readEnd() const { return fds[0]; }
    int writeEnd() const { return fds[1]; }
    bool send() const { return ::write(fds[1], "x", 1) == 1; }
    // Whether a byte arrived within timeoutMs; it is read, so what the
    // sender did before sending is seen here (also by ThreadSanitizer).
    bool receive(int timeoutMs) const
    {
        pollfd ready = {fds[0], POLLIN, 0};
        char byte = 0;
        return ::poll(&ready, 1, timeoutMs) == 1 && ::read(fds[0], &byte, 1) == 1;
    }
};

class InstanceLife : public PluginFixture {
protected:
    // The root object's worker holds a new page object (and, with holdCore,
    // the plugin core) until release gets a byte, then lets go and writes to
    // done.
    bool holdPastDestroy(Instance& instance, const ObjectRef& root, const Pipe& release,
                         const Pipe& done, bool holdCore)
    {
        const ObjectRef held = browser->newObject(instance.npp());
        return browser
            ->invoke(root.get(), "holdPastDestroy",
                     {Value(held), Value(release.readEnd()), Value(done.writeEnd()), Value(holdCore)})
            .ok;
    }

    std::vector<std::string> events(const ObjectRef& root)
    {
        std::vector<std::string> texts;
        const fakebrowser::CallResult result = browser->callMember(root.get(), "events");
        for (const Value& value : browser->arrayValues(result.value.object()))
            texts.push_back(value.asString());
        return texts;
    }
};

TEST_F(InstanceLife, OnloadIsCalledWithTheRootObject250msLater)
{
    std::vector<std::vector<Value>> calls;
    Instance& instance = newInstance(
        {{"onload", "pluginLoaded"}, {"size", "large"}, {"ignored", nullptr}},
        "application/x-okzoinstallplugin", "http://127.0.0.1/page.html", [&](Instance& page) {
            browser->setProperty(page.window().get(), "pluginLoaded", Value(recordingFunction(&calls)));
        });
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());

    browser->runTimers(249);
    EXPECT_TRUE(calls.empty());
    browser->runTimers(1);
    ASSERT_EQ(1u, calls.size());
    ASSERT_EQ(1u, calls[0].size());

    // The argument is the root object (a browser object of its own, as
    // every scriptable value the plugin hands out).
    const ObjectRef root = instance.scriptableObject();
    ASSERT_TRUE(calls[0][0].isObject());
    EXPECT_EQ(Value(true), browser->callMember(root.get(), "sameObject", {calls[0][0]}).value);
    EXPECT_EQ(std::vector<std::string>{"ready onload"}, events(root));
    // The page helper was defined once, by script.
    EXPECT_EQ(1u, instance.scripts().size());
}

TEST_F(InstanceLife, OnloadNamingNothingSchedulesNothing)
{
    Instance& instance = newInstance({{"onload", "missing"}});
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    browser->runTimers(1000);
    const ObjectRef root = instance.scriptableObject();
    EXPECT_EQ(std::vector<std::string>{"ready"}, events(root));
    EXPECT_EQ(0u, browser->timerLog().size());
}

TEST_F(InstanceLife, DestroyWithAnAsynchronousCallStillQueued)
{
    std::vector<std::vector<Value>> calls;
    Instance& instance = newInstance();
    ObjectRef root = instance.scriptableObject();
    const ObjectRef func = recordingFunction(&calls);
    EXPECT_TRUE(browser->callMember(root.get(), "callPageAsync", {Value(func), Value(5)}).ok);
    EXPECT_EQ(1u, browser->pendingAsyncCalls());

    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    root.reset();
    browser->runAsyncCalls();
    // Shutting the host down ran the pending call: the page is gone, so the
    // function was not reached, and nothing stays behind.
    EXPECT_TRUE(calls.empty());
}

TEST_F(InstanceLife, DestroyWhileAWorkerHoldsAPageObject)
{
    std::vector<std::vector<Value>> calls;
    Instance& instance = newInstance();
    ObjectRef root = instance.scriptableObject();
    const ObjectRef func = recordingFunction(&calls);
    ASSERT_TRUE(browser->callMember(root.get(), "holdInWorker", {Value(func)}).ok);

    // The root object goes with the instance and lets its worker drop the
    // page object on the worker thread.
    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    root.reset();
    // The reference comes back on the main thread by NP_Shutdown at the
    // latest (checked by the fixture).
}

// The worker's last page object (and, with the core held too, the last
// reference to the plugin core, whose end shuts the host down a second time
// on the worker) goes after NPP_Destroy: the browser objects wait for the
// main thread, which gives them back at NP_Shutdown at the latest. No
// browser function runs on the worker.
class HeldPastDestroy : public InstanceLife, public ::testing::WithParamInterface<bool> {};

TEST_P(HeldPastDestroy, TheWorkersObjectsGoBackOnTheMainThread)
{
    const bool holdCore = GetParam();
    Instance& instance = newInstance();
    ObjectRef root = instance.scriptableObject();
    const Pipe release;
    const Pipe done;
    ASSERT_TRUE(holdPastDestroy(instance, root, release, done, holdCore));
    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    root.reset();

    ASSERT_TRUE(release.send());
    ASSERT_TRUE(done.receive(10000)) << "the worker did not let go";
    EXPECT_EQ(0u, browser->offMainThreadCallCount(fakebrowser::Entry::releaseobject));
    EXPECT_TRUE(browser->violations().empty());
    // Nothing ran on the main thread since NPP_Destroy: the module's end
    // gives the worker's objects back.
    EXPECT_EQ(NPERR_NO_ERROR, browser->shutdown());
    EXPECT_EQ("", browser->ledgerProblems());
}

INSTANTIATE_TEST_SUITE_P(Holding, HeldPastDestroy, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "PageObjectAndCore" : "PageObject");
                         });

// The table of browser functions is cleared while a worker hands calls to
// the browser: the hand-off never reads it half cleared (ThreadSanitizer
// watches), and nothing reaches the page after the instance is gone.
TEST_F(InstanceLife, DestroyWhileAWorkerSchedulesPageCalls)
{
    std::vector<std::vector<Value>> calls;
    Instance& instance = newInstance();
    ObjectRef root = instance.scriptableObject();
    const ObjectRef func = recordingFunction(&calls);
    ASSERT_TRUE(browser->invoke(root.get(), "callPageAsyncLoop", {Value(func)}).ok);
    const std::chrono::steady_clock::time_point deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (browser->pendingAsyncCalls() < 50 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(browser->pendingAsyncCalls(), 50u) << "the worker schedules nothing";
    // The worker goes on without the main thread touching anything it
    // touches (asking for the queue would order its hand-offs before ours).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    root.reset();
    browser->runAsyncCalls();
    browser->runTimers(1000);
    EXPECT_TRUE(calls.empty());
    EXPECT_GT(browser->droppedAsyncCalls(), 0u);
}

// The function objects the plugin hands out: the three extra members every
// browser object offers, and a method read as a property.
const char* const kFunctionMembers[] = {"addEventListener", "removeEventListener",
                                        "getLastException", "add"};

// The ways a page stores a value on an object, each with how the page reads
// it back (none for a listener, which only an event would reach).
struct StoreWay {
    const char* how;
    std::function<CallResult(FakeBrowser&, NPObject*, const Value&)> store;
    std::function<Value(FakeBrowser&, NPObject*)> readBack;
};

const std::vector<StoreWay>& storeWays()
{
    static const std::vector<StoreWay> ways = {
        {"f.x = v",
         [](FakeBrowser& b, NPObject* f, const Value& v) { return b.setProperty(f, "x", v); },
         [](FakeBrowser& b, NPObject* f) { return b.getProperty(f, "x").value; }},
        {"f[3] = v",
         [](FakeBrowser& b, NPObject* f, const Value& v) {
             return b.setProperty(f, fakebrowser::intIdentifier(3), v);
         },
         [](FakeBrowser& b, NPObject* f) { return b.getProperty(f, fakebrowser::intIdentifier(3)).value; }},
        {"f.setAttribute('s', v)",
         [](FakeBrowser& b, NPObject* f, const Value& v) {
             return b.callMember(f, "setAttribute", {Value("s"), v});
         },
         [](FakeBrowser& b, NPObject* f) { return b.callMember(f, "getAttribute", {Value("s")}).value; }},
        {"f.addEventListener('e', v)",
         [](FakeBrowser& b, NPObject* f, const Value& v) {
             return b.callMember(f, "addEventListener", {Value("e"), v});
         },
         nullptr},
    };
    return ways;
}

// Every way a page stores a value on a function object the plugin handed
// out, with the root object, the function itself or another function as the
// value, whether the page keeps the function or lets it go at once (the
// value stays on the function object): it reads back while the instance
// lives, and once the instance is gone and the page lets go, no browser
// object of the plugin is left (the root object kept on one of its own
// function objects was held for ever).
TEST_F(InstanceLife, WhatThePageStoresOnFunctionObjectsGoesWithTheInstance)
{
    for (const char* member : kFunctionMembers) {
        for (const StoreWay& way : storeWays()) {
            for (const char* value : {"root", "itself", "another function"}) {
                for (const bool keep : {true, false}) {
                    SCOPED_TRACE(std::string(member) + ": " + way.how + " with " + value +
                                 (keep ? ", function kept" : ", function let go"));
                    Instance& instance = newInstance();
                    ObjectRef root = instance.scriptableObject();
                    ObjectRef function = browser->getProperty(root.get(), member).value.asObject();
                    ObjectRef other = browser
                                          ->getProperty(root.get(), member == std::string("add")
                                                                        ? "getLastException"
                                                                        : "add")
                                          .value.asObject();
                    ASSERT_TRUE(function && other);
                    NPObject* const made[] = {root.get(), function.get(), other.get()};
                    NPObject* const stored = value == std::string("root")     ? root.get()
                                             : value == std::string("itself") ? function.get()
                                                                              : other.get();
                    const CallResult result =
                        way.store(*browser, function.get(), Value(ObjectRef::retain(*browser, stored)));
                    EXPECT_TRUE(result.ok);
                    EXPECT_FALSE(result.threw()) << result.exception();
                    if (way.readBack) {
                        EXPECT_EQ(stored, way.readBack(*browser, function.get()).object());
                    }
                    if (!keep) {
                        function.reset();
                        other.reset();
                        const ObjectRef again = browser->getProperty(root.get(), member).value.asObject();
                        if (way.readBack) {
                            EXPECT_EQ(stored, way.readBack(*browser, again.get()).object());
                        }
                    }

                    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
                    // The page lets go of its objects: none of them may stay.
                    root.reset();
                    function.reset();
                    other.reset();
                    for (NPObject* object : made) {
                        EXPECT_FALSE(browser->objects().knows(object));
                    }
                }
            }
        }
    }
}

// An attribute of a function object is listed with the function's own
// members while the instance lives.
TEST_F(InstanceLife, AFunctionObjectListsWhatThePageStoredOnIt)
{
    Instance& instance = newInstance();
    const ObjectRef root = instance.scriptableObject();
    for (const char* member : kFunctionMembers) {
        SCOPED_TRACE(member);
        const ObjectRef function = browser->getProperty(root.get(), member).value.asObject();
        ASSERT_TRUE(browser->setProperty(function.get(), "tag", Value(root)).ok);
        std::vector<std::string> names;
        ASSERT_TRUE(browser->enumerate(function.get(), &names));
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "tag"));
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "toString"));
    }
}

// The owner of a method's function object may outlive the instance (a
// worker holds the plugin core, and with it the root scriptable object);
// what the page stored on its function objects goes with the instance all
// the same, and a value stored after the instance went is refused: nothing
// could let it go again.
TEST_F(InstanceLife, StoredValuesGoWithTheInstanceWhileAWorkerHoldsTheCore)
{
    for (const char* member : {"getLastException", "add"}) {
        SCOPED_TRACE(member);
        Instance& instance = newInstance();
        ObjectRef root = instance.scriptableObject();
        const Pipe release;
        const Pipe done;
        ASSERT_TRUE(holdPastDestroy(instance, root, release, done, true));
        ObjectRef function = browser->getProperty(root.get(), member).value.asObject();
        ASSERT_TRUE(browser->setProperty(function.get(), "x", Value(root)).ok);
        EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());

        const CallResult late = browser->setProperty(function.get(), "y", Value(root));
        EXPECT_FALSE(late.ok);
        EXPECT_FALSE(late.threw());
        EXPECT_FALSE(browser->getProperty(function.get(), "x").ok);
        for (ObjectRef* object : {&root, &function}) {
            NPObject* const address = object->get();
            object->reset();
            EXPECT_FALSE(browser->objects().knows(address));
        }

        ASSERT_TRUE(release.send());
        ASSERT_TRUE(done.receive(10000)) << "the worker did not let go";
    }
}

// A function object of a scriptable object that several instances share
// (the test plugin's process-wide "shared") reaches the page of each. Each
// page stores a page object and a number on it: when either instance ends,
// what the living page stored still reads back; once both have ended and
// the pages let go, the plugin holds none of their objects. The first
// instance to end used to drop everything on it. The second round names the
// function anew after everything on it went.
TEST_F(InstanceLife, WhatALivingPageStoredOnASharedFunctionStaysWhenAnotherInstanceEnds)
{
    for (const int firstToEnd : {0, 1}) {
        SCOPED_TRACE(firstToEnd == 0 ? "the first instance ends first" : "the second instance ends first");
        struct Page {
            Instance* instance;
            ObjectRef root, shared, function, stored;
            std::string objectName, numberName;
        } pages[2];
        for (int i = 0; i < 2; ++i) {
            Page& page = pages[i];
            page.instance = &newInstance();
            page.root = page.instance->scriptableObject();
            page.shared = browser->getProperty(page.root.get(), "shared").value.asObject();
            ASSERT_TRUE(page.shared);
            page.function = browser->getProperty(page.shared.get(), "echo").value.asObject();
            ASSERT_TRUE(page.function);
            page.stored = browser->newObject(page.instance->npp());
            page.objectName = "object" + std::to_string(i);
            page.numberName = "number" + std::to_string(i);
            ASSERT_TRUE(browser->setProperty(page.function.get(), page.objectName, Value(page.stored)).ok);
            ASSERT_TRUE(browser->setProperty(page.function.get(), page.numberName, Value(i + 1)).ok);
        }
        ASSERT_EQ(Value(1), browser->getProperty(pages[1].function.get(), "number0").value)
            << "both pages reach one function object";

        EXPECT_EQ(NPERR_NO_ERROR, pages[firstToEnd].instance->destroy());
        const Page& living = pages[1 - firstToEnd];
        EXPECT_EQ(living.stored.get(),
                  browser->getProperty(living.function.get(), living.objectName).value.object());
        EXPECT_EQ(Value(2 - firstToEnd), browser->getProperty(living.function.get(), living.numberName).value);
        EXPECT_EQ(Value(6), browser->callMember(living.shared.get(), "echo", {Value(6)}).value);

        EXPECT_EQ(NPERR_NO_ERROR, living.instance->destroy());
        for (Page& page : pages) {
            NPObject* const stored = page.stored.get();
            page.root.reset();
            page.shared.reset();
            page.function.reset();
            page.stored.reset();
            EXPECT_FALSE(browser->objects().knows(stored)) << page.objectName << " is still held";
        }
    }
}

// A <param> the browser gives without a name is left out; the others arrive.
TEST_F(InstanceLife, AParamWithoutANameIsLeftOut)
{
    Instance& instance = newInstance({{nullptr, "lost"}, {"size", "large"}, {nullptr, nullptr}, {"", "empty"}});
    ASSERT_EQ(NPERR_NO_ERROR, instance.newResult());
    const ObjectRef root = instance.scriptableObject();
    EXPECT_EQ(Value("large"), browser->invoke(root.get(), "param", {Value("size")}).value);
    EXPECT_EQ(Value("empty"), browser->invoke(root.get(), "param", {Value("")}).value);
}

TEST_F(InstanceLife, TheBrowserReleasesTheRootObjectAfterDestroy)
{
    Instance& instance = newInstance();
    ObjectRef root = instance.scriptableObject();
    ASSERT_TRUE(root);
    EXPECT_EQ(NPERR_NO_ERROR, instance.destroy());
    // The page still holds the object; reading and calling it now fail
    // quietly (the plugin raises nothing; the page finds no function).
    EXPECT_FALSE(browser->getProperty(root.get(), "add").ok);
    EXPECT_FALSE(browser->callMember(root.get(), "add", {Value(1), Value(2)}).ok);
    EXPECT_TRUE(browser->exceptions().empty());
}

TEST_F(InstanceLife, ManyInstancesShareOneModule)
{
    Instance& first = newInstance();
    Instance& second = newInstance();
    ASSERT_EQ(NPERR_NO_ERROR, first.newResult());
    ASSERT_EQ(NPERR_NO_ERROR, second.newResult());
    const ObjectRef a = first.scriptableObject();
    const ObjectRef b = second.scriptableObject();
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(NPERR_NO_ERROR, first.destroy());
    EXPECT_EQ(Value(3), browser->callMember(b.get(), "add", {Value(1), Value(2)}).value);
}

} // namespace
