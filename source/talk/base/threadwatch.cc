#include "talk/base/threadwatch.h"

#include <map>

#include "talk/base/sigslot.h"
#include "talk/base/thread.h"

namespace talk_base {

// Connected to one Thread's SignalQueueDestroyed on that Thread's OS
// thread; forgets the Thread and deletes itself when the signal fires.
class ThreadWatchReceiver : public sigslot::has_slots<> {
 public:
  explicit ThreadWatchReceiver(Thread* thread)
      : thread_(thread), watch_(new ThreadWatch(thread)) {
    thread->SignalQueueDestroyed.connect(
        this, &ThreadWatchReceiver::OnQueueDestroyed);
  }

  const std::shared_ptr<ThreadWatch>& watch() const { return watch_; }

  // The receivers of the Threads that are still alive, by Thread. Never
  // destroyed: Threads may go during static destruction.
  static std::mutex& Lock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
  }
  static std::map<Thread*, ThreadWatchReceiver*>& Receivers() {
    static auto* receivers = new std::map<Thread*, ThreadWatchReceiver*>;
    return *receivers;
  }

 private:
  void OnQueueDestroyed() {
    {
      // Out of the map first, so that a new Thread at the same address
      // gets a watch of its own.
      std::lock_guard<std::mutex> lock(Lock());
      Receivers().erase(thread_);
    }
    watch_->Forget();
    // A receiver may delete itself inside the emit.
    delete this;
  }

  Thread* thread_;
  std::shared_ptr<ThreadWatch> watch_;
};

std::shared_ptr<ThreadWatch> ThreadWatch::ForCurrent() {
  Thread* thread = Thread::Current();
  if (!thread) return nullptr;
  std::lock_guard<std::mutex> lock(ThreadWatchReceiver::Lock());
  ThreadWatchReceiver*& receiver = ThreadWatchReceiver::Receivers()[thread];
  if (!receiver) receiver = new ThreadWatchReceiver(thread);
  return receiver->watch();
}

void ThreadWatch::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  thread_ = nullptr;
}

}  // namespace talk_base
