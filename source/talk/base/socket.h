// What every base-library socket can do.
//
// Operations follow the system calls: 0 or a byte count on success, -1 on
// failure with the error kept for GetError. A socket is IPv4 and tracks a
// connection state; options map onto socket options.
//
// Threads: a socket belongs to one thread at a time.
#ifndef TALK_BASE_SOCKET_H_
#define TALK_BASE_SOCKET_H_

#include <stddef.h>
#include <stdint.h>

#include "talk/base/socketaddress.h"

namespace talk_base {

class AsyncSocket;

enum ConnState { CS_CLOSED = 0, CS_CONNECTING = 1, CS_CONNECTED = 2 };

enum SocketOption {
  OPT_DONTFRAGMENT = 0,
  OPT_RCVBUF = 1,
  OPT_SNDBUF = 2,
  OPT_NODELAY = 3,
};

class Socket {
 public:
  virtual ~Socket() {}

  virtual SocketAddress GetLocalAddress() const = 0;
  virtual SocketAddress GetRemoteAddress() const = 0;
  virtual int Bind(const SocketAddress& addr) = 0;
  virtual int Connect(const SocketAddress& addr) = 0;
  virtual int Send(const void* pv, int cb) = 0;
  virtual int SendTo(const void* pv, int cb, const SocketAddress& addr) = 0;
  virtual int Recv(void* pv, int cb) = 0;
  // |paddr| gets the sender, or the cleared address when the socket names
  // none (a stream socket).
  virtual int RecvFrom(void* pv, int cb, SocketAddress* paddr) = 0;
  virtual int Listen(int backlog) = 0;
  // The caller owns the accepted socket; null on failure.
  virtual AsyncSocket* Accept(SocketAddress* paddr) = 0;
  virtual int Close() = 0;
  virtual int GetError() const = 0;
  virtual void SetError(int error) = 0;
  virtual ConnState GetState() const = 0;
  virtual int EstimateMTU(uint16_t* mtu) = 0;
  virtual int GetOption(SocketOption opt, int* value) = 0;
  virtual int SetOption(SocketOption opt, int value) = 0;

 protected:
  Socket() {}

 private:
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
};

}  // namespace talk_base

#endif  // TALK_BASE_SOCKET_H_
