// Keeps track of messages that have left their queue but not yet reached
// their handler, so that a handler destroyed in between is not called.
//
// A queue reports each message it hands out (Taken, under the queue's
// lock, so the message is never in neither place) and delivers it through
// Deliver. When a handler is destroyed, HandlerDestroyed cancels its taken
// messages, whose delivery then only deletes the data, and waits for
// deliveries to it that are running on other threads to return. A handler
// destroyed from inside its own OnMessage does not wait.
//
// Threads: any; one process-wide mutex, taken last (after a queue's lock)
// and never held while a handler runs.
#ifndef TALK_BASE_DISPATCHTRACKER_H_
#define TALK_BASE_DISPATCHTRACKER_H_

#include "talk/base/messagehandler.h"

namespace talk_base {

class DispatchTracker {
 public:
  // The calling thread took |msg| from |queue|; an earlier taken message of
  // the same thread and queue that was never delivered is forgotten.
  static void Taken(const void* queue, const Message& msg);
  // Calls the handler of |msg| unless it was destroyed since |msg| was
  // taken; then deletes the data instead and answers false.
  static bool Deliver(const void* queue, Message* msg);
  // Cancels the taken messages for |handler| and waits for its running
  // deliveries on other threads.
  static void HandlerDestroyed(MessageHandler* handler);
  // Forgets the taken messages of |queue|.
  static void QueueDestroyed(const void* queue);
};

}  // namespace talk_base

#endif  // TALK_BASE_DISPATCHTRACKER_H_
