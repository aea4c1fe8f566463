// FB::System: the user's home directory, per-user data directories under it
// and the temporary directory.
//
// The home directory comes from the password database entry of the process's
// user; the data directory is the home directory followed by "/." and a name,
// joined as they are. Failures of the lookup are std::runtime_error with
// "malloc failed.", "getpwuid_r error: <number>" or "User not found.".
// No shared state: any thread may call them.
#ifndef FB_SYSTEM_H
#define FB_SYSTEM_H

#include <string>

namespace FB {
namespace System {

std::string getHomeDirPath();
std::string getAppDataDirPath(const std::string& name);
std::string getUserDataDirPath(const std::string& name);
// TMPDIR when it is set, even to the empty text; else "/tmp".
std::string getTempDirPath();

} // namespace System
} // namespace FB

#endif
