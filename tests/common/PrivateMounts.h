// PrivateMounts: mounts a test makes for one child process of its own
// (childrun::runInChild), so that it may mount what it likes where it
// likes and every mount goes with that process.
//
// enterPrivateMounts gives the calling process a mount namespace of its
// own: as root a plain one; otherwise, where the kernel lets users make
// them, inside a new user namespace in which this user is root. It answers
// "" when that worked, else why not (for GTEST_SKIP). It changes the whole
// process: call it in a child that has no threads yet. The mounts below
// need it first. treeBelow lists what a folder holds, to compare what a
// test found in a mount with what it put there.
#ifndef TESTS_COMMON_PRIVATEMOUNTS_H
#define TESTS_COMMON_PRIVATEMOUNTS_H

#include <errno.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace privatemounts {

namespace detail {

inline bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

inline std::string failed(const std::string& what)
{
    return what + ": " + strerror(errno);
}

} // namespace detail

inline std::string enterPrivateMounts()
{
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0)
            return detail::failed("no private mount namespace");
    } else {
        const std::string uid = std::to_string(geteuid());
        const std::string gid = std::to_string(getegid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return detail::failed("neither root nor a user namespace");
        if (!detail::writeFile("/proc/self/setgroups", "deny") ||
            !detail::writeFile("/proc/self/uid_map", "0 " + uid + " 1") ||
            !detail::writeFile("/proc/self/gid_map", "0 " + gid + " 1"))
            return "cannot map this user in its user namespace";
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return detail::failed("cannot make the mounts private");
    return std::string();
}

inline std::string bindMount(const std::string& from, const std::string& to)
{
    return mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0
               ? std::string()
               : detail::failed("cannot bind " + from + " at " + to);
}

inline std::string mountTmpfs(const std::string& at)
{
    return mount("kzo_test", at.c_str(), "tmpfs", 0, "mode=0700") == 0
               ? std::string()
               : detail::failed("cannot mount a tmpfs at " + at);
}

// Every path below folder, relative and sorted, a file followed by "=" and
// its content, one a line.
inline std::string treeBelow(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::string line = fs::relative(it->path(), folder).string();
        if (it->is_regular_file()) {
            std::ifstream in(it->path());
            line += "=" + std::string(std::istreambuf_iterator<char>(in), {});
        }
        lines.push_back(line);
    }
    if (error)
        lines.push_back("cannot list " + folder + ": " + error.message());
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

} // namespace privatemounts

#endif
