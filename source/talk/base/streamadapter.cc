#include "talk/base/streamadapter.h"

#include <algorithm>

namespace talk_base {

// StreamAdapterInterface

StreamAdapterInterface::StreamAdapterInterface(StreamInterface* stream,
                                               bool owned)
    : stream_(nullptr), owned_(false) {
  Attach(stream, owned);
}

StreamAdapterInterface::~StreamAdapterInterface() {
  if (owned_) delete stream_;
  stream_ = nullptr;
  SignalEvent.disconnect_all();
  disconnect_all();
}

StreamState StreamAdapterInterface::GetState() const {
  return stream_->GetState();
}

StreamResult StreamAdapterInterface::Read(void* buffer, size_t buffer_len,
                                          size_t* read, int* error) {
  return stream_->Read(buffer, buffer_len, read, error);
}

StreamResult StreamAdapterInterface::Write(const void* data, size_t data_len,
                                           size_t* written, int* error) {
  return stream_->Write(data, data_len, written, error);
}

void StreamAdapterInterface::Close() { stream_->Close(); }

bool StreamAdapterInterface::SetPosition(size_t position) {
  return stream_->SetPosition(position);
}

bool StreamAdapterInterface::GetPosition(size_t* position) const {
  return stream_->GetPosition(position);
}

bool StreamAdapterInterface::GetSize(size_t* size) const {
  return stream_->GetSize(size);
}

bool StreamAdapterInterface::GetAvailable(size_t* size) const {
  return stream_->GetAvailable(size);
}

bool StreamAdapterInterface::GetWriteRemaining(size_t* size) const {
  return stream_->GetWriteRemaining(size);
}

bool StreamAdapterInterface::ReserveSize(size_t size) {
  return stream_->ReserveSize(size);
}

void StreamAdapterInterface::Attach(StreamInterface* stream, bool owned) {
  StreamInterface* old = Detach();
  if (owned_ && old != stream) delete old;
  stream_ = stream;
  owned_ = owned;
  if (stream_) stream_->SignalEvent.connect(this, &StreamAdapterInterface::OnEvent);
}

StreamInterface* StreamAdapterInterface::Detach() {
  StreamInterface* stream = stream_;
  if (stream) {
    stream->SignalEvent.disconnect_slot(this);
    remove_sender(&stream->SignalEvent);
  }
  stream_ = nullptr;
  return stream;
}

void StreamAdapterInterface::OnEvent(StreamInterface*, int events, int err) {
  SignalEvent(this, events, err);
}

// StreamReference

StreamReference::StreamReference(StreamInterface* stream)
    : StreamAdapterInterface(stream, false),
      holder_(new StreamRefCount(stream)) {}

StreamReference::StreamReference(StreamRefCount* holder)
    : StreamAdapterInterface(nullptr, false), holder_(holder) {
  // The stream's signal is shared by every reference: connections to it
  // change under the holder's lock.
  std::lock_guard<std::recursive_mutex> lock(holder_->crit);
  Attach(holder_->stream, false);
}

StreamReference* StreamReference::NewReference() {
  {
    std::lock_guard<std::recursive_mutex> lock(holder_->crit);
    ++holder_->ref_count;
  }
  return new StreamReference(holder_);
}

StreamReference::~StreamReference() {
  bool last;
  {
    std::lock_guard<std::recursive_mutex> lock(holder_->crit);
    Detach();
    last = (--holder_->ref_count == 0);
  }
  // The mutex goes with the holder, so it must not be held any more.
  if (last) {
    delete holder_->stream;
    delete holder_;
  }
}

// StreamSegment

StreamSegment::StreamSegment(StreamInterface* stream)
    : StreamAdapterInterface(stream), start_(kUnknown), pos_(0),
      length_(kUnknown) {
  if (!stream->GetPosition(&start_)) start_ = kUnknown;
}

StreamSegment::StreamSegment(StreamInterface* stream, size_t length)
    : StreamAdapterInterface(stream), start_(kUnknown), pos_(0),
      length_(length) {
  if (!stream->GetPosition(&start_)) start_ = kUnknown;
}

StreamResult StreamSegment::Read(void* buffer, size_t buffer_len,
                                 size_t* read, int* error) {
  if (length_ != kUnknown) {
    if (pos_ >= length_) return SR_EOS;
    buffer_len = std::min(buffer_len, length_ - pos_);
  }
  size_t backup_read = 0;
  if (!read) read = &backup_read;
  const StreamResult result =
      StreamAdapterInterface::Read(buffer, buffer_len, read, error);
  if (result == SR_SUCCESS) pos_ += *read;
  return result;
}

bool StreamSegment::SetPosition(size_t position) {
  if (start_ == kUnknown) return false;
  if (length_ != kUnknown && position > length_) return false;
  if (position > kUnknown - 1 - start_) return false;
  if (!StreamAdapterInterface::SetPosition(start_ + position)) return false;
  pos_ = position;
  return true;
}

bool StreamSegment::GetPosition(size_t* position) const {
  if (start_ == kUnknown) return false;
  size_t wrapped = 0;
  if (!StreamAdapterInterface::GetPosition(&wrapped) || wrapped < start_) {
    return false;
  }
  if (position) *position = wrapped - start_;
  return true;
}

bool StreamSegment::GetSize(size_t* size) const {
  if (start_ == kUnknown) return false;
  size_t wrapped = 0;
  if (!StreamAdapterInterface::GetSize(&wrapped) || wrapped < start_) {
    return false;
  }
  size_t result = wrapped - start_;
  if (length_ != kUnknown) result = std::min(result, length_);
  if (size) *size = result;
  return true;
}

bool StreamSegment::GetAvailable(size_t* size) const {
  size_t available = 0;
  if (!StreamAdapterInterface::GetAvailable(&available)) return false;
  if (length_ != kUnknown) {
    available = std::min(available, length_ - std::min(pos_, length_));
  }
  if (size) *size = available;
  return true;
}

// StreamTap

StreamTap::StreamTap(StreamInterface* stream, StreamInterface* tap)
    : StreamAdapterInterface(stream), tap_(nullptr), tap_result_(SR_SUCCESS),
      tap_error_(0) {
  AttachTap(tap);
}

StreamTap::~StreamTap() { delete tap_; }

void StreamTap::AttachTap(StreamInterface* tap) {
  if (tap == tap_) return;
  delete tap_;
  tap_ = tap;
}

StreamInterface* StreamTap::DetachTap() {
  StreamInterface* tap = tap_;
  tap_ = nullptr;
  return tap;
}

StreamResult StreamTap::GetTapResult(int* error) {
  if (error) *error = tap_error_;
  return tap_result_;
}

void StreamTap::Copy(const void* data, size_t len) {
  if (tap_ && tap_result_ == SR_SUCCESS) {
    tap_result_ = tap_->WriteAll(data, len, nullptr, &tap_error_);
  }
}

StreamResult StreamTap::Read(void* buffer, size_t buffer_len, size_t* read,
                             int* error) {
  size_t backup_read = 0;
  if (!read) read = &backup_read;
  const StreamResult result =
      StreamAdapterInterface::Read(buffer, buffer_len, read, error);
  if (result == SR_SUCCESS) Copy(buffer, *read);
  return result;
}

StreamResult StreamTap::Write(const void* data, size_t data_len,
                              size_t* written, int* error) {
  size_t backup_written = 0;
  if (!written) written = &backup_written;
  const StreamResult result =
      StreamAdapterInterface::Write(data, data_len, written, error);
  if (result == SR_SUCCESS) Copy(data, *written);
  return result;
}

// LoggingAdapter

LoggingAdapter::LoggingAdapter(StreamInterface* stream, LogSeverity level,
                               const std::string& label, bool hex_mode)
    : StreamAdapterInterface(stream), level_(level), hex_mode_(hex_mode) {
  SetLabel(label);
}

void LoggingAdapter::SetLabel(const std::string& label) {
  label_.assign("[");
  label_.append(label);
  label_.append("]");
}

StreamResult LoggingAdapter::Read(void* buffer, size_t buffer_len,
                                  size_t* read, int* error) {
  size_t local_read = 0;
  if (!read) read = &local_read;
  const StreamResult result =
      StreamAdapterInterface::Read(buffer, buffer_len, read, error);
  if (result == SR_SUCCESS) {
    LogMultiline(level_, label_.c_str(), true, buffer, *read, hex_mode_, &lms_);
  }
  return result;
}

StreamResult LoggingAdapter::Write(const void* data, size_t data_len,
                                   size_t* written, int* error) {
  size_t local_written = 0;
  if (!written) written = &local_written;
  const StreamResult result =
      StreamAdapterInterface::Write(data, data_len, written, error);
  if (result == SR_SUCCESS) {
    LogMultiline(level_, label_.c_str(), false, data, *written, hex_mode_,
                 &lms_);
  }
  return result;
}

void LoggingAdapter::Flush() {
  LogMultiline(level_, label_.c_str(), false, nullptr, 0, hex_mode_, &lms_);
  LogMultiline(level_, label_.c_str(), true, nullptr, 0, hex_mode_, &lms_);
}

void LoggingAdapter::Close() {
  Flush();
  LOG_V(level_) << label_ << " Closed locally";
  StreamAdapterInterface::Close();
}

void LoggingAdapter::OnEvent(StreamInterface* stream, int events, int err) {
  if (events & SE_OPEN) {
    LOG_V(level_) << label_ << " Open";
  } else if (events & SE_CLOSE) {
    Flush();
    LOG_V(level_) << label_ << " Closed with error: " << err;
  }
  StreamAdapterInterface::OnEvent(stream, events, err);
}

}  // namespace talk_base
