#include "talk/base/physicalsocketserver.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

#include "talk/base/asyncresolver.h"
#include "talk/base/logging.h"

namespace talk_base {

namespace {

// The kernel's own mapping of poll results onto select's sets.
const short kReadSet = POLLIN | POLLHUP | POLLERR;
const short kWriteSet = POLLOUT | POLLERR;

int64_t MonotonicUs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// The longest a server without a wake-up pipe sleeps in an unlimited wait.
const int kUnwakeableWaitMs = 50;

// A pipe whose ends are not inherited by programs the process starts.
bool MakePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) == 0) return true;
  fds[0] = fds[1] = -1;
  return false;
}

}  // namespace

// EventDispatcher

EventDispatcher::EventDispatcher(PhysicalSocketServer* ss)
    : ss_(ss), fSignaled_(false) {
  if (!MakePipe(afd_)) {
    LOG(LS_ERROR) << "pipe failed";
  }
  ss_->Add(this);
}

EventDispatcher::~EventDispatcher() {
  ss_->Remove(this);
  if (afd_[0] >= 0) close(afd_[0]);
  if (afd_[1] >= 0) close(afd_[1]);
}

void EventDispatcher::Signal() {
  std::lock_guard<std::recursive_mutex> lock(crit_);
  if (fSignaled_ || afd_[1] < 0) return;
  const uint8_t b = 0;
  if (write(afd_[1], &b, sizeof(b)) == 1) fSignaled_ = true;
}

uint32_t EventDispatcher::GetRequestedEvents() { return DE_READ; }

void EventDispatcher::OnPreEvent(uint32_t) {
  std::lock_guard<std::recursive_mutex> lock(crit_);
  if (fSignaled_) {
    uint8_t b[4];
    ssize_t ignored = read(afd_[0], b, sizeof(b));
    (void)ignored;
    fSignaled_ = false;
  }
}

void EventDispatcher::OnEvent(uint32_t, int) {}

int EventDispatcher::GetDescriptor() { return afd_[0]; }

bool EventDispatcher::IsDescriptorClosed() { return false; }

// Signaler

Signaler::Signaler(PhysicalSocketServer* ss, bool* pf)
    : EventDispatcher(ss), pf_(pf) {}

void Signaler::OnEvent(uint32_t, int) {
  if (pf_) *pf_ = false;
}

// PosixSignalHandler

namespace {
std::atomic<PosixSignalHandler*> g_signal_handler(nullptr);
}  // namespace

PosixSignalHandler* PosixSignalHandler::Instance() {
  static PosixSignalHandler instance;
  return &instance;
}

PosixSignalHandler::PosixSignalHandler() {
  for (auto& flag : received_signal_) flag.store(0);
  int fds[2];
  if (!MakePipe(fds)) {
    LOG_ERRNO(LS_ERROR) << "pipe failed";
  } else {
    if (fcntl(fds[0], F_SETFL, O_NONBLOCK) < 0) {
      LOG_ERRNO(LS_WARNING) << "fcntl #1 failed";
    }
    if (fcntl(fds[1], F_SETFL, O_NONBLOCK) < 0) {
      LOG_ERRNO(LS_WARNING) << "fcntl #2 failed";
    }
  }
  afd_[0].store(fds[0]);
  afd_[1].store(fds[1]);
  g_signal_handler.store(this);
}

PosixSignalHandler::~PosixSignalHandler() {
  // Forget the descriptors before closing them, so that a late signal
  // cannot write into a descriptor that has been reused.
  g_signal_handler.store(nullptr);
  const int rd = afd_[0].exchange(-1);
  const int wr = afd_[1].exchange(-1);
  if (rd >= 0) close(rd);
  if (wr >= 0) close(wr);
}

void PosixSignalHandler::OnPosixSignalReceived(int signum) {
  PosixSignalHandler* self = g_signal_handler.load();
  if (!self || signum < 0 || signum >= kNumPosixSignals) return;
  const int saved_errno = errno;
  self->received_signal_[signum].store(1);
  const int wr = self->afd_[1].load();
  if (wr >= 0) {
    // A full pipe loses the byte, never the flag.
    const uint8_t b = 0;
    ssize_t ignored = write(wr, &b, sizeof(b));
    (void)ignored;
  }
  errno = saved_errno;
}

bool PosixSignalHandler::TakeSignal(int signum) {
  if (signum < 0 || signum >= kNumPosixSignals) return false;
  return received_signal_[signum].exchange(0) != 0;
}

// PosixSignalDispatcher

PosixSignalDispatcher::PosixSignalDispatcher(PhysicalSocketServer* owner)
    : owner_(owner) {
  owner_->Add(this);
}

PosixSignalDispatcher::~PosixSignalDispatcher() { owner_->Remove(this); }

uint32_t PosixSignalDispatcher::GetRequestedEvents() { return DE_READ; }

void PosixSignalDispatcher::OnPreEvent(uint32_t) {
  uint8_t b[16];
  ssize_t ret = read(GetDescriptor(), b, sizeof(b));
  if (ret < 0) {
    LOG_ERRNO(LS_WARNING) << "Error in read()";
  } else if (ret == 0) {
    LOG(LS_WARNING) << "Should have read at least one byte";
  }
}

void PosixSignalDispatcher::OnEvent(uint32_t, int) {
  PosixSignalHandler* signals = PosixSignalHandler::Instance();
  for (int signum = 0; signum < PosixSignalHandler::kNumPosixSignals;
       ++signum) {
    if (!signals->TakeSignal(signum)) continue;
    auto it = handlers_.find(signum);
    if (it != handlers_.end()) {
      it->second(signum);
    } else {
      LOG(LS_INFO) << "Received signal with no handler: " << signum;
    }
  }
}

int PosixSignalDispatcher::GetDescriptor() {
  return PosixSignalHandler::Instance()->GetDescriptor();
}

bool PosixSignalDispatcher::IsDescriptorClosed() { return false; }

void PosixSignalDispatcher::SetHandler(int signum,
                                       SignalHandlerFunction handler) {
  handlers_[signum] = handler;
}

void PosixSignalDispatcher::ClearHandler(int signum) {
  handlers_.erase(signum);
}

// FileDispatcher

FileDispatcher::FileDispatcher(int fd, PhysicalSocketServer* ss)
    : ss_(ss), fd_(fd), flags_(DE_READ) {}

FileDispatcher::~FileDispatcher() { ss_->Remove(this); }

uint32_t FileDispatcher::GetRequestedEvents() { return flags_; }

void FileDispatcher::OnPreEvent(uint32_t) {}

void FileDispatcher::OnEvent(uint32_t ff, int err) {
  if (ff & DE_READ) SignalReadEvent(this);
  if (ff & DE_WRITE) SignalWriteEvent(this);
  if (ff & DE_CLOSE) SignalCloseEvent(this, err);
}

int FileDispatcher::GetDescriptor() { return fd_; }

bool FileDispatcher::IsDescriptorClosed() { return false; }

bool FileDispatcher::IsReadable() { return (flags_ & DE_READ) != 0; }

void FileDispatcher::SetReadable(bool value) {
  flags_ = value ? (flags_ | DE_READ) : (flags_ & ~DE_READ);
}

bool FileDispatcher::IsWritable() { return (flags_ & DE_WRITE) != 0; }

void FileDispatcher::SetWritable(bool value) {
  flags_ = value ? (flags_ | DE_WRITE) : (flags_ & ~DE_WRITE);
}

// PhysicalSocket

namespace {

// Socket options and the (level, name) pairs they stand for.
const struct {
  SocketOption option;
  int level;
  int name;
} kSocketOptions[] = {
    {OPT_DONTFRAGMENT, IPPROTO_IP, IP_MTU_DISCOVER},
    {OPT_RCVBUF, SOL_SOCKET, SO_RCVBUF},
    {OPT_SNDBUF, SOL_SOCKET, SO_SNDBUF},
    {OPT_NODELAY, IPPROTO_TCP, TCP_NODELAY},
};

bool TranslateOption(SocketOption opt, int* slevel, int* sopt) {
  for (const auto& entry : kSocketOptions) {
    if (entry.option == opt) {
      *slevel = entry.level;
      *sopt = entry.name;
      return true;
    }
  }
  return false;
}

// The call would block, or a connect is under way.
bool IsBlockingError(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS; }

// Accept failures after which the next pending connection is still worth
// waiting for.
bool IsTransientAcceptError(int e) {
  switch (e) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return true;
    default:
      return false;
  }
}

}  // namespace

PhysicalSocket::PhysicalSocket(PhysicalSocketServer* ss, int s)
    : ss_(ss),
      s_(s),
      enabled_events_(0),
      udp_(false),
      error_(0),
      state_((s == -1) ? CS_CLOSED : CS_CONNECTED),
      resolver_(nullptr) {
  if (s_ != -1) {
    enabled_events_ = DE_READ | DE_WRITE;
    int type = SOCK_STREAM;
    socklen_t len = sizeof(type);
    if (getsockopt(s_, SOL_SOCKET, SO_TYPE, &type, &len) == 0) {
      udp_ = (type == SOCK_DGRAM);
    }
  }
}

PhysicalSocket::~PhysicalSocket() { PhysicalSocket::Close(); }

bool PhysicalSocket::Create(int type) {
  Close();
  errno = 0;
  s_ = ::socket(AF_INET, type, 0);
  udp_ = (type == SOCK_DGRAM);
  error_ = errno;
  if (udp_) enabled_events_ = DE_READ | DE_WRITE;
  return s_ != -1;
}

SocketAddress PhysicalSocket::GetLocalAddress() const {
  sockaddr_in addr;
  socklen_t addrlen = sizeof(addr);
  SocketAddress address;
  errno = 0;
  const int err = getsockname(s_, reinterpret_cast<sockaddr*>(&addr), &addrlen);
  error_ = errno;
  if (err >= 0) {
    address.FromSockAddr(addr);
  } else {
    LOG(LS_WARNING) << "GetLocalAddress: unable to get local addr, socket="
                    << s_;
  }
  return address;
}

SocketAddress PhysicalSocket::GetRemoteAddress() const {
  sockaddr_in addr;
  socklen_t addrlen = sizeof(addr);
  SocketAddress address;
  errno = 0;
  const int err = getpeername(s_, reinterpret_cast<sockaddr*>(&addr), &addrlen);
  error_ = errno;
  if (err >= 0) {
    address.FromSockAddr(addr);
  } else {
    LOG(LS_WARNING) << "GetRemoteAddress: unable to get remote addr, socket="
                    << s_;
  }
  return address;
}

int PhysicalSocket::Bind(const SocketAddress& addr) {
  sockaddr_in saddr;
  addr.ToSockAddr(&saddr);
  errno = 0;
  const int err =
      ::bind(s_, reinterpret_cast<sockaddr*>(&saddr), sizeof(saddr));
  error_ = errno;
  return err;
}

int PhysicalSocket::Connect(const SocketAddress& addr) {
  if (s_ == -1 && !Create(SOCK_STREAM)) return -1;
  if (!addr.IsUnresolvedIP()) return DoConnect(addr);

  if (state_ != CS_CLOSED) {
    SetError(EALREADY);
    return -1;
  }
  LOG(LS_VERBOSE) << "Resolving addr in PhysicalSocket::Connect";
  // A socket the peer closed is CS_CLOSED but may still hold the resolver
  // of its last connect.
  if (resolver_) {
    resolver_->Destroy(false);
    resolver_ = nullptr;
  }
  resolver_ = new AsyncResolver();
  resolver_->set_address(addr);
  resolver_->SignalWorkDone.connect(this, &PhysicalSocket::OnResolveResult);
  resolver_->Start();
  state_ = CS_CONNECTING;
  return 0;
}

int PhysicalSocket::DoConnect(const SocketAddress& addr) {
  sockaddr_in saddr;
  addr.ToSockAddr(&saddr);
  errno = 0;
  const int err =
      ::connect(s_, reinterpret_cast<sockaddr*>(&saddr), sizeof(saddr));
  error_ = errno;
  if (err == 0) {
    state_ = CS_CONNECTED;
  } else if (IsBlockingError(error_)) {
    state_ = CS_CONNECTING;
    EnableEvents(DE_CONNECT);
  } else {
    return -1;
  }
  EnableEvents(DE_READ | DE_WRITE);
  return 0;
}

void PhysicalSocket::OnResolveResult(SignalThread* thread) {
  if (thread != resolver_) return;
  int error = resolver_->error();
  if (error == 0) {
    if (DoConnect(resolver_->address()) == 0) {
      // The caller was told "connecting": an immediate connection is
      // reported like one that completes later.
      if (state_ == CS_CONNECTED) SignalConnectEvent(this);
      return;
    }
    error = -1;
  } else {
    Close();
  }
  SetError(error);
  SignalCloseEvent(this, error);
}

bool PhysicalSocket::CheckLength(int cb) {
  if (cb >= 0) return true;
  error_ = EINVAL;
  return false;
}

int PhysicalSocket::Send(const void* pv, int cb) {
  if (!CheckLength(cb)) return -1;
  errno = 0;
  const int sent = static_cast<int>(::send(s_, pv, cb, MSG_NOSIGNAL));
  error_ = errno;
  if (sent < 0 && IsBlockingError(error_)) EnableEvents(DE_WRITE);
  return sent;
}

int PhysicalSocket::SendTo(const void* pv, int cb, const SocketAddress& addr) {
  if (!CheckLength(cb)) return -1;
  sockaddr_in saddr;
  addr.ToSockAddr(&saddr);
  errno = 0;
  const int sent = static_cast<int>(
      ::sendto(s_, pv, cb, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&saddr),
               sizeof(saddr)));
  error_ = errno;
  if (sent < 0 && IsBlockingError(error_)) EnableEvents(DE_WRITE);
  return sent;
}

int PhysicalSocket::Recv(void* pv, int cb) {
  if (!CheckLength(cb)) return -1;
  errno = 0;
  const int received = static_cast<int>(::recv(s_, pv, cb, 0));
  if (received == 0 && cb != 0 && !udp_) {
    // The peer closed; the wait loop reports it as a close event.
    LOG(LS_WARNING) << "EOF from socket; deferring close event";
    EnableEvents(DE_READ);
    error_ = EAGAIN;
    return -1;
  }
  error_ = errno;
  const bool success = (received >= 0) || IsBlockingError(error_);
  if (udp_ || success) EnableEvents(DE_READ);
  if (!success) {
    LOG(LS_VERBOSE) << "Recv" << ": " << "Error = " << error_;
  }
  return received;
}

int PhysicalSocket::RecvFrom(void* pv, int cb, SocketAddress* paddr) {
  if (!CheckLength(cb)) return -1;
  sockaddr_in saddr;
  memset(&saddr, 0, sizeof(saddr));
  socklen_t cbAddr = sizeof(saddr);
  errno = 0;
  const int received = static_cast<int>(::recvfrom(
      s_, pv, cb, 0, reinterpret_cast<sockaddr*>(&saddr), &cbAddr));
  error_ = errno;
  if (received >= 0 && paddr) {
    // A stream socket names no sender: the length comes back 0.
    if (cbAddr < sizeof(saddr) || !paddr->FromSockAddr(saddr)) paddr->Clear();
  }
  const bool success = (received >= 0) || IsBlockingError(error_);
  if (udp_ || success) EnableEvents(DE_READ);
  if (!success) {
    LOG(LS_VERBOSE) << "RecvFrom" << ": " << "Error = " << error_;
  }
  return received;
}

int PhysicalSocket::Listen(int backlog) {
  errno = 0;
  const int err = ::listen(s_, backlog);
  error_ = errno;
  if (err == 0) {
    state_ = CS_CONNECTING;
    EnableEvents(DE_ACCEPT);
  }
  return err;
}

AsyncSocket* PhysicalSocket::Accept(SocketAddress* paddr) {
  sockaddr_in saddr;
  socklen_t cbAddr = sizeof(saddr);
  errno = 0;
  const int s = ::accept(s_, reinterpret_cast<sockaddr*>(&saddr), &cbAddr);
  error_ = errno;
  if (s == -1) {
    // Another connection may still be pending: keep listening for it.
    if (IsTransientAcceptError(error_)) EnableEvents(DE_ACCEPT);
    return nullptr;
  }
  EnableEvents(DE_ACCEPT);
  if (paddr) paddr->FromSockAddr(saddr);
  return ss_->WrapSocket(s);
}

int PhysicalSocket::Close() {
  if (s_ == -1) return 0;
  errno = 0;
  const int err = ::close(s_);
  error_ = errno;
  s_ = -1;
  state_ = CS_CLOSED;
  enabled_events_ = 0;
  if (resolver_) {
    resolver_->Destroy(false);
    resolver_ = nullptr;
  }
  return err;
}

int PhysicalSocket::GetError() const { return error_; }

void PhysicalSocket::SetError(int error) { error_ = error; }

ConnState PhysicalSocket::GetState() const { return state_; }

int PhysicalSocket::EstimateMTU(uint16_t* mtu) {
  const SocketAddress addr = GetRemoteAddress();
  if (addr.IsAnyIP()) {
    error_ = ENOTCONN;
    return -1;
  }
  int value = 0;
  socklen_t vlen = sizeof(value);
  errno = 0;
  const int err = getsockopt(s_, IPPROTO_IP, IP_MTU, &value, &vlen);
  if (err < 0) {
    error_ = errno;
    return err;
  }
  *mtu = static_cast<uint16_t>(value);
  return 0;
}

int PhysicalSocket::GetOption(SocketOption opt, int* value) {
  int slevel, sopt;
  if (!TranslateOption(opt, &slevel, &sopt)) return -1;
  socklen_t optlen = sizeof(*value);
  const int ret = getsockopt(s_, slevel, sopt, value, &optlen);
  if (ret != -1 && opt == OPT_DONTFRAGMENT) {
    *value = (*value != IP_PMTUDISC_DONT) ? 1 : 0;
  }
  return ret;
}

int PhysicalSocket::SetOption(SocketOption opt, int value) {
  int slevel, sopt;
  if (!TranslateOption(opt, &slevel, &sopt)) return -1;
  if (opt == OPT_DONTFRAGMENT) {
    value = value ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
  }
  errno = 0;
  const int ret = setsockopt(s_, slevel, sopt, &value, sizeof(value));
  error_ = errno;
  return ret;
}

// SocketDispatcher

SocketDispatcher::SocketDispatcher(PhysicalSocketServer* ss)
    : PhysicalSocket(ss) {}

SocketDispatcher::SocketDispatcher(int s, PhysicalSocketServer* ss)
    : PhysicalSocket(ss, s) {}

SocketDispatcher::~SocketDispatcher() {
  if (destroyed_) *destroyed_ = true;
  SocketDispatcher::Close();
}

bool SocketDispatcher::Initialize() {
  const int flags = (s_ == -1) ? -1 : fcntl(s_, F_GETFL, 0);
  if (flags < 0) return false;
  ss_->Add(this);
  fcntl(s_, F_SETFL, flags | O_NONBLOCK);
  return true;
}

bool SocketDispatcher::Create(int type) {
  if (!PhysicalSocket::Create(type)) return false;
  return Initialize();
}

int SocketDispatcher::Close() {
  if (s_ == -1) return 0;
  ss_->Remove(this);
  return PhysicalSocket::Close();
}

uint32_t SocketDispatcher::GetRequestedEvents() { return enabled_events_; }

void SocketDispatcher::OnPreEvent(uint32_t ff) {
  if (ff & DE_CONNECT) state_ = CS_CONNECTED;
  if (ff & DE_CLOSE) state_ = CS_CLOSED;
}

void SocketDispatcher::OnEvent(uint32_t ff, int err) {
  // A receiver may delete this socket; nothing is touched after that.
  bool destroyed = false;
  destroyed_ = &destroyed;
  if (ff & DE_READ) {
    DisableEvents(DE_READ);
    SignalReadEvent(this);
    if (destroyed) return;
  }
  if (ff & DE_WRITE) {
    DisableEvents(DE_WRITE);
    SignalWriteEvent(this);
    if (destroyed) return;
  }
  if (ff & DE_CONNECT) {
    DisableEvents(DE_CONNECT);
    SignalConnectEvent(this);
    if (destroyed) return;
  }
  if (ff & DE_ACCEPT) {
    DisableEvents(DE_ACCEPT);
    SignalReadEvent(this);
    if (destroyed) return;
  }
  if (ff & DE_CLOSE) {
    DisableEvents(0xFF);
    SignalCloseEvent(this, err);
    if (destroyed) return;
  }
  destroyed_ = nullptr;
}

int SocketDispatcher::GetDescriptor() { return s_; }

bool SocketDispatcher::IsDescriptorClosed() {
  // An empty datagram is a datagram, not a closed peer.
  if (udp_) return false;
  char ch;
  const ssize_t res = ::recv(s_, &ch, 1, MSG_PEEK | MSG_DONTWAIT);
  if (res > 0) return false;
  if (res == 0) return true;
  switch (errno) {
    case EBADF:
    case ECONNRESET:
      return true;
    default:
      LOG_ERRNO(LS_WARNING) << "Assuming benign blocking error";
      return false;
  }
}

// Signals

bool InstallSignal(int signum, SignalHandlerFunction handler) {
  struct sigaction act;
  memset(&act, 0, sizeof(act));
  if (sigemptyset(&act.sa_mask) != 0) {
    LOG_ERRNO(LS_ERROR) << "Couldn't set mask";
    return false;
  }
  act.sa_handler = handler;
  act.sa_flags = SA_RESTART;
  if (sigaction(signum, &act, nullptr) != 0) {
    LOG_ERRNO(LS_ERROR) << "Couldn't set sigaction";
    return false;
  }
  return true;
}

// PhysicalSocketServer

PhysicalSocketServer::PhysicalSocketServer()
    : signal_dispatcher_(nullptr), signal_wakeup_(nullptr), fWait_(false) {
  signal_wakeup_ = new Signaler(this, &fWait_);
}

PhysicalSocketServer::~PhysicalSocketServer() {
  delete signal_dispatcher_;
  delete signal_wakeup_;
}

Socket* PhysicalSocketServer::CreateSocket(int type) {
  PhysicalSocket* socket = new PhysicalSocket(this);
  if (socket->Create(type)) return socket;
  delete socket;
  return nullptr;
}

AsyncSocket* PhysicalSocketServer::CreateAsyncSocket(int type) {
  SocketDispatcher* dispatcher = new SocketDispatcher(this);
  if (dispatcher->Create(type)) return dispatcher;
  delete dispatcher;
  return nullptr;
}

AsyncSocket* PhysicalSocketServer::WrapSocket(int s) {
  SocketDispatcher* dispatcher = new SocketDispatcher(s, this);
  if (dispatcher->Initialize()) return dispatcher;
  delete dispatcher;
  return nullptr;
}

AsyncFile* PhysicalSocketServer::CreateFile(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return nullptr;
  FileDispatcher* file = new FileDispatcher(fd, this);
  Add(file);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  return file;
}

void PhysicalSocketServer::Add(Dispatcher* pdispatcher) {
  std::lock_guard<std::recursive_mutex> lock(crit_);
  if (std::find(dispatchers_.begin(), dispatchers_.end(), pdispatcher) ==
      dispatchers_.end()) {
    dispatchers_.push_back(pdispatcher);
  }
}

void PhysicalSocketServer::Remove(Dispatcher* pdispatcher) {
  std::lock_guard<std::recursive_mutex> lock(crit_);
  auto it = std::find(dispatchers_.begin(), dispatchers_.end(), pdispatcher);
  if (it != dispatchers_.end()) dispatchers_.erase(it);
}

size_t PhysicalSocketServer::DispatcherCount() {
  std::lock_guard<std::recursive_mutex> lock(crit_);
  return dispatchers_.size();
}

void PhysicalSocketServer::WakeUp() { signal_wakeup_->Signal(); }

bool PhysicalSocketServer::Wait(int cmsWait, bool process_io) {
  const bool limited = cmsWait != kForever;
  const int64_t stop_us =
      limited ? MonotonicUs() + static_cast<int64_t>(cmsWait) * 1000 : 0;
  // Without a wake-up pipe nothing could end an unlimited wait (not even a
  // Quit), so it returns now and then as if woken.
  const bool wakeable = signal_wakeup_->GetDescriptor() >= 0;
  int timeout_ms =
      limited ? std::max(cmsWait, 0) : (wakeable ? -1 : kUnwakeableWaitMs);

  std::vector<pollfd> fds;
  std::unordered_map<int, size_t> index;  // descriptor -> entry of fds

  fWait_ = true;
  while (fWait_) {
    fds.clear();
    index.clear();
    {
      std::lock_guard<std::recursive_mutex> lock(crit_);
      for (Dispatcher* pdispatcher : dispatchers_) {
        if (!process_io && pdispatcher != signal_wakeup_) continue;
        const int fd = pdispatcher->GetDescriptor();
        if (fd < 0) continue;
        const uint32_t ff = pdispatcher->GetRequestedEvents();
        short events = 0;
        if (ff & (DE_READ | DE_ACCEPT)) events |= POLLIN;
        if (ff & (DE_WRITE | DE_CONNECT)) events |= POLLOUT;
        if (!events) continue;
        auto found = index.find(fd);
        if (found == index.end()) {
          index[fd] = fds.size();
          fds.push_back(pollfd{fd, events, 0});
        } else {
          fds[found->second].events |= events;
        }
      }
    }

    const int n = poll(fds.data(), fds.size(), timeout_ms);
    if (n < 0) {
      if (errno != EINTR) {
        LOG_ERRNO(LS_ERROR) << "select";
        return false;
      }
    } else if (n == 0) {
      return true;
    } else {
      for (const pollfd& p : fds) {
        if (p.revents & POLLNVAL) {
          // A listed descriptor is not open: fail as select does.
          errno = EBADF;
          LOG_ERRNO(LS_ERROR) << "select";
          return false;
        }
      }
      std::lock_guard<std::recursive_mutex> lock(crit_);
      // By index, re-reading the list: handlers may add or remove
      // dispatchers while we walk.
      for (size_t i = 0; i < dispatchers_.size(); ++i) {
        Dispatcher* pdispatcher = dispatchers_[i];
        const int fd = pdispatcher->GetDescriptor();
        auto found = index.find(fd);
        if (fd < 0 || found == index.end()) continue;
        pollfd& p = fds[found->second];
        const bool readable = (p.events & POLLIN) && (p.revents & kReadSet);
        const bool writable = (p.events & POLLOUT) && (p.revents & kWriteSet);
        if (!readable && !writable) continue;

        int errcode = 0;
        socklen_t len = sizeof(errcode);
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &errcode, &len) != 0) {
          errcode = 0;
        }

        const uint32_t requested = pdispatcher->GetRequestedEvents();
        uint32_t ff = 0;
        if (readable) {
          p.events &= ~POLLIN;  // served: out of the read set
          if (requested & DE_ACCEPT) {
            ff |= DE_ACCEPT;
          } else if (errcode || pdispatcher->IsDescriptorClosed()) {
            ff |= DE_CLOSE;
          } else {
            ff |= DE_READ;
          }
        }
        if (writable) {
          p.events &= ~POLLOUT;  // served: out of the write set
          if (requested & DE_CONNECT) {
            ff |= errcode ? DE_CLOSE : DE_CONNECT;
          } else {
            ff |= DE_WRITE;
          }
        }
        if (ff) {
          pdispatcher->OnPreEvent(ff);
          pdispatcher->OnEvent(ff, errcode);
        }
      }
    }

    if (limited) {
      const int64_t left_us = stop_us - MonotonicUs();
      // Round up, so that the last fraction of a millisecond is slept
      // rather than polled for.
      timeout_ms = left_us > 0 ? static_cast<int>((left_us + 999) / 1000) : 0;
    }
  }
  return true;
}

bool PhysicalSocketServer::SetPosixSignalHandler(
    int signum, SignalHandlerFunction handler) {
  if (handler == SIG_DFL || handler == SIG_IGN) {
    if (!InstallSignal(signum, handler)) return false;
    if (signal_dispatcher_) {
      signal_dispatcher_->ClearHandler(signum);
      if (!signal_dispatcher_->HasHandlers()) {
        delete signal_dispatcher_;
        signal_dispatcher_ = nullptr;
      }
    }
    return true;
  }
  if (!signal_dispatcher_) {
    signal_dispatcher_ = new PosixSignalDispatcher(this);
  }
  signal_dispatcher_->SetHandler(signum, handler);
  return InstallSignal(signum, &PosixSignalHandler::OnPosixSignalReceived);
}

}  // namespace talk_base
