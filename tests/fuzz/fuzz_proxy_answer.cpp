// Fuzz target: the browser's proxy answer, as the NPAPI host reads it for a
// URL, through the fake browser and the framework's test plugin (its root's
// "proxy" member asks the host with a map that holds "before": "kept").
//
// The input: one byte picks the browser's error (none, a plain failure, or
// "not supported", which leaves it to the system's detector), then the URL
// up to a line end, then the answer text (any bytes). Invariants: the
// lookup never fails the call; a lookup that finds no proxy leaves the map
// untouched; one that finds a proxy fills exactly "type", "hostname" and
// "port", host and port without ":" or blank; the answer's memory goes
// back to the browser (the ledgers balance, see ScriptDriver.h).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FakeBrowser.h"
#include "FuzzInput.h"
#include "ScriptDriver.h"

using namespace fakebrowser;

namespace {

const NPError kErrors[] = {NPERR_NO_ERROR, NPERR_NO_ERROR, NPERR_GENERIC_ERROR, NPERR_INCOMPATIBLE_VERSION_ERROR};

std::string member(FakeBrowser& browser, NPObject* map, const char* name)
{
    const Value value = browser.getProperty(map, name).value;
    return value.isString() ? value.asString() : value.describe();
}

void checkAnswer(FakeBrowser& browser, NPObject* map, NPError error, const std::string& text)
{
    std::vector<std::string> names;
    FUZZ_CHECK(browser.enumerate(map, &names), "the answer map cannot be enumerated");
    std::sort(names.begin(), names.end());
    const Value answer = browser.getProperty(map, "answer").value;
    FUZZ_CHECK(answer.isBool(), "answer " + answer.describe());
    if (!answer.asBool()) {
        FUZZ_CHECK((names == std::vector<std::string>{"answer", "before"}) && member(browser, map, "before") == "kept",
                   "no proxy, but the map changed for the answer " + text);
        return;
    }
    FUZZ_CHECK(error == NPERR_NO_ERROR && text != "DIRECT", "a proxy from no answer: " + text);
    FUZZ_CHECK((names == std::vector<std::string>{"answer", "hostname", "port", "type"}),
               "a proxy, but not exactly type, hostname and port, for the answer " + text);
    for (const char* part : {"hostname", "port"}) {
        const std::string value = member(browser, map, part);
        FUZZ_CHECK(value.find_first_of(": ") == std::string::npos, std::string(part) + " " + value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::FuzzInput in(data, size);
    const NPError error = kErrors[in.below(4)];
    const std::string url = in.until('\n');
    const std::string text = in.rest();

    FakeBrowser browser(FB_TEST_PLUGIN_PATH);
    browser.setCallLogEnabled(false);
    FUZZ_CHECK(browser.initialize() == NPERR_NO_ERROR, "NP_Initialize failed");
    Instance& instance = browser.createInstance("application/x-fbtest");
    FUZZ_CHECK(instance.newResult() == NPERR_NO_ERROR, "NPP_New failed");
    {
        const ObjectRef root = instance.scriptableObject();
        FUZZ_CHECK(root, "no root object");
        browser.setProxyAnswer(error, text);
        const CallResult result = browser.callMember(root.get(), "proxy", {Value(url)});
        FUZZ_CHECK(result.ok && result.value.isObject(),
                   "the lookup failed the call (" + result.exception() + ") for " + url + " and the answer " + text);
        checkAnswer(browser, result.value.object(), error, text);
    }
    fuzz::endSession(browser, &instance);
    return 0;
}
