// Streams and helpers for stream tests: a stream that moves a scripted
// number of bytes per call, a recorder of stream events, a receiver that
// holds an emit up, and a drain of the current queue.
#ifndef TESTS_TALK_BASE_TESTSTREAMS_H_
#define TESTS_TALK_BASE_TESTSTREAMS_H_

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "talk/base/sigslot.h"
#include "talk/base/stream.h"
#include "talk/base/thread.h"

// Serves reads from |data| and takes writes into |sink|, at most |step|
// bytes per call; after |budget| bytes have moved each call answers
// |then|.
class ScriptedStream : public talk_base::StreamInterface {
 public:
  ScriptedStream(const std::string& data, size_t step, size_t budget,
                 talk_base::StreamResult then)
      : data_(data), step_(step), budget_(budget), then_(then) {}

  talk_base::StreamState GetState() const override {
    return talk_base::SS_OPEN;
  }
  talk_base::StreamResult Read(void* buffer, size_t len, size_t* read,
                               int* error) override {
    ++calls_;
    const size_t n = Allow(std::min(len, data_.size() - position_));
    if (n == 0) return Refuse(error);
    data_.copy(static_cast<char*>(buffer), n, position_);
    position_ += n;
    if (read) *read = n;
    return talk_base::SR_SUCCESS;
  }
  talk_base::StreamResult Write(const void* data, size_t len,
                                size_t* written, int* error) override {
    ++calls_;
    const size_t n = Allow(len);
    if (n == 0) return Refuse(error);
    sink_.append(static_cast<const char*>(data), n);
    if (written) *written = n;
    return talk_base::SR_SUCCESS;
  }
  void Close() override {}

  const std::string& sink() const { return sink_; }
  int calls() const { return calls_; }

 private:
  size_t Allow(size_t wanted) {
    const size_t n = std::min(std::min(wanted, step_), budget_);
    budget_ -= n;
    return n;
  }
  talk_base::StreamResult Refuse(int* error) {
    if (then_ == talk_base::SR_ERROR && error) *error = 42;
    return then_;
  }

  std::string data_;
  size_t position_ = 0;
  size_t step_;
  size_t budget_;
  talk_base::StreamResult then_;
  std::string sink_;
  int calls_ = 0;
};

// Records the events a stream signals, and on which OS thread.
class EventRecorder : public sigslot::has_slots<> {
 public:
  void OnEvent(talk_base::StreamInterface* stream, int events, int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    streams_.push_back(stream);
    events_.push_back(events);
    errors_.push_back(error);
    threads_.push_back(pthread_self());
    changed_.notify_all();
  }

  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return events_.size() >= count; });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<talk_base::StreamInterface*> streams_;
  std::vector<int> events_;
  std::vector<int> errors_;
  std::vector<pthread_t> threads_;
};

// A receiver that, on an event, says it has entered, waits a while, and
// then, when asked to, reads what the stream holds: it keeps an emit
// running long enough for another thread to act meanwhile.
class SlowReceiver : public sigslot::has_slots<> {
 public:
  explicit SlowReceiver(bool reads) : reads_(reads) {}

  void OnEvent(talk_base::StreamInterface* stream, int, int) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      entered_ = true;
    }
    changed_.notify_all();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!reads_) return;
    char buf[64];
    size_t n = 0;
    if (stream->Read(buf, sizeof(buf), &n, nullptr) == talk_base::SR_SUCCESS) {
      read_.assign(buf, n);
    }
  }

  bool WaitEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [this] { return entered_; });
  }

  // What the read got; look only once the emit is over.
  const std::string& read() const { return read_; }

 private:
  const bool reads_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  std::string read_;
};

// Dispatches every message that is ready on |thread|'s queue.
inline void DrainQueue(talk_base::Thread* thread) {
  talk_base::Message message;
  while (thread->Get(&message, 0)) thread->Dispatch(&message);
}

#endif  // TESTS_TALK_BASE_TESTSTREAMS_H_
