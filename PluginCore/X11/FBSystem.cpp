#include "FBSystem.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

#include <boost/lexical_cast.hpp>

namespace FB {
namespace System {

namespace {

// Used when the system gives no hint of a record's size.
const long kDefaultPasswdBufferSize = 16384;

struct FreeDeleter {
    void operator()(char* p) const { free(p); }
};

} // namespace

std::string getHomeDirPath()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size == -1)
        size = kDefaultPasswdBufferSize;
    const std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(malloc(size)));
    if (!buffer)
        throw std::runtime_error("malloc failed.");

    struct passwd record;
    struct passwd* found = nullptr;
    const int error = getpwuid_r(getuid(), &record, buffer.get(), size, &found);
    if (found)
        return std::string(found->pw_dir);
    if (error != 0)
        throw std::runtime_error("getpwuid_r error: " + boost::lexical_cast<std::string>(error));
    throw std::runtime_error("User not found.");
}

std::string getAppDataDirPath(const std::string& name)
{
    return getHomeDirPath() + "/." + name;
}

std::string getUserDataDirPath(const std::string& name)
{
    return getAppDataDirPath(name);
}

std::string getTempDirPath()
{
    const char* dir = getenv("TMPDIR");
    return dir ? std::string(dir) : std::string("/tmp");
}

} // namespace System
} // namespace FB
