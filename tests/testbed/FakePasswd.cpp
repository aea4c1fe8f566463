#include "FakePasswd.h"

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

namespace testbed {

namespace {

enum Answer { NoEntry, Home, Error, FromEnvironment };

struct State {
    std::mutex mutex;
    Answer answer = NoEntry;
    std::string home;
    std::string variable;
    int error = 0;
    int calls = 0;
    uid_t lastUid = 0;
    size_t lastBufferSize = 0;
};

State& state()
{
    static State s;
    return s;
}

// Copies text into the caller's buffer; null when it does not fit.
char* place(const std::string& text, char*& next, size_t& left)
{
    if (text.size() + 1 > left)
        return nullptr;
    char* at = next;
    memcpy(at, text.c_str(), text.size() + 1);
    next += text.size() + 1;
    left -= text.size() + 1;
    return at;
}

} // namespace

void FakePasswd::setHome(const std::string& home)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().answer = Home;
    state().home = home;
}

void FakePasswd::setError(int error)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().answer = Error;
    state().error = error;
}

void FakePasswd::setNoEntry()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().answer = NoEntry;
}

void FakePasswd::setHomeFromEnvironment(const std::string& variable)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().answer = FromEnvironment;
    state().variable = variable;
}

int FakePasswd::calls()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().calls;
}

uid_t FakePasswd::lastUid()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().lastUid;
}

size_t FakePasswd::lastBufferSize()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().lastBufferSize;
}

} // namespace testbed

extern "C" int __wrap_getpwuid_r(uid_t uid, struct passwd* pwd, char* buf, size_t buflen,
                                 struct passwd** result)
{
    using testbed::state;
    std::lock_guard<std::mutex> lock(state().mutex);
    ++state().calls;
    state().lastUid = uid;
    state().lastBufferSize = buflen;
    *result = nullptr;
    std::string home = state().home;
    switch (state().answer) {
    case testbed::NoEntry:
        return 0;
    case testbed::Error:
        return state().error;
    case testbed::FromEnvironment: {
        const char* value = getenv(state().variable.c_str());
        if (!value)
            return 0;
        home = value;
        break;
    }
    case testbed::Home:
        break;
    }
    char* next = buf;
    size_t left = buflen;
    char* name = testbed::place("tester", next, left);
    char* empty = testbed::place("", next, left);
    char* dir = testbed::place(home, next, left);
    char* shell = testbed::place("/bin/sh", next, left);
    if (!name || !empty || !dir || !shell)
        return ERANGE;
    memset(pwd, 0, sizeof(*pwd));
    pwd->pw_name = name;
    pwd->pw_passwd = empty;
    pwd->pw_uid = uid;
    pwd->pw_gid = 0;
    pwd->pw_gecos = empty;
    pwd->pw_dir = dir;
    pwd->pw_shell = shell;
    *result = pwd;
    return 0;
}
