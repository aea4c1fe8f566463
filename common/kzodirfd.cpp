#include "kzodirfd.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <memory>
#include <system_error>

namespace {

// A folder on the way is only searched through; one is opened for reading
// when its entries are listed.
const int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
const int kListingFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

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
    // This folder itself ("." is never a link), opened for reading; the
    // stream owns that descriptor.
    const int reading = openat(m_fd, ".", kListingFlags);
    if (reading < 0)
        fail("cannot read the folder");
    std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(reading), &closedir);
    if (!dir) {
        const int error = errno;
        close(reading);
        errno = error;
        fail("cannot read the folder");
    }

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

bool DirFd::followedStatusOf(const std::string& name, struct stat& status) const
{
    requireEntryName(name);
    // Whatever stops the reading (a name too long where the link leads, a
    // mount that is gone, a failing disk) says nothing of this folder.
    return fstatat(m_fd, name.c_str(), &status, 0) == 0;
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

DirFd::Place DirFd::place() const
{
    Place where;
    struct statx status;
    if (statx(m_fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_MNT_ID,
              &status) == 0) {
        where.device = makedev(status.stx_dev_major, status.stx_dev_minor);
        where.inode = status.stx_ino;
        where.hasMountId = (status.stx_mask & STATX_MNT_ID) != 0;
        where.mountId = status.stx_mnt_id;
        return where;
    }
    if (errno != ENOSYS)
        fail("cannot read the status of a folder");
    struct stat plain;
    if (fstat(m_fd, &plain) != 0)
        fail("cannot read the status of a folder");
    where.device = plain.st_dev;
    where.inode = plain.st_ino;
    return where;
}

DirFd DirFd::openParent(const Place& above) const
{
    DirFd parent(openat(m_fd, "..", kFolderFlags | O_NOFOLLOW));
    if (!parent)
        fail("cannot open the folder above");
    if (!parent.place().isFolderOf(above)) {
        // Moved elsewhere while it was emptied: what lies above it now is
        // not ours.
        errno = ESTALE;
        fail("a folder moved during its removal");
    }
    return parent;
}

void DirFd::removeContents() const
{
    // Depth first without recursion: one level a folder entered, each with
    // the entries still to go, kept on the heap; only the deepest folder is
    // open. The way back up is checked against the folder entered from.
    struct Level {
        std::string name;  // in the folder above
        Place place;
        std::vector<std::string> left;
        bool keeps;  // a folder of another mount stays below
    };
    const Place top = place();
    std::vector<Level> levels;
    levels.push_back(Level{std::string(), top, names(), false});
    DirFd deepest;  // the folder of the last level below this one
    for (;;) {
        const DirFd& here = levels.size() > 1 ? deepest : *this;
        if (!levels.back().left.empty()) {
            const std::string name = std::move(levels.back().left.back());
            levels.back().left.pop_back();
            struct stat status;
            if (!here.statusOf(name, status))
                continue;
            if (S_ISDIR(status.st_mode)) {
                DirFd folder = here.openChild(name);
                if (folder) {
                    const Place where = folder.place();
                    if (!where.isOnMountOf(top)) {
                        // Another file system's files, or a folder of
                        // elsewhere bound here: not the old product's.
                        levels.back().keeps = true;
                        continue;
                    }
                    // The folder above is let go before this one is listed.
                    deepest = std::move(folder);
                    Level entered{name, where, deepest.names(), false};
                    levels.push_back(std::move(entered));
                    continue;
                }
                // No folder any more: whatever took its place goes as an entry.
            }
            here.removeEntry(name);
            continue;
        }
        if (levels.size() == 1) {
            if (levels.back().keeps) {
                errno = EBUSY;
                fail("a folder of another mount stays in the folder");
            }
            return;
        }
        const Level emptied = std::move(levels.back());
        levels.pop_back();
        DirFd above = levels.size() > 1 ? deepest.openParent(levels.back().place) : DirFd();
        if (emptied.keeps)
            levels.back().keeps = true;
        else
            (levels.size() > 1 ? above : *this).removeEmptyFolder(emptied.name);
        deepest = std::move(above);
    }
}
