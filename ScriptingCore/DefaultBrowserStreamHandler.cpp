#include "DefaultBrowserStreamHandler.h"

#include "BrowserStream.h"
#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/DetachedEvent.h"
#include "PluginEvents/StreamEvents.h"

namespace FB {

namespace {

// The event as its class when it is of that class and comes from a stream.
template <class Event>
Event* streamEvent(PluginEvent* evt, PluginEventSource* source)
{
    Event* typed = dynamic_cast<Event*>(evt);
    return typed && dynamic_cast<BrowserStream*>(source) ? typed : 0;
}

} // namespace

DefaultBrowserStreamHandler::DefaultBrowserStreamHandler() {}

DefaultBrowserStreamHandler::~DefaultBrowserStreamHandler() {}

bool DefaultBrowserStreamHandler::HandleEvent(PluginEvent* evt, PluginEventSource* source)
{
    if (!evt)
        return false;
    if (AttachedEvent* e = streamEvent<AttachedEvent>(evt, source))
        return onAttached(e, streamFromSource(source));
    if (DetachedEvent* e = streamEvent<DetachedEvent>(evt, source))
        return onDetached(e, streamFromSource(source));
    if (StreamCreatedEvent* e = streamEvent<StreamCreatedEvent>(evt, source))
        return onStreamCreated(e, streamFromSource(source));
    if (StreamDestroyedEvent* e = streamEvent<StreamDestroyedEvent>(evt, source))
        return onStreamDestroyed(e, streamFromSource(source));
    if (StreamFailedOpenEvent* e = streamEvent<StreamFailedOpenEvent>(evt, source))
        return onStreamFailedOpen(e, streamFromSource(source));
    if (StreamOpenedEvent* e = streamEvent<StreamOpenedEvent>(evt, source))
        return onStreamOpened(e, streamFromSource(source));
    if (StreamDataArrivedEvent* e = streamEvent<StreamDataArrivedEvent>(evt, source))
        return onStreamDataArrived(e, streamFromSource(source));
    if (StreamCompletedEvent* e = streamEvent<StreamCompletedEvent>(evt, source))
        return onStreamCompleted(e, streamFromSource(source));
    return false;
}

bool DefaultBrowserStreamHandler::onAttached(AttachedEvent*, BrowserStream* stream)
{
    setStream(stream->sharedFromThis());
    return false;
}

bool DefaultBrowserStreamHandler::onDetached(DetachedEvent*, BrowserStream*)
{
    clearStream();
    return false;
}

bool DefaultBrowserStreamHandler::onStreamCreated(StreamCreatedEvent*, BrowserStream*)
{
    return false;
}

bool DefaultBrowserStreamHandler::onStreamDestroyed(StreamDestroyedEvent*, BrowserStream*)
{
    clearStream();
    return false;
}

bool DefaultBrowserStreamHandler::onStreamDataArrived(StreamDataArrivedEvent*, BrowserStream*)
{
    return false;
}

bool DefaultBrowserStreamHandler::onStreamFailedOpen(StreamFailedOpenEvent*, BrowserStream*)
{
    return false;
}

bool DefaultBrowserStreamHandler::onStreamOpened(StreamOpenedEvent*, BrowserStream*)
{
    return false;
}

bool DefaultBrowserStreamHandler::onStreamCompleted(StreamCompletedEvent*, BrowserStream*)
{
    return false;
}

const BrowserStreamPtr& DefaultBrowserStreamHandler::getStream() const
{
    return m_stream;
}

bool DefaultBrowserStreamHandler::closeStream()
{
    // A copy: closing may detach this handler and so clear the stored one.
    const BrowserStreamPtr stream(getStream());
    return stream ? stream->close() : false;
}

void DefaultBrowserStreamHandler::setStream(const BrowserStreamPtr& stream)
{
    m_stream = stream;
}

void DefaultBrowserStreamHandler::clearStream()
{
    m_stream.reset();
}

} // namespace FB
