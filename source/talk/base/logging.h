// The base library's diagnostic log.
//
// A LogMessage assembles one line for a source file, line and severity and,
// when destroyed, writes it to standard error (when its severity reaches the
// debug level) and to every registered log stream whose level it reaches.
// Process-wide settings decide where lines go; ConfigureLogging sets them all
// from one option text such as "info file none debug thread".
//
// Line format: "[<ctime text>:<ms mod 1000, 3 digits>] " when timestamps are
// on, "[<kernel thread id, hex>] " when thread ids are on, then
// "<SEVERITY>(<file name>:<line>): <message>", " : <error suffix>" when an
// error context was given, and a newline.
//
// Threads: any thread may log. The stream list and every write to a log
// stream are guarded by one process-wide recursive mutex, so lines reach a
// stream whole. The minimum severity, debug level and flags are atomics,
// meant to be set during start-up. The logging state is made at library load
// and never destroyed, so threads that outlive static destruction can still
// log.
#ifndef TALK_BASE_LOGGING_H_
#define TALK_BASE_LOGGING_H_

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sstream>
#include <string>

namespace talk_base {

class StreamInterface;

// A line reaches a sink when its severity is at least the sink's level;
// LS_NONE as a level receives nothing.
enum LogSeverity {
  LS_SENSITIVE = 0,
  LS_VERBOSE = 1,
  LS_INFO = 2,
  LS_WARNING = 3,
  LS_ERROR = 4,
  LS_NONE = 5,
};

// What the error suffix of a line shows. Any other non-zero value shows the
// bracketed number only, so the type holds every int.
enum LogErrorContext : int {
  ERRCTX_NONE = 0,
  ERRCTX_ERRNO = 1,
};

// One entry of a table of labels for numeric codes; a table ends with an
// entry whose label is null.
struct ConstantLabel {
  int value;
  const char* label;
};

// The label of the first entry with |value|, or null.
const char* FindLabel(int value, const ConstantLabel entries[]);
// "No error" for 0, the label from |entries| (may be null), else "0x%08x".
std::string ErrorName(int error, const ConstantLabel entries[]);
// The text after the last '/' or '\', or the whole text.
const char* FilenameFromPath(const char* path);
// "LS_INFO" etc. by whole name, a leading decimal number, else LS_NONE.
int ParseLogSeverity(const std::string& value);

class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity,
             LogErrorContext err_ctx = ERRCTX_NONE, int err = 0);
  ~LogMessage();

  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  std::ostream& Stream() { return print_stream_; }

  // True when a line of |severity| would reach some sink.
  static bool Loggable(int severity) {
    return severity >= min_severity.load(std::memory_order_relaxed);
  }

  // Applies the option words (see logging.cc) and opens |filename| as the
  // only log stream when a file level is given.
  static void ConfigureLogging(const char* options, const char* filename);
  // The same with a stream the caller opened (owned from then on) in place
  // of |filename|; null stands for a file that could not be opened. The
  // "encrypt" word is the stream's business then.
  static void ConfigureLoggingToStream(const char* options,
                                       StreamInterface* stream);

  static void SetDebugSeverity(int level);
  static void SetLogThreadIds(bool on);
  static void SetLogTimestamps(bool on);
  static void SetContextSeverity(int level);
  static bool IsConfigured();
  static void SetConfigured(bool configured);
  static void ResetStartTime();

  // The list owns |stream| from here on.
  static void AddLogStream(StreamInterface* stream, int level);
  // Removes the first entry of |stream|; the caller owns it again.
  static void RemoveLogStream(StreamInterface* stream);
  // Deletes every registered stream, then registers |stream| if given.
  static void SetLogStream(StreamInterface* stream, int level);
  // The lowest level among the entries of |stream| (of all entries when
  // null); LS_NONE when there is none.
  static int GetStreamSeverity(StreamInterface* stream);
  static void UpdateMinSeverity();

  static const char* SeverityName(int severity);

  static void OutputToDebug(const std::string& text);
  static void OutputToStream(StreamInterface* stream, const std::string& text);

  // Test seam: the wall clock of the time prefix (time() by default; null
  // restores it). The milliseconds come from Time() and its own seam.
  typedef time_t (*WallClock)();
  static void SetWallClockForTesting(WallClock wall);

  // Lowest level of any sink; a statement below it is not evaluated.
  static std::atomic<int> min_severity;

 private:
  std::ostringstream print_stream_;
  LogSeverity severity_;
  std::string extra_;
};

// Two counters of pending unprintable bytes carried between calls of
// LogMultiline: index 0 for output, 1 for input.
struct LogMultilineState {
  size_t unprintable_count_[2];
  LogMultilineState() { unprintable_count_[0] = unprintable_count_[1] = 0; }
};

// Logs a buffer of traffic line by line (text mode) or as a hex dump. Null
// |data| flushes the pending unprintable count of that direction.
void LogMultiline(LogSeverity level, const char* label, bool input,
                  const void* data, size_t len, bool hex_mode,
                  LogMultilineState* state);

// Turns the stream expression of a log statement into void, so that it can
// stand in the false branch of the severity test.
class LogMessageVoidify {
 public:
  void operator&(std::ostream&) {}
};

}  // namespace talk_base

// A log statement whose message is evaluated only when |sev| is loggable.
#define LOG_SEVERITY_PRECONDITION(sev)                  \
  !(talk_base::LogMessage::Loggable(sev))               \
      ? (void)0                                         \
      : talk_base::LogMessageVoidify() &

// LOG(LS_INFO) << "text";
#define LOG(sev)                                                   \
  LOG_SEVERITY_PRECONDITION(talk_base::sev)                        \
  talk_base::LogMessage(__FILE__, __LINE__, talk_base::sev).Stream()

// The same with a severity held in a variable.
#define LOG_V(sev)                                        \
  LOG_SEVERITY_PRECONDITION(sev)                          \
  talk_base::LogMessage(__FILE__, __LINE__, sev).Stream()

// LOG_E(LS_ERROR, ERRNO, err) << "text"; appends the error suffix.
#define LOG_E(sev, ctx, err)                                            \
  LOG_SEVERITY_PRECONDITION(talk_base::sev)                             \
  talk_base::LogMessage(__FILE__, __LINE__, talk_base::sev,             \
                        talk_base::ERRCTX_##ctx, err).Stream()

// LOG_ERRNO(LS_WARNING) << "text"; appends errno and its text.
#define LOG_ERRNO(sev) LOG_E(sev, ERRNO, errno)

#endif  // TALK_BASE_LOGGING_H_
