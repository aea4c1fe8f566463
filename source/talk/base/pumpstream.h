// Copies one stream into another through a caller's buffer.
//
// PumpStream reads |source| into |buffer| and writes what it read to |sink|
// until the source ends. |pending|, when given, is the number of bytes
// already at the start of the buffer on entry (left over from an earlier
// call) and the number still unwritten there on return, so that a caller
// can resume after SR_BLOCK. Returns SR_SUCCESS once the source has ended
// and every byte was written; otherwise the first read or write result that
// was neither SR_SUCCESS nor (for reads) SR_EOS. A zero-length buffer, or a
// pending count larger than the buffer, answers SR_ERROR.
//
// Threads: as the two streams allow.
#ifndef TALK_BASE_PUMPSTREAM_H_
#define TALK_BASE_PUMPSTREAM_H_

#include <cstddef>

#include "talk/base/stream.h"

namespace talk_base {

StreamResult PumpStream(StreamInterface* source, char* buffer,
                        size_t buffer_len, StreamInterface* sink,
                        size_t* pending);

}  // namespace talk_base

#endif  // TALK_BASE_PUMPSTREAM_H_
