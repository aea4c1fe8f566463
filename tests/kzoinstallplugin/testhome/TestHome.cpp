// The installer plugin for tests: the same library as the shipped one, but
// its home directory is the folder named by KZO_TEST_HOME (the password
// database answers "no entry" while the variable is unset), so a browser
// driving it never reaches the real home. The library wraps getpwuid_r at
// link time (testbed::FakePasswd). KZO_TEST_LOG_CAP, when set at load, is
// the log file's cap in bytes. While KZO_TEST_REFUSE_THREADS is set, the
// update queue's worker thread cannot be made.
#include <errno.h>
#include <stdlib.h>

#include <boost/thread/exceptions.hpp>

#include "FakePasswd.h"
#include "kzologsetup.h"
#include "kzoupdateAPI.h"

namespace {

boost::thread refusedWhileAsked(const boost::function<void()>& body)
{
    if (getenv("KZO_TEST_REFUSE_THREADS"))
        throw boost::thread_resource_error(EAGAIN, "no thread for the test");
    return kzoupdatequeue::makeThread(body);
}

struct TestHome {
    TestHome()
    {
        testbed::FakePasswd::setHomeFromEnvironment("KZO_TEST_HOME");
        if (const char* cap = getenv("KZO_TEST_LOG_CAP"))
            setLogFileCapForTesting(strtoul(cap, nullptr, 10));
        kzoupdateAPI::packageManagerQueue().setThreadMakerForTesting(&refusedWhileAsked);
    }
} g_testHome;

} // namespace
