#include "talk/base/asyncsocket.h"

#include <errno.h>

namespace talk_base {

AsyncSocketAdapter::AsyncSocketAdapter(AsyncSocket* socket)
    : socket_(nullptr), error_(0) {
  Attach(socket);
}

AsyncSocketAdapter::~AsyncSocketAdapter() {
  delete socket_;
  socket_ = nullptr;
}

void AsyncSocketAdapter::Attach(AsyncSocket* socket) {
  if (socket == socket_) return;
  if (socket_) {
    // Leave the old socket's signals before it goes.
    AsyncSocket* old = socket_;
    socket_ = nullptr;
    old->SignalConnectEvent.disconnect_slot(this);
    old->SignalReadEvent.disconnect_slot(this);
    old->SignalWriteEvent.disconnect_slot(this);
    old->SignalCloseEvent.disconnect_slot(this);
    remove_sender(&old->SignalConnectEvent);
    remove_sender(&old->SignalReadEvent);
    remove_sender(&old->SignalWriteEvent);
    remove_sender(&old->SignalCloseEvent);
    delete old;
  }
  socket_ = socket;
  if (socket_) {
    socket_->SignalConnectEvent.connect(this,
                                        &AsyncSocketAdapter::OnConnectEvent);
    socket_->SignalReadEvent.connect(this, &AsyncSocketAdapter::OnReadEvent);
    socket_->SignalWriteEvent.connect(this, &AsyncSocketAdapter::OnWriteEvent);
    socket_->SignalCloseEvent.connect(this, &AsyncSocketAdapter::OnCloseEvent);
  }
}

int AsyncSocketAdapter::NoSocket() const {
  error_ = EBADF;
  return -1;
}

SocketAddress AsyncSocketAdapter::GetLocalAddress() const {
  return socket_ ? socket_->GetLocalAddress() : SocketAddress();
}

SocketAddress AsyncSocketAdapter::GetRemoteAddress() const {
  return socket_ ? socket_->GetRemoteAddress() : SocketAddress();
}

int AsyncSocketAdapter::Bind(const SocketAddress& addr) {
  return socket_ ? socket_->Bind(addr) : NoSocket();
}

int AsyncSocketAdapter::Connect(const SocketAddress& addr) {
  return socket_ ? socket_->Connect(addr) : NoSocket();
}

int AsyncSocketAdapter::Send(const void* pv, int cb) {
  return socket_ ? socket_->Send(pv, cb) : NoSocket();
}

int AsyncSocketAdapter::SendTo(const void* pv, int cb,
                               const SocketAddress& addr) {
  return socket_ ? socket_->SendTo(pv, cb, addr) : NoSocket();
}

int AsyncSocketAdapter::Recv(void* pv, int cb) {
  return socket_ ? socket_->Recv(pv, cb) : NoSocket();
}

int AsyncSocketAdapter::RecvFrom(void* pv, int cb, SocketAddress* paddr) {
  return socket_ ? socket_->RecvFrom(pv, cb, paddr) : NoSocket();
}

int AsyncSocketAdapter::Listen(int backlog) {
  return socket_ ? socket_->Listen(backlog) : NoSocket();
}

AsyncSocket* AsyncSocketAdapter::Accept(SocketAddress* paddr) {
  if (!socket_) {
    NoSocket();
    return nullptr;
  }
  return socket_->Accept(paddr);
}

int AsyncSocketAdapter::Close() {
  return socket_ ? socket_->Close() : NoSocket();
}

int AsyncSocketAdapter::GetError() const {
  return socket_ ? socket_->GetError() : error_;
}

void AsyncSocketAdapter::SetError(int error) {
  if (socket_) {
    socket_->SetError(error);
  } else {
    error_ = error;
  }
}

ConnState AsyncSocketAdapter::GetState() const {
  return socket_ ? socket_->GetState() : CS_CLOSED;
}

int AsyncSocketAdapter::EstimateMTU(uint16_t* mtu) {
  return socket_ ? socket_->EstimateMTU(mtu) : NoSocket();
}

int AsyncSocketAdapter::GetOption(SocketOption opt, int* value) {
  return socket_ ? socket_->GetOption(opt, value) : NoSocket();
}

int AsyncSocketAdapter::SetOption(SocketOption opt, int value) {
  return socket_ ? socket_->SetOption(opt, value) : NoSocket();
}

void AsyncSocketAdapter::OnConnectEvent(AsyncSocket*) {
  SignalConnectEvent(this);
}

void AsyncSocketAdapter::OnReadEvent(AsyncSocket*) { SignalReadEvent(this); }

void AsyncSocketAdapter::OnWriteEvent(AsyncSocket*) { SignalWriteEvent(this); }

void AsyncSocketAdapter::OnCloseEvent(AsyncSocket*, int err) {
  SignalCloseEvent(this, err);
}

}  // namespace talk_base
