// A plain file descriptor that reports readiness through signals.
//
// IsReadable/IsWritable tell whether read and write readiness is wanted;
// SignalReadEvent, SignalWriteEvent and SignalCloseEvent (with an error)
// report it on the thread that runs the owning socket server's Wait.
#ifndef TALK_BASE_ASYNCFILE_H_
#define TALK_BASE_ASYNCFILE_H_

#include "talk/base/sigslot.h"

namespace talk_base {

class AsyncFile {
 public:
  AsyncFile() {}
  virtual ~AsyncFile() {}

  virtual bool IsReadable() = 0;
  virtual void SetReadable(bool value) = 0;
  virtual bool IsWritable() = 0;
  virtual void SetWritable(bool value) = 0;

  sigslot::signal1<AsyncFile*> SignalReadEvent;
  sigslot::signal1<AsyncFile*> SignalWriteEvent;
  sigslot::signal2<AsyncFile*, int> SignalCloseEvent;

 private:
  AsyncFile(const AsyncFile&) = delete;
  AsyncFile& operator=(const AsyncFile&) = delete;
};

}  // namespace talk_base

#endif  // TALK_BASE_ASYNCFILE_H_
