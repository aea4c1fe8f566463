// Streams that run out of memory answer with their result codes instead of
// letting std::bad_alloc out.
//
// Link-time seam: this program's global operator new refuses every request
// of kRefusedSize bytes or more, as a machine without that much memory
// would. The sanitizers' own allocators abort on such requests instead of
// failing them, so they are never asked.
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

#include <new>
#include <string>

#include <gtest/gtest.h>

#include "talk/base/fifobuffer.h"
#include "talk/base/memorystream.h"
#include "talk/base/stringstream.h"
#include "talk/base/thread.h"
#include "teststreams.h"

namespace {

const size_t kRefusedSize = size_t(1) << 40;  // 1 TiB
const size_t kHuge = size_t(1) << 50;         // far beyond it

void* Allocate(size_t size) {
  if (size >= kRefusedSize) return nullptr;
  return malloc(size ? size : 1);
}

}  // namespace

void* operator new(size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }

namespace talk_base {
namespace {

TEST(OutOfMemoryTest, TheSeamRefusesHugeRequests) {
  // Through a volatile, so that the compiler keeps the allocations.
  volatile size_t huge = kHuge;
  char* volatile p = nullptr;
  EXPECT_THROW(p = new char[huge], std::bad_alloc);
  p = new (std::nothrow) char[huge];
  EXPECT_EQ(nullptr, p);
  p = new char[16];
  EXPECT_NE(nullptr, p);
  delete[] p;
}

class FifoOutOfMemoryTest : public ::testing::Test {
 protected:
  // Events are posted to this thread's queue; drop any left over.
  void TearDown() override { DrainQueue(Thread::Current()); }
};

// A FIFO that cannot get its buffer holds nothing, reports ENOMEM on
// writes, and works once it is given a buffer.
TEST_F(FifoOutOfMemoryTest, ConstructionWithoutMemory) {
  FifoBuffer fifo(kHuge);
  size_t remaining = 9, buffered = 9, n = 9;
  EXPECT_TRUE(fifo.GetWriteRemaining(&remaining));
  EXPECT_EQ(0u, remaining);
  EXPECT_TRUE(fifo.GetBuffered(&buffered));
  EXPECT_EQ(0u, buffered);
  int error = 0;
  EXPECT_EQ(SR_ERROR, fifo.Write("ab", 2, &n, &error));
  EXPECT_EQ(ENOMEM, error);
  EXPECT_EQ(9u, n);
  EXPECT_EQ(SR_ERROR, fifo.WriteOffset("ab", 2, 0, &n));
  EXPECT_EQ(nullptr, fifo.GetWriteBuffer(&n));
  EXPECT_EQ(0u, n);
  char buf[4];
  EXPECT_EQ(SR_BLOCK, fifo.Read(buf, sizeof(buf), &n, nullptr));
  EXPECT_EQ(SS_OPEN, fifo.GetState());

  EXPECT_FALSE(fifo.SetCapacity(kHuge));
  ASSERT_TRUE(fifo.SetCapacity(0));  // a buffer, if an empty one
  EXPECT_EQ(SR_BLOCK, fifo.Write("ab", 2, &n, &error));
  ASSERT_TRUE(fifo.SetCapacity(4));
  EXPECT_EQ(SR_SUCCESS, fifo.Write("abcdef", 6, &n, &error));
  EXPECT_EQ(4u, n);
  EXPECT_EQ(SR_SUCCESS, fifo.Read(buf, sizeof(buf), &n, nullptr));
  EXPECT_EQ("abcd", std::string(buf, n));
}

// A capacity that cannot be had is refused and the data stays as it was.
TEST_F(FifoOutOfMemoryTest, SetCapacityWithoutMemoryKeepsTheData) {
  FifoBuffer fifo(4);
  size_t n = 0;
  ASSERT_EQ(SR_SUCCESS, fifo.Write("abc", 3, &n, nullptr));
  EXPECT_FALSE(fifo.SetCapacity(kHuge));
  size_t remaining = 0;
  fifo.GetWriteRemaining(&remaining);
  EXPECT_EQ(1u, remaining);
  char buf[8];
  ASSERT_EQ(SR_SUCCESS, fifo.Read(buf, sizeof(buf), &n, nullptr));
  EXPECT_EQ("abc", std::string(buf, n));
}

// ReserveSize answers false for room that cannot be had, whether the size
// is refused up front or the allocation fails, and leaves the stream as it
// was; the growable memory stream is the model.
TEST(StreamReserveOutOfMemoryTest, ReserveSizeAnswersFalse) {
  for (const size_t size : {kHuge, SIZE_MAX}) {
    SCOPED_TRACE(size);
    std::string text = "abc";
    StringStream string_stream(&text);
    EXPECT_FALSE(string_stream.ReserveSize(size));
    EXPECT_EQ("abc", text);
    size_t written = 0;
    EXPECT_EQ(SR_SUCCESS, string_stream.Write("d", 1, &written, nullptr));
    EXPECT_EQ("abcd", text);

    MemoryStream memory_stream("abc");
    EXPECT_FALSE(memory_stream.ReserveSize(size));
    size_t stream_size = 0;
    EXPECT_TRUE(memory_stream.GetSize(&stream_size));
    EXPECT_EQ(3u, stream_size);
  }
}

}  // namespace
}  // namespace talk_base
