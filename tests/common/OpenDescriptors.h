// openDescriptors: how many descriptors the process holds, for tests that
// show a piece of work closes every descriptor it opened. The count is
// taken the same way each time, so two counts compare; a thread opening
// descriptors meanwhile spoils them.
#ifndef TESTS_COMMON_OPENDESCRIPTORS_H
#define TESTS_COMMON_OPENDESCRIPTORS_H

#include <cstddef>
#include <filesystem>

inline size_t openDescriptors()
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

#endif
