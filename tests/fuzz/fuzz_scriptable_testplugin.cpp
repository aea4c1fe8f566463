// Fuzz target: a page scripting the framework's test plugin through the
// fake browser, with random members, values and argument counts; the
// browser's ledgers must balance after each input (see ScriptDriver.h).
#include <cstdint>

#include "FuzzInput.h"
#include "ScriptDriver.h"

namespace {

fuzz::ScriptTarget testPlugin()
{
    fuzz::ScriptTarget target;
    target.pluginPath = FB_TEST_PLUGIN_PATH;
    target.mimeType = "application/x-fbtest";
    target.pageUrl = [](fuzz::FuzzInput& in) -> std::string {
        return in.byte() < 0x20 ? in.text() : std::string("http://127.0.0.1/fuzz.html");
    };
    target.names = {"echo", "add", "fail", "failStd", "callPage", "callPageAsync", "callPageFromWorker",
                    "holdInWorker", "releaseWorker", "workerResult", "fire", "makeChild", "makeList",
                    "makeMap", "wideNumbers", "nothing", "location", "events", "sameObject", "readMember",
                    "download", "post", "openStream", "readRanges", "closeStream", "streamAlive", "journal",
                    "acceptStreams", "lastUnsolicited", "proxy", "param", "coreJournal", "kind"};
    // Children re-made at a gone one's address, one child through two
    // owners, and the page's lists and maps as parameters.
    target.laterNames = {"nextChildInPlace", "childInPlace", "heldChild", "makeUnlistableChild",
                         "listLength", "nestedLength", "mapSize", "everyHeldType"};
    target.reentrantNames = {"echo", "add", "fail", "callPage", "callPageAsync", "fire", "makeChild",
                             "sameObject", "readMember", "holdInWorker", "releaseWorker", "location"};
    // A worker that waits for the main thread until the instance goes.
    target.rareNames = {"callPageFromWorker"};
    // Workers that read and write file descriptors the test gives, or flood
    // the browser with calls for seconds.
    target.forbiddenNames = {"holdPastDestroy", "callPageAsyncLoop"};
    return target;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzz::ScriptTarget target = testPlugin();
    fuzz::runScriptProgram(target, data, size);
    return 0;
}
