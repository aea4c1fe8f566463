// The base library's millisecond clock.
//
// Time() is a uint32 count of milliseconds that wraps every 2^32 ms (about
// 49.7 days); differences between two readings are taken as signed 32-bit
// values, so every comparison here stays right across the wrap as long as
// the two times are less than 2^31 ms apart. All functions may be called
// from any thread.
#ifndef TALK_BASE_TIMEUTILS_H_
#define TALK_BASE_TIMEUTILS_H_

#include <stdint.h>

namespace talk_base {

// gettimeofday as seconds x 1000 + microseconds / 1000, in 32 bits.
uint32_t Time();
// The Time of the first call (made at library load).
uint32_t StartTime();
// Time() + elapsed.
uint32_t TimeAfter(int32_t elapsed);
// later - earlier, as a signed value.
int32_t TimeDiff(uint32_t later, uint32_t earlier);
bool TimeIsLater(uint32_t earlier, uint32_t later);
bool TimeIsLaterOrEqual(uint32_t earlier, uint32_t later);
// Plain unsigned comparisons; an interval with earlier > later is read as
// one that wraps through 0.
bool TimeIsBetween(uint32_t earlier, uint32_t middle, uint32_t later);

// Test seam: Time() returns clock() while one is set; null restores the
// system clock. Meant to be set while no other thread reads the clock.
typedef uint32_t (*MillisecondClock)();
void SetClockForTesting(MillisecondClock clock);

}  // namespace talk_base

#endif  // TALK_BASE_TIMEUTILS_H_
