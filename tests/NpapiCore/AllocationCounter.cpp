#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void* counted(std::size_t size)
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* countedAligned(std::size_t size, std::align_val_t align)
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t alignment = static_cast<std::size_t>(align);
    const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
    if (void* p = std::aligned_alloc(alignment, rounded ? rounded : alignment))
        return p;
    throw std::bad_alloc();
}

void* countedNoThrow(std::size_t size) noexcept
{
    try {
        return counted(size);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(std::size_t size) { return counted(size); }
void* operator new[](std::size_t size) { return counted(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedNoThrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedNoThrow(size); }
void* operator new(std::size_t size, std::align_val_t align) { return countedAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return countedAligned(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace allocations {

void startCounting()
{
    g_allocations = 0;
    g_counting = true;
}

long stopCounting()
{
    g_counting = false;
    return g_allocations.load();
}

double perCall(const std::function<void()>& f, long calls)
{
    for (long i = 0; i < calls / 10; ++i)
        f();
    startCounting();
    for (long i = 0; i < calls; ++i)
        f();
    return static_cast<double>(stopCounting()) / calls;
}

} // namespace allocations
