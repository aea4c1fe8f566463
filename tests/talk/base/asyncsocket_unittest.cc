// The socket adapter: forwarding, re-emitted signals, ownership, and an
// adapter without a socket.
#include "talk/base/asyncsocket.h"

#include <errno.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace talk_base {
namespace {

// Records each call by name and answers with a distinct value per
// operation.
class FakeSocket : public AsyncSocket {
 public:
  explicit FakeSocket(int* deleted = nullptr) : deleted_(deleted) {}
  ~FakeSocket() override {
    if (deleted_) ++*deleted_;
  }

  SocketAddress GetLocalAddress() const override {
    return SocketAddress("1.1.1.1", 1);
  }
  SocketAddress GetRemoteAddress() const override {
    return SocketAddress("2.2.2.2", 2);
  }
  int Bind(const SocketAddress& a) override { return Note("Bind " + a.ToString(), 3); }
  int Connect(const SocketAddress& a) override {
    return Note("Connect " + a.ToString(), 4);
  }
  int Send(const void*, int cb) override { return Note("Send", cb + 5); }
  int SendTo(const void*, int cb, const SocketAddress& a) override {
    return Note("SendTo " + a.ToString(), cb + 6);
  }
  int Recv(void*, int cb) override { return Note("Recv", cb + 7); }
  int RecvFrom(void*, int cb, SocketAddress* paddr) override {
    if (paddr) *paddr = SocketAddress("3.3.3.3", 3);
    return Note("RecvFrom", cb + 8);
  }
  int Listen(int backlog) override { return Note("Listen", backlog + 9); }
  AsyncSocket* Accept(SocketAddress*) override {
    Note("Accept", 0);
    return accepted;
  }
  int Close() override { return Note("Close", 10); }
  int GetError() const override { return error; }
  void SetError(int e) override { error = e; }
  ConnState GetState() const override { return CS_CONNECTING; }
  int EstimateMTU(uint16_t* mtu) override {
    *mtu = 1400;
    return Note("EstimateMTU", 11);
  }
  int GetOption(SocketOption opt, int* value) override {
    *value = 77;
    return Note("GetOption", 12 + opt);
  }
  int SetOption(SocketOption opt, int value) override {
    return Note("SetOption", 20 + opt + value);
  }

  std::vector<std::string> calls;
  AsyncSocket* accepted = nullptr;
  int error = 0;

 private:
  int Note(const std::string& call, int result) {
    calls.push_back(call);
    return result;
  }
  int* deleted_;
};

struct SignalRecorder : public sigslot::has_slots<> {
  void Connect(AsyncSocket* s) {
    s->SignalConnectEvent.connect(this, &SignalRecorder::OnConnect);
    s->SignalReadEvent.connect(this, &SignalRecorder::OnRead);
    s->SignalWriteEvent.connect(this, &SignalRecorder::OnWrite);
    s->SignalCloseEvent.connect(this, &SignalRecorder::OnClose);
  }
  void OnConnect(AsyncSocket* s) { Note("connect", s, 0); }
  void OnRead(AsyncSocket* s) { Note("read", s, 0); }
  void OnWrite(AsyncSocket* s) { Note("write", s, 0); }
  void OnClose(AsyncSocket* s, int err) { Note("close", s, err); }
  void Note(const std::string& what, AsyncSocket* s, int err) {
    events.push_back(what);
    sockets.push_back(s);
    errors.push_back(err);
  }
  std::vector<std::string> events;
  std::vector<AsyncSocket*> sockets;
  std::vector<int> errors;
};

TEST(AsyncSocketAdapterTest, ForwardsEveryOperation) {
  FakeSocket* inner = new FakeSocket;
  AsyncSocketAdapter adapter(inner);
  char buf[4];
  SocketAddress from;
  uint16_t mtu = 0;
  int value = 0;
  EXPECT_EQ("1.1.1.1:1", adapter.GetLocalAddress().ToString());
  EXPECT_EQ("2.2.2.2:2", adapter.GetRemoteAddress().ToString());
  EXPECT_EQ(3, adapter.Bind(SocketAddress("127.0.0.1", 9)));
  EXPECT_EQ(4, adapter.Connect(SocketAddress("127.0.0.1", 10)));
  EXPECT_EQ(5 + 4, adapter.Send(buf, 4));
  EXPECT_EQ(6 + 2, adapter.SendTo(buf, 2, SocketAddress("127.0.0.1", 11)));
  EXPECT_EQ(7 + 1, adapter.Recv(buf, 1));
  EXPECT_EQ(8 + 3, adapter.RecvFrom(buf, 3, &from));
  EXPECT_EQ("3.3.3.3:3", from.ToString());
  EXPECT_EQ(9 + 5, adapter.Listen(5));
  FakeSocket accepted;
  inner->accepted = &accepted;
  EXPECT_EQ(&accepted, adapter.Accept(nullptr));
  EXPECT_EQ(11, adapter.EstimateMTU(&mtu));
  EXPECT_EQ(1400, mtu);
  EXPECT_EQ(12 + OPT_SNDBUF, adapter.GetOption(OPT_SNDBUF, &value));
  EXPECT_EQ(77, value);
  EXPECT_EQ(20 + OPT_NODELAY + 1, adapter.SetOption(OPT_NODELAY, 1));
  adapter.SetError(33);
  EXPECT_EQ(33, inner->error);
  EXPECT_EQ(33, adapter.GetError());
  EXPECT_EQ(CS_CONNECTING, adapter.GetState());
  EXPECT_EQ(10, adapter.Close());
  EXPECT_EQ((std::vector<std::string>{
                "Bind 127.0.0.1:9", "Connect 127.0.0.1:10", "Send",
                "SendTo 127.0.0.1:11", "Recv", "RecvFrom", "Listen", "Accept",
                "EstimateMTU", "GetOption", "SetOption", "Close"}),
            inner->calls);
}

TEST(AsyncSocketAdapterTest, ReceiversSeeTheAdapterNeverTheWrappedSocket) {
  FakeSocket* inner = new FakeSocket;
  AsyncSocketAdapter adapter(inner);
  SignalRecorder recorder;
  recorder.Connect(&adapter);
  inner->SignalConnectEvent(inner);
  inner->SignalReadEvent(inner);
  inner->SignalWriteEvent(inner);
  inner->SignalCloseEvent(inner, 104);
  EXPECT_EQ((std::vector<std::string>{"connect", "read", "write", "close"}),
            recorder.events);
  EXPECT_EQ(std::vector<AsyncSocket*>(4, &adapter), recorder.sockets);
  EXPECT_EQ(104, recorder.errors[3]);
}

TEST(AsyncSocketAdapterTest, OwnsItsSocketAndReplacesItOnAttach) {
  int deleted = 0;
  FakeSocket* first = new FakeSocket(&deleted);
  FakeSocket* second = new FakeSocket(&deleted);
  SignalRecorder recorder;
  {
    AsyncSocketAdapter adapter(first);
    recorder.Connect(&adapter);
    adapter.Attach(second);
    EXPECT_EQ(1, deleted);  // the first socket went
    second->SignalReadEvent(second);
    EXPECT_EQ(1u, recorder.events.size());
    adapter.Attach(second);  // the same socket again is kept
    EXPECT_EQ(1, deleted);
  }
  EXPECT_EQ(2, deleted);
}

TEST(AsyncSocketAdapterTest, WithoutASocketAnswersEBADF) {
  AsyncSocketAdapter adapter(nullptr);
  char buf[4];
  uint16_t mtu = 0;
  int value = 0;
  SocketAddress addr("127.0.0.1", 1);
  const int results[] = {
      adapter.Bind(addr),          adapter.Connect(addr),
      adapter.Send(buf, 1),        adapter.SendTo(buf, 1, addr),
      adapter.Recv(buf, 1),        adapter.RecvFrom(buf, 1, &addr),
      adapter.Listen(1),           adapter.Close(),
      adapter.EstimateMTU(&mtu),   adapter.GetOption(OPT_RCVBUF, &value),
      adapter.SetOption(OPT_RCVBUF, 1),
  };
  for (int result : results) EXPECT_EQ(-1, result);
  EXPECT_EQ(EBADF, adapter.GetError());
  EXPECT_EQ(nullptr, adapter.Accept(&addr));
  EXPECT_EQ(CS_CLOSED, adapter.GetState());
  EXPECT_TRUE(adapter.GetLocalAddress().IsNil());
  EXPECT_TRUE(adapter.GetRemoteAddress().IsNil());
  adapter.SetError(0);
  EXPECT_EQ(0, adapter.GetError());

  // A socket attached later is used.
  FakeSocket* inner = new FakeSocket;
  adapter.Attach(inner);
  EXPECT_EQ(10, adapter.Close());
}

}  // namespace
}  // namespace talk_base
