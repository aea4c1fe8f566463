#include "talk/base/messagequeue.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "talk/base/timeutils.h"

namespace talk_base {
namespace {

// Counts its live instances, so tests see whether a payload was deleted.
struct CountedData : public MessageData {
  explicit CountedData(int v) : value(v) { ++live; }
  ~CountedData() override { --live; }
  int value;
  static std::atomic<int> live;
};
std::atomic<int> CountedData::live(0);

struct RecordingHandler : public MessageHandler {
  void OnMessage(Message* msg) override {
    ids.push_back(msg->message_id);
    delete msg->pdata;
  }
  std::vector<uint32_t> ids;
};

// The clock the queue reads, set by the test.
std::atomic<uint32_t> g_now(0);
uint32_t TestClock() { return g_now.load(); }

// A server that never blocks and records what the queue asks of it. With
// |advance| each timed wait moves the test clock on by its length.
class FakeSocketServer : public SocketServer {
 public:
  Socket* CreateSocket(int) override { return nullptr; }
  AsyncSocket* CreateAsyncSocket(int) override { return nullptr; }
  void SetMessageQueue(MessageQueue* queue) override { queues.push_back(queue); }
  bool Wait(int cms, bool process_io) override {
    waits.push_back(cms);
    if (advance && cms > 0) g_now += static_cast<uint32_t>(cms);
    last_process_io = process_io;
    return wait_result;
  }
  void WakeUp() override { ++wakeups; }

  std::vector<MessageQueue*> queues;
  std::vector<int> waits;
  bool last_process_io = false;
  bool wait_result = true;
  bool advance = false;
  int wakeups = 0;
};

// Real milliseconds, shifted by g_offset so that the test can place the
// clock's wrap where it wants it.
uint32_t RealMs() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now().time_since_epoch())
          .count());
}
std::atomic<uint32_t> g_offset(0);
uint32_t ShiftedClock() { return RealMs() + g_offset.load(); }

const uint32_t kNearWrap = 0xFFFFFFFAu;  // 2^32 - 6

class MessageQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { CountedData::live = 0; }
  void TearDown() override {
    SetClockForTesting(nullptr);
    EXPECT_EQ(0, CountedData::live.load()) << "payloads leaked";
  }
  void UseFixedClock(uint32_t now) {
    g_now = now;
    SetClockForTesting(TestClock);
  }
  std::vector<uint32_t> DrainIds(MessageQueue* q) {
    std::vector<uint32_t> ids;
    Message msg;
    while (q->Get(&msg, 0)) {
      ids.push_back(msg.message_id);
      delete msg.pdata;
    }
    return ids;
  }

  RecordingHandler handler;
};

TEST_F(MessageQueueTest, PostedMessagesComeOutFirstInFirstOut) {
  MessageQueue q;
  for (uint32_t id = 1; id <= 5; ++id) q.Post(&handler, id, new CountedData(id));
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 4, 5}), DrainIds(&q));
}

TEST_F(MessageQueueTest, DispatchCallsTheHandler) {
  MessageQueue q;
  q.Post(&handler, 7, new CountedData(1));
  Message msg;
  ASSERT_TRUE(q.Get(&msg, 0));
  q.Dispatch(&msg);
  EXPECT_EQ((std::vector<uint32_t>{7}), handler.ids);
}

TEST_F(MessageQueueTest, DelayedMessagesByTriggerThenPostingOrderAcrossTheWrap) {
  UseFixedClock(kNearWrap);
  MessageQueue q;
  // kNearWrap + 10 wraps to 4; compared as plain unsigned it would come
  // before everything else.
  q.PostAt(kNearWrap + 10, &handler, 1);
  q.PostAt(kNearWrap + 5, &handler, 2);
  q.PostAt(kNearWrap + 10, &handler, 3);
  q.PostAt(kNearWrap - 3, &handler, 4);   // already past
  q.PostDelayed(7, &handler, 5);          // kNearWrap + 7 = 1
  q.PostAt(kNearWrap, &handler, 6);       // due right now

  EXPECT_EQ((std::vector<uint32_t>{4, 6}), DrainIds(&q));
  EXPECT_EQ(5, q.GetDelay());
  g_now = kNearWrap + 5;
  EXPECT_EQ((std::vector<uint32_t>{2}), DrainIds(&q));
  g_now = kNearWrap + 9;
  EXPECT_EQ((std::vector<uint32_t>{5}), DrainIds(&q));
  EXPECT_EQ(1, q.GetDelay());
  g_now = kNearWrap + 10;
  EXPECT_EQ(0, q.GetDelay());
  EXPECT_EQ((std::vector<uint32_t>{1, 3}), DrainIds(&q));
  EXPECT_EQ(-1, q.GetDelay());
}

TEST_F(MessageQueueTest, EqualTriggersKeepPostingOrderAfterManyPosts) {
  UseFixedClock(1000);
  MessageQueue q;
  for (uint32_t id = 0; id < 50; ++id) q.PostAt(1000 + (id % 3), &handler, id);
  g_now = 1002;
  std::vector<uint32_t> expected;
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t id = r; id < 50; id += 3) expected.push_back(id);
  }
  EXPECT_EQ(expected, DrainIds(&q));
}

TEST_F(MessageQueueTest, GetDelay) {
  UseFixedClock(500);
  MessageQueue q;
  EXPECT_EQ(-1, q.GetDelay());
  q.PostDelayed(30, &handler, 1);
  EXPECT_EQ(30, q.GetDelay());
  g_now = 600;
  EXPECT_EQ(0, q.GetDelay());  // overdue counts as due, never negative
  q.Post(&handler, 2);
  EXPECT_EQ(0, q.GetDelay());
  DrainIds(&q);
}

TEST_F(MessageQueueTest, RealDelaysAcrossTheClockWrap) {
  // The clock wraps 40 ms into the test.
  g_offset = 0u - RealMs() - 40;
  SetClockForTesting(ShiftedClock);
  MessageQueue q;
  q.PostDelayed(80, &handler, 3);
  q.PostDelayed(20, &handler, 1);
  q.PostDelayed(60, &handler, 2);
  q.Post(&handler, 0);
  std::vector<uint32_t> ids;
  Message msg;
  while (ids.size() < 4 && q.Get(&msg, 2000)) ids.push_back(msg.message_id);
  EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3}), ids);
  EXPECT_TRUE(TimeIsLater(0xFFFFFFF0u, Time()));  // the clock did wrap
}

TEST_F(MessageQueueTest, GetWaitsUntilTheNextDelayedMessageIsDue) {
  FakeSocketServer ss;
  ss.advance = true;
  UseFixedClock(kNearWrap - 10);
  MessageQueue q(&ss);
  q.PostDelayed(25, &handler, 1);  // due after the wrap
  Message msg;
  ASSERT_TRUE(q.Get(&msg, 1000));
  EXPECT_EQ(1u, msg.message_id);
  EXPECT_EQ((std::vector<int>{25}), ss.waits);
}

TEST_F(MessageQueueTest, GetGivesUpWhenItsTimeIsSpent) {
  FakeSocketServer ss;
  ss.advance = true;
  UseFixedClock(kNearWrap - 10);
  MessageQueue q(&ss);
  q.PostDelayed(500, &handler, 1);
  Message msg;
  EXPECT_FALSE(q.Get(&msg, 100));
  EXPECT_EQ((std::vector<int>{100}), ss.waits);
  // A forever wait goes straight to the message's time.
  ss.waits.clear();
  ASSERT_TRUE(q.Get(&msg, MessageQueue::kForever));
  EXPECT_EQ((std::vector<int>{400}), ss.waits);
}

TEST_F(MessageQueueTest, GetWithZeroWaitPollsOnceAndFails) {
  FakeSocketServer ss;
  MessageQueue q(&ss);
  Message msg;
  EXPECT_FALSE(q.Get(&msg, 0, false));
  EXPECT_EQ((std::vector<int>{0}), ss.waits);
  EXPECT_FALSE(ss.last_process_io);
}

TEST_F(MessageQueueTest, GetFailsWhenTheServerFails) {
  FakeSocketServer ss;
  ss.wait_result = false;
  MessageQueue q(&ss);
  Message msg;
  EXPECT_FALSE(q.Get(&msg, MessageQueue::kForever));
  EXPECT_EQ((std::vector<int>{-1}), ss.waits);
}

TEST_F(MessageQueueTest, PostsWakeTheServer) {
  FakeSocketServer ss;
  MessageQueue q(&ss);
  q.Post(&handler, 1);
  q.PostDelayed(10, &handler, 2);
  EXPECT_EQ(2, ss.wakeups);
  q.Clear(nullptr);
}

TEST_F(MessageQueueTest, SocketServerChoice) {
  FakeSocketServer given;
  {
    MessageQueue q(&given);
    EXPECT_EQ(&given, q.socketserver());
    q.SetSocketServer(nullptr);  // no server of its own to fall back to
    EXPECT_EQ(&given, q.socketserver());
  }
  // Told of the queue at construction and of its end.
  EXPECT_EQ(2u, given.queues.size());
  EXPECT_EQ(nullptr, given.queues.back());

  MessageQueue own;
  SocketServer* made = own.socketserver();
  ASSERT_NE(nullptr, made);
  FakeSocketServer other;
  own.SetSocketServer(&other);
  EXPECT_EQ(&other, own.socketserver());
  EXPECT_EQ(&own, other.queues.back());
  own.SetSocketServer(nullptr);
  EXPECT_EQ(made, own.socketserver());
}

TEST_F(MessageQueueTest, QuitKeepsPostedMessagesAndRefusesNewOnes) {
  MessageQueue q;
  q.Post(&handler, 1, new CountedData(1));
  q.Quit();
  EXPECT_TRUE(q.IsQuitting());
  q.Post(&handler, 2, new CountedData(2));
  q.PostDelayed(0, &handler, 3, new CountedData(3));
  // Refused posts do not keep their payloads alive.
  EXPECT_EQ(1, CountedData::live.load());
  Message msg;
  ASSERT_TRUE(q.Get(&msg, MessageQueue::kForever));
  EXPECT_EQ(1u, msg.message_id);
  delete msg.pdata;
  EXPECT_FALSE(q.Get(&msg, MessageQueue::kForever));  // returns, no hang
  q.Restart();
  EXPECT_FALSE(q.IsQuitting());
  q.Post(&handler, 4);
  EXPECT_EQ((std::vector<uint32_t>{4}), DrainIds(&q));
}

TEST_F(MessageQueueTest, DisposeMessagesAreNeverReturned) {
  MessageQueue q;
  q.Post(&handler, MQID_DISPOSE, new CountedData(1));
  q.Post(&handler, MQID_DISPOSE, nullptr);
  q.Post(&handler, 9);
  EXPECT_EQ((std::vector<uint32_t>{9}), DrainIds(&q));
  EXPECT_EQ(0, CountedData::live.load());
}

TEST_F(MessageQueueTest, PeekKeepsTheMessageForTheNextGet) {
  MessageQueue q;
  q.Post(&handler, 1);
  q.Post(&handler, 2);
  Message msg;
  ASSERT_TRUE(q.Peek(&msg));
  EXPECT_EQ(1u, msg.message_id);
  ASSERT_TRUE(q.Peek(&msg));
  EXPECT_EQ(1u, msg.message_id);
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), DrainIds(&q));
  EXPECT_FALSE(q.Peek(&msg, 0));
}

// A time-sensitive message taken after its deadline logs how long it
// waited; the comparison holds across the clock's wrap.
TEST_F(MessageQueueTest, LateTimeSensitiveMessageLogsItsDelay) {
  struct Case {
    uint32_t posted;
    bool time_sensitive;
    uint32_t taken_after;
    const char* warning;  // null: none
  };
  const Case cases[] = {
      {1000, true, 0, nullptr},
      {1000, true, 150, nullptr},
      {1000, true, 151, "WARNING(messagequeue.cc): Get: id: 7  delay: 151ms"},
      {1000, true, 200, "WARNING(messagequeue.cc): Get: id: 7  delay: 200ms"},
      {1000, false, 5000, nullptr},
      // The deadline wraps to 144.
      {kNearWrap, true, 200, "WARNING(messagequeue.cc): Get: id: 7  delay: 200ms"},
      // Unsigned, a time just before the wrap would look far past a
      // deadline just after it.
      {kNearWrap - 100, true, 10, nullptr},
  };
  for (const Case& c : cases) {
    UseFixedClock(c.posted);
    MessageQueue q;
    q.Post(&handler, 7, nullptr, c.time_sensitive);
    g_now = c.posted + c.taken_after;
    LogCapture log;
    Message msg;
    ASSERT_TRUE(q.Get(&msg, 0));
    const std::vector<std::string> expected =
        c.warning ? std::vector<std::string>{c.warning}
                  : std::vector<std::string>{};
    EXPECT_EQ(expected, log.Lines("messagequeue.cc"))
        << c.posted << " +" << c.taken_after;
  }
}

TEST_F(MessageQueueTest, TimeSensitiveMessagesCarryTheirDeadline) {
  UseFixedClock(1000);
  MessageQueue q;
  q.Post(&handler, 1, nullptr, true);
  q.Post(&handler, 2);
  Message msg;
  ASSERT_TRUE(q.Get(&msg, 0));
  EXPECT_EQ(1000u + kMaxMsgLatency, msg.ts_sensitive);
  ASSERT_TRUE(q.Get(&msg, 0));
  EXPECT_EQ(0u, msg.ts_sensitive);
}

TEST_F(MessageQueueTest, ClearEverythingInOrderPeekedPostedDelayed) {
  UseFixedClock(0);
  MessageQueue q;
  q.Post(&handler, 1);
  q.Post(&handler, 2);
  q.PostDelayed(50, &handler, 5);
  q.PostDelayed(10, &handler, 4);
  q.Post(&handler, 3);
  Message msg;
  ASSERT_TRUE(q.Peek(&msg));
  MessageList removed;
  q.Clear(nullptr, MQID_ANY, &removed);
  std::vector<uint32_t> ids;
  for (const Message& m : removed) ids.push_back(m.message_id);
  // Peeked 1, posted 2 and 3, then the heap in array order (earliest first
  // here).
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 3, 4, 5}), ids);
  EXPECT_EQ(-1, q.GetDelay());
  EXPECT_FALSE(q.Peek(&msg, 0));
}

TEST_F(MessageQueueTest, ClearByHandlerAndIdDeletesOnlyMatchingData) {
  UseFixedClock(0);
  RecordingHandler other;
  MessageQueue q;
  q.Post(&handler, 1, new CountedData(1));
  q.Post(&other, 1, new CountedData(2));
  q.Post(&handler, 2, new CountedData(3));
  q.PostDelayed(5, &handler, 1, new CountedData(4));
  q.PostDelayed(6, &other, 2, new CountedData(5));
  q.PostDelayed(7, &handler, 2, new CountedData(6));
  q.Clear(&handler, 1);
  EXPECT_EQ(4, CountedData::live.load());
  q.Clear(nullptr, 2);
  EXPECT_EQ(1, CountedData::live.load());
  g_now = 100;
  Message msg;
  ASSERT_TRUE(q.Get(&msg, 0));
  EXPECT_EQ(&other, msg.phandler);
  EXPECT_EQ(2, static_cast<CountedData*>(msg.pdata)->value);
  delete msg.pdata;
  EXPECT_FALSE(q.Get(&msg, 0));
}

TEST_F(MessageQueueTest, ClearKeepsTheHeapInOrder) {
  UseFixedClock(0);
  MessageQueue q;
  RecordingHandler other;
  for (uint32_t id = 1; id <= 20; ++id) {
    q.PostAt(100 - id * 3, (id % 2) ? &other : &handler, id);
  }
  q.Clear(&other);
  g_now = 200;
  EXPECT_EQ((std::vector<uint32_t>{20, 18, 16, 14, 12, 10, 8, 6, 4, 2}),
            DrainIds(&q));
}

TEST_F(MessageQueueTest, DestroyedHandlerLeavesNoMessageInAnyQueue) {
  UseFixedClock(0);
  MessageQueue q1, q2;
  auto doomed = std::make_unique<RecordingHandler>();
  q1.Post(doomed.get(), 1, new CountedData(1));
  q1.Post(&handler, 2, new CountedData(2));
  q2.PostDelayed(10, doomed.get(), 3, new CountedData(3));
  q2.Post(doomed.get(), 4, new CountedData(4));
  doomed.reset();
  EXPECT_EQ(1, CountedData::live.load());
  g_now = 100;
  EXPECT_EQ((std::vector<uint32_t>{2}), DrainIds(&q1));
  EXPECT_TRUE(DrainIds(&q2).empty());
}

// A message that Get has handed out is no longer in the queue; a handler
// destroyed on another thread before Dispatch must still not be called.
TEST_F(MessageQueueTest, HandlerDestroyedBetweenGetAndDispatchIsNotCalled) {
  FakeSocketServer ss;
  MessageQueue q(&ss);
  RecordingHandler* doomed = new RecordingHandler;
  q.Post(doomed, 5, new CountedData(5));
  Message msg;
  ASSERT_TRUE(q.Get(&msg, 0));
  std::thread([doomed] { delete doomed; }).join();
  q.Dispatch(&msg);
  EXPECT_EQ(nullptr, msg.pdata);  // deleted in the receiver's place

  // The queue goes on as before.
  q.Post(&handler, 6, new CountedData(6));
  ASSERT_TRUE(q.Get(&msg, 0));
  q.Dispatch(&msg);
  EXPECT_EQ((std::vector<uint32_t>{6}), handler.ids);
}

// Waits for its release inside OnMessage; its destructor first clears its
// messages, as a handler destroyed on another thread than its queue's does.
class BlockingHandler : public MessageHandler {
 public:
  explicit BlockingHandler(std::atomic<int>* destroyed) : destroyed_(destroyed) {}
  ~BlockingHandler() override {
    MessageQueueManager::Clear(this);
    // 2 when OnMessage had returned by now, 1 when it had not.
    *destroyed_ = returned.load() ? 2 : 1;
  }
  void OnMessage(Message* msg) override {
    delete msg->pdata;
    entered = true;
    while (!release.load()) std::this_thread::yield();
    returned = true;
  }
  std::atomic<bool> entered{false}, release{false}, returned{false};

 private:
  std::atomic<int>* destroyed_;
};

TEST_F(MessageQueueTest, DestructionWaitsForARunningOnMessageElsewhere) {
  FakeSocketServer ss;
  MessageQueue q(&ss);
  std::atomic<int> destroyed(0);
  BlockingHandler* blocking = new BlockingHandler(&destroyed);
  q.Post(blocking, 1, new CountedData(1));
  std::thread dispatcher([&] {
    Message msg;
    if (q.Get(&msg, 0)) q.Dispatch(&msg);
  });
  while (!blocking->entered.load()) std::this_thread::yield();
  std::thread deleter([blocking] { delete blocking; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(0, destroyed.load());  // still waiting
  blocking->release = true;
  dispatcher.join();
  deleter.join();
  EXPECT_EQ(2, destroyed.load());
}

// A handler that destroys itself while handling a message does not wait
// for itself.
struct SelfDeletingHandler : public MessageHandler {
  void OnMessage(Message* msg) override {
    delete msg->pdata;
    delete this;
  }
};

TEST_F(MessageQueueTest, HandlerMayDestroyItselfInOnMessage) {
  FakeSocketServer ss;
  MessageQueue q(&ss);
  q.Post(new SelfDeletingHandler, 1, new CountedData(1));
  Message msg;
  ASSERT_TRUE(q.Get(&msg, 0));
  q.Dispatch(&msg);
  EXPECT_EQ(0, CountedData::live.load());
}

TEST_F(MessageQueueTest, DestroyedQueueDeletesPendingData) {
  {
    MessageQueue q;
    q.Post(&handler, 1, new CountedData(1));
    q.PostDelayed(1000, &handler, 2, new CountedData(2));
  }
  EXPECT_EQ(0, CountedData::live.load());
}

struct DestroyWatcher : public sigslot::has_slots<> {
  void OnDestroyed() { ++calls; }
  int calls = 0;
};

TEST_F(MessageQueueTest, SignalQueueDestroyedIsEmittedOnDestruction) {
  DestroyWatcher watcher;
  {
    MessageQueue q;
    q.SignalQueueDestroyed.connect(&watcher, &DestroyWatcher::OnDestroyed);
  }
  EXPECT_EQ(1, watcher.calls);
}

TEST_F(MessageQueueTest, QueuesActiveAfterTheRegistryEmptiedAreStillReached) {
  // The registry goes away with its last queue and comes back with the next
  // post; a queue must not believe itself registered with the old one.
  auto doomed = std::make_unique<RecordingHandler>();
  {
    MessageQueue first;
    first.Post(doomed.get(), 1, new CountedData(1));
  }
  { RecordingHandler passing; }  // a handler dies while no queue is active
  MessageQueue second;
  second.Post(doomed.get(), 2, new CountedData(2));
  MessageQueue third;
  third.Post(&handler, 3, new CountedData(3));
  doomed.reset();
  EXPECT_EQ(1, CountedData::live.load());
  EXPECT_TRUE(DrainIds(&second).empty());
  EXPECT_EQ((std::vector<uint32_t>{3}), DrainIds(&third));
}

// A consumer drains while producers post and handlers come and go on other
// threads; run under ThreadSanitizer this shows races and lock-order
// inversions between the registry and the queues.
TEST_F(MessageQueueTest, ConcurrentPostersHandlersAndConsumer) {
  MessageQueue q;
  const int kProducers = 4;
  const int kPerProducer = 200;
  std::atomic<int> received(0);
  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&q, this] {
      for (int i = 0; i < kPerProducer; ++i) {
        q.Post(&handler, 1, new CountedData(i));
        if (i % 10 == 0) {
          RecordingHandler passing;
          q.Post(&passing, 2, new CountedData(i));
          q.PostDelayed(1, &passing, 3, new CountedData(i));
        }
      }
    });
  }
  Message msg;
  while (received.load() < kProducers * kPerProducer && q.Get(&msg, 5000)) {
    // Only |handler|'s messages survive; the passing handlers took theirs.
    if (msg.message_id == 1) received.fetch_add(1);
    delete msg.pdata;
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(kProducers * kPerProducer, received.load());
  q.Clear(nullptr);
}

}  // namespace
}  // namespace talk_base
