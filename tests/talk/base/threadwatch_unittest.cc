// The watch on a Thread: one per Thread, shared by every holder, refusing
// for all of them once the Thread is gone; none for an OS thread without a
// Thread.
#include "talk/base/threadwatch.h"

#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "talk/base/thread.h"

namespace talk_base {
namespace {

// The Thread a watch runs with; null when it refuses.
Thread* WatchedThread(ThreadWatch* watch) {
  Thread* watched = nullptr;
  watch->Run([&](Thread* thread) { watched = thread; });
  return watched;
}

TEST(ThreadWatchTest, EveryHolderOnOneThreadGetsTheSameWatch) {
  std::shared_ptr<ThreadWatch> first, second, of_another;
  Thread* thread = nullptr;
  Thread* second_runs_with = nullptr;
  std::thread([&] {
    AutoThread current;
    thread = &current;
    first = ThreadWatch::ForCurrent();
    second = ThreadWatch::ForCurrent();
    std::thread([&] {
      AutoThread another;
      of_another = ThreadWatch::ForCurrent();
    }).join();
    if (second) second_runs_with = WatchedThread(second.get());
  }).join();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, of_another);
  EXPECT_EQ(first.get(), second.get());
  EXPECT_NE(first.get(), of_another.get()) << "another Thread has a watch of its own";
  EXPECT_EQ(thread, second_runs_with);
  // The Thread is gone, for every holder at once.
  EXPECT_EQ(nullptr, WatchedThread(first.get()));
  EXPECT_EQ(nullptr, WatchedThread(second.get()));
}

TEST(ThreadWatchTest, AnOsThreadWithoutAThreadHasNoWatch) {
  std::thread([] { EXPECT_EQ(nullptr, ThreadWatch::ForCurrent()); }).join();
}

}  // namespace
}  // namespace talk_base
