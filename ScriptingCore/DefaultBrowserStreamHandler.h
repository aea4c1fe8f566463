// FB::DefaultBrowserStreamHandler: the base sink of stream consumers.
//
// Dispatches each event of a stream it observes to one overridable handler
// per event kind (answer true: handled, delivery stops); events from sources
// that are not streams reach no handler. From its FB::AttachedEvent until its
// FB::DetachedEvent or FB::StreamDestroyedEvent it holds its stream strongly.
// The base handlers only track the stream and answer false.
// Main thread, like the stream it observes; no lock.
#ifndef FB_DEFAULTBROWSERSTREAMHANDLER_H
#define FB_DEFAULTBROWSERSTREAMHANDLER_H

#include "PluginEventSink.h"
#include "StreamTypes.h"

namespace FB {

class AttachedEvent;
class DetachedEvent;
class StreamCreatedEvent;
class StreamDestroyedEvent;
class StreamDataArrivedEvent;
class StreamFailedOpenEvent;
class StreamOpenedEvent;
class StreamCompletedEvent;

class DefaultBrowserStreamHandler : public PluginEventSink {
public:
    DefaultBrowserStreamHandler();
    ~DefaultBrowserStreamHandler() override;

    bool HandleEvent(PluginEvent* evt, PluginEventSource* source) override;

    // Keeps the stream's own pointer.
    virtual bool onAttached(AttachedEvent* evt, BrowserStream* stream);
    // Forget the stream.
    virtual bool onDetached(DetachedEvent* evt, BrowserStream* stream);
    virtual bool onStreamCreated(StreamCreatedEvent* evt, BrowserStream* stream);
    virtual bool onStreamDestroyed(StreamDestroyedEvent* evt, BrowserStream* stream);
    virtual bool onStreamDataArrived(StreamDataArrivedEvent* evt, BrowserStream* stream);
    virtual bool onStreamFailedOpen(StreamFailedOpenEvent* evt, BrowserStream* stream);
    virtual bool onStreamOpened(StreamOpenedEvent* evt, BrowserStream* stream);
    virtual bool onStreamCompleted(StreamCompletedEvent* evt, BrowserStream* stream);

    virtual const BrowserStreamPtr& getStream() const;
    // Closes the held stream; false without one.
    virtual bool closeStream();
    virtual void setStream(const BrowserStreamPtr& stream);
    virtual void clearStream();

private:
    BrowserStreamPtr m_stream;
};

} // namespace FB

#endif
