// Resolves the host name of a SocketAddress on a signal thread, so that the
// thread that asks does not block.
//
// Set the address, Start, and read address() and error() after
// SignalWorkDone: on success the address holds the first resolved IP and
// the port it was given, and no host name; on failure it is unchanged and
// the error (an h_errno value) is not 0.
//
// Threads: as SignalThread; the address and error belong to the creating
// thread except while the work runs.
#ifndef TALK_BASE_ASYNCRESOLVER_H_
#define TALK_BASE_ASYNCRESOLVER_H_

#include <netdb.h>

#include "talk/base/signalthread.h"
#include "talk/base/socketaddress.h"

namespace talk_base {

class AsyncResolver : public SignalThread {
 public:
  AsyncResolver();

  const SocketAddress& address() const { return addr_; }
  void set_address(const SocketAddress& addr) { addr_ = addr; }
  int error() const { return error_; }
  void set_error(int error) { error_ = error; }

 protected:
  ~AsyncResolver() override;

  void DoWork() override;
  void OnWorkDone() override;

 private:
  SocketAddress addr_;
  hostent* ai_;
  int error_;
};

}  // namespace talk_base

#endif  // TALK_BASE_ASYNCRESOLVER_H_
