// The plugin core: <param> values with "on" handlers looked up on the page
// window, the ready step with the delayed onload call, the root object, the
// windowless test, window attachment and the host's shutdown on
// destruction.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "TestWindow.h"
#include "ArgumentList.h"
#include "BrowserHost.h"
#include "EventLog.h"
#include "FakeBrowserHost.h"
#include "PluginCore.h"
#include "PluginWindow.h"
#include "bad_variant_cast.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::FakePageObjectPtr;
using testsupport::RecordingCore;

namespace {

// Counts its shutdowns.
class CountingHost : public FakeBrowserHost {
public:
    void shutdown() override
    {
        ++shutdowns;
        FakeBrowserHost::shutdown();
    }
    int shutdowns = 0;
};

using testsupport::TestWindow;

FB::VariantMap params(std::initializer_list<std::pair<const std::string, FB::variant> > entries)
{
    return FB::VariantMap(entries);
}

class PluginCoreTest : public ::testing::Test {
protected:
    void SetUp() override { core->SetHost(host); }
    void TearDown() override
    {
        core.reset();
        host->shutdown();
    }

    FakePageObjectPtr pageFunction()
    {
        return host->newFunction([](const FB::VariantList&) { return FB::variant(); });
    }

    boost::shared_ptr<CountingHost> host = FakeBrowserHost::createAs<CountingHost>();
    boost::shared_ptr<RecordingCore> core = boost::make_shared<RecordingCore>();
};

TEST_F(PluginCoreTest, OnloadNamingAPageFunctionIsCalled250msLaterWithTheRootObject)
{
    const FakePageObjectPtr ready = pageFunction();
    host->window()->set("ready", FB::variant(FB::JSObjectPtr(ready)));

    core->setParams(params({{"onload", "ready"}, {"size", "large"}}));

    EXPECT_EQ("large", core->getParamVariant("size").cast<std::string>());
    EXPECT_EQ(FB::JSObjectPtr(ready), core->getParamVariant("onload").cast<FB::JSObjectPtr>());

    EXPECT_TRUE(core->setReady());
    EXPECT_EQ(std::vector<bool>{true}, core->readyCalls);
    EXPECT_EQ(1u, host->scripts().size()) << "the page helper is installed";
    const auto calls = host->window()->helperCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(250, calls[0].delay);
    EXPECT_EQ(3u, calls[0].argCount) << "no method name";
    EXPECT_EQ(FB::JSObjectPtr(ready), calls[0].func);
    ASSERT_EQ(1u, calls[0].args.size());
    EXPECT_EQ(core->getRootJSAPI(), calls[0].args[0].convert_cast<FB::JSAPIPtr>());

    EXPECT_EQ(1u, host->window()->runTimers());
    const auto invokes = ready->callsOf("invoke", "");
    ASSERT_EQ(1u, invokes.size());
    ASSERT_EQ(1u, invokes[0].args.size());
    EXPECT_EQ(core->getRootJSAPI(), invokes[0].args[0].convert_cast<FB::JSAPIPtr>());
}

TEST_F(PluginCoreTest, OnloadNamingNothingOnThePageIsNullAndSchedulesNothing)
{
    core->setParams(params({{"onload", "ready"}}));

    EXPECT_TRUE(core->getParamVariant("onload").isNull());
    EXPECT_FALSE(core->setReady());
    EXPECT_EQ(std::vector<bool>{false}, core->readyCalls);
    EXPECT_EQ(1u, host->scripts().size()) << "the helper is installed all the same";
    EXPECT_TRUE(host->window()->helperCalls().empty());
    EXPECT_EQ(0, core->createCount);
}

TEST_F(PluginCoreTest, WithoutOnloadTheHelperIsNotInstalled)
{
    core->setParams(params({{"size", "large"}}));

    EXPECT_FALSE(core->setReady());
    EXPECT_EQ(std::vector<bool>{false}, core->readyCalls);
    EXPECT_TRUE(host->scripts().empty());
    EXPECT_TRUE(host->window()->helperCalls().empty());
}

TEST_F(PluginCoreTest, AFailingRootObjectMakesTheReadyStepAnswerFalse)
{
    host->window()->set("ready", FB::variant(FB::JSObjectPtr(pageFunction())));
    core->setParams(params({{"onload", "ready"}}));
    core->failCreate = true;

    EXPECT_FALSE(core->setReady());
    EXPECT_EQ(std::vector<bool>{false}, core->readyCalls);
    EXPECT_TRUE(host->window()->helperCalls().empty());
}

TEST_F(PluginCoreTest, AReadyStepWithoutHostAnswersFalse)
{
    const auto lone = boost::make_shared<RecordingCore>();
    lone->setParams(params({{"onload", "ready"}}));
    EXPECT_EQ("ready", lone->getParamVariant("onload").cast<std::string>()) << "kept unconverted";
    EXPECT_FALSE(lone->setReady());
    EXPECT_EQ(std::vector<bool>{false}, lone->readyCalls);
}

// How one parameter is stored, by its name, value and the page.
struct ParamCase {
    const char* what;
    std::string name;
    FB::variant value;
    FakeBrowserHost::WindowMode window;
    // "null", "function", or the text the unconverted value holds.
    std::string stored;
};

class PluginCoreParamTest : public PluginCoreTest,
                            public ::testing::WithParamInterface<ParamCase> {};

TEST_P(PluginCoreParamTest, StoresTheParameterAsExpected)
{
    const ParamCase& c = GetParam();
    host->window()->set("f", FB::variant(FB::JSObjectPtr(pageFunction())));
    host->window()->set("text", FB::variant("not a function"));
    host->setWindowMode(c.window);

    core->setParams(params({{c.name, c.value}}));

    const FB::variant stored = core->getParamVariant(c.name);
    if (c.stored == "null")
        EXPECT_TRUE(stored.isNull());
    else if (c.stored == "function")
        EXPECT_EQ(host->window()->value("f").cast<FB::JSObjectPtr>(), stored.cast<FB::JSObjectPtr>());
    else
        EXPECT_EQ(c.stored, stored.convert_cast<std::string>());
}

const FakeBrowserHost::WindowMode kPresent = FakeBrowserHost::WindowPresent;

INSTANTIATE_TEST_SUITE_P(
    Params, PluginCoreParamTest,
    ::testing::Values(
        ParamCase{"plain name", "size", FB::variant("large"), kPresent, "large"},
        ParamCase{"capital On is no handler", "On", FB::variant("f"), kPresent, "f"},
        ParamCase{"a one-letter name", "o", FB::variant("f"), kPresent, "f"},
        ParamCase{"handler found", "onclick", FB::variant("f"), kPresent, "function"},
        ParamCase{"empty value reads the empty name", "onx", FB::variant(""), kPresent, "null"},
        ParamCase{"not an object on the page", "onx", FB::variant("text"), kPresent, "text"},
        ParamCase{"no page window", "onx", FB::variant("f"), FakeBrowserHost::WindowMissing, "f"},
        ParamCase{"the window fails", "onx", FB::variant("f"), FakeBrowserHost::WindowThrows, "f"},
        ParamCase{"a number becomes its text", "onx", FB::variant(7), kPresent, "null"}));

TEST_F(PluginCoreTest, AHandlerValueThatIsNoTextIsStoredUnconverted)
{
    const FB::VariantList list = testbed::list(1, 2);
    core->setParams(params({{"onload", FB::variant(list)}}));
    EXPECT_TRUE(core->getParamVariant("onload").is_of_type<FB::VariantList>());
}

TEST_F(PluginCoreTest, ASecondParameterMapKeepsWhatItDoesNotName)
{
    core->setParams(params({{"a", "1"}, {"b", "2"}}));
    core->setParams(params({{"b", "3"}, {"c", "4"}}));

    EXPECT_EQ("1", *core->getParam("a"));
    EXPECT_EQ("3", *core->getParam("b"));
    EXPECT_EQ("4", *core->getParam("c"));
}

TEST_F(PluginCoreTest, GetParamConvertsToTextOrAnswersNone)
{
    core->setParams(params({{"n", FB::variant(42)}, {"m", FB::variant(FB::VariantMap())}}));

    EXPECT_EQ("42", *core->getParam("n"));
    EXPECT_FALSE(core->getParam("absent"));
    EXPECT_THROW(core->getParam("m"), FB::bad_variant_cast);
    EXPECT_TRUE(core->getParamVariant("absent").getType() == typeid(void));
}

TEST_F(PluginCoreTest, TheRootObjectIsMadeOnceAndKept)
{
    const FB::JSAPIPtr first = core->getRootJSAPI();
    EXPECT_TRUE(first);
    EXPECT_EQ(first, core->getRootJSAPI());
    EXPECT_EQ(1, core->createCount);
}

TEST_F(PluginCoreTest, WindowlessFollowsTheParameter)
{
    struct Case {
        const char* what;
        bool present;
        FB::variant value;
        bool windowless;
    };
    const Case cases[] = {
        {"absent", false, FB::variant(), false},
        {"text true", true, FB::variant("true"), true},
        {"text false", true, FB::variant("false"), false},
        {"a text that is no boolean", true, FB::variant("maybe"), false},
        {"bool true", true, FB::variant(true), true},
        {"a value that does not convert", true, FB::variant(FB::VariantMap()), false},
    };
    for (const Case& c : cases) {
        const auto fresh = boost::make_shared<RecordingCore>();
        if (c.present)
            fresh->setParams(params({{"windowless", c.value}}));
        EXPECT_EQ(c.windowless, fresh->isWindowless()) << c.what;
    }
}

TEST_F(PluginCoreTest, TheFlagAndThePathAreStored)
{
    EXPECT_FALSE(core->getFlag());
    core->setFlag(true);
    EXPECT_TRUE(core->getFlag());
    core->setFilesystemPath("/tmp/plugin.so");
    EXPECT_EQ("/tmp/plugin.so", core->m_filesystemPath);
    EXPECT_EQ(FB::BrowserHostPtr(host), core->getHost());
}

TEST_F(PluginCoreTest, SetPlatformRecordsTheNames)
{
    FB::PluginCore::setPlatform("X11", "NPAPI");
    EXPECT_EQ("X11", FB::PluginCore::OS);
    EXPECT_EQ("NPAPI", FB::PluginCore::Browser);
}

TEST(PluginCoreLifetime, CoresAreCountedAndOneWithoutHostDestroysCleanly)
{
    const int before = FB::PluginCore::ActivePluginCount;
    {
        const auto core = boost::make_shared<RecordingCore>();
        EXPECT_EQ(before + 1, FB::PluginCore::ActivePluginCount);
        EXPECT_FALSE(core->getHost());
        EXPECT_EQ(nullptr, core->GetWindow());
    }
    EXPECT_EQ(before, FB::PluginCore::ActivePluginCount);
}

TEST(PluginCoreLifetime, DestructionShutsTheHostDownASecondTime)
{
    const auto host = FakeBrowserHost::createAs<CountingHost>();
    auto core = boost::make_shared<RecordingCore>();
    core->SetHost(host);
    core->getRootJSAPI();

    host->shutdown();  // the browser binding's own teardown
    EXPECT_EQ(1, host->shutdowns);
    core.reset();
    EXPECT_EQ(2, host->shutdowns);
    EXPECT_TRUE(host->isShutDown());
}

class PluginCoreWindowTest : public PluginCoreTest {
protected:
    boost::shared_ptr<TestWindow> first = boost::make_shared<TestWindow>();
    boost::shared_ptr<TestWindow> second = boost::make_shared<TestWindow>();
};

TEST_F(PluginCoreWindowTest, SetWindowAttachesAndClearWindowDetaches)
{
    core->SetWindow(first.get());
    EXPECT_EQ(first.get(), core->GetWindow());
    EXPECT_EQ(std::vector<std::string>{"Attached"}, core->log.events);

    FB::ResizedEvent resized;
    EXPECT_FALSE(first->SendEvent(&resized));
    core->ClearWindow();
    EXPECT_EQ(nullptr, core->GetWindow());
    EXPECT_FALSE(first->SendEvent(&resized)) << "no longer observed";
    EXPECT_EQ((std::vector<std::string>{"Attached", "Resized", "Detached"}), core->log.events);

    core->ClearWindow();  // nothing to clear
    EXPECT_EQ(3u, core->log.events.size());
}

TEST_F(PluginCoreWindowTest, ADifferentWindowDetachesFromTheFirst)
{
    core->SetWindow(first.get());
    core->SetWindow(second.get());
    EXPECT_EQ(second.get(), core->GetWindow());
    EXPECT_EQ((std::vector<std::string>{"Attached", "Detached", "Attached"}), core->log.events);

    core->log.events.clear();
    FB::ResizedEvent resized;
    first->SendEvent(&resized);
    EXPECT_TRUE(core->log.events.empty());
    second->SendEvent(&resized);
    EXPECT_EQ(std::vector<std::string>{"Resized"}, core->log.events);
}

TEST_F(PluginCoreWindowTest, AThrowingAttachLeavesTheWindowStoredAndPassesTheError)
{
    core->log.answer = [](FB::PluginEvent* evt) -> bool {
        if (dynamic_cast<FB::AttachedEvent*>(evt))
            throw std::runtime_error("site refused");
        return false;
    };
    EXPECT_THROW(core->SetWindow(first.get()), std::runtime_error);
    EXPECT_EQ(first.get(), core->GetWindow());
}

TEST_F(PluginCoreWindowTest, AThrowingDetachStillForgetsTheWindow)
{
    core->SetWindow(first.get());
    core->log.answer = [](FB::PluginEvent* evt) -> bool {
        if (dynamic_cast<FB::DetachedEvent*>(evt))
            throw std::runtime_error("detach failed");
        return false;
    };
    EXPECT_THROW(core->ClearWindow(), std::runtime_error);
    // The caller deletes the window next; the core must not point at it.
    EXPECT_EQ(nullptr, core->GetWindow());
}

TEST(PluginCoreUnowned, AttachingACoreWithoutSharedOwnerRaisesBadWeakPtr)
{
    const auto window = boost::make_shared<TestWindow>();
    RecordingCore core;
    EXPECT_THROW(core.SetWindow(window.get()), boost::bad_weak_ptr);
    EXPECT_TRUE(core.log.events.empty());
}

} // namespace
