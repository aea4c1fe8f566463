// FB::AsyncCallManager: the registry of calls that a browser host has handed
// to the browser for one run on its main thread.
//
// FB::BrowserHost::scheduleAsyncCall registers each call here and hands the
// browser browserCallback with the call's record. The manager guarantees that
// a registered function runs at most once: when the browser delivers it, or,
// for a call still waiting when the host shuts down, at once on the thread
// that shuts the host down, whichever comes first. A delivery that comes
// after shutdown ran the call, or after the manager is gone, does nothing.
// The registered function owns its user data and frees it when it has run;
// a record refused by the browser is dropped and its function never runs.
// makeCallRecord and dropCallRecord may be called from any thread;
// browserCallback, runCall and shutdown run on the browser's main thread.
// One recursive mutex guards the counter and both sets; it is held for the
// whole of shutdown, including the early runs.
#ifndef FB_ASYNCCALLMANAGER_H
#define FB_ASYNCCALLMANAGER_H

#include <set>

#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/weak_ptr.hpp>

namespace FB {

class AsyncCallManager;

struct AsyncCallRecord : private boost::noncopyable {
    AsyncCallRecord(void (*func)(void*), void* userData, int id,
                    const boost::weak_ptr<AsyncCallManager>& manager);
    ~AsyncCallRecord();

    // Calls the function once; later runs do nothing.
    void run();

    void (*func)(void*);
    void* userData;
    int id;
    bool called;
    boost::weak_ptr<AsyncCallManager> manager;
};

class AsyncCallManager : public boost::enable_shared_from_this<AsyncCallManager>,
                         private boost::noncopyable {
public:
    AsyncCallManager();
    ~AsyncCallManager();

    // Registers a call as pending. Needs a shared pointer owning the manager
    // (boost::bad_weak_ptr otherwise). Once the manager has shut down no call
    // is registered any more: the answer is then null.
    AsyncCallRecord* makeCallRecord(void (*func)(void*), void* userData);
    // For a record the browser refused: destroys it unless shutdown has
    // already run it. Answers whether it was dropped; false means the call
    // has run and its function has freed its data.
    bool dropCallRecord(AsyncCallRecord* record);

    // The function handed to the browser. Never lets an exception out.
    static void browserCallback(void* record);
    // Runs a pending record and destroys it; does nothing for a record that
    // shutdown already ran.
    void runCall(AsyncCallRecord* record);
    // Runs every pending call now, on this thread, in the pending set's order
    // (record address, not scheduling order). A call that throws does not
    // stop the others.
    void shutdown();

private:
    typedef std::set<AsyncCallRecord*> RecordSet;

    int m_lastId;
    boost::recursive_mutex m_mutex;
    RecordSet m_pending;
    RecordSet m_cancelled;
    bool m_shutDown;
};

typedef boost::shared_ptr<AsyncCallManager> AsyncCallManagerPtr;

} // namespace FB

#endif
