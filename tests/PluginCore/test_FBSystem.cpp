// The home, data and temporary directory helpers, with the password database
// replaced by the test bed's fake (this executable wraps getpwuid_r).
#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "FBSystem.h"
#include "FakePasswd.h"

using testbed::FakePasswd;
using testbed::ScopedFakeHome;

namespace {

std::string failureOfHomeLookup()
{
    try {
        FB::System::getHomeDirPath();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(FBSystemHome, ComesFromThePasswordEntryOfTheProcessUser)
{
    ScopedFakeHome home("/home/ann");
    const int before = FakePasswd::calls();
    EXPECT_EQ("/home/ann", FB::System::getHomeDirPath());
    EXPECT_EQ(before + 1, FakePasswd::calls()) << "one lookup, no retry";
    EXPECT_EQ(getuid(), FakePasswd::lastUid());
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    EXPECT_EQ(hint == -1 ? 16384u : static_cast<size_t>(hint), FakePasswd::lastBufferSize());
}

TEST(FBSystemHome, DataDirectoriesAppendDotAndTheNameAsTheyAre)
{
    ScopedFakeHome home("/home/ann");
    struct Case {
        const char* name;
        const char* expected;
    } const cases[] = {
        {"app", "/home/ann/.app"},
        {"/x", "/home/ann/./x"},
        {"", "/home/ann/."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, FB::System::getUserDataDirPath(c.name)) << c.name;
        EXPECT_EQ(c.expected, FB::System::getAppDataDirPath(c.name)) << c.name;
    }
}

TEST(FBSystemHome, LookupFailuresAreRuntimeErrorsWithTheirTexts)
{
    FakePasswd::setError(ERANGE);
    EXPECT_EQ("getpwuid_r error: 34", failureOfHomeLookup());
    FakePasswd::setError(EIO);
    EXPECT_EQ("getpwuid_r error: 5", failureOfHomeLookup());
    FakePasswd::setNoEntry();
    EXPECT_EQ("User not found.", failureOfHomeLookup());
    EXPECT_THROW(FB::System::getUserDataDirPath("app"), std::runtime_error);
}

TEST(FBSystemHome, ARecordLargerThanTheBufferIsErangeWithoutRetry)
{
    // The fake answers ERANGE, as the real call does, when the record does
    // not fit in the buffer the caller offers.
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    ScopedFakeHome home("/home/" + std::string(hint == -1 ? 16384 : hint, 'a'));
    const int before = FakePasswd::calls();
    EXPECT_EQ("getpwuid_r error: 34", failureOfHomeLookup());
    EXPECT_EQ(before + 1, FakePasswd::calls());
}

class FBSystemTempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* value = getenv("TMPDIR");
        hadTmpDir = value != nullptr;
        if (value)
            savedTmpDir = value;
    }
    void TearDown() override
    {
        if (hadTmpDir)
            setenv("TMPDIR", savedTmpDir.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

    bool hadTmpDir = false;
    std::string savedTmpDir;
};

TEST_F(FBSystemTempDir, IsTmpDirWhenSetEvenEmptyElseSlashTmp)
{
    setenv("TMPDIR", "/var/scratch", 1);
    EXPECT_EQ("/var/scratch", FB::System::getTempDirPath());
    setenv("TMPDIR", "", 1);
    EXPECT_EQ("", FB::System::getTempDirPath());
    unsetenv("TMPDIR");
    EXPECT_EQ("/tmp", FB::System::getTempDirPath());
}

} // namespace
