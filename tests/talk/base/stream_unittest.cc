// The stream interface's helper loops, its defaults, the null stream and
// events posted to threads.
#include "talk/base/stream.h"

#include <pthread.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "talk/base/thread.h"
#include "teststreams.h"

using talk_base::StreamInterface;
using talk_base::StreamResult;

namespace {


TEST(StreamInterfaceTest, WriteAllLoopsOverPartialWrites) {
  ScriptedStream stream("", 3, 100, talk_base::SR_BLOCK);
  size_t written = 0;
  EXPECT_EQ(talk_base::SR_SUCCESS,
            stream.WriteAll("abcdefgh", 8, &written, nullptr));
  EXPECT_EQ(8u, written);
  EXPECT_EQ("abcdefgh", stream.sink());
  EXPECT_EQ(3, stream.calls());

  // Nothing to write: success without a call.
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.WriteAll("", 0, &written, nullptr));
  EXPECT_EQ(0u, written);
  EXPECT_EQ(3, stream.calls());
}

TEST(StreamInterfaceTest, WriteAllStopsAtTheFirstRefusal) {
  const StreamResult kRefusals[] = {talk_base::SR_BLOCK, talk_base::SR_EOS,
                                    talk_base::SR_ERROR};
  for (StreamResult refusal : kRefusals) {
    SCOPED_TRACE(refusal);
    ScriptedStream stream("", 3, 5, refusal);
    size_t written = 0;
    int error = 0;
    EXPECT_EQ(refusal, stream.WriteAll("abcdefgh", 8, &written, &error));
    EXPECT_EQ(5u, written);
    EXPECT_EQ("abcde", stream.sink());
    EXPECT_EQ(refusal == talk_base::SR_ERROR ? 42 : 0, error);
  }
}

TEST(StreamInterfaceTest, ReadAllLoopsAndReportsWhatItGot) {
  ScriptedStream stream("0123456789", 4, 100, talk_base::SR_EOS);
  char buffer[16];
  size_t read = 0;
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadAll(buffer, 6, &read, nullptr));
  EXPECT_EQ("012345", std::string(buffer, read));
  EXPECT_EQ(talk_base::SR_EOS,
            stream.ReadAll(buffer, sizeof(buffer), &read, nullptr));
  EXPECT_EQ("6789", std::string(buffer, read));
}

TEST(StreamInterfaceTest, ReadLine) {
  ScriptedStream stream("ab\ncd", 1, 100, talk_base::SR_EOS);
  std::string line;
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadLine(&line));
  EXPECT_EQ("ab", line);
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadLine(&line));
  EXPECT_EQ("cd", line);
  EXPECT_EQ(talk_base::SR_EOS, stream.ReadLine(&line));
  EXPECT_EQ("", line);

  // A line cut by a blocking read is returned; the next call blocks.
  ScriptedStream blocking("xy", 1, 2, talk_base::SR_BLOCK);
  EXPECT_EQ(talk_base::SR_SUCCESS, blocking.ReadLine(&line));
  EXPECT_EQ("xy", line);
  EXPECT_EQ(talk_base::SR_BLOCK, blocking.ReadLine(&line));
}

TEST(StreamInterfaceTest, DefaultsOfTheInterface) {
  ScriptedStream stream("", 1, 0, talk_base::SR_EOS);
  size_t value = 7;
  EXPECT_EQ(nullptr, stream.GetReadData(&value));
  EXPECT_EQ(nullptr, stream.GetWriteBuffer(&value));
  stream.ConsumeReadData(1);
  stream.ConsumeWriteBuffer(1);
  EXPECT_FALSE(stream.SetPosition(0));
  EXPECT_FALSE(stream.GetPosition(&value));
  EXPECT_FALSE(stream.GetSize(&value));
  EXPECT_FALSE(stream.GetAvailable(&value));
  EXPECT_FALSE(stream.GetWriteRemaining(&value));
  EXPECT_TRUE(stream.ReserveSize(1000));
  EXPECT_EQ(7u, value);
}

TEST(NullStreamTest, AcceptsEverythingYieldsNothing) {
  talk_base::NullStream stream;
  EXPECT_EQ(talk_base::SS_OPEN, stream.GetState());
  char buffer[4];
  int error = 0;
  size_t count = 99;
  EXPECT_EQ(talk_base::SR_ERROR, stream.Read(buffer, 4, &count, &error));
  EXPECT_EQ(-1, error);
  EXPECT_EQ(99u, count);
  const std::string big(1 << 20, 'x');
  EXPECT_EQ(talk_base::SR_SUCCESS,
            stream.Write(big.data(), big.size(), &count, nullptr));
  EXPECT_EQ(big.size(), count);
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.Write(nullptr, 0, &count, nullptr));
  EXPECT_EQ(0u, count);
  stream.Close();
  EXPECT_EQ(talk_base::SS_OPEN, stream.GetState());
}



TEST(StreamEventTest, PostedEventsArriveThroughTheQueue) {
  talk_base::Thread* current = talk_base::Thread::Current();
  ASSERT_NE(nullptr, current);
  talk_base::NullStream stream;
  EventRecorder recorder;
  stream.SignalEvent.connect(&recorder, &EventRecorder::OnEvent);

  stream.PostEvent(talk_base::SE_OPEN | talk_base::SE_READ, 0);
  stream.PostEvent(current, talk_base::SE_CLOSE, 104);
  // Nothing is signalled before the queue is processed.
  EXPECT_TRUE(recorder.events_.empty());
  DrainQueue(current);
  ASSERT_EQ(2u, recorder.events_.size());
  EXPECT_EQ(&stream, recorder.streams_[0]);
  EXPECT_EQ(talk_base::SE_OPEN | talk_base::SE_READ, recorder.events_[0]);
  EXPECT_EQ(0, recorder.errors_[0]);
  EXPECT_EQ(talk_base::SE_CLOSE, recorder.events_[1]);
  EXPECT_EQ(104, recorder.errors_[1]);
}

TEST(StreamEventTest, OtherMessagesAreIgnored) {
  talk_base::NullStream stream;
  EventRecorder recorder;
  stream.SignalEvent.connect(&recorder, &EventRecorder::OnEvent);
  talk_base::Message message;
  message.phandler = &stream;
  message.message_id = talk_base::MSG_POST_EVENT + 1;
  stream.OnMessage(&message);
  EXPECT_TRUE(recorder.events_.empty());
}

TEST(StreamEventTest, EventReachesTheTargetThread) {
  talk_base::Thread worker;
  ASSERT_TRUE(worker.Start());
  talk_base::NullStream stream;
  EventRecorder recorder;
  stream.SignalEvent.connect(&recorder, &EventRecorder::OnEvent);
  stream.PostEvent(&worker, talk_base::SE_WRITE, 7);
  ASSERT_TRUE(recorder.WaitFor(1));
  const pthread_t worker_thread = worker.GetPThread();
  worker.Stop();
  EXPECT_EQ(talk_base::SE_WRITE, recorder.events_[0]);
  EXPECT_EQ(7, recorder.errors_[0]);
  EXPECT_TRUE(pthread_equal(worker_thread, recorder.threads_[0]));
}

TEST(StreamEventTest, DestroyedStreamGetsNoEvent) {
  talk_base::Thread* current = talk_base::Thread::Current();
  ASSERT_NE(nullptr, current);
  EventRecorder recorder;
  {
    talk_base::NullStream stream;
    stream.SignalEvent.connect(&recorder, &EventRecorder::OnEvent);
    stream.PostEvent(talk_base::SE_READ, 0);
  }
  // The pending event and its data went with the stream.
  DrainQueue(current);
  EXPECT_TRUE(recorder.events_.empty());
}

// A stream deleted on one thread while its event is being emitted on
// another: the deletion waits, and every receiver gets the event.
TEST(StreamEventTest, DeletedWhileItsEventIsEmittedElsewhere) {
  talk_base::Thread worker;
  ASSERT_TRUE(worker.Start());
  auto* stream = new talk_base::NullStream;
  // The NullStream part is gone while the deletion waits: only the
  // interface is whole, so the receiver leaves the stream alone.
  SlowReceiver slow(false);
  EventRecorder witness;
  stream->SignalEvent.connect(&slow, &SlowReceiver::OnEvent);
  stream->SignalEvent.connect(&witness, &EventRecorder::OnEvent);
  stream->PostEvent(&worker, talk_base::SE_WRITE, 0);
  ASSERT_TRUE(slow.WaitEntered());
  delete stream;
  EXPECT_EQ(std::vector<int>{talk_base::SE_WRITE}, witness.events_);
  worker.Stop();
}

// Without a thread to carry it an event goes nowhere: neither a null
// target nor an OS thread that has no Thread of its own posts anything.
TEST(StreamEventTest, NoThreadNoEvent) {
  talk_base::Thread* current = talk_base::Thread::Current();
  ASSERT_NE(nullptr, current);
  talk_base::NullStream stream;
  EventRecorder recorder;
  stream.SignalEvent.connect(&recorder, &EventRecorder::OnEvent);
  stream.PostEvent(nullptr, talk_base::SE_READ, 0);
  bool had_thread = true;
  std::thread plain([&] {
    had_thread = talk_base::Thread::Current() != nullptr;
    stream.PostEvent(talk_base::SE_READ, 0);
  });
  plain.join();
  EXPECT_FALSE(had_thread);
  DrainQueue(current);
  EXPECT_TRUE(recorder.events_.empty());
}

}  // namespace
