// FB::LockedQueue: a queue that any thread may push to and the browser's
// main thread drains, one element at a time, never calling out under its
// lock.
//
// close() hands back what is left and refuses later pushes, so that an owner
// going away can pass its remaining elements on instead of losing them.
// An empty queue is seen without taking the lock (the drains run on every
// page call, and the queue is nearly always empty); a drain may then miss
// an element pushed at that very moment, which the next drain takes, as it
// would had the push come just after the drain.
// Any thread.
#ifndef FB_NPAPI_LOCKEDQUEUE_H
#define FB_NPAPI_LOCKEDQUEUE_H

#include <atomic>
#include <cstddef>
#include <deque>

#include <boost/noncopyable.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

namespace FB {

template <class T>
class LockedQueue : private boost::noncopyable {
public:
    LockedQueue() : m_closed(false), m_size(0) {}

    // False once the queue is closed; the element is then not taken.
    bool push(const T& value)
    {
        {
            boost::mutex::scoped_lock lock(m_mutex);
            if (m_closed)
                return false;
            m_queue.push_back(value);
            m_size.store(m_queue.size(), std::memory_order_release);
        }
        m_cond.notify_one();
        return true;
    }

    bool tryPop(T& value)
    {
        if (empty())
            return false;
        boost::mutex::scoped_lock lock(m_mutex);
        if (m_queue.empty())
            return false;
        value = m_queue.front();
        m_queue.pop_front();
        m_size.store(m_queue.size(), std::memory_order_release);
        return true;
    }

    bool empty() const { return m_size.load(std::memory_order_acquire) == 0; }

    void reopen()
    {
        boost::mutex::scoped_lock lock(m_mutex);
        m_closed = false;
    }

    std::deque<T> close()
    {
        boost::mutex::scoped_lock lock(m_mutex);
        m_closed = true;
        std::deque<T> rest;
        rest.swap(m_queue);
        m_size.store(0, std::memory_order_release);
        return rest;
    }

private:
    std::deque<T> m_queue;
    bool m_closed;
    // The queue's length, written under the lock.
    std::atomic<std::size_t> m_size;
    mutable boost::mutex m_mutex;
    boost::condition_variable m_cond;
};

} // namespace FB

#endif
