// A wait for an update queue to have nothing running or pending. Any thread.
#ifndef TESTS_COMMON_UPDATEQUEUEIDLE_H
#define TESTS_COMMON_UPDATEQUEUEIDLE_H

#include <chrono>
#include <thread>

#include "kzoupdatequeue.h"

inline bool waitForIdle(const kzoupdatequeue& queue, int timeoutMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!queue.idle()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

#endif
