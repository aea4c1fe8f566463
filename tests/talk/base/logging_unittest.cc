#include "talk/base/logging.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "scratchdir.h"
#include "talk/base/filestream.h"
#include "talk/base/stream.h"
#include "talk/base/timeutils.h"

using talk_base::LogMessage;
using talk_base::LogMultiline;
using talk_base::LogMultilineState;

namespace {

// Sends standard error into a file while it exists; Finish() gives what was
// written.
class StderrCapture {
 public:
  StderrCapture() {
    fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int fd = open(dir_.File("stderr").c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StderrCapture() { Finish(); }

  std::string Finish() {
    if (saved_ >= 0) {
      fflush(stderr);
      dup2(saved_, STDERR_FILENO);
      close(saved_);
      saved_ = -1;
    }
    return ReadWholeFile(dir_.File("stderr"));
  }

 private:
  ScratchDir dir_;
  int saved_ = -1;
};

std::string ThreadIdText() {
  char text[32];
  snprintf(text, sizeof(text), "%lx",
           static_cast<unsigned long>(syscall(SYS_gettid)));
  return text;
}

// The message parts of captured lines: the text after the source prefix.
std::vector<std::string> Messages(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t at = line.find("): ");
    result.push_back(at == std::string::npos ? line : line.substr(at + 3));
  }
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) result.push_back(line);
  return result;
}

// Wed Dec  9 00:39:56 2026 in UTC.
const time_t kWhen = 1796776796;
time_t FixedWallClock() { return kWhen; }
uint32_t g_fake_millis = 0;
uint32_t FakeMillis() { return g_fake_millis; }

int g_evaluations = 0;
int Evaluated() { return ++g_evaluations; }

// Puts every process-wide logging setting back to a known state.
void ResetLogging() {
  LogMessage::SetLogStream(nullptr, talk_base::LS_NONE);
  LogMessage::SetDebugSeverity(talk_base::LS_NONE);
  LogMessage::SetLogTimestamps(false);
  LogMessage::SetLogThreadIds(false);
  LogMessage::SetConfigured(false);
  LogMessage::SetWallClockForTesting(nullptr);
  talk_base::SetClockForTesting(nullptr);
}

}  // namespace

// The logging state as this program found it before main, and what one
// statement did then: recorded by a static initializer, so that the test
// does not depend on running first.
struct LoadState {
  int min_severity;
  int stream_severity;
  bool configured;
  int evaluations;
  std::string standard_error;
  std::string first_line;

  LoadState() {
    min_severity = LogMessage::min_severity.load();
    stream_severity = LogMessage::GetStreamSeverity(nullptr);
    configured = LogMessage::IsConfigured();
    {
      StderrCapture capture;
      LOG(LS_ERROR) << "never " << Evaluated();
      standard_error = capture.Finish();
    }
    evaluations = g_evaluations;
    CaptureSink sink;
    LogMessage::AddLogStream(new CaptureStream(&sink), talk_base::LS_INFO);
    LOG(LS_INFO) << "first";
    LogMessage::SetLogStream(nullptr, talk_base::LS_NONE);
    first_line = sink.text;
  }
};
const LoadState g_load_state;

TEST(LoggingLoadState, NothingIsLoggedBeforeConfiguration) {
  EXPECT_EQ(talk_base::LS_NONE, g_load_state.min_severity);
  EXPECT_EQ(talk_base::LS_NONE, g_load_state.stream_severity);
  EXPECT_FALSE(g_load_state.configured);
  EXPECT_EQ("", g_load_state.standard_error);
  EXPECT_EQ(0, g_load_state.evaluations);
  // Timestamps are on from the load, thread ids off.
  EXPECT_TRUE(std::regex_match(
      g_load_state.first_line,
      std::regex(R"(\[\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}:\d{3}\] )"
                 R"(INFO\(logging_unittest\.cc:\d+\): first\n)")))
      << g_load_state.first_line;
}

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    ResetLogging();
  }
  void TearDown() override { ResetLogging(); }

  // A sink that lives as long as the test, beyond the streams' deletion.
  CaptureSink* NewSink() {
    sinks_.emplace_back(new CaptureSink);
    return sinks_.back().get();
  }

  // Registers a capture stream at |level| and returns its sink.
  CaptureSink* Capture(int level) {
    CaptureSink* sink = NewSink();
    LogMessage::AddLogStream(new CaptureStream(sink), level);
    return sink;
  }

  std::vector<std::unique_ptr<CaptureSink>> sinks_;
};

struct LineCase {
  bool timestamps;
  bool thread_ids;
  int severity;
  const char* file;
  int line;
  int context;
  int error;
  uint32_t millis;
  const char* expected;  // "{TID}" stands for the kernel thread id
};

const LineCase kLineCases[] = {
    {true, true, talk_base::LS_INFO, "/src/talk/base/unit.cc", 50, 0, 0, 42,
     "[Wed Dec  9 00:39:56 2026:042] [{TID}] INFO(unit.cc:50): message\n"},
    {true, false, talk_base::LS_WARNING, "unit.cc", 1, 0, 0, 123456789,
     "[Wed Dec  9 00:39:56 2026:789] WARNING(unit.cc:1): message\n"},
    {true, false, talk_base::LS_ERROR, "unit.cc", 2, 0, 0, 0xFFFFFFFFu,
     "[Wed Dec  9 00:39:56 2026:295] ERROR(unit.cc:2): message\n"},
    {true, false, talk_base::LS_ERROR, "unit.cc", 3, 0, 0, 7000,
     "[Wed Dec  9 00:39:56 2026:000] ERROR(unit.cc:3): message\n"},
    {false, true, talk_base::LS_VERBOSE, "a\\b\\c.cc", 7, 0, 0, 0,
     "[{TID}] VERBOSE(c.cc:7): message\n"},
    {false, false, talk_base::LS_SENSITIVE, "a/b\\c/d.cc", 8, 0, 0, 0,
     "SENSITIVE(d.cc:8): message\n"},
    {false, false, talk_base::LS_SENSITIVE, "noslash.cc", 9, 0, 0, 0,
     "SENSITIVE(noslash.cc:9): message\n"},
    {false, false, 7, "x.cc", 10, 0, 0, 0, "<unknown>(x.cc:10): message\n"},
    {false, false, talk_base::LS_ERROR, "x.cc", 11, 3, -1, 0,
     "ERROR(x.cc:11): message : [0xffffffff]\n"},
    {false, false, talk_base::LS_ERROR, "x.cc", 12, 1, 2, 0,
     "ERROR(x.cc:12): message : [0x00000002] {STRERROR2}\n"},
};

std::string Expand(std::string text) {
  const std::pair<std::string, std::string> kFields[] = {
      {"{TID}", ThreadIdText()}, {"{STRERROR2}", strerror(2)}};
  for (const auto& field : kFields) {
    const size_t at = text.find(field.first);
    if (at != std::string::npos) text.replace(at, field.first.size(),
                                              field.second);
  }
  return text;
}

TEST_F(LoggingTest, LineFormatIsExact) {
  LogMessage::SetWallClockForTesting(&FixedWallClock);
  talk_base::SetClockForTesting(&FakeMillis);
  for (const LineCase& c : kLineCases) {
    SCOPED_TRACE(c.expected);
    LogMessage::SetLogStream(nullptr, talk_base::LS_NONE);
    CaptureSink* sink = Capture(talk_base::LS_SENSITIVE);
    LogMessage::SetLogTimestamps(c.timestamps);
    LogMessage::SetLogThreadIds(c.thread_ids);
    g_fake_millis = c.millis;
    {
      LogMessage message(c.file, c.line,
                         static_cast<talk_base::LogSeverity>(c.severity),
                         static_cast<talk_base::LogErrorContext>(c.context),
                         c.error);
      message.Stream() << "message";
    }
    EXPECT_EQ(Expand(c.expected), sink->text);
  }
}

// The error context is an int: a value other than 0 and 1 is kept whole
// and shows the bracketed number only.
TEST_F(LoggingTest, ErrorContextHoldsAnyInt) {
  EXPECT_TRUE((std::is_same<std::underlying_type<talk_base::LogErrorContext>::type,
                            int>::value));
  for (const int context : {2, 255, -1, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(context);
    const auto stored = static_cast<talk_base::LogErrorContext>(context);
    EXPECT_EQ(context, static_cast<int>(stored));
    LogMessage::SetLogStream(nullptr, talk_base::LS_NONE);
    CaptureSink* sink = Capture(talk_base::LS_SENSITIVE);
    LogMessage("x.cc", 1, talk_base::LS_ERROR, stored, 5).Stream() << "m";
    EXPECT_EQ("ERROR(x.cc:1): m : [0x00000005]\n", sink->text);
  }
}

TEST_F(LoggingTest, MacrosNameThisFileAndAppendErrno) {
  CaptureSink* sink = Capture(talk_base::LS_VERBOSE);
  const int line = __LINE__ + 1;
  LOG(LS_INFO) << "count " << 3;
  errno = ENOENT;
  const int errno_line = __LINE__ + 1;
  LOG_ERRNO(LS_WARNING) << "open";
  const int e_line = __LINE__ + 1;
  LOG_E(LS_ERROR, NONE, 5) << "plain";
  talk_base::LogSeverity variable = talk_base::LS_VERBOSE;
  const int v_line = __LINE__ + 1;
  LOG_V(variable) << "variable";

  const std::vector<std::string> expected = {
      "INFO(logging_unittest.cc:" + std::to_string(line) + "): count 3",
      "WARNING(logging_unittest.cc:" + std::to_string(errno_line) +
          "): open : [0x00000002] " + strerror(ENOENT),
      "ERROR(logging_unittest.cc:" + std::to_string(e_line) + "): plain",
      "VERBOSE(logging_unittest.cc:" + std::to_string(v_line) +
          "): variable",
  };
  EXPECT_EQ(expected, Lines(sink->text));
}

TEST_F(LoggingTest, StatementBelowMinimumIsNotEvaluated) {
  g_evaluations = 0;
  LOG(LS_ERROR) << Evaluated();
  EXPECT_EQ(0, g_evaluations);

  CaptureSink* sink = Capture(talk_base::LS_INFO);
  LOG(LS_VERBOSE) << Evaluated();
  EXPECT_EQ(0, g_evaluations);
  LOG(LS_INFO) << Evaluated();
  EXPECT_EQ(1, g_evaluations);
  EXPECT_EQ(std::vector<std::string>{"1"}, Messages(sink->text));
}

TEST_F(LoggingTest, DebugLevelRoutesToStandardError) {
  LogMessage::SetDebugSeverity(talk_base::LS_WARNING);
  EXPECT_EQ(talk_base::LS_WARNING, LogMessage::min_severity.load());
  StderrCapture capture;
  LOG(LS_INFO) << "quiet";
  LOG(LS_WARNING) << "loud";
  LOG(LS_ERROR) << "louder";
  EXPECT_EQ((std::vector<std::string>{"loud", "louder"}),
            Messages(capture.Finish()));
}

TEST_F(LoggingTest, StreamsGetLinesAtOrAboveTheirLevel) {
  CaptureSink* low = Capture(talk_base::LS_VERBOSE);
  CaptureSink* high = Capture(talk_base::LS_ERROR);
  EXPECT_EQ(talk_base::LS_VERBOSE, LogMessage::min_severity.load());
  EXPECT_EQ(talk_base::LS_VERBOSE, LogMessage::GetStreamSeverity(nullptr));

  StderrCapture capture;
  LOG(LS_SENSITIVE) << "nowhere";
  LOG(LS_INFO) << "info";
  LOG(LS_ERROR) << "error";
  EXPECT_EQ("", capture.Finish());
  EXPECT_EQ((std::vector<std::string>{"info", "error"}),
            Messages(low->text));
  EXPECT_EQ(std::vector<std::string>{"error"}, Messages(high->text));
}

// A log stream that refuses a line loses it alone (here a closed file,
// which answers SR_EOS); the streams after it still get the line.
TEST_F(LoggingTest, RefusedLineIsLostForThatStreamOnly) {
  LogMessage::AddLogStream(new talk_base::FileStream, talk_base::LS_INFO);
  CaptureSink* after = Capture(talk_base::LS_INFO);
  LOG(LS_INFO) << "kept";
  EXPECT_EQ(std::vector<std::string>{"kept"}, Messages(after->text));
}

TEST_F(LoggingTest, StreamListOwnershipAndSeverity) {
  CaptureSink* kept = NewSink();
  CaptureSink* other = NewSink();
  CaptureStream* stream = new CaptureStream(kept);
  LogMessage::AddLogStream(stream, talk_base::LS_WARNING);
  LogMessage::AddLogStream(stream, talk_base::LS_INFO);
  LogMessage::AddLogStream(new CaptureStream(other), talk_base::LS_ERROR);
  EXPECT_EQ(talk_base::LS_INFO, LogMessage::GetStreamSeverity(stream));
  EXPECT_EQ(talk_base::LS_INFO, LogMessage::min_severity.load());

  // The first entry goes; the stream is not deleted.
  LogMessage::RemoveLogStream(stream);
  EXPECT_FALSE(kept->deleted);
  EXPECT_EQ(talk_base::LS_INFO, LogMessage::GetStreamSeverity(stream));
  LogMessage::RemoveLogStream(stream);
  EXPECT_EQ(talk_base::LS_NONE, LogMessage::GetStreamSeverity(stream));
  EXPECT_EQ(talk_base::LS_ERROR, LogMessage::min_severity.load());
  delete stream;

  // Replacing the list deletes what it owns.
  LogMessage::SetLogStream(new CaptureStream(NewSink()),
                           talk_base::LS_VERBOSE);
  EXPECT_TRUE(other->deleted);
  EXPECT_EQ(talk_base::LS_VERBOSE, LogMessage::min_severity.load());
}

TEST_F(LoggingTest, ClearingTheStreamsRecomputesTheMinimum) {
  CaptureSink* sink = Capture(talk_base::LS_SENSITIVE);
  EXPECT_EQ(talk_base::LS_SENSITIVE, LogMessage::min_severity.load());
  LogMessage::SetLogStream(nullptr, talk_base::LS_SENSITIVE);
  EXPECT_TRUE(sink->deleted);
  EXPECT_EQ(talk_base::LS_NONE, LogMessage::min_severity.load());
  g_evaluations = 0;
  LOG(LS_ERROR) << Evaluated();
  EXPECT_EQ(0, g_evaluations);
}

TEST_F(LoggingTest, ConfiguredFlagIsTheApplicationsAlone) {
  ScratchDir dir;
  LogMessage::ConfigureLogging("info file none debug thread",
                               dir.File("log").c_str());
  EXPECT_FALSE(LogMessage::IsConfigured());
  LogMessage::SetConfigured(true);
  LogMessage::ConfigureLogging("info file", dir.File("log").c_str());
  EXPECT_TRUE(LogMessage::IsConfigured());
  LogMessage::SetConfigured(false);
  EXPECT_FALSE(LogMessage::IsConfigured());
}

// Where lines of each severity go after ConfigureLogging with one option
// text.
struct OptionCase {
  const char* options;
  int file_level;  // LS_NONE: no file opened
  int debug_level;
  bool thread_ids;
};

const OptionCase kOptionCases[] = {
    {"info file none debug thread", talk_base::LS_INFO, talk_base::LS_NONE,
     true},
    {"verbose debug", talk_base::LS_NONE, talk_base::LS_VERBOSE, false},
    {"file", talk_base::LS_VERBOSE, talk_base::LS_NONE, false},
    {"error file warning debug", talk_base::LS_ERROR, talk_base::LS_WARNING,
     false},
    {"sensitive file debug", talk_base::LS_SENSITIVE,
     talk_base::LS_SENSITIVE, false},
    {"info file none file", talk_base::LS_NONE, talk_base::LS_NONE, false},
    {"  info   file  ", talk_base::LS_INFO, talk_base::LS_NONE, false},
    {"INFO file Thread", talk_base::LS_VERBOSE, talk_base::LS_NONE, false},
    {"infofile bogus", talk_base::LS_NONE, talk_base::LS_NONE, false},
    {"", talk_base::LS_NONE, talk_base::LS_NONE, false},
};

// "probe <n>" for every severity n from |level| to LS_ERROR.
std::vector<std::string> ProbesFrom(int level) {
  std::vector<std::string> result;
  for (int n = level; n <= talk_base::LS_ERROR; ++n) {
    result.push_back("probe " + std::to_string(n));
  }
  return result;
}

TEST_F(LoggingTest, ConfigurationWords) {
  for (const OptionCase& c : kOptionCases) {
    SCOPED_TRACE(c.options);
    ResetLogging();
    ScratchDir dir;
    const std::string path = dir.File("log.txt");
    StderrCapture capture;
    LogMessage::ConfigureLogging(c.options, path.c_str());
    EXPECT_EQ(c.file_level, LogMessage::GetStreamSeverity(nullptr));
    EXPECT_EQ(std::min(c.file_level, c.debug_level),
              LogMessage::min_severity.load());
    for (int n = talk_base::LS_SENSITIVE; n <= talk_base::LS_ERROR; ++n) {
      LOG_V(static_cast<talk_base::LogSeverity>(n)) << "probe " << n;
    }
    EXPECT_EQ(ProbesFrom(c.debug_level), Messages(capture.Finish()));

    EXPECT_EQ(c.file_level != talk_base::LS_NONE, FileExists(path));
    const std::string file = ReadWholeFile(path);
    EXPECT_EQ(ProbesFrom(c.file_level), Messages(file));
    if (!file.empty()) {
      EXPECT_EQ(c.thread_ids,
                file.find("[" + ThreadIdText() + "] ") != std::string::npos)
          << file;
    }
    ResetLogging();
  }
}

// A stream of the caller's takes the file's place, at the file's level; with
// no file level it is deleted, and a null stream is a file that would not
// open.
TEST_F(LoggingTest, ConfigurationWordsWithTheCallersStream) {
  for (const OptionCase& c : kOptionCases) {
    SCOPED_TRACE(c.options);
    ResetLogging();
    CaptureSink* sink = NewSink();
    StderrCapture capture;
    LogMessage::ConfigureLoggingToStream(c.options, new CaptureStream(sink));
    EXPECT_EQ(c.file_level, LogMessage::GetStreamSeverity(nullptr));
    EXPECT_EQ(c.file_level == talk_base::LS_NONE, sink->deleted);
    for (int n = talk_base::LS_SENSITIVE; n <= talk_base::LS_ERROR; ++n) {
      LOG_V(static_cast<talk_base::LogSeverity>(n)) << "probe " << n;
    }
    EXPECT_EQ(ProbesFrom(c.debug_level), Messages(capture.Finish()));
    EXPECT_EQ(ProbesFrom(c.file_level), Messages(sink->text));
    if (!sink->text.empty()) {
      EXPECT_EQ(c.thread_ids, sink->text.find("[" + ThreadIdText() + "] ") !=
                                  std::string::npos);
    }

    ResetLogging();
    StderrCapture quiet;
    LogMessage::ConfigureLoggingToStream(c.options, nullptr);
    EXPECT_EQ(talk_base::LS_NONE, LogMessage::GetStreamSeverity(nullptr));
    EXPECT_EQ(c.debug_level, LogMessage::min_severity.load());
    quiet.Finish();
  }
  ResetLogging();
}

TEST_F(LoggingTest, TimestampAndThreadWordsOnlyTurnFlagsOn) {
  LogMessage::SetWallClockForTesting(&FixedWallClock);
  talk_base::SetClockForTesting(&FakeMillis);
  g_fake_millis = 1;
  const std::string expected_prefix =
      "[Wed Dec  9 00:39:56 2026:001] [" + ThreadIdText() + "] INFO(";

  // No word turns a flag off.
  LogMessage::SetLogTimestamps(true);
  LogMessage::SetLogThreadIds(true);
  LogMessage::ConfigureLogging("verbose", nullptr);
  CaptureSink* kept = Capture(talk_base::LS_VERBOSE);
  LOG(LS_INFO) << "kept";
  EXPECT_EQ(0u, kept->text.find(expected_prefix)) << kept->text;

  LogMessage::SetLogTimestamps(false);
  LogMessage::SetLogThreadIds(false);
  LogMessage::ConfigureLogging("tstamp thread", nullptr);
  CaptureSink* turned_on = Capture(talk_base::LS_VERBOSE);
  LOG(LS_INFO) << "on";
  EXPECT_EQ(0u, turned_on->text.find(expected_prefix)) << turned_on->text;
}

TEST_F(LoggingTest, ApplicationOptionsSendInfoToTheFileOnly) {
  ScratchDir dir;
  const std::string path = dir.File("app.log");
  // An existing file is truncated.
  { std::ofstream(path) << "old content\n"; }
  StderrCapture capture;
  LogMessage::ConfigureLogging("info file none debug thread", path.c_str());
  LogMessage::SetWallClockForTesting(&FixedWallClock);
  talk_base::SetClockForTesting(&FakeMillis);
  g_fake_millis = 42;
  LogMessage::SetLogTimestamps(true);

  LOG(LS_VERBOSE) << "hidden";
  const int line = __LINE__ + 1;
  LOG(LS_INFO) << "Creating kzoautoinstall plugin ";
  // Unbuffered: the line is in the file while it is still open.
  EXPECT_EQ("[Wed Dec  9 00:39:56 2026:042] [" + ThreadIdText() +
                "] INFO(logging_unittest.cc:" + std::to_string(line) +
                "): Creating kzoautoinstall plugin \n",
            ReadWholeFile(path));
  EXPECT_EQ("", capture.Finish());
}

TEST_F(LoggingTest, MissingFileNameRegistersNoStream) {
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    CaptureSink* previous = Capture(talk_base::LS_INFO);
    LogMessage::ConfigureLogging("info file", name);
    // The previous streams are gone all the same, and nothing stays
    // evaluated for the stream that did not open.
    EXPECT_TRUE(previous->deleted);
    EXPECT_EQ(talk_base::LS_NONE, LogMessage::GetStreamSeverity(nullptr));
    EXPECT_EQ(talk_base::LS_NONE, LogMessage::min_severity.load());
  }
}

TEST_F(LoggingTest, UnopenableFileRegistersNoStream) {
  ScratchDir dir;
  CaptureSink* previous = Capture(talk_base::LS_INFO);
  LogMessage::ConfigureLogging("info file",
                               dir.File("missing/dir/log").c_str());
  EXPECT_TRUE(previous->deleted);
  EXPECT_EQ(talk_base::LS_NONE, LogMessage::GetStreamSeverity(nullptr));
}

TEST_F(LoggingTest, ReconfiguringReplacesTheFile) {
  ScratchDir dir;
  LogMessage::ConfigureLogging("info file", dir.File("one").c_str());
  LOG(LS_INFO) << "to one";
  // Without a "file" word the lowest registered level carries over.
  LogMessage::ConfigureLogging("", dir.File("two").c_str());
  EXPECT_EQ(talk_base::LS_INFO, LogMessage::GetStreamSeverity(nullptr));
  LOG(LS_INFO) << "to two";
  EXPECT_EQ(std::vector<std::string>{"to one"},
            Messages(ReadWholeFile(dir.File("one"))));
  EXPECT_EQ(std::vector<std::string>{"to two"},
            Messages(ReadWholeFile(dir.File("two"))));
}

TEST(LoggingNames, SeverityNames) {
  const std::pair<int, const char*> kNames[] = {
      {0, "SENSITIVE"}, {1, "VERBOSE"},    {2, "INFO"},     {3, "WARNING"},
      {4, "ERROR"},     {5, "<unknown>"}, {-1, "<unknown>"}};
  for (const auto& name : kNames) {
    EXPECT_STREQ(name.second, LogMessage::SeverityName(name.first));
  }
}

TEST(LoggingNames, ParseLogSeverity) {
  const std::pair<const char*, int> kWords[] = {
      {"LS_SENSITIVE", 0}, {"LS_VERBOSE", 1}, {"LS_INFO", 2},
      {"LS_WARNING", 3},   {"LS_ERROR", 4},   {"3", 3},
      {"12abc", 12},       {"0", 0},          {"info", 5},
      {"LS_INFO ", 5},     {"", 5},           {"-1", 5},
      {"99999999999", 2147483647},
  };
  for (const auto& word : kWords) {
    EXPECT_EQ(word.second, talk_base::ParseLogSeverity(word.first))
        << word.first;
  }
}

TEST(LoggingNames, ErrorNameAndFindLabel) {
  const talk_base::ConstantLabel kTable[] = {
      {5, "FIVE"}, {7, "SEVEN"}, {5, "AGAIN"}, {0, nullptr}};
  EXPECT_STREQ("FIVE", talk_base::FindLabel(5, kTable));
  EXPECT_STREQ("SEVEN", talk_base::FindLabel(7, kTable));
  EXPECT_EQ(nullptr, talk_base::FindLabel(6, kTable));
  EXPECT_EQ(nullptr, talk_base::FindLabel(5, nullptr));
  const talk_base::ConstantLabel kEmpty[] = {{5, nullptr}};
  EXPECT_EQ(nullptr, talk_base::FindLabel(5, kEmpty));

  EXPECT_EQ("No error", talk_base::ErrorName(0, kTable));
  EXPECT_EQ("SEVEN", talk_base::ErrorName(7, kTable));
  EXPECT_EQ("0x0000abcd", talk_base::ErrorName(0xabcd, kTable));
  EXPECT_EQ("0xffffffff", talk_base::ErrorName(-1, nullptr));
}

TEST(LoggingNames, FilenameFromPath) {
  const std::pair<const char*, const char*> kPaths[] = {
      {"a\\b\\c.cc", "c.cc"}, {"/x/y/z.cc", "z.cc"}, {"a/b\\c", "c"},
      {"a\\b/c", "c"},        {"plain.cc", "plain.cc"}, {"dir/", ""},
      {"", ""},
  };
  for (const auto& path : kPaths) {
    EXPECT_STREQ(path.second, talk_base::FilenameFromPath(path.first))
        << path.first;
  }
}

TEST_F(LoggingTest, LinesFromManyThreadsArriveWhole) {
  CaptureSink* sink = Capture(talk_base::LS_INFO);
  LogMessage::SetLogThreadIds(true);
  const int kThreads = 4;
  const int kLines = 200;
  std::atomic<bool> stop(false);
  // Meanwhile the stream list, the debug level and the time prefix change
  // under the workers.
  std::thread churn([&stop] {
    CaptureSink extra;
    bool flip = false;
    while (!stop) {
      CaptureStream* stream = new CaptureStream(&extra);
      LogMessage::AddLogStream(stream, talk_base::LS_ERROR);
      LogMessage::SetDebugSeverity(flip ? talk_base::LS_ERROR
                                        : talk_base::LS_NONE);
      LogMessage::SetLogTimestamps(flip);
      LogMessage::RemoveLogStream(stream);
      delete stream;
      flip = !flip;
    }
  });
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        LOG(LS_INFO) << "worker " << t << " line " << i;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  stop = true;
  churn.join();

  const std::regex pattern(
      R"((\[[^\]]+:\d{3}\] )?\[[0-9a-f]+\] )"
      R"(INFO\(logging_unittest\.cc:\d+\): worker (\d) line (\d+))");
  std::vector<int> next(kThreads, 0);
  const std::vector<std::string> lines = Lines(sink->text);
  ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
  for (const std::string& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, pattern)) << line;
    const int worker = std::stoi(match[2]);
    EXPECT_EQ(next[worker]++, std::stoi(match[3]));
  }
}

// LogMultiline writes through the same sinks; its lines carry the logging
// unit's own prefix, so only the message parts are compared.
class LogMultilineTest : public LoggingTest {
 protected:
  void SetUp() override {
    LoggingTest::SetUp();
    sink_ = Capture(talk_base::LS_VERBOSE);
  }
  std::vector<std::string> Logged() {
    std::vector<std::string> result = Messages(sink_->text);
    sink_->text.clear();
    return result;
  }
  CaptureSink* sink_;
};

struct TextCase {
  const char* name;
  std::string data;
  bool input;
  std::vector<std::string> expected;
  size_t pending_after;
};

const std::string kBinaryLine("\x01\x02\x03\x04\x05\n", 6);

TEST_F(LogMultilineTest, TextMode) {
  const TextCase kCases[] = {
      {"trailing white space goes", "hello  \r\n", true, {"[l] << hello"}, 0},
      {"output direction", "out\n", false, {"[l] >> out"}, 0},
      {"two lines", "one\ntwo", true, {"[l] << one", "[l] << two"}, 0},
      {"empty line", "\n", true, {"[l] << "}, 0},
      {"password", "user=x Passwd=y\n", true,
       {"[l] << ## omitted for privacy ##"}, 0},
      {"email", "Email: a@b\nok line\n", false,
       {"[l] >> ## omitted for privacy ##", "[l] >> ok line"}, 0},
      {"binary lines and a short one", kBinaryLine + kBinaryLine +
           kBinaryLine + "ab\nreal text\n", true,
       {"[l] << ## 21 consecutive unprintable ##", "[l] << real text"}, 0},
      {"blank line after binary is counted",
       kBinaryLine + "    \nokay!\n", true,
       {"[l] << ## 11 consecutive unprintable ##", "[l] << okay!"}, 0},
      {"short text after binary is counted", kBinaryLine + "ok\n", true, {},
       9},
      {"a line of exactly 3 bytes after binary is counted",
       kBinaryLine + "abc\nreal text\n", true,
       {"[l] << ## 10 consecutive unprintable ##", "[l] << real text"}, 0},
      {"a line of 4 bytes after binary is logged", kBinaryLine + "abcd\n",
       true, {"[l] << ## 6 consecutive unprintable ##", "[l] << abcd"}, 0},
      {"last line without newline", kBinaryLine + "\x07\x07\x07\x07", true,
       {}, 10},
      // A zero byte makes its own line unprintable and nothing more.
      {"zero byte", std::string("a\0bcd\nhello\n", 12), true,
       {"[l] << ## 6 consecutive unprintable ##", "[l] << hello"}, 0},
  };
  for (const TextCase& c : kCases) {
    SCOPED_TRACE(c.name);
    LogMultilineState state;
    // An exactly sized copy: the scan must stay inside the data.
    std::vector<char> data(c.data.begin(), c.data.end());
    LogMultiline(talk_base::LS_INFO, "[l]", c.input, data.data(),
                 data.size(), false, &state);
    EXPECT_EQ(c.expected, Logged());
    EXPECT_EQ(c.pending_after, state.unprintable_count_[c.input ? 1 : 0]);
    EXPECT_EQ(0u, state.unprintable_count_[c.input ? 0 : 1]);
  }
}

TEST_F(LogMultilineTest, PendingCountCarriesOverAndFlushes) {
  LogMultilineState state;
  const std::string binary("\x01\x02\x03\x04\x05", 5);
  LogMultiline(talk_base::LS_INFO, "[l]", true, binary.data(), binary.size(),
               false, &state);
  EXPECT_EQ(5u, state.unprintable_count_[1]);
  LogMultiline(talk_base::LS_INFO, "[l]", false, binary.data(),
               binary.size(), false, &state);
  EXPECT_EQ(5u, state.unprintable_count_[0]);
  EXPECT_TRUE(Logged().empty());

  const std::string text = "next line\n";
  LogMultiline(talk_base::LS_INFO, "[l]", true, text.data(), text.size(),
               false, &state);
  EXPECT_EQ((std::vector<std::string>{"[l] << ## 5 consecutive unprintable ##",
                                      "[l] << next line"}),
            Logged());
  EXPECT_EQ(0u, state.unprintable_count_[1]);

  // Flushing the output direction; a second flush has nothing to say.
  LogMultiline(talk_base::LS_INFO, "[l]", false, nullptr, 0, false, &state);
  EXPECT_EQ(std::vector<std::string>{"[l] >> ## 5 consecutive unprintable ##"},
            Logged());
  EXPECT_EQ(0u, state.unprintable_count_[0]);
  LogMultiline(talk_base::LS_INFO, "[l]", false, nullptr, 0, false, &state);
  LogMultiline(talk_base::LS_INFO, "[l]", false, nullptr, 0, false, nullptr);
  EXPECT_TRUE(Logged().empty());

  // Without a state nothing carries over.
  LogMultiline(talk_base::LS_INFO, "[l]", true, binary.data(), binary.size(),
               false, nullptr);
  LogMultiline(talk_base::LS_INFO, "[l]", true, text.data(), text.size(),
               false, nullptr);
  EXPECT_EQ(std::vector<std::string>{"[l] << next line"}, Logged());
}

TEST_F(LogMultilineTest, BelowTheMinimumNothingHappens) {
  LogMessage::SetLogStream(nullptr, talk_base::LS_NONE);
  sink_ = Capture(talk_base::LS_WARNING);
  LogMultilineState state;
  state.unprintable_count_[1] = 4;
  LogMultiline(talk_base::LS_INFO, "[l]", true, nullptr, 0, false, &state);
  const std::string binary("\x01\x02\x03\x04\x05", 5);
  LogMultiline(talk_base::LS_INFO, "[l]", true, binary.data(), binary.size(),
               false, &state);
  EXPECT_EQ(4u, state.unprintable_count_[1]);
  EXPECT_TRUE(Logged().empty());
}

TEST_F(LogMultilineTest, HexMode) {
  std::vector<char> data;
  for (int i = 0; i < 25; ++i) data.push_back(static_cast<char>('A' + i));
  data[5] = '\x01';
  data[6] = '\xff';
  LogMultiline(talk_base::LS_INFO, "[h]", false, data.data(), data.size(),
               true, nullptr);
  const std::string row1_text = "ABCDE..HIJKLMNOPQRSTUVWX";
  const std::string row1_hex =
      "41424344 4501ff48 494a4b4c 4d4e4f50 51525354 55565758  ";
  ASSERT_EQ(55u, row1_hex.size());
  const std::string row2_text = "Y" + std::string(23, ' ');
  const std::string row2_hex = "59" + std::string(53, ' ');
  EXPECT_EQ((std::vector<std::string>{
                "[h] >> " + row1_text + " " + row1_hex + " ",
                "[h] >> " + row2_text + " " + row2_hex + " "}),
            Logged());

  LogMultiline(talk_base::LS_INFO, "[h]", true, data.data(), 0, true,
               nullptr);
  EXPECT_TRUE(Logged().empty());
}
