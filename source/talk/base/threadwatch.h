// A handle on a Thread that may outlive it: any thread may post through the
// handle while the Thread's queue exists, and nothing is posted once that
// queue has been destroyed, which the handle learns through the queue's
// SignalQueueDestroyed.
//
// There is one watch per Thread, shared by every holder. It connects to the
// Thread's signal on the Thread's own OS thread and leaves it only when the
// signal fires, so no other thread ever changes the signal's connections.
//
// Threads: ForCurrent on the OS thread of the Thread to watch; Run from any
// thread. Run holds the watch's lock while it calls, so the queue is not
// destroyed in the middle of a post; the watch's lock comes before the
// queue registry's and the queue's.
#ifndef TALK_BASE_THREADWATCH_H_
#define TALK_BASE_THREADWATCH_H_

#include <memory>
#include <mutex>

namespace talk_base {

class Thread;

class ThreadWatch {
 public:
  // The watch of the calling OS thread's current Thread; null when it has
  // none.
  static std::shared_ptr<ThreadWatch> ForCurrent();

  // Calls |call| with the Thread while its queue exists; false, without
  // calling, once it is gone.
  template <class Call>
  bool Run(Call call) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_) return false;
    call(thread_);
    return true;
  }

 private:
  friend class ThreadWatchReceiver;
  explicit ThreadWatch(Thread* thread) : thread_(thread) {}

  // The queue is being destroyed: waits for a running Run, then refuses.
  void Forget();

  std::mutex mutex_;
  Thread* thread_;  // null once the queue is destroyed
};

}  // namespace talk_base

#endif  // TALK_BASE_THREADWATCH_H_
