// Fuzz target: a page scripting the installer's root object through the fake
// browser, with random members, values and argument counts; the browser's
// ledgers must balance after each input (see ScriptDriver.h).
//
// The plugin is the installer's test build: its home is a scratch folder
// (KZO_TEST_HOME), and PATH holds only a folder of stand-ins: yum, which
// exits with the code the input's first byte picks (0, 1 or 2, so the
// update viewer and the failure report are reached too), gpk-update-viewer
// that succeeds, ls that lists one main-plugin file, and grep and cut that
// run the system's own. So neither the real home nor the real commands are
// reached, not even by an update still running after the folder is removed
// at exit. The page is mostly a vendor page (the first byte may give any
// address instead). Updates and version lookups start processes and
// threads: each runs at most once per input.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzInput.h"
#include "ScriptDriver.h"

namespace {

namespace fs = std::filesystem;

const char* const kVendorPages[] = {"https://www.otarnwell.com/update.html", "http://tarnwellmeet.com/",
                                    "HTTPS://a.b.tarnwellconf.com:8443/x?y=1#z"};

fs::path g_scratch;

// The file the stand-in yum reads its exit code from.
fs::path yumExitFile()
{
    return g_scratch / "yum-exit";
}

void writeStub(const fs::path& dir, const char* name, const char* body)
{
    const fs::path path = dir / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
}

// The command's file in the folders of PATH, or "".
std::string findCommand(const char* path, const char* name)
{
    std::string folders(path ? path : "/usr/bin:/bin");
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
        start = end + 1;
    }
    return std::string();
}

void removeScratch()
{
    std::error_code ignored;
    fs::remove_all(g_scratch, ignored);
}

fuzz::ScriptTarget installer()
{
    fuzz::ScriptTarget target;
    target.pluginPath = KZO_TESTHOME_PLUGIN_PATH;
    target.mimeType = "application/x-okzoinstallplugin";
    target.pageUrl = [](fuzz::FuzzInput& in) -> std::string {
        const uint8_t pick = in.byte();
        // 0 for the usual first bytes (0x20 to 0x23) of a vendor page.
        std::ofstream(yumExitFile()) << ((pick >> 2) + 1) % 3 << "\n";
        if (pick < 0x20)
            return in.text();
        return kVendorPages[pick % (sizeof kVendorPages / sizeof kVendorPages[0])];
    };
    target.names = {"echo", "updatePlugin", "getVersion", "getErrorString", "getMasterVersion"};
    target.reentrantNames = target.names;
    target.rareNames = {"updatePlugin", "getMasterVersion"};
    return target;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kzo-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        FUZZ_CHECK(false, "no scratch folder");
    g_scratch = pattern;
    atexit(&removeScratch);
    const fs::path home = g_scratch / "home";
    const fs::path bin = g_scratch / "bin";
    fs::create_directories(home);
    fs::create_directories(bin);
    // A builtin read: only the stand-ins are on PATH. The file may be gone
    // once the process ends while an update still runs.
    writeStub(bin, "yum", ("{ read code < '" + yumExitFile().string() + "'; } 2>/dev/null; exit ${code:-0}").c_str());
    writeStub(bin, "gpk-update-viewer", "exit 0");
    writeStub(bin, "ls", "echo vudiriveze_1.8.2.3.so");
    const char* path = getenv("PATH");
    for (const char* tool : {"grep", "cut"}) {
        const std::string real = findCommand(path, tool);
        FUZZ_CHECK(!real.empty(), std::string("no ") + tool + " on PATH");
        writeStub(bin, tool, ("exec " + real + " \"$@\"").c_str());
    }
    setenv("PATH", bin.c_str(), 1);
    setenv("KZO_TEST_HOME", home.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzz::ScriptTarget target = installer();
    fuzz::runScriptProgram(target, data, size);
    return 0;
}
