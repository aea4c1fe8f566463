// The threads this process has now, as the kernel lists them
// (/proc/self/task), a count to compare with, and a wait for that number to
// come down. Any thread.
#ifndef TESTS_COMMON_THREADCOUNT_H
#define TESTS_COMMON_THREADCOUNT_H

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

inline size_t threadsOfThisProcess()
{
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

// The count to compare with later: taken once a first thread of the
// process has come and gone, since a sanitizer's runtime starts a helper
// thread of its own with it.
inline size_t threadsBeforeWorkers()
{
    std::thread([] {}).join();
    return threadsOfThisProcess();
}

// Waits until the process has at most count threads.
inline bool waitForThreadsAtMost(size_t count, int timeoutMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (threadsOfThisProcess() > count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

#endif
