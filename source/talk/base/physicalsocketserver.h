// The base library's event loop over file descriptors.
//
// A PhysicalSocketServer keeps a list of Dispatchers (each owns one
// descriptor and asks for read or write readiness), waits for them, turns
// readiness into dispatcher events and calls each dispatcher back. Other
// threads wake a waiting server through its wake-up pipe. The server can
// also run POSIX signal handlers on the thread that waits: the process-wide
// signal pipe carries each signal from the asynchronous handler to the
// server's signal dispatcher.
//
// Threads: Wait runs on the owning thread; WakeUp, Add and Remove may come
// from any thread, and dispatchers may add or remove dispatchers from inside
// OnEvent. The server does not own the dispatchers in its list. Descriptors
// of any value are served (the loop polls; it does not use fixed-size
// descriptor sets), and a descriptor of -1 is left out.
#ifndef TALK_BASE_PHYSICALSOCKETSERVER_H_
#define TALK_BASE_PHYSICALSOCKETSERVER_H_

#include <signal.h>
#include <stdint.h>

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "talk/base/asyncfile.h"
#include "talk/base/asyncsocket.h"
#include "talk/base/socketserver.h"

namespace talk_base {

enum DispatcherEvent {
  DE_READ = 0x0001,
  DE_WRITE = 0x0002,
  DE_CONNECT = 0x0004,
  DE_CLOSE = 0x0008,
  DE_ACCEPT = 0x0010,
};

class Dispatcher {
 public:
  virtual ~Dispatcher() {}
  virtual uint32_t GetRequestedEvents() = 0;
  // Called before OnEvent with the same events, under the server's lock.
  virtual void OnPreEvent(uint32_t ff) = 0;
  virtual void OnEvent(uint32_t ff, int err) = 0;
  virtual int GetDescriptor() = 0;
  // For a readable descriptor: whether the peer has closed it.
  virtual bool IsDescriptorClosed() = 0;
};

typedef void (*SignalHandlerFunction)(int signum);

class AsyncResolver;
class PhysicalSocketServer;
class SignalThread;

// A BSD socket over one IPv4 descriptor. Operations return what the system
// call returned and keep its errno (0 after a success) for GetError; a
// negative length is refused with EINVAL. Connect to a host name resolves
// it on a worker thread first and reports the outcome through
// SignalConnectEvent or SignalCloseEvent on the connecting thread.
//
// The enabled events say what the server's wait loop is to watch for; each
// reported event is disabled until the operation that consumes it (Recv,
// Send, Accept) enables it again. A plain PhysicalSocket is blocking and
// not registered with the server; a SocketDispatcher is.
class PhysicalSocket : public AsyncSocket, public sigslot::has_slots<> {
 public:
  explicit PhysicalSocket(PhysicalSocketServer* ss, int s = -1);
  ~PhysicalSocket() override;

  // Makes a new descriptor of |type| (SOCK_STREAM or SOCK_DGRAM), closing
  // the old one.
  virtual bool Create(int type);

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
  // Connects to a resolved address; 0 when connected or connecting.
  int DoConnect(const SocketAddress& addr);
  void OnResolveResult(SignalThread* thread);
  void EnableEvents(uint8_t events) { enabled_events_ |= events; }
  void DisableEvents(uint8_t events) { enabled_events_ &= ~events; }
  // Records errno as the last error; false for a negative length.
  bool CheckLength(int cb);

  PhysicalSocketServer* ss_;
  int s_;
  uint8_t enabled_events_;
  bool udp_;
  // Mutable: the address queries are const and record their errno too.
  mutable int error_;
  ConnState state_;
  AsyncResolver* resolver_;
};

// A non-blocking PhysicalSocket served by its server's wait loop.
class SocketDispatcher : public Dispatcher, public PhysicalSocket {
 public:
  explicit SocketDispatcher(PhysicalSocketServer* ss);
  // Wraps an open descriptor; Initialize registers it.
  SocketDispatcher(int s, PhysicalSocketServer* ss);
  ~SocketDispatcher() override;

  // Registers with the server and makes the descriptor non-blocking;
  // false when the descriptor is not open.
  bool Initialize();
  bool Create(int type) override;
  int Close() override;

  uint32_t GetRequestedEvents() override;
  void OnPreEvent(uint32_t ff) override;
  void OnEvent(uint32_t ff, int err) override;
  int GetDescriptor() override;
  bool IsDescriptorClosed() override;

 private:
  // Set while OnEvent emits: a receiver may delete this socket.
  bool* destroyed_ = nullptr;
};

// Owns a pipe whose read end becomes readable when Signal is called. The
// pipe ends are -1 when the pipe could not be made; Signal then does
// nothing, and the server's unlimited waits return now and then instead.
class EventDispatcher : public Dispatcher {
 public:
  explicit EventDispatcher(PhysicalSocketServer* ss);
  ~EventDispatcher() override;

  // Callable from any thread; at most one byte is ever pending.
  virtual void Signal();

  uint32_t GetRequestedEvents() override;
  void OnPreEvent(uint32_t ff) override;
  void OnEvent(uint32_t ff, int err) override;
  int GetDescriptor() override;
  bool IsDescriptorClosed() override;

 private:
  PhysicalSocketServer* ss_;
  int afd_[2];
  bool fSignaled_;
  std::recursive_mutex crit_;
};

// The wake-up dispatcher: when it fires it ends the server's current Wait.
class Signaler : public EventDispatcher {
 public:
  Signaler(PhysicalSocketServer* ss, bool* pf);
  void OnEvent(uint32_t ff, int err) override;

 private:
  bool* pf_;
};

// The process-wide signal pipe and the flags of the signals received.
// Made at library load; both pipe ends are non-blocking and close-on-exec.
class PosixSignalHandler {
 public:
  static const int kNumPosixSignals = 128;

  static PosixSignalHandler* Instance();

  // The asynchronous handler: marks |signum| and writes one byte to the
  // pipe. Numbers outside 0..127 are ignored.
  static void OnPosixSignalReceived(int signum);

  // Clears the flag of |signum| and returns whether it was set.
  bool TakeSignal(int signum);
  int GetDescriptor() const { return afd_[0].load(); }

 private:
  PosixSignalHandler();
  ~PosixSignalHandler();

  std::atomic<int> afd_[2];
  // Written by the asynchronous handler, possibly on another thread.
  std::atomic<sig_atomic_t> received_signal_[kNumPosixSignals];

  static_assert(std::atomic<sig_atomic_t>::is_always_lock_free,
                "the signal flags must be safe in a signal handler");
};

// Reads the signal pipe on the server's thread and runs the handlers of the
// signals that arrived.
class PosixSignalDispatcher : public Dispatcher {
 public:
  explicit PosixSignalDispatcher(PhysicalSocketServer* owner);
  ~PosixSignalDispatcher() override;

  uint32_t GetRequestedEvents() override;
  void OnPreEvent(uint32_t ff) override;
  void OnEvent(uint32_t ff, int err) override;
  int GetDescriptor() override;
  bool IsDescriptorClosed() override;

  void SetHandler(int signum, SignalHandlerFunction handler);
  void ClearHandler(int signum);
  bool HasHandlers() const { return !handlers_.empty(); }

 private:
  std::map<int, SignalHandlerFunction> handlers_;
  PhysicalSocketServer* owner_;
};

// A plain descriptor served by the server; it is not closed with the
// dispatcher.
class FileDispatcher : public Dispatcher, public AsyncFile {
 public:
  FileDispatcher(int fd, PhysicalSocketServer* ss);
  ~FileDispatcher() override;

  uint32_t GetRequestedEvents() override;
  void OnPreEvent(uint32_t ff) override;
  void OnEvent(uint32_t ff, int err) override;
  int GetDescriptor() override;
  bool IsDescriptorClosed() override;

  bool IsReadable() override;
  void SetReadable(bool value) override;
  bool IsWritable() override;
  void SetWritable(bool value) override;

 private:
  PhysicalSocketServer* ss_;
  int fd_;
  uint32_t flags_;
};

// Installs |handler| for |signum| with an empty mask and SA_RESTART.
bool InstallSignal(int signum, SignalHandlerFunction handler);

class PhysicalSocketServer : public SocketServer {
 public:
  PhysicalSocketServer();
  ~PhysicalSocketServer() override;

  // A blocking PhysicalSocket, or a SocketDispatcher served by this
  // server; null when no descriptor could be made. The caller owns it.
  Socket* CreateSocket(int type) override;
  AsyncSocket* CreateAsyncSocket(int type) override;
  // Serves an open descriptor (from accept) as a SocketDispatcher; null
  // when it is not open. The caller owns it.
  AsyncSocket* WrapSocket(int s);

  // Serves |fd| as a file that wants read readiness and makes it
  // non-blocking. The caller owns the result; null when |fd| is not open.
  AsyncFile* CreateFile(int fd);

  bool Wait(int cms, bool process_io) override;
  void WakeUp() override;

  // Appends |pdispatcher| unless it is already listed.
  void Add(Dispatcher* pdispatcher);
  // Erases |pdispatcher|; one that is not listed changes nothing.
  void Remove(Dispatcher* pdispatcher);
  // The length of the list; lets tests see that dispatchers leave it.
  size_t DispatcherCount();

  // Runs |handler| on the waiting thread for each |signum| received. SIG_DFL
  // and SIG_IGN are installed directly and drop the signal from this
  // server's table.
  virtual bool SetPosixSignalHandler(int signum, SignalHandlerFunction handler);

  PosixSignalDispatcher* GetSignalDispatcher() { return signal_dispatcher_; }

 private:
  PosixSignalDispatcher* signal_dispatcher_;
  std::vector<Dispatcher*> dispatchers_;
  Signaler* signal_wakeup_;
  std::recursive_mutex crit_;
  bool fWait_;
};

}  // namespace talk_base

#endif  // TALK_BASE_PHYSICALSOCKETSERVER_H_
