// onSmallStack: runs a piece of a test on a thread of its own whose stack
// has only the given size, and waits for it; work whose stack grows with
// its input crashes the process there rather than passing on a roomy main
// thread. Any thread; answers false, without running, when no such thread
// can be made.
#ifndef TESTS_COMMON_SMALLSTACK_H
#define TESTS_COMMON_SMALLSTACK_H

#include <pthread.h>

#include <cstddef>
#include <functional>

inline bool onSmallStack(size_t bytes, const std::function<void()>& run)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_t thread;
    const bool made =
        pthread_attr_setstacksize(&attributes, bytes) == 0 &&
        pthread_create(&thread, &attributes,
                       [](void* body) -> void* {
                           (*static_cast<const std::function<void()>*>(body))();
                           return nullptr;
                       },
                       const_cast<std::function<void()>*>(&run)) == 0;
    pthread_attr_destroy(&attributes);
    if (made)
        pthread_join(thread, nullptr);
    return made;
}

#endif
