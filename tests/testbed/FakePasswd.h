// testbed::FakePasswd: the password database as the code under test sees it,
// so that no test depends on the real user or touches a real home directory.
//
// Test executables that use it are linked with
//   -Wl,--wrap=getpwuid_r -Wl,-u,__wrap_getpwuid_r
// so that every getpwuid_r call of the linked code lands here. The fake
// answers like the real call: a record with the chosen home directory for any
// user id (ERANGE when it does not fit in the caller's buffer), the chosen
// error number, or no entry. Until a test chooses, it answers "no entry".
// setHomeFromEnvironment makes each call read the home directory from an
// environment variable instead (no entry while it is unset), for a plugin
// library whose loader chooses the home.
// Any thread; the settings are guarded by a mutex.
#ifndef TESTBED_FAKEPASSWD_H
#define TESTBED_FAKEPASSWD_H

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace testbed {

class FakePasswd {
public:
    static void setHome(const std::string& home);
    static void setError(int error);
    static void setNoEntry();
    static void setHomeFromEnvironment(const std::string& variable);

    // What the last call asked for.
    static int calls();
    static uid_t lastUid();
    static size_t lastBufferSize();
};

// Sets a home directory for its lifetime and answers "no entry" afterwards.
class ScopedFakeHome {
public:
    explicit ScopedFakeHome(const std::string& home) { FakePasswd::setHome(home); }
    ~ScopedFakeHome() { FakePasswd::setNoEntry(); }
    ScopedFakeHome(const ScopedFakeHome&) = delete;
    ScopedFakeHome& operator=(const ScopedFakeHome&) = delete;
};

} // namespace testbed

#endif
