#include "talk/base/thread.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "talk/base/timeutils.h"
#include "watchdog.h"

namespace talk_base {
namespace {

int TaskCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (struct dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
  }
  return count;
}

// The OS threads of the process once the library is loaded, before any
// test runs.
int g_tasks_after_load = -1;
class LoadEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { g_tasks_after_load = TaskCount(); }
};
::testing::Environment* const g_load_environment =
    ::testing::AddGlobalTestEnvironment(new LoadEnvironment);

struct CountedData : public MessageData {
  CountedData() { ++live; }
  ~CountedData() override { --live; }
  int answer = 0;
  static std::atomic<int> live;
};
std::atomic<int> CountedData::live(0);

// Records on which Thread each message ran.
class RecordingHandler : public MessageHandler {
 public:
  void OnMessage(Message* msg) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ids_.push_back(msg->message_id);
    threads_.push_back(Thread::Current());
    if (CountedData* data = static_cast<CountedData*>(msg->pdata)) {
      data->answer = static_cast<int>(msg->message_id) * 2;
    }
    ++count_;
  }
  std::vector<uint32_t> ids() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ids_;
  }
  std::vector<Thread*> threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }
  int count() { return count_.load(); }

 private:
  std::mutex mutex_;
  std::vector<uint32_t> ids_;
  std::vector<Thread*> threads_;
  std::atomic<int> count_{0};
};

// Waits, bounded, until |done| holds.
template <class Pred>
bool WaitFor(Pred done, int ms = 5000) {
  const uint32_t end = Time() + ms;
  while (!done()) {
    if (TimeDiff(end, Time()) < 0) return false;
    Thread::SleepMs(1);
  }
  return true;
}

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { CountedData::live = 0; }
  void TearDown() override { EXPECT_EQ(0, CountedData::live.load()); }
  Watchdog watchdog_{20};
};

TEST(LibraryLoadTest, StartsNoThread) { EXPECT_EQ(1, g_tasks_after_load); }

TEST_F(ThreadTest, LoadingThreadIsWrappedAtLoad) {
  Thread* main = Thread::Current();
  ASSERT_NE(nullptr, main);
  EXPECT_FALSE(main->IsOwned());
  EXPECT_TRUE(main->started());
  EXPECT_TRUE(main->IsCurrent());
  EXPECT_TRUE(pthread_equal(pthread_self(), main->GetPThread()));
  char expected[16];
  snprintf(expected, sizeof(expected), " 0x%p", static_cast<void*>(main));
  EXPECT_EQ(std::string("Thread") + expected, main->name());
  EXPECT_NE(nullptr, main->socketserver());
  EXPECT_EQ(main, ThreadManager::WrapCurrentThread());  // already wrapped
}

TEST_F(ThreadTest, NameAndPriorityBeforeStartOnly) {
  Thread t;
  EXPECT_TRUE(t.SetName("worker", nullptr));
  EXPECT_EQ("worker", t.name());
  const void* obj = reinterpret_cast<const void*>(0x1234);
  EXPECT_TRUE(t.SetName("w", obj));
  EXPECT_EQ("w 0x0x1234", t.name());
  EXPECT_EQ(PRIORITY_NORMAL, t.priority());
  EXPECT_TRUE(t.SetPriority(PRIORITY_HIGH));
  EXPECT_EQ(PRIORITY_HIGH, t.priority());

  ASSERT_TRUE(t.Start());
  EXPECT_FALSE(t.Start());
  EXPECT_FALSE(t.SetName("late", nullptr));
  EXPECT_FALSE(t.SetPriority(PRIORITY_NORMAL));
  EXPECT_EQ("w 0x0x1234", t.name());
  t.Stop();
  EXPECT_FALSE(t.started());
}

TEST_F(ThreadTest, LongPointerNamesKeepAtMost15Characters) {
  Thread t;
  const void* obj = reinterpret_cast<const void*>(0x123456789abcdefULL);
  ASSERT_TRUE(t.SetName("n", obj));
  EXPECT_EQ("n 0x0x123456789a", t.name());  // 15 after the name
}

TEST_F(ThreadTest, EveryPriorityStarts) {
  LogCapture log;
  for (ThreadPriority p : {PRIORITY_IDLE, PRIORITY_NORMAL,
                           PRIORITY_ABOVE_NORMAL, PRIORITY_HIGH}) {
    Thread t;
    t.SetPriority(p);
    EXPECT_TRUE(t.Start()) << p;
    t.Stop();
  }
  EXPECT_EQ(
      (std::vector<std::string>{"WARNING(thread.cc): PRIORITY_IDLE not supported"}),
      log.Lines("thread.cc"));
}

TEST_F(ThreadTest, WrappedThreadCannotStartAndIsNeverJoined) {
  Thread* main = Thread::Current();
  EXPECT_FALSE(main->Start());
  main->Stop();  // quits and returns: nothing to join
  EXPECT_TRUE(main->IsQuitting());
  main->Restart();
  EXPECT_TRUE(main->started());
}

TEST_F(ThreadTest, PostedMessagesRunOnTheStartedThread) {
  RecordingHandler handler;
  Thread t;
  ASSERT_TRUE(t.Start());
  for (uint32_t id = 1; id <= 3; ++id) t.Post(&handler, id);
  ASSERT_TRUE(WaitFor([&] { return handler.count() == 3; }));
  t.Stop();
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 3}), handler.ids());
  for (Thread* ran_on : handler.threads()) EXPECT_EQ(&t, ran_on);
}

TEST_F(ThreadTest, DelayedMessagesRunInTriggerOrder) {
  RecordingHandler handler;
  Thread t;
  ASSERT_TRUE(t.Start());
  t.PostDelayed(60, &handler, 3);
  t.PostDelayed(20, &handler, 1);
  t.PostDelayed(40, &handler, 2);
  ASSERT_TRUE(WaitFor([&] { return handler.count() == 3; }));
  t.Stop();
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 3}), handler.ids());
}

TEST_F(ThreadTest, StopEndsAThreadWaitingWithoutLimit) {
  Thread t;
  ASSERT_TRUE(t.Start());
  Thread::SleepMs(20);  // let it block in its wait
  t.Stop();             // the watchdog fails the test if this hangs
  EXPECT_FALSE(t.started());
  EXPECT_TRUE(t.IsQuitting());
}

class RecordingRunnable : public Runnable {
 public:
  void Run(Thread* thread) override {
    ran_with = thread;
    current = Thread::Current();
  }
  std::atomic<Thread*> ran_with{nullptr};
  std::atomic<Thread*> current{nullptr};
};

TEST_F(ThreadTest, RunnableRunsInsteadOfRun) {
  RecordingRunnable runnable;
  Thread t;
  ASSERT_TRUE(t.Start(&runnable));
  t.Join();
  EXPECT_EQ(&t, runnable.ran_with.load());
  EXPECT_EQ(&t, runnable.current.load());
  EXPECT_FALSE(t.started());
}

TEST_F(ThreadTest, ProcessMessagesForATimeReturnsTrue) {
  Thread* main = Thread::Current();
  RecordingHandler handler;
  main->PostDelayed(10, &handler, 1);
  EXPECT_TRUE(main->ProcessMessages(50));
  EXPECT_EQ((std::vector<uint32_t>{1}), handler.ids());
}

TEST_F(ThreadTest, ProcessMessagesReturnsFalseOnceQuitting) {
  Thread* main = Thread::Current();
  main->Quit();
  EXPECT_FALSE(main->ProcessMessages(1000));
  main->Restart();
}

TEST_F(ThreadTest, SendRunsOnTheTargetAndReturnsAfterIt) {
  RecordingHandler handler;
  Thread t;
  ASSERT_TRUE(t.Start());
  CountedData data;
  t.Send(&handler, 21, &data);
  // Answered before Send returned.
  EXPECT_EQ(42, data.answer);
  EXPECT_EQ((std::vector<Thread*>{&t}), handler.threads());
  t.Stop();
}

TEST_F(ThreadTest, SendToTheCurrentThreadRunsAtOnce) {
  RecordingHandler handler;
  Thread* main = Thread::Current();
  main->Send(&handler, 3);
  EXPECT_EQ((std::vector<uint32_t>{3}), handler.ids());
  EXPECT_EQ(-1, main->GetDelay());  // nothing was queued
}

TEST_F(ThreadTest, SendToAQuittingThreadDoesNothingButDeleteItsData) {
  RecordingHandler handler;
  Thread t;
  t.Quit();
  t.Send(&handler, 1, new CountedData);
  EXPECT_EQ(0, handler.count());
  EXPECT_EQ(0, CountedData::live.load());  // as a Post would
}

TEST_F(ThreadTest, SendFromAPlainThreadUsesATemporaryThread) {
  RecordingHandler handler;
  Thread t;
  ASSERT_TRUE(t.Start());
  Thread* before = reinterpret_cast<Thread*>(1);
  Thread* after = reinterpret_cast<Thread*>(1);
  std::thread sender([&] {
    before = Thread::Current();
    CountedData data;
    t.Send(&handler, 5, &data);
    EXPECT_EQ(10, data.answer);
    after = Thread::Current();
  });
  sender.join();
  t.Stop();
  EXPECT_EQ(nullptr, before);
  EXPECT_EQ(nullptr, after);  // the temporary one is gone
  EXPECT_EQ(1, handler.count());
}

// A handler whose message, run on one thread, sends to another thread whose
// handler sends back: each sender must serve the other's send while it waits.
class PingPongHandler : public MessageHandler {
 public:
  PingPongHandler(Thread* a, Thread* b) : a_(a), b_(b) {}
  void OnMessage(Message* msg) override {
    hops.push_back(Thread::Current() == a_ ? 'a' : 'b');
    if (msg->message_id > 0) {
      Thread* other = Thread::Current() == a_ ? b_ : a_;
      other->Send(this, msg->message_id - 1);
    }
  }
  std::string hops;  // written by one thread at a time: the sends serialise

 private:
  Thread* a_;
  Thread* b_;
};

TEST_F(ThreadTest, ThreadsSendingToEachOtherDoNotDeadlock) {
  Thread a, b;
  ASSERT_TRUE(a.Start());
  ASSERT_TRUE(b.Start());
  PingPongHandler handler(&a, &b);
  a.Send(&handler, 5);
  EXPECT_EQ("ababab", handler.hops);
  a.Stop();
  b.Stop();
}

TEST_F(ThreadTest, ClearReleasesAWaitingSender) {
  RecordingHandler handler;
  Thread idle;  // never started: nobody will serve the send
  std::atomic<bool> returned(false);
  std::thread sender([&] {
    idle.Send(&handler, 1, new CountedData);
    returned = true;
  });
  // The send may not be queued yet when the first Clear runs.
  ASSERT_TRUE(WaitFor([&] {
    idle.Clear(&handler);
    return returned.load();
  }));
  sender.join();
  EXPECT_EQ(0, handler.count());
  EXPECT_EQ(0, CountedData::live.load());  // the cleared send's data
}

TEST_F(ThreadTest, ClearHandsPendingSendsToTheRemovedList) {
  RecordingHandler handler;
  Thread idle;
  std::atomic<bool> returned(false);
  MessageList removed;
  std::thread sender([&] {
    idle.Send(&handler, 7);
    returned = true;
  });
  ASSERT_TRUE(WaitFor([&] {
    idle.Clear(nullptr, 7, &removed);
    return returned.load();
  }));
  sender.join();
  ASSERT_EQ(1u, removed.size());
  EXPECT_EQ(7u, removed.front().message_id);
}

// Tells when a Send has queued its request: Send wakes the target's server
// right after.
class WakeUpCounter : public SocketServer {
 public:
  Socket* CreateSocket(int) override { return nullptr; }
  AsyncSocket* CreateAsyncSocket(int) override { return nullptr; }
  bool Wait(int, bool) override { return true; }
  void WakeUp() override { ++wakeups; }
  std::atomic<int> wakeups{0};
};

TEST_F(ThreadTest, DestroyingTheTargetReleasesWaitingSenders) {
  RecordingHandler handler;
  WakeUpCounter server;
  auto idle = std::make_unique<Thread>(&server);
  Thread* target = idle.get();
  std::atomic<bool> returned(false);
  std::thread sender([&] {
    target->Send(&handler, 1);
    returned = true;
  });
  ASSERT_TRUE(WaitFor([&] { return server.wakeups.load() > 0; }));
  EXPECT_FALSE(returned.load());
  idle.reset();
  sender.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(0, handler.count());
}

TEST_F(ThreadTest, PostedAndSentMessagesInterleaveSafely) {
  RecordingHandler handler;
  Thread t;
  ASSERT_TRUE(t.Start());
  std::vector<std::thread> senders;
  for (int i = 0; i < 4; ++i) {
    senders.emplace_back([&] {
      for (int j = 0; j < 25; ++j) {
        t.Post(&handler, 1);
        t.Send(&handler, 2);
      }
    });
  }
  for (std::thread& s : senders) s.join();
  ASSERT_TRUE(WaitFor([&] { return handler.count() == 200; }));
  t.Stop();
}

TEST_F(ThreadTest, WrapAndUnwrapAnotherOsThread) {
  Thread* wrapped = nullptr;
  bool owned = true;
  Thread* after = reinterpret_cast<Thread*>(1);
  std::thread os_thread([&] {
    wrapped = ThreadManager::WrapCurrentThread();
    owned = wrapped->IsOwned();
    EXPECT_EQ(wrapped, Thread::Current());
    EXPECT_FALSE(wrapped->WrapCurrent());  // already started
    ThreadManager::UnwrapCurrentThread();  // deletes it
    after = Thread::Current();
  });
  os_thread.join();
  EXPECT_NE(nullptr, wrapped);
  EXPECT_FALSE(owned);
  EXPECT_EQ(nullptr, after);
}

TEST_F(ThreadTest, UnwrapCurrentThreadLeavesOwnedThreadsAlone) {
  class Unwrapper : public Runnable {
   public:
    void Run(Thread* thread) override {
      ThreadManager::UnwrapCurrentThread();
      still_current = Thread::Current() == thread;
    }
    std::atomic<bool> still_current{false};
  } runnable;
  Thread t;
  ASSERT_TRUE(t.Start(&runnable));
  t.Join();
  EXPECT_TRUE(runnable.still_current.load());
}

TEST_F(ThreadTest, AutoThreadBecomesCurrentOnlyWhenThereIsNone) {
  {
    AutoThread extra;
    EXPECT_NE(&extra, Thread::Current());  // the main thread stays current
  }
  std::thread os_thread([] {
    {
      AutoThread auto_thread;
      EXPECT_EQ(&auto_thread, Thread::Current());
    }
    EXPECT_EQ(nullptr, Thread::Current());
  });
  os_thread.join();
}

TEST_F(ThreadTest, StopAllThreadsStopsEveryStartedThread) {
  Thread a, b;
  ASSERT_TRUE(a.Start());
  ASSERT_TRUE(b.Start());
  ThreadManager::StopAllThreads();
  EXPECT_FALSE(a.started());
  EXPECT_FALSE(b.started());
  // The wrapped main thread was told to quit as well, but not joined.
  Thread* main = Thread::Current();
  EXPECT_TRUE(main->IsQuitting());
  EXPECT_TRUE(main->started());
  main->Restart();
}

// A Thread that, while ending, makes and destroys another Thread: joining it
// with the registry lock held would deadlock.
class ThreadMakingRunnable : public Runnable {
 public:
  void Run(Thread* thread) override {
    thread->ProcessMessages(MessageQueue::kForever);
    Thread temporary;
  }
};

TEST_F(ThreadTest, StopAllThreadsDoesNotJoinUnderTheRegistryLock) {
  ThreadMakingRunnable runnable;
  Thread t;
  ASSERT_TRUE(t.Start(&runnable));
  ThreadManager::StopAllThreads();
  EXPECT_FALSE(t.started());
  Thread::Current()->Restart();
}

TEST_F(ThreadTest, SleepMs) {
  const uint32_t start = Time();
  EXPECT_TRUE(Thread::SleepMs(15));
  EXPECT_GE(TimeDiff(Time(), start), 14);
}

void IgnoreSignal(int) {}

TEST_F(ThreadTest, SleepMsCutShortBySignalReturnsFalseAndLogs) {
  struct sigaction act = {};
  struct sigaction old = {};
  act.sa_handler = IgnoreSignal;
  sigemptyset(&act.sa_mask);
  act.sa_flags = 0;  // no restart: the signal ends the sleep
  ASSERT_EQ(0, sigaction(SIGUSR2, &act, &old));
  LogCapture log;
  // Signals until the sleep has ended, so that one surely falls inside it.
  std::atomic<bool> woke(false);
  const pthread_t sleeper = pthread_self();
  std::thread interrupter([&] {
    while (!woke.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      pthread_kill(sleeper, SIGUSR2);
    }
  });
  const bool slept = Thread::SleepMs(10000);
  woke = true;
  interrupter.join();
  sigaction(SIGUSR2, &old, nullptr);
  EXPECT_FALSE(slept);
  EXPECT_EQ((std::vector<std::string>{
                "WARNING(thread.cc): nanosleep() returning early" +
                ErrnoSuffix(EINTR)}),
            log.Lines("thread.cc"));
}

}  // namespace
}  // namespace talk_base
