#include "BrowserStreamManager.h"

#include <exception>

#include "BrowserStream.h"
#include "PluginEvents/StreamEvents.h"
#include "logging.h"

namespace FB {

BrowserStreamManager::BrowserStreamManager() {}

BrowserStreamManager::~BrowserStreamManager()
{
    // Streams are closed outside the mutex (their delivery takes their own
    // lock) and go only after all are closed: a stream's sinks may still
    // look at the others while one closes.
    std::set<BrowserStreamPtr> streams;
    {
        boost::recursive_mutex::scoped_lock lock(m_mutex);
        streams.swap(m_streams);
    }
    for (std::set<BrowserStreamPtr>::const_iterator it = streams.begin(); it != streams.end(); ++it) {
        try {
            (*it)->close();
        } catch (const std::exception& e) {
            FBLOG_WARN("BrowserStreamManager", "Closing a stream failed: " << e.what());
        } catch (...) {
            FBLOG_WARN("BrowserStreamManager", "Closing a stream failed");
        }
    }
}

bool BrowserStreamManager::HandleEvent(PluginEvent* evt, PluginEventSource* source)
{
    StreamCompletedEvent* completed = dynamic_cast<StreamCompletedEvent*>(evt);
    BrowserStream* stream = dynamic_cast<BrowserStream*>(source);
    if (completed && stream)
        return onStreamCompleted(completed, stream);
    return false;
}

bool BrowserStreamManager::onStreamCompleted(StreamCompletedEvent*, BrowserStream* stream)
{
    releaseStream(stream->sharedFromThis());
    return false;
}

// The mutex guards the set only. The stream's observer lock is never taken
// under it: the completion path takes that lock first and then this mutex.
void BrowserStreamManager::retainStream(const BrowserStreamPtr& stream)
{
    {
        boost::recursive_mutex::scoped_lock lock(m_mutex);
        if (m_streams.count(stream))
            return;
    }
    stream->AttachObserver(shared_from_this());
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    m_streams.insert(stream);
}

void BrowserStreamManager::releaseStream(const BrowserStreamPtr& stream)
{
    // The set's pointer may be the stream's last; it goes after the unlock.
    const BrowserStreamPtr keep(stream);
    stream->DetachObserver(shared_from_this());
    boost::recursive_mutex::scoped_lock lock(m_mutex);
    m_streams.erase(stream);
}

} // namespace FB
