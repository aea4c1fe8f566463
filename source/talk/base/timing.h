// A small timer: monotonic seconds, wall-clock seconds and waits, all as
// doubles. It keeps no state; any thread may use one.
#ifndef TALK_BASE_TIMING_H_
#define TALK_BASE_TIMING_H_

class Timing {
 public:
  Timing() {}
  virtual ~Timing() {}

  // CLOCK_MONOTONIC, in seconds.
  double TimerNow();
  // gettimeofday, in seconds.
  double WallTimeNow();
  // Sleeps |period| seconds, the whole period even when signals interrupt
  // the sleep; returns the seconds that actually passed. NaN and periods
  // not above zero do not sleep; huge ones are cut to the longest sleep the
  // system can express.
  double IdleWait(double period);
  // Spins for |period| seconds; returns the seconds that actually passed.
  double BusyWait(double period);
};

#endif  // TALK_BASE_TIMING_H_
