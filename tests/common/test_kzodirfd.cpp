// Folder work through descriptors in a scratch directory: opening from a
// trusted start down without following links, listing, and removing trees
// whose links go while what they point to stays.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "../talk/base/scratchdir.h"
#include "OpenDescriptors.h"
#include "kzodirfd.h"

namespace {

namespace fs = std::filesystem;

void makeFile(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "keep\n";
}

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

class DirFdTest : public ::testing::Test {
protected:
    DirFd top() const
    {
        DirFd dir = DirFd::openTrusted(scratch.path());
        EXPECT_TRUE(dir);
        return dir;
    }

    ScratchDir scratch;
    ScratchDir elsewhere;
};

TEST_F(DirFdTest, OpensFoldersFromTheStartDownButNeverThroughALink)
{
    makeFile(scratch.File("a/b/marker"));
    makeFile(scratch.File("a/file"));
    fs::create_directory_symlink(scratch.File("a"), scratch.File("link"));
    fs::create_directory_symlink(scratch.File("a/b"), scratch.File("a/linkb"));
    const struct {
        const char* relative;
        bool opens;
    } cases[] = {
        {"a/b", true},         {"./a//b/", true},    {"a", true},
        {"link/b", false},     {"link", false},      {"a/linkb", false},
        {"a/file", false},     {"a/missing", false}, {"missing/b", false},
    };
    const DirFd start = top();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relative);
        const DirFd opened = start.openBelow(c.relative);
        EXPECT_EQ(c.opens, static_cast<bool>(opened));
    }
    EXPECT_EQ(std::vector<std::string>{"marker"}, start.openBelow("a/b").names());

    // The start itself is the caller's to trust: a link there is followed.
    const DirFd throughLink = DirFd::openTrusted(scratch.File("link"));
    ASSERT_TRUE(throughLink);
    EXPECT_EQ(sorted({"b", "file", "linkb"}), sorted(throughLink.names()));
    EXPECT_FALSE(DirFd::openTrusted(scratch.File("missing")));
    EXPECT_FALSE(DirFd::openTrusted(scratch.File("a/file")));
    // Links that loop lead to no folder either (only a start that follows
    // links meets the loop: below it a link is refused before it is read).
    fs::create_symlink(scratch.File("loop.b"), scratch.File("loop.a"));
    fs::create_symlink(scratch.File("loop.a"), scratch.File("loop.b"));
    EXPECT_FALSE(DirFd::openTrusted(scratch.File("loop.a")));
    EXPECT_FALSE(DirFd::openTrusted(scratch.File("loop.a/b")));
    EXPECT_FALSE(start.openChild("loop.a"));
}

TEST_F(DirFdTest, ListsEveryEntryEachTimeAndSeesALinkAsALink)
{
    makeFile(scratch.File("file"));
    fs::create_directory(scratch.File("folder"));
    fs::create_directory_symlink(elsewhere.path(), scratch.File("link"));
    const DirFd dir = top();
    const std::vector<std::string> expected = {"file", "folder", "link"};
    EXPECT_EQ(expected, sorted(dir.names()));
    EXPECT_EQ(expected, sorted(dir.names())) << "a second reading starts over";

    struct stat status;
    ASSERT_TRUE(dir.statusOf("link", status));
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    ASSERT_TRUE(dir.statusOf("folder", status));
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_FALSE(dir.statusOf("missing", status));
}

TEST_F(DirFdTest, FollowsALinkOnlyToReadTheStatusOfWhatItLeadsTo)
{
    makeFile(scratch.File("file"));
    makeFile(elsewhere.File("target"));
    fs::create_directory(scratch.File("folder"));
    fs::create_symlink(elsewhere.File("target"), scratch.File("to-file"));
    fs::create_directory_symlink(elsewhere.path(), scratch.File("to-folder"));
    fs::create_symlink(scratch.File("gone"), scratch.File("dangling"));
    fs::create_symlink(scratch.File("loop.b"), scratch.File("loop.a"));
    fs::create_symlink(scratch.File("loop.a"), scratch.File("loop.b"));
    struct stat target;
    ASSERT_EQ(0, stat(elsewhere.File("target").c_str(), &target));
    const struct {
        const char* name;
        bool found;
        mode_t type;
    } cases[] = {
        {"file", true, S_IFREG},     {"folder", true, S_IFDIR},  {"to-file", true, S_IFREG},
        {"to-folder", true, S_IFDIR}, {"dangling", false, 0},    {"loop.a", false, 0},
        {"missing", false, 0},
    };
    const DirFd dir = top();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        struct stat status;
        ASSERT_EQ(c.found, dir.followedStatusOf(c.name, status));
        if (c.found) {
            EXPECT_EQ(c.type, status.st_mode & S_IFMT);
        }
    }
    struct stat status;
    ASSERT_TRUE(dir.followedStatusOf("to-file", status));
    EXPECT_EQ(target.st_ino, status.st_ino) << "the status is the target's";
    EXPECT_THROW(dir.followedStatusOf("../file", status), std::system_error);
}

TEST_F(DirFdTest, RemovingATreeTakesItsLinksAndNeverWhatTheyPointTo)
{
    const std::vector<std::string> outside = {"file", "folder/file"};
    for (const std::string& name : outside)
        makeFile(elsewhere.File(name));
    makeFile(scratch.File("tree/file"));
    makeFile(scratch.File("tree/a/b/c/file"));
    fs::create_directories(scratch.File("tree/empty"));
    ASSERT_EQ(0, mkfifo(scratch.File("tree/a/fifo").c_str(), 0600));
    fs::create_directory_symlink(elsewhere.File("folder"), scratch.File("tree/a/folder"));
    fs::create_symlink(elsewhere.File("file"), scratch.File("tree/a/b/file.link"));
    fs::create_symlink(scratch.File("gone"), scratch.File("tree/dangling"));

    const DirFd dir = top();
    const DirFd tree = dir.openChild("tree");
    ASSERT_TRUE(tree);
    tree.removeContents();
    EXPECT_TRUE(tree.names().empty());
    dir.removeEmptyFolder("tree");
    EXPECT_FALSE(fs::exists(fs::symlink_status(scratch.File("tree"))));
    for (const std::string& name : outside)
        EXPECT_EQ("keep\n", ReadWholeFile(elsewhere.File(name))) << name;
}

TEST_F(DirFdTest, RemovalsTakeOnlyWhatTheyAreFor)
{
    makeFile(scratch.File("folder/file"));
    makeFile(elsewhere.File("file"));
    fs::create_directory_symlink(elsewhere.path(), scratch.File("link"));
    const DirFd dir = top();

    EXPECT_THROW(dir.removeEntry("folder"), std::system_error) << "no folder as an entry";
    EXPECT_THROW(dir.removeEmptyFolder("folder"), std::system_error) << "not empty";
    EXPECT_THROW(dir.removeEmptyFolder("link"), std::system_error) << "a link is no folder";
    EXPECT_TRUE(fs::is_symlink(scratch.File("link")));
    EXPECT_NO_THROW(dir.removeEntry("missing"));
    EXPECT_NO_THROW(dir.removeEmptyFolder("missing"));
    dir.removeEntry("link");
    EXPECT_FALSE(fs::exists(fs::symlink_status(scratch.File("link"))));
    EXPECT_EQ("keep\n", ReadWholeFile(elsewhere.File("file")));
    EXPECT_TRUE(fs::exists(scratch.File("folder/file")));
}

TEST_F(DirFdTest, TakesOnlyNamesOfOneEntry)
{
    makeFile(scratch.File("a/file"));
    makeFile(scratch.File("file"));
    fs::create_directory_symlink(scratch.File("a"), scratch.File("link"));
    const DirFd a = top().openChild("a");
    ASSERT_TRUE(a);
    struct stat status;
    // More than one part would be walked with its links followed; ".."
    // leads out of the folder.
    for (const char* name : {"", ".", "..", "../file", "../link/file", "a/", "/file"}) {
        SCOPED_TRACE(name);
        try {
            a.openChild(name);
            ADD_FAILURE() << "opened";
        } catch (const std::system_error& e) {
            EXPECT_EQ(EINVAL, e.code().value());
        }
        EXPECT_THROW(a.statusOf(name, status), std::system_error);
        EXPECT_THROW(a.removeEntry(name), std::system_error);
        EXPECT_THROW(a.removeEmptyFolder(name), std::system_error);
    }
    EXPECT_TRUE(fs::exists(scratch.File("file")));
    EXPECT_TRUE(fs::exists(scratch.File("a/file")));
}

TEST_F(DirFdTest, OtherFailuresLeaveAsSystemErrorsAndEveryDescriptorIsClosed)
{
    makeFile(scratch.File("a/b/c/file"));
    fs::create_directory_symlink(elsewhere.path(), scratch.File("a/b/link"));
    const size_t before = openDescriptors();
    {
        const DirFd dir = top();
        const std::string tooLong(NAME_MAX + 1, 'x');
        try {
            dir.openChild(tooLong);
            ADD_FAILURE() << "opened";
        } catch (const std::system_error& e) {
            EXPECT_EQ(ENAMETOOLONG, e.code().value());
        }
        EXPECT_FALSE(dir.openBelow("a/b/link/x"));
        EXPECT_EQ(1u, dir.openBelow("a/b/c").names().size());
        DirFd moved = dir.openBelow("a/b");
        DirFd target;
        target = std::move(moved);
        EXPECT_FALSE(moved);
        EXPECT_TRUE(target);
        const DirFd a = dir.openChild("a");
        a.removeContents();
    }
    EXPECT_EQ(before, openDescriptors());
    EXPECT_TRUE(fs::is_empty(scratch.File("a")));
}

// The descriptors of this process, by number.
std::set<int> descriptorNumbers()
{
    std::set<int> numbers;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
        numbers.insert(std::stoi(entry.path().filename().string()));
    return numbers;
}

TEST_F(DirFdTest, AMovedFromFolderOwnsNothingAndClosesNothing)
{
    // A moved-from DirFd that still closed its old number would close
    // whatever the process opened under it since: a probe takes the number.
    const size_t before = openDescriptors();
    const std::set<int> numbersBefore = descriptorNumbers();
    int probe = -1;
    {
        DirFd source = top();
        std::set<int> opened = descriptorNumbers();
        for (int number : numbersBefore)
            opened.erase(number);
        ASSERT_EQ(1u, opened.size());
        const int number = *opened.begin();
        {
            DirFd constructed(std::move(source));
            EXPECT_FALSE(source);
            ASSERT_TRUE(constructed);
            EXPECT_EQ(std::vector<std::string>{}, constructed.names());
            DirFd assigned;
            assigned = std::move(constructed);
            EXPECT_FALSE(constructed);
            EXPECT_TRUE(assigned);
        }
        probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_LE(0, probe);
        if (probe != number) {
            ASSERT_EQ(number, dup2(probe, number));
            close(probe);
            probe = number;
        }
    }
    EXPECT_NE(-1, fcntl(probe, F_GETFD)) << "a moved-from DirFd closed a descriptor it no longer owned";
    close(probe);
    EXPECT_EQ(before, openDescriptors());
}

} // namespace

namespace {

// Which mount a folder lies on: the mount IDs decide where both have one,
// so a bind mount of a folder of the same device is another mount; where
// the kernel gave none, the device does.
TEST(DirFdPlace, TellsTheMountByItsIdAndElseByTheDevice)
{
    const auto place = [](dev_t device, bool hasId, uint64_t id) {
        DirFd::Place p;
        p.device = device;
        p.inode = 1;
        p.hasMountId = hasId;
        p.mountId = id;
        return p;
    };
    const struct {
        const char* what;
        DirFd::Place a, b;
        bool same;
    } cases[] = {
        {"one mount", place(5, true, 30), place(5, true, 30), true},
        {"a bind mount on the same device", place(5, true, 30), place(5, true, 31), false},
        {"another device", place(5, true, 30), place(6, true, 31), false},
        {"no ID, one device", place(5, false, 0), place(5, true, 31), true},
        {"no IDs, one device", place(5, false, 0), place(5, false, 0), true},
        {"no ID, another device", place(5, true, 30), place(6, false, 30), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.same, c.a.isOnMountOf(c.b)) << c.what;
        EXPECT_EQ(c.same, c.b.isOnMountOf(c.a)) << c.what;
    }
}

TEST(DirFdPlace, AFolderAndItsMountAreRead)
{
    const ScratchDir dir;
    fs::create_directories(dir.File("a"));
    const DirFd top = DirFd::openTrusted(dir.path());
    const DirFd a = top.openChild("a");
    struct stat status;
    ASSERT_EQ(0, stat(dir.File("a").c_str(), &status));
    const DirFd::Place place = a.place();
    EXPECT_EQ(status.st_dev, place.device);
    EXPECT_EQ(status.st_ino, place.inode);
    EXPECT_TRUE(place.isOnMountOf(top.place()));
    EXPECT_FALSE(place.isFolderOf(top.place()));
    EXPECT_TRUE(place.isFolderOf(DirFd::openTrusted(dir.File("a")).place()));
}

} // namespace
