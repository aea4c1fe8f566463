// Message queues: messages for MessageHandlers, posted now, after a delay or
// at a time, taken in order by the thread that owns the queue.
//
// A queue waits on a SocketServer (its own PhysicalSocketServer unless one
// is given), which other threads wake when they post. Posted messages come
// out first in, first out; delayed ones when their trigger time is reached,
// in trigger order and, for equal triggers, in posting order. Triggers are
// millisecond clock times and compare wrap-aware.
//
// Threads: any thread may Post, PostDelayed, PostAt, Clear and GetDelay;
// Get, Peek and Dispatch belong to the thread that processes the queue.
// Handlers always run outside the queue's lock.
//
// The MessageQueueManager keeps every queue that has ever received a
// message, so that a dying MessageHandler can remove its messages from all
// of them. Lock order: the manager's lock before a queue's.
#ifndef TALK_BASE_MESSAGEQUEUE_H_
#define TALK_BASE_MESSAGEQUEUE_H_

#include <stdint.h>

#include <atomic>
#include <list>
#include <mutex>
#include <vector>

#include "talk/base/messagehandler.h"
#include "talk/base/sigslot.h"
#include "talk/base/socketserver.h"

namespace talk_base {

class MessageQueue;

typedef std::list<Message> MessageList;

// How long a time-sensitive message may wait before Get reports it.
const uint32_t kMaxMsgLatency = 150;  // ms

// The registry of active queues.
class MessageQueueManager {
 public:
  // Registers |queue| unless it already is; marks it active.
  static void Add(MessageQueue* queue);
  // Unregisters |queue|; the registry goes away when it becomes empty.
  static void Remove(MessageQueue* queue);
  // Removes every message for |handler| from every registered queue and
  // deletes their data, cancels the ones a thread has taken but not yet
  // dispatched, and waits for its OnMessage calls running on other threads.
  // Without an active queue there is no registry to search, and none is
  // made for it.
  static void Clear(MessageHandler* handler);

 private:
  MessageQueueManager() {}
  // The registry, made on first use; the caller holds the registry lock.
  static MessageQueueManager* Instance();

  std::vector<MessageQueue*> queues_;
};

// A delayed message, ordered in the heap by trigger time, then by sequence
// number; both compare wrap-aware.
struct DelayedMessage {
  DelayedMessage(uint32_t trigger, uint32_t num, const Message& msg)
      : msTrigger_(trigger), num_(num), msg_(msg) {}

  // True when |this| comes out after |other| (the heap keeps the earliest on
  // top).
  bool operator<(const DelayedMessage& other) const {
    const int32_t diff = static_cast<int32_t>(msTrigger_ - other.msTrigger_);
    if (diff != 0) return diff > 0;
    return static_cast<int32_t>(num_ - other.num_) > 0;
  }

  uint32_t msTrigger_;
  uint32_t num_;
  Message msg_;
};

class MessageQueue {
 public:
  static const int kForever = SocketServer::kForever;

  // With a null |ss| the queue makes and owns a PhysicalSocketServer.
  explicit MessageQueue(SocketServer* ss = nullptr);
  virtual ~MessageQueue();

  SocketServer* socketserver() { return ss_; }
  // Null selects the server the queue made itself; a queue that was given
  // its server at construction has none and keeps its current one.
  void SetSocketServer(SocketServer* ss);

  // Quit makes Get return false once the posted messages are taken, refuses
  // new posts and wakes a waiting Get; Restart undoes it.
  virtual void Quit();
  virtual bool IsQuitting();
  virtual void Restart();

  // Takes the next message, waiting up to |cmsWait| ms (kForever: no limit)
  // and serving I/O meanwhile when |process_io|. False when the queue quits,
  // the server fails or the time is spent.
  virtual bool Get(Message* pmsg, int cmsWait = kForever,
                   bool process_io = true);
  // Like Get, but the message stays to be returned by the next Get.
  virtual bool Peek(Message* pmsg, int cmsWait = 0);

  // The queue owns |pdata| until the handler receives it; posts to a
  // quitting queue delete it.
  virtual void Post(MessageHandler* phandler, uint32_t id = 0,
                    MessageData* pdata = nullptr, bool time_sensitive = false);
  virtual void PostDelayed(int cmsDelay, MessageHandler* phandler,
                           uint32_t id = 0, MessageData* pdata = nullptr);
  virtual void PostAt(uint32_t tstamp, MessageHandler* phandler,
                      uint32_t id = 0, MessageData* pdata = nullptr);

  // Removes the messages for |phandler| (null: any) with |id| (MQID_ANY:
  // any), in the order peeked, posted, delayed; they go to |removed|, or
  // their data is deleted when it is null. A Thread also removes its
  // pending sends, first.
  virtual void Clear(MessageHandler* phandler, uint32_t id = MQID_ANY,
                     MessageList* removed = nullptr);

  virtual void Dispatch(Message* pmsg);
  virtual void ReceiveSends();

  // 0 when a posted message waits, else the ms until the earliest delayed
  // message is due (0 when it is), -1 when there is none.
  virtual int GetDelay();

  // Emitted first when the queue is destroyed.
  sigslot::signal0<> SignalQueueDestroyed;

 protected:
  friend class MessageQueueManager;

  void EnsureActive();
  void DoDelayPost(uint32_t tstamp, MessageHandler* phandler, uint32_t id,
                   MessageData* pdata);
  // Moves the matching messages to |removed|; the caller holds crit_.
  virtual void ClearLocked(MessageHandler* phandler, uint32_t id,
                           MessageList* removed);
  // Deletes the data of every message in |messages|.
  static void DeleteData(MessageList* messages);

  static bool Matches(const Message& msg, MessageHandler* phandler,
                      uint32_t id) {
    return (phandler == nullptr || msg.phandler == phandler) &&
           (id == MQID_ANY || msg.message_id == id);
  }

  SocketServer* ss_;
  SocketServer* default_ss_;
  std::atomic<bool> fStop_;
  bool fPeekKeep_;
  Message msgPeek_;
  std::atomic<bool> fActive_;
  MessageList msgq_;
  std::vector<DelayedMessage> dmsgq_;  // a heap, earliest on top
  uint32_t dmsgq_next_num_;
  std::recursive_mutex crit_;

 private:
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;
};

}  // namespace talk_base

#endif  // TALK_BASE_MESSAGEQUEUE_H_
