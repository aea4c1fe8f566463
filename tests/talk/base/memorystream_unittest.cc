// Memory streams and string streams.
#include "talk/base/memorystream.h"

#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "talk/base/stringstream.h"

namespace talk_base {
namespace {

struct WriteStep {
  size_t length;
  size_t written;  // what the stream takes: up to the end of its buffer
};

// A write into a full buffer grows it; one that finds room fills only that
// room, so the partial writes show where each buffer ends.
TEST(MemoryStreamTest, GrowthBoundaries) {
  const struct {
    const char* name;
    std::vector<WriteStep> steps;
  } kCases[] = {
      {"first write of 10 grows to 256, then to 512, then doubles",
       {{10, 10}, {300, 246}, {1, 1}, {1000, 255}, {1, 1}, {2000, 511}}},
      {"a long first write rounds up to a multiple of 256",
       {{1000, 1000}, {100, 24}}},
      {"a first write of 256 rounds up to 512",
       {{256, 256}, {300, 256}, {1, 1}, {600, 511}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    MemoryStream stream;
    size_t total = 0;
    for (const WriteStep& step : c.steps) {
      const std::string data(step.length, 'x');
      size_t written = 0;
      ASSERT_EQ(SR_SUCCESS,
                stream.Write(data.data(), data.size(), &written, nullptr));
      EXPECT_EQ(step.written, written) << "after " << total;
      total += written;
    }
    size_t size = 0, position = 0, available = 9;
    EXPECT_TRUE(stream.GetSize(&size));
    EXPECT_TRUE(stream.GetPosition(&position));
    EXPECT_TRUE(stream.GetAvailable(&available));
    EXPECT_EQ(total, size);
    EXPECT_EQ(total, position);
    EXPECT_EQ(0u, available);
  }
}

TEST(MemoryStreamTest, ReadsBackWhatWasWrittenAndSeeks) {
  MemoryStream stream("hello world");
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(stream.GetBuffer()) % 16);
  char buf[32] = {};
  size_t read = 0;
  ASSERT_EQ(SR_SUCCESS, stream.Read(buf, 5, &read, nullptr));
  EXPECT_EQ(std::string("hello"), std::string(buf, read));
  EXPECT_FALSE(stream.SetPosition(12));  // past the data
  ASSERT_TRUE(stream.SetPosition(6));
  ASSERT_EQ(SR_SUCCESS, stream.Read(buf, sizeof(buf), &read, nullptr));
  EXPECT_EQ(std::string("world"), std::string(buf, read));
  EXPECT_EQ(SR_EOS, stream.Read(buf, sizeof(buf), &read, nullptr));

  // Overwriting up to the end of the buffer is partial; writing on at the
  // end grows it.
  ASSERT_TRUE(stream.SetPosition(6));
  size_t written = 0;
  ASSERT_EQ(SR_SUCCESS, stream.Write("WORLD!!", 7, &written, nullptr));
  EXPECT_EQ(5u, written);
  ASSERT_EQ(SR_SUCCESS, stream.Write("!!", 2, &written, nullptr));
  EXPECT_EQ(2u, written);
  size_t size = 0;
  stream.GetSize(&size);
  EXPECT_EQ(std::string("hello WORLD!!"), std::string(stream.GetBuffer(), size));

  stream.SetData("ab", 2);
  size_t position = 1;
  stream.GetPosition(&position);
  stream.GetSize(&size);
  EXPECT_EQ(0u, position);
  EXPECT_EQ(2u, size);
  EXPECT_EQ(SS_OPEN, stream.GetState());
}

TEST(MemoryStreamTest, ReserveSizeGrowsAndKeepsTheData) {
  MemoryStream stream("abc");
  ASSERT_TRUE(stream.ReserveSize(4096));
  ASSERT_TRUE(stream.SetPosition(3));
  // The reserved room takes a long write whole.
  const std::string more(4000, 'z');
  size_t written = 0;
  ASSERT_EQ(SR_SUCCESS, stream.Write(more.data(), more.size(), &written, nullptr));
  EXPECT_EQ(4000u, written);
  EXPECT_EQ(std::string("abczz"), std::string(stream.GetBuffer(), 5));
}

TEST(MemoryStreamTest, ImpossibleGrowthIsAnError) {
  MemoryStream stream;
  ASSERT_TRUE(stream.SetPosition(0));
  int error = 0;
  size_t written = 7;
  char byte = 'x';
  // A length whose rounded-up size does not fit in size_t.
  EXPECT_EQ(SR_ERROR, stream.Write(&byte, SIZE_MAX - 10, &written, &error));
  EXPECT_EQ(ENOMEM, error);
  EXPECT_EQ(7u, written);
  EXPECT_FALSE(stream.ReserveSize(SIZE_MAX));
}

TEST(ExternalMemoryStreamTest, FixedBufferCannotGrow) {
  char buffer[4] = {'a', 'b', 'c', 'd'};
  ExternalMemoryStream stream(buffer, sizeof(buffer));
  size_t size = 0;
  EXPECT_TRUE(stream.GetSize(&size));
  EXPECT_EQ(4u, size);
  ASSERT_TRUE(stream.SetPosition(2));
  size_t written = 0;
  // Room for two more bytes only: the write is partial.
  ASSERT_EQ(SR_SUCCESS, stream.Write("XYZ", 3, &written, nullptr));
  EXPECT_EQ(2u, written);
  EXPECT_EQ(std::string("abXY"), std::string(buffer, 4));
  // Positioned at 4, the buffer is full.
  EXPECT_EQ(SR_EOS, stream.Write("Q", 1, &written, nullptr));
  EXPECT_TRUE(stream.ReserveSize(4));
  EXPECT_FALSE(stream.ReserveSize(5));

  char other[2] = {'1', '2'};
  stream.SetData(other, 2);
  char out[8];
  size_t read = 0;
  ASSERT_EQ(SR_SUCCESS, stream.Read(out, sizeof(out), &read, nullptr));
  EXPECT_EQ(std::string("12"), std::string(out, read));

  ExternalMemoryStream empty;
  EXPECT_EQ(SR_EOS, empty.Write("x", 1, &written, nullptr));
  EXPECT_EQ(SR_EOS, empty.Read(out, 1, &read, nullptr));
}

TEST(StringStreamTest, ReadsAndAppends) {
  std::string text = "abc";
  StringStream stream(&text);
  char buf[8];
  size_t read = 0;
  ASSERT_EQ(SR_SUCCESS, stream.Read(buf, 2, &read, nullptr));
  EXPECT_EQ(std::string("ab"), std::string(buf, read));
  // Writes append whatever the read position.
  size_t written = 0;
  ASSERT_EQ(SR_SUCCESS, stream.Write("de", 2, &written, nullptr));
  EXPECT_EQ(2u, written);
  EXPECT_EQ("abcde", text);
  size_t position = 0, size = 0, available = 0;
  EXPECT_TRUE(stream.GetPosition(&position));
  EXPECT_TRUE(stream.GetSize(&size));
  EXPECT_TRUE(stream.GetAvailable(&available));
  EXPECT_EQ(2u, position);
  EXPECT_EQ(5u, size);
  EXPECT_EQ(3u, available);
  EXPECT_EQ(SR_EOS, stream.Read(buf, 0, &read, nullptr));  // nothing asked
  ASSERT_EQ(SR_SUCCESS, stream.Read(buf, sizeof(buf), &read, nullptr));
  EXPECT_EQ(std::string("cde"), std::string(buf, read));
  EXPECT_EQ(SR_EOS, stream.Read(buf, sizeof(buf), &read, nullptr));
  EXPECT_FALSE(stream.SetPosition(6));
  EXPECT_TRUE(stream.SetPosition(5));
  EXPECT_TRUE(stream.ReserveSize(100));
  EXPECT_GE(text.capacity(), 100u);
  EXPECT_FALSE(stream.ReserveSize(text.max_size() + 1));
  EXPECT_EQ(SS_OPEN, stream.GetState());
}

TEST(StringStreamTest, ReadOnlyRefusesWrites) {
  const std::string text = "fixed";
  StringStream stream(text);
  int error = 0;
  size_t written = 9;
  EXPECT_EQ(SR_ERROR, stream.Write("x", 1, &written, &error));
  EXPECT_EQ(-1, error);
  EXPECT_EQ(9u, written);
  EXPECT_FALSE(stream.ReserveSize(10));
  EXPECT_EQ("fixed", text);
  char buf[8];
  size_t read = 0;
  ASSERT_EQ(SR_SUCCESS, stream.Read(buf, sizeof(buf), &read, nullptr));
  EXPECT_EQ(std::string("fixed"), std::string(buf, read));
}

}  // namespace
}  // namespace talk_base
