// testbed::Watchdog: bounds the run time of a threading test.
//
// Made at the start of a test with a limit in seconds; if the test is still
// running when the limit passes, the watchdog prints which test hung and
// aborts the process, so a deadlock fails fast instead of hanging the run.
// Destroying the watchdog disarms it. One per test; owned by the test thread.
#ifndef TESTBED_WATCHDOG_H
#define TESTBED_WATCHDOG_H

#include <condition_variable>
#include <mutex>
#include <thread>

namespace testbed {

class Watchdog {
public:
    explicit Watchdog(int seconds);
    ~Watchdog();

    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void watch(int seconds);

    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_disarmed;
    std::thread m_thread;
};

} // namespace testbed

#endif
