// Counts the heap allocations (operator new, every form) of the whole
// process, the plugin library's included, while counting is on.
//
// The executable that links AllocationCounter.cpp replaces the global
// operator new and delete with counting forms over malloc and free; link it
// into no executable that must keep the standard ones. Counting may be
// switched from any thread; the count is of all threads.
#ifndef TESTS_NPAPICORE_ALLOCATIONCOUNTER_H
#define TESTS_NPAPICORE_ALLOCATIONCOUNTER_H

#include <functional>

namespace allocations {

void startCounting();
// Stops and answers the allocations since startCounting.
long stopCounting();

// The allocations of one call of f, averaged over calls runs after a warm-up
// of a tenth as many (caches and tables filled first).
double perCall(const std::function<void()>& f, long calls = 1000);

} // namespace allocations

#endif
