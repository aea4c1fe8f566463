// A stream over a caller's std::string, which must outlive the stream.
//
// Reads move a position through the string; writes always append, whatever
// the read position. A stream made on a const string is read-only: its
// writes fail with error -1. ReserveSize answers false when the room
// cannot be had, out of memory included.
//
// Threads: one thread at a time; nothing here locks.
#ifndef TALK_BASE_STRINGSTREAM_H_
#define TALK_BASE_STRINGSTREAM_H_

#include <cstddef>
#include <string>

#include "talk/base/stream.h"

namespace talk_base {

class StringStream : public StreamInterface {
 public:
  explicit StringStream(std::string* str);
  explicit StringStream(const std::string& str);

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
  bool ReserveSize(size_t size) override;

 private:
  std::string* str_;  // written through only when not read-only
  size_t read_pos_;
  bool read_only_;
};

}  // namespace talk_base

#endif  // TALK_BASE_STRINGSTREAM_H_
