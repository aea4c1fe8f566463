#include "AsyncCallManager.h"

#include <exception>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "logging.h"

namespace FB {

namespace {

// Every record that exists, process-wide. The browser hands back a bare
// pointer; a delivery for a record that is gone (its manager destroyed with
// the instance) is recognised here instead of reading freed memory. Never
// destroyed, so deliveries during process exit find it too.
struct LiveRecords {
    boost::mutex mutex;
    std::set<const AsyncCallRecord*> records;
};

LiveRecords& liveRecords()
{
    static LiveRecords* live = new LiveRecords;
    return *live;
}

} // namespace

AsyncCallRecord::AsyncCallRecord(void (*func)(void*), void* userData, int id,
                                 const boost::weak_ptr<AsyncCallManager>& manager)
    : func(func), userData(userData), id(id), called(false), manager(manager)
{
    LiveRecords& live = liveRecords();
    boost::mutex::scoped_lock lock(live.mutex);
    live.records.insert(this);
}

AsyncCallRecord::~AsyncCallRecord()
{
    LiveRecords& live = liveRecords();
    boost::mutex::scoped_lock lock(live.mutex);
    live.records.erase(this);
}

void AsyncCallRecord::run()
{
    if (!func)
        return;
    void (*f)(void*) = func;
    func = NULL;
    called = true;
    f(userData);
}

AsyncCallManager::AsyncCallManager() : m_lastId(1), m_shutDown(false) {}

AsyncCallManager::~AsyncCallManager()
{
    for (RecordSet::iterator it = m_cancelled.begin(); it != m_cancelled.end(); ++it)
        delete *it;
    // Only a host destroyed without shutdown leaves pending records; their
    // late deliveries are refused by the live-record check.
    for (RecordSet::iterator it = m_pending.begin(); it != m_pending.end(); ++it)
        delete *it;
}

AsyncCallRecord* AsyncCallManager::makeCallRecord(void (*func)(void*), void* userData)
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    // A caller that passed the host's shut-down test just before shutdown
    // arrives here afterwards; nothing would ever run its call.
    if (m_shutDown)
        return NULL;
    const int id = ++m_lastId;
    const boost::shared_ptr<AsyncCallManager> self(shared_from_this());
    AsyncCallRecord* record = new AsyncCallRecord(func, userData, id, self);
    try {
        m_pending.insert(record);
    } catch (...) {
        delete record;
        throw;
    }
    return record;
}

bool AsyncCallManager::dropCallRecord(AsyncCallRecord* record)
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    if (m_pending.erase(record) == 0)
        return false;
    delete record;
    return true;
}

void AsyncCallManager::browserCallback(void* data)
{
    AsyncCallRecord* record = static_cast<AsyncCallRecord*>(data);
    boost::shared_ptr<AsyncCallManager> manager;
    {
        LiveRecords& live = liveRecords();
        boost::mutex::scoped_lock lock(live.mutex);
        if (live.records.find(record) == live.records.end())
            return;
        // Holding the manager keeps the record: only the manager (or this
        // thread's own run) frees a record that was handed to the browser.
        manager = record->manager.lock();
    }
    if (!manager)
        return;
    try {
        manager->runCall(record);
    } catch (const std::exception& e) {
        FBLOG_ERROR("AsyncCallManager", "Asynchronous call failed: " << e.what());
    } catch (...) {
        FBLOG_ERROR("AsyncCallManager", "Asynchronous call failed");
    }
}

void AsyncCallManager::runCall(AsyncCallRecord* record)
{
    {
        boost::recursive_mutex::scoped_lock lock(m_mutex);
        if (m_pending.erase(record) == 0)
            return;
    }
    struct Destroy {
        AsyncCallRecord* record;
        ~Destroy() { delete record; }
    } destroy = {record};
    record->run();
}

void AsyncCallManager::shutdown()
{
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    m_shutDown = true;
    m_cancelled.insert(m_pending.begin(), m_pending.end());
    // Taken out of the pending set before they run, so that a delivery made
    // from inside one of them finds them gone.
    const std::vector<AsyncCallRecord*> toRun(m_pending.begin(), m_pending.end());
    m_pending.clear();
    for (std::vector<AsyncCallRecord*>::const_iterator it = toRun.begin(); it != toRun.end();
         ++it) {
        try {
            (*it)->run();
        } catch (const std::exception& e) {
            FBLOG_ERROR("AsyncCallManager", "Call run at shutdown failed: " << e.what());
        } catch (...) {
            FBLOG_ERROR("AsyncCallManager", "Call run at shutdown failed");
        }
    }
}

} // namespace FB
