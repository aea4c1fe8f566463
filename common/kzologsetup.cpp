#include "kzologsetup.h"

#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <map>

#include <boost/filesystem.hpp>
#include <boost/lexical_cast.hpp>

#include "kzohelpers.h"
#include "talk/base/logging.h"
#include "utf8_tools.h"

namespace fs = boost::filesystem;

namespace {

const char kLogBaseName[] = "okzoinstallplugin";
const char kLogExtension[] = "log";
const char kLogOptions[] = "info file none debug thread";
const time_t kLogMaxAgeSeconds = 604800;  // seven days
const char kCleanUpError[] = "Placeholder Error String";

time_t systemClock()
{
    return time(nullptr);
}

std::atomic<LogSetupClock> g_clock(&systemClock);

// Paths are carried as wide text, so a path that is not UTF-8 fails early.
fs::path toPath(const std::wstring& wide)
{
    return fs::path(FB::wideToUtf8(wide));
}

void reportCleanUpError()
{
    fputs(kCleanUpError, stderr);
}

void removeLegacyProductDir()
{
    const fs::path legacy = toPath(FB::utf8ToWide(getLegacyProductDir()));
    if (!fs::is_directory(fs::status(legacy)))
        return;
    try {
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
    if (fs::is_directory(fs::status(dir)))
        pruneOldLogs(dir, now);
    else
        fs::create_directories(dir);

    path = FB::wideToUtf8(logsDir + L"/" + name);
}

void configureLoggingOnce()
{
    if (talk_base::LogMessage::IsConfigured())
        return;
    std::string path;
    prepareLogFile(kLogBaseName, kLogExtension, path);
    talk_base::LogMessage::ConfigureLogging(kLogOptions, path.c_str());
    talk_base::LogMessage::SetConfigured(true);
}
