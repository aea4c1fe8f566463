// Creates the base library's sockets.
//
// |type| is SOCK_STREAM or SOCK_DGRAM. The caller owns the returned socket;
// null means the socket could not be made. Callable from the thread that
// owns the factory.
#ifndef TALK_BASE_SOCKETFACTORY_H_
#define TALK_BASE_SOCKETFACTORY_H_

namespace talk_base {

class Socket;
class AsyncSocket;

class SocketFactory {
 public:
  virtual ~SocketFactory() {}

  virtual Socket* CreateSocket(int type) = 0;
  virtual AsyncSocket* CreateAsyncSocket(int type) = 0;
};

}  // namespace talk_base

#endif  // TALK_BASE_SOCKETFACTORY_H_
