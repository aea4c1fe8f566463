// FB::BrowserStreamManager: keeps the streams that a host opened alive until
// they complete.
//
// A retained stream is held strongly and observed; its FB::StreamCompletedEvent
// releases it (the manager answers false, so the completion goes on to the
// stream's other sinks). Destroying the manager closes every stream it still
// holds, which makes each report its completion: the host drops its manager
// at shutdown. Must be owned by a boost::shared_ptr (retain and release need
// it; boost::bad_weak_ptr otherwise).
// Main thread. The recursive mutex guards only the set; it is never held
// while a stream's observer lock is taken (attach, detach, close), so the
// completion path, which runs under that lock, cannot invert the order.
#ifndef FB_BROWSERSTREAMMANAGER_H
#define FB_BROWSERSTREAMMANAGER_H

#include <set>

#include <boost/thread/recursive_mutex.hpp>

#include "PluginEventSink.h"
#include "StreamTypes.h"

namespace FB {

class StreamCompletedEvent;

class BrowserStreamManager : public PluginEventSink {
public:
    BrowserStreamManager();
    // Closes every retained stream; nothing a stream or its sinks throw
    // leaves the destructor.
    ~BrowserStreamManager() override;

    bool HandleEvent(PluginEvent* evt, PluginEventSource* source) override;
    virtual bool onStreamCompleted(StreamCompletedEvent* evt, BrowserStream* stream);

    // A stream is held at most once.
    void retainStream(const BrowserStreamPtr& stream);
    void releaseStream(const BrowserStreamPtr& stream);

private:
    std::set<BrowserStreamPtr> m_streams;
    boost::recursive_mutex m_mutex;
};

} // namespace FB

#endif
