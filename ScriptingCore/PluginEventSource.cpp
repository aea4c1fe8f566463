#include "PluginEventSource.h"

#include <vector>

#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/DetachedEvent.h"

namespace FB {

namespace {

// A handler may drop the last reference to the source it is called from; the
// lock it was called under must outlive that, so the delivery keeps the source
// alive. A source that no shared pointer owns is kept by its owner.
boost::shared_ptr<PluginEventSource> keepAlive(PluginEventSource* source)
{
    return source->weak_from_this().lock();
}

} // namespace

PluginEventSource::PluginEventSource() {}

PluginEventSource::~PluginEventSource() {}

void PluginEventSource::AttachObserver(PluginEventSink* sink)
{
    AttachObserver(sink->shared_from_this());
}

void PluginEventSource::AttachObserver(const PluginEventSinkPtr& sink)
{
    boost::shared_ptr<PluginEventSource> self(keepAlive(this));
    PluginEventSinkPtr keep(sink);
    boost::recursive_mutex::scoped_lock lock(m_observerLock);
    m_observers.push_back(keep);
    AttachedEvent evt;
    keep->HandleEvent(&evt, this);
}

void PluginEventSource::DetachObserver(PluginEventSink* sink)
{
    DetachObserver(sink->shared_from_this());
}

void PluginEventSource::DetachObserver(const PluginEventSinkPtr& sink)
{
    boost::shared_ptr<PluginEventSource> self(keepAlive(this));
    boost::recursive_mutex::scoped_lock lock(m_observerLock);
    std::vector<PluginEventSinkPtr> removed;
    for (ObserverList::iterator it = m_observers.begin(); it != m_observers.end();) {
        PluginEventSinkPtr current(it->lock());
        if (!current) {
            it = m_observers.erase(it);
        } else if (current == sink) {
            removed.push_back(current);
            it = m_observers.erase(it);
        } else {
            ++it;
        }
    }
    for (size_t i = 0; i < removed.size(); ++i) {
        DetachedEvent evt;
        removed[i]->HandleEvent(&evt, this);
    }
}

bool PluginEventSource::SendEvent(PluginEvent* evt)
{
    boost::shared_ptr<PluginEventSource> self(keepAlive(this));
    boost::recursive_mutex::scoped_lock lock(m_observerLock);
    const ObserverList observers(m_observers);
    for (ObserverList::const_iterator it = observers.begin(); it != observers.end(); ++it) {
        PluginEventSinkPtr sink(it->lock());
        if (sink && sink->HandleEvent(evt, this))
            return true;
    }
    return false;
}

} // namespace FB
