// The release queue: elements come out in the order they went in, a closed
// queue refuses pushes and hands back what it held, and pushes from several
// threads while the main thread drains lose nothing.
#include <atomic>
#include <deque>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "LockedQueue.h"

namespace {

TEST(LockedQueue, PopsInPushOrderAndKnowsWhenEmpty)
{
    FB::LockedQueue<int> queue;
    int value = -1;
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(queue.tryPop(value));
    EXPECT_EQ(-1, value);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(queue.push(i));
    EXPECT_FALSE(queue.empty());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(queue.tryPop(value));
        EXPECT_EQ(i, value);
    }
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(queue.tryPop(value));
}

TEST(LockedQueue, CloseHandsBackTheRestAndRefusesLaterPushes)
{
    FB::LockedQueue<int> queue;
    queue.push(1);
    queue.push(2);
    EXPECT_EQ((std::deque<int>{1, 2}), queue.close());
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(queue.push(3));
    int value = 0;
    EXPECT_FALSE(queue.tryPop(value));
    queue.reopen();
    EXPECT_TRUE(queue.push(4));
    ASSERT_TRUE(queue.tryPop(value));
    EXPECT_EQ(4, value);
}

TEST(LockedQueue, PushesFromWorkersWhileDrainingLoseNothing)
{
    FB::LockedQueue<int> queue;
    const int perWorker = 20000;
    std::atomic<int> running{4};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&queue, &running, w, perWorker] {
            for (int i = 0; i < perWorker; ++i)
                queue.push(w * perWorker + i);
            --running;
        });
    }
    std::vector<int> seen(4 * perWorker, 0);
    int value = 0;
    while (running > 0 || !queue.empty()) {
        while (queue.tryPop(value))
            ++seen[value];
    }
    for (std::thread& worker : workers)
        worker.join();
    while (queue.tryPop(value))
        ++seen[value];
    for (int i = 0; i < 4 * perWorker; ++i)
        ASSERT_EQ(1, seen[i]) << i;
}

} // namespace
