#include "talk/base/pumpstream.h"

#include <string.h>

namespace talk_base {

StreamResult PumpStream(StreamInterface* source, char* buffer,
                        size_t buffer_len, StreamInterface* sink,
                        size_t* pending) {
  size_t filled = pending ? *pending : 0;
  // Nothing could ever be read into the buffer, or the caller's count
  // would take us outside it.
  if (buffer_len == 0 || filled > buffer_len) return SR_ERROR;

  bool end_of_source = false;
  while (true) {
    while (filled < buffer_len) {
      size_t n = 0;
      const StreamResult result =
          source->Read(buffer + filled, buffer_len - filled, &n, nullptr);
      if (result == SR_EOS) {
        end_of_source = true;
        break;
      }
      if (result != SR_SUCCESS) {
        if (pending) *pending = filled;
        return result;
      }
      filled += n;
    }

    size_t done = 0;
    while (done < filled) {
      size_t n = 0;
      const StreamResult result =
          sink->Write(buffer + done, filled - done, &n, nullptr);
      if (result != SR_SUCCESS) {
        // What is left moves to the front, where the next call expects it.
        if (done > 0) memmove(buffer, buffer + done, filled - done);
        if (pending) *pending = filled - done;
        return result;
      }
      done += n;
    }
    filled = 0;
    if (end_of_source) break;
  }
  if (pending) *pending = 0;
  return SR_SUCCESS;
}

}  // namespace talk_base
