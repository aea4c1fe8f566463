// The events of a browser stream, sent by the stream itself to its sinks:
// created, opened, failed to open, a block of data, completed, destroyed.
// stream is the sending stream; for FB::StreamDestroyedEvent it is being
// destroyed and must not be kept. The data of FB::StreamDataArrivedEvent is
// valid during the delivery only.
#ifndef FB_PLUGINEVENTS_STREAMEVENTS_H
#define FB_PLUGINEVENTS_STREAMEVENTS_H

#include <cstddef>

#include "PluginEvent.h"

namespace FB {

class BrowserStream;

class StreamEvent : public PluginEvent {
public:
    explicit StreamEvent(BrowserStream* stream) : stream(stream) {}
    ~StreamEvent() override {}

    BrowserStream* stream;
};

class StreamCreatedEvent : public StreamEvent {
public:
    explicit StreamCreatedEvent(BrowserStream* stream) : StreamEvent(stream) {}
    ~StreamCreatedEvent() override {}
};

class StreamOpenedEvent : public StreamEvent {
public:
    explicit StreamOpenedEvent(BrowserStream* stream) : StreamEvent(stream) {}
    ~StreamOpenedEvent() override {}
};

// Seeking was asked for, but the server's stream cannot seek.
class StreamFailedOpenEvent : public StreamEvent {
public:
    explicit StreamFailedOpenEvent(BrowserStream* stream) : StreamEvent(stream) {}
    ~StreamFailedOpenEvent() override {}
};

class StreamDataArrivedEvent : public StreamEvent {
public:
    // progress is in percent, 0 when the stream announced no length.
    StreamDataArrivedEvent(BrowserStream* stream, const void* data, size_t length,
                           size_t offset, float progress)
        : StreamEvent(stream), data(data), length(length), offset(offset),
          progress(progress) {}
    ~StreamDataArrivedEvent() override {}

    const void* data;
    size_t length;
    size_t offset;
    float progress;
};

class StreamCompletedEvent : public StreamEvent {
public:
    StreamCompletedEvent(BrowserStream* stream, bool success)
        : StreamEvent(stream), success(success) {}
    ~StreamCompletedEvent() override {}

    bool success;
};

class StreamDestroyedEvent : public StreamEvent {
public:
    explicit StreamDestroyedEvent(BrowserStream* stream) : StreamEvent(stream) {}
    ~StreamDestroyedEvent() override {}
};

} // namespace FB

#endif
