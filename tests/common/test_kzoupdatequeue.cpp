// The update queue with a sequence of the test's own in place of the package
// manager: which calls share a sequence, what each call hears, waiters that
// leave, a worker that cannot be made, the one worker thread, and a queue
// destroyed while its sequence runs.
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/thread/exceptions.hpp>
#include <gtest/gtest.h>

#include "../talk/base/logcapture.h"
#include "ThreadCount.h"
#include "UpdateQueueIdle.h"
#include "kzoupdatequeue.h"
#include "script_error.h"

namespace {

// Stands in for the package manager: the n-th run (from 1) ends with status
// n, and waits first while held.
class HeldSequence {
public:
    int run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const int status = static_cast<int>(++m_started);
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_held; });
        return status;
    }

    void hold()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = true;
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
        m_changed.notify_all();
    }
    size_t started()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_started;
    }
    bool waitForStarted(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_started >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    size_t m_started = 0;
};

// A queue whose sequence is a HeldSequence.
struct HeldQueue {
    HeldSequence sequence;
    kzoupdatequeue queue{[this] { return sequence.run(); }};
};

// Records each status it hears; throws the given text instead when asked.
class RecordingWaiter : public kzoupdatequeue::Waiter {
public:
    explicit RecordingWaiter(const std::string& failure = std::string()) : m_failure(failure) {}

    void sequenceEnded(int status) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_heard.push_back(status);
        }
        if (!m_failure.empty())
            throw std::runtime_error(m_failure);
    }
    std::vector<int> heard()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_heard;
    }

private:
    const std::string m_failure;
    std::mutex m_mutex;
    std::vector<int> m_heard;
};
typedef boost::shared_ptr<RecordingWaiter> RecordingWaiterPtr;

boost::thread refuseThread(const boost::function<void()>&)
{
    throw boost::thread_resource_error(EAGAIN, "no thread for the test");
}

class UpdateQueueTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        sequence.release();
        EXPECT_TRUE(waitForIdle(queue));
    }

    // Joins one call of waiter with nothing to do on acceptance.
    void call(const RecordingWaiterPtr& waiter)
    {
        queue.join(waiter, [] {});
    }

    HeldQueue rig;
    HeldSequence& sequence = rig.sequence;
    kzoupdatequeue& queue = rig.queue;
    RecordingWaiterPtr a = boost::make_shared<RecordingWaiter>();
    RecordingWaiterPtr b = boost::make_shared<RecordingWaiter>();
};

TEST_F(UpdateQueueTest, CallsMadeWhileASequenceRunsShareThePendingOneAndEachHearsItsOwn)
{
    EXPECT_TRUE(queue.idle());
    sequence.hold();
    call(a);
    ASSERT_TRUE(sequence.waitForStarted(1));
    call(b);
    call(a);
    call(b);
    call(b);
    EXPECT_FALSE(queue.idle());
    EXPECT_EQ(1u, queue.sequencesStarted());

    sequence.release();
    ASSERT_TRUE(waitForIdle(queue));
    EXPECT_EQ(2u, queue.sequencesStarted()) << "the pending sequence ran once";
    EXPECT_EQ((std::vector<int>{1, 2}), a->heard()) << "one status per call, its sequence's";
    EXPECT_EQ((std::vector<int>{2, 2, 2}), b->heard());

    // Idle again: the next call starts a sequence of its own.
    call(b);
    ASSERT_TRUE(waitForIdle(queue));
    EXPECT_EQ((std::vector<int>{2, 2, 2, 3}), b->heard());
}

// Calls made one right after the other, before the worker took the first:
// the first call's sequence is its own, the others share the next.
TEST_F(UpdateQueueTest, TheCallThatStartsAWorkerRunsAloneFirst)
{
    call(a);
    call(b);
    call(b);
    ASSERT_TRUE(waitForIdle(queue));
    EXPECT_EQ(2u, queue.sequencesStarted());
    EXPECT_EQ(std::vector<int>{1}, a->heard());
    EXPECT_EQ((std::vector<int>{2, 2}), b->heard());
}

TEST_F(UpdateQueueTest, OneWorkerThreadWhateverTheCallsAndNoneWhenIdle)
{
    const size_t before = threadsBeforeWorkers();
    sequence.hold();
    for (int i = 0; i < 300; ++i)
        call(i % 2 ? a : b);
    ASSERT_TRUE(sequence.waitForStarted(1));
    EXPECT_LE(threadsOfThisProcess(), before + 1);

    sequence.release();
    ASSERT_TRUE(waitForIdle(queue));
    EXPECT_EQ(2u, queue.sequencesStarted());
    EXPECT_EQ(150u + 150u, a->heard().size() + b->heard().size());
    EXPECT_TRUE(waitForThreadsAtMost(before)) << "the worker ends once nothing is pending";
}

TEST_F(UpdateQueueTest, AWaiterThatLeavesTakesItsCallsOutOfThePendingSequence)
{
    struct Case {
        const char* name;
        bool anotherWaits;
        size_t sequences;
    } const cases[] = {
        {"another waiter still waits: the pending sequence runs", true, 2},
        {"nobody waits: the pending sequence never runs", false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeldQueue own;
        const RecordingWaiterPtr leaving = boost::make_shared<RecordingWaiter>();
        const RecordingWaiterPtr staying = boost::make_shared<RecordingWaiter>();
        own.sequence.hold();
        own.queue.join(leaving, [] {});
        ASSERT_TRUE(own.sequence.waitForStarted(1));
        own.queue.join(leaving, [] {});
        own.queue.join(leaving, [] {});
        if (c.anotherWaits)
            own.queue.join(staying, [] {});
        own.queue.leave(leaving.get());

        own.sequence.release();
        ASSERT_TRUE(waitForIdle(own.queue));
        EXPECT_EQ(c.sequences, own.queue.sequencesStarted());
        EXPECT_EQ(c.sequences, own.sequence.started());
        EXPECT_EQ(std::vector<int>{1}, leaving->heard()) << "the running sequence still ended";
        EXPECT_EQ(1u, leaving.use_count()) << "the queue let the waiter go";
        EXPECT_EQ(c.anotherWaits ? std::vector<int>{2} : std::vector<int>(), staying->heard());
    }
}

TEST_F(UpdateQueueTest, AWaiterThatLeavesBeforeTheWorkerBeganRunsNothing)
{
    bool accepted = false;
    queue.join(a, [&] {
        accepted = true;
        queue.leave(a.get());
    });
    EXPECT_TRUE(accepted);
    ASSERT_TRUE(waitForIdle(queue));
    EXPECT_EQ(0u, sequence.started());
    EXPECT_TRUE(a->heard().empty());
}

TEST_F(UpdateQueueTest, AWorkerThatCannotBeMadeRefusesTheCallAndChangesNothing)
{
    LogCapture log;
    queue.setThreadMakerForTesting(&refuseThread);
    bool accepted = false;
    try {
        queue.join(a, [&] { accepted = true; });
        FAIL() << "the call was accepted";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ(kzoupdatequeue::kNotAccepted, e.what());
        EXPECT_STREQ("Could not start the update", e.what());
    }
    EXPECT_FALSE(accepted) << "nothing is reported for a call that was not accepted";
    EXPECT_TRUE(queue.idle());
    EXPECT_EQ(1u, a.use_count()) << "the queue keeps nothing of the call";
    EXPECT_EQ(std::vector<std::string>{"INFO(kzoupdatequeue.cpp): Installer worker not started: "
                                       "no thread for the test: Resource temporarily unavailable"},
              log.Lines("kzoupdatequeue.cpp"));

    queue.setThreadMakerForTesting(nullptr);
    call(a);
    ASSERT_TRUE(waitForIdle(queue));
    EXPECT_EQ(std::vector<int>{1}, a->heard()) << "only the accepted call";
}

// The accepted step (the caller's progress report) comes before the
// sequence may take the call, for the first call of a worker and for a
// pending one alike.
TEST_F(UpdateQueueTest, NoSequenceTakesACallBeforeItsAcceptedStepEnded)
{
    size_t startedDuringAcceptance = 99;
    queue.join(a, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        startedDuringAcceptance = sequence.started();
    });
    EXPECT_EQ(0u, startedDuringAcceptance);
    ASSERT_TRUE(sequence.waitForStarted(1));

    sequence.hold();
    call(b);
    ASSERT_TRUE(sequence.waitForStarted(2));
    queue.join(a, [&] {
        sequence.release();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        startedDuringAcceptance = sequence.started();
    });
    EXPECT_EQ(2u, startedDuringAcceptance);
    ASSERT_TRUE(waitForIdle(queue));
    EXPECT_EQ(3u, sequence.started());
    EXPECT_EQ((std::vector<int>{1, 3}), a->heard());
}

TEST_F(UpdateQueueTest, AnAcceptedStepThatThrowsTakesItsCallOut)
{
    struct Case {
        const char* name;
        bool whileRunning;
    } const cases[] = {{"the call that starts the worker", false},
                       {"a call that joins the pending sequence", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeldQueue own;
        const RecordingWaiterPtr first = boost::make_shared<RecordingWaiter>();
        const RecordingWaiterPtr refused = boost::make_shared<RecordingWaiter>();
        own.sequence.hold();
        if (c.whileRunning) {
            own.queue.join(first, [] {});
            ASSERT_TRUE(own.sequence.waitForStarted(1));
        }
        EXPECT_THROW(own.queue.join(refused, [] { throw std::runtime_error("report failed"); }),
                     std::runtime_error);
        EXPECT_EQ(1u, refused.use_count());

        own.sequence.release();
        ASSERT_TRUE(waitForIdle(own.queue));
        EXPECT_EQ(c.whileRunning ? 1u : 0u, own.sequence.started()) << "no sequence for nobody";
        EXPECT_TRUE(refused->heard().empty());
    }
}

TEST_F(UpdateQueueTest, ErrorsOfTheSequenceOrAWaiterAreLoggedAndTheWorkerGoesOn)
{
    LogCapture log;
    const RecordingWaiterPtr throwing = boost::make_shared<RecordingWaiter>("page gone");
    sequence.hold();
    call(a);
    ASSERT_TRUE(sequence.waitForStarted(1));
    queue.join(throwing, [] {});
    call(b);
    sequence.release();
    ASSERT_TRUE(waitForIdle(queue));
    EXPECT_EQ(std::vector<int>{2}, throwing->heard());
    EXPECT_EQ(std::vector<int>{2}, b->heard()) << "the other waiters still hear";
    EXPECT_EQ(std::vector<std::string>{"INFO(kzoupdatequeue.cpp): Installer worker failed: page gone"},
              log.Lines("kzoupdatequeue.cpp"));

    kzoupdatequeue failing([]() -> int { throw std::runtime_error("no shell"); });
    failing.join(a, [] {});
    ASSERT_TRUE(waitForIdle(failing));
    EXPECT_EQ((std::vector<int>{1, kzoupdatequeue::kSequenceFailed}), a->heard())
        << "a sequence that could not run ends as a failed command";
    EXPECT_EQ("INFO(kzoupdatequeue.cpp): Installer worker failed: no shell",
              log.Lines("kzoupdatequeue.cpp").back());
}

// A queue destroyed on a thread of its own, so that a destructor that never
// returns fails the test instead of hanging it. Freed only after a destructor
// that returned once the sequence ended: otherwise a worker or the destroyer
// may still be in it.
struct QueueDestroyedAside {
    HeldSequence sequence;
    std::optional<kzoupdatequeue> queue{std::in_place, [this] { return sequence.run(); }};
    std::promise<void> destroying;
    std::promise<void> destroyed;
};

// How long a destructor that does not wait has to show it: it returns at
// once, so a slow machine can only let that fault through, never fail a
// queue that waits.
const std::chrono::milliseconds kReturnsAtOnce(300);

// Any queue but the process's own (which is never destroyed) may go while
// its worker runs a sequence: its destructor waits for the sequence, and the
// call still hears its status.
TEST(UpdateQueueLifetimeTest, TheDestructorReturnsOnlyOnceTheRunningSequenceEnded)
{
    QueueDestroyedAside* const rig = new QueueDestroyedAside;
    const RecordingWaiterPtr waiter = boost::make_shared<RecordingWaiter>();
    rig->sequence.hold();
    rig->queue->join(waiter, [] {});
    ASSERT_TRUE(rig->sequence.waitForStarted(1));

    std::future<void> destroying = rig->destroying.get_future();
    std::future<void> destroyed = rig->destroyed.get_future();
    std::thread destroyer([rig] {
        rig->destroying.set_value();
        rig->queue.reset();
        rig->destroyed.set_value();
    });
    EXPECT_EQ(std::future_status::ready, destroying.wait_for(std::chrono::seconds(10)));
    if (destroyed.wait_for(kReturnsAtOnce) == std::future_status::ready) {
        destroyer.join();
        // The sequence stays held, so that its worker never reaches the gone queue.
        FAIL() << "the destructor returned while the sequence ran";
    }

    rig->sequence.release();
    if (destroyed.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        destroyer.detach();
        FAIL() << "the destructor did not return once the sequence ended";
    }
    destroyer.join();
    EXPECT_EQ(std::vector<int>{1}, waiter->heard()) << "the call heard its sequence's status";
    EXPECT_EQ(1u, waiter.use_count()) << "the queue let the waiter go";
    delete rig;
}

} // namespace
