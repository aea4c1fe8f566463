// fakebrowser::MemoryLedger: the browser's allocator (NPN_MemAlloc/MemFree)
// with a record of every block it handed out and not yet got back.
//
// Freeing a pointer the ledger does not know is not done (it may be a double
// free or a block from another allocator); the caller records it as a
// violation. Blocks still outstanding when the ledger goes are freed then,
// as a browser's process exit would. Thread-safe (one mutex).
#ifndef FAKEBROWSER_MEMORYLEDGER_H
#define FAKEBROWSER_MEMORYLEDGER_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace fakebrowser {

class MemoryLedger {
public:
    MemoryLedger() = default;
    ~MemoryLedger();
    MemoryLedger(const MemoryLedger&) = delete;
    MemoryLedger& operator=(const MemoryLedger&) = delete;

    // Never null for a size that fits in memory; a size of 0 gives a 1-byte block.
    void* allocate(uint32_t size);
    // True when p was outstanding (and is freed now); null counts as known.
    bool free(void* p);

    std::size_t outstandingBlocks() const;
    std::size_t outstandingBytes() const;
    std::size_t totalAllocations() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<void*, std::size_t> m_blocks;
    std::size_t m_bytes = 0;
    std::size_t m_total = 0;
};

} // namespace fakebrowser

#endif
