// CappedLogStream: the log file as the base library's logging writes it,
// with a cap on the bytes one process puts into it.
//
// Each write that fits below the cap, with room left for the closing notice,
// goes to the wrapped stream. The first write that does not fit is replaced
// by the notice "Log file size limit reached; further lines are dropped."
// and a line end; from then on every write is dropped and reported as done,
// so the logging carries on without a file. The file thus never grows past
// the cap (or the notice alone, for a cap smaller than that).
//
// Owns the wrapped stream. Not locked: the logging calls its streams under
// its own mutex, one write at a time.
#ifndef KZOCAPPEDLOG_H
#define KZOCAPPEDLOG_H

#include <cstddef>

#include "talk/base/streamadapter.h"

class CappedLogStream : public talk_base::StreamAdapterInterface {
public:
    // What one process may write to its log file: 10 MiB.
    static constexpr size_t kDefaultCap = 10 * 1024 * 1024;
    static const char kLimitNotice[];

    CappedLogStream(talk_base::StreamInterface* file, size_t cap);

    talk_base::StreamResult Write(const void* data, size_t data_len, size_t* written,
                                  int* error) override;

    // The bytes that reached the file, the notice included.
    size_t bytesWritten() const { return m_written; }
    bool dropping() const { return m_dropping; }

private:
    const size_t m_cap;
    size_t m_written;
    bool m_dropping;
};

#endif
