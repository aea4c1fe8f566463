#include "talk/base/timing.h"

#include <errno.h>
#include <math.h>
#include <sys/time.h>
#include <time.h>

#include <limits>

double Timing::TimerNow() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_nsec) * 1.0e-9;
}

double Timing::WallTimeNow() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_usec) * 1.0e-6;
}

double Timing::IdleWait(double period) {
  const double start = TimerNow();
  // NaN and periods not above zero sleep not at all; longer periods than
  // a time_t can hold are cut to the longest sleep it can (converting them
  // unchecked is undefined).
  if (!(period > 0)) return TimerNow() - start;
  const double kLongest =
      static_cast<double>(std::numeric_limits<time_t>::max() / 2);
  if (period > kLongest) period = kLongest;
  double whole;
  const double fraction = modf(period, &whole);
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(whole);
  ts.tv_nsec = static_cast<long>(fraction * 1.0e9);
  // nanosleep leaves the time still to sleep in |ts| when a signal cuts it
  // short.
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
  return TimerNow() - start;
}

double Timing::BusyWait(double period) {
  const double start = TimerNow();
  while (TimerNow() - start < period) {
  }
  return TimerNow() - start;
}
