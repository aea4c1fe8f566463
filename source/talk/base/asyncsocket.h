// A non-blocking socket that reports readiness through signals, and the
// adapter that wraps one such socket in another.
//
// SignalReadEvent also reports a pending incoming connection;
// SignalCloseEvent carries the error. The signals are emitted on the thread
// that runs the owning socket server's Wait.
//
// AsyncSocketAdapter owns the socket it wraps, forwards every operation to
// it and re-emits its signals with the adapter as the socket. An adapter
// without a socket answers -1 with EBADF (null from Accept, a cleared
// address, CS_CLOSED) instead of reaching through null.
//
// Threads: as the wrapped socket; signals are single-threaded.
#ifndef TALK_BASE_ASYNCSOCKET_H_
#define TALK_BASE_ASYNCSOCKET_H_

#include "talk/base/sigslot.h"
#include "talk/base/socket.h"

namespace talk_base {

class AsyncSocket : public Socket {
 public:
  AsyncSocket() {}
  ~AsyncSocket() override {}

  sigslot::signal1<AsyncSocket*> SignalReadEvent;
  sigslot::signal1<AsyncSocket*> SignalWriteEvent;
  sigslot::signal1<AsyncSocket*> SignalConnectEvent;
  sigslot::signal2<AsyncSocket*, int> SignalCloseEvent;
};

class AsyncSocketAdapter : public AsyncSocket, public sigslot::has_slots<> {
 public:
  // Takes ownership of |socket|, which may be null.
  explicit AsyncSocketAdapter(AsyncSocket* socket);
  ~AsyncSocketAdapter() override;

  // Wraps |socket| instead; a previous socket is disconnected and deleted.
  void Attach(AsyncSocket* socket);

  SocketAddress GetLocalAddress() const override;
  SocketAddress GetRemoteAddress() const override;
  int Bind(const SocketAddress& addr) override;
  int Connect(const SocketAddress& addr) override;
  int Send(const void* pv, int cb) override;
  int SendTo(const void* pv, int cb, const SocketAddress& addr) override;
  int Recv(void* pv, int cb) override;
  int RecvFrom(void* pv, int cb, SocketAddress* paddr) override;
  int Listen(int backlog) override;
  AsyncSocket* Accept(SocketAddress* paddr) override;
  int Close() override;
  int GetError() const override;
  void SetError(int error) override;
  ConnState GetState() const override;
  int EstimateMTU(uint16_t* mtu) override;
  int GetOption(SocketOption opt, int* value) override;
  int SetOption(SocketOption opt, int value) override;

 protected:
  virtual void OnConnectEvent(AsyncSocket* socket);
  virtual void OnReadEvent(AsyncSocket* socket);
  virtual void OnWriteEvent(AsyncSocket* socket);
  virtual void OnCloseEvent(AsyncSocket* socket, int err);

  AsyncSocket* socket_;

 private:
  // What an adapter without a socket answers: -1, with EBADF kept.
  int NoSocket() const;

  mutable int error_;  // the error of an adapter without a socket
};

}  // namespace talk_base

#endif  // TALK_BASE_ASYNCSOCKET_H_
