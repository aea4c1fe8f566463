// One piece of work on a worker thread of its own, reported back on the
// thread that made the object.
//
// DoWork runs on the worker; OnWorkDone and SignalWorkDone run on the
// creating thread, reached through its message queue. The object counts
// references: the creator holds one until it calls Release (let the work
// finish, then go) or Destroy (stop the work; with |wait| join the worker
// first), and every call holds one more while it runs, so the object goes
// away, on the creating thread, when the last user is done. Start may be
// called again once the work is complete.
//
// A signal thread needs a current Thread on the creating OS thread to
// report to; made without one it logs a warning and reports nothing.
//
// Threads: Start, Release, Destroy, SetName and SetPriority belong to the
// creating thread; the state, count and creating-thread pointer are guarded
// by the object's recursive mutex.
#ifndef TALK_BASE_SIGNALTHREAD_H_
#define TALK_BASE_SIGNALTHREAD_H_

#include <mutex>
#include <string>

#include "talk/base/messagehandler.h"
#include "talk/base/sigslot.h"
#include "talk/base/thread.h"

namespace talk_base {

class SignalThread : public sigslot::has_slots<>, public MessageHandler {
 public:
  SignalThread();

  // Passed to the worker; false once it has started.
  bool SetName(const std::string& name, const void* obj);
  bool SetPriority(ThreadPriority priority);

  // Starts the work (from ST_INIT or ST_COMPLETE); otherwise nothing.
  void Start();
  // Stops the work and drops the creator's reference; with |wait| the
  // worker is joined before this returns. SignalWorkDone is not emitted.
  void Destroy(bool wait);
  // Drops the creator's reference now (not started, or complete), or when
  // the running work completes.
  void Release();

  // Emitted on the creating thread when the work is done.
  sigslot::signal1<SignalThread*> SignalWorkDone;

  enum { ST_MSG_WORKER_DONE, ST_MSG_FIRST_AVAILABLE };

 protected:
  ~SignalThread() override;

  Thread* worker() { return &worker_; }

  // The creating thread, before the worker starts.
  virtual void OnWorkStart() {}
  // The worker's task.
  virtual void DoWork() = 0;
  // From DoWork: handles the worker's pending messages without waiting;
  // false once the work is being stopped.
  bool ContinueWork();
  // The creating thread, when Destroy stops running work.
  virtual void OnWorkStop() {}
  // The creating thread, when the work is done (also after Destroy(false)).
  virtual void OnWorkDone() {}

  void OnMessage(Message* msg) override;

 private:
  enum State {
    ST_INIT,        // new, or restartable
    ST_RUNNING,     // working
    ST_RELEASING,   // working; goes away when done
    ST_COMPLETE,    // done; restartable
    ST_STOPPING,    // told to stop; goes away when done
  };

  class Worker : public Thread {
   public:
    explicit Worker(SignalThread* parent) : parent_(parent) {}
    ~Worker() override { Stop(); }
    void Run() override { parent_->Run(); }

   private:
    SignalThread* parent_;
  };

  // Holds a reference and the lock for the length of a call; the object is
  // deleted, unlocked, when the count falls to 0.
  class EnterExit {
   public:
    explicit EnterExit(SignalThread* t) : t_(t) {
      t_->cs_.lock();
      ++t_->refcount_;
    }
    ~EnterExit() {
      const bool d = (--t_->refcount_ == 0);
      t_->cs_.unlock();
      if (d) delete t_;
    }

   private:
    SignalThread* t_;
  };

  void Run();
  void OnMainThreadDestroyed();

  Thread* main_;
  std::recursive_mutex cs_;
  Worker worker_;
  State state_;
  int refcount_;
};

}  // namespace talk_base

#endif  // TALK_BASE_SIGNALTHREAD_H_
