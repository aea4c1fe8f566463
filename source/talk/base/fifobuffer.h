// A thread-safe ring buffer as a stream.
//
// Writes append at the end of the data and reads take from its start; the
// data wraps at the buffer's end. When a write puts the first bytes into an
// empty buffer the FIFO posts SE_READ, and when a read frees room in a full
// one it posts SE_WRITE; both go to the thread that made the FIFO and reach
// SignalEvent there. None are posted when that thread had no Thread, nor
// once its Thread's queue is destroyed. Close marks the end: reads then
// drain the data and answer SR_EOS.
//
// A FIFO whose buffer could not be allocated holds nothing and answers its
// writes with SR_ERROR and error ENOMEM until SetCapacity gives it a buffer;
// a SetCapacity that cannot allocate answers false and keeps the old one.
//
// Threads: every operation may come from any thread; all but GetState run
// under one recursive mutex. The pointers that GetReadData and
// GetWriteBuffer hand out stay valid only until the matching Consume call,
// and SetCapacity must not run while one is held; use them from a single
// reader and a single writer. The FIFO may be deleted on any thread: an
// event being delivered on the owner thread finishes first.
#ifndef TALK_BASE_FIFOBUFFER_H_
#define TALK_BASE_FIFOBUFFER_H_

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>

#include "talk/base/stream.h"
#include "talk/base/threadwatch.h"

namespace talk_base {

class FifoBuffer : public StreamInterface {
 public:
  explicit FifoBuffer(size_t length);
  ~FifoBuffer() override;

  // The bytes buffered; always true.
  bool GetBuffered(size_t* data_len) const;
  // Changes the buffer's length, keeping the data; false when the data
  // would not fit.
  bool SetCapacity(size_t length);

  // Copies up to |bytes| bytes starting |offset| bytes into the data,
  // consuming nothing.
  StreamResult ReadOffset(void* buffer, size_t bytes, size_t offset,
                          size_t* bytes_read);
  // Copies up to |bytes| bytes to |offset| bytes past the end of the data,
  // committing nothing.
  StreamResult WriteOffset(const void* buffer, size_t bytes, size_t offset,
                           size_t* bytes_written);

  StreamState GetState() const override;
  StreamResult Read(void* buffer, size_t bytes, size_t* bytes_read,
                    int* error) override;
  StreamResult Write(const void* buffer, size_t bytes, size_t* bytes_written,
                     int* error) override;
  void Close() override;
  const void* GetReadData(size_t* data_len) override;
  void ConsumeReadData(size_t used) override;
  void* GetWriteBuffer(size_t* buf_len) override;
  void ConsumeWriteBuffer(size_t used) override;
  bool GetWriteRemaining(size_t* size) const override;

 protected:
  // The same without taking the mutex; the caller holds it.
  StreamResult ReadOffsetLocked(void* buffer, size_t bytes, size_t offset,
                                size_t* bytes_read);
  StreamResult WriteOffsetLocked(const void* buffer, size_t bytes,
                                 size_t offset, size_t* bytes_written);

 private:
  // (read position + |offset|) modulo the buffer length; 0 for no buffer.
  size_t Wrap(size_t offset) const;
  // Posts |events| to the owner thread while its queue exists.
  void PostToOwner(int events);

  std::atomic<StreamState> state_;
  char* buffer_;  // null only when it could not be allocated
  size_t buffer_length_;
  size_t data_length_;
  size_t read_position_;
  const std::shared_ptr<ThreadWatch> owner_;  // null without an owner
  mutable std::recursive_mutex crit_;
};

}  // namespace talk_base

#endif  // TALK_BASE_FIFOBUFFER_H_
