// The registry of calls handed to the browser: a call runs at most once,
// whether the browser delivers it or shutdown runs it first; refused calls
// never run; late deliveries do nothing.
#include <atomic>
#include <stdexcept>
#include <thread>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "AsyncCallManager.h"

namespace {

struct Counter {
    std::atomic<int> runs{0};
    std::thread::id thread;
};

void countRun(void* data)
{
    Counter* counter = static_cast<Counter*>(data);
    ++counter->runs;
    counter->thread = std::this_thread::get_id();
}

void throwRun(void* data)
{
    countRun(data);
    throw std::runtime_error("run failed");
}

class AsyncCallManagerTest : public ::testing::Test {
protected:
    FB::AsyncCallManagerPtr manager = boost::make_shared<FB::AsyncCallManager>();
    Counter counter;
};

TEST_F(AsyncCallManagerTest, IdsStartAtTwoAndCountUp)
{
    FB::AsyncCallRecord* first = manager->makeCallRecord(&countRun, &counter);
    FB::AsyncCallRecord* second = manager->makeCallRecord(&countRun, &counter);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(2, first->id);
    EXPECT_EQ(3, second->id);
    EXPECT_FALSE(first->called);
    EXPECT_TRUE(manager->dropCallRecord(first));
    EXPECT_TRUE(manager->dropCallRecord(second));
    EXPECT_EQ(0, counter.runs);
}

TEST_F(AsyncCallManagerTest, ADeliveredCallRunsOnceEvenIfDeliveredAgain)
{
    FB::AsyncCallRecord* record = manager->makeCallRecord(&countRun, &counter);
    FB::AsyncCallManager::browserCallback(record);
    EXPECT_EQ(1, counter.runs);
    // The record is gone now; a second delivery of the same pointer is
    // recognised as stale.
    FB::AsyncCallManager::browserCallback(record);
    manager->shutdown();
    EXPECT_EQ(1, counter.runs);
}

TEST_F(AsyncCallManagerTest, ShutdownRunsPendingCallsOnItsThreadAndADeliveryAfterwardsDoesNothing)
{
    Counter other;
    FB::AsyncCallRecord* record = manager->makeCallRecord(&countRun, &counter);
    manager->makeCallRecord(&countRun, &other);
    manager->shutdown();
    EXPECT_EQ(1, counter.runs);
    EXPECT_EQ(1, other.runs);
    EXPECT_EQ(std::this_thread::get_id(), counter.thread);
    EXPECT_TRUE(record->called) << "cancelled records stay until the manager goes";

    FB::AsyncCallManager::browserCallback(record);
    EXPECT_EQ(1, counter.runs);
}

TEST_F(AsyncCallManagerTest, ARefusedCallIsDroppedAndNeverRuns)
{
    FB::AsyncCallRecord* record = manager->makeCallRecord(&countRun, &counter);
    EXPECT_TRUE(manager->dropCallRecord(record));
    manager->shutdown();
    EXPECT_EQ(0, counter.runs);
}

TEST_F(AsyncCallManagerTest, DroppingACallThatShutdownRanLeavesItToTheManager)
{
    FB::AsyncCallRecord* record = manager->makeCallRecord(&countRun, &counter);
    manager->shutdown();
    EXPECT_FALSE(manager->dropCallRecord(record));
    EXPECT_EQ(1, counter.runs);
    FB::AsyncCallManager::browserCallback(record);
    EXPECT_EQ(1, counter.runs);
}

TEST_F(AsyncCallManagerTest, NothingIsRegisteredAfterShutdown)
{
    manager->shutdown();
    EXPECT_EQ(nullptr, manager->makeCallRecord(&countRun, &counter));
    EXPECT_EQ(0, counter.runs);
}

TEST_F(AsyncCallManagerTest, ADeliveryAfterTheManagerIsGoneDoesNothing)
{
    FB::AsyncCallRecord* record = manager->makeCallRecord(&countRun, &counter);
    manager.reset();
    FB::AsyncCallManager::browserCallback(record);
    EXPECT_EQ(0, counter.runs);
}

TEST_F(AsyncCallManagerTest, AFailingCallDoesNotEscapeTheDelivery)
{
    FB::AsyncCallRecord* record = manager->makeCallRecord(&throwRun, &counter);
    EXPECT_NO_THROW(FB::AsyncCallManager::browserCallback(record));
    EXPECT_EQ(1, counter.runs);
    FB::AsyncCallManager::browserCallback(record);
    EXPECT_EQ(1, counter.runs);
}

TEST_F(AsyncCallManagerTest, AFailingCallDoesNotStopShutdownFromRunningTheOthers)
{
    Counter failing;
    Counter more;
    manager->makeCallRecord(&countRun, &counter);
    manager->makeCallRecord(&throwRun, &failing);
    manager->makeCallRecord(&countRun, &more);
    EXPECT_NO_THROW(manager->shutdown());
    EXPECT_EQ(1, counter.runs);
    EXPECT_EQ(1, failing.runs);
    EXPECT_EQ(1, more.runs);
}

void reenterShutdown(void* data)
{
    FB::AsyncCallManager* manager = static_cast<FB::AsyncCallManager*>(data);
    // A call run by shutdown may reach the manager again on the same thread.
    EXPECT_EQ(nullptr, manager->makeCallRecord(&countRun, nullptr));
    manager->shutdown();
}

TEST_F(AsyncCallManagerTest, ACallRunByShutdownMayReachTheManagerAgain)
{
    manager->makeCallRecord(&reenterShutdown, manager.get());
    manager->makeCallRecord(&countRun, &counter);
    manager->shutdown();
    EXPECT_EQ(1, counter.runs);
}

TEST_F(AsyncCallManagerTest, ManagerMustBeOwnedBySharedPointer)
{
    FB::AsyncCallManager unowned;
    EXPECT_THROW(unowned.makeCallRecord(&countRun, &counter), boost::bad_weak_ptr);
}

} // namespace
