// Signal threads through their whole life cycle, and the asynchronous
// resolver on numeric names (and the lookup seam) only.
#include "talk/base/signalthread.h"

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "talk/base/asyncresolver.h"
#include "talk/base/nethelpers.h"
#include "talk/base/timeutils.h"
#include "watchdog.h"

namespace talk_base {
namespace {

// What a test signal thread did, kept outside it so that it can be read
// after the object is gone.
struct Record {
  std::atomic<int> starts{0}, works{0}, stops{0}, dones{0}, signals{0},
      deleted{0};
  std::atomic<bool> hold{false};     // DoWork waits while set
  std::atomic<bool> working{false};  // DoWork has begun
};

class TestSignalThread : public SignalThread {
 public:
  explicit TestSignalThread(Record* r) : r_(r) {}

 protected:
  ~TestSignalThread() override { ++r_->deleted; }
  void OnWorkStart() override { ++r_->starts; }
  void DoWork() override {
    r_->working = true;
    ++r_->works;
    // Also answers a stop request: ContinueWork turns false then.
    while (r_->hold.load() && ContinueWork()) Thread::SleepMs(1);
  }
  void OnWorkStop() override { ++r_->stops; }
  void OnWorkDone() override { ++r_->dones; }

 private:
  Record* r_;
};

struct DoneCounter : public sigslot::has_slots<> {
  explicit DoneCounter(Record* r) : r_(r) {}
  void OnDone(SignalThread*) { ++r_->signals; }
  Record* r_;
};

// Processes the current thread's messages until |done| or 5 s.
template <class Pred>
bool PumpUntil(Pred done) {
  Thread* current = Thread::Current();
  const uint32_t end = TimeAfter(5000);
  while (!done()) {
    if (TimeDiff(end, Time()) < 0) return false;
    current->ProcessMessages(5);
  }
  return true;
}

void PumpFor(int ms) { Thread::Current()->ProcessMessages(ms); }

class SignalThreadTest : public ::testing::Test {
 protected:
  TestSignalThread* Make(bool hold = false) {
    record_.hold = hold;
    TestSignalThread* t = new TestSignalThread(&record_);
    t->SignalWorkDone.connect(&counter_, &DoneCounter::OnDone);
    return t;
  }
  Record record_;
  DoneCounter counter_{&record_};
  Watchdog watchdog_{30};
};

TEST_F(SignalThreadTest, CompletesOnTheCreatingThreadThenReleaseDeletes) {
  TestSignalThread* t = Make();
  t->Start();
  ASSERT_TRUE(PumpUntil([&] { return record_.signals.load() == 1; }));
  EXPECT_EQ(1, record_.starts.load());
  EXPECT_EQ(1, record_.works.load());
  EXPECT_EQ(1, record_.dones.load());
  EXPECT_EQ(0, record_.deleted.load());
  t->Release();
  EXPECT_EQ(1, record_.deleted.load());
}

TEST_F(SignalThreadTest, DestroyOfACompletedThreadDeletesAtOnce) {
  for (bool wait : {false, true}) {
    SCOPED_TRACE(wait);
    record_.signals = 0;
    record_.deleted = 0;
    TestSignalThread* t = Make();
    t->Start();
    ASSERT_TRUE(PumpUntil([&] { return record_.signals.load() == 1; }));
    t->Destroy(wait);
    EXPECT_EQ(1, record_.deleted.load());
    EXPECT_EQ(0, record_.stops.load());
  }
}

TEST_F(SignalThreadTest, ReleaseOrDestroyBeforeStartDeletes) {
  Make()->Release();
  EXPECT_EQ(1, record_.deleted.load());
  Make()->Destroy(false);
  EXPECT_EQ(2, record_.deleted.load());
  Make()->Destroy(true);
  EXPECT_EQ(3, record_.deleted.load());
  EXPECT_EQ(0, record_.starts.load());
}

TEST_F(SignalThreadTest, ReleaseWhileRunningDeletesRightAfterTheSignal) {
  TestSignalThread* t = Make(true);
  t->Start();
  while (!record_.working.load()) Thread::SleepMs(1);
  t->Release();
  t->Release();  // releasing again changes nothing
  EXPECT_EQ(0, record_.deleted.load());
  record_.hold = false;
  ASSERT_TRUE(PumpUntil([&] { return record_.deleted.load() == 1; }));
  EXPECT_EQ(1, record_.signals.load());
  EXPECT_EQ(0, record_.stops.load());
}

TEST_F(SignalThreadTest, DestroyWaitingWhileRunningJoinsAndSignalsNothing) {
  TestSignalThread* t = Make(true);
  t->Start();
  while (!record_.working.load()) Thread::SleepMs(1);
  t->Destroy(true);  // the work sees ContinueWork turn false
  EXPECT_EQ(1, record_.deleted.load());
  EXPECT_EQ(1, record_.stops.load());
  PumpFor(50);
  EXPECT_EQ(0, record_.signals.load());
  EXPECT_EQ(0, record_.dones.load());
}

TEST_F(SignalThreadTest, DestroyWithoutWaitingDeletesWhenTheWorkEnds) {
  TestSignalThread* t = Make(true);
  t->Start();
  while (!record_.working.load()) Thread::SleepMs(1);
  t->Destroy(false);
  EXPECT_EQ(1, record_.stops.load());
  EXPECT_EQ(0, record_.deleted.load());
  ASSERT_TRUE(PumpUntil([&] { return record_.deleted.load() == 1; }));
  EXPECT_EQ(0, record_.signals.load());
  EXPECT_EQ(1, record_.dones.load());
}

TEST_F(SignalThreadTest, StartsAgainOnceComplete) {
  TestSignalThread* t = Make();
  t->Start();
  t->Start();  // running: ignored
  ASSERT_TRUE(PumpUntil([&] { return record_.signals.load() == 1; }));
  t->Start();
  ASSERT_TRUE(PumpUntil([&] { return record_.signals.load() == 2; }));
  EXPECT_EQ(2, record_.works.load());
  EXPECT_EQ(2, record_.starts.load());
  t->Release();
  EXPECT_EQ(1, record_.deleted.load());
}

TEST_F(SignalThreadTest, NameAndPriorityGoToTheWorker) {
  TestSignalThread* t = Make();
  EXPECT_TRUE(t->SetName("resolver", nullptr));
  EXPECT_TRUE(t->SetPriority(PRIORITY_HIGH));
  t->Start();
  ASSERT_TRUE(PumpUntil([&] { return record_.signals.load() == 1; }));
  t->Release();
}

TEST_F(SignalThreadTest, CreatingThreadGoneFirstPostsNothing) {
  TestSignalThread* t = nullptr;
  std::thread creator([&] {
    AutoThread creating;
    t = Make(true);
    t->Start();
    while (!record_.working.load()) Thread::SleepMs(1);
  });  // the creating thread's queue is destroyed here
  creator.join();
  record_.hold = false;
  Thread::SleepMs(50);
  EXPECT_EQ(0, record_.dones.load());
  // The work ended without a report, so it counts as running still.
  t->Destroy(true);
  EXPECT_EQ(1, record_.deleted.load());
  EXPECT_EQ(0, record_.signals.load());
}

TEST_F(SignalThreadTest, MadeWithoutACurrentThreadWarnsAndPostsNothing) {
  LogCapture capture;
  TestSignalThread* t = nullptr;
  std::thread creator([&] {
    t = Make();
    t->Start();
    while (record_.works.load() == 0) Thread::SleepMs(1);
    Thread::SleepMs(20);
    t->Destroy(true);
  });
  creator.join();
  EXPECT_EQ(1, record_.deleted.load());
  EXPECT_EQ(0, record_.dones.load());
  EXPECT_EQ(std::vector<std::string>{
                "WARNING(signalthread.cc): SignalThread made on a thread "
                "without a Thread; its completion is not reported"},
            capture.Lines("signalthread.cc"));
}

TEST_F(SignalThreadTest, ManyLifeCyclesAtOnce) {
  // Every ending, mixed, with work of varying length.
  const int kCount = 24;
  std::vector<std::unique_ptr<Record>> records;
  std::vector<TestSignalThread*> threads;
  for (int i = 0; i < kCount; ++i) {
    records.emplace_back(new Record);
    records.back()->hold = (i % 2 == 0);
    threads.push_back(new TestSignalThread(records.back().get()));
    threads.back()->Start();
  }
  for (int i = 0; i < kCount; ++i) {
    switch (i % 3) {
      case 0: threads[i]->Release(); break;
      case 1: threads[i]->Destroy(false); break;
      case 2: threads[i]->Destroy(true); break;
    }
    records[i]->hold = false;
  }
  ASSERT_TRUE(PumpUntil([&] {
    for (auto& r : records) {
      if (r->deleted.load() != 1) return false;
    }
    return true;
  }));
}

// The asynchronous resolver.

struct ResolveWaiter : public sigslot::has_slots<> {
  void OnDone(SignalThread*) { done = true; }
  bool done = false;
};

TEST(AsyncResolverTest, ResolvesANumericNameOnTheWorker) {
  Watchdog watchdog(30);
  AsyncResolver* resolver = new AsyncResolver;
  resolver->set_address(SocketAddress("127.0.0.1", 4321));
  ResolveWaiter waiter;
  resolver->SignalWorkDone.connect(&waiter, &ResolveWaiter::OnDone);
  resolver->Start();
  ASSERT_TRUE(PumpUntil([&] { return waiter.done; }));
  EXPECT_EQ(0, resolver->error());
  EXPECT_EQ("127.0.0.1", resolver->address().GetIPAddress().ToString());
  EXPECT_EQ(4321, resolver->address().GetPort());
  EXPECT_EQ("", resolver->address().hostname());
  resolver->Release();
}

int NotFound(const char*, hostent*, char*, size_t, hostent** result,
             int* herr) {
  *result = nullptr;
  *herr = HOST_NOT_FOUND;
  return 0;
}

// An entry whose address list is empty.
int NoAddresses(const char* name, hostent* ret, char* buf, size_t,
                hostent** result, int* herr) {
  char** list = reinterpret_cast<char**>(buf);
  list[0] = nullptr;
  ret->h_name = const_cast<char*>(name);
  ret->h_aliases = nullptr;
  ret->h_addrtype = AF_INET;
  ret->h_length = 4;
  ret->h_addr_list = list;
  *result = ret;
  *herr = 0;
  return 0;
}

TEST(AsyncResolverTest, FailuresKeepTheAddressAndReportAnError) {
  Watchdog watchdog(30);
  for (GetHostByNameFunction lookup : {&NotFound, &NoAddresses}) {
    SetGetHostByNameForTesting(lookup);
    AsyncResolver* resolver = new AsyncResolver;
    resolver->set_address(SocketAddress("nowhere.test", 80));
    ResolveWaiter waiter;
    resolver->SignalWorkDone.connect(&waiter, &ResolveWaiter::OnDone);
    resolver->Start();
    ASSERT_TRUE(PumpUntil([&] { return waiter.done; }));
    EXPECT_NE(0, resolver->error());
    EXPECT_TRUE(resolver->address().IsAnyIP());
    EXPECT_EQ("nowhere.test", resolver->address().hostname());
    resolver->Destroy(false);
  }
  SetGetHostByNameForTesting(nullptr);
}

}  // namespace
}  // namespace talk_base
