// The receiving side of message queues.
//
// A MessageHandler receives the messages queued for it through OnMessage,
// on the thread that dispatches the queue. The handler owns a message's
// MessageData once it has received it and deletes it. Destroying a handler
// removes (and deletes the data of) every message still addressed to it in
// every active queue, and of every message that a thread has taken from a
// queue but not yet dispatched, so a handler may be destroyed on any thread
// while messages for it are pending. When its OnMessage is running on
// another thread, the destruction waits for that call to return before the
// memory goes; a derived class whose own members that call uses calls
// MessageQueueManager::Clear(this) first in its destructor, so that it is
// still whole while it waits.
#ifndef TALK_BASE_MESSAGEHANDLER_H_
#define TALK_BASE_MESSAGEHANDLER_H_

#include <stdint.h>

namespace talk_base {

class MessageHandler;

// Polymorphic base of every message payload.
class MessageData {
 public:
  MessageData() {}
  virtual ~MessageData() {}
};

// Message ids with a meaning of their own.
enum : uint32_t {
  MQID_ANY = static_cast<uint32_t>(-1),      // matches every id in Clear
  MQID_DISPOSE = static_cast<uint32_t>(-2),  // never returned; data deleted
};

// A queued message; copied into and out of queues.
struct Message {
  Message() : phandler(nullptr), message_id(0), pdata(nullptr), ts_sensitive(0) {}
  Message(MessageHandler* handler, uint32_t id, MessageData* data)
      : phandler(handler), message_id(id), pdata(data), ts_sensitive(0) {}

  MessageHandler* phandler;
  uint32_t message_id;
  MessageData* pdata;
  // 0 for an ordinary message; for a time-sensitive one, the time by which
  // it should have been taken (posting time plus kMaxMsgLatency).
  uint32_t ts_sensitive;
};

class MessageHandler {
 public:
  MessageHandler() {}
  virtual ~MessageHandler();

  virtual void OnMessage(Message* msg) = 0;

 private:
  MessageHandler(const MessageHandler&) = delete;
  MessageHandler& operator=(const MessageHandler&) = delete;
};

}  // namespace talk_base

#endif  // TALK_BASE_MESSAGEHANDLER_H_
