#include "talk/base/popenstream.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>

#include <string>

#include <gtest/gtest.h>

#include "scratchdir.h"

using talk_base::POpenStream;

namespace {

TEST(POpenStreamTest, ReadsACommandsOutputAndKeepsItsStatus) {
  POpenStream stream;
  EXPECT_EQ(-1, stream.GetWaitStatus());
  ASSERT_TRUE(stream.Open("printf 'one\\ntwo'; exit 3", "r", nullptr));
  EXPECT_EQ(talk_base::SS_OPEN, stream.GetState());
  std::string line;
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadLine(&line));
  EXPECT_EQ("one", line);
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadLine(&line));
  EXPECT_EQ("two", line);
  EXPECT_EQ(talk_base::SR_EOS, stream.ReadLine(&line));
  stream.Close();
  EXPECT_EQ(talk_base::SS_CLOSED, stream.GetState());
  ASSERT_TRUE(WIFEXITED(stream.GetWaitStatus()));
  EXPECT_EQ(3, WEXITSTATUS(stream.GetWaitStatus()));

  // Opening the next command closes the running one first.
  ASSERT_TRUE(stream.Open("exit 4", "r", nullptr));
  ASSERT_TRUE(stream.OpenShare("true", "r", 0, nullptr));
  EXPECT_EQ(4, WEXITSTATUS(stream.GetWaitStatus()));
  stream.Close();
  EXPECT_EQ(0, stream.GetWaitStatus());
}

TEST(POpenStreamTest, WritesACommandsInput) {
  ScratchDir dir;
  const std::string path = dir.File("out");
  {
    POpenStream stream;
    ASSERT_TRUE(stream.Open("cat > '" + path + "'", "w", nullptr));
    ASSERT_EQ(talk_base::SR_SUCCESS,
              stream.WriteAll("piped\n", 6, nullptr, nullptr));
    // Destruction waits for the command.
  }
  EXPECT_EQ("piped\n", ReadWholeFile(path));
}

TEST(POpenStreamTest, BadModeFails) {
  POpenStream stream;
  int error = 0;
  EXPECT_FALSE(stream.Open("true", "x", &error));
  EXPECT_EQ(EINVAL, error);
  EXPECT_EQ(talk_base::SS_CLOSED, stream.GetState());
}

// Shows the FILE* of the pipe.
class InspectablePOpenStream : public POpenStream {
 public:
  FILE* file() const { return file_; }
};

// Commands started later (the package manager runs through system()) must
// not inherit our end of the pipe.
TEST(POpenStreamTest, PipesAreNotInherited) {
  const char* const kModes[] = {"r", "w"};
  for (const char* mode : kModes) {
    SCOPED_TRACE(mode);
    InspectablePOpenStream stream;
    ASSERT_TRUE(stream.Open("cat > /dev/null", mode, nullptr));
    EXPECT_TRUE(fcntl(fileno(stream.file()), F_GETFD) & FD_CLOEXEC);
  }
}

}  // namespace
