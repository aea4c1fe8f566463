// The C library functions below are defined here, in the test executable,
// ahead of the C library's own: each checks the armed moment, then calls
// the next definition (the sanitizer runtime's or the C library's). They are
// visible outside the executable, so shared libraries reach them too.
#undef _FILE_OFFSET_BITS

#include "LinkSwapSeam.h"

#include "OpenDescriptors.h"

#include <dirent.h>
#include <errno.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>

namespace {

struct Armed {
    bool armed = false;
    bool fired = false;
    LinkSwapSeam::Moment moment = LinkSwapSeam::OpeningFolder;
    std::string name;
    std::function<void()> action;
    std::shared_ptr<const std::function<void()>> watcher;
    std::string failingStatus;
    int statusError = 0;
};

// Set while this thread runs the watcher.
thread_local bool t_watching = false;

std::mutex& lock()
{
    static std::mutex m;
    return m;
}

Armed& armed()
{
    static Armed a;
    return a;
}

// The last part of a path, trailing slashes left out.
std::string lastName(const char* path)
{
    std::string text(path ? path : "");
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const std::string::size_type slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

void reached(LinkSwapSeam::Moment moment, const char* path)
{
    std::function<void()> action;
    std::shared_ptr<const std::function<void()>> watcher;
    {
        std::lock_guard<std::mutex> guard(lock());
        if (moment == LinkSwapSeam::OpeningFolder && !t_watching)
            watcher = armed().watcher;
    }
    if (watcher) {
        t_watching = true;
        (*watcher)();
        t_watching = false;
    }
    {
        std::lock_guard<std::mutex> guard(lock());
        Armed& a = armed();
        if (!a.armed || a.moment != moment || (!a.name.empty() && a.name != lastName(path)))
            return;
        a.armed = false;
        a.fired = true;
        action = std::move(a.action);
    }
    action();
}

template <typename Function>
Function next(const char* name)
{
    void* found = dlsym(RTLD_NEXT, name);
    if (!found) {
        fprintf(stderr, "LinkSwapSeam: no next %s\n", name);
        abort();
    }
    return reinterpret_cast<Function>(found);
}

// openat's mode, which follows only when the flags create a file.
mode_t modeArgument(int flags, va_list args)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

// The error a status read of path is to fail with, or 0.
int statusFailure(const char* path)
{
    std::lock_guard<std::mutex> guard(lock());
    const Armed& a = armed();
    return a.statusError != 0 && a.failingStatus == lastName(path) ? a.statusError : 0;
}

// A status read that fails as armed, else goes on to the real one.
template <typename Status>
int readStatus(int (*real)(int, const char*, Status*, int), int dir, const char* path,
               Status* status, int flags)
{
    if (const int error = statusFailure(path)) {
        errno = error;
        return -1;
    }
    return real(dir, path, status, flags);
}

} // namespace

void LinkSwapSeam::arm(Moment moment, const std::string& name, std::function<void()> action)
{
    std::lock_guard<std::mutex> guard(lock());
    Armed& a = armed();
    a.armed = true;
    a.fired = false;
    a.moment = moment;
    a.name = name;
    a.action = std::move(action);
}

void LinkSwapSeam::watchOpenings(std::function<void()> watcher)
{
    std::lock_guard<std::mutex> guard(lock());
    armed().watcher =
        watcher ? std::make_shared<const std::function<void()>>(std::move(watcher)) : nullptr;
}

void LinkSwapSeam::failStatusOf(const std::string& name, int error)
{
    std::lock_guard<std::mutex> guard(lock());
    armed().failingStatus = name;
    armed().statusError = error;
}

void LinkSwapSeam::disarm()
{
    std::lock_guard<std::mutex> guard(lock());
    armed().armed = false;
    armed().action = nullptr;
    armed().failingStatus.clear();
    armed().statusError = 0;
}

bool LinkSwapSeam::fired()
{
    std::lock_guard<std::mutex> guard(lock());
    return armed().fired;
}

void LinkSwapSeam::swapForLink(const std::string& folder, const std::string& target,
                               const std::string& aside)
{
    const std::string to = aside.empty() ? folder + ".moved" : aside;
    if (rename(folder.c_str(), to.c_str()) != 0 ||
        symlink(target.c_str(), folder.c_str()) != 0) {
        perror(("LinkSwapSeam: swapping " + folder).c_str());
        abort();
    }
}

DescriptorPeak::DescriptorPeak(size_t limit) : m_limit(limit)
{
    LinkSwapSeam::watchOpenings([this] {
        if (m_started && m_most - m_start <= m_limit)
            m_most = std::max(m_most, openDescriptors());
    });
}

DescriptorPeak::~DescriptorPeak()
{
    LinkSwapSeam::watchOpenings(nullptr);
}

void DescriptorPeak::start()
{
    m_start = m_most = openDescriptors();
    m_started = true;
}

#define SEAM extern "C" __attribute__((visibility("default")))

SEAM DIR* opendir(const char* path)
{
    static const auto real = next<DIR* (*)(const char*)>("opendir");
    reached(LinkSwapSeam::OpeningFolder, path);
    return real(path);
}

SEAM int openat(int dir, const char* path, int flags, ...)
{
    static const auto real = next<int (*)(int, const char*, int, ...)>("openat");
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    if (flags & O_DIRECTORY)
        reached(LinkSwapSeam::OpeningFolder, path);
    return real(dir, path, flags, mode);
}

// The same function as openat on this platform.
SEAM int openat64(int dir, const char* path, int flags, ...) __attribute__((alias("openat")));

SEAM int unlink(const char* path) __THROW
{
    static const auto real = next<int (*)(const char*)>("unlink");
    reached(LinkSwapSeam::RemovingEntry, path);
    return real(path);
}

SEAM int rmdir(const char* path) __THROW
{
    static const auto real = next<int (*)(const char*)>("rmdir");
    reached(LinkSwapSeam::RemovingEntry, path);
    return real(path);
}

SEAM int unlinkat(int dir, const char* path, int flags) __THROW
{
    static const auto real = next<int (*)(int, const char*, int)>("unlinkat");
    reached(LinkSwapSeam::RemovingEntry, path);
    return real(dir, path, flags);
}

SEAM int fstatat(int dir, const char* path, struct stat* status, int flags) __THROW
{
    static const auto real = next<int (*)(int, const char*, struct stat*, int)>("fstatat");
    return readStatus(real, dir, path, status, flags);
}

SEAM int fstatat64(int dir, const char* path, struct stat64* status, int flags) __THROW
{
    static const auto real = next<int (*)(int, const char*, struct stat64*, int)>("fstatat64");
    return readStatus(real, dir, path, status, flags);
}
