// Runs a function on another thread so that a test can tell whether it is
// held up by a lock: finishedWithin waits at most the given time for it to
// end. The destructor joins the thread, so release what it waits for first.
// Use one object from the test's thread only.
#ifndef TESTS_BACKGROUNDCALL_H
#define TESTS_BACKGROUNDCALL_H

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

class BackgroundCall {
public:
    explicit BackgroundCall(std::function<void()> f)
        : thread([this, f] {
              f();
              done = true;
          }) {}
    ~BackgroundCall() {
        if (thread.joinable())
            thread.join();
    }
    bool finishedWithin(int ms) {
        const std::chrono::steady_clock::time_point deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done;
    }

private:
    // Declared before the thread, which sets it.
    std::atomic<bool> done{false};
    std::thread thread;
};

#endif
