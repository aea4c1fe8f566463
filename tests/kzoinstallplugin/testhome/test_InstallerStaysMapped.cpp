// The plugin library stays mapped once a browser loaded it (-z nodelete, see
// cmake/Plugin.cmake), because an update's package-manager sequence runs on
// a detached worker that nothing stops: the worker may still run the
// library's code after NP_Shutdown and after the browser dlcloses it.
//
// Two guards: the flag itself, read back from both built libraries as the
// dynamic loader reads it, and the case it is there for, played through the
// fake browser with the test build: an update whose yum stand-in still runs
// when the browser destroys the instance, shuts the module down and unloads
// the library. That scenario runs in a child process, so a browser killed by
// the worker shows as a failure here instead of killing the test executable.
#include <elf.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../common/ChildRun.h"
#include "../../common/CommandStubs.h"
#include "../../common/ThreadCount.h"
#include "FakeBrowser.h"
#include "TestHomeEnvironment.h"

using namespace fakebrowser;

namespace {

const char kMime[] = "application/x-okzoinstallplugin";
const char kVendorPage[] = "https://www.otarnwell.com/update.html";
const char kYum[] = "yum -y update vudiriveze";
const char kViewer[] = "gpk-update-viewer";

// --- The link flag, as the loader sees it.

// The DT_FLAGS_1 entry of an ELF64 file's dynamic section, found as the
// dynamic loader finds it: program headers, the PT_DYNAMIC segment, its
// entries up to DT_NULL. problem says why the file could not be read so.
struct DynamicFlags1 {
    std::string problem;
    bool present = false;
    uint64_t value = 0;
};

// Reads whole structures from a file, refusing any that would run past its end.
class FileReader {
public:
    explicit FileReader(const std::string& path) : m_in(path, std::ios::binary)
    {
        std::error_code error;
        m_size = std::filesystem::file_size(path, error);
        if (error)
            m_in.setstate(std::ios::failbit);
    }
    bool opened() const { return static_cast<bool>(m_in); }

    template <typename T>
    bool readAt(uint64_t offset, T* out)
    {
        if (offset > m_size || m_size - offset < sizeof(T))
            return false;
        m_in.clear();
        m_in.seekg(static_cast<std::streamoff>(offset));
        m_in.read(reinterpret_cast<char*>(out), sizeof(T));
        return static_cast<bool>(m_in);
    }

private:
    std::ifstream m_in;
    uint64_t m_size = 0;
};

DynamicFlags1 readDynamicFlags1(const std::string& path)
{
    DynamicFlags1 result;
    FileReader file(path);
    if (!file.opened()) {
        result.problem = "cannot open " + path;
        return result;
    }
    Elf64_Ehdr header;
    if (!file.readAt(0, &header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB) {
        result.problem = path + " is not a little-endian ELF64 file";
        return result;
    }
    if (header.e_phentsize != sizeof(Elf64_Phdr)) {
        result.problem = path + ": program header entries of " + std::to_string(header.e_phentsize) + " bytes";
        return result;
    }
    uint64_t count = header.e_phnum;
    if (count == PN_XNUM) {  // the real count lies in the first section header
        Elf64_Shdr first;
        if (!file.readAt(header.e_shoff, &first)) {
            result.problem = path + ": PN_XNUM without a first section header";
            return result;
        }
        count = first.sh_info;
    }
    int dynamicSegments = 0;
    for (uint64_t i = 0; i < count; ++i) {
        Elf64_Phdr segment;
        if (!file.readAt(header.e_phoff + i * sizeof(Elf64_Phdr), &segment)) {
            result.problem = path + ": program header " + std::to_string(i) + " lies past the end of the file";
            return result;
        }
        if (segment.p_type != PT_DYNAMIC)
            continue;
        ++dynamicSegments;
        for (uint64_t j = 0; j < segment.p_filesz / sizeof(Elf64_Dyn); ++j) {
            Elf64_Dyn entry;
            if (!file.readAt(segment.p_offset + j * sizeof(Elf64_Dyn), &entry)) {
                result.problem = path + ": the dynamic section runs past the end of the file";
                return result;
            }
            if (entry.d_tag == DT_NULL)
                break;
            if (entry.d_tag == DT_FLAGS_1) {
                result.present = true;
                result.value = entry.d_un.d_val;
            }
        }
    }
    if (dynamicSegments != 1)
        result.problem = path + " has " + std::to_string(dynamicSegments) + " PT_DYNAMIC segments";
    return result;
}

std::string hex(uint64_t value)
{
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

// Both builds of the installer (the shipped one and the test build the
// browser tests load) ask the loader never to unmap them.
TEST(InstallerStaysMapped, BothBuildsAreMarkedNodeleteForTheLoader)
{
    for (const char* path : {KZO_PLUGIN_PATH, KZO_TESTHOME_PLUGIN_PATH}) {
        SCOPED_TRACE(path);
        const DynamicFlags1 flags = readDynamicFlags1(path);
        EXPECT_EQ("", flags.problem);
        if (!flags.problem.empty())
            continue;
        EXPECT_TRUE(flags.present) << "no DT_FLAGS_1 entry: linked without -z nodelete";
        EXPECT_TRUE(!flags.present || (flags.value & DF_1_NODELETE) != 0)
            << "DT_FLAGS_1 is " << hex(flags.value) << ", without DF_1_NODELETE: linked without -z nodelete";
    }
    // The reader tells a file without the flag: this test executable.
    const DynamicFlags1 own = readDynamicFlags1("/proc/self/exe");
    ASSERT_EQ("", own.problem);
    EXPECT_EQ(0u, own.value & DF_1_NODELETE) << hex(own.value);
}

// --- The browser unloads the library while yum runs.

// The child's account, a line at a time, each noted at once so that the
// lines before a crash arrive: "step ..." and "problem ...".
struct ChildReport {
    void step(const std::string& what) { childrun::note("step " + what); }
    void problem(const std::string& what) { childrun::note("problem " + what); }
};

// The browser's side, in the child: an update whose yum is held, then
// NPP_Destroy, NP_Shutdown and dlclose; then yum ends and the worker runs
// its sequence out in a process where the browser lives on.
void browserUnloadsWhileYumRuns(ChildReport& report)
{
    FakeBrowser browser(KZO_TESTHOME_PLUGIN_PATH);
    if (browser.initialize() != NPERR_NO_ERROR)
        return report.problem("NP_Initialize failed");
    Instance& instance = browser.createInstance(kMime, {}, kVendorPage);
    if (instance.newResult() != NPERR_NO_ERROR)
        return report.problem("NPP_New failed");
    const size_t threadsBefore = threadsBeforeWorkers();
    const size_t endedBefore = TestHomeEnvironment::sequencesEnded();
    std::vector<int> successes, failures, progress;
    {
        auto recorder = [&browser](std::vector<int>* values) {
            return browser.newFunction([values](const Value&, const std::vector<Value>& args) {
                values->push_back(args.empty() ? -1 : static_cast<int>(args[0].asNumber()));
                return Value();
            });
        };
        const ObjectRef success = recorder(&successes);
        const ObjectRef failure = recorder(&failures);
        const ObjectRef onProgress = recorder(&progress);
        ObjectRef root = instance.scriptableObject();
        if (!root)
            return report.problem("no scriptable object");
        const CallResult update = browser.callMember(
            root.get(), "updatePlugin", {Value("http://u"), Value(success), Value(failure), Value(onProgress)});
        if (!update.ok)
            return report.problem("updatePlugin failed: " + update.exception());
        if (!CommandStubs::waitForCalls(1))
            return report.problem("yum never started");
        if (!browser.pumpUntil([&] { return progress.size() == 1; }))
            return report.problem("no progress report");
    }
    report.step("yum runs");

    if (instance.destroy() != NPERR_NO_ERROR)
        report.problem("NPP_Destroy failed");
    if (browser.shutdown() != NPERR_NO_ERROR)
        report.problem("NP_Shutdown failed");
    const std::string left = browser.ledgerProblems();
    if (!left.empty())
        return report.problem("left behind at NP_Shutdown: " + left);
    browser.unload();
    report.step("the library is unloaded while yum runs");

    CommandStubs::release("yum");
    if (!TestHomeEnvironment::waitForSequencesEnded(endedBefore + 1))
        report.problem("the log never showed the run end");
    // The worker ends after its last step; let it, and a little more.
    if (!waitForThreadsAtMost(threadsBefore))
        report.problem("the worker thread did not end");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    report.step("yum ended and the worker is gone");

    if (TestHomeEnvironment::sequencesEnded() != endedBefore + 1)
        report.problem("sequences ended: " + std::to_string(TestHomeEnvironment::sequencesEnded() - endedBefore));
    for (const std::string& violation : browser.violations())
        report.problem("violation: " + violation);
    if (!successes.empty() || !failures.empty())
        report.problem("a page callback ran after NP_Shutdown");
}

// The lines of a report that begin with prefix, without it.
std::vector<std::string> linesOf(const std::string& report, const std::string& prefix)
{
    std::vector<std::string> found;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line.substr(prefix.size()));
    }
    return found;
}

// The browser destroys the instance, shuts the module down and unloads the
// library while yum runs; then yum ends. The browser lives on, nothing calls
// it after NP_Shutdown, and the worker's run ends as the log shows. With yum
// exiting 1 the worker runs gpk-update-viewer too, still after the unload.
TEST(InstallerStaysMapped, TheBrowserOutlivesAnUpdateRunningPastTheUnload)
{
    const struct {
        int yumExit;
        std::vector<std::string> commands;
    } cases[] = {
        {0, {kYum}},
        {1, {kYum, kViewer}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("yum exits " + std::to_string(c.yumExit));
        CommandStubs::reset();
        CommandStubs::exitWith("yum", c.yumExit);
        CommandStubs::hold("yum");
        // fork copies only the calling thread: fork from a process of one.
        ASSERT_TRUE(waitForThreadsAtMost(threadsBeforeWorkers()));

        const childrun::Outcome outcome = childrun::runInChild(
            [] {
                ChildReport report;
                browserUnloadsWhileYumRuns(report);
                return std::string("done\n");
            },
            childrun::As::ThisUser, std::chrono::seconds(50));
        const std::vector<std::string> steps = linesOf(outcome.report, "step ");
        const std::string reached = steps.empty() ? "(nothing)" : steps.back();
        if (!outcome.exitedCleanly() || linesOf(outcome.report, "done").empty()) {
            ADD_FAILURE() << "the browser's process (" << outcome.how()
                          << ") did not reach its end; it reached: " << reached;
        }
        for (const std::string& problem : linesOf(outcome.report, "problem "))
            ADD_FAILURE() << problem;
        EXPECT_EQ(c.commands, CommandStubs::calls());
        CommandStubs::reset();
    }
}

} // namespace
