// How much the framework adds to a page's method call.
//
// Through the fake browser, a page calls "add" on the test plugin's root
// object the way a browser does: the name read as a property, then the
// function object it gives invoked. In the same run, the same two steps on a
// minimal NPClass object written directly, with no framework. Prints the
// nanoseconds per call of both, their ratio, the heap allocations per call of
// both (AllocationCounter.h), and the browser's object and
// memory counts after the calls (both must stay flat).
// With --live N it also times the framework call while the page holds N
// further plugin objects (children made by a method): the cost of a call
// must not grow with what the page holds.
// Run by hand: bench_ScriptCall [calls] [--live N]   (default 1000000 calls)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "AllocationCounter.h"
#include "FakeBrowser.h"
#include "MinimalObject.h"

using namespace fakebrowser;

namespace {

double nanosecondsPerCall(long calls, const std::function<void()>& call)
{
    for (long i = 0; i < calls / 100; ++i)
        call();  // warm up
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i)
        call();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / calls;
}

// The page expression object.method(2, 3) as two browser steps.
bool pageCall(FakeBrowser& browser, NPObject* object, const std::string& method)
{
    const CallResult function = browser.getProperty(object, method);
    if (!function.ok || !function.value.isObject())
        return false;
    return browser.invokeDefault(function.value.object(), {Value(2), Value(3)}).ok;
}

struct Options {
    long calls = 1000000;
    long live = 0;
};

bool parseOptions(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--live") == 0 && i + 1 < argc) {
            options->live = std::atol(argv[++i]);
        } else if (argv[i][0] != '-') {
            options->calls = std::atol(argv[i]);
        } else {
            return false;
        }
    }
    return options->calls > 0 && options->live >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: bench_ScriptCall [calls] [--live N]\n");
        return 2;
    }
    const long calls = options.calls;
    FakeBrowser browser(FB_TEST_PLUGIN_PATH);
    browser.setCallLogEnabled(false);
    if (browser.initialize() != NPERR_NO_ERROR) {
        std::fprintf(stderr, "NP_Initialize failed\n");
        return 1;
    }
    Instance& instance = browser.createInstance("application/x-okzoinstallplugin");
    ObjectRef root = instance.scriptableObject();
    ObjectRef minimal = makeMinimalMethodObject(browser, "add", 5);
    if (!root || !pageCall(browser, root.get(), "add") || !pageCall(browser, minimal.get(), "add")) {
        std::fprintf(stderr, "the calls do not work\n");
        return 1;
    }

    bool ok = true;
    const auto frameworkCall = [&] { ok &= pageCall(browser, root.get(), "add"); };
    const auto minimalCall = [&] { ok &= pageCall(browser, minimal.get(), "add"); };
    const double framework = nanosecondsPerCall(calls, frameworkCall);
    const size_t objectsAfter = browser.objects().liveCount();
    const size_t blocksAfter = browser.memory().outstandingBlocks();
    const double direct = nanosecondsPerCall(calls, minimalCall);
    const size_t objectsNow = browser.objects().liveCount();
    const size_t blocksNow = browser.memory().outstandingBlocks();
    const double frameworkAllocations = allocations::perCall(frameworkCall);
    const double minimalAllocations = allocations::perCall(minimalCall);

    std::printf("calls:               %ld\n", calls);
    std::printf("framework object:    %.1f ns/call\n", framework);
    std::printf("minimal NPClass:     %.1f ns/call\n", direct);
    std::printf("ratio:               %.2f\n", framework / direct);
    std::printf("allocations:         framework object %.2f per call, minimal NPClass %.2f per call\n",
                frameworkAllocations, minimalAllocations);
    std::printf("browser objects:     %zu live after the framework calls, %zu now\n", objectsAfter, objectsNow);
    std::printf("browser memory:      %zu blocks after the framework calls, %zu now\n", blocksAfter, blocksNow);

    if (options.live > 0) {
        // The page keeps every child it made, as a page holding objects does.
        std::vector<ObjectRef> children;
        children.reserve(static_cast<size_t>(options.live));
        for (long i = 0; i < options.live && ok; ++i) {
            const CallResult child = browser.callMember(root.get(), "makeChild");
            ok = child.ok && child.value.isObject();
            if (ok)
                children.push_back(child.value.asObject());
        }
        if (!ok) {
            std::fprintf(stderr, "the children could not be made\n");
            return 1;
        }
        const double held = nanosecondsPerCall(calls, frameworkCall);
        std::printf("live objects: %ld, framework object: %.1f ns/call, growth: %.2f\n", options.live, held,
                    held / framework);
    }

    root = ObjectRef();
    minimal = ObjectRef();
    instance.destroy();
    browser.shutdown();
    const std::string problems = browser.ledgerProblems();
    if (!problems.empty())
        std::printf("left behind:         %s\n", problems.c_str());
    return ok && problems.empty() ? 0 : 1;
}
