// Physical sockets over loopback (127.0.0.1) only, driven by the current
// thread's socket server through its message loop. Host names go through
// the lookup seam; nothing asks a name server.
#include <dirent.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "talk/base/nethelpers.h"
#include "talk/base/physicalsocketserver.h"
#include "talk/base/thread.h"
#include "talk/base/timeutils.h"
#include "watchdog.h"

namespace talk_base {
namespace {

// Records the signals of the sockets it is connected to.
struct Events : public sigslot::has_slots<> {
  void Watch(AsyncSocket* s) {
    s->SignalReadEvent.connect(this, &Events::OnRead);
    s->SignalWriteEvent.connect(this, &Events::OnWrite);
    s->SignalConnectEvent.connect(this, &Events::OnConnect);
    s->SignalCloseEvent.connect(this, &Events::OnClose);
  }
  void OnRead(AsyncSocket*) { ++reads; }
  void OnWrite(AsyncSocket*) { ++writes; }
  void OnConnect(AsyncSocket*) { ++connects; }
  void OnClose(AsyncSocket*, int err) {
    ++closes;
    close_error = err;
  }
  int reads = 0, writes = 0, connects = 0, closes = 0, close_error = -99;
};

const SocketAddress kLoopback("127.0.0.1", 0);

class PhysicalSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    thread_ = Thread::Current();
    ASSERT_NE(nullptr, thread_);
    ss_ = dynamic_cast<PhysicalSocketServer*>(thread_->socketserver());
    ASSERT_NE(nullptr, ss_);
    base_count_ = ss_->DispatcherCount();
  }
  void TearDown() override {
    sockets_.clear();
    EXPECT_EQ(base_count_, ss_->DispatcherCount());
    SetGetHostByNameForTesting(nullptr);
  }

  AsyncSocket* Keep(AsyncSocket* s) {
    sockets_.emplace_back(s);
    return s;
  }
  AsyncSocket* Make(int type) {
    AsyncSocket* s = ss_->CreateAsyncSocket(type);
    EXPECT_NE(nullptr, s);
    return Keep(s);
  }
  AsyncSocket* Listener() {
    AsyncSocket* s = Make(SOCK_STREAM);
    EXPECT_EQ(0, s->Bind(kLoopback));
    EXPECT_EQ(0, s->Listen(5));
    EXPECT_EQ(CS_CONNECTING, s->GetState());
    return s;
  }
  // Runs the loop until |done| or 5 s.
  template <class Pred>
  bool Serve(Pred done) {
    const uint32_t end = TimeAfter(5000);
    while (!done()) {
      if (TimeDiff(end, Time()) < 0) return false;
      thread_->ProcessMessages(5);
    }
    return true;
  }
  // A connected pair: the client and the accepted socket.
  void Connected(AsyncSocket** client, AsyncSocket** server,
                 Events* client_events, Events* server_events) {
    AsyncSocket* listener = Listener();
    Events accepts;
    accepts.Watch(listener);
    *client = Make(SOCK_STREAM);
    client_events->Watch(*client);
    ASSERT_EQ(0, (*client)->Connect(listener->GetLocalAddress()));
    ASSERT_TRUE(Serve([&] { return accepts.reads > 0; }));
    SocketAddress peer;
    *server = Keep(listener->Accept(&peer));
    ASSERT_NE(nullptr, *server);
    server_events->Watch(*server);
    ASSERT_TRUE(Serve([&] { return (*client)->GetState() == CS_CONNECTED; }));
    EXPECT_EQ((*client)->GetLocalAddress(), peer);
  }

  Thread* thread_ = nullptr;
  PhysicalSocketServer* ss_ = nullptr;
  size_t base_count_ = 0;
  std::vector<std::unique_ptr<AsyncSocket>> sockets_;
  Watchdog watchdog_{30};
};

TEST_F(PhysicalSocketTest, TcpConnectAcceptSendAndReceive) {
  AsyncSocket *client, *server;
  Events ce, se;
  Connected(&client, &server, &ce, &se);
  EXPECT_EQ(1, ce.connects);
  EXPECT_EQ(CS_CONNECTED, server->GetState());
  EXPECT_EQ(server->GetLocalAddress(), client->GetRemoteAddress());

  ASSERT_EQ(5, client->Send("hello", 5));
  EXPECT_EQ(0, client->GetError());
  ASSERT_TRUE(Serve([&] { return se.reads > 0; }));
  char buf[16];
  ASSERT_EQ(5, server->Recv(buf, sizeof(buf)));
  EXPECT_EQ("hello", std::string(buf, 5));
  EXPECT_EQ(0, server->GetError());

  ASSERT_EQ(3, server->Send("hey", 3));
  ASSERT_TRUE(Serve([&] { return ce.reads > 0; }));
  SocketAddress from;
  ASSERT_EQ(3, client->RecvFrom(buf, sizeof(buf), &from));
  EXPECT_EQ("hey", std::string(buf, 3));
  // With data waiting, a read of nothing is a plain success, not an end.
  ASSERT_EQ(1, server->Send("!", 1));
  ASSERT_TRUE(Serve([&] { return ce.reads > 1; }));
  EXPECT_EQ(0, client->Recv(buf, 0));
  EXPECT_EQ(0, client->GetError());
  ASSERT_EQ(1, client->Recv(buf, sizeof(buf)));
}

// A stream socket names no sender: RecvFrom hands back the cleared address
// rather than whatever its own buffer held.
TEST_F(PhysicalSocketTest, RecvFromOnAStreamSocketNamesNoSender) {
  AsyncSocket *client, *server;
  Events ce, se;
  Connected(&client, &server, &ce, &se);
  ASSERT_EQ(3, server->Send("hey", 3));
  ASSERT_TRUE(Serve([&] { return ce.reads > 0; }));
  SocketAddress from("1.2.3.4", 5);
  char buf[16];
  ASSERT_EQ(3, client->RecvFrom(buf, sizeof(buf), &from));
  EXPECT_EQ("hey", std::string(buf, 3));
  EXPECT_TRUE(from.IsNil()) << from.ToString();
}

TEST_F(PhysicalSocketTest, EventsAreOneShotUntilConsumed) {
  AsyncSocket *client, *server;
  Events ce, se;
  Connected(&client, &server, &ce, &se);
  ASSERT_EQ(1, client->Send("a", 1));
  ASSERT_TRUE(Serve([&] { return se.reads > 0; }));
  ASSERT_EQ(1, client->Send("b", 1));
  thread_->ProcessMessages(50);
  EXPECT_EQ(1, se.reads);  // not reported again before a Recv
  char buf[4];
  ASSERT_EQ(2, server->Recv(buf, sizeof(buf)));
  // Nothing left: the call would block, and the read event is armed again.
  EXPECT_EQ(-1, server->Recv(buf, sizeof(buf)));
  EXPECT_EQ(EAGAIN, server->GetError());
  ASSERT_EQ(1, client->Send("c", 1));
  ASSERT_TRUE(Serve([&] { return se.reads == 2; }));
}

TEST_F(PhysicalSocketTest, CloseFromEitherSide) {
  for (bool client_closes : {true, false}) {
    SCOPED_TRACE(client_closes);
    AsyncSocket *client, *server;
    Events ce, se;
    Connected(&client, &server, &ce, &se);
    AsyncSocket* closer = client_closes ? client : server;
    AsyncSocket* other = client_closes ? server : client;
    Events& other_events = client_closes ? se : ce;
    EXPECT_EQ(0, closer->Close());
    EXPECT_EQ(CS_CLOSED, closer->GetState());
    EXPECT_EQ(0, closer->Close());  // a second close does nothing
    // Reading the end of the stream is not an end: the loop reports it.
    ASSERT_TRUE(Serve([&] { return other_events.closes > 0; }));
    EXPECT_EQ(0, other_events.close_error);
    EXPECT_EQ(CS_CLOSED, other->GetState());
    LogCapture capture;
    char buf[4];
    EXPECT_EQ(-1, other->Recv(buf, sizeof(buf)));
    EXPECT_EQ(EAGAIN, other->GetError());
    EXPECT_EQ(std::vector<std::string>{
                  "WARNING(physicalsocketserver.cc): EOF from socket; "
                  "deferring close event"},
              capture.Lines("physicalsocketserver.cc"));
    sockets_.clear();
  }
}

TEST_F(PhysicalSocketTest, EveryPendingConnectionIsReported) {
  AsyncSocket* listener = Listener();
  Events accepts;
  accepts.Watch(listener);
  AsyncSocket* a = Make(SOCK_STREAM);
  AsyncSocket* b = Make(SOCK_STREAM);
  ASSERT_EQ(0, a->Connect(listener->GetLocalAddress()));
  ASSERT_EQ(0, b->Connect(listener->GetLocalAddress()));
  ASSERT_TRUE(Serve([&] { return accepts.reads == 1; }));
  ASSERT_NE(nullptr, Keep(listener->Accept(nullptr)));
  ASSERT_TRUE(Serve([&] { return accepts.reads == 2; }));
  ASSERT_NE(nullptr, Keep(listener->Accept(nullptr)));
  // Nothing pending: a failure that keeps the listener listening.
  SocketAddress peer("untouched", 1);
  EXPECT_EQ(nullptr, listener->Accept(&peer));
  EXPECT_EQ(EAGAIN, listener->GetError());
  EXPECT_EQ("untouched", peer.hostname());
  AsyncSocket* c = Make(SOCK_STREAM);
  ASSERT_EQ(0, c->Connect(listener->GetLocalAddress()));
  ASSERT_TRUE(Serve([&] { return accepts.reads == 3; }));
}

TEST_F(PhysicalSocketTest, UdpDatagramsIncludingAnEmptyOne) {
  AsyncSocket* a = Make(SOCK_DGRAM);
  AsyncSocket* b = Make(SOCK_DGRAM);
  ASSERT_EQ(0, a->Bind(kLoopback));
  ASSERT_EQ(0, b->Bind(kLoopback));
  Events be;
  be.Watch(b);
  const SocketAddress to = b->GetLocalAddress();
  ASSERT_EQ(4, a->SendTo("ping", 4, to));
  ASSERT_TRUE(Serve([&] { return be.reads == 1; }));
  char buf[16];
  SocketAddress from;
  ASSERT_EQ(4, b->RecvFrom(buf, sizeof(buf), &from));
  EXPECT_EQ("ping", std::string(buf, 4));
  EXPECT_EQ(a->GetLocalAddress(), from);

  // An empty datagram is read, not taken for a closed peer.
  ASSERT_EQ(0, a->SendTo("", 0, to));
  ASSERT_TRUE(Serve([&] { return be.reads == 2 || be.closes > 0; }));
  EXPECT_EQ(0, be.closes);
  EXPECT_EQ(0, b->Recv(buf, sizeof(buf)));
  EXPECT_EQ(0, b->GetError());
  EXPECT_EQ(CS_CLOSED, b->GetState());  // never connected

  // Connected datagram sockets use Send and Recv.
  ASSERT_EQ(0, a->Connect(to));
  EXPECT_EQ(CS_CONNECTED, a->GetState());
  ASSERT_EQ(2, a->Send("hi", 2));
  ASSERT_TRUE(Serve([&] { return be.reads == 3; }));
  ASSERT_EQ(2, b->Recv(buf, sizeof(buf)));
}

TEST_F(PhysicalSocketTest, NegativeLengthsAreRefused) {
  AsyncSocket* s = Make(SOCK_DGRAM);
  ASSERT_EQ(0, s->Bind(kLoopback));
  char buf[4];
  SocketAddress addr;
  const int results[] = {
      s->Send(buf, -1), s->SendTo(buf, -1, s->GetLocalAddress()),
      s->Recv(buf, -1), s->RecvFrom(buf, -1, &addr)};
  for (int r : results) EXPECT_EQ(-1, r);
  EXPECT_EQ(EINVAL, s->GetError());
  // A later success records no error.
  EXPECT_EQ(1, s->SendTo("x", 1, s->GetLocalAddress()));
  EXPECT_EQ(0, s->GetError());
}

TEST_F(PhysicalSocketTest, Options) {
  AsyncSocket* s = Make(SOCK_STREAM);
  int value = -1;
  const struct {
    SocketOption option;
    int set;
    int expected;
  } kCases[] = {
      {OPT_NODELAY, 1, 1},       {OPT_NODELAY, 0, 0},
      {OPT_DONTFRAGMENT, 1, 1},  {OPT_DONTFRAGMENT, 0, 0},
      {OPT_DONTFRAGMENT, 7, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.option);
    ASSERT_EQ(0, s->SetOption(c.option, c.set));
    EXPECT_EQ(0, s->GetError());
    ASSERT_EQ(0, s->GetOption(c.option, &value));
    EXPECT_EQ(c.expected, value);
  }
  ASSERT_EQ(0, s->SetOption(OPT_RCVBUF, 8192));
  ASSERT_EQ(0, s->GetOption(OPT_RCVBUF, &value));
  EXPECT_GE(value, 8192);
  ASSERT_EQ(0, s->GetOption(OPT_SNDBUF, &value));
  EXPECT_GT(value, 0);
  EXPECT_EQ(-1, s->SetOption(static_cast<SocketOption>(99), 1));
  EXPECT_EQ(-1, s->GetOption(static_cast<SocketOption>(99), &value));
}

TEST_F(PhysicalSocketTest, EstimateMTU) {
  LogCapture capture;
  AsyncSocket* lone = Make(SOCK_STREAM);
  uint16_t mtu = 7;
  EXPECT_EQ(-1, lone->EstimateMTU(&mtu));
  EXPECT_EQ(ENOTCONN, lone->GetError());
  EXPECT_EQ(7, mtu);
  AsyncSocket *client, *server;
  Events ce, se;
  Connected(&client, &server, &ce, &se);
  EXPECT_EQ(0, client->EstimateMTU(&mtu));
}

TEST_F(PhysicalSocketTest, AddressesOfAnUnconnectedSocketAreClearedAndLogged) {
  LogCapture capture;
  AsyncSocket* s = Make(SOCK_STREAM);
  // The queries keep their errno like every other call.
  s->SetError(0);
  EXPECT_TRUE(s->GetRemoteAddress().IsNil());
  EXPECT_EQ(ENOTCONN, s->GetError());
  s->GetLocalAddress();  // an unbound socket still has one
  EXPECT_EQ(0, s->GetError());
  s->Close();
  EXPECT_TRUE(s->GetLocalAddress().IsNil());
  EXPECT_EQ(EBADF, s->GetError());
  const std::vector<std::string> lines = capture.Lines("physicalsocketserver.cc");
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(0u, lines[0].find("WARNING(physicalsocketserver.cc): "
                              "GetRemoteAddress: unable to get remote addr, "
                              "socket="));
  EXPECT_EQ("WARNING(physicalsocketserver.cc): GetLocalAddress: unable to get "
            "local addr, socket=-1",
            lines[1]);
}

TEST_F(PhysicalSocketTest, ServerMakesAndWrapsSockets) {
  std::unique_ptr<Socket> blocking(ss_->CreateSocket(SOCK_STREAM));
  ASSERT_NE(nullptr, blocking);
  EXPECT_EQ(base_count_, ss_->DispatcherCount());  // not served by the loop
  EXPECT_EQ(nullptr, ss_->CreateSocket(12345));
  EXPECT_EQ(nullptr, ss_->CreateAsyncSocket(12345));
  EXPECT_EQ(nullptr, ss_->WrapSocket(-1));

  AsyncSocket* async = Make(SOCK_STREAM);
  EXPECT_EQ(base_count_ + 1, ss_->DispatcherCount());
  async->Close();
  async->Close();
  EXPECT_EQ(base_count_, ss_->DispatcherCount());

  // A socket without a descriptor makes a stream socket to connect.
  AsyncSocket* listener = Listener();
  AsyncSocket* fresh = Keep(new SocketDispatcher(ss_));
  Events fe;
  fe.Watch(fresh);
  ASSERT_EQ(0, fresh->Connect(listener->GetLocalAddress()));
  ASSERT_TRUE(Serve([&] { return fresh->GetState() == CS_CONNECTED; }));

  // A blocking socket talks to the loop's sockets too.
  ASSERT_EQ(0, blocking->Connect(listener->GetLocalAddress()));
  EXPECT_EQ(CS_CONNECTED, blocking->GetState());
  AsyncSocket* first = Keep(listener->Accept(nullptr));
  ASSERT_NE(nullptr, first);
  ASSERT_EQ(0, blocking->Close());
}

// Names go through the lookup seam.

int LoopbackLookup(const char* name, hostent* ret, char* buf, size_t,
                   hostent** result, int* herr) {
  char** list = reinterpret_cast<char**>(buf);
  char* addr = buf + 2 * sizeof(char*);
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  memcpy(addr, &loopback, 4);
  list[0] = addr;
  list[1] = nullptr;
  ret->h_name = const_cast<char*>(name);
  ret->h_aliases = nullptr;
  ret->h_addrtype = AF_INET;
  ret->h_length = 4;
  ret->h_addr_list = list;
  *result = ret;
  *herr = 0;
  return 0;
}

int NoSuchHost(const char*, hostent*, char*, size_t, hostent** result,
               int* herr) {
  *result = nullptr;
  *herr = HOST_NOT_FOUND;
  return 0;
}

TEST_F(PhysicalSocketTest, ConnectToANameResolvesOnASignalThread) {
  SetGetHostByNameForTesting(&LoopbackLookup);
  AsyncSocket* listener = Listener();
  AsyncSocket* client = Make(SOCK_STREAM);
  Events ce;
  ce.Watch(client);
  const SocketAddress named("loopback.test", listener->GetLocalAddress().GetPort());
  ASSERT_EQ(0, client->Connect(named));
  EXPECT_EQ(CS_CONNECTING, client->GetState());
  // Already on its way: a second name is refused.
  EXPECT_EQ(-1, client->Connect(named));
  EXPECT_EQ(EALREADY, client->GetError());
  ASSERT_TRUE(Serve([&] { return ce.connects > 0 || ce.closes > 0; }));
  EXPECT_EQ(1, ce.connects);
  EXPECT_EQ(CS_CONNECTED, client->GetState());
  EXPECT_EQ("127.0.0.1", client->GetRemoteAddress().GetIPAddress().ToString());
}

TEST_F(PhysicalSocketTest, ImmediateConnectAfterResolutionIsReported) {
  SetGetHostByNameForTesting(&LoopbackLookup);
  AsyncSocket* peer = Make(SOCK_DGRAM);
  ASSERT_EQ(0, peer->Bind(kLoopback));
  // A datagram socket connects at once, without a select round.
  AsyncSocket* client = Make(SOCK_DGRAM);
  Events ce;
  ce.Watch(client);
  ASSERT_EQ(0, client->Connect(
                   SocketAddress("loopback.test", peer->GetLocalAddress().GetPort())));
  ASSERT_TRUE(Serve([&] { return ce.connects > 0 || ce.closes > 0; }));
  EXPECT_EQ(1, ce.connects);
  EXPECT_EQ(CS_CONNECTED, client->GetState());
}

TEST_F(PhysicalSocketTest, UnresolvableNameClosesWithTheResolverError) {
  SetGetHostByNameForTesting(&NoSuchHost);
  AsyncSocket* client = Make(SOCK_STREAM);
  Events ce;
  ce.Watch(client);
  ASSERT_EQ(0, client->Connect(SocketAddress("nowhere.test", 80)));
  ASSERT_TRUE(Serve([&] { return ce.closes > 0; }));
  EXPECT_EQ(HOST_NOT_FOUND, ce.close_error);
  EXPECT_EQ(HOST_NOT_FOUND, client->GetError());
  EXPECT_EQ(CS_CLOSED, client->GetState());
  EXPECT_EQ(0, ce.connects);
}

TEST_F(PhysicalSocketTest, SocketClosedWhileResolvingReportsNothing) {
  SetGetHostByNameForTesting(&LoopbackLookup);
  AsyncSocket* client = Make(SOCK_STREAM);
  Events ce;
  ce.Watch(client);
  ASSERT_EQ(0, client->Connect(SocketAddress("loopback.test", 9)));
  EXPECT_EQ(0, client->Close());
  thread_->ProcessMessages(100);
  EXPECT_EQ(0, ce.connects + ce.closes);
  // And destroyed while resolving, too.
  AsyncSocket* other = ss_->CreateAsyncSocket(SOCK_STREAM);
  ASSERT_EQ(0, other->Connect(SocketAddress("loopback.test", 9)));
  delete other;
  thread_->ProcessMessages(100);
}

// The descriptors this process has open.
int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (readdir(dir)) ++count;
  closedir(dir);
  return count;
}

// After the peer closed, the socket is closed but still holds the resolver
// of its first connect; a second connect by name must let it go. Each
// resolver's worker has a socket server with a wake-up pipe, so one that is
// kept shows as two more open descriptors (and as a leak at exit).
TEST_F(PhysicalSocketTest, SecondConnectByNameAfterThePeerClosedFreesTheFirstResolver) {
  SetGetHostByNameForTesting(&LoopbackLookup);
  AsyncSocket* listener = Listener();
  Events accepts;
  accepts.Watch(listener);
  AsyncSocket* client = Make(SOCK_STREAM);
  Events ce;
  ce.Watch(client);
  const SocketAddress named("loopback.test", listener->GetLocalAddress().GetPort());
  ASSERT_EQ(0, client->Connect(named));
  ASSERT_TRUE(Serve([&] { return ce.connects + ce.closes > 0; }));
  ASSERT_EQ(CS_CONNECTED, client->GetState());
  ASSERT_TRUE(Serve([&] { return accepts.reads > 0; }));
  std::unique_ptr<AsyncSocket> peer(listener->Accept(nullptr));
  ASSERT_NE(nullptr, peer);
  peer.reset();
  ASSERT_TRUE(Serve([&] { return ce.closes > 0; }));
  ASSERT_EQ(CS_CLOSED, client->GetState());

  const int before = OpenDescriptors();
  ASSERT_GT(before, 0);
  ASSERT_EQ(0, client->Connect(named));
  EXPECT_EQ(CS_CONNECTING, client->GetState());
  // The descriptor still belongs to the first connection, so the connect
  // after the resolution fails; the resolution is what counts here.
  ASSERT_TRUE(Serve([&] { return ce.connects + ce.closes > 2; }));
  EXPECT_EQ(before, OpenDescriptors());
}

TEST_F(PhysicalSocketTest, FailedConnectIsACloseWithTheSocketError) {
  // A port that nobody listens on: bind one, then let it go.
  AsyncSocket* gone = Make(SOCK_STREAM);
  ASSERT_EQ(0, gone->Bind(kLoopback));
  const SocketAddress addr = gone->GetLocalAddress();
  gone->Close();
  AsyncSocket* client = Make(SOCK_STREAM);
  Events ce;
  ce.Watch(client);
  const int rc = client->Connect(addr);
  if (rc == 0) {
    ASSERT_TRUE(Serve([&] { return ce.closes > 0; }));
    EXPECT_EQ(ECONNREFUSED, ce.close_error);
    EXPECT_EQ(CS_CLOSED, client->GetState());
  } else {
    EXPECT_EQ(ECONNREFUSED, client->GetError());
  }
}

// A receiver may delete the socket from inside a signal.
struct Deleter : public sigslot::has_slots<> {
  void OnRead(AsyncSocket* s) {
    delete s;
    ++deleted;
  }
  int deleted = 0;
};

TEST_F(PhysicalSocketTest, ReceiverMayDeleteTheSocketInsideAnEvent) {
  AsyncSocket* a = Make(SOCK_DGRAM);
  ASSERT_EQ(0, a->Bind(kLoopback));
  AsyncSocket* b = ss_->CreateAsyncSocket(SOCK_DGRAM);
  ASSERT_EQ(0, b->Bind(kLoopback));
  Deleter deleter;
  b->SignalReadEvent.connect(&deleter, &Deleter::OnRead);
  // Readable and writable in the same round: the write part must not run
  // on the deleted socket.
  ASSERT_EQ(1, a->SendTo("x", 1, b->GetLocalAddress()));
  ASSERT_TRUE(Serve([&] { return deleter.deleted > 0; }));
}

}  // namespace
}  // namespace talk_base
