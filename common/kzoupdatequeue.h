// kzoupdatequeue: runs one sequence of commands (the package manager's) for
// update calls that may come far faster than it runs, on one worker thread
// at most.
//
// A call made while no sequence runs starts one on a new worker. A call made
// while one runs joins the one pending sequence (made when there is none);
// when the running sequence ends, the pending one runs once. Every call
// hears the status of the sequence it was in, once, through its waiter. A
// waiter that leaves takes its calls out of the pending sequence, and a
// pending sequence nobody waits for never runs; a running sequence is never
// stopped. The worker, detached, ends when nothing is pending; a new one is
// made only once the last has said it is done and uses nothing of the queue
// any more, so no two ever work at once, and none stays while it is idle.
//
// join and leave are for one thread, the browser's main thread. The worker
// runs the sequence and calls the waiters without the queue's lock; an
// error out of either is logged and dropped, since nothing may end the
// browser, and a sequence that threw ends with kSequenceFailed. idle and
// sequencesStarted may be asked from any thread.
#ifndef KZOUPDATEQUEUE_H
#define KZOUPDATEQUEUE_H

#include <cstddef>
#include <utility>
#include <vector>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

class kzoupdatequeue {
public:
    // Who hears how the sequences of its calls ended.
    class Waiter {
    public:
        virtual ~Waiter() {}
        // Worker thread: once for each of this waiter's calls in the
        // sequence that ended with status.
        virtual void sequenceEnded(int status) = 0;
    };
    typedef boost::shared_ptr<Waiter> WaiterPtr;

    // Runs the commands and gives the last one's wait status.
    typedef boost::function<int()> Sequence;
    // The status a sequence that threw ended with, as system's when no
    // shell can be run.
    static const int kSequenceFailed = -1;
    // Starts a worker thread running body, or throws.
    typedef boost::thread (*ThreadMaker)(const boost::function<void()>& body);

    // The script error of a call that cannot be accepted.
    static const char kNotAccepted[];

    explicit kzoupdatequeue(const Sequence& sequence);
    // Waits until the worker is done, once nothing is pending; the queue of
    // the process is never destroyed.
    ~kzoupdatequeue();

    // Adds one call of waiter. accepted (the caller's own report that the
    // call is under way) runs once the call is in and before any sequence
    // can take it; when it throws, the call is taken out again and the
    // error passes on. When no worker can be made, throws FB::script_error
    // with kNotAccepted before accepted runs, and nothing has changed.
    void join(const WaiterPtr& waiter, const boost::function<void()>& accepted);
    // Takes every call of waiter out of the sequences that have not begun:
    // the pending one, and a new worker's first while it has not taken it.
    void leave(const Waiter* waiter);

    // No sequence runs or is pending.
    bool idle() const;
    // The sequences the worker took so far.
    size_t sequencesStarted() const;

    // The default worker maker: a boost::thread.
    static boost::thread makeThread(const boost::function<void()>& body);
    // Test seam: how the worker is made (null restores makeThread).
    void setThreadMakerForTesting(ThreadMaker maker);

    kzoupdatequeue(const kzoupdatequeue&) = delete;
    kzoupdatequeue& operator=(const kzoupdatequeue&) = delete;

private:
    // The calls of one sequence: each waiter with its number of calls.
    typedef std::vector<std::pair<WaiterPtr, size_t> > Calls;

    static void add(Calls& sequence, const WaiterPtr& waiter);
    // Takes up to calls calls of waiter out of sequence; gives the waiter
    // when its last call went, to be let go after the lock.
    static WaiterPtr takeOut(Calls& sequence, const Waiter* waiter, size_t calls);
    // A call's accepted step in sequence ended; withdrawn: the waiter whose
    // call it failed for, or null.
    void settle(Calls* sequence, const Waiter* withdrawn);
    void work();

    const Sequence m_sequence;
    ThreadMaker m_makeThread;

    mutable boost::mutex m_mutex;
    // Signals m_unsettled coming down and m_busy going false.
    boost::condition_variable m_changed;
    // A worker runs, and takes every call in before it ends.
    bool m_busy;
    // Calls in whose accepted step still runs: the worker waits for them.
    int m_unsettled;
    // The calls of the sequence a new worker runs first, until it takes
    // them; then those of the pending sequence.
    Calls m_first;
    Calls m_pending;
    size_t m_started;
};

#endif
