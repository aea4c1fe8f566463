// Streams over memory: a growable buffer owned by the stream, or a caller's
// fixed buffer.
//
// Reads move the position through the data written so far; writes go to the
// position and extend the data. A MemoryStream grows by at least doubling
// and to a multiple of 256 bytes when a write finds no room; an
// ExternalMemoryStream cannot grow and answers SR_EOS once full.
//
// Threads: one thread at a time; nothing here locks.
#ifndef TALK_BASE_MEMORYSTREAM_H_
#define TALK_BASE_MEMORYSTREAM_H_

#include <cstddef>

#include "talk/base/stream.h"

namespace talk_base {

class MemoryStreamBase : public StreamInterface {
 public:
  StreamState GetState() const override;
  StreamResult Read(void* buffer, size_t bytes, size_t* bytes_read,
                    int* error) override;
  StreamResult Write(const void* buffer, size_t bytes, size_t* bytes_written,
                     int* error) override;
  void Close() override;
  bool SetPosition(size_t position) override;
  bool GetPosition(size_t* position) const override;
  bool GetSize(size_t* size) const override;
  bool GetAvailable(size_t* size) const override;
  bool ReserveSize(size_t size) override;

  // The data written so far, |GetSize| bytes long.
  char* GetBuffer() { return buffer_; }
  const char* GetBuffer() const { return buffer_; }

 protected:
  MemoryStreamBase();

  // Makes room for |size| bytes; a fixed buffer answers SR_EOS when it is
  // too small.
  virtual StreamResult DoReserve(size_t size, int* error);

  char* buffer_;
  size_t buffer_length_;
  size_t data_length_;
  size_t seek_position_;

 private:
  MemoryStreamBase(const MemoryStreamBase&) = delete;
  MemoryStreamBase& operator=(const MemoryStreamBase&) = delete;
};

// A buffer that the stream owns and grows; its start is 16-byte aligned.
class MemoryStream : public MemoryStreamBase {
 public:
  MemoryStream();
  explicit MemoryStream(const char* data);  // zero-terminated text
  MemoryStream(const void* data, size_t length);
  ~MemoryStream() override;

  // Replaces the content with a copy of |data|; the position goes to 0.
  void SetData(const void* data, size_t length);

 protected:
  StreamResult DoReserve(size_t size, int* error) override;

 private:
  char* buffer_alloc_;
};

// The caller's buffer, which must outlive the stream; all of it counts as
// data.
class ExternalMemoryStream : public MemoryStreamBase {
 public:
  ExternalMemoryStream();
  ExternalMemoryStream(void* data, size_t length);

  void SetData(void* data, size_t length);
};

}  // namespace talk_base

#endif  // TALK_BASE_MEMORYSTREAM_H_
