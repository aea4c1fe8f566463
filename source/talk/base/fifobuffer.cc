#include "talk/base/fifobuffer.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <new>

#include "talk/base/messagequeue.h"
#include "talk/base/thread.h"

namespace talk_base {

typedef std::lock_guard<std::recursive_mutex> Lock;

FifoBuffer::FifoBuffer(size_t length)
    : state_(SS_OPEN),
      buffer_(new (std::nothrow) char[length]),
      buffer_length_(buffer_ ? length : 0),
      data_length_(0),
      read_position_(0),
      owner_(ThreadWatch::ForCurrent()) {}

FifoBuffer::~FifoBuffer() {
  // An event may be on its way to the receivers on the owner thread, and
  // they may read the buffer: let it finish while the FIFO is whole.
  MessageQueueManager::Clear(this);
  delete[] buffer_;
}

void FifoBuffer::PostToOwner(int events) {
  if (!owner_) return;
  owner_->Run([this, events](Thread* thread) { PostEvent(thread, events, 0); });
}

size_t FifoBuffer::Wrap(size_t offset) const {
  // A zero-length buffer holds nothing and has no position to wrap.
  if (buffer_length_ == 0) return 0;
  return (read_position_ + offset) % buffer_length_;
}

bool FifoBuffer::GetBuffered(size_t* data_len) const {
  Lock lock(crit_);
  if (data_len) *data_len = data_length_;
  return true;
}

bool FifoBuffer::GetWriteRemaining(size_t* size) const {
  Lock lock(crit_);
  if (size) *size = buffer_length_ - data_length_;
  return true;
}

bool FifoBuffer::SetCapacity(size_t size) {
  Lock lock(crit_);
  if (data_length_ > size) return false;
  if (size != buffer_length_ || !buffer_) {
    char* buffer = new (std::nothrow) char[size];
    if (!buffer) return false;
    const size_t copy = data_length_;
    const size_t tail_copy = std::min(copy, buffer_length_ - read_position_);
    if (tail_copy) memcpy(buffer, &buffer_[read_position_], tail_copy);
    if (copy > tail_copy) memcpy(buffer + tail_copy, buffer_, copy - tail_copy);
    delete[] buffer_;
    buffer_ = buffer;
    buffer_length_ = size;
    read_position_ = 0;
  }
  return true;
}

StreamResult FifoBuffer::ReadOffset(void* buffer, size_t bytes, size_t offset,
                                    size_t* bytes_read) {
  Lock lock(crit_);
  return ReadOffsetLocked(buffer, bytes, offset, bytes_read);
}

StreamResult FifoBuffer::WriteOffset(const void* buffer, size_t bytes,
                                     size_t offset, size_t* bytes_written) {
  Lock lock(crit_);
  if (!buffer_) return SR_ERROR;
  return WriteOffsetLocked(buffer, bytes, offset, bytes_written);
}

StreamState FifoBuffer::GetState() const { return state_.load(); }

StreamResult FifoBuffer::Read(void* buffer, size_t bytes, size_t* bytes_read,
                              int*) {
  Lock lock(crit_);
  const bool was_writable = data_length_ < buffer_length_;
  size_t copy = 0;
  const StreamResult result = ReadOffsetLocked(buffer, bytes, 0, &copy);
  if (result == SR_SUCCESS) {
    read_position_ = Wrap(copy);
    data_length_ -= copy;
    if (bytes_read) *bytes_read = copy;
    if (!was_writable && copy > 0) PostToOwner(SE_WRITE);
  }
  return result;
}

StreamResult FifoBuffer::Write(const void* buffer, size_t bytes,
                               size_t* bytes_written, int* error) {
  Lock lock(crit_);
  if (!buffer_) {
    if (error) *error = ENOMEM;
    return SR_ERROR;
  }
  const bool was_readable = data_length_ > 0;
  size_t copy = 0;
  const StreamResult result = WriteOffsetLocked(buffer, bytes, 0, &copy);
  if (result == SR_SUCCESS) {
    data_length_ += copy;
    if (bytes_written) *bytes_written = copy;
    if (!was_readable && copy > 0) PostToOwner(SE_READ);
  }
  return result;
}

void FifoBuffer::Close() {
  Lock lock(crit_);
  state_ = SS_CLOSED;
}

const void* FifoBuffer::GetReadData(size_t* size) {
  Lock lock(crit_);
  const size_t contiguous =
      std::min(data_length_, buffer_length_ - read_position_);
  if (size) *size = contiguous;
  return buffer_ ? &buffer_[read_position_] : nullptr;
}

void FifoBuffer::ConsumeReadData(size_t size) {
  Lock lock(crit_);
  // Never more than is there: the data length must not wrap below zero.
  size = std::min(size, data_length_);
  const bool was_writable = data_length_ < buffer_length_;
  read_position_ = Wrap(size);
  data_length_ -= size;
  if (!was_writable && size > 0) PostToOwner(SE_WRITE);
}

void* FifoBuffer::GetWriteBuffer(size_t* size) {
  Lock lock(crit_);
  if (state_.load() == SS_CLOSED) return nullptr;
  // With no data, start over at the front to offer the longest run.
  if (data_length_ == 0) read_position_ = 0;
  const size_t write_position = Wrap(data_length_);
  size_t free_run;
  if (data_length_ == buffer_length_) {
    free_run = 0;  // full: the write position is the read position
  } else if (write_position < read_position_) {
    free_run = read_position_ - write_position;
  } else {
    free_run = buffer_length_ - write_position;
  }
  if (size) *size = free_run;
  return buffer_ ? &buffer_[write_position] : nullptr;
}

void FifoBuffer::ConsumeWriteBuffer(size_t size) {
  Lock lock(crit_);
  size = std::min(size, buffer_length_ - data_length_);
  const bool was_readable = data_length_ > 0;
  data_length_ += size;
  if (!was_readable && size > 0) PostToOwner(SE_READ);
}

StreamResult FifoBuffer::ReadOffsetLocked(void* buffer, size_t bytes,
                                          size_t offset, size_t* bytes_read) {
  if (offset >= data_length_) {
    return (state_.load() != SS_CLOSED) ? SR_BLOCK : SR_EOS;
  }
  const size_t available = data_length_ - offset;
  const size_t read_position = Wrap(offset);
  const size_t copy = std::min(bytes, available);
  const size_t tail_copy = std::min(copy, buffer_length_ - read_position);
  char* const p = static_cast<char*>(buffer);
  // memcpy must not see a null pointer, even for no bytes.
  if (tail_copy) memcpy(p, &buffer_[read_position], tail_copy);
  if (copy > tail_copy) memcpy(p + tail_copy, &buffer_[0], copy - tail_copy);
  if (bytes_read) *bytes_read = copy;
  return SR_SUCCESS;
}

StreamResult FifoBuffer::WriteOffsetLocked(const void* buffer, size_t bytes,
                                           size_t offset,
                                           size_t* bytes_written) {
  if (state_.load() == SS_CLOSED) return SR_EOS;
  if (offset >= buffer_length_ || data_length_ + offset >= buffer_length_) {
    return SR_BLOCK;
  }
  const size_t available = buffer_length_ - data_length_ - offset;
  const size_t write_position = Wrap(data_length_ + offset);
  const size_t copy = std::min(bytes, available);
  const size_t tail_copy = std::min(copy, buffer_length_ - write_position);
  const char* const p = static_cast<const char*>(buffer);
  if (tail_copy) memcpy(&buffer_[write_position], p, tail_copy);
  if (copy > tail_copy) memcpy(&buffer_[0], p + tail_copy, copy - tail_copy);
  if (bytes_written) *bytes_written = copy;
  return SR_SUCCESS;
}

}  // namespace talk_base
