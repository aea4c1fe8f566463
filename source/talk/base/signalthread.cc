#include "talk/base/signalthread.h"

#include "talk/base/logging.h"

namespace talk_base {

SignalThread::SignalThread()
    : main_(Thread::Current()), worker_(this), state_(ST_INIT), refcount_(1) {
  if (main_) {
    main_->SignalQueueDestroyed.connect(this,
                                        &SignalThread::OnMainThreadDestroyed);
  } else {
    LOG(LS_WARNING) << "SignalThread made on a thread without a Thread;"
                       " its completion is not reported";
  }
  worker_.SetName("SignalThread", this);
}

SignalThread::~SignalThread() {}

bool SignalThread::SetName(const std::string& name, const void* obj) {
  EnterExit ee(this);
  return worker_.SetName(name, obj);
}

bool SignalThread::SetPriority(ThreadPriority priority) {
  EnterExit ee(this);
  return worker_.SetPriority(priority);
}

bool SignalThread::ContinueWork() {
  return worker_.ProcessMessages(0);
}

void SignalThread::OnMessage(Message* msg) {
  EnterExit ee(this);
  if (msg->message_id != ST_MSG_WORKER_DONE) return;
  OnWorkDone();
  bool do_delete = false;
  if (state_ == ST_RUNNING) {
    state_ = ST_COMPLETE;
  } else {
    do_delete = true;
  }
  if (state_ != ST_STOPPING) {
    worker_.Stop();
    SignalWorkDone(this);
  }
  if (do_delete) --refcount_;
}

void SignalThread::Start() {
  EnterExit ee(this);
  if (state_ != ST_INIT && state_ != ST_COMPLETE) return;
  // A finished worker's queue is still quitting from its last Stop.
  if (state_ == ST_COMPLETE) worker_.Restart();
  state_ = ST_RUNNING;
  OnWorkStart();
  worker_.Start();
}

void SignalThread::Destroy(bool wait) {
  EnterExit ee(this);
  if (state_ == ST_INIT || state_ == ST_COMPLETE) {
    --refcount_;
  } else if (state_ == ST_RUNNING || state_ == ST_RELEASING) {
    state_ = ST_STOPPING;
    // The worker's queue quits so that ContinueWork tells DoWork to stop.
    worker_.Quit();
    OnWorkStop();
    if (wait) {
      // Let the worker finish Run, which takes the lock.
      cs_.unlock();
      worker_.Stop();
      cs_.lock();
      --refcount_;
    }
  }
}

void SignalThread::Release() {
  EnterExit ee(this);
  // Never started: nothing will ever drop the reference later.
  if (state_ == ST_INIT || state_ == ST_COMPLETE) {
    --refcount_;
  } else if (state_ == ST_RUNNING) {
    state_ = ST_RELEASING;
  }
}

void SignalThread::Run() {
  DoWork();
  EnterExit ee(this);
  if (main_) main_->Post(this, ST_MSG_WORKER_DONE);
}

void SignalThread::OnMainThreadDestroyed() {
  EnterExit ee(this);
  main_ = nullptr;
}

}  // namespace talk_base
