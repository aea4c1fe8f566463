// Threads: a message queue with a POSIX thread behind it, either one it
// starts itself (owned) or the calling thread that it wraps.
//
// The ThreadManager keeps every Thread and the current Thread of each OS
// thread. At library load it wraps the loading thread, which gets a queue
// and socket server of its own and otherwise stays idle; no OS thread is
// started then.
//
// Threads: Start, Stop, Join, SetName and SetPriority belong to the thread
// that controls the Thread; Post, Send and Clear may come from any thread.
// Send blocks its caller until the target has run the handler, serving the
// caller's own pending sends meanwhile, so two threads sending to each other
// do not deadlock.
#ifndef TALK_BASE_THREAD_H_
#define TALK_BASE_THREAD_H_

#include <pthread.h>
#include <stdint.h>

#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "talk/base/messagequeue.h"

namespace talk_base {

class Thread;

class ThreadManager {
 public:
  // The Thread of the calling OS thread, or null.
  static Thread* CurrentThread();
  static void SetCurrent(Thread* thread);
  // The current Thread, wrapping the calling OS thread in a new one when it
  // has none.
  static Thread* WrapCurrentThread();
  // Unwraps and deletes the current Thread when it is a wrapped one.
  static void UnwrapCurrentThread();

  static void Add(Thread* thread);
  static void Remove(Thread* thread);
  // Stops (quits and joins) every registered Thread. The registry lock is
  // not held while joining; the threads must not be destroyed meanwhile.
  static void StopAllThreads();

 private:
  ThreadManager();
  static ThreadManager* Instance();

  std::vector<Thread*> threads_;
  std::recursive_mutex crit_;
  pthread_key_t key_;
};

struct SendRequest {
  SendRequest() : thread(nullptr), ready(nullptr) {}
  Thread* thread;  // the sender
  Message msg;
  bool* ready;     // the sender's done flag, guarded by the target's lock
};

enum ThreadPriority {
  PRIORITY_IDLE = -1,
  PRIORITY_NORMAL = 0,
  PRIORITY_ABOVE_NORMAL = 1,
  PRIORITY_HIGH = 2,
};

// Runs instead of the Thread's own Run when passed to Start.
class Runnable {
 public:
  virtual ~Runnable() {}
  virtual void Run(Thread* thread) = 0;
};

class Thread : public MessageQueue {
 public:
  explicit Thread(SocketServer* ss = nullptr);
  ~Thread() override;

  static Thread* Current() { return ThreadManager::CurrentThread(); }
  bool IsCurrent() const { return ThreadManager::CurrentThread() == this; }

  // Sleeps |ms| milliseconds; false when the sleep ended early.
  static bool SleepMs(int ms);

  const std::string& name() const { return name_; }
  // Sets the name, followed by " 0x%p" of |obj| when it is not null (at
  // most 15 characters of it). False once started.
  bool SetName(const std::string& name, const void* obj);

  ThreadPriority priority() const { return priority_; }
  // False once started.
  bool SetPriority(ThreadPriority priority);

  bool started() const { return started_; }
  // Starts an OS thread running |runnable| (or Run). False when the Thread
  // is wrapped, already started, or the OS thread cannot be made.
  bool Start(Runnable* runnable = nullptr);
  // Quit, then Join.
  virtual void Stop();
  // Waits for an owned, started OS thread to end. Never joins a wrapped
  // thread, nor the calling thread itself.
  void Join();

  // The default body: processes messages until the queue quits.
  virtual void Run();

  // Runs |phandler| on this Thread and returns when it has run. On the
  // current Thread it runs at once; on a quitting one not at all, and
  // |pdata| is deleted.
  virtual void Send(MessageHandler* phandler, uint32_t id = 0,
                    MessageData* pdata = nullptr);

  void ReceiveSends() override;

  // Gets and dispatches messages for |cms| ms (kForever: until the queue
  // quits). False when the queue quits.
  bool ProcessMessages(int cms);

  bool IsOwned() const { return owned_; }
  pthread_t GetPThread() const { return thread_; }

  // Makes this (not started) Thread stand for the calling OS thread.
  bool WrapCurrent();
  void UnwrapCurrent();

 protected:
  // Also removes the matching pending sends, releasing their senders.
  void ClearLocked(MessageHandler* phandler, uint32_t id,
                   MessageList* removed) override;

 private:
  struct ThreadInit {
    Thread* thread;
    Runnable* runnable;
  };
  static void* ThreadEntry(void* init);

  std::list<SendRequest> sendlist_;
  std::string name_;
  ThreadPriority priority_;
  bool started_;
  std::atomic<bool> has_sends_;
  // Senders still inside Send: the destructor waits for them to let go of
  // this Thread's lock after it has released them.
  std::atomic<int> waiting_senders_;
  pthread_t thread_;
  bool owned_;
};

// A Thread that stands for the calling OS thread while it exists, made
// current when that thread had none.
class AutoThread : public Thread {
 public:
  explicit AutoThread(SocketServer* ss = nullptr);
  ~AutoThread() override;
};

}  // namespace talk_base

#endif  // TALK_BASE_THREAD_H_
