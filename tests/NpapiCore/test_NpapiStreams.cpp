// Browser streams through NPAPI: the plugin's GET and POST requests, the
// browser driving the stream callbacks, range reads, streams the plugin
// closes or the browser opens by itself, refused requests, the host's proxy
// answer and streams cut by the instance's destruction. The test plugin
// journals what its sinks and download callbacks receive; after every test
// the fixture finds the browser's object and memory ledgers empty.
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PluginFixture.h"

using fakebrowser::CallResult;
using fakebrowser::Instance;
using fakebrowser::ObjectRef;
using fakebrowser::StreamRecord;
using fakebrowser::StreamSpec;
using fakebrowser::UrlRequest;
using fakebrowser::Value;

namespace {

typedef std::vector<std::string> Texts;

std::string fnv1a(const std::string& data)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : data)
        hash = (hash ^ c) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
    return text;
}

std::string patternBody(std::size_t size)
{
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return body;
}

const char* reasonName(NPReason reason)
{
    switch (reason) {
    case NPRES_DONE:
        return "NPRES_DONE";
    case NPRES_NETWORK_ERR:
        return "NPRES_NETWORK_ERR";
    default:
        return "NPRES_USER_BREAK";
    }
}

class Streams : public InstanceFixture {
protected:

    Value call(const std::string& name, const std::vector<Value>& args = {}, const ObjectRef& on = ObjectRef())
    {
        const CallResult result = browser->callMember(on ? on.get() : root.get(), name, args);
        EXPECT_TRUE(result.ok) << name << ": " << result.exception();
        return result.value;
    }
    int callId(const std::string& name, const std::vector<Value>& args)
    {
        const Value id = call(name, args);
        EXPECT_TRUE(id.isNumber()) << name;
        return id.isNumber() ? static_cast<int>(id.asNumber()) : -1;
    }
    Texts texts(const Value& list)
    {
        Texts out;
        if (!list.isObject())
            return out;
        for (const Value& v : browser->arrayValues(list.object()))
            out.push_back(v.isString() ? v.asString() : v.describe());
        return out;
    }
    Texts journal(int id, const ObjectRef& on = ObjectRef()) { return texts(call("journal", {Value(id)}, on)); }
    bool alive(int id) { return call("streamAlive", {Value(id)}).asBool(); }
    // A page array.
    Value list(const std::vector<Value>& elements) { return Value(browser->newArray(elements)); }

    int download(const std::string& url, int blockSize = 0)
    {
        return callId("download", {Value(url), Value(blockSize)});
    }
    int openStream(const std::string& url, bool seekable = false, int blockSize = 0)
    {
        return callId("openStream", {Value(url), options({{"seekable", Value(seekable)}, {"blockSize", Value(blockSize)}})});
    }
    int post(const std::string& url, const std::string& data, const std::string& headers)
    {
        return callId("post", {Value(url), options({{"data", Value(data)}, {"headers", Value(headers)}})});
    }
    // A page object with the given members.
    Value options(const std::vector<std::pair<std::string, Value>>& members)
    {
        const ObjectRef object = browser->newObject();
        for (const auto& member : members)
            browser->setProperty(object.get(), member.first, member.second);
        return Value(object);
    }

    std::vector<UrlRequest> requests(fakebrowser::Entry entry)
    {
        std::vector<UrlRequest> out;
        for (const UrlRequest& r : browser->urlRequests())
            if (r.entry == entry)
                out.push_back(r);
        return out;
    }
    UrlRequest lastRequest()
    {
        const std::vector<UrlRequest> all = browser->urlRequests();
        EXPECT_FALSE(all.empty());
        return all.empty() ? UrlRequest() : all.back();
    }

    // The browser's stream for the plugin's last request.
    StreamRecord* answer(StreamSpec spec, NPError expected = NPERR_NO_ERROR, uint16_t* stype = nullptr)
    {
        const UrlRequest request = lastRequest();
        spec.url = request.url;
        spec.notifyData = request.notifyData;
        NPError result = -1;
        StreamRecord* record = instance->newStream(spec, &result, stype);
        EXPECT_EQ(expected, result);
        return record;
    }
    StreamRecord* answer() { return answer(StreamSpec()); }

};

// --- Requests.

TEST_F(Streams, AGetIsOneGetUrlNotifyWithTheStreamAsNotifyData)
{
    download("http://127.0.0.1/dir/file.bin?x=1");
    openStream("http://127.0.0.1/other.txt");
    const std::vector<UrlRequest> gets = requests(fakebrowser::Entry::geturlnotify);
    ASSERT_EQ(2u, gets.size());
    EXPECT_EQ("http://127.0.0.1/dir/file.bin?x=1", gets[0].url);
    EXPECT_EQ("http://127.0.0.1/other.txt", gets[1].url);
    for (const UrlRequest& r : gets) {
        EXPECT_EQ(instance->npp(), r.npp);
        EXPECT_EQ("", r.target);  // no target: the data comes to the plugin
        EXPECT_NE(nullptr, r.notifyData);
    }
    EXPECT_NE(gets[0].notifyData, gets[1].notifyData);
    EXPECT_EQ(0u, browser->callCount(fakebrowser::Entry::geturl));
}

TEST_F(Streams, APostSendsItsHeaderBlockAndBody)
{
    struct Case {
        std::string data;
        std::string headers;
        std::string block;
    };
    const std::vector<Case> cases = {
        {"a=1&b=2", "", "Content-type: application/x-www-form-urlencoded\nContent-Length: 7\n\na=1&b=2"},
        {"", "", "Content-type: application/x-www-form-urlencoded\nContent-Length: 0\n\n"},
        {std::string(1000, 'z'), "",
         "Content-type: application/x-www-form-urlencoded\nContent-Length: 1000\n\n" + std::string(1000, 'z')},
        {"{\"k\":1}", "Content-Type: application/json\nX-Token: t", "Content-Type: application/json\nX-Token: t\n\n{\"k\":1}"},
        {"", "X-Only: 1", "X-Only: 1\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block.substr(0, 60));
        const int id = post("http://127.0.0.1/submit", c.data, c.headers);
        const UrlRequest r = lastRequest();
        EXPECT_EQ(fakebrowser::Entry::posturlnotify, r.entry);
        EXPECT_EQ("http://127.0.0.1/submit", r.url);
        EXPECT_EQ("", r.target);
        EXPECT_FALSE(r.file);
        EXPECT_NE(nullptr, r.notifyData);
        EXPECT_EQ(c.block, r.data);
        // The server's answer reaches the callback as for a GET.
        StreamRecord* s = answer();
        ASSERT_NE(nullptr, s);
        EXPECT_EQ(2u, instance->deliver(*s, "ok"));
        EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, NPRES_DONE));
        instance->urlNotify(r.url, NPRES_DONE, r.notifyData);
        EXPECT_EQ((Texts{"progress 0", "done success=true size=2 fnv=" + fnv1a("ok") + " headers="}), journal(id));
    }
}

// --- A download driven by the browser.

TEST_F(Streams, ADownloadArrivesWhole)
{
    struct Case {
        std::size_t size;
        int blockSize;
        std::size_t writes;
    };
    const std::vector<Case> cases = {
        {11, 4, 3},
        {300000, 0, 3},       // the default block of 131072: chunks straddle blocks
        {300000, 65536, 5},
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::string body = patternBody(c.size);
        const int id = download("http://127.0.0.1/data.bin", c.blockSize);
        StreamSpec spec;
        spec.end = static_cast<uint32_t>(c.size);
        spec.headers = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nX-Tag: a\r\nX-Tag: b\r\n\r\n";
        uint16_t stype = 0;
        StreamRecord* s = answer(spec, NPERR_NO_ERROR, &stype);
        ASSERT_NE(nullptr, s);
        EXPECT_EQ(NP_NORMAL, stype);
        EXPECT_EQ(c.blockSize ? c.blockSize : 131072, instance->writeReady(*s));
        std::size_t writes = 0;
        EXPECT_EQ(c.size, instance->deliver(*s, body, 0, &writes));
        EXPECT_EQ(c.writes, writes);
        EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, NPRES_DONE));
        instance->urlNotify(s->spec().url, NPRES_DONE, s->spec().notifyData);

        const Texts got = journal(id);
        ASSERT_EQ(c.writes + 1, got.size());
        // Progress counts the bytes up to each chunk's end.
        if (c.writes) {
            EXPECT_EQ("progress 100", got[c.writes - 1]);
        }
        EXPECT_EQ("done success=true size=" + std::to_string(c.size) + " fnv=" + fnv1a(body) +
                      " headers=[Content-Type: application/octet-stream][X-Tag: a][X-Tag: b]",
                  got.back());
    }
    EXPECT_TRUE(requests(fakebrowser::Entry::destroystream).empty());
}

TEST_F(Streams, WritesTakeAtMostTheBufferAndReportProgress)
{
    const int id = openStream("http://127.0.0.1/s", false, 64);
    StreamSpec spec;
    spec.end = 200;
    StreamRecord* s = answer(spec);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(64, instance->writeReady(*s));
    const std::string fifty(50, 'a');
    const std::string hundred(100, 'b');
    // Nothing offered, or an impossible offer: nothing taken, no event.
    EXPECT_EQ(0, instance->write(*s, 0, 0, ""));
    EXPECT_EQ(0, instance->write(*s, 0, -1, nullptr));
    EXPECT_EQ(0, instance->write(*s, 0, INT32_MIN, nullptr));
    EXPECT_EQ(0, instance->write(*s, -1, fifty));
    EXPECT_EQ(50, instance->write(*s, 0, fifty));
    // Longer than the buffer: the buffer's worth is taken and reported; the
    // progress is that of the whole chunk offered.
    EXPECT_EQ(64, instance->write(*s, 50, hundred));
    EXPECT_EQ(36, instance->write(*s, 114, hundred.substr(64)));
    EXPECT_EQ((Texts{"created", "opened", "data 0 50 25 " + fifty, "data 50 64 75 " + std::string(64, 'b'),
                     "data 114 36 75 " + std::string(36, 'b')}),
              journal(id));
}

// Progress is the chunk's true end, offset + length, past 2 GiB too: the
// browser counts both in 32 bits and announces the length in 32 unsigned
// bits, so the largest end is 2^32 - 2, short of 4 GiB. The chunks are
// announced whole but only the buffer's worth of each is held.
TEST_F(Streams, ProgressPast2GiBCountsTheWholeEnd)
{
    const struct {
        uint32_t streamLength;
        int32_t offset;
        int32_t length;
        const char* progress;
    } cases[] = {
        {4000000000u, 2000000000, 147483647, "53.6871"},  // ends at 2^31 - 1, the last a 32-bit sum holds
        {4000000000u, 2147483647, 1, "53.6871"},          // at 2^31 by the offset
        {4000000000u, 1, 2147483647, "53.6871"},          // at 2^31 by the length
        {4000000000u, 2000000000, 200000000, "55"},
        {3000000000u, 1000000000, 2000000000, "100"},
        {4294967295u, 2147483647, 2147483647, "100"},     // the largest end, 2^32 - 2
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + " + " + std::to_string(c.length));
        const int id = openStream("http://127.0.0.1/huge.bin", false, 64);
        StreamSpec spec;
        spec.end = c.streamLength;
        StreamRecord* s = answer(spec);
        ASSERT_NE(nullptr, s);
        const std::string held(std::min(c.length, 64), 'h');
        EXPECT_EQ(static_cast<int32_t>(held.size()), instance->writePartlyHeld(*s, c.offset, c.length, held));
        EXPECT_EQ((Texts{"created", "opened",
                         "data " + std::to_string(c.offset) + " " + std::to_string(held.size()) + " " + c.progress +
                             " " + held}),
                  journal(id));
    }
}

// A chunk of negative length is a bogus count: nothing of its buffer (one
// byte, so AddressSanitizer sees any read) is taken or reported, and the
// stream takes the next chunks and ends as usual. Offered through NPP_Write,
// and to the stream's data signal straight, past the adapter.
TEST_F(Streams, AChunkOfNegativeLengthIsTakenAsNothing)
{
    for (const bool straight : {false, true}) {
        for (const int32_t length : {-1, -64, -65, INT32_MIN + 1, INT32_MIN}) {
            SCOPED_TRACE(std::string(straight ? "to the stream, " : "through NPP_Write, ") + std::to_string(length));
            const int id = openStream("http://127.0.0.1/s", false, 64);
            StreamSpec spec;
            spec.end = 8;
            StreamRecord* s = answer(spec);
            ASSERT_NE(nullptr, s);
            auto bogus = [&](int32_t offset) {
                return straight ? static_cast<int32_t>(
                                      call("signalStreamData", {Value(id), list({Value(offset), Value(length)})})
                                          .asNumber())
                                : instance->write(*s, offset, length, nullptr);
            };
            EXPECT_EQ(0, bogus(0));
            EXPECT_EQ(4, instance->write(*s, 0, "abcd"));
            EXPECT_EQ(0, bogus(4));
            EXPECT_EQ(4, instance->write(*s, 4, "efgh"));
            EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, NPRES_DONE));
            instance->urlNotify(s->spec().url, NPRES_DONE, s->spec().notifyData);
            EXPECT_EQ((Texts{"created", "opened", "data 0 4 50 abcd", "data 4 4 100 efgh", "completed true",
                             "destroyed"}),
                      journal(id));
            EXPECT_FALSE(alive(id));
        }
    }
}

// --- How a stream ends: every reason, in both orders.

TEST_F(Streams, EveryReasonInBothOrdersEndsTheStreamOnce)
{
    for (NPReason reason : {NPRES_DONE, NPRES_NETWORK_ERR, NPRES_USER_BREAK}) {
        for (bool destroyFirst : {true, false}) {
            SCOPED_TRACE(std::string(reasonName(reason)) + (destroyFirst ? ", destroyed first" : ", notified first"));
            const std::size_t destroysBefore = requests(fakebrowser::Entry::destroystream).size();
            const int id = openStream("http://127.0.0.1/s");
            StreamRecord* s = answer();
            ASSERT_NE(nullptr, s);
            EXPECT_EQ(3u, instance->deliver(*s, "abc"));
            if (destroyFirst) {
                EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, reason));
                EXPECT_TRUE(alive(id)) << "the browser still holds the notify data";
                instance->urlNotify(s->spec().url, reason, s->spec().notifyData);
            } else {
                instance->urlNotify(s->spec().url, reason, s->spec().notifyData);
                EXPECT_TRUE(alive(id)) << "the browser still holds the NPStream";
                EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, reason));
            }
            const std::string completed = reason == NPRES_DONE ? "completed true" : "completed false";
            EXPECT_EQ((Texts{"created", "opened", "data 0 3 0 abc", completed, "destroyed"}), journal(id));
            EXPECT_FALSE(alive(id));
            // Notified first, the stream was still bound: it gives the NPStream back itself.
            const std::vector<UrlRequest> destroys = requests(fakebrowser::Entry::destroystream);
            ASSERT_EQ(destroysBefore + (destroyFirst ? 0 : 1), destroys.size());
            if (!destroyFirst) {
                EXPECT_EQ(s->stream(), destroys.back().stream);
                EXPECT_EQ(NPRES_USER_BREAK, destroys.back().reason);
            }
        }
    }
}

TEST_F(Streams, ADownloadReportsFailureOnceForEveryFailedEnd)
{
    for (NPReason reason : {NPRES_NETWORK_ERR, NPRES_USER_BREAK}) {
        SCOPED_TRACE(reasonName(reason));
        const int id = download("http://127.0.0.1/big.bin");
        StreamSpec spec;
        spec.end = 10;
        StreamRecord* s = answer(spec);
        ASSERT_NE(nullptr, s);
        EXPECT_EQ(4u, instance->deliver(*s, "abcd"));
        EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, reason));
        instance->urlNotify(s->spec().url, reason, s->spec().notifyData);
        EXPECT_EQ((Texts{"progress 40", "done success=false size=4 fnv=- headers="}), journal(id));
    }
}

TEST_F(Streams, ANotificationWithoutAStreamEndsTheRequest)
{
    // A server error: the browser opens no stream and only reports the URL's end.
    const int id = openStream("http://127.0.0.1/missing");
    const UrlRequest r = lastRequest();
    instance->urlNotify(r.url, NPRES_NETWORK_ERR, r.notifyData);
    EXPECT_EQ((Texts{"created", "completed false", "destroyed"}), journal(id));
    EXPECT_FALSE(alive(id));

    const int dl = download("http://127.0.0.1/missing");
    const UrlRequest d = lastRequest();
    instance->urlNotify(d.url, NPRES_NETWORK_ERR, d.notifyData);
    EXPECT_EQ((Texts{"done success=false size=0 fnv=- headers="}), journal(dl));
    EXPECT_TRUE(requests(fakebrowser::Entry::destroystream).empty());
}

// --- Seekable streams.

TEST_F(Streams, ASeekableStreamReadsRanges)
{
    const int id = openStream("http://127.0.0.1/seek.bin", true);
    StreamSpec spec;
    spec.end = 1000;
    spec.seekable = true;
    uint16_t stype = 0;
    StreamRecord* s = answer(spec, NPERR_NO_ERROR, &stype);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(NP_SEEK, stype);

    auto range = [this](int start, int end) { return list({Value(start), Value(end)}); };
    EXPECT_TRUE(call("readRanges", {Value(id), list({range(0, 10), range(20, 25), range(100, 164)})}).asBool());
    std::vector<UrlRequest> reads = requests(fakebrowser::Entry::requestread);
    ASSERT_EQ(1u, reads.size());
    EXPECT_EQ(s->stream(), reads[0].stream);
    EXPECT_EQ((std::vector<std::pair<int32_t, uint32_t>>{{0, 10}, {20, 5}, {100, 64}}), reads[0].ranges);

    // No ranges: answered without asking the browser; a reversed range is refused.
    EXPECT_TRUE(call("readRanges", {Value(id), list({})}).asBool());
    EXPECT_FALSE(call("readRanges", {Value(id), list({range(0, 4), range(30, 20)})}).asBool());
    EXPECT_EQ(1u, requests(fakebrowser::Entry::requestread).size());

    // The browser answers the ranges at their offsets.
    EXPECT_EQ(5, instance->write(*s, 20, "twent"));
    // A successful pass keeps a seekable stream for more range reads ...
    instance->urlNotify(s->spec().url, NPRES_DONE, s->spec().notifyData);
    EXPECT_TRUE(call("readRanges", {Value(id), list({range(500, 501)})}).asBool());
    EXPECT_EQ(2u, requests(fakebrowser::Entry::requestread).size());
    // ... until the browser destroys it: then it completes, and goes.
    EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, NPRES_DONE));
    EXPECT_EQ((Texts{"created", "opened", "data 20 5 2.5 twent", "completed true", "destroyed"}), journal(id));
    EXPECT_FALSE(alive(id));
    EXPECT_TRUE(requests(fakebrowser::Entry::destroystream).empty());
}

TEST_F(Streams, ASeekableStreamThatEndsBadlyCompletesAsFailed)
{
    const int id = openStream("http://127.0.0.1/seek.bin", true);
    StreamSpec spec;
    spec.seekable = true;
    StreamRecord* s = answer(spec);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, NPRES_NETWORK_ERR));
    instance->urlNotify(s->spec().url, NPRES_NETWORK_ERR, s->spec().notifyData);
    EXPECT_EQ((Texts{"created", "opened", "completed false", "destroyed"}), journal(id));
}

TEST_F(Streams, SeekingThatTheServerCannotDoFailsTheOpen)
{
    const int id = openStream("http://127.0.0.1/seek.bin", true);
    StreamSpec spec;
    spec.seekable = false;
    StreamRecord* s = answer(spec, NPERR_STREAM_NOT_SEEKABLE);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(nullptr, s->stream()->pdata);
    EXPECT_EQ((Texts{"created", "failed open", "completed false"}), journal(id));
    EXPECT_FALSE(call("readRanges", {Value(id), list({list({Value(0), Value(1)})})}).asBool());
    // The browser's last word on the request lets the stream go.
    instance->urlNotify(s->spec().url, NPRES_NETWORK_ERR, s->spec().notifyData);
    EXPECT_EQ((Texts{"created", "failed open", "completed false", "destroyed"}), journal(id));
    EXPECT_FALSE(alive(id));
    EXPECT_TRUE(requests(fakebrowser::Entry::requestread).empty());
    EXPECT_TRUE(requests(fakebrowser::Entry::destroystream).empty());
}

// --- Streams the plugin closes.

TEST_F(Streams, APluginClosedStreamIsGivenBackAndEndsOnce)
{
    for (bool callsBack : {false, true}) {
        SCOPED_TRACE(callsBack ? "the browser destroys it at once" : "the browser destroys it later");
        browser->setDestroyStreamCallsBack(callsBack);
        const std::size_t destroysBefore = requests(fakebrowser::Entry::destroystream).size();
        const int id = openStream("http://127.0.0.1/s");
        StreamRecord* s = answer();
        ASSERT_NE(nullptr, s);
        EXPECT_EQ(2u, instance->deliver(*s, "ab"));
        EXPECT_TRUE(call("closeStream", {Value(id)}).asBool());
        const std::vector<UrlRequest> destroys = requests(fakebrowser::Entry::destroystream);
        ASSERT_EQ(destroysBefore + 1, destroys.size());
        EXPECT_EQ(s->stream(), destroys.back().stream);
        EXPECT_EQ(NPRES_USER_BREAK, destroys.back().reason);
        // Closed before its end: the one completion says it failed.
        EXPECT_EQ((Texts{"created", "opened", "data 0 2 0 ab", "completed false"}), journal(id));
        EXPECT_FALSE(call("closeStream", {Value(id)}).asBool());
        EXPECT_EQ(destroysBefore + 1, requests(fakebrowser::Entry::destroystream).size());
        if (!callsBack) {
            EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*s, NPRES_USER_BREAK));
        }
        EXPECT_TRUE(s->destroyed());
        instance->urlNotify(s->spec().url, NPRES_USER_BREAK, s->spec().notifyData);
        EXPECT_EQ((Texts{"created", "opened", "data 0 2 0 ab", "completed false", "destroyed"}), journal(id));
        EXPECT_FALSE(alive(id));
    }
}

// --- Streams the browser opens by itself.

TEST_F(Streams, AStreamTheBrowserOpensIsOfferedToTheCore)
{
    StreamSpec spec;
    spec.url = "http://127.0.0.1/pushed.txt";
    spec.lastModified = 1234;
    spec.headers = "HTTP/1.1 200 OK\nContent-Type: text/plain\n";
    NPError result = -1;
    StreamRecord* declined = instance->newStream(spec, &result);
    ASSERT_NE(nullptr, declined);
    EXPECT_EQ(NPERR_NO_ERROR, result);
    EXPECT_EQ(nullptr, declined->stream()->pdata);
    EXPECT_EQ(-1, instance->writeReady(*declined));
    EXPECT_EQ(-1, instance->write(*declined, 0, "data"));
    EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*declined, NPRES_DONE));
    instance->urlNotify(spec.url, NPRES_DONE, nullptr);
    const Texts events = texts(call("events"));
    EXPECT_NE(events.end(), std::find(events.begin(), events.end(),
                                      "unsolicited http://127.0.0.1/pushed.txt seekable=0 lastModified=1234 "
                                      "headers=[Content-Type: text/plain]"));

    // Accepted with a sink: it reads the stream; the browser's destruction alone releases it.
    call("acceptStreams", {Value(true)});
    uint16_t stype = 0;
    StreamRecord* taken = instance->newStream(spec, &result, &stype);
    ASSERT_NE(nullptr, taken);
    EXPECT_EQ(NPERR_NO_ERROR, result);
    EXPECT_NE(nullptr, taken->stream()->pdata);
    EXPECT_EQ(NP_NORMAL, stype);
    const int id = static_cast<int>(call("lastUnsolicited").asNumber());
    EXPECT_EQ(4u, instance->deliver(*taken, "push"));
    EXPECT_EQ(NPERR_NO_ERROR, instance->destroyStream(*taken, NPRES_DONE));
    EXPECT_EQ((Texts{"opened", "data 0 4 0 push", "completed true", "destroyed"}), journal(id));
    EXPECT_FALSE(alive(id));
    EXPECT_EQ(0u, browser->callCount(fakebrowser::Entry::destroystream));
}

// --- Requests the browser refuses.

TEST_F(Streams, ARefusedRequestGivesNoStream)
{
    browser->setStreamAnswer(NPERR_GENERIC_ERROR);
    const int id = openStream("http://127.0.0.1/s");
    EXPECT_EQ((Texts{"completed false", "destroyed", "not opened"}), journal(id));
    EXPECT_FALSE(alive(id));
    const int dl = download("http://127.0.0.1/d");
    EXPECT_EQ((Texts{"not opened"}), journal(dl));
    const int posted = post("http://127.0.0.1/p", "x", "");
    EXPECT_EQ((Texts{"not opened"}), journal(posted));
    EXPECT_EQ(2u, requests(fakebrowser::Entry::geturlnotify).size());
    EXPECT_EQ(1u, requests(fakebrowser::Entry::posturlnotify).size());
}

// A sink that keeps its stream asks the stream for itself when it hears the
// end; the stream of a refused request still answers then (it is not yet
// going away).
TEST_F(Streams, ARefusedRequestsSinkCanAskForItsStreamAtTheEnd)
{
    browser->setStreamAnswer(NPERR_GENERIC_ERROR);
    const int id = callId("openStream", {Value("http://127.0.0.1/s"), options({{"askSelf", Value(true)}})});
    EXPECT_EQ((Texts{"completed false", "self", "destroyed", "not opened"}), journal(id));
    EXPECT_FALSE(alive(id));
}

// --- The browser's proxy answer.

TEST_F(Streams, TheProxyAnswerIsRead)
{
    struct Case {
        NPError error;
        std::string text;
        std::string url;
        std::string expected;  // "answer type hostname port", or "false" with the map untouched
    };
    const std::vector<Case> cases = {
        {NPERR_NO_ERROR, "DIRECT", "http://127.0.0.1/", "false"},
        {NPERR_NO_ERROR, "PROXY proxy.local:3128", "https://127.0.0.1/x", "true https proxy.local 3128"},
        {NPERR_NO_ERROR, "PROXY proxy.local:3128", "http://127.0.0.1/x", "true http proxy.local 3128"},
        {NPERR_NO_ERROR, "SOCKS socks.local:1080;", "http://127.0.0.1/", "true socks socks.local 1080;"},
        {NPERR_NO_ERROR, "PROXY a.local:1; PROXY b.local:2", "http://127.0.0.1/", "true http a.local 1;"},
        {NPERR_NO_ERROR, "HTTPS secure.local:443", "http://127.0.0.1/", "true HTTPS secure.local 443"},
        {NPERR_NO_ERROR, "PROXY", "http://127.0.0.1/", "false"},
        {NPERR_NO_ERROR, "PROXY hostonly", "http://127.0.0.1/", "false"},
        {NPERR_NO_ERROR, "", "http://127.0.0.1/", "false"},
        {NPERR_GENERIC_ERROR, "PROXY p.local:1", "http://127.0.0.1/", "false"},
        // An asked address that does not parse has no scheme to give.
        {NPERR_NO_ERROR, "PROXY p.local:1", "http://h:x/", "false"},
        {NPERR_NO_ERROR, "PROXY p.local:1", "ht-tp://h/", "false"},
        {NPERR_NO_ERROR, "SOCKS s.local:1", "http://h:x/", "true socks s.local 1"},
        // The browser lacks the lookup: the system's detector answers (no proxy here).
        {NPERR_INCOMPATIBLE_VERSION_ERROR, "PROXY p.local:1", "http://127.0.0.1/", "false"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " / " + std::to_string(c.error));
        browser->setProxyAnswer(c.error, c.text);
        const Value map = call("proxy", {Value(c.url)});
        ASSERT_TRUE(map.isObject());
        const UrlRequest r = lastRequest();
        EXPECT_EQ(fakebrowser::Entry::getvalueforurl, r.entry);
        EXPECT_EQ(c.url, r.url);
        auto member = [&](const char* name) {
            const CallResult v = browser->getProperty(map.object(), name);
            return v.value.isString() ? v.value.asString() : v.value.describe();
        };
        if (c.expected == "false") {
            EXPECT_EQ("false", member("answer"));
            EXPECT_EQ("kept", member("before"));
            EXPECT_FALSE(browser->hasProperty(map.object(), fakebrowser::stringIdentifier("type")));
        } else {
            EXPECT_EQ(c.expected,
                      member("answer") + " " + member("type") + " " + member("hostname") + " " + member("port"));
            EXPECT_FALSE(browser->hasProperty(map.object(), fakebrowser::stringIdentifier("before")));
        }
    }
}

// --- Streams cut by the instance's end.

TEST_F(Streams, DestroyingTheInstanceEndsItsOpenStreams)
{
    const int id = openStream("http://127.0.0.1/s");
    StreamRecord* s = answer();
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(3u, instance->deliver(*s, "abc"));
    const int dl = download("http://127.0.0.1/d");
    StreamRecord* d = answer();
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(5u, instance->deliver(*d, "12345"));
    const int pending = download("http://127.0.0.1/never-answered");

    root = ObjectRef();
    EXPECT_EQ(NPERR_NO_ERROR, instance->destroy());
    // The browser calls nothing more for the instance's streams, and the
    // plugin asked nothing of it for them.
    EXPECT_EQ(0u, browser->callCount(fakebrowser::Entry::destroystream));

    // Read the journal through another instance of the same plugin.
    Instance& other = newInstance();
    ASSERT_EQ(NPERR_NO_ERROR, other.newResult());
    root = other.scriptableObject();
    ASSERT_TRUE(root);
    EXPECT_EQ((Texts{"created", "opened", "data 0 3 0 abc", "completed false", "destroyed"}), journal(id));
    EXPECT_FALSE(alive(id));
    EXPECT_EQ((Texts{"progress 0", "done success=false size=5 fnv=- headers="}), journal(dl));
    EXPECT_EQ((Texts{"done success=false size=0 fnv=- headers="}), journal(pending));
}

} // namespace
