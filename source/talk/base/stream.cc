#include "talk/base/stream.h"

#include "talk/base/messagequeue.h"
#include "talk/base/thread.h"

namespace talk_base {

StreamInterface::~StreamInterface() {
  // Before SignalEvent goes: an event may be being emitted on the thread
  // that delivers this stream's messages, and this waits for it.
  MessageQueueManager::Clear(this);
  SignalEvent.disconnect_all();
}

void StreamInterface::OnMessage(Message* msg) {
  if (msg->message_id != MSG_POST_EVENT) return;
  PostEventData* pe = static_cast<PostEventData*>(msg->pdata);
  msg->pdata = nullptr;
  const int events = pe->events;
  const int error = pe->error;
  delete pe;
  SignalEvent(this, events, error);
}

const void* StreamInterface::GetReadData(size_t*) { return nullptr; }
void StreamInterface::ConsumeReadData(size_t) {}
void* StreamInterface::GetWriteBuffer(size_t*) { return nullptr; }
void StreamInterface::ConsumeWriteBuffer(size_t) {}

bool StreamInterface::SetPosition(size_t) { return false; }
bool StreamInterface::GetPosition(size_t*) const { return false; }
bool StreamInterface::GetSize(size_t*) const { return false; }
bool StreamInterface::GetAvailable(size_t*) const { return false; }
bool StreamInterface::GetWriteRemaining(size_t*) const { return false; }
bool StreamInterface::ReserveSize(size_t) { return true; }

StreamResult StreamInterface::WriteAll(const void* data, size_t data_len,
                                       size_t* written, int* error) {
  StreamResult result = SR_SUCCESS;
  size_t total = 0;
  const char* bytes = static_cast<const char*>(data);
  // An encrypted file stream reports more bytes than it was given, so the
  // loop tests for "not yet reached" rather than counting down.
  while (total < data_len) {
    size_t current = 0;
    result = Write(bytes + total, data_len - total, &current, error);
    if (result != SR_SUCCESS) break;
    total += current;
  }
  if (written) *written = total;
  return result;
}

StreamResult StreamInterface::ReadAll(void* buffer, size_t buffer_len,
                                      size_t* read, int* error) {
  StreamResult result = SR_SUCCESS;
  size_t total = 0;
  char* bytes = static_cast<char*>(buffer);
  while (total < buffer_len) {
    size_t current = 0;
    result = Read(bytes + total, buffer_len - total, &current, error);
    if (result != SR_SUCCESS) break;
    total += current;
  }
  if (read) *read = total;
  return result;
}

StreamResult StreamInterface::ReadLine(std::string* line) {
  line->clear();
  StreamResult result = SR_SUCCESS;
  for (;;) {
    char ch = 0;
    size_t n = 0;
    result = Read(&ch, 1, &n, nullptr);
    if (result != SR_SUCCESS || n != 1 || ch == '\n') break;
    line->push_back(ch);
  }
  return line->empty() ? result : SR_SUCCESS;
}

void StreamInterface::PostEvent(Thread* thread, int events, int err) {
  // Without a thread there is no queue to carry the event.
  if (!thread) return;
  // Not through the virtual table: another thread may already be running
  // the Thread's destructors, and its queue part is whole until its
  // SignalQueueDestroyed has been emitted (a ThreadWatch posts until then).
  thread->MessageQueue::Post(this, MSG_POST_EVENT,
                             new PostEventData(events, err));
}

void StreamInterface::PostEvent(int events, int err) {
  PostEvent(ThreadManager::CurrentThread(), events, err);
}

StreamState NullStream::GetState() const { return SS_OPEN; }

StreamResult NullStream::Read(void*, size_t, size_t*, int* error) {
  if (error) *error = -1;
  return SR_ERROR;
}

StreamResult NullStream::Write(const void*, size_t data_len, size_t* written,
                               int*) {
  if (written) *written = data_len;
  return SR_SUCCESS;
}

void NullStream::Close() {}

}  // namespace talk_base
