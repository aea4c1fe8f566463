// LinkSwapSeam: lets a test change the file system at the worst moment of
// a folder walk, such as swapping a folder for a symbolic link right after
// the code under test checked it.
//
// The seam is link time: LinkSwapSeam.cpp defines the C library's folder
// openings (opendir, and openat/openat64 with O_DIRECTORY) and entry
// removals (unlink, rmdir, unlinkat) in the test executable, so calls from
// the code under test, from the static libraries and from shared libraries
// such as Boost.Filesystem all pass through it and then go on to the real
// functions. Link LinkSwapSeam.cpp into one test executable only.
//
// A test arms one action for one moment; the first call at that moment
// disarms the seam and runs the action just before the real call, which
// then sees the changed file system. Arm and run from one thread at a time;
// the calls themselves may come from any thread.
#ifndef TESTS_COMMON_LINKSWAPSEAM_H
#define TESTS_COMMON_LINKSWAPSEAM_H

#include <functional>
#include <string>

class LinkSwapSeam {
public:
    enum Moment {
        // A folder of the name is about to be opened.
        OpeningFolder,
        // An entry of the name (any entry, for the empty name) is about to
        // be removed.
        RemovingEntry,
    };

    static void arm(Moment moment, const std::string& name, std::function<void()> action);
    static void disarm();
    // Whether the armed action ran since the last arm.
    static bool fired();

    // The usual action: folder is renamed aside (to folder + ".moved" when
    // no other place is given) and a link to target takes its place.
    static void swapForLink(const std::string& folder, const std::string& target,
                            const std::string& aside = std::string());
};

#endif
