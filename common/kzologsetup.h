// The per-process log file: the first plugin object of the process calls
// configureLoggingOnce, which removes an older product's directory, prunes
// log files older than seven days (or creates the log directory), picks the
// file name okzoinstallplugin.<seconds>_<pid>.log and points the base
// library's logging at it ("info file none debug thread").
//
// What is made is the user's alone: folders 0700, the file 0600, opened
// only when the name is free (a link there is never followed, a file never
// truncated), and capped at 10 MiB per process (CappedLogStream). Nothing is
// removed through a symbolic link, even one swapped in while the set-up
// runs: both clean-ups open their folders from the home directory down and
// delete only through those descriptors (DirFd). The legacy directory goes
// only when no folder on its way from the home directory is a link; a log
// folder reached through a link below the user's configuration folder is
// never pruned. An entry of the log folder is pruned when it is, links
// followed, an old regular file; a link goes itself, never its target.
//
// A failure of the set-up (home lookup, the log folder's status, listing or
// creation) leaves as an exception and leaves logging unconfigured, so the
// next caller retries; any failure of the legacy directory's removal, its
// opening included, or of one old file's deletion is reported as
// "Placeholder Error String" on standard error and passed over.
// The browser's main thread only: the configured flag is a plain flag.
#ifndef KZOLOGSETUP_H
#define KZOLOGSETUP_H

#include <cstddef>
#include <ctime>
#include <string>

void configureLoggingOnce();

// Prepares the directories and gives the full path of the new log file
// (base "." seconds "_" pid "." extension, in getLogsDir()).
void prepareLogFile(const std::string& base, const std::string& extension, std::string& path);

// Test seam: the clock that gives "now" in seconds (time() by default; null
// restores it).
typedef time_t (*LogSetupClock)();
void setLogSetupClockForTesting(LogSetupClock clock);
// Test seam: the log file's cap for the next configuration (0 restores the
// 10 MiB).
void setLogFileCapForTesting(size_t bytes);

#endif
