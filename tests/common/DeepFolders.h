// makeDeepFolders: a chain of folders deeper than a path may be long, for
// tests of walks whose stack or descriptors must not grow with the depth.
// Made relative to descriptors; removeDeepFolders clears what a failed walk
// left, which a scratch folder's own clean-up cannot. Any thread.
#ifndef TESTS_COMMON_DEEPFOLDERS_H
#define TESTS_COMMON_DEEPFOLDERS_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

// Makes folder/<name>/<name>/... depth folders deep, each folder holding a
// file, and gives the deepest folder to atBottom.
inline void makeDeepFolders(const std::string& folder, const std::string& name, int depth,
                            const std::function<void(int)>& atBottom)
{
    int at = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_LE(0, at) << folder;
    for (int level = 0; level < depth && at >= 0; ++level) {
        const int file = openat(at, "file", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        EXPECT_LE(0, file);
        close(file);
        EXPECT_EQ(0, mkdirat(at, name.c_str(), 0700)) << level;
        const int below = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(at);
        at = below;
    }
    ASSERT_LE(0, at);
    atBottom(at);
    close(at);
}

// Removes folder with everything below it, however deep, when it is still
// there.
inline void removeDeepFolders(const std::string& folder)
{
    if (std::filesystem::exists(std::filesystem::symlink_status(folder))) {
        EXPECT_EQ(0, std::system(("rm -rf '" + folder + "'").c_str()));
    }
}

#endif
