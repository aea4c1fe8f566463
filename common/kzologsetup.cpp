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

// True when a folder on the way from top down to path, path itself
// included, is a symbolic link: what lies below it may be anywhere. A path
// that is not below top counts as such a way.
bool linkOnTheWay(const std::string& top, const std::string& path)
{
    if (path.compare(0, top.size(), top) != 0)
        return true;
    fs::path at(top);
    std::string::size_type begin = top.size();
    while (begin < path.size()) {
        std::string::size_type end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == ".")
            continue;
        at /= part;
        if (fs::is_symlink(fs::symlink_status(at)))
            return true;
    }
    return false;
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

void removeLegacyProductDir()
{
    const fs::path legacy = toPath(FB::utf8ToWide(getLegacyProductDir()));
    if (!fs::is_directory(fs::status(legacy)) ||
        linkOnTheWay(FB::System::getHomeDirPath(), legacy.string()))
        return;
    try {
        // Links below the folder are removed, not followed.
        fs::remove_all(legacy);
    } catch (...) {
        reportCleanUpError();
    }
}

// Deletes, oldest first, the regular files directly in dir modified before
// the limit; a file exactly at the limit stays.
void pruneOldLogs(const fs::path& dir, time_t now)
{
    std::multimap<time_t, fs::path> files;
    for (fs::directory_iterator it(dir), end; it != end; ++it) {
        if (fs::is_regular_file(fs::status(it->path())))
            files.insert(std::make_pair(fs::last_write_time(it->path()), it->path()));
    }
    const time_t limit = now - kLogMaxAgeSeconds;
    for (const auto& file : files) {
        if (file.first >= limit)
            break;
        try {
            fs::remove(file.second);
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
        if (!linkOnTheWay(userConfig, dir.string()))
            pruneOldLogs(dir, now);
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
