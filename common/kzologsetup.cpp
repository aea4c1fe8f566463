#include "kzologsetup.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>

#include <boost/filesystem.hpp>
#include <boost/lexical_cast.hpp>

#include "FBSystem.h"
#include "kzocappedlog.h"
#include "kzodirfd.h"
#include "kzohelpers.h"
#include "talk/base/filestream.h"
#include "talk/base/logging.h"
#include "utf8_tools.h"

namespace fs = boost::filesystem;

namespace {

const char kLogBaseName[] = "okzoinstallplugin";
const char kLogExtension[] = "log";
const char kLogOptions[] = "info file none debug thread";
const time_t kLogMaxAgeSeconds = 604800;  // seven days
const char kCleanUpError[] = "Placeholder Error String";
// The user's files are the user's alone.
const mode_t kFolderMode = 0700;
const int kLogFileMode = 0600;

time_t systemClock()
{
    return time(nullptr);
}

std::atomic<LogSetupClock> g_clock(&systemClock);
std::atomic<size_t> g_logCap(CappedLogStream::kDefaultCap);

// Paths are carried as wide text, so a path that is not UTF-8 fails early.
fs::path toPath(const std::wstring& wide)
{
    return fs::path(FB::wideToUtf8(wide));
}

void reportCleanUpError()
{
    fputs(kCleanUpError, stderr);
}

// The folder at path opened from top down: top as the system gives it (the
// user's own, links and all), every folder below it never through a link.
// Empty when path is not below top, or a folder below top is missing, a
// link or no folder.
DirFd openFromTop(const std::string& top, const std::string& path)
{
    if (path.compare(0, top.size(), top) != 0 ||
        (path.size() > top.size() && path[top.size()] != '/'))
        return DirFd();
    const DirFd start = DirFd::openTrusted(top);
    return start ? start.openBelow(path.substr(top.size())) : DirFd();
}

// Creates dir and every missing folder above it, each for the user alone;
// folders that exist keep their modes.
void createFolders(const fs::path& dir)
{
    fs::path at;
    for (const fs::path& part : dir) {
        at /= part;
        if (fs::exists(fs::status(at)))
            continue;
        if (mkdir(at.c_str(), kFolderMode) != 0 && errno != EEXIST)
            throw fs::filesystem_error("cannot create the log folder", at,
                                       boost::system::error_code(errno,
                                                                 boost::system::system_category()));
    }
    if (!fs::is_directory(fs::status(dir)))
        throw fs::filesystem_error("the log folder is no folder", dir,
                                   boost::system::error_code(ENOTDIR,
                                                             boost::system::system_category()));
}

// Everything below is removed through the descriptors opened on the way
// down, so a folder swapped for a link at any moment is never followed.
// Once the path is known nothing of this stops the set-up: a folder on the
// way that cannot be searched, one below that cannot be read or removed,
// or a folder of another mount inside, which stays whole, is reported and
// passed over.
void removeLegacyProductDir()
{
    const fs::path legacy = toPath(FB::utf8ToWide(getLegacyProductDir()));
    const std::string home = FB::System::getHomeDirPath();
    const std::string name = legacy.filename().string();
    try {
        const DirFd vendor = openFromTop(home, legacy.parent_path().string());
        if (const DirFd folder = vendor ? vendor.openChild(name) : DirFd()) {
            folder.removeContents();
            vendor.removeEmptyFolder(name);
        }
    } catch (...) {
        reportCleanUpError();
    }
}

// Deletes, oldest first, the entries directly in dir that are, links
// followed, regular files modified before the limit; a file exactly at the
// limit stays. An entry that cannot be followed is none. A link goes
// itself, never what it points to.
void pruneOldLogs(const DirFd& dir, time_t now)
{
    std::multimap<time_t, std::string> files;
    for (const std::string& name : dir.names()) {
        struct stat status;
        if (dir.followedStatusOf(name, status) && S_ISREG(status.st_mode))
            files.insert(std::make_pair(status.st_mtime, name));
    }
    const time_t limit = now - kLogMaxAgeSeconds;
    for (const auto& file : files) {
        if (file.first >= limit)
            break;
        try {
            dir.removeEntry(file.second);
        } catch (...) {
            reportCleanUpError();
        }
    }
}

} // namespace

void setLogSetupClockForTesting(LogSetupClock clock)
{
    g_clock = clock ? clock : &systemClock;
}

void prepareLogFile(const std::string& base, const std::string& extension, std::string& path)
{
    removeLegacyProductDir();

    const time_t now = g_clock.load()();
    const pid_t pid = getpid();
    const std::wstring name = FB::utf8ToWide(base + "." + boost::lexical_cast<std::string>(now) +
                                             "_" + boost::lexical_cast<std::string>(pid) + "." +
                                             extension);

    const std::wstring logsDir = FB::utf8ToWide(getLogsDir());
    const fs::path dir = toPath(logsDir);
    if (fs::is_directory(fs::status(dir))) {
        // A folder of ours reached through a link may be anyone's: the file
        // is made there, but nothing there is deleted. The user's own
        // configuration folder may well be a link (shared dotfiles).
        const std::string userConfig = fs::path(getConfigDir()).parent_path().string();
        if (const DirFd logs = openFromTop(userConfig, dir.string()))
            pruneOldLogs(logs, now);
    } else {
        createFolders(dir);
    }

    path = FB::wideToUtf8(logsDir + L"/" + name);
}

void setLogFileCapForTesting(size_t bytes)
{
    g_logCap = bytes ? bytes : CappedLogStream::kDefaultCap;
}

void configureLoggingOnce()
{
    if (talk_base::LogMessage::IsConfigured())
        return;
    std::string path;
    prepareLogFile(kLogBaseName, kLogExtension, path);

    // A new file only: a name that is taken (by a planted link, say) is a
    // file that could not be opened, and the process logs nothing.
    std::unique_ptr<talk_base::FileStream> file(new talk_base::FileStream);
    talk_base::StreamInterface* stream = nullptr;
    if (file->OpenNew(path, kLogFileMode, nullptr) && file->DisableBuffering())
        stream = new CappedLogStream(file.release(), g_logCap.load());
    talk_base::LogMessage::ConfigureLoggingToStream(kLogOptions, stream);
    talk_base::LogMessage::SetConfigured(true);
}
