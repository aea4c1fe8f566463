#include "talk/base/timeutils.h"

#include <sys/time.h>

#include <atomic>

namespace talk_base {

namespace {

std::atomic<MillisecondClock> g_clock(nullptr);

uint32_t SystemTime() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<uint32_t>(tv.tv_sec) * 1000u +
         static_cast<uint32_t>(tv.tv_usec) / 1000u;
}

}  // namespace

uint32_t Time() {
  MillisecondClock clock = g_clock.load(std::memory_order_acquire);
  return clock ? clock() : SystemTime();
}

void SetClockForTesting(MillisecondClock clock) {
  g_clock.store(clock, std::memory_order_release);
}

uint32_t StartTime() {
  static const uint32_t start = Time();
  return start;
}

uint32_t TimeAfter(int32_t elapsed) {
  return Time() + static_cast<uint32_t>(elapsed);
}

int32_t TimeDiff(uint32_t later, uint32_t earlier) {
  return static_cast<int32_t>(later - earlier);
}

bool TimeIsLater(uint32_t earlier, uint32_t later) {
  return TimeDiff(later, earlier) > 0;
}

bool TimeIsLaterOrEqual(uint32_t earlier, uint32_t later) {
  return TimeDiff(later, earlier) >= 0;
}

bool TimeIsBetween(uint32_t earlier, uint32_t middle, uint32_t later) {
  if (earlier <= later) {
    return earlier <= middle && middle <= later;
  }
  return middle >= earlier || middle <= later;
}

}  // namespace talk_base
