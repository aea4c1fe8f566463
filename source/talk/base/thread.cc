#include "talk/base/thread.h"

#include <errno.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <memory>

#include "talk/base/dispatchtracker.h"
#include "talk/base/logging.h"
#include "talk/base/physicalsocketserver.h"
#include "talk/base/stringencode.h"
#include "talk/base/timeutils.h"

namespace talk_base {

// ThreadManager

ThreadManager* ThreadManager::Instance() {
  // Never destroyed: threads that outlive static destruction still ask for
  // their current Thread.
  static ThreadManager* instance = new ThreadManager;
  return instance;
}

ThreadManager::ThreadManager() { pthread_key_create(&key_, nullptr); }

Thread* ThreadManager::CurrentThread() {
  return static_cast<Thread*>(pthread_getspecific(Instance()->key_));
}

void ThreadManager::SetCurrent(Thread* thread) {
  pthread_setspecific(Instance()->key_, thread);
}

Thread* ThreadManager::WrapCurrentThread() {
  Thread* result = CurrentThread();
  if (!result) {
    result = new Thread;
    result->WrapCurrent();
  }
  return result;
}

void ThreadManager::UnwrapCurrentThread() {
  Thread* current = CurrentThread();
  if (current && !current->IsOwned()) {
    current->UnwrapCurrent();
    delete current;
  }
}

void ThreadManager::Add(Thread* thread) {
  ThreadManager* self = Instance();
  std::lock_guard<std::recursive_mutex> lock(self->crit_);
  self->threads_.push_back(thread);
}

void ThreadManager::Remove(Thread* thread) {
  ThreadManager* self = Instance();
  std::lock_guard<std::recursive_mutex> lock(self->crit_);
  std::vector<Thread*>& threads = self->threads_;
  threads.erase(std::remove(threads.begin(), threads.end(), thread),
                threads.end());
}

void ThreadManager::StopAllThreads() {
  ThreadManager* self = Instance();
  std::vector<Thread*> threads;
  {
    std::lock_guard<std::recursive_mutex> lock(self->crit_);
    threads = self->threads_;
  }
  // Joining under the lock would deadlock with an ending thread that makes
  // or destroys a Thread on its way out.
  for (Thread* thread : threads) thread->Stop();
}

// Thread

Thread::Thread(SocketServer* ss)
    : MessageQueue(ss),
      priority_(PRIORITY_NORMAL),
      started_(false),
      has_sends_(false),
      waiting_senders_(0),
      thread_(),
      owned_(true) {
  ThreadManager::Add(this);
  SetName("Thread", this);
}

Thread::~Thread() {
  Stop();
  // Leave the queue registry first, so that no other thread reaches this
  // queue while it is being taken apart.
  MessageQueueManager::Remove(this);
  Clear(nullptr);  // also releases the threads still waiting in Send
  // A released sender reads its done flag under our lock once more.
  while (waiting_senders_.load() > 0) sched_yield();
  ThreadManager::Remove(this);
}

bool Thread::SleepMs(int milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = (milliseconds % 1000) * 1000000;
  if (nanosleep(&ts, nullptr) != 0) {
    LOG_ERRNO(LS_WARNING) << "nanosleep() returning early";
    return false;
  }
  return true;
}

bool Thread::SetName(const std::string& name, const void* obj) {
  if (started_) return false;
  name_ = name;
  if (obj) {
    char buf[16];
    FormatToBuffer(buf, sizeof(buf), " 0x%p", obj);
    name_ += buf;
  }
  return true;
}

bool Thread::SetPriority(ThreadPriority priority) {
  if (started_) return false;
  priority_ = priority;
  return true;
}

bool Thread::Start(Runnable* runnable) {
  if (!owned_ || started_) return false;

  ThreadInit* init = new ThreadInit;
  init->thread = this;
  init->runnable = runnable;

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (priority_ == PRIORITY_IDLE) {
    LOG(LS_WARNING) << "PRIORITY_IDLE not supported";
  } else if (priority_ == PRIORITY_ABOVE_NORMAL || priority_ == PRIORITY_HIGH) {
    // Without an explicit-scheduling attribute these are advisory; a failure
    // here never stops the start.
    if (pthread_attr_setschedpolicy(&attr, SCHED_RR) != 0) {
      LOG(LS_ERROR) << "pthread_attr_setschedpolicy";
    }
    struct sched_param param;
    if (pthread_attr_getschedparam(&attr, &param) != 0) {
      LOG(LS_ERROR) << "pthread_attr_getschedparam";
    } else {
      param.sched_priority = (priority_ == PRIORITY_HIGH) ? 6 : 4;
      if (pthread_attr_setschedparam(&attr, &param) != 0) {
        LOG(LS_ERROR) << "pthread_attr_setschedparam";
      }
    }
  }

  const int error_code = pthread_create(&thread_, &attr, ThreadEntry, init);
  pthread_attr_destroy(&attr);
  if (error_code != 0) {
    LOG(LS_ERROR) << "Unable to create pthread, error " << error_code;
    delete init;
    return false;
  }
  started_ = true;
  return true;
}

void* Thread::ThreadEntry(void* pv) {
  ThreadInit* init = static_cast<ThreadInit*>(pv);
  ThreadManager::SetCurrent(init->thread);
  if (init->runnable) {
    init->runnable->Run(init->thread);
  } else {
    init->thread->Run();
  }
  delete init;
  return nullptr;
}

void Thread::Run() { ProcessMessages(kForever); }

void Thread::Stop() {
  Quit();
  Join();
}

void Thread::Join() {
  // A wrapped thread is not ours to join, and a thread cannot join itself.
  if (!started_ || !owned_ || pthread_equal(pthread_self(), thread_)) return;
  pthread_join(thread_, nullptr);
  started_ = false;
}

bool Thread::ProcessMessages(int cmsLoop) {
  const uint32_t msEnd = (cmsLoop == kForever) ? 0 : TimeAfter(cmsLoop);
  int cmsNext = cmsLoop;
  while (true) {
    Message msg;
    if (!Get(&msg, cmsNext)) return !IsQuitting();
    Dispatch(&msg);
    if (cmsLoop != kForever) {
      cmsNext = TimeDiff(msEnd, Time());
      if (cmsNext < 0) return true;
    }
  }
}

void Thread::Send(MessageHandler* phandler, uint32_t id, MessageData* pdata) {
  if (fStop_.load()) {
    // Nobody will receive it, as with Post.
    delete pdata;
    return;
  }

  Message msg(phandler, id, pdata);
  if (IsCurrent()) {
    phandler->OnMessage(&msg);
    return;
  }

  // A caller without a Thread of its own gets a temporary one to wait on.
  std::unique_ptr<AutoThread> temporary;
  Thread* current = ThreadManager::CurrentThread();
  if (!current) {
    temporary.reset(new AutoThread);
    current = temporary.get();
  }

  bool ready = false;
  waiting_senders_.fetch_add(1);
  EnsureActive();
  {
    std::lock_guard<std::recursive_mutex> lock(crit_);
    SendRequest request;
    request.thread = current;
    request.msg = msg;
    request.ready = &ready;
    sendlist_.push_back(request);
    has_sends_.store(true);
  }
  ss_->WakeUp();

  bool waited = false;
  while (true) {
    {
      std::lock_guard<std::recursive_mutex> lock(crit_);
      if (ready) break;
    }
    current->ReceiveSends();
    current->socketserver()->Wait(kForever, false);
    waited = true;
  }
  waiting_senders_.fetch_sub(1);  // the last touch of this Thread
  // The wait may have taken a wake-up that was meant for the caller's own
  // queue; pass it on.
  if (waited) current->socketserver()->WakeUp();
}

void Thread::ReceiveSends() {
  if (!has_sends_.load()) return;
  std::unique_lock<std::recursive_mutex> lock(crit_);
  while (!sendlist_.empty()) {
    SendRequest request = sendlist_.front();
    sendlist_.pop_front();
    DispatchTracker::Taken(this, request.msg);
    lock.unlock();
    DispatchTracker::Deliver(this, &request.msg);
    lock.lock();
    *request.ready = true;
    request.thread->socketserver()->WakeUp();
  }
  has_sends_.store(false);
}

void Thread::ClearLocked(MessageHandler* phandler, uint32_t id,
                         MessageList* removed) {
  for (auto it = sendlist_.begin(); it != sendlist_.end();) {
    if (Matches(it->msg, phandler, id)) {
      removed->push_back(it->msg);
      *it->ready = true;
      it->thread->socketserver()->WakeUp();
      it = sendlist_.erase(it);
    } else {
      ++it;
    }
  }
  MessageQueue::ClearLocked(phandler, id, removed);
}

bool Thread::WrapCurrent() {
  if (started_) return false;
  thread_ = pthread_self();
  owned_ = false;
  started_ = true;
  ThreadManager::SetCurrent(this);
  return true;
}

void Thread::UnwrapCurrent() {
  if (ThreadManager::CurrentThread() == this) ThreadManager::SetCurrent(nullptr);
  started_ = false;
}

// AutoThread

AutoThread::AutoThread(SocketServer* ss) : Thread(ss) {
  if (!ThreadManager::CurrentThread()) ThreadManager::SetCurrent(this);
}

AutoThread::~AutoThread() {
  if (ThreadManager::CurrentThread() == this) ThreadManager::SetCurrent(nullptr);
}

// What the library does at load: the signal pipe, the start time, then the
// registry with the loading thread wrapped. Nothing here starts a thread.

namespace {

struct LoadTimeSetup {
  LoadTimeSetup() {
    PosixSignalHandler::Instance();
    StartTime();
    loading_thread = ThreadManager::WrapCurrentThread();
  }
  // The wrapped loading thread is deleted only by the loading thread itself;
  // an exit from another thread leaves it alone, as it may still be in use.
  ~LoadTimeSetup() {
    if (ThreadManager::CurrentThread() == loading_thread) {
      ThreadManager::UnwrapCurrentThread();
    }
  }
  Thread* loading_thread;
};

LoadTimeSetup g_load_time_setup;

}  // namespace

}  // namespace talk_base
