// LegacyMounts: a legacy folder that holds, beside files of its own, folders
// of other mounts: a folder of elsewhere bound inside it, and a tmpfs. The
// removal must leave what is in them whole. In a child process of
// childrun::runInChild that has no threads yet, with mounts of its own
// (PrivateMounts.h).
#ifndef TESTS_COMMON_LEGACYMOUNTS_H
#define TESTS_COMMON_LEGACYMOUNTS_H

#include <filesystem>
#include <fstream>
#include <string>

#include "ChildRun.h"
#include "PrivateMounts.h"

namespace legacymounts {

// What every file put in the folders of other mounts holds.
const char kKept[] = "keep";

// Makes a folder victim of elsewhere with a file and a folder in it.
inline void makeVictim(const std::string& victim)
{
    std::filesystem::create_directories(victim + "/folder");
    std::ofstream(victim + "/file") << kKept;
    std::ofstream(victim + "/folder/file") << kKept;
}

// Gives the child mounts of its own and fills legacy: files of its own
// (file, a/file, c/file), victim bound at a/bound and a tmpfs at b/tmpfs
// with a file and a folder. Where that cannot be had, the child ends
// skipped (childrun::skip), saying why.
inline void makeInChild(const std::string& legacy, const std::string& victim)
{
    std::string why = privatemounts::enterPrivateMounts();
    if (!why.empty())
        childrun::skip(why);
    for (const char* folder : {"/a/bound", "/b/tmpfs", "/c"})
        std::filesystem::create_directories(legacy + folder);
    for (const char* file : {"/file", "/a/file", "/c/file"})
        std::ofstream(legacy + file) << "old";
    why = privatemounts::bindMount(victim, legacy + "/a/bound");
    if (why.empty())
        why = privatemounts::mountTmpfs(legacy + "/b/tmpfs");
    if (!why.empty())
        childrun::skip(why);
    makeVictim(legacy + "/b/tmpfs");
}

// treeBelow(legacy) once the removal passed over both mounts and took the
// rest: the mounts whole, the folders above them, nothing else.
inline std::string left()
{
    const std::string kept = std::string("=") + kKept + "\n";
    return "a\na/bound\na/bound/file" + kept + "a/bound/folder\na/bound/folder/file" + kept +
           "b\nb/tmpfs\nb/tmpfs/file" + kept + "b/tmpfs/folder\nb/tmpfs/folder/file" + kept;
}

} // namespace legacymounts

#endif
