#include "talk/base/stringstream.h"

#include <string.h>

#include <algorithm>
#include <new>

namespace talk_base {

StringStream::StringStream(std::string* str)
    : str_(str), read_pos_(0), read_only_(false) {}

StringStream::StringStream(const std::string& str)
    : str_(const_cast<std::string*>(&str)), read_pos_(0), read_only_(true) {}

StreamState StringStream::GetState() const { return SS_OPEN; }

StreamResult StringStream::Read(void* buffer, size_t buffer_len, size_t* read,
                                int*) {
  const size_t available = str_->size() - std::min(read_pos_, str_->size());
  const size_t n = std::min(buffer_len, available);
  if (n == 0) return SR_EOS;
  memcpy(buffer, str_->data() + read_pos_, n);
  read_pos_ += n;
  if (read) *read = n;
  return SR_SUCCESS;
}

StreamResult StringStream::Write(const void* data, size_t data_len,
                                 size_t* written, int* error) {
  if (read_only_) {
    if (error) *error = -1;
    return SR_ERROR;
  }
  str_->append(static_cast<const char*>(data), data_len);
  if (written) *written = data_len;
  return SR_SUCCESS;
}

void StringStream::Close() {}

bool StringStream::SetPosition(size_t position) {
  if (position > str_->size()) return false;
  read_pos_ = position;
  return true;
}

bool StringStream::GetPosition(size_t* position) const {
  if (position) *position = read_pos_;
  return true;
}

bool StringStream::GetSize(size_t* size) const {
  if (size) *size = str_->size();
  return true;
}

bool StringStream::GetAvailable(size_t* size) const {
  if (size) *size = str_->size() - std::min(read_pos_, str_->size());
  return true;
}

bool StringStream::ReserveSize(size_t size) {
  // reserve would throw beyond max_size.
  if (read_only_ || size > str_->max_size()) return false;
  // Out of memory is an answer here, not an exception.
  try {
    str_->reserve(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace talk_base
