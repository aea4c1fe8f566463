// The root scriptable object as the page scripts it: its five methods with
// their argument checks, the error table, and an update that outlives the
// object. The stub package manager and the private plugin directory come
// from the updater's tests.
#include <climits>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "../common/CommandStubs.h"
#include "../common/PageCallbacks.h"
#include "../common/PrivatePluginDir.h"
#include "../talk/base/logcapture.h"
#include "ArgumentList.h"
#include "FakeBrowserHost.h"
#include "kzoerrorstrings.h"
#include "kzoinstallpluginAPI.h"
#include "script_error.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::list;

namespace {

class RootObjectTest : public ::testing::Test {
protected:
    void SetUp() override { CommandStubs::reset(); }
    void TearDown() override
    {
        CommandStubs::reset();
        host->shutdown();
    }

    FB::variant call(const std::string& method, const FB::VariantList& args)
    {
        return api->invoke(method, args);
    }

    LogCapture log;
    FakeBrowserHostPtr host = FakeBrowserHost::create();
    boost::shared_ptr<kzoinstallpluginAPI> api =
        boost::make_shared<kzoinstallpluginAPI>(boost::shared_ptr<kzoinstallplugin>(), host);
};

TEST_F(RootObjectTest, RegistersTheFiveMethods)
{
    for (const char* name :
         {"echo", "updatePlugin", "getVersion", "getErrorString", "getMasterVersion"})
        EXPECT_TRUE(api->hasMethod(name)) << name;
    EXPECT_EQ("<JSAPI-Auto Javascript Object>", call("toString", list()).convert_cast<std::string>());
}

TEST_F(RootObjectTest, GetVersionIgnoresItsArguments)
{
    EXPECT_EQ("1.6.210.5", call("getVersion", list()).convert_cast<std::string>());
    EXPECT_EQ("1.6.210.5", call("getVersion", list(1, "two")).convert_cast<std::string>());
}

TEST_F(RootObjectTest, EchoGivesItsArgumentBack)
{
    EXPECT_EQ("x", call("echo", list("x")).convert_cast<std::string>());
    EXPECT_EQ(7, call("echo", list(7)).convert_cast<int>());
    EXPECT_TRUE(call("echo", list()).is_of_type<void>());
    EXPECT_THROW(call("echo", list("x", "y")), FB::invalid_arguments);
}

TEST_F(RootObjectTest, GetErrorStringReadsTheTableAndNeverOutsideIt)
{
    struct Case {
        int code;
        const char* message;
    } const cases[] = {
        {0, "Success"},
        {15, "AutoUpate, Download operation failed "},
        {16, "AutoUpate, Installation operation failed"},
        {32, "Linux auto update is not supported"},
        {33, "Invalid error code. Greater than max error code. "},
        {34, "Invalid error code. Greater than max error code. "},
        {1000, "Invalid error code. Greater than max error code. "},
        {INT_MAX, "Invalid error code. Greater than max error code. "},
        {-1, "Invalid error code. Greater than max error code. "},
        {INT_MIN, "Invalid error code. Greater than max error code. "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.message, call("getErrorString", list(c.code)).convert_cast<std::string>())
            << c.code;
    EXPECT_EQ(34, kErrorStringCount);
    EXPECT_EQ("Invalid URL", errorStrings[12]);
}

TEST_F(RootObjectTest, GetErrorStringLogsTheCodeAndRefusesText)
{
    call("getErrorString", list(5));
    EXPECT_EQ(std::vector<std::string>{"INFO(kzoinstallpluginAPI.cpp): getErrorString: 5"},
              log.Lines("kzoinstallpluginAPI.cpp"));
    EXPECT_THROW(call("getErrorString", list("five")), FB::invalid_arguments);
    EXPECT_THROW(call("getErrorString", list()), FB::invalid_arguments);
}

TEST_F(RootObjectTest, UpdatePluginWithMissingArgumentsStartsNothing)
{
    const RecordingCallback progress = recordingCallback(host);
    const FB::JSObjectPtr f(progress.function);
    EXPECT_THROW(call("updatePlugin", list("url", f, f)), FB::invalid_arguments);
    EXPECT_THROW(call("updatePlugin", list(f, f, f, f)), FB::invalid_arguments)
        << "an object is no URL text";
    deliverFor(host, 200);
    EXPECT_TRUE(progress.values->empty());
    EXPECT_TRUE(CommandStubs::calls().empty());
}

class RootObjectUpdateTest : public RootObjectTest {
protected:
    void SetUp() override
    {
        REQUIRE_PRIVATE_PLUGIN_DIR();
        RootObjectTest::SetUp();
        PrivatePluginDir::fill({"vudiriveze_1.8.2.3.so"});
    }
};

TEST_F(RootObjectUpdateTest, GetMasterVersionIsThePipelinesLine)
{
    EXPECT_EQ("1.8.2.3\n", call("getMasterVersion", list(1)).convert_cast<std::string>());
    PrivatePluginDir::fill({});
    EXPECT_EQ("", call("getMasterVersion", list()).convert_cast<std::string>());
}

TEST_F(RootObjectUpdateTest, UpdatePluginLooksTheVersionUpAndReportsThroughThePage)
{
    const RecordingCallback success = recordingCallback(host);
    const RecordingCallback progress = recordingCallback(host);
    EXPECT_TRUE(call("updatePlugin", list("http://u", FB::JSObjectPtr(success.function),
                                          FB::variant(), FB::JSObjectPtr(progress.function)))
                    .is_of_type<void>());
    EXPECT_EQ(3u, log.Lines("kzohelpers.cpp").size()) << "the version lookup ran";
    ASSERT_TRUE(deliverUntil(host, [&] { return !success.values->empty(); }));
    EXPECT_EQ(std::vector<int>{100}, *progress.values);
    EXPECT_EQ(std::vector<int>{0}, *success.values);
}

TEST_F(RootObjectUpdateTest, TheWorkerOutlivesTheRootObject)
{
    CommandStubs::hold("yum");
    CommandStubs::exitWith("yum", 2);
    const RecordingCallback failure = recordingCallback(host);
    call("updatePlugin",
         list("", FB::variant(), FB::JSObjectPtr(failure.function), FB::variant()));
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    const boost::weak_ptr<kzoinstallpluginAPI> gone(api);
    api.reset();
    ASSERT_TRUE(gone.expired());

    CommandStubs::release("yum");
    ASSERT_TRUE(deliverUntil(host, [&] { return !failure.values->empty(); }));
    EXPECT_EQ(std::vector<int>{16}, *failure.values);
}

} // namespace
