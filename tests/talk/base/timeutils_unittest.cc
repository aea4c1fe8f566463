#include "talk/base/timeutils.h"

#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "talk/base/timing.h"

namespace talk_base {
namespace {

const uint32_t kNearWrap = 0xFFFFFFFAu;  // 2^32 - 6

struct BetweenCase {
  uint32_t earlier, middle, later;
  bool expected;
};

TEST(TimeUtilsTest, TimeIsBetweenHandlesPlainAndWrappedIntervals) {
  const BetweenCase cases[] = {
      {10, 10, 20, true},       {10, 15, 20, true},  {10, 20, 20, true},
      {10, 9, 20, false},       {10, 21, 20, false}, {kNearWrap, 3, 10, true},
      {kNearWrap, 20, 10, false}, {kNearWrap, kNearWrap, 10, true},
      {kNearWrap, 0xFFFFFFFFu, 10, true}, {kNearWrap, 10, 10, true},
  };
  for (const BetweenCase& c : cases) {
    EXPECT_EQ(c.expected, TimeIsBetween(c.earlier, c.middle, c.later))
        << c.earlier << " " << c.middle << " " << c.later;
  }
}

TEST(TimeUtilsTest, ComparisonsAreWrapAware) {
  EXPECT_TRUE(TimeIsLater(kNearWrap, 5));
  EXPECT_FALSE(TimeIsLater(5, kNearWrap));
  EXPECT_FALSE(TimeIsLater(7, 7));
  EXPECT_TRUE(TimeIsLaterOrEqual(7, 7));
  EXPECT_TRUE(TimeIsLaterOrEqual(kNearWrap, 0));
  EXPECT_FALSE(TimeIsLaterOrEqual(0, kNearWrap));
  EXPECT_EQ(11, TimeDiff(5, kNearWrap));
  EXPECT_EQ(-11, TimeDiff(kNearWrap, 5));
}

std::atomic<uint32_t> g_fake_now(0);
uint32_t FakeClock() { return g_fake_now.load(); }

class FakeClockTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClockForTesting(FakeClock); }
  void TearDown() override { SetClockForTesting(nullptr); }
};

TEST_F(FakeClockTest, TimeAfterWraps) {
  g_fake_now = kNearWrap;
  EXPECT_EQ(kNearWrap, Time());
  EXPECT_EQ(4u, TimeAfter(10));
  EXPECT_EQ(kNearWrap - 10, TimeAfter(-10));
}

TEST(TimeUtilsTest, SeamRestoresTheSystemClock) {
  g_fake_now = 1;
  SetClockForTesting(FakeClock);
  EXPECT_EQ(1u, Time());
  SetClockForTesting(nullptr);
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  const uint32_t expected = static_cast<uint32_t>(tv.tv_sec) * 1000u +
                            static_cast<uint32_t>(tv.tv_usec) / 1000u;
  EXPECT_LE(TimeDiff(Time(), expected), 1000);
  EXPECT_GE(TimeDiff(Time(), expected), 0);
}

TEST(TimeUtilsTest, StartTimeIsTakenAtLoadAndKept) {
  const uint32_t start = StartTime();
  EXPECT_TRUE(TimeIsLaterOrEqual(start, Time()));
  g_fake_now = 42;
  SetClockForTesting(FakeClock);
  EXPECT_EQ(start, StartTime());
  SetClockForTesting(nullptr);
}

// Timing

TEST(TimingTest, ClocksAdvance) {
  Timing timing;
  const double t1 = timing.TimerNow();
  const double w1 = timing.WallTimeNow();
  EXPECT_GT(t1, 0.0);
  EXPECT_NEAR(static_cast<double>(time(nullptr)), w1, 2.0);
  EXPECT_GE(timing.TimerNow(), t1);
}

TEST(TimingTest, BusyWaitSpinsForThePeriod) {
  Timing timing;
  const double start = timing.TimerNow();
  const double waited = timing.BusyWait(0.02);
  EXPECT_GE(waited, 0.02);
  EXPECT_GE(timing.TimerNow() - start, 0.02);
  EXPECT_LT(waited, 2.0);
}

std::atomic<int> g_interrupts(0);
void CountInterrupt(int) { g_interrupts.fetch_add(1); }

TEST(TimingTest, IdleWaitSleepsTheWholePeriodThroughSignals) {
  struct sigaction act = {};
  struct sigaction old = {};
  act.sa_handler = CountInterrupt;
  sigemptyset(&act.sa_mask);
  act.sa_flags = 0;  // no restart: the sleep really is cut short
  ASSERT_EQ(0, sigaction(SIGUSR2, &act, &old));
  g_interrupts = 0;

  const pthread_t sleeper = pthread_self();
  std::thread interrupter([sleeper] {
    for (int i = 0; i < 3; ++i) {
      struct timespec ts = {0, 30 * 1000 * 1000};
      nanosleep(&ts, nullptr);
      pthread_kill(sleeper, SIGUSR2);
    }
  });
  Timing timing;
  const double waited = timing.IdleWait(0.2);
  interrupter.join();
  sigaction(SIGUSR2, &old, nullptr);

  EXPECT_GE(g_interrupts.load(), 1);
  EXPECT_GE(waited, 0.2 - 0.001);
  EXPECT_LT(waited, 5.0);
}

TEST(TimingTest, IdleWaitOfFractionAndWholeSeconds) {
  Timing timing;
  EXPECT_GE(timing.IdleWait(0.01), 0.01 - 0.001);
  EXPECT_LT(timing.IdleWait(0.0), 0.5);
}

TEST(TimingTest, IdleWaitOfPeriodsOutsideTheClock) {
  Timing timing;
  // Nothing to sleep.
  for (double period : {std::nan(""), -1.0, -HUGE_VAL}) {
    EXPECT_LT(timing.IdleWait(period), 0.5) << period;
  }
  // Longer than a time_t holds: a child sleeps on rather than failing (or
  // tripping the sanitizer) at once, and is then ended.
  for (double period : {1e300, HUGE_VAL}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Timing sleeper;
      sleeper.IdleWait(period);
      _exit(0);
    }
    struct timespec ts = {0, 300 * 1000 * 1000};
    nanosleep(&ts, nullptr);
    int status = 0;
    EXPECT_EQ(0, waitpid(child, &status, WNOHANG)) << period;
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
}

}  // namespace
}  // namespace talk_base
