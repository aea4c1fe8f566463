// What a message queue waits on.
//
// A SocketServer is a SocketFactory that can also block its thread until I/O
// is ready, a time has passed or another thread wakes it. Wait runs on the
// thread that owns the queue; WakeUp may be called from any thread.
#ifndef TALK_BASE_SOCKETSERVER_H_
#define TALK_BASE_SOCKETSERVER_H_

#include "talk/base/socketfactory.h"

namespace talk_base {

class MessageQueue;

class SocketServer : public SocketFactory {
 public:
  // Wait's time limit meaning "none".
  static const int kForever = -1;

  // The queue this server serves (null when it is going away).
  virtual void SetMessageQueue(MessageQueue* queue) { (void)queue; }

  // Waits up to |cms| milliseconds (kForever: no limit) and, when
  // |process_io|, serves the I/O that becomes ready meanwhile. Returns true
  // when the time is up or WakeUp was called, false on failure.
  virtual bool Wait(int cms, bool process_io) = 0;

  // Makes the current or the next Wait return.
  virtual void WakeUp() = 0;
};

}  // namespace talk_base

#endif  // TALK_BASE_SOCKETSERVER_H_
