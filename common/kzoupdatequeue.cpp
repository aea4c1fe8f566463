#include "kzoupdatequeue.h"

#include <exception>
#include <limits>

#include <boost/bind/bind.hpp>

#include "script_error.h"
#include "talk/base/logging.h"

const char kzoupdatequeue::kNotAccepted[] = "Could not start the update";
const int kzoupdatequeue::kSequenceFailed;

namespace {

// One step of the worker: an error is logged, never passed on.
template <class Step>
void guarded(Step step)
{
    try {
        step();
    } catch (const std::exception& e) {
        LOG(LS_INFO) << "Installer worker failed: " << e.what();
    } catch (...) {
        LOG(LS_INFO) << "Installer worker failed";
    }
}

} // namespace

kzoupdatequeue::kzoupdatequeue(const Sequence& sequence)
    : m_sequence(sequence), m_makeThread(&makeThread), m_busy(false), m_unsettled(0),
      m_started(0)
{
}

kzoupdatequeue::~kzoupdatequeue()
{
    boost::mutex::scoped_lock lock(m_mutex);
    while (m_busy)
        m_changed.wait(lock);
}

boost::thread kzoupdatequeue::makeThread(const boost::function<void()>& body)
{
    return boost::thread(body);
}

void kzoupdatequeue::setThreadMakerForTesting(ThreadMaker maker)
{
    boost::mutex::scoped_lock lock(m_mutex);
    m_makeThread = maker ? maker : &makeThread;
}

void kzoupdatequeue::join(const WaiterPtr& waiter, const boost::function<void()>& accepted)
{
    Calls* sequence;
    {
        boost::mutex::scoped_lock lock(m_mutex);
        if (m_busy) {
            sequence = &m_pending;
        } else {
            // Detached: the worker ends by itself once nothing is pending,
            // and nobody waits for it then. A worker that said it was done
            // (under this lock) uses nothing of the queue any more.
            try {
                m_makeThread(boost::bind(&kzoupdatequeue::work, this)).detach();
            } catch (const std::exception& e) {
                LOG(LS_INFO) << "Installer worker not started: " << e.what();
                throw FB::script_error(kNotAccepted);
            }
            m_busy = true;
            sequence = &m_first;
        }
        add(*sequence, waiter);
        ++m_unsettled;
    }
    try {
        accepted();
    } catch (...) {
        settle(sequence, waiter.get());
        throw;
    }
    settle(sequence, nullptr);
}

void kzoupdatequeue::leave(const Waiter* waiter)
{
    WaiterPtr gone[2];
    boost::mutex::scoped_lock lock(m_mutex);
    // The worker's first sequence too, while it has not begun.
    gone[0] = takeOut(m_first, waiter, std::numeric_limits<size_t>::max());
    gone[1] = takeOut(m_pending, waiter, std::numeric_limits<size_t>::max());
}

bool kzoupdatequeue::idle() const
{
    boost::mutex::scoped_lock lock(m_mutex);
    return !m_busy;
}

size_t kzoupdatequeue::sequencesStarted() const
{
    boost::mutex::scoped_lock lock(m_mutex);
    return m_started;
}

void kzoupdatequeue::add(Calls& sequence, const WaiterPtr& waiter)
{
    for (Calls::value_type& entry : sequence) {
        if (entry.first == waiter) {
            ++entry.second;
            return;
        }
    }
    sequence.push_back(std::make_pair(waiter, size_t(1)));
}

kzoupdatequeue::WaiterPtr kzoupdatequeue::takeOut(Calls& sequence, const Waiter* waiter,
                                                  size_t calls)
{
    for (Calls::iterator it = sequence.begin(); it != sequence.end(); ++it) {
        if (it->first.get() != waiter)
            continue;
        if (it->second > calls) {
            it->second -= calls;
            return WaiterPtr();
        }
        const WaiterPtr gone = it->first;
        sequence.erase(it);
        return gone;
    }
    return WaiterPtr();
}

void kzoupdatequeue::settle(Calls* sequence, const Waiter* withdrawn)
{
    WaiterPtr gone;
    boost::mutex::scoped_lock lock(m_mutex);
    if (withdrawn)
        gone = takeOut(*sequence, withdrawn, 1);
    --m_unsettled;
    m_changed.notify_all();
}

void kzoupdatequeue::work()
{
    for (;;) {
        Calls calls;
        {
            boost::mutex::scoped_lock lock(m_mutex);
            while (m_unsettled > 0)
                m_changed.wait(lock);
            calls.swap(m_first);
            if (calls.empty())
                calls.swap(m_pending);
            if (calls.empty()) {
                m_busy = false;
                m_changed.notify_all();
                return;
            }
            ++m_started;
        }
        // A sequence that could not run ended as a command that failed:
        // its calls hear that, not nothing.
        int status = kSequenceFailed;
        guarded([&] { status = m_sequence(); });
        for (const Calls::value_type& entry : calls) {
            for (size_t i = 0; i < entry.second; ++i)
                guarded([&] { entry.first->sequenceEnded(status); });
        }
        // The waiters' references go here, before the next sequence.
    }
}
