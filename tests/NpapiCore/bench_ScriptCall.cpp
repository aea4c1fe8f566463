// How much the framework adds to a page's method call.
//
// Through the fake browser, a page calls "add" on the test plugin's root
// object the way a browser does: the name read as a property, then the
// function object it gives invoked. In the same run, the same two steps on a
// minimal NPClass object written directly, with no framework. Prints the
// nanoseconds per call of both, their ratio, and the browser's object and
// memory counts after the calls (both must stay flat).
// Run by hand: bench_ScriptCall [calls]   (default 1000000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

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

} // namespace

int main(int argc, char** argv)
{
    const long calls = argc > 1 ? std::atol(argv[1]) : 1000000;
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
    const double framework = nanosecondsPerCall(calls, [&] { ok &= pageCall(browser, root.get(), "add"); });
    const size_t objectsAfter = browser.objects().liveCount();
    const size_t blocksAfter = browser.memory().outstandingBlocks();
    const double direct = nanosecondsPerCall(calls, [&] { ok &= pageCall(browser, minimal.get(), "add"); });

    std::printf("calls:               %ld\n", calls);
    std::printf("framework object:    %.1f ns/call\n", framework);
    std::printf("minimal NPClass:     %.1f ns/call\n", direct);
    std::printf("ratio:               %.2f\n", framework / direct);
    std::printf("browser objects:     %zu live after the framework calls, %zu now\n", objectsAfter,
                browser.objects().liveCount());
    std::printf("browser memory:      %zu blocks after the framework calls, %zu now\n", blocksAfter,
                browser.memory().outstandingBlocks());

    root = ObjectRef();
    minimal = ObjectRef();
    instance.destroy();
    browser.shutdown();
    const std::string problems = browser.ledgerProblems();
    if (!problems.empty())
        std::printf("left behind:         %s\n", problems.c_str());
    return ok && problems.empty() ? 0 : 1;
}
