#include "talk/base/sigslot.h"

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Every receiver writes into one shared log, so order across receivers shows.
struct Receiver : public sigslot::has_slots<> {
  Receiver(std::vector<std::string>* log, const std::string& name)
      : log(log), name(name) {}
  void OnZero() { log->push_back(name); }
  void OnInt(int v) { log->push_back(name + ":" + std::to_string(v)); }
  void OnThree(int a, std::string b, char c) {
    log->push_back(name + ":" + std::to_string(a) + b + c);
  }
  virtual void OnVirtual(int v) { log->push_back(name + ":base" + std::to_string(v)); }

  std::vector<std::string>* log;
  std::string name;
};

struct DerivedReceiver : public Receiver {
  using Receiver::Receiver;
  void OnVirtual(int v) override { log->push_back(name + ":derived" + std::to_string(v)); }
};

// A receiver whose has_slots base is not its first base.
struct Payload {
  virtual ~Payload() {}
  int filler = 7;
};
struct SecondBaseReceiver : public Payload, public sigslot::has_slots<> {
  explicit SecondBaseReceiver(std::vector<std::string>* log) : log(log) {}
  void OnInt(int v) { log->push_back("second:" + std::to_string(v + filler)); }
  std::vector<std::string>* log;
};

class SigslotTest : public ::testing::Test {
 protected:
  std::vector<std::string> log;
};

TEST_F(SigslotTest, EmitWithoutConnectionsDoesNothing) {
  sigslot::signal1<int> sig;
  sig.emit(1);
  sig(2);
  EXPECT_TRUE(sig.is_empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(SigslotTest, EmitCallsEveryConnectionInConnectionOrder) {
  Receiver a(&log, "a"), b(&log, "b"), c(&log, "c");
  sigslot::signal1<int> sig;
  sig.connect(&b, &Receiver::OnInt);
  sig.connect(&a, &Receiver::OnInt);
  sig.connect(&c, &Receiver::OnInt);
  sig.emit(5);
  EXPECT_EQ((std::vector<std::string>{"b:5", "a:5", "c:5"}), log);
}

TEST_F(SigslotTest, EveryArityPassesItsArguments) {
  Receiver r(&log, "r");
  sigslot::signal0<> s0;
  sigslot::signal3<int, std::string, char> s3;
  s0.connect(&r, &Receiver::OnZero);
  s3.connect(&r, &Receiver::OnThree);
  s0.emit();
  s3.emit(1, "x", 'y');
  EXPECT_EQ((std::vector<std::string>{"r", "r:1xy"}), log);
}

TEST_F(SigslotTest, VirtualMemberFunctionIsCalledThroughTheReceiver) {
  DerivedReceiver d(&log, "d");
  sigslot::signal1<int> sig;
  sig.connect<Receiver>(&d, &Receiver::OnVirtual);
  sig.emit(3);
  EXPECT_EQ((std::vector<std::string>{"d:derived3"}), log);
}

TEST_F(SigslotTest, ReceiverConnectedTwiceIsCalledTwiceAndDestroyedCleanly) {
  sigslot::signal1<int> sig;
  {
    Receiver r(&log, "r");
    sig.connect(&r, &Receiver::OnInt);
    sig.connect(&r, &Receiver::OnInt);
    sig.emit(1);
    EXPECT_EQ(2u, log.size());
  }
  EXPECT_TRUE(sig.is_empty());
  sig.emit(2);  // must not reach the destroyed receiver
  EXPECT_EQ(2u, log.size());
}

TEST_F(SigslotTest, DestroyingTheSignalLeavesReceiversWithoutTrace) {
  auto r = std::make_unique<Receiver>(&log, "r");
  {
    sigslot::signal1<int> first;
    first.connect(r.get(), &Receiver::OnInt);
  }
  // The receiver goes after the first signal (a stale entry would be a use
  // of freed memory) and must still leave the second one cleanly.
  sigslot::signal1<int> second;
  second.connect(r.get(), &Receiver::OnInt);
  r.reset();
  EXPECT_TRUE(second.is_empty());
  second.emit(1);
  EXPECT_TRUE(log.empty());
}

TEST_F(SigslotTest, ReceiverDestroyedFirstRemovesItsConnectionsFromAllSignals) {
  sigslot::signal1<int> s1, s2;
  Receiver keep(&log, "keep");
  {
    Receiver gone(&log, "gone");
    s1.connect(&gone, &Receiver::OnInt);
    s2.connect(&gone, &Receiver::OnInt);
    s2.connect(&keep, &Receiver::OnInt);
  }
  s1.emit(1);
  s2.emit(2);
  EXPECT_EQ((std::vector<std::string>{"keep:2"}), log);
}

TEST_F(SigslotTest, ReceiverDisconnectAllLeavesEverySignalOfItsOwn) {
  Receiver a(&log, "a");
  {
    sigslot::signal1<int> s1, s2;
    Receiver b(&log, "b");
    s1.connect(&a, &Receiver::OnInt);
    s1.connect(&b, &Receiver::OnInt);
    s1.connect(&a, &Receiver::OnInt);
    s2.connect(&a, &Receiver::OnInt);
    a.disconnect_all();
    s1.emit(1);
    s2.emit(2);
    EXPECT_TRUE(s2.is_empty());
  }
  // |a| outlives the signals: it must not remember them.
  EXPECT_EQ((std::vector<std::string>{"b:1"}), log);
}

TEST_F(SigslotTest, DisconnectAllForgetsEveryReceiver) {
  Receiver a(&log, "a");
  auto sig = std::make_unique<sigslot::signal1<int>>();
  sig->connect(&a, &Receiver::OnInt);
  sig->disconnect_all();
  sig->emit(1);
  EXPECT_TRUE(log.empty());
  sig.reset();
}

TEST_F(SigslotTest, DuplicateSlotAppendsCopiesAfterExistingConnections) {
  sigslot::signal1<int> sig;
  Receiver a(&log, "a"), b(&log, "b"), c(&log, "c");
  sig.connect(&a, &Receiver::OnInt);
  sig.connect(&b, &Receiver::OnInt);
  sig.connect(&a, &Receiver::OnInt);
  sig.duplicate_slot(&a, &c);
  sig.emit(1);
  EXPECT_EQ((std::vector<std::string>{"a:1", "b:1", "a:1", "c:1", "c:1"}), log);
}

TEST_F(SigslotTest, DuplicatedReceiverDestroyedFirstLeavesNoConnection) {
  sigslot::signal1<int> sig;
  Receiver a(&log, "a");
  sig.connect(&a, &Receiver::OnInt);
  {
    Receiver c(&log, "c");
    sig.duplicate_slot(&a, &c);
  }
  sig.emit(1);
  EXPECT_EQ((std::vector<std::string>{"a:1"}), log);
}

TEST_F(SigslotTest, DuplicateConvertsToAReceiverWhoseBaseIsNotFirst) {
  sigslot::signal1<int> sig;
  SecondBaseReceiver a(&log), b(&log);
  b.filler = 100;
  sig.connect(&a, &SecondBaseReceiver::OnInt);
  sig.duplicate_slot(&a, &b);
  sig.emit(1);
  EXPECT_EQ((std::vector<std::string>{"second:8", "second:101"}), log);
}

TEST_F(SigslotTest, CopiedReceiverIsConnectedWhereTheOriginalIs) {
  sigslot::signal1<int> sig;
  Receiver a(&log, "a");
  sig.connect(&a, &Receiver::OnInt);
  {
    Receiver copy(a);
    copy.name = "copy";
    sig.emit(1);
  }
  sig.emit(2);
  EXPECT_EQ((std::vector<std::string>{"a:1", "copy:1", "a:2"}), log);
}

TEST(SigslotTraits, SignalsAreNotCopyable) {
  EXPECT_FALSE(std::is_copy_constructible<sigslot::signal1<int>>::value);
  EXPECT_FALSE(std::is_copy_assignable<sigslot::signal0<>>::value);
}

// Receivers that change the connections while an emit is running.
struct Mutator : public sigslot::has_slots<> {
  Mutator(std::vector<std::string>* log, const std::string& name)
      : log(log), name(name) {}

  void DisconnectSelf(int) {
    log->push_back(name);
    disconnect_all();
  }
  void DisconnectOther(int) {
    log->push_back(name);
    other->disconnect_all();
  }
  void DestroyOther(int) {
    log->push_back(name);
    owned_other.reset();
  }
  void DestroySignal(int) {
    log->push_back(name);
    owned_signal->reset();
  }
  void ConnectAnother(int) {
    log->push_back(name);
    signal->connect(other, &Mutator::Record);
  }
  void EmitAgain(int v) {
    log->push_back(name + std::to_string(v));
    if (v == 0) signal->emit(1);
  }
  void Record(int) { log->push_back(name); }

  std::vector<std::string>* log;
  std::string name;
  sigslot::signal1<int>* signal = nullptr;
  Mutator* other = nullptr;
  std::unique_ptr<Mutator> owned_other;
  std::unique_ptr<sigslot::signal1<int>>* owned_signal = nullptr;
};

class SigslotEmitTest : public SigslotTest {
 protected:
  sigslot::signal1<int> sig;
  Mutator* Make(const std::string& name) {
    mutators.push_back(std::make_unique<Mutator>(&log, name));
    mutators.back()->signal = &sig;
    return mutators.back().get();
  }
  std::vector<std::unique_ptr<Mutator>> mutators;
};

TEST_F(SigslotEmitTest, SlotDisconnectingItselfDoesNotDisturbLaterReceivers) {
  Mutator* a = Make("a");
  Mutator* b = Make("b");
  Mutator* c = Make("c");
  sig.connect(a, &Mutator::Record);
  sig.connect(b, &Mutator::DisconnectSelf);
  sig.connect(c, &Mutator::Record);
  sig.emit(0);
  sig.emit(0);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "a", "c"}), log);
}

TEST_F(SigslotEmitTest, SlotDisconnectingTheNextReceiverSkipsIt) {
  Mutator* a = Make("a");
  Mutator* b = Make("b");
  Mutator* c = Make("c");
  a->other = b;
  sig.connect(a, &Mutator::DisconnectOther);
  sig.connect(b, &Mutator::Record);
  sig.connect(c, &Mutator::Record);
  sig.emit(0);
  EXPECT_EQ((std::vector<std::string>{"a", "c"}), log);
}

TEST_F(SigslotEmitTest, SlotDestroyingAnotherReceiverSkipsIt) {
  Mutator* a = Make("a");
  a->owned_other = std::make_unique<Mutator>(&log, "victim");
  Mutator* c = Make("c");
  sig.connect(a, &Mutator::DestroyOther);
  sig.connect(a->owned_other.get(), &Mutator::Record);
  sig.connect(c, &Mutator::Record);
  sig.emit(0);
  sig.emit(0);
  EXPECT_EQ((std::vector<std::string>{"a", "c", "a", "c"}), log);
}

TEST_F(SigslotEmitTest, SlotDestroyingItselfInsideTheEmit) {
  // The receiver owned by |holder| destroys itself through holder.
  Mutator* holder = Make("holder");
  holder->owned_other = std::make_unique<Mutator>(&log, "self");
  Mutator* self = holder->owned_other.get();
  Mutator* c = Make("c");
  sig.connect(holder, &Mutator::Record);
  sig.connect(self, &Mutator::Record);
  sig.connect(holder, &Mutator::DestroyOther);
  sig.connect(c, &Mutator::Record);
  sig.emit(0);
  EXPECT_EQ((std::vector<std::string>{"holder", "self", "holder", "c"}), log);
}

TEST_F(SigslotEmitTest, SlotDestroyingTheSignalEndsTheEmit) {
  auto owned = std::make_unique<sigslot::signal1<int>>();
  Mutator* a = Make("a");
  Mutator* b = Make("b");
  a->owned_signal = &owned;
  owned->connect(a, &Mutator::DestroySignal);
  owned->connect(b, &Mutator::Record);
  owned->emit(0);
  EXPECT_EQ(nullptr, owned.get());
  EXPECT_EQ((std::vector<std::string>{"a"}), log);
}

TEST_F(SigslotEmitTest, ConnectionMadeDuringAnEmitIsReachedUnlessMadeByTheLast) {
  // The walk takes the next entry before each call: after the last entry
  // there is none, so what it appends waits for the next emit.
  struct Case {
    bool connector_is_last;
    std::vector<std::string> first_emit;
  };
  const Case cases[] = {{true, {"a"}}, {false, {"a", "c", "b"}}};
  for (const Case& c : cases) {
    sigslot::signal1<int> local;
    Mutator a(&log, "a"), b(&log, "b"), tail(&log, "c");
    a.signal = &local;
    a.other = &b;
    local.connect(&a, &Mutator::ConnectAnother);
    if (!c.connector_is_last) local.connect(&tail, &Mutator::Record);
    log.clear();
    local.emit(0);
    EXPECT_EQ(c.first_emit, log) << c.connector_is_last;
    a.disconnect_all();
    tail.disconnect_all();
    log.clear();
    local.emit(0);
    EXPECT_EQ((std::vector<std::string>{"b"}), log) << c.connector_is_last;
  }
}

TEST_F(SigslotEmitTest, NestedEmitReachesEveryReceiverOnce) {
  Mutator* a = Make("a");
  Mutator* b = Make("b");
  sig.connect(a, &Mutator::EmitAgain);
  sig.connect(b, &Mutator::Record);
  sig.emit(0);
  EXPECT_EQ((std::vector<std::string>{"a0", "a1", "b", "b"}), log);
}

}  // namespace
