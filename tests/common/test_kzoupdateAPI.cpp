// The updater: the package-manager commands run by the process's update
// queue with stub commands first on PATH, the reports that reach the page's
// callbacks, calls that share a sequence, and a sequence that outlives its
// updater or its host.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <boost/thread/exceptions.hpp>

#include "../talk/base/logcapture.h"
#include "CommandStubs.h"
#include "FakeBrowserHost.h"
#include "PageCallbacks.h"
#include "PrivatePluginDir.h"
#include "ThreadCount.h"
#include "UpdateQueueIdle.h"
#include "kzoupdateAPI.h"
#include "script_error.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::FakePageObject;

namespace {

const char kYum[] = "yum -y update vudiriveze";
const char kViewer[] = "gpk-update-viewer";

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CommandStubs::reset();
        updater->setUseMasterVersion(false);
    }
    void TearDown() override
    {
        CommandStubs::reset();
        EXPECT_TRUE(waitForIdle(queue())) << "a sequence outlived the test";
        queue().setThreadMakerForTesting(nullptr);
        host->shutdown();
    }

    static kzoupdatequeue& queue() { return kzoupdateAPI::packageManagerQueue(); }

    std::vector<std::string> lines() { return log.Lines("kzoupdateAPI.cpp"); }

    // Waits until count workers have logged their last command's status.
    bool waitForWorkers(size_t count)
    {
        return deliverUntil(host, [&] {
            size_t done = 0;
            for (const std::string& line : lines())
                done += line.find(". Return code: ") != std::string::npos;
            return done >= count;
        });
    }

    LogCapture log;
    FakeBrowserHostPtr host = FakeBrowserHost::create();
    std::unique_ptr<kzoupdateAPI> updater{new kzoupdateAPI};
    RecordingCallback success = recordingCallback(host);
    RecordingCallback failure = recordingCallback(host);
    RecordingCallback progress = recordingCallback(host);
};

TEST_F(UpdaterTest, ProgressArrivesAfterTheCallReturnedThenSuccessOnTheMainThread)
{
    updater->updatePlugin("http://u/x.rpm", success.function, failure.function, progress.function);
    EXPECT_TRUE(progress.values->empty()) << "reports only ever arrive later";
    EXPECT_EQ("http://u/x.rpm", updater->url());
    EXPECT_EQ("1.6.210.5", updater->version()) << "without the master-version flag";

    ASSERT_TRUE(deliverUntil(host, [&] { return !success.values->empty(); }));
    EXPECT_EQ(std::vector<int>{100}, *progress.values);
    EXPECT_EQ(std::vector<int>{0}, *success.values);
    EXPECT_TRUE(failure.values->empty());
    for (const auto& callback : {progress.function, success.function}) {
        const auto calls = callback->callsOf("invoke", "");
        ASSERT_EQ(1u, calls.size());
        EXPECT_TRUE(calls[0].onMainThread);
    }
}

TEST_F(UpdaterTest, CommandsAndReportsFollowTheExitStatus)
{
    struct Case {
        int yumExit;
        int viewerExit;
        std::vector<std::string> commands;
        std::vector<std::string> logLines;
        int successes;
        int failures;
    } const cases[] = {
        {0, 0, {kYum},
         {std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kYum,
          std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kYum + ". Return code: 0"},
         1, 0},
        {1, 0, {kYum, kViewer},
         {std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kYum,
          std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kYum +
              ". Failed with return code:256",
          std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kViewer +
              ". Return code: 0"},
         1, 0},
        {1, 1, {kYum, kViewer},
         {std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kYum,
          std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kYum +
              ". Failed with return code:256",
          std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kViewer +
              ". Return code: 256"},
         0, 1},
        {2, 0, {kYum},
         {std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kYum,
          std::string("INFO(kzoupdateAPI.cpp): Installer command: ") + kYum + ". Return code: 512"},
         0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("yum exits " + std::to_string(c.yumExit) + ", viewer " +
                     std::to_string(c.viewerExit));
        LogCapture caseLog;
        CommandStubs::reset();
        CommandStubs::exitWith("yum", c.yumExit);
        CommandStubs::exitWith("gpk-update-viewer", c.viewerExit);
        const RecordingCallback s = recordingCallback(host);
        const RecordingCallback f = recordingCallback(host);
        updater->updatePlugin("", s.function, f.function, FB::JSObjectPtr());

        ASSERT_TRUE(deliverUntil(host, [&] { return s.values->size() + f.values->size() > 0; }));
        EXPECT_EQ(c.commands, CommandStubs::calls());
        EXPECT_EQ(c.logLines, caseLog.Lines("kzoupdateAPI.cpp"));
        EXPECT_EQ(std::vector<int>(c.successes, 0), *s.values);
        EXPECT_EQ(std::vector<int>(c.failures, 16), *f.values);
    }
}

TEST_F(UpdaterTest, SuccessWithoutASuccessCallbackIsReportedAsFailure)
{
    updater->updatePlugin("", FB::JSObjectPtr(), failure.function, FB::JSObjectPtr());
    ASSERT_TRUE(deliverUntil(host, [&] { return !failure.values->empty(); }));
    EXPECT_EQ(std::vector<int>{16}, *failure.values);
    EXPECT_EQ(std::vector<std::string>{kYum}, CommandStubs::calls());
}

TEST_F(UpdaterTest, WithoutCallbacksNothingReachesThePageButTheLogLinesAppear)
{
    for (int yumExit : {0, 2}) {
        CommandStubs::exitWith("yum", yumExit);
        updater->updatePlugin("", FB::JSObjectPtr(), FB::JSObjectPtr(), FB::JSObjectPtr());
    }
    ASSERT_TRUE(waitForWorkers(2));
    deliverFor(host, 100);
    EXPECT_TRUE(host->window()->helperCalls().empty());
    EXPECT_EQ(0, host->handOffs());
    EXPECT_EQ(4u, lines().size());
}

TEST_F(UpdaterTest, ASecondUpdateWhileTheFirstRunsWaitsForItThenRuns)
{
    CommandStubs::hold("yum");
    updater->updatePlugin("first", success.function, failure.function, progress.function);
    ASSERT_TRUE(CommandStubs::waitForCalls(1));

    const RecordingCallback success2 = recordingCallback(host);
    const RecordingCallback failure2 = recordingCallback(host);
    const RecordingCallback progress2 = recordingCallback(host);
    updater->updatePlugin("second", success2.function, failure2.function, progress2.function);
    EXPECT_EQ("second", updater->url());
    deliverFor(host, 300);
    EXPECT_EQ(std::vector<int>{100}, *progress.values);
    EXPECT_EQ(std::vector<int>{100}, *progress2.values);
    EXPECT_EQ(std::vector<std::string>{kYum}, CommandStubs::calls()) << "the second worker waits";
    EXPECT_TRUE(success.values->empty());

    CommandStubs::release("yum");
    // Both report through the callbacks stored when they reach their report.
    ASSERT_TRUE(deliverUntil(host, [&] { return success2.values->size() == 2; }));
    EXPECT_EQ((std::vector<int>{0, 0}), *success2.values);
    EXPECT_EQ((std::vector<std::string>{kYum, kYum}), CommandStubs::calls());
    EXPECT_TRUE(success.values->empty());
    EXPECT_TRUE(failure.values->empty());
    EXPECT_TRUE(failure2.values->empty());
}

// However many updates the pages of the process start, one package-manager
// sequence (yum, then the viewer when yum exits 1) runs at a time: those
// made while it runs share the next one, and each still reports.
TEST_F(UpdaterTest, PackageManagerSequencesOfTheProcessRunOneAtATime)
{
    const int kUpdates = 6;
    CommandStubs::exitWith("yum", 1);
    CommandStubs::exitWith("gpk-update-viewer", 1);
    CommandStubs::hold("yum");
    std::vector<std::unique_ptr<kzoupdateAPI>> updaters;
    std::vector<RecordingCallback> failures;
    for (int i = 0; i < kUpdates; ++i) {
        updaters.emplace_back(new kzoupdateAPI);
        failures.push_back(recordingCallback(host));
        updaters.back()->updatePlugin("", FB::JSObjectPtr(), failures.back().function,
                                      FB::JSObjectPtr());
    }
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    EXPECT_FALSE(CommandStubs::waitForCalls(2, 300)) << testing::PrintToString(CommandStubs::calls());

    CommandStubs::release("yum");
    ASSERT_TRUE(deliverUntil(host, [&] {
        for (const RecordingCallback& f : failures) {
            if (f.values->empty())
                return false;
        }
        return true;
    }));
    ASSERT_TRUE(waitForIdle(queue()));
    deliverFor(host, 100);
    EXPECT_EQ((std::vector<std::string>{kYum, kViewer, kYum, kViewer}), CommandStubs::calls())
        << "no overlap, each viewer right after its yum";
    for (const RecordingCallback& f : failures)
        EXPECT_EQ(std::vector<int>{16}, *f.values);
}

// A page calls again and again while yum runs: one worker thread, one more
// sequence for all the calls made meanwhile, and one report for each call.
TEST_F(UpdaterTest, HundredsOfCallsWhileYumRunsShareOneMoreSequence)
{
    const int kCalls = 300;
    CommandStubs::hold("yum");
    const size_t threadsBefore = threadsBeforeWorkers();
    for (int i = 0; i < kCalls; ++i)
        updater->updatePlugin("", success.function, failure.function, progress.function);
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    EXPECT_LE(threadsOfThisProcess(), threadsBefore + 2);
    EXPECT_FALSE(CommandStubs::waitForCalls(2, 300));

    CommandStubs::release("yum");
    ASSERT_TRUE(deliverUntil(host, [&] { return success.values->size() >= size_t(kCalls); }));
    ASSERT_TRUE(waitForIdle(queue()));
    deliverFor(host, 100);
    EXPECT_EQ((std::vector<std::string>{kYum, kYum}), CommandStubs::calls());
    EXPECT_EQ(std::vector<int>(kCalls, 0), *success.values);
    EXPECT_EQ(std::vector<int>(kCalls, 100), *progress.values);
    EXPECT_TRUE(failure.values->empty());
}

// The instance whose calls wait for the pending sequence goes: they leave
// it, and with nobody else waiting it never runs. The running one still
// reports to its own page.
TEST_F(UpdaterTest, APendingSequenceOfAnInstanceThatWentNeverRuns)
{
    CommandStubs::hold("yum");
    updater->updatePlugin("", success.function, failure.function, progress.function);
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    kzoupdateAPI gone;
    const RecordingCallback goneSuccess = recordingCallback(host);
    const RecordingCallback goneFailure = recordingCallback(host);
    for (int i = 0; i < 3; ++i)
        gone.updatePlugin("", goneSuccess.function, goneFailure.function, FB::JSObjectPtr());
    gone.releasePageObjects();

    CommandStubs::release("yum");
    ASSERT_TRUE(deliverUntil(host, [&] { return !success.values->empty(); }));
    ASSERT_TRUE(waitForIdle(queue()));
    deliverFor(host, 200);
    EXPECT_EQ(std::vector<std::string>{kYum}, CommandStubs::calls());
    EXPECT_EQ(std::vector<int>{0}, *success.values);
    EXPECT_TRUE(goneSuccess.values->empty());
    EXPECT_TRUE(goneFailure.values->empty());
}

// Once the page objects are released, an update is refused: nothing runs
// and nothing reaches the page.
TEST_F(UpdaterTest, UpdatePluginAfterThePageObjectsWereReleasedReportsNothing)
{
    updater->releasePageObjects();
    try {
        updater->updatePlugin("", success.function, failure.function, progress.function);
        FAIL() << "the call was accepted";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ("Could not start the update", e.what());
    }
    deliverFor(host, 300);
    EXPECT_TRUE(progress.values->empty());
    EXPECT_TRUE(success.values->empty());
    EXPECT_TRUE(failure.values->empty());
    EXPECT_EQ(0, host->handOffs());
    EXPECT_TRUE(CommandStubs::calls().empty());
}

boost::thread refuseThread(const boost::function<void()>&)
{
    throw boost::thread_resource_error(EAGAIN, "no thread for the test");
}

// No worker thread can be made: the page gets a script error, and no
// progress report went out before it.
TEST_F(UpdaterTest, ACallThatCannotBeAcceptedThrowsAScriptErrorAndReportsNothing)
{
    queue().setThreadMakerForTesting(&refuseThread);
    EXPECT_THROW(updater->updatePlugin("", success.function, failure.function, progress.function),
                 FB::script_error);
    deliverFor(host, 300);
    EXPECT_EQ(0, host->handOffs());
    EXPECT_TRUE(progress.values->empty());
    EXPECT_TRUE(CommandStubs::calls().empty());

    queue().setThreadMakerForTesting(nullptr);
    const RecordingCallback success2 = recordingCallback(host);
    updater->updatePlugin("", success2.function, failure.function, progress.function);
    ASSERT_TRUE(deliverUntil(host, [&] { return !success2.values->empty(); }));
    EXPECT_EQ(std::vector<int>{100}, *progress.values);
    EXPECT_TRUE(success.values->empty());
}

// A refused call keeps nothing of the page's: each of its three functions
// goes as soon as the page lets go of it.
TEST_F(UpdaterTest, ACallThatCannotBeAcceptedKeepsNoneOfItsCallbacks)
{
    queue().setThreadMakerForTesting(&refuseThread);
    std::vector<boost::weak_ptr<FakePageObject>> pageObjects;
    {
        const RecordingCallback s = recordingCallback(host);
        const RecordingCallback f = recordingCallback(host);
        const RecordingCallback p = recordingCallback(host);
        EXPECT_THROW(updater->updatePlugin("", s.function, f.function, p.function),
                     FB::script_error);
        for (const RecordingCallback* callback : {&s, &f, &p})
            pageObjects.push_back(callback->function);
    }
    for (size_t i = 0; i < pageObjects.size(); ++i)
        EXPECT_TRUE(pageObjects[i].expired()) << "success, failure, progress: " << i;
}

// The instance goes while its update runs: its page objects go at once, on
// this thread, and the worker, which still runs, reports nothing.
TEST_F(UpdaterTest, ReleasedPageObjectsGoAtOnceAndTheWorkerReportsNothing)
{
    for (const int yumExit : {0, 2}) {
        SCOPED_TRACE("yum exits " + std::to_string(yumExit));
        LogCapture caseLog;
        CommandStubs::reset();
        CommandStubs::exitWith("yum", yumExit);
        CommandStubs::hold("yum");
        RecordingCallback s = recordingCallback(host);
        RecordingCallback f = recordingCallback(host);
        RecordingCallback p = recordingCallback(host);
        updater->updatePlugin("", s.function, f.function, p.function);
        ASSERT_TRUE(CommandStubs::waitForCalls(1));
        ASSERT_TRUE(deliverUntil(host, [&] { return !p.values->empty(); }));

        // The result callbacks are the updater's alone now (the progress
        // function's delivered call stays on the fake host's record).
        std::vector<boost::weak_ptr<FakePageObject>> pageObjects;
        for (RecordingCallback* callback : {&s, &f}) {
            pageObjects.push_back(callback->function);
            callback->function.reset();
        }
        updater->releasePageObjects();
        for (size_t i = 0; i < pageObjects.size(); ++i)
            EXPECT_TRUE(pageObjects[i].expired()) << "success, failure: " << i;

        CommandStubs::release("yum");
        ASSERT_TRUE(deliverUntil(host, [&] {
            for (const std::string& line : caseLog.Lines("kzoupdateAPI.cpp")) {
                if (line.find(". Return code: ") != std::string::npos)
                    return true;
            }
            return false;
        })) << "the command still runs to its end";
        deliverFor(host, 100);
        EXPECT_TRUE(s.values->empty());
        EXPECT_TRUE(f.values->empty());
        EXPECT_EQ(1, host->handOffs()) << "only the progress report went out";
        updater.reset(new kzoupdateAPI);
        host->shutdown();
        host = FakeBrowserHost::create();
    }
}

TEST_F(UpdaterTest, AWorkerOutlivesItsUpdaterAndThenLetsTheCallbacksGo)
{
    CommandStubs::hold("yum");
    updater->updatePlugin("", success.function, failure.function, progress.function);
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    updater.reset();

    // The page drops its own reference to the failure function, which is
    // never called on success: only the worker still holds it.
    const boost::weak_ptr<FakePageObject> failureFunction(failure.function);
    failure.function.reset();
    EXPECT_FALSE(failureFunction.expired());

    CommandStubs::release("yum");
    ASSERT_TRUE(deliverUntil(host, [&] { return !success.values->empty(); }));
    EXPECT_EQ(std::vector<int>{0}, *success.values);
    EXPECT_TRUE(deliverUntil(host, [&] { return failureFunction.expired(); }))
        << "the worker gives its callbacks back when it ends";
}

TEST_F(UpdaterTest, AWorkerWhoseHostIsGoneLogsTheErrorAndEnds)
{
    CommandStubs::hold("yum");
    updater->updatePlugin("", success.function, failure.function, FB::JSObjectPtr());
    ASSERT_TRUE(CommandStubs::waitForCalls(1));
    host->shutdown();
    const boost::weak_ptr<FakeBrowserHost> gone(host);
    host = FakeBrowserHost::create();
    ASSERT_TRUE(gone.expired());

    CommandStubs::release("yum");
    const std::vector<std::string> expected{
        "INFO(kzoupdatequeue.cpp): Installer worker failed: Cannot invoke asynchronously"};
    EXPECT_TRUE(deliverUntil(host, [&] { return log.Lines("kzoupdatequeue.cpp") == expected; }))
        << testing::PrintToString(log.Lines("kzoupdatequeue.cpp"));
}

TEST_F(UpdaterTest, AProgressReportThatCannotBeSentStartsNoWorker)
{
    const RecordingCallback orphan = [] {
        FakeBrowserHostPtr other = FakeBrowserHost::create();
        RecordingCallback callback = recordingCallback(other);
        other->shutdown();
        return callback;
    }();
    try {
        updater->updatePlugin("", success.function, failure.function, orphan.function);
        FAIL() << "the progress report went out";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Cannot invoke asynchronously", e.what());
    }
    deliverFor(host, 300);
    EXPECT_TRUE(CommandStubs::calls().empty());
    EXPECT_TRUE(lines().empty());
}

TEST_F(UpdaterTest, TheMasterVersionFlagReadsTheMainPluginsVersion)
{
    REQUIRE_PRIVATE_PLUGIN_DIR();
    PrivatePluginDir::fill({"vudiriveze_1.8.2.3.so"});
    updater->setUseMasterVersion(true);
    updater->updatePlugin("", FB::JSObjectPtr(), FB::JSObjectPtr(), progress.function);
    EXPECT_EQ("1.8.2.3\n", updater->version());
    EXPECT_FALSE(log.Lines("kzohelpers.cpp").empty());
    ASSERT_TRUE(waitForWorkers(1));
    EXPECT_EQ(std::vector<int>{100}, *progress.values);
}

} // namespace
