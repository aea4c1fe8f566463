#include "talk/base/physicalsocketserver.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "talk/base/thread.h"
#include "talk/base/timeutils.h"
#include "watchdog.h"

namespace talk_base {
namespace {

std::set<int> OpenDescriptors() {
  std::set<int> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return fds;
  const int own = dirfd(dir);
  while (struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const int fd = atoi(entry->d_name);
    if (fd != own) fds.insert(fd);
  }
  closedir(dir);
  return fds;
}

int ElapsedMs(uint32_t start) { return TimeDiff(Time(), start); }

// A dispatcher over any descriptor that records its events.
class TestDispatcher : public Dispatcher {
 public:
  TestDispatcher(int fd, uint32_t requested) : fd(fd), requested(requested) {}
  uint32_t GetRequestedEvents() override { return requested; }
  void OnPreEvent(uint32_t ff) override { pre.push_back(ff); }
  void OnEvent(uint32_t ff, int err) override {
    events.push_back(ff);
    errors.push_back(err);
    if (on_event) on_event();
  }
  int GetDescriptor() override { return fd; }
  bool IsDescriptorClosed() override {
    // The test of a socket dispatcher: a readable socket with nothing to
    // peek at has been closed by its peer.
    char ch;
    const ssize_t n = recv(fd, &ch, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && (errno == EBADF || errno == ECONNRESET));
  }

  int fd;
  uint32_t requested;
  std::vector<uint32_t> pre, events;
  std::vector<int> errors;
  std::function<void()> on_event;
};

class Pipe {
 public:
  Pipe() { EXPECT_EQ(0, pipe(fds_)); }
  ~Pipe() {
    Close(0);
    Close(1);
  }
  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  void Write(const char* text = "x") {
    EXPECT_EQ(static_cast<ssize_t>(strlen(text)),
              write(fds_[1], text, strlen(text)));
  }
  void Close(int end) {
    if (fds_[end] >= 0) close(fds_[end]);
    fds_[end] = -1;
  }

 private:
  int fds_[2];
};

class PhysicalSocketServerTest : public ::testing::Test {
 protected:
  Watchdog watchdog_{20};
  PhysicalSocketServer ss_;
};

TEST_F(PhysicalSocketServerTest, OnlyTheWakeUpDispatcherAtFirst) {
  EXPECT_EQ(1u, ss_.DispatcherCount());
  EXPECT_EQ(nullptr, ss_.GetSignalDispatcher());
}

TEST(PhysicalSocketServerPipes, WakeUpPipeIsCloseOnExecAndClosedWithTheServer) {
  const std::set<int> before = OpenDescriptors();
  std::set<int> added;
  {
    PhysicalSocketServer ss;
    for (int fd : OpenDescriptors()) {
      if (!before.count(fd)) added.insert(fd);
    }
    EXPECT_EQ(2u, added.size());
    for (int fd : added) {
      EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
    }
  }
  EXPECT_EQ(before, OpenDescriptors());
}

TEST(PhysicalSocketServerPipes, SignalPipeIsNonBlockingAndCloseOnExec) {
  const int fd = PosixSignalHandler::Instance()->GetDescriptor();
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
}

TEST_F(PhysicalSocketServerTest, WaitZeroPollsOnceAndReturnsTrue) {
  const uint32_t start = Time();
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_LT(ElapsedMs(start), 500);
}

TEST_F(PhysicalSocketServerTest, TimedWaitLastsItsTime) {
  const uint32_t start = Time();
  EXPECT_TRUE(ss_.Wait(40, true));
  EXPECT_GE(ElapsedMs(start), 39);
}

TEST_F(PhysicalSocketServerTest, WakeUpBeforeWaitMakesTheNextWaitReturnAtOnce) {
  ss_.WakeUp();
  ss_.WakeUp();
  ss_.WakeUp();
  const uint32_t start = Time();
  EXPECT_TRUE(ss_.Wait(MessageQueue::kForever, true));  // watchdog on a hang
  EXPECT_LT(ElapsedMs(start), 500);
  // The three wake-ups left one byte: the next wait sleeps its whole time.
  const uint32_t again = Time();
  EXPECT_TRUE(ss_.Wait(40, true));
  EXPECT_GE(ElapsedMs(again), 39);
}

TEST_F(PhysicalSocketServerTest, WakeUpFromAnotherThreadEndsAnUnlimitedWait) {
  Pipe readable;
  readable.Write();
  TestDispatcher file(readable.read_end(), DE_READ);
  file.on_event = [&] {
    char ch;
    EXPECT_EQ(1, read(readable.read_end(), &ch, 1));
  };
  ss_.Add(&file);
  std::thread waker([this] {
    Thread::SleepMs(30);
    ss_.WakeUp();
  });
  // Without I/O only the wake-up pipe counts: the readable pipe is ignored.
  EXPECT_TRUE(ss_.Wait(MessageQueue::kForever, false));
  waker.join();
  EXPECT_TRUE(file.events.empty());
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ((std::vector<uint32_t>{DE_READ}), file.events);
  ss_.Remove(&file);
}

TEST_F(PhysicalSocketServerTest, AddIsOnceAndRemovingAStrangerChangesNothing) {
  Pipe p;
  p.Write();  // left unread: d drops its interest once served
  TestDispatcher d(p.read_end(), DE_READ), stranger(p.read_end(), DE_READ);
  d.on_event = [&] { d.requested = 0; };
  ss_.Add(&d);
  ss_.Add(&d);
  EXPECT_EQ(2u, ss_.DispatcherCount());
  ss_.Remove(&stranger);
  EXPECT_EQ(2u, ss_.DispatcherCount());
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(1u, d.events.size());
  // One Remove takes it out for good.
  ss_.Remove(&d);
  d.requested = DE_READ;
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(1u, d.events.size());
  EXPECT_EQ(1u, ss_.DispatcherCount());
}

TEST_F(PhysicalSocketServerTest, WaitFailsOnAClosedDescriptorAndLogsSelect) {
  Pipe p;
  TestDispatcher stale(p.read_end(), DE_READ);
  p.Close(0);  // the dispatcher still names it
  ss_.Add(&stale);
  LogCapture log;
  // Without I/O the dispatcher takes no part.
  EXPECT_TRUE(ss_.Wait(0, false));
  EXPECT_TRUE(log.Lines("physicalsocketserver.cc").empty());
  EXPECT_FALSE(ss_.Wait(0, true));
  EXPECT_TRUE(stale.events.empty());
  EXPECT_EQ((std::vector<std::string>{"ERROR(physicalsocketserver.cc): select" +
                                      ErrnoSuffix(EBADF)}),
            log.Lines("physicalsocketserver.cc"));
  ss_.Remove(&stale);
}

TEST_F(PhysicalSocketServerTest, ReadAndWriteReadinessBecomeEvents) {
  Pipe p;
  p.Write("abc");
  TestDispatcher reader(p.read_end(), DE_READ);
  TestDispatcher writer(p.write_end(), DE_WRITE);
  TestDispatcher idle(p.read_end(), 0);
  ss_.Add(&reader);
  ss_.Add(&writer);
  ss_.Add(&idle);
  reader.on_event = [&] {
    char buf[8];
    EXPECT_EQ(3, read(p.read_end(), buf, sizeof(buf)));
  };
  writer.on_event = [&] { writer.requested = 0; };
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ((std::vector<uint32_t>{DE_READ}), reader.events);
  EXPECT_EQ((std::vector<uint32_t>{DE_READ}), reader.pre);
  EXPECT_EQ((std::vector<uint32_t>{DE_WRITE}), writer.events);
  EXPECT_EQ((std::vector<int>{0}), writer.errors);
  EXPECT_TRUE(idle.events.empty());
  ss_.Remove(&reader);
  ss_.Remove(&writer);
  ss_.Remove(&idle);
}

TEST_F(PhysicalSocketServerTest, DescriptorAbove1023IsServed) {
  struct rlimit limit;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
  static const int kHigh = 1500;
  if (limit.rlim_cur <= static_cast<rlim_t>(kHigh)) {
    struct rlimit raised = limit;
    raised.rlim_cur = std::min<rlim_t>(limit.rlim_max, kHigh + 1);
    if (raised.rlim_cur <= static_cast<rlim_t>(kHigh) ||
        setrlimit(RLIMIT_NOFILE, &raised) != 0) {
      GTEST_SKIP() << "cannot open descriptor " << kHigh;
    }
  }
  Pipe p;
  ASSERT_EQ(kHigh, dup2(p.read_end(), kHigh));
  std::unique_ptr<AsyncFile> file(ss_.CreateFile(kHigh));
  ASSERT_NE(nullptr, file);
  struct Reader : public sigslot::has_slots<> {
    void OnRead(AsyncFile*) {
      char ch;
      if (read(kHigh, &ch, 1) == 1) ++reads;
    }
    int reads = 0;
  } reader;
  file->SignalReadEvent.connect(&reader, &Reader::OnRead);
  p.Write();
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(1, reader.reads);
  file.reset();
  close(kHigh);
  setrlimit(RLIMIT_NOFILE, &limit);
}

struct FileEvents : public sigslot::has_slots<> {
  void OnRead(AsyncFile* f) { log.push_back('r'), file = f; }
  void OnWrite(AsyncFile* f) { log.push_back('w'), file = f; }
  void OnClose(AsyncFile* f, int) { log.push_back('c'), file = f; }
  std::string log;
  AsyncFile* file = nullptr;
};

TEST_F(PhysicalSocketServerTest, CreateFileServesADescriptorAsAnAsyncFile) {
  Pipe p;
  const int flags_before = fcntl(p.read_end(), F_GETFL);
  std::unique_ptr<AsyncFile> file(ss_.CreateFile(p.read_end()));
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(flags_before | O_NONBLOCK, fcntl(p.read_end(), F_GETFL));
  EXPECT_TRUE(file->IsReadable());
  EXPECT_FALSE(file->IsWritable());
  EXPECT_EQ(2u, ss_.DispatcherCount());

  FileEvents events;
  file->SignalReadEvent.connect(&events, &FileEvents::OnRead);
  file->SignalWriteEvent.connect(&events, &FileEvents::OnWrite);
  file->SignalCloseEvent.connect(&events, &FileEvents::OnClose);
  struct Drain : public sigslot::has_slots<> {
    void OnRead(AsyncFile*) {
      char ch;
      EXPECT_EQ(1, read(fd, &ch, 1));
    }
    int fd;
  } drain;
  drain.fd = p.read_end();
  file->SignalReadEvent.connect(&drain, &Drain::OnRead);
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ("", events.log);  // nothing to read yet
  p.Write();
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ("r", events.log);
  EXPECT_EQ(file.get(), events.file);
  file->SetReadable(false);
  p.Write();  // not wanted any more: left unread
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ("r", events.log);

  file.reset();
  EXPECT_EQ(1u, ss_.DispatcherCount());
  EXPECT_NE(-1, fcntl(p.read_end(), F_GETFL));  // not closed by the file
}

TEST_F(PhysicalSocketServerTest, CreateFileOfAClosedDescriptorFails) {
  Pipe p;
  const int fd = p.read_end();
  p.Close(0);
  EXPECT_EQ(nullptr, ss_.CreateFile(fd));
  EXPECT_EQ(1u, ss_.DispatcherCount());
}

TEST_F(PhysicalSocketServerTest, WritableFileReportsWrites) {
  Pipe p;
  std::unique_ptr<AsyncFile> file(ss_.CreateFile(p.write_end()));
  ASSERT_NE(nullptr, file);
  file->SetReadable(false);
  file->SetWritable(true);
  EXPECT_TRUE(file->IsWritable());
  EXPECT_FALSE(file->IsReadable());
  FileEvents events;
  file->SignalWriteEvent.connect(&events, &FileEvents::OnWrite);
  // A pipe stays writable: the receiver takes the interest back, or the
  // wait would go on serving it.
  struct StopAfterOne : public sigslot::has_slots<> {
    void OnWrite(AsyncFile* f) { f->SetWritable(false); }
  } stopper;
  file->SignalWriteEvent.connect(&stopper, &StopAfterOne::OnWrite);
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ("w", events.log);
}

TEST_F(PhysicalSocketServerTest, DispatchersMayRemoveOthersDuringTheWalk) {
  Pipe p;
  p.Write();
  TestDispatcher first(p.read_end(), DE_READ), second(p.read_end(), DE_READ);
  Pipe q;
  q.Write();
  TestDispatcher third(q.read_end(), DE_READ);
  ss_.Add(&first);
  ss_.Add(&second);
  ss_.Add(&third);
  first.on_event = [&] {
    ss_.Remove(&first);
    ss_.Remove(&second);
    char ch;
    EXPECT_EQ(1, read(p.read_end(), &ch, 1));
  };
  third.on_event = [&] {
    ss_.Remove(&third);
    char ch;
    EXPECT_EQ(1, read(q.read_end(), &ch, 1));
  };
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(1u, first.events.size());
  EXPECT_TRUE(second.events.empty());
  EXPECT_EQ(1u, third.events.size());
  EXPECT_EQ(1u, ss_.DispatcherCount());
}

// Sockets, all on 127.0.0.1.

class SocketEventsTest : public PhysicalSocketServerTest {
 protected:
  void TearDown() override {
    for (int fd : fds_) close(fd);
  }
  int Track(int fd) {
    fds_.push_back(fd);
    return fd;
  }
  int Listener(sockaddr_in* addr) {
    const int s = Track(socket(AF_INET, SOCK_STREAM, 0));
    *addr = {};
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(addr), sizeof(*addr)));
    socklen_t len = sizeof(*addr);
    EXPECT_EQ(0, getsockname(s, reinterpret_cast<sockaddr*>(addr), &len));
    EXPECT_EQ(0, listen(s, 4));
    return s;
  }
  int NonBlockingConnect(const sockaddr_in& addr) {
    const int s = Track(socket(AF_INET, SOCK_STREAM, 0));
    fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
    const int rc = connect(s, reinterpret_cast<const sockaddr*>(&addr),
                           sizeof(addr));
    EXPECT_TRUE(rc == 0 || errno == EINPROGRESS) << errno;
    return s;
  }
  // Serves in short waits until |d| has seen an event (a timed wait lasts
  // its whole time, events or not).
  void WaitForEvent(TestDispatcher* d) {
    for (int i = 0; i < 500 && d->events.empty(); ++i) {
      ASSERT_TRUE(ss_.Wait(10, true));
    }
    ASSERT_FALSE(d->events.empty());
  }

  std::vector<int> fds_;
};

TEST_F(SocketEventsTest, AcceptConnectAndPeerCloseOnLoopback) {
  sockaddr_in addr;
  const int listener = Listener(&addr);
  TestDispatcher accept_d(listener, DE_ACCEPT);
  ss_.Add(&accept_d);
  const int client = NonBlockingConnect(addr);
  TestDispatcher connect_d(client, DE_CONNECT);
  connect_d.on_event = [&] { connect_d.requested = 0; };
  accept_d.on_event = [&] { accept_d.requested = 0; };
  ss_.Add(&connect_d);
  WaitForEvent(&connect_d);
  WaitForEvent(&accept_d);
  EXPECT_EQ(static_cast<uint32_t>(DE_CONNECT), connect_d.events[0]);
  EXPECT_EQ(0, connect_d.errors[0]);
  EXPECT_EQ(static_cast<uint32_t>(DE_ACCEPT), accept_d.events[0]);

  const int server_side = Track(accept(listener, nullptr, nullptr));
  ASSERT_GE(server_side, 0);
  TestDispatcher reader(server_side, DE_READ);
  reader.on_event = [&] { reader.requested = 0; };
  ss_.Add(&reader);
  // The peer closes: readable, but it is a close, not data.
  shutdown(client, SHUT_RDWR);
  WaitForEvent(&reader);
  EXPECT_EQ(static_cast<uint32_t>(DE_CLOSE), reader.events[0]);
  ss_.Remove(&accept_d);
  ss_.Remove(&connect_d);
  ss_.Remove(&reader);
}

TEST_F(SocketEventsTest, DataOnASocketIsARead) {
  sockaddr_in addr;
  const int listener = Listener(&addr);
  const int client = NonBlockingConnect(addr);
  const int server_side = Track(accept(listener, nullptr, nullptr));
  ASSERT_GE(server_side, 0);
  TestDispatcher reader(server_side, DE_READ);
  reader.on_event = [&] { reader.requested = 0; };
  ss_.Add(&reader);
  ASSERT_EQ(1, send(client, "x", 1, 0));
  WaitForEvent(&reader);
  EXPECT_EQ(static_cast<uint32_t>(DE_READ), reader.events[0]);
  ss_.Remove(&reader);
}

TEST_F(SocketEventsTest, FailedConnectIsACloseWithTheSocketError) {
  // A port that nobody listens on: bind one, then let it go.
  sockaddr_in addr;
  close(Listener(&addr));
  fds_.pop_back();
  const int client = NonBlockingConnect(addr);
  TestDispatcher connect_d(client, DE_CONNECT | DE_READ);
  connect_d.on_event = [&] { connect_d.requested = 0; };
  ss_.Add(&connect_d);
  WaitForEvent(&connect_d);
  EXPECT_EQ(static_cast<uint32_t>(DE_CLOSE), connect_d.events[0]);
  EXPECT_EQ(ECONNREFUSED, connect_d.errors[0]);
  ss_.Remove(&connect_d);
}

// POSIX signals.

std::atomic<int> g_handled(0);
std::atomic<int> g_handled_signum(0);
std::atomic<pthread_t> g_handled_on;
void RecordSignal(int signum) {
  g_handled_signum = signum;
  g_handled_on = pthread_self();
  g_handled.fetch_add(1);
}

bool SignalPipeReadable() {
  struct pollfd p = {PosixSignalHandler::Instance()->GetDescriptor(), POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

class PosixSignalTest : public PhysicalSocketServerTest {
 protected:
  void SetUp() override { g_handled = 0; }
  void TearDown() override {
    // Back to the defaults; this also takes the dispatcher away.
    ss_.SetPosixSignalHandler(SIGUSR1, SIG_DFL);
    ss_.SetPosixSignalHandler(SIGUSR2, SIG_DFL);
    ss_.Wait(0, true);
  }
};

TEST_F(PosixSignalTest, RaisedSignalRunsItsHandlerOnTheWaitingThread) {
  ASSERT_TRUE(ss_.SetPosixSignalHandler(SIGUSR1, RecordSignal));
  ASSERT_NE(nullptr, ss_.GetSignalDispatcher());
  EXPECT_EQ(2u, ss_.DispatcherCount());
  ASSERT_EQ(0, raise(SIGUSR1));
  // The asynchronous handler only marked it and wrote to the pipe.
  EXPECT_EQ(0, g_handled.load());
  EXPECT_TRUE(SignalPipeReadable());
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(1, g_handled.load());
  EXPECT_EQ(SIGUSR1, g_handled_signum.load());
  EXPECT_TRUE(pthread_equal(pthread_self(), g_handled_on.load()));
  EXPECT_FALSE(SignalPipeReadable());
  // Its flag was taken: the pipe's next byte, for another signal, does not
  // run it again.
  PosixSignalHandler::OnPosixSignalReceived(SIGUSR2);
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(1, g_handled.load());
}

TEST_F(PosixSignalTest, SignalFromAnotherThreadWakesAnUnlimitedWait) {
  ASSERT_TRUE(ss_.SetPosixSignalHandler(SIGUSR1, RecordSignal));
  const pthread_t waiter = pthread_self();
  std::thread sender([waiter] {
    Thread::SleepMs(20);
    pthread_kill(waiter, SIGUSR1);
  });
  // The handler does not end the wait; a wake-up after it does.
  std::thread waker([this] {
    for (int i = 0; i < 2000 && g_handled.load() == 0; ++i) Thread::SleepMs(1);
    ss_.WakeUp();
  });
  EXPECT_TRUE(ss_.Wait(MessageQueue::kForever, true));
  sender.join();
  waker.join();
  EXPECT_EQ(1, g_handled.load());
}

TEST_F(PosixSignalTest, SignalWithoutAHandlerIsLoggedOnceAndNumbersFrom128Ignored) {
  ASSERT_TRUE(ss_.SetPosixSignalHandler(SIGUSR1, RecordSignal));
  LogCapture log;
  const std::vector<std::string> logged = {
      "INFO(physicalsocketserver.cc): Received signal with no handler: " +
      std::to_string(SIGUSR2)};
  PosixSignalHandler::OnPosixSignalReceived(SIGUSR2);  // not in the table
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(0, g_handled.load());
  EXPECT_EQ(logged, log.Lines("physicalsocketserver.cc"));
  // The flag went with it: the next signal is not reported again.
  PosixSignalHandler::OnPosixSignalReceived(SIGUSR1);
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(1, g_handled.load());
  EXPECT_EQ(logged, log.Lines("physicalsocketserver.cc"));

  PosixSignalHandler::OnPosixSignalReceived(128);
  PosixSignalHandler::OnPosixSignalReceived(-1);
  EXPECT_FALSE(SignalPipeReadable());
}

TEST_F(PosixSignalTest, AsynchronousHandlerKeepsErrnoAndSurvivesAFullPipe) {
  ASSERT_TRUE(ss_.SetPosixSignalHandler(SIGUSR1, RecordSignal));
  // Far more bytes than a pipe holds: the later writes fail.
  for (int i = 0; i < 200000; ++i) {
    errno = EDOM;
    PosixSignalHandler::OnPosixSignalReceived(SIGUSR1);
    ASSERT_EQ(EDOM, errno) << i;
  }
  // Wait(0) serves until nothing is ready, draining the pipe; the flag makes
  // one call.
  EXPECT_TRUE(ss_.Wait(0, true));
  EXPECT_EQ(1, g_handled.load());
  EXPECT_FALSE(SignalPipeReadable());
}

TEST_F(PosixSignalTest, DefaultForTheLastSignalRemovesTheDispatcher) {
  ASSERT_TRUE(ss_.SetPosixSignalHandler(SIGUSR1, RecordSignal));
  ASSERT_TRUE(ss_.SetPosixSignalHandler(SIGUSR2, RecordSignal));
  EXPECT_TRUE(ss_.SetPosixSignalHandler(SIGUSR1, SIG_DFL));
  EXPECT_NE(nullptr, ss_.GetSignalDispatcher());
  EXPECT_TRUE(ss_.SetPosixSignalHandler(SIGUSR2, SIG_IGN));
  EXPECT_EQ(nullptr, ss_.GetSignalDispatcher());
  EXPECT_EQ(1u, ss_.DispatcherCount());
  struct sigaction current;
  ASSERT_EQ(0, sigaction(SIGUSR2, nullptr, &current));
  EXPECT_EQ(SIG_IGN, current.sa_handler);
}

TEST_F(PosixSignalTest, ReadingAnEmptySignalPipeIsLogged) {
  ASSERT_TRUE(ss_.SetPosixSignalHandler(SIGUSR1, RecordSignal));
  EXPECT_TRUE(ss_.Wait(0, true));  // drains what earlier tests left
  ASSERT_FALSE(SignalPipeReadable());
  LogCapture log;
  ss_.GetSignalDispatcher()->OnPreEvent(DE_READ);  // a stale readiness
  EXPECT_EQ((std::vector<std::string>{
                "WARNING(physicalsocketserver.cc): Error in read()" +
                ErrnoSuffix(EAGAIN)}),
            log.Lines("physicalsocketserver.cc"));
}

TEST_F(PosixSignalTest, InstallSignalFailsForAnInvalidNumber) {
  LogCapture log;
  EXPECT_FALSE(InstallSignal(-5, RecordSignal));
  EXPECT_FALSE(ss_.SetPosixSignalHandler(SIGKILL, SIG_DFL));
  const std::string line =
      "ERROR(physicalsocketserver.cc): Couldn't set sigaction" +
      ErrnoSuffix(EINVAL);
  EXPECT_EQ((std::vector<std::string>{line, line}),
            log.Lines("physicalsocketserver.cc"));
}

TEST(PhysicalSocketServerNoPipe, ServerWithoutAWakeUpPipeStillWaits) {
  Watchdog watchdog(20);
  struct rlimit limit;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &limit));
  // Use up every descriptor under a low limit, so that the pipe fails.
  const std::set<int> open = OpenDescriptors();
  struct rlimit low = limit;
  low.rlim_cur = static_cast<rlim_t>(*open.rbegin() + 8);
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &low));
  LogCapture log;
  // Log once while descriptors are still free: the sanitizers' runtime needs
  // a pipe of its own the first time it checks a log line's stream.
  LOG(LS_INFO) << "before the descriptors run out";
  std::vector<int> fillers;
  for (int fd; (fd = dup(0)) >= 0;) fillers.push_back(fd);
  std::unique_ptr<PhysicalSocketServer> ss(new PhysicalSocketServer);
  for (int fd : fillers) close(fd);
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &limit));

  // Logged without an error context, unlike the signal pipe's failure.
  EXPECT_EQ((std::vector<std::string>{"ERROR(physicalsocketserver.cc): pipe failed"}),
            log.Lines("physicalsocketserver.cc"));
  EXPECT_EQ(1u, ss->DispatcherCount());  // registered all the same
  ss->WakeUp();                          // nothing to write to: harmless
  const uint32_t start = Time();
  EXPECT_TRUE(ss->Wait(20, true));
  EXPECT_GE(ElapsedMs(start), 19);
  // Nothing can wake it, so an unlimited wait must end by itself, or a
  // queue waiting on it could never be made to quit.
  EXPECT_TRUE(ss->Wait(MessageQueue::kForever, true));  // watchdog on a hang
}

TEST(PhysicalSocketServerQueue, MessageQueueWaitsAndIsWokenByAPost) {
  Watchdog watchdog(20);
  struct Handler : public MessageHandler {
    void OnMessage(Message*) override { ++count; }
    std::atomic<int> count{0};
  } handler;
  MessageQueue q;
  std::thread poster([&] {
    Thread::SleepMs(20);
    q.Post(&handler, 1);
  });
  Message msg;
  ASSERT_TRUE(q.Get(&msg, MessageQueue::kForever));
  q.Dispatch(&msg);
  poster.join();
  EXPECT_EQ(1, handler.count.load());
}

}  // namespace
}  // namespace talk_base
