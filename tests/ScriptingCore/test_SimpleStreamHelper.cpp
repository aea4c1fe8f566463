// The download helper: header parsing, downloads into memory through the
// fake browser's streams (chunk placement, failure, gaps and re-sends), the
// requests from other threads, the synchronous download, and the system
// proxy detector.
#include <chrono>
#include <cstddef>
#include <future>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include "BrowserStreamRequest.h"
#include "FakeBrowserHost.h"
#include "FakeBrowserStream.h"
#include "HttpHeaders.h"
#include "SimpleStreamHelper.h"
#include "SystemProxyDetector.h"
#include "URI.h"
#include "Watchdog.h"
#include "script_error.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::FakeBrowserStream;
using testbed::FakeBrowserStreamPtr;

namespace {

typedef std::multimap<std::string, std::string> Headers;
typedef std::vector<std::pair<std::string, std::string> > Pairs;

Pairs pairsOf(const FB::HeaderMap& headers)
{
    return Pairs(headers.begin(), headers.end());
}

// Header parsing

TEST(ParseHttpHeaders, TableOfBlocks)
{
    struct Case {
        const char* block;
        Pairs expected;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Type:  text/html \r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n",
         {{"Content-Type", "text/html"}, {"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}}},
        {"X-Empty:\n", {{"X-Empty", ""}}},
        {" \t \r\n\n", {}},
        {"", {}},
        {"no colon here\nLocation: http://example.com:8080/a\n",
         {{"Location", "http://example.com:8080/a"}}},
        {"  Name  :  spaced value  \r", {{"Name", "spaced value"}}},
        {": no name\n", {{"", "no name"}}},
        // Names keep their case; repeats stay in block order after others.
        {"b: 1\nA: 2\nb: 3\na: 4\n", {{"A", "2"}, {"a", "4"}, {"b", "1"}, {"b", "3"}}},
        {"Mixed: one\rOther: two\nLast: three", {{"Last", "three"}, {"Mixed", "one"}, {"Other", "two"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, pairsOf(FB::parseHttpHeaders(c.block))) << c.block;
}

// Downloads

struct Call {
    bool success;
    Headers headers;
    std::string data;
    bool hasData;
    size_t size;
    float progress;
    bool finished;
};

// Records every callback call; the body is read out during the call.
struct CallLog {
    FB::HttpCallback callback()
    {
        return [this](bool success, const FB::HeaderMap& headers,
                      const boost::shared_array<unsigned char>& data, size_t size, float progress,
                      bool finished) {
            Call call = {success, headers, std::string(), static_cast<bool>(data), size,
                         progress, finished};
            if (data)
                call.data.assign(reinterpret_cast<const char*>(data.get()), size);
            calls.push_back(call);
            if (fail)
                throw std::runtime_error("callback failed");
        };
    }
    const Call& last() const { return calls.back(); }
    size_t finals() const
    {
        size_t n = 0;
        for (const Call& c : calls)
            n += c.finished ? 1 : 0;
        return n;
    }

    std::vector<Call> calls;
    bool fail = false;
};

std::string pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

class DownloadTest : public ::testing::Test {
protected:
    void TearDown() override { host->shutdown(); }

    // Starts a GET download on the main thread; the fake browser's stream is
    // then host->lastStream().
    FB::SimpleStreamHelperPtr start(size_t blockSize = 131072)
    {
        const FB::SimpleStreamHelperPtr helper = FB::SimpleStreamHelper::asyncGet(
            host, FB::URI("http://127.0.0.1/file"), log.callback(), false, blockSize);
        stream = host->lastStream();
        return helper;
    }

    FakeBrowserHostPtr host = FakeBrowserHost::create();
    CallLog log;
    FakeBrowserStreamPtr stream;
};

class ChunkedDownloadTest : public DownloadTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ChunkedDownloadTest, The300000BytesArriveWholeAndInOrder)
{
    const size_t chunk = GetParam();
    const std::string body = pattern(300000);
    FB::SimpleStreamHelperPtr helper = start();
    ASSERT_TRUE(helper);
    ASSERT_TRUE(stream);
    EXPECT_EQ(FB::BrowserStreamPtr(stream), helper->getStream());
    stream->setLength(body.size());
    stream->setHeaders("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n");
    stream->open();
    size_t offset = 0;
    size_t chunks = 0;
    while (offset < body.size()) {
        // The browser sends again whatever the stream did not take.
        const size_t length = std::min(chunk, body.size() - offset);
        offset += stream->deliver(body.data() + offset, length, offset);
        ++chunks;
        ASSERT_EQ(chunks, log.calls.size());
        EXPECT_FALSE(log.last().finished);
        EXPECT_TRUE(log.last().success);
        EXPECT_FALSE(log.last().hasData);
        EXPECT_EQ(0u, log.last().size);
    }
    EXPECT_FLOAT_EQ(100.0f, log.last().progress);
    stream->complete(true);

    ASSERT_EQ(chunks + 1, log.calls.size());
    const Call& final = log.last();
    EXPECT_TRUE(final.success);
    EXPECT_TRUE(final.finished);
    EXPECT_EQ(300000u, final.size);
    EXPECT_TRUE(final.data == body) << "the body differs";
    EXPECT_EQ(Headers({{"Content-Type", "application/octet-stream"}}), final.headers);
    EXPECT_EQ(0.0f, final.progress);

    // Done: the helper let go of itself, and with it of the stream.
    const boost::weak_ptr<FB::SimpleStreamHelper> weakHelper(helper);
    const boost::weak_ptr<FakeBrowserStream> weakStream(stream);
    helper.reset();
    stream.reset();
    EXPECT_TRUE(weakHelper.expired());
    EXPECT_TRUE(weakStream.expired());
}

// Chunk sizes that straddle the 131072-byte blocks in every way, and one
// larger than the stream takes at once.
INSTANTIATE_TEST_SUITE_P(ChunkSizes, ChunkedDownloadTest,
                         ::testing::Values(1000, 65536, 99999, 131071, 131072, 131073, 300000));

TEST_F(DownloadTest, AStreamWithoutDataGivesAnEmptyBody)
{
    start();
    stream->open();
    stream->complete(true);
    ASSERT_EQ(1u, log.calls.size());
    EXPECT_TRUE(log.last().success);
    EXPECT_TRUE(log.last().finished);
    EXPECT_TRUE(log.last().hasData);
    EXPECT_EQ(0u, log.last().size);
}

TEST_F(DownloadTest, AFailureAfterSomeBytesReportsThemAsFailureOnce)
{
    start();
    stream->setHeaders("Content-Type: text/plain\r\n");
    stream->open();
    stream->deliver(pattern(1000), 0);
    stream->complete(false);
    stream->complete(false);
    stream->close();
    ASSERT_EQ(2u, log.calls.size());
    const Call& final = log.last();
    EXPECT_FALSE(final.success);
    EXPECT_TRUE(final.finished);
    EXPECT_TRUE(final.headers.empty());
    EXPECT_FALSE(final.hasData);
    EXPECT_EQ(1000u, final.size);
}

TEST_F(DownloadTest, ClosingAnOpenDownloadIsAFailureNotATruncatedSuccess)
{
    FB::SimpleStreamHelperPtr helper = start();
    stream->open();
    stream->deliver(pattern(10), 0);
    EXPECT_TRUE(helper->closeStream());
    ASSERT_EQ(1u, log.finals());
    EXPECT_FALSE(log.last().success);
    EXPECT_EQ(10u, log.last().size);
}

TEST_F(DownloadTest, ChunksWithGapsAndResendsLandAtTheirOffsets)
{
    // Blocks of 16 bytes: chunks out of order, overlapping, re-sent, and a
    // gap (20 to 32) that nothing fills.
    const std::string bytes = pattern(48);
    start(16);
    stream->open();
    struct Piece {
        size_t offset;
        size_t length;
    };
    for (const Piece& p : {Piece{32, 16}, Piece{0, 10}, Piece{0, 10}, Piece{5, 15}, Piece{33, 3}})
        stream->deliver(bytes.substr(p.offset, p.length), p.offset);
    stream->complete(true);

    ASSERT_EQ(6u, log.calls.size());
    const Call& final = log.last();
    ASSERT_TRUE(final.success);
    ASSERT_EQ(48u, final.size) << "the body is the received extent";
    std::string expected = bytes;
    expected.replace(20, 12, std::string(12, '\0'));
    EXPECT_TRUE(final.data == expected);
}

TEST_F(DownloadTest, AChunkThatCannotBePlacedIsDropped)
{
    start(16);
    stream->open();
    stream->deliver(std::string("abcd"), 0);
    const size_t max = std::numeric_limits<size_t>::max();
    stream->deliver(std::string(10, 'x'), max - 2);   // its end overflows
    stream->deliver(std::string(10, 'y'), max - 100); // no block list that long
    stream->complete(true);
    ASSERT_EQ(2u, log.calls.size()) << "dropped chunks report no progress";
    EXPECT_EQ(4u, log.last().size);
    EXPECT_EQ("abcd", log.last().data);
}

TEST_F(DownloadTest, ABlockSizeOfZeroTakesTheDefault)
{
    const FakeBrowserStreamPtr own =
        boost::make_shared<FakeBrowserStream>("http://127.0.0.1/", false, false, 1024);
    FB::BrowserStreamRequest request(FB::URI("http://127.0.0.1/"), "GET", true);
    request.callback = log.callback();
    request.internalBufferSize = 0;
    ASSERT_TRUE(FB::SimpleStreamHelper::asyncRequest(host, own, request));
    own->open();
    own->deliver(pattern(1000), 0);
    own->complete(true);
    EXPECT_EQ(pattern(1000), log.last().data);
}

TEST_F(DownloadTest, AFailingCallbackStillEndsTheDownload)
{
    FB::SimpleStreamHelperPtr helper = start();
    const boost::weak_ptr<FB::SimpleStreamHelper> weakHelper(helper);
    helper.reset();
    stream->open();
    log.fail = true;
    EXPECT_THROW(stream->complete(true), std::runtime_error) << "the sender sees the failure";
    EXPECT_EQ(1u, log.finals());
    EXPECT_TRUE(weakHelper.expired()) << "no self reference is left behind";
}

TEST_F(DownloadTest, ARequestWithoutCallbackIsRefusedBeforeAnyStreamOpens)
{
    FB::BrowserStreamRequest request(FB::URI("http://127.0.0.1/"), "GET", true);
    try {
        FB::SimpleStreamHelper::asyncRequest(host, request);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Invalid callback", e.what());
    }
    EXPECT_THROW(FB::SimpleStreamHelper::asyncGet(host, FB::URI("http://127.0.0.1/"),
                                                  FB::HttpCallback(), false, 16),
                 std::runtime_error);
    EXPECT_THROW(FB::SimpleStreamHelper::asyncPost(host, FB::URI("http://127.0.0.1/"), "a=b",
                                                   FB::HttpCallback(), false, 16),
                 std::runtime_error);
    // From a worker too, before anything is carried to the main thread.
    std::thread worker([&] {
        EXPECT_THROW(FB::SimpleStreamHelper::asyncRequest(host, request), std::runtime_error);
    });
    worker.join();
    EXPECT_TRUE(host->streamRequests().empty());
    EXPECT_EQ(0, host->handOffs());
}

TEST_F(DownloadTest, AStreamThatCannotBeOpenedGivesNoHelper)
{
    host->setRefuseStreams(true);
    EXPECT_FALSE(start());
    EXPECT_EQ(1u, host->streamRequests().size());
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(DownloadTest, APostRequestCarriesItsDataWithEmptyPostHeaders)
{
    FB::SimpleStreamHelper::asyncPost(host, FB::URI("http://127.0.0.1/form"), "a=1&b=2",
                                      log.callback(), true, 4096);
    ASSERT_EQ(1u, host->streamRequests().size());
    const FB::BrowserStreamRequest request = host->streamRequests()[0];
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ("a=1&b=2", request.postData);
    EXPECT_TRUE(request.postHeaders.empty());
    EXPECT_TRUE(request.cache);
    EXPECT_EQ(4096u, request.internalBufferSize);
    EXPECT_TRUE(request.accepted);
}

// From other threads

class WorkerDownloadTest : public DownloadTest {
protected:
    // Serves the main thread until the worker's future is ready.
    template <class T>
    T serve(std::future<T>& result)
    {
        EXPECT_TRUE(host->pumpUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            10000));
        return result.get();
    }
    // Serves the main thread until the fake browser made a stream.
    FakeBrowserStreamPtr awaitStream()
    {
        EXPECT_TRUE(host->pumpUntil([&] { return static_cast<bool>(host->lastStream()); }, 10000));
        return host->lastStream();
    }

    testbed::Watchdog watchdog{60};
};

TEST_F(WorkerDownloadTest, AnAsynchronousRequestFromAWorkerOpensOnTheMainThread)
{
    std::future<FB::SimpleStreamHelperPtr> result = std::async(std::launch::async, [&] {
        return FB::SimpleStreamHelper::asyncGet(host, FB::URI("http://127.0.0.1/w"),
                                                log.callback(), false, 64);
    });
    FB::SimpleStreamHelperPtr helper = serve(result);
    ASSERT_TRUE(helper);
    stream = host->lastStream();
    ASSERT_TRUE(stream);
    stream->open();
    stream->deliver(std::string("hello"), 0);
    stream->complete(true);
    EXPECT_EQ("hello", log.last().data);
}

TEST_F(WorkerDownloadTest, ARefusedCarryReachesTheWorker)
{
    host->setHandOffMode(FakeBrowserHost::Refuse);
    std::future<std::string> result = std::async(std::launch::async, [&] {
        try {
            FB::SimpleStreamHelper::asyncGet(host, FB::URI("http://127.0.0.1/w"), log.callback(),
                                             false, 64);
            return std::string("no error");
        } catch (const FB::script_error& e) {
            return std::string(e.what());
        }
    });
    EXPECT_EQ("Could not marshal to main thread", result.get());
}

TEST_F(WorkerDownloadTest, ASynchronousDownloadWaitsForTheWholeBody)
{
    const std::string body = pattern(5000);
    std::future<FB::HttpStreamResponsePtr> result = std::async(std::launch::async, [&] {
        return FB::SimpleStreamHelper::synchronousGet(host, FB::URI("http://127.0.0.1/s"), false,
                                                      1024);
    });
    stream = awaitStream();
    ASSERT_TRUE(stream);
    stream->setLength(body.size());
    stream->setHeaders("X-Test: yes\r\n");
    stream->open();
    for (size_t offset = 0; offset < body.size();)
        offset += stream->deliver(body.data() + offset, body.size() - offset, offset);
    // Progress calls do not end the wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(std::future_status::timeout, result.wait_for(std::chrono::seconds(0)));
    stream->complete(true);
    const FB::HttpStreamResponsePtr response = serve(result);
    ASSERT_TRUE(response);
    EXPECT_TRUE(response->success);
    EXPECT_EQ(body.size(), response->size);
    ASSERT_TRUE(response->data);
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(response->data.get()), response->size) == body);
    EXPECT_EQ(Headers({{"X-Test", "yes"}}), response->headers);
}

TEST_F(WorkerDownloadTest, AHostShuttingDownUnderAWaitingDownloadEndsTheWaitWithoutSuccess)
{
    std::future<FB::HttpStreamResponsePtr> result = std::async(std::launch::async, [&] {
        return FB::SimpleStreamHelper::synchronousGet(host, FB::URI("http://127.0.0.1/s"), false,
                                                      1024);
    });
    stream = awaitStream();
    ASSERT_TRUE(stream);
    stream->open();
    stream->deliver(pattern(700), 0);
    const boost::weak_ptr<FakeBrowserStream> weakStream(stream);
    stream.reset();
    host->shutdown();
    ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(5)));
    const FB::HttpStreamResponsePtr response = result.get();
    // The waiter either saw the shutdown first (empty response) or the
    // closed stream's report of the cut download; never a truncated success.
    if (response) {
        EXPECT_FALSE(response->success);
        EXPECT_EQ(700u, response->size);
    }
    EXPECT_TRUE(weakStream.expired());
}

TEST_F(WorkerDownloadTest, AHostShuttingDownUnderAStreamThatNeverEndsEndsTheWait)
{
    // Nothing reports the end of this download: the waiter learns of the
    // shutdown by itself.
    std::future<FB::HttpStreamResponsePtr> result = std::async(std::launch::async, [&] {
        return FB::SimpleStreamHelper::synchronousGet(host, FB::URI("http://127.0.0.1/s"), false,
                                                      1024);
    });
    stream = awaitStream();
    ASSERT_TRUE(stream);
    stream->silentClose = true;
    stream->open();
    stream->deliver(pattern(300), 0);
    // Time for the worker to take its helper and start waiting for the
    // body (a shutdown before that ends the carried call instead).
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    host->shutdown();
    const bool ended = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(ended) << "the waiter did not see the shutdown";
    // The browser ends the stream at last, which lets its helper go (and
    // releases a waiter that is still there).
    stream->complete(false);
    EXPECT_FALSE(result.get());
    EXPECT_LE(1, stream->closes) << "the shutdown closed the stream";
}

TEST_F(WorkerDownloadTest, AHostShuttingDownBeforeTheRequestIsCarriedGivesAnEmptyResponse)
{
    // The browser never delivers the hand-off; shutdown runs it (the stream
    // opens and is closed at once) and the waiter hears "Shutting down".
    host->setHandOffMode(FakeBrowserHost::NeverDeliver);
    std::future<FB::HttpStreamResponsePtr> result = std::async(std::launch::async, [&] {
        return FB::SimpleStreamHelper::synchronousGet(host, FB::URI("http://127.0.0.1/s"), false,
                                                      1024);
    });
    while (host->handOffs() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    host->shutdown();
    ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(5)));
    EXPECT_FALSE(result.get());
    ASSERT_EQ(1u, host->streamRequests().size());
    EXPECT_FALSE(host->stream(0)) << "stream and helper are gone with the worker's call";
}

TEST_F(WorkerDownloadTest, ASynchronousDownloadOnTheMainThreadGivesAnEmptyResponseAtOnce)
{
    EXPECT_FALSE(FB::SimpleStreamHelper::synchronousPost(host, FB::URI("http://127.0.0.1/s"), "x",
                                                         false, 1024));
    EXPECT_TRUE(host->streamRequests().empty());
}

TEST_F(WorkerDownloadTest, ASynchronousDownloadAfterShutdownGivesAnEmptyResponse)
{
    host->shutdown();
    std::future<FB::HttpStreamResponsePtr> result = std::async(std::launch::async, [&] {
        return FB::SimpleStreamHelper::synchronousGet(host, FB::URI("http://127.0.0.1/s"), false,
                                                      1024);
    });
    ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(5)));
    EXPECT_FALSE(result.get());
}

// Proxy detection

TEST(SystemProxyDetector, OneDetectorThatFindsNoProxyOnX11)
{
    FB::SystemProxyDetector* detector = FB::SystemProxyDetector::instance();
    ASSERT_NE(nullptr, detector);
    EXPECT_EQ(detector, FB::SystemProxyDetector::instance());
    std::map<std::string, std::string> settings = {{"type", "kept"}};
    EXPECT_FALSE(detector->detectProxy(settings, "http://127.0.0.1/"));
    EXPECT_EQ((std::map<std::string, std::string>{{"type", "kept"}}), settings);

    const FakeBrowserHostPtr host = FakeBrowserHost::create();
    EXPECT_FALSE(host->DetectProxySettings(settings, "http://127.0.0.1/"));
    EXPECT_EQ(1u, settings.size());
    host->shutdown();
}

} // namespace
