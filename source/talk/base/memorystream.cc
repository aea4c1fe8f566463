#include "talk/base/memorystream.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <new>

namespace talk_base {

namespace {

const size_t kAlignment = 16;

// The first |kAlignment|-aligned address inside |block|.
char* Aligned(char* block) {
  const uintptr_t p = reinterpret_cast<uintptr_t>(block);
  return reinterpret_cast<char*>((p + kAlignment - 1) & ~(kAlignment - 1));
}

}  // namespace

// MemoryStreamBase

MemoryStreamBase::MemoryStreamBase()
    : buffer_(nullptr), buffer_length_(0), data_length_(0), seek_position_(0) {}

StreamState MemoryStreamBase::GetState() const { return SS_OPEN; }

StreamResult MemoryStreamBase::Read(void* buffer, size_t bytes,
                                    size_t* bytes_read, int*) {
  if (seek_position_ >= data_length_) return SR_EOS;
  const size_t n = std::min(bytes, data_length_ - seek_position_);
  if (n) memcpy(buffer, buffer_ + seek_position_, n);
  seek_position_ += n;
  if (bytes_read) *bytes_read = n;
  return SR_SUCCESS;
}

StreamResult MemoryStreamBase::Write(const void* buffer, size_t bytes,
                                     size_t* bytes_written, int* error) {
  size_t available = buffer_length_ - seek_position_;
  if (available == 0) {
    // Grow to a multiple of 256 bytes, at least doubling. A size that would
    // not fit in size_t cannot be reserved.
    if (bytes > SIZE_MAX - 0x100 - seek_position_) {
      if (error) *error = ENOMEM;
      return SR_ERROR;
    }
    size_t new_size = ((seek_position_ + bytes) | 0xFF) + 1;
    if (buffer_length_ <= SIZE_MAX / 2) {
      new_size = std::max(new_size, buffer_length_ * 2);
    }
    const StreamResult result = DoReserve(new_size, error);
    if (result != SR_SUCCESS) return result;
    available = buffer_length_ - seek_position_;
  }
  const size_t n = std::min(bytes, available);
  if (n) memcpy(buffer_ + seek_position_, buffer, n);
  seek_position_ += n;
  data_length_ = std::max(data_length_, seek_position_);
  if (bytes_written) *bytes_written = n;
  return SR_SUCCESS;
}

void MemoryStreamBase::Close() {}

bool MemoryStreamBase::SetPosition(size_t position) {
  if (position > data_length_) return false;
  seek_position_ = position;
  return true;
}

bool MemoryStreamBase::GetPosition(size_t* position) const {
  if (position) *position = seek_position_;
  return true;
}

bool MemoryStreamBase::GetSize(size_t* size) const {
  if (size) *size = data_length_;
  return true;
}

bool MemoryStreamBase::GetAvailable(size_t* size) const {
  if (size) *size = data_length_ - seek_position_;
  return true;
}

bool MemoryStreamBase::ReserveSize(size_t size) {
  return DoReserve(size, nullptr) == SR_SUCCESS;
}

StreamResult MemoryStreamBase::DoReserve(size_t size, int*) {
  return (buffer_length_ >= size) ? SR_SUCCESS : SR_EOS;
}

// MemoryStream

MemoryStream::MemoryStream() : buffer_alloc_(nullptr) {}

MemoryStream::MemoryStream(const char* data) : buffer_alloc_(nullptr) {
  SetData(data, data ? strlen(data) : 0);
}

MemoryStream::MemoryStream(const void* data, size_t length)
    : buffer_alloc_(nullptr) {
  SetData(data, length);
}

MemoryStream::~MemoryStream() { delete[] buffer_alloc_; }

void MemoryStream::SetData(const void* data, size_t length) {
  delete[] buffer_alloc_;
  buffer_alloc_ = new (std::nothrow) char[length + kAlignment];
  if (!buffer_alloc_) {
    buffer_ = nullptr;
    buffer_length_ = data_length_ = seek_position_ = 0;
    return;
  }
  buffer_ = Aligned(buffer_alloc_);
  if (length) memcpy(buffer_, data, length);
  buffer_length_ = data_length_ = length;
  seek_position_ = 0;
}

StreamResult MemoryStream::DoReserve(size_t size, int* error) {
  if (buffer_length_ >= size) return SR_SUCCESS;
  char* new_alloc = (size <= SIZE_MAX - kAlignment)
                        ? new (std::nothrow) char[size + kAlignment]
                        : nullptr;
  if (!new_alloc) {
    if (error) *error = ENOMEM;
    return SR_ERROR;
  }
  char* new_buffer = Aligned(new_alloc);
  if (data_length_) memcpy(new_buffer, buffer_, data_length_);
  delete[] buffer_alloc_;
  buffer_alloc_ = new_alloc;
  buffer_ = new_buffer;
  buffer_length_ = size;
  return SR_SUCCESS;
}

// ExternalMemoryStream

ExternalMemoryStream::ExternalMemoryStream() {}

ExternalMemoryStream::ExternalMemoryStream(void* data, size_t length) {
  SetData(data, length);
}

void ExternalMemoryStream::SetData(void* data, size_t length) {
  buffer_ = static_cast<char*>(data);
  buffer_length_ = data_length_ = length;
  seek_position_ = 0;
}

}  // namespace talk_base
