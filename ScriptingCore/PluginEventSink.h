// FB::PluginEventSink: the observer side of the plugin event model.
//
// A sink is attached to an FB::PluginEventSource and is offered each event the
// source sends; answering true from HandleEvent means the event was handled
// and stops its delivery. Sinks tell events and sources apart by their
// dynamic types (dynamic_cast); events carry no type code.
// Sinks must be owned by a boost::shared_ptr to be attached. HandleEvent runs
// on the thread that sends the event, with the source's observer lock held.
#ifndef FB_PLUGINEVENTSINK_H
#define FB_PLUGINEVENTSINK_H

#include <boost/enable_shared_from_this.hpp>
#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

namespace FB {

class PluginEvent;
class PluginEventSource;

class PluginEventSink : public boost::enable_shared_from_this<PluginEventSink>,
                        private boost::noncopyable {
public:
    virtual ~PluginEventSink() {}

    virtual bool HandleEvent(PluginEvent* evt, PluginEventSource* source) = 0;
};

typedef boost::shared_ptr<PluginEventSink> PluginEventSinkPtr;

} // namespace FB

#endif
