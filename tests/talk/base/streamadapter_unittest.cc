// The stream adapters and PumpStream.
#include "talk/base/streamadapter.h"

#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "talk/base/memorystream.h"
#include "talk/base/pumpstream.h"
#include "talk/base/stringstream.h"
#include "teststreams.h"

namespace talk_base {
namespace {

// A memory stream that tells when it is deleted.
class TrackedStream : public MemoryStream {
 public:
  TrackedStream(const std::string& data, std::atomic<int>* deleted)
      : MemoryStream(data.data(), data.size()), deleted_(deleted) {}
  ~TrackedStream() override { ++*deleted_; }

 private:
  std::atomic<int>* deleted_;
};

std::string ReadAllOf(StreamInterface* stream) {
  std::string result;
  char buf[7];
  size_t read = 0;
  while (stream->Read(buf, sizeof(buf), &read, nullptr) == SR_SUCCESS) {
    result.append(buf, read);
  }
  return result;
}

TEST(StreamAdapterTest, ForwardsAndReemitsEventsAsItsOwn) {
  std::string text = "payload";
  StringStream* inner = new StringStream(&text);
  StreamAdapterInterface adapter(inner);
  EventRecorder recorder;
  adapter.SignalEvent.connect(&recorder, &EventRecorder::OnEvent);
  EXPECT_EQ(SS_OPEN, adapter.GetState());
  size_t size = 0;
  EXPECT_TRUE(adapter.GetSize(&size));
  EXPECT_EQ(7u, size);
  EXPECT_EQ("payload", ReadAllOf(&adapter));
  EXPECT_TRUE(adapter.SetPosition(3));
  size_t position = 0;
  EXPECT_TRUE(adapter.GetPosition(&position));
  EXPECT_EQ(3u, position);
  size_t written = 0;
  EXPECT_EQ(SR_SUCCESS, adapter.Write("!", 1, &written, nullptr));
  EXPECT_EQ("payload!", text);
  // The buffer operations are not forwarded.
  size_t len = 0;
  EXPECT_EQ(nullptr, adapter.GetReadData(&len));

  inner->SignalEvent(inner, SE_READ, 5);
  ASSERT_EQ(1u, recorder.events_.size());
  EXPECT_EQ(&adapter, recorder.streams_[0]);
  EXPECT_EQ(SE_READ, recorder.events_[0]);
  EXPECT_EQ(5, recorder.errors_[0]);
}

TEST(StreamAdapterTest, AttachAndDetach) {
  std::atomic<int> deleted(0);
  TrackedStream* first = new TrackedStream("one", &deleted);
  TrackedStream* second = new TrackedStream("two", &deleted);
  EventRecorder recorder;
  {
    StreamAdapterInterface adapter(first);
    adapter.SignalEvent.connect(&recorder, &EventRecorder::OnEvent);
    adapter.Attach(second, false);  // the owned first one goes
    EXPECT_EQ(1, deleted.load());
    EXPECT_EQ("two", ReadAllOf(&adapter));
    EXPECT_EQ(second, adapter.Detach());
    // Detached: the stream's events no longer reach the adapter.
    second->SignalEvent(second, SE_OPEN, 0);
    EXPECT_TRUE(recorder.events_.empty());
  }
  // Not owned when the adapter went.
  EXPECT_EQ(1, deleted.load());
  {
    StreamAdapterInterface adapter(second, false);
  }
  EXPECT_EQ(1, deleted.load());
  delete second;
  EXPECT_EQ(2, deleted.load());
}

TEST(StreamReferenceTest, TheLastReferenceDeletesTheStream) {
  std::atomic<int> deleted(0);
  StreamReference* first = new StreamReference(new TrackedStream("abc", &deleted));
  StreamReference* second = first->NewReference();
  StreamReference* third = second->NewReference();
  char c = 0;
  size_t read = 0;
  ASSERT_EQ(SR_SUCCESS, second->Read(&c, 1, &read, nullptr));
  EXPECT_EQ('a', c);
  ASSERT_EQ(SR_SUCCESS, third->Read(&c, 1, &read, nullptr));
  EXPECT_EQ('b', c);  // one stream, one position
  delete first;
  delete third;
  EXPECT_EQ(0, deleted.load());
  delete second;
  EXPECT_EQ(1, deleted.load());
}

TEST(StreamReferenceTest, ReferencesMadeAndDroppedOnManyThreads) {
  std::atomic<int> deleted(0);
  StreamReference* root = new StreamReference(new TrackedStream("x", &deleted));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    StreamReference* mine = root->NewReference();
    threads.emplace_back([mine] {
      for (int i = 0; i < 200; ++i) delete mine->NewReference();
      delete mine;
    });
  }
  delete root;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(1, deleted.load());
}

TEST(StreamSegmentTest, BoundedWindowFromTheCurrentPosition) {
  std::string data(120, '.');
  for (size_t i = 100; i < 110; ++i) data[i] = static_cast<char>('a' + i - 100);
  MemoryStream* inner = new MemoryStream(data.data(), data.size());
  ASSERT_TRUE(inner->SetPosition(100));
  StreamSegment segment(inner, 5);
  size_t size = 0;
  EXPECT_TRUE(segment.GetSize(&size));
  EXPECT_EQ(5u, size);
  size_t available = 0;
  EXPECT_TRUE(segment.GetAvailable(&available));
  EXPECT_EQ(5u, available);
  EXPECT_EQ("abcde", ReadAllOf(&segment));
  char c;
  size_t read = 0;
  EXPECT_EQ(SR_EOS, segment.Read(&c, 1, &read, nullptr));
  size_t position = 0;
  EXPECT_TRUE(segment.GetPosition(&position));
  EXPECT_EQ(5u, position);
  EXPECT_TRUE(segment.GetAvailable(&available));
  EXPECT_EQ(0u, available);

  EXPECT_FALSE(segment.SetPosition(6));  // past the bound
  ASSERT_TRUE(segment.SetPosition(2));
  EXPECT_EQ("cde", ReadAllOf(&segment));
}

TEST(StreamSegmentTest, SizeIsCutByTheStreamAndUnboundedFollowsIt) {
  MemoryStream* inner = new MemoryStream("0123456789");
  ASSERT_TRUE(inner->SetPosition(7));
  StreamSegment bounded(inner, 5);
  size_t size = 0;
  EXPECT_TRUE(bounded.GetSize(&size));
  EXPECT_EQ(3u, size);  // min(5, 10 - 7)

  MemoryStream* other = new MemoryStream("0123456789");
  ASSERT_TRUE(other->SetPosition(4));
  StreamSegment unbounded(other);
  EXPECT_TRUE(unbounded.GetSize(&size));
  EXPECT_EQ(6u, size);
  EXPECT_EQ("456789", ReadAllOf(&unbounded));
}

TEST(StreamSegmentTest, StreamBeforeTheStartHasNoPositionOrSize) {
  MemoryStream* inner = new MemoryStream("0123456789");
  ASSERT_TRUE(inner->SetPosition(6));
  StreamSegment segment(inner);
  // Someone moves the shared stream back before the segment.
  ASSERT_TRUE(inner->SetPosition(2));
  size_t position = 77;
  EXPECT_FALSE(segment.GetPosition(&position));
  EXPECT_EQ(77u, position);
  // Shrinking the data below the start leaves no size.
  inner->SetData("01", 2);
  size_t size = 77;
  EXPECT_FALSE(segment.GetSize(&size));
  EXPECT_EQ(77u, size);
}

TEST(StreamSegmentTest, FailedSeekKeepsThePosition) {
  MemoryStream* inner = new MemoryStream("0123456789");
  ASSERT_TRUE(inner->SetPosition(3));
  StreamSegment segment(inner);
  char buf[2];
  size_t read = 0;
  ASSERT_EQ(SR_SUCCESS, segment.Read(buf, 2, &read, nullptr));
  EXPECT_FALSE(segment.SetPosition(50));  // the memory stream refuses it
  size_t position = 0;
  EXPECT_TRUE(segment.GetPosition(&position));
  EXPECT_EQ(2u, position);
  // A bounded segment still reads its remaining length.
  MemoryStream* other = new MemoryStream("0123456789");
  StreamSegment bounded(other, 4);
  ASSERT_EQ(SR_SUCCESS, bounded.Read(buf, 2, &read, nullptr));
  EXPECT_FALSE(bounded.SetPosition(20));
  EXPECT_EQ("23", ReadAllOf(&bounded));
}

TEST(StreamSegmentTest, UnknownStartHasNoPosition) {
  // A stream that cannot tell its position.
  StreamSegment segment(new ScriptedStream("abcdef", 4, 100, SR_EOS), 5);
  size_t position = 0, size = 0;
  EXPECT_FALSE(segment.GetPosition(&position));
  EXPECT_FALSE(segment.GetSize(&size));
  EXPECT_FALSE(segment.SetPosition(0));
  EXPECT_EQ("abcde", ReadAllOf(&segment));  // the bound still holds
}

TEST(StreamTapTest, CopiesTrafficUntilTheTapFails) {
  std::string sink;
  // The tap takes 5 bytes, then fails with error 42.
  ScriptedStream* tap = new ScriptedStream("", 100, 5, SR_ERROR);
  StreamTap stream(new StringStream(&sink), tap);
  size_t written = 0;
  ASSERT_EQ(SR_SUCCESS, stream.Write("abc", 3, &written, nullptr));
  EXPECT_EQ("abc", tap->sink());
  int error = 0;
  EXPECT_EQ(SR_SUCCESS, stream.GetTapResult(&error));
  ASSERT_EQ(SR_SUCCESS, stream.Write("defg", 4, &written, nullptr));
  EXPECT_EQ(SR_ERROR, stream.GetTapResult(&error));
  EXPECT_EQ(42, error);
  const int calls = tap->calls();
  // Pass-through goes on; the tap is not asked again.
  ASSERT_EQ(SR_SUCCESS, stream.Write("hi", 2, nullptr, nullptr));
  EXPECT_EQ("abcdefghi", sink);
  EXPECT_EQ(calls, tap->calls());
  EXPECT_EQ("abcde", tap->sink());

  EXPECT_EQ(tap, stream.DetachTap());
  delete tap;
}

TEST(StreamTapTest, ReadsAreCopiedAndTapsReplaced) {
  std::atomic<int> deleted(0);
  StreamTap stream(new MemoryStream("read me"),
                   new TrackedStream("", &deleted));
  std::string copy;
  StringStream* second = new StringStream(&copy);
  stream.AttachTap(second);
  EXPECT_EQ(1, deleted.load());  // the old tap went
  stream.AttachTap(second);      // the same one again is kept
  EXPECT_EQ("read me", ReadAllOf(&stream));
  EXPECT_EQ("read me", copy);
}

TEST(LoggingAdapterTest, LogsTrafficAndCloses) {
  LogCapture capture;
  std::string text = "from stream\n";
  LoggingAdapter adapter(new StringStream(&text), LS_INFO, "lbl");
  char buf[64];
  size_t read = 0;
  ASSERT_EQ(SR_SUCCESS, adapter.Read(buf, sizeof(buf), &read, nullptr));
  ASSERT_EQ(SR_SUCCESS, adapter.Write("to stream\n", 10, nullptr, nullptr));
  // Binary output stays pending until the close flushes it.
  ASSERT_EQ(SR_SUCCESS, adapter.Write("\x01\x02\n", 3, nullptr, nullptr));
  adapter.Close();
  EXPECT_EQ((std::vector<std::string>{
                "INFO(logging.cc): [lbl] << from stream",
                "INFO(logging.cc): [lbl] >> to stream",
                "INFO(logging.cc): [lbl] >> ## 3 consecutive unprintable ##",
            }),
            capture.Lines("logging.cc"));
  EXPECT_EQ(std::vector<std::string>{
                "INFO(streamadapter.cc): [lbl] Closed locally"},
            capture.Lines("streamadapter.cc"));
}

TEST(LoggingAdapterTest, LogsOpenAndRemoteCloseAndPassesThemOn) {
  LogCapture capture;
  NullStream* inner = new NullStream;
  LoggingAdapter adapter(inner, LS_WARNING, "peer", true);
  EventRecorder recorder;
  adapter.SignalEvent.connect(&recorder, &EventRecorder::OnEvent);
  ASSERT_EQ(SR_SUCCESS, adapter.Write("\x01", 1, nullptr, nullptr));
  inner->SignalEvent(inner, SE_OPEN | SE_WRITE, 0);
  inner->SignalEvent(inner, SE_CLOSE, 104);
  EXPECT_EQ((std::vector<std::string>{
                "WARNING(streamadapter.cc): [peer] Open",
                "WARNING(streamadapter.cc): [peer] Closed with error: 104"}),
            capture.Lines("streamadapter.cc"));
  // Hex mode logs the write itself.
  EXPECT_EQ(1u, capture.Lines("logging.cc").size());
  EXPECT_EQ((std::vector<int>{SE_OPEN | SE_WRITE, SE_CLOSE}), recorder.events_);
  EXPECT_EQ(&adapter, recorder.streams_[0]);
}

// PumpStream

TEST(PumpStreamTest, CopiesEverythingThroughASmallBuffer) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>(i));
  ScriptedStream source(data, 13, data.size(), SR_EOS);
  std::string out;
  StringStream sink(&out);
  char buffer[64];
  size_t pending = 0;
  EXPECT_EQ(SR_SUCCESS, PumpStream(&source, buffer, sizeof(buffer), &sink,
                                   &pending));
  EXPECT_EQ(0u, pending);
  EXPECT_EQ(data, out);
  // Without a pending count too.
  ScriptedStream again(data, 100, data.size(), SR_EOS);
  out.clear();
  EXPECT_EQ(SR_SUCCESS,
            PumpStream(&again, buffer, sizeof(buffer), &sink, nullptr));
  EXPECT_EQ(data, out);
}

TEST(PumpStreamTest, BlockedSinkLeavesTheRestAtTheStart) {
  const std::string data = "0123456789ABCDEF";
  ScriptedStream source(data, 100, data.size(), SR_EOS);
  // The sink takes half of a full buffer, then blocks.
  ScriptedStream sink("", 100, 4, SR_BLOCK);
  char buffer[8];
  size_t pending = 0;
  EXPECT_EQ(SR_BLOCK, PumpStream(&source, buffer, sizeof(buffer), &sink,
                                 &pending));
  EXPECT_EQ(4u, pending);
  EXPECT_EQ("4567", std::string(buffer, pending));
  EXPECT_EQ("0123", sink.sink());

  // Resuming with the pending bytes into a sink that takes everything.
  std::string out;
  StringStream rest(&out);
  EXPECT_EQ(SR_SUCCESS, PumpStream(&source, buffer, sizeof(buffer), &rest,
                                   &pending));
  EXPECT_EQ("456789ABCDEF", out);
}

TEST(PumpStreamTest, SourceFailuresAndBadArguments) {
  const std::string data = "abcdef";
  ScriptedStream source(data, 100, 3, SR_BLOCK);
  std::string out;
  StringStream sink(&out);
  char buffer[8];
  size_t pending = 0;
  // The first three bytes fill, then the source blocks before a drain.
  EXPECT_EQ(SR_BLOCK,
            PumpStream(&source, buffer, sizeof(buffer), &sink, &pending));
  EXPECT_EQ(3u, pending);
  EXPECT_EQ("abc", std::string(buffer, 3));

  ScriptedStream failing("", 1, 0, SR_ERROR);
  pending = 0;
  EXPECT_EQ(SR_ERROR,
            PumpStream(&failing, buffer, sizeof(buffer), &sink, &pending));

  ScriptedStream unused(data, 100, 100, SR_EOS);
  EXPECT_EQ(SR_ERROR, PumpStream(&unused, buffer, 0, &sink, nullptr));
  pending = sizeof(buffer) + 1;
  EXPECT_EQ(SR_ERROR,
            PumpStream(&unused, buffer, sizeof(buffer), &sink, &pending));
  EXPECT_EQ(0, unused.calls());
}

}  // namespace
}  // namespace talk_base
