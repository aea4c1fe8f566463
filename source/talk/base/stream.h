// The base library's byte stream interface.
//
// Streams read and write through calls that report a StreamResult instead of
// raising errors; out-parameters (read, written, error, size) may be null and
// are written only when they are not. A stream can offer its internal
// buffers and positioning, and tells its users through SignalEvent that it
// opened, became readable or writable, or closed. Events posted with
// PostEvent reach SignalEvent later, on the thread that processes the target
// queue.
//
// Threads: a stream is used by one thread at a time; nothing here locks.
// Its destruction first removes its pending events and waits for one that
// is being emitted on another thread.
#ifndef TALK_BASE_STREAM_H_
#define TALK_BASE_STREAM_H_

#include <cstddef>
#include <string>

#include "talk/base/messagehandler.h"
#include "talk/base/sigslot.h"

namespace talk_base {

class Thread;

enum StreamResult { SR_ERROR, SR_SUCCESS, SR_BLOCK, SR_EOS };
enum StreamState { SS_CLOSED = 0, SS_OPEN = 2 };
enum StreamEvent { SE_OPEN = 1, SE_READ = 2, SE_WRITE = 4, SE_CLOSE = 8 };

// The message id under which a stream event is posted to a thread.
enum : uint32_t { MSG_POST_EVENT = 0xF1F1 };

// The payload of a posted stream event; the receiving stream deletes it.
struct PostEventData : public MessageData {
  PostEventData(int ev, int er) : events(ev), error(er) {}
  int events;
  int error;
};

class StreamInterface : public MessageHandler {
 public:
  ~StreamInterface() override;

  // Emits SignalEvent for a posted MSG_POST_EVENT; ignores other ids.
  void OnMessage(Message* msg) override;

  virtual StreamState GetState() const = 0;
  virtual StreamResult Read(void* buffer, size_t buffer_len, size_t* read,
                            int* error) = 0;
  virtual StreamResult Write(const void* data, size_t data_len,
                             size_t* written, int* error) = 0;
  virtual void Close() = 0;

  // Direct access to buffered bytes; streams without a buffer offer none.
  virtual const void* GetReadData(size_t* data_len);
  virtual void ConsumeReadData(size_t used);
  virtual void* GetWriteBuffer(size_t* buf_len);
  virtual void ConsumeWriteBuffer(size_t used);

  virtual bool SetPosition(size_t position);
  virtual bool GetPosition(size_t* position) const;
  virtual bool GetSize(size_t* size) const;
  virtual bool GetAvailable(size_t* size) const;
  virtual bool GetWriteRemaining(size_t* size) const;
  virtual bool ReserveSize(size_t size);

  // Writes until all |data_len| bytes are written or a Write does not
  // succeed; |written| gets the total. Returns the last result.
  StreamResult WriteAll(const void* data, size_t data_len, size_t* written,
                        int* error);
  // The same loop with Read.
  StreamResult ReadAll(void* buffer, size_t buffer_len, size_t* read,
                       int* error);
  // Reads up to a "\n" (not stored) or until a Read does not succeed.
  StreamResult ReadLine(std::string* line);

  // Posts |events| to |thread| (the current thread in the second form); they
  // come back through OnMessage as SignalEvent on that thread.
  void PostEvent(Thread* thread, int events, int err);
  void PostEvent(int events, int err);

  sigslot::signal3<StreamInterface*, int, int> SignalEvent;

 protected:
  StreamInterface() {}
};

// A sink that accepts everything and yields nothing.
class NullStream : public StreamInterface {
 public:
  StreamState GetState() const override;
  StreamResult Read(void* buffer, size_t buffer_len, size_t* read,
                    int* error) override;
  StreamResult Write(const void* data, size_t data_len, size_t* written,
                     int* error) override;
  void Close() override;
};

}  // namespace talk_base

#endif  // TALK_BASE_STREAM_H_
