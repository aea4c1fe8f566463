// The host shuts down at a random moment while several workers carry calls to
// the main thread: every worker ends, every accepted call runs exactly once,
// and waiting callers end with their result or one of the two failures.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <vector>

#include <boost/bind/bind.hpp>
#include <gtest/gtest.h>

#include "CrossThreadCall.h"
#include "FakeBrowserHost.h"
#include "Watchdog.h"
#include "script_error.h"

using testbed::FakeBrowserHost;
using testbed::FakeBrowserHostPtr;
using testbed::FakePageObjectPtr;

namespace {

typedef FB::variant (FB::JSAPI::*GetProperty)(const std::string&);
const GetProperty kGet = &FB::JSAPI::getProperty;

struct Tally {
    std::atomic<int> accepted{0};
    std::atomic<int> refused{0};
    std::atomic<int> runs{0};
    std::atomic<int> results{0};
    std::atomic<int> shuttingDown{0};
    std::atomic<int> notMarshalled{0};
    std::atomic<int> unexpected{0};
};

struct Payload {
    Tally* tally;
};

void runPayload(void* data)
{
    Payload* payload = static_cast<Payload*>(data);
    ++payload->tally->runs;
    delete payload;
}

// One worker: a mix of waiting calls, page calls, raw hand-offs and page
// logging until the host has shut down, then one more of each.
void work(const FakeBrowserHostPtr& host, const FakePageObjectPtr& page, Tally* tally,
          unsigned seed)
{
    std::mt19937 random(seed);
    bool lastRound = false;
    while (!lastRound) {
        lastRound = host->isShutDown();
        // Each round does all four, in a rotated order.
        const unsigned first = static_cast<unsigned>(random() % 4);
        for (unsigned op = 0; op < 4; ++op) {
            switch ((first + op) % 4) {
            case 0:
                try {
                    if (host->callOnMainThread(page, boost::bind(kGet, page.get(), "answer"))
                            .convertToInt() == 42)
                        ++tally->results;
                    else
                        ++tally->unexpected;
                } catch (const FB::script_error& e) {
                    const std::string what = e.what();
                    if (what == "Shutting down")
                        ++tally->shuttingDown;
                    else if (what == "Could not marshal to main thread")
                        ++tally->notMarshalled;
                    else
                        ++tally->unexpected;
                }
                break;
            case 1:
                page->invokeAsync("", FB::makeVariantList(FB::variant(1)));
                page->setPropertyAsync("progress", FB::variant(50));
                break;
            case 2: {
                Payload* payload = new Payload{tally};
                if (host->scheduleAsyncCall(&runPayload, payload)) {
                    ++tally->accepted;
                } else {
                    ++tally->refused;
                    delete payload;
                }
                break;
            }
            case 3:
                host->htmlLog("worker");
                break;
            }
        }
    }
}

class CrossThreadStressTest : public ::testing::TestWithParam<FakeBrowserHost::HandOffMode> {};

TEST_P(CrossThreadStressTest, ShutdownAtARandomMomentUnderWorkers)
{
    testbed::Watchdog watchdog(90);
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const int kRounds = 25;
    const int kWorkers = 4;

    for (int round = 0; round < kRounds; ++round) {
        Tally tally;
        FakeBrowserHostPtr host = FakeBrowserHost::create();
        host->setHandOffMode(GetParam());
        FakePageObjectPtr page = host->newFunction([](const FB::VariantList&) { return FB::variant(); });
        page->set("answer", FB::variant(42));
        FakePageObjectPtr console = host->newObject();
        console->method("log", [](const FB::VariantList&) { return FB::variant(); });
        host->window()->set("console", FB::variant(FB::JSObjectPtr(console)));

        // Page logging prints on the main thread; keep it out of the output.
        ::testing::internal::CaptureStdout();
        std::vector<std::future<void> > workers;
        for (int w = 0; w < kWorkers; ++w)
            workers.push_back(std::async(std::launch::async, &work, host, page, &tally,
                                         static_cast<unsigned>(random())));

        // Serve the workers for a while, then shut down under them.
        const int serveMs = static_cast<int>(random() % 25);
        host->pumpUntil([] { return false; }, serveMs);
        host->window()->runTimers();
        host->shutdown();

        for (size_t w = 0; w < workers.size(); ++w) {
            if (workers[w].wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
                std::fprintf(stderr, "worker %zu of round %d did not end (seed %u)\n", w, round, seed);
                std::abort();
            }
            workers[w].get();
        }
        // Late deliveries of calls that shutdown already ran do nothing.
        host->pump();
        host->window()->runTimers();
        ::testing::internal::GetCapturedStdout();

        EXPECT_EQ(tally.accepted.load(), tally.runs.load()) << "round " << round;
        EXPECT_EQ(0, tally.unexpected.load()) << "round " << round;
        EXPECT_GT(tally.notMarshalled.load(), 0) << "every worker calls once after shutdown";
        if (GetParam() == FakeBrowserHost::Refuse) {
            EXPECT_EQ(0, tally.results.load());
        }
    }
}

std::string modeName(const ::testing::TestParamInfo<FakeBrowserHost::HandOffMode>& info)
{
    static const char* const names[] = {"Deliver", "Refuse", "NeverDeliver", "RefuseAfterShutdown"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(HandOffModes, CrossThreadStressTest,
                         ::testing::Values(FakeBrowserHost::Deliver, FakeBrowserHost::NeverDeliver,
                                           FakeBrowserHost::RefuseAfterShutdown,
                                           FakeBrowserHost::Refuse),
                         modeName);

} // namespace
