#include "Watchdog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace testbed {

Watchdog::Watchdog(int seconds) : m_disarmed(false), m_thread(&Watchdog::watch, this, seconds) {}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_disarmed = true;
    }
    m_cond.notify_all();
    m_thread.join();
}

void Watchdog::watch(int seconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_cond.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_disarmed; }))
        return;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "watchdog: %s.%s still running after %d s, aborting\n",
                 info ? info->test_suite_name() : "?", info ? info->name() : "?", seconds);
    std::fflush(stderr);
    std::abort();
}

} // namespace testbed
