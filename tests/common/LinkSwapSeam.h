// LinkSwapSeam: lets a test change the file system at the worst moment of
// a folder walk, such as swapping a folder for a symbolic link right after
// the code under test checked it.
//
// The seam is link time: LinkSwapSeam.cpp defines the C library's folder
// openings (opendir, and openat/openat64 with O_DIRECTORY), entry removals
// (unlink, rmdir, unlinkat) and status reads relative to a folder
// (fstatat/fstatat64) in the test executable, so calls from the code under
// test, from the static libraries and from shared libraries such as
// Boost.Filesystem all pass through it and then go on to the real
// functions. Link LinkSwapSeam.cpp into one test executable only.
//
// A test arms one action for one moment; the first call at that moment
// disarms the seam and runs the action just before the real call, which
// then sees the changed file system. A test may also make the status reads
// of one name fail with an error the file system may give but is hard to
// bring about (a failing disk, a network mount that is gone), and watch
// every folder opening; DescriptorPeak does, to count the descriptors a
// walk holds. Arm, watch and run from one thread at a time; the calls
// themselves may come from any thread.
#ifndef TESTS_COMMON_LINKSWAPSEAM_H
#define TESTS_COMMON_LINKSWAPSEAM_H

#include <cstddef>
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
    // Runs watcher before every folder opening until it is set to null;
    // folders the watcher itself opens do not call it again.
    static void watchOpenings(std::function<void()> watcher);
    // Until disarm, every fstatat of an entry of the name fails with error.
    static void failStatusOf(const std::string& name, int error);
    static void disarm();
    // Whether the armed action ran since the last arm.
    static bool fired();

    // The usual action: folder is renamed aside (to folder + ".moved" when
    // no other place is given) and a link to target takes its place.
    static void swapForLink(const std::string& folder, const std::string& target,
                            const std::string& aside = std::string());
};

// The most descriptors the process held, over what it held at start(),
// whenever a folder was opened while the peak lived. Counting stops once
// the count passes limit: each count reads every descriptor, and a walk
// that holds one per level would make that slow. One at a time.
class DescriptorPeak {
public:
    explicit DescriptorPeak(size_t limit);
    ~DescriptorPeak();
    DescriptorPeak(const DescriptorPeak&) = delete;
    DescriptorPeak& operator=(const DescriptorPeak&) = delete;

    void start();
    size_t most() const { return m_most - m_start; }

private:
    const size_t m_limit;
    bool m_started = false;
    size_t m_start = 0;
    size_t m_most = 0;
};

#endif
