// Folder work through descriptors in a scratch directory: opening from a
// trusted start down without following links, listing, and removing trees
// whose links go while what they point to stays.
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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

} // namespace
