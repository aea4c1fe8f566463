// The installer plugin for tests: the same library as the shipped one, but
// its home directory is the folder named by KZO_TEST_HOME (the password
// database answers "no entry" while the variable is unset), so a browser
// driving it never reaches the real home. The library wraps getpwuid_r at
// link time (testbed::FakePasswd). KZO_TEST_LOG_CAP, when set at load, is
// the log file's cap in bytes.
#include <stdlib.h>

#include "FakePasswd.h"
#include "kzologsetup.h"

namespace {

struct TestHome {
    TestHome()
    {
        testbed::FakePasswd::setHomeFromEnvironment("KZO_TEST_HOME");
        if (const char* cap = getenv("KZO_TEST_LOG_CAP"))
            setLogFileCapForTesting(strtoul(cap, nullptr, 10));
    }
} g_testHome;

} // namespace
