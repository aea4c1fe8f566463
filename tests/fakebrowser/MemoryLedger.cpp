#include "MemoryLedger.h"

#include <cstdlib>
#include <new>

namespace fakebrowser {

MemoryLedger::~MemoryLedger()
{
    for (const auto& block : m_blocks)
        std::free(block.first);
}

void* MemoryLedger::allocate(uint32_t size)
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blocks[p] = size;
    m_bytes += size;
    ++m_total;
    return p;
}

bool MemoryLedger::free(void* p)
{
    if (!p)
        return true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_blocks.find(p);
        if (it == m_blocks.end())
            return false;
        m_bytes -= it->second;
        m_blocks.erase(it);
    }
    std::free(p);
    return true;
}

std::size_t MemoryLedger::outstandingBlocks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blocks.size();
}

std::size_t MemoryLedger::outstandingBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

std::size_t MemoryLedger::totalAllocations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_total;
}

} // namespace fakebrowser
