// The installer's plugin core: the process's log set-up by the first
// instance, the event map, the site check when the window is attached and,
// for browsers that never attach one, when the page first calls the root
// object; the root object and what destruction gives back.
// Instances get a page of their own on a fake browser host and a window
// without a toolkit; the home directory is a scratch directory.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/smart_ptr/bad_weak_ptr.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include "../PluginCore/TestWindow.h"
#include "../common/CommandStubs.h"
#include "../common/PageCallbacks.h"
#include "../talk/base/logcapture.h"
#include "../talk/base/scratchdir.h"
#include "ArgumentList.h"
#include "FakeBrowserHost.h"
#include "FakePasswd.h"
#include "JSAPIAuto.h"
#include "PluginEvents/FocusChangedEvent.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/RefreshEvent.h"
#include "PluginEvents/StreamEvents.h"
#include "PluginEvents/WindowEvents.h"
#include "PluginEvents/X11Event.h"
#include "PluginWindow.h"
#include "kzohelpers.h"
#include "kzoinstallplugin.h"
#include "kzoinstallpluginAPI.h"
#include "kzologsetup.h"
#include "script_error.h"
#include "talk/base/logging.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::FakePageObjectPtr;
using testbed::FakePasswd;
using testbed::ScopedFakeHome;
using testbed::list;

namespace {

const char kRefused[] = "File corrupted. Try re-installing the plugin.";
const char kCreating[] = "INFO(kzoinstallplugin.cpp): Creating kzoautoinstall plugin ";
const char kDestructing[] = "INFO(kzoinstallplugin.cpp): destructing kzoautoinstall plugin ";
const char kValid[] = "INFO(kzoinstallplugin.cpp): Site is VALID ";
const char kInvalid[] = "INFO(kzoinstallplugin.cpp): Site is INVALID ";

typedef std::vector<std::string> Lines;

using testsupport::TestWindow;

// An event source that is no plugin window.
class OtherSource : public FB::PluginEventSource {};

// The plugin with its handlers recorded; each still answers what the
// plugin's own handler answers.
class RecordingPlugin : public kzoinstallplugin {
public:
    bool handleMouseDownEvent(FB::MouseDownEvent* evt, FB::PluginWindow* window) override
    {
        handled.push_back("mouse down");
        return kzoinstallplugin::handleMouseDownEvent(evt, window);
    }
    bool handleMouseUpEvent(FB::MouseUpEvent* evt, FB::PluginWindow* window) override
    {
        handled.push_back("mouse up");
        return kzoinstallplugin::handleMouseUpEvent(evt, window);
    }
    bool handleMouseMoveEvent(FB::MouseMoveEvent* evt, FB::PluginWindow* window) override
    {
        handled.push_back("mouse move");
        return kzoinstallplugin::handleMouseMoveEvent(evt, window);
    }
    bool handleAttachedEvent(FB::AttachedEvent* evt, FB::PluginWindow* window) override
    {
        handled.push_back("attached");
        return kzoinstallplugin::handleAttachedEvent(evt, window);
    }
    bool handleDetachedEvent(FB::DetachedEvent* evt, FB::PluginWindow* window) override
    {
        handled.push_back("detached");
        return kzoinstallplugin::handleDetachedEvent(evt, window);
    }

    Lines handled;
};

// A scriptable object that reports its release.
class ReleaseProbe : public FB::JSAPIAuto {
public:
    explicit ReleaseProbe(const std::function<void()>& onRelease)
        : FB::JSAPIAuto("probe"), m_onRelease(onRelease)
    {
    }
    ~ReleaseProbe() override { m_onRelease(); }

private:
    std::function<void()> m_onRelease;
};

// Marks logging as set up by an earlier instance of the process for its
// lifetime, so that constructions skip the set-up and log into the capture.
class LoggingSetUpElsewhere {
public:
    LoggingSetUpElsewhere() { talk_base::LogMessage::SetConfigured(true); }
    ~LoggingSetUpElsewhere() { talk_base::LogMessage::SetConfigured(false); }
};

// One plugin instance on a page of its own at the given address (none: the
// window has no location), set up as the browser binding does.
struct Instance {
    explicit Instance(const char* address)
    {
        if (address) {
            const FakePageObjectPtr location = host->newObject();
            location->set("href", FB::variant(address));
            host->window()->set("location", FB::variant(FB::JSObjectPtr(location)));
        }
        core->SetHost(host);
    }
    ~Instance()
    {
        core.reset();
        host->shutdown();
    }

    size_t locationReads() const { return host->window()->callsOf("get", "location").size(); }
    FB::variant call(const std::string& method, const FB::VariantList& args)
    {
        return core->getRootJSAPI()->invoke(method, args);
    }

    // Each of the five methods with arguments it accepts.
    std::vector<std::pair<std::string, FB::VariantList> > everyMethod()
    {
        const FB::JSObjectPtr callback(recordingCallback(host).function);
        return {{"echo", list("x")},
                {"updatePlugin", list("http://u", callback, callback, callback)},
                {"getVersion", list()},
                {"getErrorString", list(3)},
                {"getMasterVersion", list()}};
    }

    FakeBrowserHostPtr host = FakeBrowserHost::create();
    boost::shared_ptr<TestWindow> window = boost::make_shared<TestWindow>();
    boost::shared_ptr<RecordingPlugin> core = boost::make_shared<RecordingPlugin>();
};

// The site check's refusal: the script error itself, not an argument error.
void expectRefused(const std::function<void()>& run, const std::string& what)
{
    try {
        run();
        ADD_FAILURE() << what << ": not refused";
    } catch (const FB::invalid_arguments& e) {
        ADD_FAILURE() << what << ": argument error " << e.what();
    } catch (const FB::script_error& e) {
        EXPECT_STREQ(kRefused, e.what()) << what;
    }
}

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override { CommandStubs::reset(); }
    void TearDown() override { CommandStubs::reset(); }

    Lines pluginLog() { return log.Lines("kzoinstallplugin.cpp"); }

    ScratchDir home;
    ScopedFakeHome fakeHome{home.path()};
    LoggingSetUpElsewhere loggingSetUp;
    LogCapture log;
};

// --- Log set-up --------------------------------------------------------

// Puts logging back as it was at load: no stream, nothing on standard
// error, unconfigured (the set-up replaces every log stream with its file).
class LoggingRestored {
public:
    ~LoggingRestored()
    {
        setLogSetupClockForTesting(nullptr);
        talk_base::LogMessage::SetLogStream(nullptr, talk_base::LS_NONE);
        talk_base::LogMessage::SetDebugSeverity(talk_base::LS_NONE);
        talk_base::LogMessage::SetLogThreadIds(false);
        talk_base::LogMessage::SetConfigured(false);
    }
};

const time_t kNow = 1700000000;

Lines filesIn(const std::string& dir)
{
    Lines names;
    if (std::filesystem::is_directory(dir))
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
    return names;
}

TEST(PluginLogSetUpTest, TheFirstInstanceSetsLoggingUpTheSecondOnlyLogsItsCreation)
{
    ScratchDir home;
    ScopedFakeHome fakeHome(home.path());
    const LoggingRestored restored;
    ASSERT_FALSE(talk_base::LogMessage::IsConfigured());
    setLogSetupClockForTesting([] { return kNow; });
    const std::string logs = getLogsDir();
    const std::string file =
        "okzoinstallplugin." + std::to_string(kNow) + "_" + std::to_string(getpid()) + ".log";

    boost::shared_ptr<kzoinstallplugin> first = boost::make_shared<kzoinstallplugin>();
    EXPECT_TRUE(talk_base::LogMessage::IsConfigured());
    ASSERT_EQ(Lines{file}, filesIn(logs));
    std::string text = ReadWholeFile(logs + "/" + file);
    EXPECT_NE(std::string::npos, text.find("] INFO(kzoinstallplugin.cpp:")) << text;
    EXPECT_NE(std::string::npos, text.find("): Creating kzoautoinstall plugin \n")) << text;

    {
        LogCapture log;  // from here: the set-up replaced every stream
        // A new set-up now would make a second file.
        setLogSetupClockForTesting([] { return kNow + 5; });
        boost::shared_ptr<kzoinstallplugin> second = boost::make_shared<kzoinstallplugin>();
        EXPECT_EQ(Lines{kCreating}, log.Lines("kzoinstallplugin.cpp"));
        EXPECT_EQ(Lines{file}, filesIn(logs)) << "no second file";
        second.reset();
        first.reset();
        EXPECT_EQ((Lines{kCreating, kDestructing, kDestructing}), log.Lines("kzoinstallplugin.cpp"));
    }
    text = ReadWholeFile(logs + "/" + file);
    size_t creations = 0;
    for (size_t at = text.find("Creating kzoautoinstall plugin "); at != std::string::npos;
         at = text.find("Creating kzoautoinstall plugin ", at + 1))
        ++creations;
    EXPECT_EQ(2u, creations) << "both instances log into the first one's file: " << text;
}

TEST(PluginLogSetUpTest, AFailedSetUpFailsTheInstanceAndTheNextOneTriesAgain)
{
    ScratchDir home;
    const LoggingRestored restored;
    const int live = FB::PluginCore::ActivePluginCount;
    FakePasswd::setNoEntry();
    try {
        boost::make_shared<kzoinstallplugin>();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("User not found.", e.what());
    }
    EXPECT_EQ(live, FB::PluginCore::ActivePluginCount) << "the core base was destroyed";
    EXPECT_FALSE(talk_base::LogMessage::IsConfigured());

    ScopedFakeHome fakeHome(home.path());
    boost::shared_ptr<kzoinstallplugin> next = boost::make_shared<kzoinstallplugin>();
    EXPECT_TRUE(talk_base::LogMessage::IsConfigured());
    EXPECT_EQ(1u, filesIn(getLogsDir()).size());
}

// --- Ready, windowless, root object, destruction ------------------------

TEST_F(PluginTest, OnPluginReadyLogsWhetherTheOnloadHandlerWasScheduled)
{
    struct Case {
        bool onloadParam;
        const char* line;
    } const cases[] = {
        {true, "INFO(kzoinstallplugin.cpp): onPluginReady 1"},
        {false, "INFO(kzoinstallplugin.cpp): onPluginReady 0"},
    };
    for (const Case& c : cases) {
        Instance page("https://otarnwell.com/");
        if (c.onloadParam) {
            // The test page keeps the arguments of every call, the root object
            // among them; made without the host, it does not keep that alive.
            page.core->SetHost(FB::BrowserHostPtr());
            page.core->getRootJSAPI();
            page.core->SetHost(page.host);
            const FB::JSObjectPtr onload(
                page.host->newFunction([](const FB::VariantList&) { return FB::variant(); }));
            page.host->window()->set("ready", FB::variant(onload));
            page.core->setParams(FB::VariantMap{{"onload", FB::variant("ready")}});
        }
        const size_t before = pluginLog().size();
        EXPECT_EQ(c.onloadParam, page.core->setReady());
        const Lines lines = pluginLog();
        EXPECT_EQ((Lines{c.line}), Lines(lines.begin() + before, lines.end()));
        EXPECT_EQ(c.onloadParam ? 1u : 0u, page.host->window()->helperCalls().size());
    }
}

TEST_F(PluginTest, AlwaysWindowedWhateverTheWindowlessParameterSays)
{
    for (const FB::variant& value : {FB::variant(true), FB::variant("true"), FB::variant(1)}) {
        Instance page("https://otarnwell.com/");
        page.core->setParams(FB::VariantMap{{"windowless", value}});
        EXPECT_TRUE(page.core->FB::PluginCore::isWindowless()) << "the parameter reads as true";
        EXPECT_FALSE(page.core->isWindowless());
    }
}

TEST_F(PluginTest, TheRootObjectNeedsACoreOwnedByASharedPointer)
{
    kzoinstallplugin unowned;
    EXPECT_THROW(unowned.createJSAPI(), boost::bad_weak_ptr);
    EXPECT_THROW(unowned.getRootJSAPI(), boost::bad_weak_ptr);

    Instance page("https://otarnwell.com/");
    const FB::JSAPIPtr root = page.core->getRootJSAPI();
    EXPECT_TRUE(boost::dynamic_pointer_cast<kzoinstallpluginAPI>(root));
    EXPECT_EQ(root, page.core->getRootJSAPI()) << "made once";
}

TEST_F(PluginTest, DestructionReleasesTheHostsObjectsThenLogs)
{
    Instance page("https://otarnwell.com/");
    const boost::weak_ptr<FB::JSAPI> root(page.core->getRootJSAPI());
    page.host->retainJSAPI(page.core->getRootJSAPI());
    Lines atRelease;
    bool released = false;
    page.host->retainJSAPI(boost::make_shared<ReleaseProbe>([&] {
        released = true;
        atRelease = pluginLog();
    }));

    page.core.reset();
    EXPECT_TRUE(root.expired());
    ASSERT_TRUE(released);
    EXPECT_EQ((Lines{kCreating}), atRelease) << "released before the last line";
    EXPECT_EQ((Lines{kCreating, kDestructing}), pluginLog());
}

// The browser destroys the instance while its update runs: shutdown, on the
// main thread, lets the page's callbacks go, the running worker reports
// nothing afterwards, and an update asked for after it is refused.
TEST_F(PluginTest, ShutdownLetsTheUpdatersPageObjectsGo)
{
    Instance page("https://otarnwell.com/");
    CommandStubs::hold("yum");
    RecordingCallback success = recordingCallback(page.host);
    RecordingCallback progress = recordingCallback(page.host);
    page.call("updatePlugin", list("http://u", FB::JSObjectPtr(success.function),
                                   FB::JSObjectPtr(success.function),
                                   FB::JSObjectPtr(progress.function)));
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    ASSERT_TRUE(deliverUntil(page.host, [&] { return !progress.values->empty(); }));
    // The result function is the updater's alone now.
    const boost::weak_ptr<testbed::FakePageObject> successFunction(success.function);
    success.function.reset();
    ASSERT_FALSE(successFunction.expired());

    page.core->shutdown();
    EXPECT_TRUE(successFunction.expired());
    RecordingCallback late = recordingCallback(page.host);
    EXPECT_THROW(page.call("updatePlugin", list("http://u", FB::JSObjectPtr(late.function),
                                                FB::JSObjectPtr(late.function),
                                                FB::JSObjectPtr(late.function))),
                 FB::script_error);

    CommandStubs::release("yum");
    ASSERT_TRUE(deliverUntil(page.host, [&] {
        for (const std::string& line : log.Lines("kzoupdateAPI.cpp")) {
            if (line.find(". Return code: 0") != std::string::npos)
                return true;
        }
        return false;
    }));
    deliverFor(page.host, 100);
    EXPECT_TRUE(success.values->empty());
    EXPECT_TRUE(late.values->empty());
    EXPECT_EQ(std::vector<std::string>{"yum -y update vudiriveze"}, CommandStubs::calls());
}

// --- Event map ------------------------------------------------------------

TEST_F(PluginTest, MouseAttachAndDetachEventsReachTheirHandlersAndStayUnhandled)
{
    Instance page("https://otarnwell.com/");
    struct Case {
        std::shared_ptr<FB::PluginEvent> event;
        const char* handler;
    } const cases[] = {
        {std::make_shared<FB::MouseDownEvent>(1, 2, 0, 0), "mouse down"},
        {std::make_shared<FB::MouseUpEvent>(1, 2, 0, 1), "mouse up"},
        {std::make_shared<FB::MouseMoveEvent>(3, 4, 0), "mouse move"},
        {std::make_shared<FB::AttachedEvent>(), "attached"},
        {std::make_shared<FB::DetachedEvent>(), "detached"},
    };
    for (const Case& c : cases) {
        page.core->handled.clear();
        EXPECT_FALSE(page.core->HandleEvent(c.event.get(), page.window.get())) << c.handler;
        EXPECT_EQ(Lines{c.handler}, page.core->handled);
    }
}

TEST_F(PluginTest, OtherEventsGoToNoHandler)
{
    Instance page("https://otarnwell.com/");
    struct Case {
        std::shared_ptr<FB::PluginEvent> event;
        const char* name;
    } const cases[] = {
        {std::make_shared<FB::KeyDownEvent>(65, 38, 0), "key down"},
        {std::make_shared<FB::KeyUpEvent>(65, 38, 0), "key up"},
        {std::make_shared<FB::FocusChangedEvent>(true), "focus in"},
        {std::make_shared<FB::FocusChangedEvent>(false), "focus out"},
        {std::make_shared<FB::MouseDoubleClickEvent>(1, 2, 0, 0), "double click"},
        {std::make_shared<FB::MouseScrollEvent>(1, 2, 0, 0.0, 1.0), "scroll"},
        {std::make_shared<FB::ResizedEvent>(), "resized"},
        {std::make_shared<FB::ClipChangedEvent>(), "clip changed"},
        {std::make_shared<FB::RefreshEvent>(FB::Rect{0, 0, 10, 10}), "refresh"},
        {std::make_shared<FB::X11Event>(nullptr, nullptr), "X11"},
        {std::make_shared<FB::StreamCompletedEvent>(nullptr, true), "stream"},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(page.core->HandleEvent(c.event.get(), page.window.get())) << c.name;
    EXPECT_FALSE(page.core->HandleEvent(nullptr, page.window.get()));
    EXPECT_TRUE(page.core->handled.empty());
    EXPECT_EQ(0u, page.locationReads());
}

TEST_F(PluginTest, EventsFromASourceThatIsNoWindowGoToNoHandler)
{
    Instance page("https://elsewhere.example/");
    const boost::shared_ptr<OtherSource> other = boost::make_shared<OtherSource>();
    FB::MouseDownEvent down(1, 2, 0, 0);
    FB::AttachedEvent attached;
    EXPECT_FALSE(page.core->HandleEvent(&down, other.get()));
    EXPECT_FALSE(page.core->HandleEvent(&attached, other.get()));
    EXPECT_FALSE(page.core->HandleEvent(&down, nullptr));
    EXPECT_FALSE(page.core->HandleEvent(&attached, nullptr));
    EXPECT_NO_THROW(other->AttachObserver(page.core)) << "no site check for that attach";
    EXPECT_FALSE(other->SendEvent(&down));
    EXPECT_TRUE(page.core->handled.empty());
    EXPECT_EQ(0u, page.locationReads());
}

TEST_F(PluginTest, TheWindowsOwnEventsReachTheCore)
{
    Instance page("https://www.tarnwellmeet.com/install?x=1");
    page.core->SetWindow(page.window.get());
    FB::MouseMoveEvent move(5, 6, 0);
    FB::KeyDownEvent key(65, 38, 0);
    EXPECT_FALSE(page.window->SendEvent(&move));
    EXPECT_FALSE(page.window->SendEvent(&key));
    page.core->ClearWindow();
    EXPECT_EQ((Lines{"attached", "mouse move", "detached"}), page.core->handled);
    EXPECT_EQ(nullptr, page.core->GetWindow());
}

// --- Site check on attach --------------------------------------------------

TEST_F(PluginTest, AttachOnAVendorPageLogsValidAndTheMethodsWork)
{
    for (const char* address :
         {"https://otarnwell.com/", "http://www.TarnwellConf.COM/page?x=1", "https://tarnwellmeet.com/a"}) {
        Instance page(address);
        const size_t before = pluginLog().size();
        EXPECT_NO_THROW(page.core->SetWindow(page.window.get())) << address;
        EXPECT_EQ(page.window.get(), page.core->GetWindow());
        const Lines lines = pluginLog();
        EXPECT_EQ((Lines{kValid}), Lines(lines.begin() + before, lines.end())) << address;

        EXPECT_EQ("1.6.210.5", page.call("getVersion", list()).convert_cast<std::string>());
        EXPECT_EQ("y", page.call("echo", list("y")).convert_cast<std::string>());
        EXPECT_EQ(1u, page.locationReads()) << "the methods rely on the attach's check";
    }
}

TEST_F(PluginTest, AttachElsewhereLogsInvalidThrowsAndTheMethodsRefuse)
{
    for (const char* address : {"https://evil.example/otarnwell.com/", "https://otarnwell.com.evil.example/",
                                "about:blank"}) {
        Instance page(address);
        const size_t before = pluginLog().size();
        expectRefused([&] { page.core->SetWindow(page.window.get()); }, address);
        Lines lines = pluginLog();
        EXPECT_EQ((Lines{kInvalid}), Lines(lines.begin() + before, lines.end())) << address;

        for (const auto& method : page.everyMethod())
            expectRefused([&] { page.call(method.first, method.second); }, method.first);
        EXPECT_EQ(1u, page.locationReads()) << "checked once";
        lines = pluginLog();
        EXPECT_EQ(before + 1, lines.size()) << "the refusal is not logged again";
    }
    EXPECT_FALSE(CommandStubs::waitForCalls(1, 200)) << "no update ran";
}

TEST_F(PluginTest, TheAttachedEventElsewhereThrowsOutOfHandleEvent)
{
    Instance page("https://elsewhere.example/");
    FB::AttachedEvent attached;
    expectRefused([&] { page.core->HandleEvent(&attached, page.window.get()); }, "HandleEvent");
    EXPECT_EQ((Lines{kCreating, kInvalid}), pluginLog());
}

TEST_F(PluginTest, APageWithoutAddressOrWindowIsRefused)
{
    Instance noLocation(nullptr);
    expectRefused([&] { noLocation.core->SetWindow(noLocation.window.get()); }, "no location");

    Instance noWindow("https://otarnwell.com/");
    noWindow.host->setWindowMode(FakeBrowserHost::WindowMissing);
    expectRefused([&] { noWindow.core->SetWindow(noWindow.window.get()); }, "no window");
    expectRefused([&] { noWindow.call("getVersion", list()); }, "no window, method");

    // A core that was never given a host.
    const boost::shared_ptr<kzoinstallplugin> hostless = boost::make_shared<kzoinstallplugin>();
    expectRefused([&] { hostless->getRootJSAPI()->invoke("getVersion", list()); }, "no host");
}

TEST_F(PluginTest, AWindowThatFailsPassesItsErrorOutAndDecidesNothing)
{
    Instance page("https://otarnwell.com/");
    page.host->setWindowMode(FakeBrowserHost::WindowThrows);
    EXPECT_THROW(page.core->SetWindow(page.window.get()), std::runtime_error);
    EXPECT_THROW(page.call("getVersion", list()), std::runtime_error);
    EXPECT_EQ((Lines{kCreating}), pluginLog()) << "no verdict";

    page.host->setWindowMode(FakeBrowserHost::WindowPresent);
    EXPECT_EQ("1.6.210.5", page.call("getVersion", list()).convert_cast<std::string>());
    EXPECT_EQ((Lines{kCreating, kValid}), pluginLog());
}

// --- Site check without an attach --------------------------------------------

TEST_F(PluginTest, WithoutAttachTheFirstCallChecksAVendorPageOnce)
{
    Instance page("https://www.otarnwell.com/install");
    EXPECT_EQ("x", page.call("echo", list("x")).convert_cast<std::string>());
    EXPECT_EQ("1.6.210.5", page.call("getVersion", list()).convert_cast<std::string>());
    EXPECT_EQ("Success", page.call("getErrorString", list(0)).convert_cast<std::string>());
    EXPECT_EQ(7, page.call("echo", list(7)).convert_cast<int>());
    EXPECT_EQ(1u, page.locationReads());
    EXPECT_EQ((Lines{kCreating, kValid}), pluginLog());
}

TEST_F(PluginTest, WithoutAttachAPageElsewhereIsRefusedByEveryMethod)
{
    Instance page("https://tarnwellmeet.com.example/");
    for (const auto& method : page.everyMethod())
        expectRefused([&] { page.call(method.first, method.second); }, method.first);
    EXPECT_EQ(1u, page.locationReads()) << "the check ran once";
    EXPECT_EQ((Lines{kCreating, kInvalid}), pluginLog());

    // An argument error still comes first: the wrappers check before the method runs.
    EXPECT_THROW(page.call("getErrorString", list()), FB::invalid_arguments);
    EXPECT_FALSE(CommandStubs::waitForCalls(1, 200)) << "no update ran";
}

TEST_F(PluginTest, AnAttachAfterACallChecksTheAddressAgain)
{
    Instance page("https://otarnwell.com/");
    page.call("getVersion", list());
    page.core->SetWindow(page.window.get());
    EXPECT_EQ(2u, page.locationReads());
    EXPECT_EQ((Lines{kCreating, kValid, kValid}), pluginLog());
}

} // namespace
