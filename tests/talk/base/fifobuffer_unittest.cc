// The FIFO buffer: wrap-around, the direct buffer access, capacity changes,
// its events, and a producer and a consumer on two threads.
#include "talk/base/fifobuffer.h"

#include <stdint.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "talk/base/thread.h"
#include "teststreams.h"
#include "watchdog.h"

namespace talk_base {
namespace {

std::string ReadString(FifoBuffer* fifo, size_t n, StreamResult* result) {
  std::vector<char> buf(n + 1);
  size_t read = 0;
  *result = fifo->Read(buf.data(), n, &read, nullptr);
  return (*result == SR_SUCCESS) ? std::string(buf.data(), read) : "";
}

size_t WriteString(FifoBuffer* fifo, const std::string& s,
                   StreamResult* result) {
  size_t written = 0;
  *result = fifo->Write(s.data(), s.size(), &written, nullptr);
  return (*result == SR_SUCCESS) ? written : 0;
}

// A FIFO of 8 bytes holding "abcdef" from read position 5 (f, g, h and
// then a, b, c of the buffer).
void FillWrapped(FifoBuffer* fifo) {
  StreamResult r;
  ASSERT_EQ(5u, WriteString(fifo, "01234", &r));
  ASSERT_EQ("01234", ReadString(fifo, 5, &r));
  ASSERT_EQ(6u, WriteString(fifo, "abcdef", &r));
}

class FifoBufferTest : public ::testing::Test {
 protected:
  // Events are posted to this thread's queue; drop any left over.
  void TearDown() override { DrainQueue(Thread::Current()); }
};

TEST_F(FifoBufferTest, WrapAroundOfTheDirectBuffers) {
  FifoBuffer fifo(8);
  FillWrapped(&fifo);
  size_t len = 0;
  const char* read_data = static_cast<const char*>(fifo.GetReadData(&len));
  EXPECT_EQ(3u, len);
  EXPECT_EQ("abc", std::string(read_data, len));
  char* write_buffer = static_cast<char*>(fifo.GetWriteBuffer(&len));
  EXPECT_EQ(2u, len);
  // The free run starts at position 3, right after "def".
  EXPECT_EQ(read_data - 2, write_buffer);
  memcpy(write_buffer, "gh", 2);
  fifo.ConsumeWriteBuffer(2);

  size_t buffered = 0, remaining = 9;
  EXPECT_TRUE(fifo.GetBuffered(&buffered));
  EXPECT_TRUE(fifo.GetWriteRemaining(&remaining));
  EXPECT_EQ(8u, buffered);
  EXPECT_EQ(0u, remaining);
  // Full: no room is offered, not even the run up to the buffer's end.
  EXPECT_NE(nullptr, fifo.GetWriteBuffer(&len));
  EXPECT_EQ(0u, len);

  StreamResult r;
  EXPECT_EQ("abcdefgh", ReadString(&fifo, 100, &r));
  EXPECT_EQ(SR_SUCCESS, r);
}

TEST_F(FifoBufferTest, OffsetsReadAndWriteWithoutConsuming) {
  FifoBuffer fifo(8);
  FillWrapped(&fifo);
  char buf[8] = {};
  size_t n = 0;
  ASSERT_EQ(SR_SUCCESS, fifo.ReadOffset(buf, 8, 2, &n));
  EXPECT_EQ("cdef", std::string(buf, n));  // across the wrap
  EXPECT_EQ(SR_BLOCK, fifo.ReadOffset(buf, 8, 6, &n));
  ASSERT_EQ(SR_SUCCESS, fifo.WriteOffset("XYZ", 3, 1, &n));
  EXPECT_EQ(1u, n);  // room for one byte after a gap of one
  EXPECT_EQ(SR_BLOCK, fifo.WriteOffset("X", 1, 2, &n));
  size_t buffered = 0;
  fifo.GetBuffered(&buffered);
  EXPECT_EQ(6u, buffered);  // nothing committed
}

TEST_F(FifoBufferTest, BlockingAndEndOfStream) {
  FifoBuffer fifo(4);
  StreamResult r;
  EXPECT_EQ("", ReadString(&fifo, 1, &r));
  EXPECT_EQ(SR_BLOCK, r);  // empty and open
  EXPECT_EQ(4u, WriteString(&fifo, "abcdef", &r));
  EXPECT_EQ(0u, WriteString(&fifo, "x", &r));
  EXPECT_EQ(SR_BLOCK, r);  // full
  fifo.Close();
  EXPECT_EQ(SS_CLOSED, fifo.GetState());
  EXPECT_EQ(0u, WriteString(&fifo, "x", &r));
  EXPECT_EQ(SR_EOS, r);
  size_t len = 0;
  EXPECT_EQ(nullptr, fifo.GetWriteBuffer(&len));
  // The data drains after the close, then the stream ends.
  EXPECT_EQ("abcd", ReadString(&fifo, 10, &r));
  EXPECT_EQ("", ReadString(&fifo, 10, &r));
  EXPECT_EQ(SR_EOS, r);
}

TEST_F(FifoBufferTest, ConsumingMoreThanThereIsClamps) {
  FifoBuffer fifo(8);
  StreamResult r;
  WriteString(&fifo, "abc", &r);
  fifo.ConsumeReadData(100);
  size_t buffered = 1, remaining = 0;
  fifo.GetBuffered(&buffered);
  fifo.GetWriteRemaining(&remaining);
  EXPECT_EQ(0u, buffered);
  EXPECT_EQ(8u, remaining);
  size_t len = 0;
  fifo.GetWriteBuffer(&len);
  fifo.ConsumeWriteBuffer(100);
  fifo.GetBuffered(&buffered);
  EXPECT_EQ(8u, buffered);
}

TEST_F(FifoBufferTest, ZeroCapacityNeverDividesByZero) {
  FifoBuffer fifo(0);
  StreamResult r;
  EXPECT_EQ(0u, WriteString(&fifo, "x", &r));
  EXPECT_EQ(SR_BLOCK, r);
  EXPECT_EQ("", ReadString(&fifo, 1, &r));
  EXPECT_EQ(SR_BLOCK, r);
  size_t len = 9;
  fifo.GetReadData(&len);
  EXPECT_EQ(0u, len);
  fifo.ConsumeReadData(1);
  fifo.GetWriteBuffer(&len);
  EXPECT_EQ(0u, len);
  fifo.ConsumeWriteBuffer(1);
  size_t buffered = 9;
  fifo.GetBuffered(&buffered);
  EXPECT_EQ(0u, buffered);
  fifo.Close();
  EXPECT_EQ("", ReadString(&fifo, 1, &r));
  EXPECT_EQ(SR_EOS, r);
  // And it can be given room later.
  FifoBuffer grows(0);
  ASSERT_TRUE(grows.SetCapacity(2));
  EXPECT_EQ(2u, WriteString(&grows, "xyz", &r));
}

TEST_F(FifoBufferTest, SetCapacityKeepsTheDataInOrder) {
  FifoBuffer fifo(8);
  FillWrapped(&fifo);
  EXPECT_FALSE(fifo.SetCapacity(5));  // six bytes would not fit
  ASSERT_TRUE(fifo.SetCapacity(6));
  size_t len = 0;
  const char* data = static_cast<const char*>(fifo.GetReadData(&len));
  EXPECT_EQ("abcdef", std::string(data, len));  // unwrapped to the start
  ASSERT_TRUE(fifo.SetCapacity(16));
  StreamResult r;
  EXPECT_EQ(10u, WriteString(&fifo, "0123456789ABC", &r));
  EXPECT_EQ("abcdef0123456789", ReadString(&fifo, 100, &r));
}

// Counts the FIFO's events as they are signalled on this thread.
struct EventCounter : public sigslot::has_slots<> {
  void OnEvent(StreamInterface*, int events, int) {
    if (events & SE_READ) ++reads;
    if (events & SE_WRITE) ++writes;
  }
  int reads = 0;
  int writes = 0;
};

TEST_F(FifoBufferTest, EventsOnlyAtTheEmptyAndFullEdges) {
  Thread* current = Thread::Current();
  ASSERT_NE(nullptr, current);
  DrainQueue(current);
  FifoBuffer fifo(4);
  EventCounter counter;
  fifo.SignalEvent.connect(&counter, &EventCounter::OnEvent);
  StreamResult r;

  WriteString(&fifo, "a", &r);   // empty -> readable
  WriteString(&fifo, "b", &r);   // no edge
  EXPECT_EQ(0, counter.reads);   // delivered through the queue only
  DrainQueue(current);
  EXPECT_EQ(1, counter.reads);

  WriteString(&fifo, "cd", &r);  // now full, no event
  ReadString(&fifo, 1, &r);      // full -> writable
  ReadString(&fifo, 1, &r);      // no edge
  DrainQueue(current);
  EXPECT_EQ(1, counter.reads);
  EXPECT_EQ(1, counter.writes);

  // The same edges through the direct buffers.
  ReadString(&fifo, 10, &r);
  size_t len = 0;
  fifo.GetWriteBuffer(&len);
  fifo.ConsumeWriteBuffer(0);  // nothing written: no event
  fifo.ConsumeWriteBuffer(len);
  fifo.GetReadData(&len);
  fifo.ConsumeReadData(0);
  fifo.ConsumeReadData(1);
  DrainQueue(current);
  EXPECT_EQ(2, counter.reads);
  EXPECT_EQ(2, counter.writes);
}

TEST_F(FifoBufferTest, NoOwnerThreadNoEvents) {
  FifoBuffer* fifo = nullptr;
  // Made on an OS thread without a Thread: it has no owner to tell.
  std::thread maker([&] { fifo = new FifoBuffer(2); });
  maker.join();
  EventCounter counter;
  fifo->SignalEvent.connect(&counter, &EventCounter::OnEvent);
  StreamResult r;
  WriteString(fifo, "ab", &r);
  ReadString(fifo, 1, &r);
  DrainQueue(Thread::Current());
  EXPECT_EQ(0, counter.reads);
  EXPECT_EQ(0, counter.writes);
  delete fifo;
}

// Zero bytes may come with a null buffer: nothing is copied, nothing is
// posted.
TEST_F(FifoBufferTest, ZeroBytesWithANullBuffer) {
  FifoBuffer fifo(4);
  EventCounter counter;
  fifo.SignalEvent.connect(&counter, &EventCounter::OnEvent);
  size_t n = 9;
  EXPECT_EQ(SR_SUCCESS, fifo.Write(nullptr, 0, &n, nullptr));  // empty
  EXPECT_EQ(0u, n);
  EXPECT_EQ(SR_SUCCESS, fifo.WriteOffset(nullptr, 0, 0, &n));
  StreamResult r;
  ASSERT_EQ(2u, WriteString(&fifo, "ab", &r));
  n = 9;
  EXPECT_EQ(SR_SUCCESS, fifo.Read(nullptr, 0, &n, nullptr));  // holding two
  EXPECT_EQ(0u, n);
  EXPECT_EQ(SR_SUCCESS, fifo.ReadOffset(nullptr, 0, 1, &n));
  EXPECT_EQ(SR_SUCCESS, fifo.Write(nullptr, 0, &n, nullptr));
  EXPECT_EQ(SR_SUCCESS, fifo.WriteOffset(nullptr, 0, 1, &n));
  ASSERT_EQ(2u, WriteString(&fifo, "cd", &r));
  EXPECT_EQ(SR_SUCCESS, fifo.Read(nullptr, 0, &n, nullptr));  // full
  EXPECT_EQ("abcd", ReadString(&fifo, 8, &r));
  DrainQueue(Thread::Current());
  EXPECT_EQ(1, counter.reads);  // from "ab" only
  EXPECT_EQ(1, counter.writes);  // from the last read only
}

// Makes a FIFO on the Thread that dispatches it, which becomes the owner.
struct FifoMaker : public MessageHandler {
  explicit FifoMaker(size_t n) : size(n) {}
  void OnMessage(Message*) override { fifo = new FifoBuffer(size); }
  size_t size;
  FifoBuffer* fifo = nullptr;
};

// A FIFO whose owner Thread is gone posts nothing more: it must not reach
// into the freed Thread.
TEST_F(FifoBufferTest, NoEventsOnceTheOwnerThreadIsGone) {
  FifoBuffer* made = nullptr;
  std::thread maker([&] {
    AutoThread owner;  // current while this OS thread makes the FIFO
    made = new FifoBuffer(2);
  });
  maker.join();
  std::unique_ptr<FifoBuffer> fifo(made);
  // Both edges: empty to readable, full to writable.
  StreamResult r;
  EXPECT_EQ(2u, WriteString(fifo.get(), "ab", &r));
  EXPECT_EQ("a", ReadString(fifo.get(), 1, &r));
  size_t len = 0;
  fifo->GetWriteBuffer(&len);
  fifo->ConsumeWriteBuffer(len);
  fifo->GetReadData(&len);
  fifo->ConsumeReadData(1);
  EXPECT_EQ(1u, ReadString(fifo.get(), 8, &r).size());
}

// Two Threads made one after the other in the same storage: a FIFO made on
// the second tells the second, not what was left of the first.
TEST_F(FifoBufferTest, AThreadMadeWhereAGoneOneLivedGetsItsEvents) {
  Watchdog watchdog(60);
  int reads = -1;
  std::thread maker([&] {
    alignas(AutoThread) unsigned char storage[sizeof(AutoThread)];
    AutoThread* first = new (storage) AutoThread;  // current on this OS thread
    delete new FifoBuffer(2);  // the first Thread's queue now has a watch
    first->~AutoThread();

    AutoThread* second = new (storage) AutoThread;
    EXPECT_EQ(second, Thread::Current());
    {
      FifoBuffer fifo(2);
      EventCounter counter;
      fifo.SignalEvent.connect(&counter, &EventCounter::OnEvent);
      StreamResult r;
      WriteString(&fifo, "a", &r);  // empty -> readable
      DrainQueue(second);
      reads = counter.reads;
    }
    second->~AutoThread();
  });
  maker.join();
  EXPECT_EQ(1, reads);
}

// The owner Thread is deleted while another thread keeps crossing both
// edges, so that posts meet the Thread's destruction.
TEST_F(FifoBufferTest, OwnerThreadDeletedWhileAnotherThreadPosts) {
  Watchdog watchdog(60);
  Thread* owner = new Thread;
  ASSERT_TRUE(owner->Start());
  FifoMaker maker(1);
  owner->Send(&maker);
  ASSERT_NE(nullptr, maker.fifo);
  std::unique_ptr<FifoBuffer> fifo(maker.fifo);
  std::atomic<bool> stop(false);
  std::atomic<int> rounds(0);
  std::thread user([&] {
    char c = 'x';
    size_t n = 0;
    while (!stop.load()) {
      fifo->Write(&c, 1, &n, nullptr);  // empty -> readable
      fifo->Read(&c, 1, &n, nullptr);   // full -> writable
      ++rounds;
    }
  });
  while (rounds.load() < 100) std::this_thread::yield();
  delete owner;
  const int at_deletion = rounds.load();
  while (rounds.load() < at_deletion + 100) std::this_thread::yield();
  stop = true;
  user.join();
}

// Deleting the FIFO on another thread waits for the event being emitted on
// the owner thread: every receiver gets it, and the FIFO is whole
// meanwhile.
TEST_F(FifoBufferTest, DeletedOnAnotherThreadWhileTheOwnerEmits) {
  Watchdog watchdog(60);
  Thread owner;
  ASSERT_TRUE(owner.Start());
  FifoMaker maker(4);
  owner.Send(&maker);
  ASSERT_NE(nullptr, maker.fifo);
  SlowReceiver reader(true);
  EventRecorder witness;
  maker.fifo->SignalEvent.connect(&reader, &SlowReceiver::OnEvent);
  maker.fifo->SignalEvent.connect(&witness, &EventRecorder::OnEvent);
  StreamResult r;
  ASSERT_EQ(3u, WriteString(maker.fifo, "abc", &r));  // posts SE_READ
  ASSERT_TRUE(reader.WaitEntered());
  delete maker.fifo;
  EXPECT_EQ("abc", reader.read());
  EXPECT_EQ(std::vector<int>{SE_READ}, witness.events_);
  owner.Stop();
}

uint32_t Checksum(uint32_t sum, const char* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    sum = sum * 31 + static_cast<unsigned char>(data[i]);
  }
  return sum;
}

// A producer and a consumer thread share a small FIFO while the owner
// thread pumps its events; every byte arrives once and in order.
TEST_F(FifoBufferTest, ProducerAndConsumerThreadsWithTheOwnerPumping) {
  Watchdog watchdog(60);
  Thread* owner = Thread::Current();
  ASSERT_NE(nullptr, owner);
  DrainQueue(owner);
  FifoBuffer fifo(61);
  EventCounter counter;
  fifo.SignalEvent.connect(&counter, &EventCounter::OnEvent);

  const size_t kTotal = 200000;
  std::atomic<uint32_t> produced_sum(0), consumed_sum(0);
  std::atomic<bool> done(false);

  std::thread producer([&] {
    uint32_t sum = 0;
    size_t sent = 0;
    char chunk[37];
    while (sent < kTotal) {
      const size_t n = std::min(sizeof(chunk), kTotal - sent);
      for (size_t i = 0; i < n; ++i) chunk[i] = static_cast<char>((sent + i) * 7);
      size_t off = 0;
      while (off < n) {
        size_t written = 0;
        if (fifo.Write(chunk + off, n - off, &written, nullptr) == SR_SUCCESS) {
          off += written;
        } else {
          std::this_thread::yield();
        }
      }
      sum = Checksum(sum, chunk, n);
      sent += n;
    }
    produced_sum = sum;
    fifo.Close();
  });
  std::thread consumer([&] {
    uint32_t sum = 0;
    char buf[23];
    while (true) {
      size_t read = 0;
      const StreamResult r = fifo.Read(buf, sizeof(buf), &read, nullptr);
      if (r == SR_EOS) break;
      if (r == SR_SUCCESS) {
        sum = Checksum(sum, buf, read);
      } else {
        std::this_thread::yield();
      }
    }
    consumed_sum = sum;
    done = true;
  });
  while (!done.load()) owner->ProcessMessages(5);
  producer.join();
  consumer.join();
  DrainQueue(owner);
  EXPECT_EQ(produced_sum.load(), consumed_sum.load());
  EXPECT_GT(counter.reads, 0);
  EXPECT_GT(counter.writes, 0);
}

}  // namespace
}  // namespace talk_base
