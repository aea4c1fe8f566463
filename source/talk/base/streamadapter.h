// Streams that wrap another stream.
//
// StreamAdapterInterface forwards state, reads, writes, close and
// positioning to the wrapped stream and re-emits its events as its own; it
// deletes the wrapped stream when it owns it. The adapters built on it:
// - StreamReference: one of several handles that share a stream; the last
//   to go deletes it.
// - StreamSegment: a window of the wrapped stream starting at its position
//   when the segment was made, optionally bounded in length.
// - StreamTap: copies every byte read or written to a second stream until
//   that copy first fails.
// - LoggingAdapter: logs the traffic with LogMultiline and the open and
//   close events.
//
// Threads: one thread at a time, except that StreamReferences to one
// stream may be made and destroyed on different threads (only their count
// is locked; the stream itself is not).
#ifndef TALK_BASE_STREAMADAPTER_H_
#define TALK_BASE_STREAMADAPTER_H_

#include <cstddef>
#include <mutex>
#include <string>

#include "talk/base/logging.h"
#include "talk/base/sigslot.h"
#include "talk/base/stream.h"

namespace talk_base {

class StreamAdapterInterface : public StreamInterface,
                               public sigslot::has_slots<> {
 public:
  explicit StreamAdapterInterface(StreamInterface* stream, bool owned = true);
  ~StreamAdapterInterface() override;

  StreamState GetState() const override;
  StreamResult Read(void* buffer, size_t buffer_len, size_t* read,
                    int* error) override;
  StreamResult Write(const void* data, size_t data_len, size_t* written,
                     int* error) override;
  void Close() override;
  bool SetPosition(size_t position) override;
  bool GetPosition(size_t* position) const override;
  bool GetSize(size_t* size) const override;
  bool GetAvailable(size_t* size) const override;
  bool GetWriteRemaining(size_t* size) const override;
  bool ReserveSize(size_t size) override;

  // Wraps |stream| (nothing when null) instead of the current one, which is
  // deleted when it was owned.
  void Attach(StreamInterface* stream, bool owned = true);
  // Lets go of the wrapped stream without deleting it and returns it.
  StreamInterface* Detach();

 protected:
  // Re-emits the wrapped stream's events as this adapter's.
  virtual void OnEvent(StreamInterface* stream, int events, int err);

  StreamInterface* stream() const { return stream_; }

 private:
  StreamInterface* stream_;
  bool owned_;
};

class StreamReference : public StreamAdapterInterface {
 public:
  // The first reference to |stream|, which it shares from now on.
  explicit StreamReference(StreamInterface* stream);
  ~StreamReference() override;

  // Another reference to the same stream; any thread may make one.
  StreamReference* NewReference();

 private:
  struct StreamRefCount {
    explicit StreamRefCount(StreamInterface* s) : stream(s), ref_count(1) {}
    StreamInterface* stream;
    int ref_count;
    std::recursive_mutex crit;
  };

  explicit StreamReference(StreamRefCount* holder);

  StreamRefCount* holder_;
};

class StreamSegment : public StreamAdapterInterface {
 public:
  // Unbounded, or |length| bytes long, from the stream's current position.
  explicit StreamSegment(StreamInterface* stream);
  StreamSegment(StreamInterface* stream, size_t length);

  StreamResult Read(void* buffer, size_t buffer_len, size_t* read,
                    int* error) override;
  // Positions are relative to the segment's start. A stream that cannot
  // tell where the segment starts, or that now lies before that start,
  // has no position or size.
  bool SetPosition(size_t position) override;
  bool GetPosition(size_t* position) const override;
  bool GetSize(size_t* size) const override;
  bool GetAvailable(size_t* size) const override;

 private:
  static const size_t kUnknown = static_cast<size_t>(-1);

  size_t start_;     // kUnknown when the stream could not tell
  size_t pos_;       // relative to start_
  size_t length_;    // kUnknown when unbounded
};

class StreamTap : public StreamAdapterInterface {
 public:
  // Owns both |stream| and |tap|.
  StreamTap(StreamInterface* stream, StreamInterface* tap);
  ~StreamTap() override;

  // Takes |tap| in place of the current one, which is deleted.
  void AttachTap(StreamInterface* tap);
  // Gives the tap back to the caller.
  StreamInterface* DetachTap();
  // SR_SUCCESS until a copy to the tap fails; then that result and error.
  StreamResult GetTapResult(int* error);

  StreamResult Read(void* buffer, size_t buffer_len, size_t* read,
                    int* error) override;
  StreamResult Write(const void* data, size_t data_len, size_t* written,
                     int* error) override;

 private:
  void Copy(const void* data, size_t len);

  StreamInterface* tap_;
  StreamResult tap_result_;
  int tap_error_;
};

class LoggingAdapter : public StreamAdapterInterface {
 public:
  LoggingAdapter(StreamInterface* stream, LogSeverity level,
                 const std::string& label, bool hex_mode = false);

  // The label goes into every line as "[label]".
  void SetLabel(const std::string& label);

  StreamResult Read(void* buffer, size_t buffer_len, size_t* read,
                    int* error) override;
  StreamResult Write(const void* data, size_t data_len, size_t* written,
                     int* error) override;
  void Close() override;

 protected:
  void OnEvent(StreamInterface* stream, int events, int err) override;

 private:
  // Logs the pending unprintable counts, output first.
  void Flush();

  LogSeverity level_;
  std::string label_;
  bool hex_mode_;
  LogMultilineState lms_;
};

}  // namespace talk_base

#endif  // TALK_BASE_STREAMADAPTER_H_
