#include "kzodirfd.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <system_error>

namespace {

const int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// errno is read before the message is built, which may change it.
[[noreturn]] void fail(const char* what, const std::string& name = std::string())
{
    const int error = errno;
    throw std::system_error(error, std::generic_category(), what + name);
}

// What an opening that finds no folder of ours reports: nothing there, no
// folder there, or a link there (O_NOFOLLOW).
bool noFolderThere(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

// A name of one folder entry: a path with more parts would be walked with
// its links followed, and ".." leads out.
void requireEntryName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        errno = EINVAL;
        fail("not an entry name: ", name);
    }
}

} // namespace

DirFd::~DirFd()
{
    if (m_fd >= 0)
        close(m_fd);
}

DirFd::DirFd(DirFd&& other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

DirFd& DirFd::operator=(DirFd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

DirFd DirFd::openTrusted(const std::string& path)
{
    const int fd = open(path.c_str(), kFolderFlags);
    if (fd < 0 && !noFolderThere(errno))
        fail("cannot open the folder ", path);
    return DirFd(fd);
}

DirFd DirFd::openChild(const std::string& name) const
{
    requireEntryName(name);
    const int fd = openat(m_fd, name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd < 0 && !noFolderThere(errno))
        fail("cannot open the folder ", name);
    return DirFd(fd);
}

DirFd DirFd::openBelow(const std::string& relative) const
{
    DirFd at(fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
    if (!at)
        fail("cannot open the folder again on the way to ", relative);
    std::string::size_type begin = 0;
    while (begin < relative.size()) {
        std::string::size_type end = relative.find('/', begin);
        if (end == std::string::npos)
            end = relative.size();
        const std::string part = relative.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == ".")
            continue;
        at = at.openChild(part);
        if (!at)
            break;
    }
    return at;
}

std::vector<std::string> DirFd::names() const
{
    // The stream owns a descriptor of its own; this one stays open.
    const int copy = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        fail("cannot read the folder");
    std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(copy), &closedir);
    if (!dir) {
        const int error = errno;
        close(copy);
        errno = error;
        fail("cannot read the folder");
    }
    // The copy shares its reading position with this descriptor.
    rewinddir(dir.get());

    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (!entry)
            break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    if (errno != 0)
        fail("cannot read the folder");
    return names;
}

bool DirFd::statusOf(const std::string& name, struct stat& status) const
{
    requireEntryName(name);
    if (fstatat(m_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
        return true;
    if (errno != ENOENT)
        fail("cannot read the status of ", name);
    return false;
}

void DirFd::removeEntry(const std::string& name) const
{
    requireEntryName(name);
    if (unlinkat(m_fd, name.c_str(), 0) != 0 && errno != ENOENT)
        fail("cannot remove ", name);
}

void DirFd::removeEmptyFolder(const std::string& name) const
{
    requireEntryName(name);
    if (unlinkat(m_fd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        fail("cannot remove the folder ", name);
}

void DirFd::removeContents() const
{
    for (const std::string& name : names())
        removeTree(name);
}

void DirFd::removeTree(const std::string& name) const
{
    struct stat status;
    if (!statusOf(name, status))
        return;
    if (S_ISDIR(status.st_mode)) {
        if (const DirFd folder = openChild(name)) {
            folder.removeContents();
            removeEmptyFolder(name);
            return;
        }
        // No folder any more: whatever took its place goes as an entry.
    }
    removeEntry(name);
}
