// The installer plugin for tests: the same library as the shipped one, but
// its home directory is the folder named by KZO_TEST_HOME (the password
// database answers "no entry" while the variable is unset), so a browser
// driving it never reaches the real home. The library wraps getpwuid_r at
// link time (testbed::FakePasswd).
#include "FakePasswd.h"

namespace {

struct TestHome {
    TestHome() { testbed::FakePasswd::setHomeFromEnvironment("KZO_TEST_HOME"); }
} g_testHome;

} // namespace
