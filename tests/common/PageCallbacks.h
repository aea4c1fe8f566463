// Page functions that record the numbers they are called with, and the
// delivery loop that plays the browser: it runs the host's queued main-thread
// calls and the page's timers until a condition holds.
// Main thread only (the thread that made the host).
#ifndef TESTS_COMMON_PAGECALLBACKS_H
#define TESTS_COMMON_PAGECALLBACKS_H

#include <vector>

#include <boost/function.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "FakeBrowserHost.h"

struct RecordingCallback {
    testbed::FakePageObjectPtr function;
    boost::shared_ptr<std::vector<int> > values;
};

inline RecordingCallback recordingCallback(const testbed::FakeBrowserHostPtr& host)
{
    RecordingCallback callback;
    callback.values = boost::make_shared<std::vector<int> >();
    const boost::shared_ptr<std::vector<int> > values = callback.values;
    callback.function = host->newFunction([values](const FB::VariantList& args) {
        values->push_back(args.at(0).convertToInt());
        return FB::variant();
    });
    return callback;
}

inline bool deliverUntil(const testbed::FakeBrowserHostPtr& host,
                         const boost::function<bool()>& done, int timeoutMs = 10000)
{
    return host->pumpUntil(
        [&] {
            host->window()->runTimers();
            return done();
        },
        timeoutMs);
}

// Delivers whatever arrives within the time.
inline void deliverFor(const testbed::FakeBrowserHostPtr& host, int ms)
{
    deliverUntil(host, [] { return false; }, ms);
}

#endif
