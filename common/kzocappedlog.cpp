#include "kzocappedlog.h"

#include <cstring>

const char CappedLogStream::kLimitNotice[] =
    "Log file size limit reached; further lines are dropped.\n";

CappedLogStream::CappedLogStream(talk_base::StreamInterface* file, size_t cap)
    : talk_base::StreamAdapterInterface(file), m_cap(cap), m_written(0), m_dropping(false)
{
}

talk_base::StreamResult CappedLogStream::Write(const void* data, size_t data_len,
                                               size_t* written, int* error)
{
    const size_t noticeSize = strlen(kLimitNotice);
    if (!m_dropping && m_written + data_len + noticeSize > m_cap) {
        m_dropping = true;
        size_t noticeWritten = 0;
        if (stream())
            stream()->WriteAll(kLimitNotice, noticeSize, &noticeWritten, nullptr);
        m_written += noticeWritten;
    }
    if (m_dropping) {
        if (written)
            *written = data_len;
        return talk_base::SR_SUCCESS;
    }
    size_t count = 0;
    const talk_base::StreamResult result =
        StreamAdapterInterface::Write(data, data_len, &count, error);
    if (result == talk_base::SR_SUCCESS)
        m_written += count;
    if (written)
        *written = count;
    return result;
}
