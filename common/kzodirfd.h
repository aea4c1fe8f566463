// DirFd: an open folder, and the folder work that must never pass through a
// symbolic link, for the log set-up's clean-ups.
//
// A walk starts from a folder the caller trusts (the user's own, reached as
// the system says, links and all) and goes down one name at a time with
// openat(O_PATH|O_DIRECTORY|O_NOFOLLOW); below it every entry is looked at
// with fstatat and removed with unlinkat, relative to the descriptors opened
// on the way. A folder renamed or swapped for a link while the work runs is
// therefore never followed, whenever that happens: the work stays in the
// folders it opened, and a link is only ever removed itself.
//
// The descriptors on the way only search (O_PATH): a folder the user may
// search but not read is passed through, and only a folder whose entries
// are listed must be readable. Removing a tree keeps a few descriptors open
// and its stack flat however deep the tree is.
//
// A name that is missing, a link or no folder opens as an empty DirFd; other
// failures of the file system leave as std::system_error. Every descriptor
// is closed on every way out. Any thread; one DirFd is used by one thread at
// a time.
#ifndef KZODIRFD_H
#define KZODIRFD_H

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

class DirFd {
public:
    DirFd() = default;
    ~DirFd();
    DirFd(DirFd&& other) noexcept;
    DirFd& operator=(DirFd&& other) noexcept;
    DirFd(const DirFd&) = delete;
    DirFd& operator=(const DirFd&) = delete;

    // The folder at path, links followed: a start the caller trusts.
    static DirFd openTrusted(const std::string& path);

    explicit operator bool() const { return m_fd >= 0; }

    // The folder name directly in this one, not through a link.
    DirFd openChild(const std::string& name) const;
    // The folder at the relative path below this one, each folder on the way
    // opened with openChild; empty and "." parts are passed over.
    DirFd openBelow(const std::string& relative) const;

    // The names in this folder, "." and ".." left out.
    std::vector<std::string> names() const;
    // The status of the entry itself (a link is a link); false when missing.
    bool statusOf(const std::string& name, struct stat& status) const;
    // The status of what the entry leads to, links followed (they are only
    // looked through, never opened); false when it cannot be read that way,
    // for whatever reason: missing, a dangling or looping link, one into a
    // folder the user may not search or onto a mount that is gone, a target
    // name too long, a failing disk.
    bool followedStatusOf(const std::string& name, struct stat& status) const;

    // Removes an entry that is no folder; a link goes, never what it points
    // to. An entry already gone is fine.
    void removeEntry(const std::string& name) const;
    // Removes everything in this folder: sub-folders are entered with
    // openChild, so one swapped for a link on the way is removed as a link,
    // and left again through "..", checked to be the very folder entered
    // from (one moved away meanwhile stops the removal). Stops at the first
    // failure. A folder on another mount than this one (a mount point, a
    // bind mount of a folder elsewhere) is never entered: it stays with all
    // that is in it, and so do the folders above it; the rest goes, then
    // the removal fails.
    void removeContents() const;
    // Removes the folder name when it is empty; a link of that name stays.
    void removeEmptyFolder(const std::string& name) const;

    // Where a folder lies: the device and inode that tell it from any
    // other, and the mount it is on. The mount ID tells a bind mount of a
    // folder of the same file system too, whose device is its source's;
    // where the kernel gives none, the device stands for the mount.
    struct Place {
        dev_t device = 0;
        ino_t inode = 0;
        bool hasMountId = false;
        uint64_t mountId = 0;

        bool isFolderOf(const Place& other) const
        {
            return device == other.device && inode == other.inode;
        }
        bool isOnMountOf(const Place& other) const
        {
            return hasMountId && other.hasMountId ? mountId == other.mountId
                                                  : device == other.device;
        }
    };
    Place place() const;

private:
    explicit DirFd(int fd) : m_fd(fd) {}
    // The folder above this one, which must be the folder at above.
    DirFd openParent(const Place& above) const;

    int m_fd = -1;
};

#endif
