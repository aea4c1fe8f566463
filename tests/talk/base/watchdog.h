// Ends a hung test: when the watchdog is not destroyed within its time, it
// reports the test by name and aborts the whole program, so that a deadlock
// fails fast instead of waiting for the test runner's timeout.
#ifndef TESTS_TALK_BASE_WATCHDOG_H_
#define TESTS_TALK_BASE_WATCHDOG_H_

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

class Watchdog {
 public:
  explicit Watchdog(int seconds = 10)
      : name_(CurrentTestName()),
        thread_([this, seconds] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, std::chrono::seconds(seconds),
                            [this] { return done_; })) {
            fprintf(stderr, "watchdog: %s did not finish within %d s\n",
                    name_.c_str(), seconds);
            abort();
          }
        }) {}

  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  static std::string CurrentTestName() {
    const ::testing::TestInfo* info =
        ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name()
                : std::string("(no test)");
  }

  std::string name_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

#endif  // TESTS_TALK_BASE_WATCHDOG_H_
