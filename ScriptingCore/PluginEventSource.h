// FB::PluginEventSource: the sending side of the plugin event model.
//
// Keeps its observers weakly, in attach order (the same sink may stand more
// than once), and offers each event to them one after the other until one
// answers that it handled it. A sink receives an FB::AttachedEvent before
// AttachObserver returns and an FB::DetachedEvent for each entry that
// DetachObserver removes. Exceptions from a sink pass to the sender.
// Any thread may attach, detach or send; the recursive observer lock is held
// for the whole of each delivery, so a handler may attach, detach or send on
// the same source, while other threads wait until the delivery ends. The
// source and the sink being called are kept alive for the whole delivery, so
// a handler may detach itself or drop the last reference to the source.
#ifndef FB_PLUGINEVENTSOURCE_H
#define FB_PLUGINEVENTSOURCE_H

#include <list>

#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/weak_ptr.hpp>

#include "PluginEventSink.h"

namespace FB {

class PluginEvent;

class PluginEventSource : public boost::enable_shared_from_this<PluginEventSource>,
                          private boost::noncopyable {
public:
    PluginEventSource();
    virtual ~PluginEventSource();

    // The raw forms take the sink's own shared pointer (boost::bad_weak_ptr
    // when none owns it) and call the shared forms through the virtual table.
    virtual void AttachObserver(PluginEventSink* sink);
    virtual void AttachObserver(const PluginEventSinkPtr& sink);
    virtual void DetachObserver(PluginEventSink* sink);
    virtual void DetachObserver(const PluginEventSinkPtr& sink);

    // Whether some sink handled the event. Sinks attached or detached during
    // the delivery do not change who receives this event.
    virtual bool SendEvent(PluginEvent* evt);

private:
    typedef std::list<boost::weak_ptr<PluginEventSink> > ObserverList;

    ObserverList m_observers;
    boost::recursive_mutex m_observerLock;
};

typedef boost::shared_ptr<PluginEventSource> PluginEventSourcePtr;

} // namespace FB

#endif
