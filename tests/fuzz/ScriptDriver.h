// fuzz::runScriptProgram: plays a fuzz input as a page scripting a plugin's
// root object through the fake browser, then tears the instance down and
// aborts when the browser's ledgers do not balance.
//
// Each input gets a browser, a module and an instance of its own. The bytes
// are a program: each step picks an operation (invoke, invoke as a function,
// get, set and remove a property, has-method, has-property, enumerate,
// construct, a page-style member call, running the browser's queued calls
// and timers, dropping an object, destroying the instance early) and its
// object, member name and arguments. Objects are the root, the page's
// window and every object a call gave back; arguments are undefined, null,
// booleans, numbers, texts (any bytes), those objects, and new page
// objects (with named properties, or claiming any "length"), arrays, page
// structures that hold themselves, and functions. A page function answers
// one of its arguments, throws, or calls a member of the root again
// (re-entrance). Further steps store a value (often the object it came
// from) on a function object the plugin handed out, and call a function
// object's "apply" or "call". A step that reads one page object far more
// often than one call may read is a finding: the plugin believed a length.
// At the end the test's references go, the instance is destroyed, the
// page's own cycles are broken as a browser's collector would, NP_Shutdown
// runs, and every plugin-held reference, plugin object, block of browser
// memory and browser-rule violation left is a finding.
// Main thread of the process (the fake browser's), one input at a time.
#ifndef FB_FUZZ_SCRIPTDRIVER_H
#define FB_FUZZ_SCRIPTDRIVER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fakebrowser {
class FakeBrowser;
class Instance;
} // namespace fakebrowser

namespace fuzz {

class FuzzInput;

struct ScriptTarget {
    std::string pluginPath;
    std::string mimeType;
    // The page's address for this input (may read from the input).
    std::function<std::string(FuzzInput&)> pageUrl;
    // Member names worth trying first: the root's methods and the
    // framework's extra members.
    std::vector<std::string> names;
    // Further member names, picked less often (a seed's picks of the first
    // names stay as they were).
    std::vector<std::string> laterNames;
    // Names a page function may call back on the root (none that could
    // wait for the main thread).
    std::vector<std::string> reentrantNames;
    // Names called at most once per input (costly: processes, threads).
    std::vector<std::string> rareNames;
    // Names never called nor read (members for tests that hand over
    // system resources such as file descriptors).
    std::vector<std::string> forbiddenNames;
};

void runScriptProgram(const ScriptTarget& target, const uint8_t* data, size_t size);

// The end of an input's session, as runScriptProgram ends its own: the
// instance (if alive) is destroyed, the page's cycles are broken, the
// module shut down, and anything left on the ledgers aborts. The caller has
// dropped its references first.
void endSession(fakebrowser::FakeBrowser& browser, fakebrowser::Instance* instance);

} // namespace fuzz

#endif
