// Browser streams: the request value, the stream base (ranges, seeking,
// its own pointer, destruction), the default handler's dispatch and the
// stream manager that keeps streams until they complete.
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include "BrowserStream.h"
#include "BrowserStreamManager.h"
#include "BrowserStreamRequest.h"
#include "DefaultBrowserStreamHandler.h"
#include "FakeBrowserStream.h"
#include "PluginEventSource.h"
#include "PluginEvents/AttachedEvent.h"
#include "PluginEvents/StreamEvents.h"
#include "StreamEventLog.h"

using testbed::FakeBrowserStream;
using testbed::FakeBrowserStreamPtr;
using testbed::StreamEventLog;
using testbed::StreamEventLogPtr;

namespace {

typedef std::vector<std::string> Events;

FakeBrowserStreamPtr makeStream(bool seekable = false, size_t bufferSize = 1024)
{
    return boost::make_shared<FakeBrowserStream>("http://example.com/file", false, seekable,
                                                 bufferSize);
}

// The request

TEST(BrowserStreamRequest, StartsWithItsDefaults)
{
    const FB::BrowserStreamRequest request(FB::URI("http://example.com/a?b=c"), "POST", false);
    EXPECT_EQ(FB::URI("http://example.com/a?b=c"), request.uri);
    EXPECT_EQ("POST", request.method);
    EXPECT_TRUE(request.headers.empty());
    EXPECT_EQ(0u, request.lastModified);
    EXPECT_FALSE(request.seekable);
    EXPECT_EQ(131072u, request.internalBufferSize);
    EXPECT_FALSE(request.cache);
    EXPECT_FALSE(request.sink);
    EXPECT_FALSE(request.callback);
    EXPECT_FALSE(request.accepted);
    EXPECT_TRUE(request.postData.empty());
    EXPECT_TRUE(request.postHeaders.empty());
}

TEST(BrowserStreamRequest, ACopyHasEveryFieldTheCallbackIncluded)
{
    FB::BrowserStreamRequest request(FB::URI("https://example.com/x"), "GET", true);
    request.headers.insert(FB::HeaderMap::value_type("Set-Cookie", "a=1"));
    request.headers.insert(FB::HeaderMap::value_type("Set-Cookie", "b=2"));
    request.lastModified = 1234567u;
    request.seekable = true;
    request.internalBufferSize = 77;
    request.cache = true;
    request.sink = boost::make_shared<StreamEventLog>();
    int calls = 0;
    size_t sizeSeen = 0;
    request.callback = [&](bool, const FB::HeaderMap&, const boost::shared_array<unsigned char>&,
                           size_t size, float, bool) {
        ++calls;
        sizeSeen = size;
    };
    request.postData = "a=b";
    request.postHeaders = "Content-type: text/plain\n";

    const FB::BrowserStreamRequest copy(request);
    EXPECT_EQ(request.uri, copy.uri);
    EXPECT_EQ("GET", copy.method);
    EXPECT_EQ(request.headers, copy.headers);
    EXPECT_EQ(1234567u, copy.lastModified);
    EXPECT_TRUE(copy.seekable);
    EXPECT_EQ(77u, copy.internalBufferSize);
    EXPECT_TRUE(copy.cache);
    EXPECT_EQ(request.sink, copy.sink);
    EXPECT_TRUE(copy.accepted);
    EXPECT_EQ("a=b", copy.postData);
    EXPECT_EQ("Content-type: text/plain\n", copy.postHeaders);
    ASSERT_TRUE(copy.callback);
    copy.callback(true, FB::HeaderMap(), boost::shared_array<unsigned char>(), 9, 0, true);
    EXPECT_EQ(1, calls);
    EXPECT_EQ(9u, sizeSeen);
}

// The stream

TEST(BrowserStream, StartsClosedWithTheGivenProperties)
{
    const FakeBrowserStreamPtr stream =
        boost::make_shared<FakeBrowserStream>("http://example.com/f", true, true, 4096);
    EXPECT_EQ("http://example.com/f", stream->getUrl());
    EXPECT_TRUE(stream->isCached());
    EXPECT_TRUE(stream->isSeekableRequested());
    EXPECT_FALSE(stream->isSeekableByServer());
    EXPECT_EQ(4096u, stream->getInternalBufferSize());
    EXPECT_FALSE(stream->isOpen());
    EXPECT_FALSE(stream->isCompleted());
    EXPECT_EQ(0u, stream->getLength());
    EXPECT_TRUE(stream->getMimeType().empty());
    EXPECT_TRUE(stream->getHeaders().empty());
    EXPECT_TRUE(stream->getCacheFilename().empty());
}

TEST(BrowserStream, ReadRangeAsksForOneRangeAndRefusesAnEndBeforeTheStart)
{
    const FakeBrowserStreamPtr stream = makeStream(true);
    EXPECT_TRUE(stream->readRange(100, 200));
    ASSERT_EQ(1u, stream->rangeRequests.size());
    ASSERT_EQ(1u, stream->rangeRequests[0].size());
    EXPECT_EQ(100u, stream->rangeRequests[0][0].start);
    EXPECT_EQ(200u, stream->rangeRequests[0][0].end);

    EXPECT_FALSE(stream->readRange(200, 100));
    EXPECT_EQ(1u, stream->rangeRequests.size()) << "no wrapped length is asked for";

    stream->acceptReads = false;
    EXPECT_FALSE(stream->readRange(0, 10)) << "the browser's refusal is the answer";
}

// Counts how often the server flag is consulted.
class CountingStream : public FakeBrowserStream {
public:
    explicit CountingStream(bool requested) : FakeBrowserStream("http://example.com/", false, requested, 16) {}
    bool isSeekableByServer() const override
    {
        ++asked;
        return FakeBrowserStream::isSeekableByServer();
    }
    mutable int asked = 0;
};

TEST(BrowserStream, SeekableOnlyWhenRequestedAndAllowedByTheServer)
{
    struct Case {
        bool requested;
        bool server;
        bool seekable;
        int serverAsked;
    };
    const Case cases[] = {
        {false, false, false, 0},
        {false, true, false, 0},
        {true, false, false, 1},
        {true, true, true, 1},
    };
    for (const Case& c : cases) {
        const boost::shared_ptr<CountingStream> stream = boost::make_shared<CountingStream>(c.requested);
        stream->setSeekableByServer(c.server);
        EXPECT_EQ(c.seekable, stream->isSeekable()) << c.requested << c.server;
        EXPECT_EQ(c.serverAsked, stream->asked) << c.requested << c.server;
    }
}

TEST(BrowserStream, SharedFromThisNeedsAnOwner)
{
    const FakeBrowserStreamPtr owned = makeStream();
    EXPECT_EQ(FB::BrowserStreamPtr(owned), owned->sharedFromThis());

    FakeBrowserStream unowned("http://example.com/", false, false, 16);
    EXPECT_THROW(unowned.sharedFromThis(), boost::bad_weak_ptr);
}

TEST(BrowserStream, StreamFromSourceIsACheckedCast)
{
    const FakeBrowserStreamPtr stream = makeStream();
    EXPECT_EQ(stream.get(), FB::streamFromSource(stream.get()));
    FB::PluginEventSource plain;
    EXPECT_THROW(FB::streamFromSource(&plain), std::bad_cast);
    EXPECT_THROW(FB::streamFromSource(nullptr), std::bad_cast);
}

// A sink that misbehaves on the destroyed event.
class DestroyedSink : public FB::PluginEventSink {
public:
    enum Misdeed { Nothing, Throws, AsksForTheStream };
    explicit DestroyedSink(Misdeed misdeed) : misdeed(misdeed) {}
    bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource* source) override
    {
        FB::StreamDestroyedEvent* destroyed = dynamic_cast<FB::StreamDestroyedEvent*>(evt);
        if (!destroyed)
            return false;
        ++received;
        named = destroyed->stream == source;
        if (misdeed == Throws)
            throw std::runtime_error("sink failed");
        if (misdeed == AsksForTheStream)
            FB::streamFromSource(source)->sharedFromThis();
        return false;
    }
    Misdeed misdeed;
    int received = 0;
    bool named = false;
};

TEST(BrowserStream, DestructionTellsTheLiveSinksAndLetsNothingOut)
{
    for (DestroyedSink::Misdeed misdeed :
         {DestroyedSink::Nothing, DestroyedSink::Throws, DestroyedSink::AsksForTheStream}) {
        const boost::shared_ptr<DestroyedSink> sink = boost::make_shared<DestroyedSink>(misdeed);
        boost::shared_ptr<DestroyedSink> gone = boost::make_shared<DestroyedSink>(misdeed);
        FakeBrowserStreamPtr stream = makeStream();
        stream->AttachObserver(sink);
        stream->AttachObserver(gone);
        boost::weak_ptr<DestroyedSink> weakGone(gone);
        gone.reset();
        ASSERT_TRUE(weakGone.expired());
        EXPECT_NO_THROW(stream.reset()) << misdeed;
        EXPECT_EQ(1, sink->received) << misdeed;
        EXPECT_TRUE(sink->named) << misdeed;
    }
}

// The default handler

TEST(DefaultBrowserStreamHandler, EachStreamEventReachesItsOwnHandler)
{
    const FakeBrowserStreamPtr stream = makeStream();
    const StreamEventLogPtr log = boost::make_shared<StreamEventLog>();
    stream->AttachObserver(log);
    FB::StreamCreatedEvent created(stream.get());
    stream->SendEvent(&created);
    stream->failOpen();
    stream->open();
    stream->deliver("abc", 0);
    stream->complete(true);
    stream->DetachObserver(log);
    EXPECT_EQ(Events({"attached", "created", "failedopen", "opened", "data", "completed:1",
                      "detached"}),
              log->events);
    for (FB::BrowserStream* named : log->streams)
        EXPECT_EQ(stream.get(), named);
    EXPECT_EQ("abc", log->data);
}

TEST(DefaultBrowserStreamHandler, TheHandlersAnswerStopsTheDelivery)
{
    const FakeBrowserStreamPtr stream = makeStream();
    const StreamEventLogPtr first = boost::make_shared<StreamEventLog>();
    const StreamEventLogPtr second = boost::make_shared<StreamEventLog>();
    stream->AttachObserver(first);
    stream->AttachObserver(second);
    first->handled = true;
    FB::StreamOpenedEvent opened(stream.get());
    EXPECT_TRUE(stream->SendEvent(&opened));
    first->handled = false;
    FB::StreamFailedOpenEvent failed(stream.get());
    EXPECT_FALSE(stream->SendEvent(&failed));
    EXPECT_EQ(Events({"attached", "opened", "failedopen"}), first->events);
    EXPECT_EQ(Events({"attached", "failedopen"}), second->events);
}

TEST(DefaultBrowserStreamHandler, EventsFromOtherSourcesAndNullEventsReachNoHandler)
{
    const StreamEventLogPtr log = boost::make_shared<StreamEventLog>();
    log->handled = true;
    FB::PluginEventSource plain;
    FB::AttachedEvent attached;
    FB::StreamOpenedEvent opened(nullptr);
    EXPECT_FALSE(log->HandleEvent(&attached, &plain));
    EXPECT_FALSE(log->HandleEvent(&opened, &plain));
    EXPECT_FALSE(log->HandleEvent(&opened, nullptr));
    const FakeBrowserStreamPtr stream = makeStream();
    EXPECT_FALSE(log->HandleEvent(nullptr, stream.get()));
    EXPECT_TRUE(log->events.empty());
}

TEST(DefaultBrowserStreamHandler, HoldsItsStreamFromAttachUntilDetach)
{
    const boost::shared_ptr<FB::DefaultBrowserStreamHandler> handler =
        boost::make_shared<FB::DefaultBrowserStreamHandler>();
    EXPECT_FALSE(handler->closeStream()) << "never attached";

    FakeBrowserStreamPtr stream = makeStream();
    FakeBrowserStream* raw = stream.get();
    stream->AttachObserver(handler);
    EXPECT_EQ(FB::BrowserStreamPtr(stream), handler->getStream());
    boost::weak_ptr<FakeBrowserStream> weak(stream);
    stream.reset();
    ASSERT_FALSE(weak.expired()) << "the handler keeps its stream";

    raw->open();
    EXPECT_TRUE(handler->closeStream());
    EXPECT_EQ(1, raw->closes);
    EXPECT_TRUE(raw->isCompleted());

    raw->DetachObserver(handler);
    EXPECT_FALSE(handler->getStream());
    EXPECT_TRUE(weak.expired());
}

// The manager

class BrowserStreamManagerTest : public ::testing::Test {
protected:
    boost::shared_ptr<FB::BrowserStreamManager> manager =
        boost::make_shared<FB::BrowserStreamManager>();
};

TEST_F(BrowserStreamManagerTest, KeepsARetainedStreamOnceUntilReleased)
{
    FakeBrowserStreamPtr stream = makeStream();
    const boost::weak_ptr<FakeBrowserStream> weak(stream);
    manager->retainStream(stream);
    manager->retainStream(stream);
    FakeBrowserStream* raw = stream.get();
    stream.reset();
    ASSERT_FALSE(weak.expired());

    // One release undoes both retains: the stream was held once.
    manager->releaseStream(raw->sharedFromThis());
    EXPECT_TRUE(weak.expired());
}

TEST_F(BrowserStreamManagerTest, ReleasesACompletedStreamInsideItsOwnDeliveryAndPassesItOn)
{
    FakeBrowserStreamPtr stream = makeStream();
    const StreamEventLogPtr before = boost::make_shared<StreamEventLog>();
    const boost::weak_ptr<FakeBrowserStream> weak(stream);
    // A consumer before the manager (made to let go of the stream) and a
    // plain sink after it.
    stream->AttachObserver(before);
    manager->retainStream(stream);
    FakeBrowserStream* raw = stream.get();
    before->clearStream();
    stream.reset();
    ASSERT_FALSE(weak.expired()) << "the manager is the only owner now";

    struct LateSink : FB::PluginEventSink {
        bool HandleEvent(FB::PluginEvent* evt, FB::PluginEventSource*) override
        {
            if (FB::StreamCompletedEvent* c = dynamic_cast<FB::StreamCompletedEvent*>(evt))
                completions.push_back(c->success);
            return false;
        }
        std::vector<bool> completions;
    };
    const boost::shared_ptr<LateSink> late = boost::make_shared<LateSink>();
    raw->AttachObserver(late);
    raw->open();
    raw->complete(true);
    // The manager dropped the last owner during the delivery; the delivery
    // went on to the sink after it and the stream went afterwards.
    EXPECT_EQ(std::vector<bool>({true}), late->completions);
    EXPECT_TRUE(weak.expired());
    ASSERT_LE(2u, before->events.size());
    EXPECT_EQ(Events({"completed:1", "destroyed"}),
              Events(before->events.end() - 2, before->events.end()));
}

TEST_F(BrowserStreamManagerTest, DestructionClosesEveryStreamStillKept)
{
    std::vector<FakeBrowserStreamPtr> streams = {makeStream(), makeStream(), makeStream()};
    std::vector<StreamEventLogPtr> logs;
    for (const FakeBrowserStreamPtr& stream : streams) {
        manager->retainStream(stream);
        logs.push_back(boost::make_shared<StreamEventLog>());
        stream->AttachObserver(logs.back());
        logs.back()->clearStream();
    }
    streams[0]->open();
    streams[1]->closeFails = true;  // one failing close stops nothing
    EXPECT_NO_THROW(manager.reset());
    for (size_t i = 0; i < streams.size(); ++i) {
        EXPECT_EQ(1, streams[i]->closes) << i;
        EXPECT_TRUE(streams[i]->isCompleted()) << i;
        EXPECT_EQ("completed:0", logs[i]->events.back()) << i << ": a cut stream is no success";
    }
}

TEST_F(BrowserStreamManagerTest, AStreamReleasedByItsCompletionIsNotClosedAgain)
{
    const FakeBrowserStreamPtr stream = makeStream();
    manager->retainStream(stream);
    stream->open();
    stream->complete(false);
    manager.reset();
    EXPECT_EQ(0, stream->closes);
}

} // namespace
