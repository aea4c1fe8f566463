// testbed::StreamEventLog: a stream consumer for tests that records, in
// order, each stream event it receives ("attached", "created", "opened",
// "failedopen", "data", "completed:1", "completed:0", "destroyed",
// "detached") and answers a handled flag the test chooses. It is an
// FB::DefaultBrowserStreamHandler, so it also holds its stream like any
// consumer. Main thread, like the stream it observes.
#ifndef TESTBED_STREAMEVENTLOG_H
#define TESTBED_STREAMEVENTLOG_H

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "BrowserStream.h"
#include "DefaultBrowserStreamHandler.h"
#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/DetachedEvent.h"
#include "PluginEvents/StreamEvents.h"

namespace testbed {

class StreamEventLog : public FB::DefaultBrowserStreamHandler {
public:
    StreamEventLog() : handled(false) {}

    bool onAttached(FB::AttachedEvent* evt, FB::BrowserStream* stream) override
    {
        note("attached", stream);
        FB::DefaultBrowserStreamHandler::onAttached(evt, stream);
        return handled;
    }
    bool onDetached(FB::DetachedEvent* evt, FB::BrowserStream* stream) override
    {
        note("detached", stream);
        FB::DefaultBrowserStreamHandler::onDetached(evt, stream);
        return handled;
    }
    bool onStreamCreated(FB::StreamCreatedEvent*, FB::BrowserStream* stream) override
    {
        return note("created", stream);
    }
    bool onStreamDestroyed(FB::StreamDestroyedEvent* evt, FB::BrowserStream* stream) override
    {
        note("destroyed", stream);
        FB::DefaultBrowserStreamHandler::onStreamDestroyed(evt, stream);
        return handled;
    }
    bool onStreamDataArrived(FB::StreamDataArrivedEvent* evt, FB::BrowserStream* stream) override
    {
        data.append(static_cast<const char*>(evt->data), evt->length);
        return note("data", stream);
    }
    bool onStreamFailedOpen(FB::StreamFailedOpenEvent*, FB::BrowserStream* stream) override
    {
        return note("failedopen", stream);
    }
    bool onStreamOpened(FB::StreamOpenedEvent*, FB::BrowserStream* stream) override
    {
        return note("opened", stream);
    }
    bool onStreamCompleted(FB::StreamCompletedEvent* evt, FB::BrowserStream* stream) override
    {
        return note(evt->success ? "completed:1" : "completed:0", stream);
    }

    std::vector<std::string> events;
    // The stream named by each event, in the same order.
    std::vector<FB::BrowserStream*> streams;
    // The bytes of every data event, in arrival order.
    std::string data;
    bool handled;

private:
    bool note(const char* what, FB::BrowserStream* stream)
    {
        events.push_back(what);
        streams.push_back(stream);
        return handled;
    }
};

typedef boost::shared_ptr<StreamEventLog> StreamEventLogPtr;

} // namespace testbed

#endif
