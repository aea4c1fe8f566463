#include "talk/base/logging.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <list>
#include <mutex>
#include <vector>

#include "talk/base/filestream.h"
#include "talk/base/stream.h"
#include "talk/base/stringencode.h"
#include "talk/base/timeutils.h"

namespace talk_base {

namespace {

struct LogStreamEntry {
  StreamInterface* stream;
  int level;
};

// The stream list and its mutex. Made once and never destroyed: update
// workers are not joined and may log while the process exits.
struct LoggingState {
  std::recursive_mutex mutex;
  std::list<LogStreamEntry> streams;
};

LoggingState& State() {
  static LoggingState* const state = new LoggingState;
  return *state;
}

typedef std::lock_guard<std::recursive_mutex> LogLock;

std::atomic<int> g_debug_level(LS_NONE);
std::atomic<int> g_context_severity(LS_WARNING);
std::atomic<bool> g_timestamps(true);
std::atomic<bool> g_thread_ids(false);
std::atomic<bool> g_configured(false);
std::atomic<uint32_t> g_start_time(0);

time_t SystemWallClock() { return time(nullptr); }
std::atomic<LogMessage::WallClock> g_wall_clock(&SystemWallClock);

const char* const kSeverityNames[] = {"SENSITIVE", "VERBOSE", "INFO",
                                      "WARNING", "ERROR"};

const ConstantLabel kSeverityWords[] = {
    {LS_SENSITIVE, "LS_SENSITIVE"}, {LS_VERBOSE, "LS_VERBOSE"},
    {LS_INFO, "LS_INFO"},           {LS_WARNING, "LS_WARNING"},
    {LS_ERROR, "LS_ERROR"},         {0, nullptr},
};

// The words of a ConfigureLogging option text.
enum OptionKind { kLevel, kTimestamps, kThreadIds, kFile, kDebug, kEncrypt };
struct OptionWord {
  const char* word;
  OptionKind kind;
  int level;
};
const OptionWord kOptionWords[] = {
    {"tstamp", kTimestamps, 0},      {"thread", kThreadIds, 0},
    {"sensitive", kLevel, LS_SENSITIVE}, {"verbose", kLevel, LS_VERBOSE},
    {"info", kLevel, LS_INFO},       {"warning", kLevel, LS_WARNING},
    {"error", kLevel, LS_ERROR},     {"none", kLevel, LS_NONE},
    {"file", kFile, 0},              {"debug", kDebug, 0},
    {"encrypt", kEncrypt, 0},
};

// Made at library load, so that the stream list exists before any thread can
// log and the start time is that of the load.
struct LoggingInitializer {
  LoggingInitializer() {
    State();
    g_start_time = StartTime();
  }
} g_logging_initializer;

}  // namespace

std::atomic<int> LogMessage::min_severity(LS_NONE);

const char* FindLabel(int value, const ConstantLabel entries[]) {
  if (!entries) return nullptr;
  for (int i = 0; entries[i].label; ++i) {
    if (entries[i].value == value) return entries[i].label;
  }
  return nullptr;
}

std::string ErrorName(int error, const ConstantLabel entries[]) {
  if (error == 0) return "No error";
  if (const char* label = FindLabel(error, entries)) return label;
  char buffer[16];
  snprintf(buffer, sizeof(buffer), "0x%08x", static_cast<unsigned>(error));
  return buffer;
}

const char* FilenameFromPath(const char* path) {
  if (!path) return "";
  const char* last = nullptr;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') last = p;
  }
  return last ? last + 1 : path;
}

int ParseLogSeverity(const std::string& value) {
  for (int i = 0; kSeverityWords[i].label; ++i) {
    if (value == kSeverityWords[i].label) return kSeverityWords[i].value;
  }
  if (!value.empty() && isdigit(static_cast<unsigned char>(value[0]))) {
    const long number = strtol(value.c_str(), nullptr, 10);
    return static_cast<int>(std::min<long>(number, INT_MAX));
  }
  return LS_NONE;
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity,
                       LogErrorContext err_ctx, int err)
    : severity_(severity) {
  if (g_timestamps.load(std::memory_order_relaxed)) {
    const time_t now = g_wall_clock.load()();
    char text[64];
    const char* when = ctime_r(&now, text);
    std::string stamp(when ? when : "");
    if (!stamp.empty() && stamp.back() == '\n') stamp.pop_back();
    char millis[16];
    snprintf(millis, sizeof(millis), "%03u",
             static_cast<unsigned>(Time() % 1000));
    print_stream_ << "[" << stamp << ":" << millis << "] ";
  }
  if (g_thread_ids.load(std::memory_order_relaxed)) {
    char tid[32];
    snprintf(tid, sizeof(tid), "%lx",
             static_cast<unsigned long>(syscall(SYS_gettid)));
    print_stream_ << "[" << tid << "] ";
  }
  print_stream_ << SeverityName(severity) << "(" << FilenameFromPath(file)
                << ":" << line << "): ";

  if (err_ctx != ERRCTX_NONE) {
    char number[16];
    snprintf(number, sizeof(number), "[0x%08x]", static_cast<unsigned>(err));
    extra_ = number;
    if (err_ctx == ERRCTX_ERRNO) {
      char text[256];
      const char* message = strerror_r(err, text, sizeof(text));
      extra_ += " ";
      if (message) extra_ += message;
    }
  }
}

LogMessage::~LogMessage() {
  if (!extra_.empty()) print_stream_ << " : " << extra_;
  print_stream_ << "\n";
  const std::string text = print_stream_.str();

  if (severity_ >= g_debug_level.load(std::memory_order_relaxed)) {
    OutputToDebug(text);
  }

  LoggingState& state = State();
  LogLock lock(state.mutex);
  for (const LogStreamEntry& entry : state.streams) {
    if (severity_ >= entry.level) OutputToStream(entry.stream, text);
  }
}

namespace {

// What an option text asks for; levels start from the current settings.
struct LoggingOptions {
  int debug;
  int file;
  bool encrypt;
};

LoggingOptions ParseLoggingOptions(const char* options) {
  LoggingOptions result{g_debug_level.load(),
                        LogMessage::GetStreamSeverity(nullptr), false};
  int current = LS_VERBOSE;
  std::vector<std::string> tokens;
  Tokenize(options ? options : "", ' ', &tokens);
  for (const std::string& token : tokens) {
    for (const OptionWord& option : kOptionWords) {
      if (token != option.word) continue;
      switch (option.kind) {
        case kLevel: current = option.level; break;
        case kTimestamps: g_timestamps = true; break;
        case kThreadIds: g_thread_ids = true; break;
        case kFile: result.file = current; break;
        case kDebug: result.debug = current; break;
        case kEncrypt: result.encrypt = true; break;
      }
      break;
    }
  }
  return result;
}

}  // namespace

void LogMessage::ConfigureLogging(const char* options, const char* filename) {
  const LoggingOptions parsed = ParseLoggingOptions(options);
  FileStream* stream = nullptr;
  // A missing or empty name is a file that cannot be opened.
  if (parsed.file != LS_NONE && filename && *filename) {
    stream = new FileStream;
    if (!stream->Open(filename, "wb", nullptr) ||
        !stream->DisableBuffering()) {
      delete stream;
      stream = nullptr;
    }
  }
  if (stream) stream->SetEncrypt(parsed.encrypt);

  SetDebugSeverity(parsed.debug);
  SetLogStream(stream, parsed.file);
}

void LogMessage::ConfigureLoggingToStream(const char* options,
                                          StreamInterface* stream) {
  const LoggingOptions parsed = ParseLoggingOptions(options);
  if (parsed.file == LS_NONE) {
    delete stream;
    stream = nullptr;
  }
  SetDebugSeverity(parsed.debug);
  SetLogStream(stream, parsed.file);
}

void LogMessage::SetDebugSeverity(int level) {
  g_debug_level = level;
  UpdateMinSeverity();
}

void LogMessage::SetLogThreadIds(bool on) { g_thread_ids = on; }
void LogMessage::SetLogTimestamps(bool on) { g_timestamps = on; }
void LogMessage::SetContextSeverity(int level) { g_context_severity = level; }
bool LogMessage::IsConfigured() { return g_configured.load(); }
void LogMessage::SetConfigured(bool configured) { g_configured = configured; }
void LogMessage::ResetStartTime() { g_start_time = Time(); }

void LogMessage::AddLogStream(StreamInterface* stream, int level) {
  LoggingState& state = State();
  LogLock lock(state.mutex);
  state.streams.push_back(LogStreamEntry{stream, level});
  UpdateMinSeverity();
}

void LogMessage::RemoveLogStream(StreamInterface* stream) {
  LoggingState& state = State();
  LogLock lock(state.mutex);
  for (auto it = state.streams.begin(); it != state.streams.end(); ++it) {
    if (it->stream == stream) {
      state.streams.erase(it);
      break;
    }
  }
  UpdateMinSeverity();
}

void LogMessage::SetLogStream(StreamInterface* stream, int level) {
  std::list<LogStreamEntry> old;
  {
    LoggingState& state = State();
    LogLock lock(state.mutex);
    old.swap(state.streams);
    if (stream) {
      AddLogStream(stream, level);
    } else {
      // Otherwise the old streams' levels would keep statements evaluated.
      UpdateMinSeverity();
    }
  }
  // Deleted outside the logging mutex: a stream's destructor takes the
  // message queue locks, under which queues may log.
  for (const LogStreamEntry& entry : old) delete entry.stream;
}

int LogMessage::GetStreamSeverity(StreamInterface* stream) {
  LoggingState& state = State();
  LogLock lock(state.mutex);
  int lowest = LS_NONE;
  for (const LogStreamEntry& entry : state.streams) {
    if (!stream || entry.stream == stream) {
      lowest = std::min(lowest, entry.level);
    }
  }
  return lowest;
}

void LogMessage::UpdateMinSeverity() {
  LoggingState& state = State();
  LogLock lock(state.mutex);
  int lowest = g_debug_level.load();
  for (const LogStreamEntry& entry : state.streams) {
    lowest = std::min(lowest, entry.level);
  }
  min_severity = lowest;
}

const char* LogMessage::SeverityName(int severity) {
  if (severity < LS_SENSITIVE || severity > LS_ERROR) return "<unknown>";
  return kSeverityNames[severity];
}

void LogMessage::OutputToDebug(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stderr);
  fflush(stderr);
}

void LogMessage::OutputToStream(StreamInterface* stream,
                                const std::string& text) {
  stream->WriteAll(text.data(), text.size(), nullptr, nullptr);
}

void LogMessage::SetWallClockForTesting(WallClock wall) {
  g_wall_clock = wall ? wall : &SystemWallClock;
}

namespace {

// Whether every byte passes |test|; the classification functions need
// unsigned char values.
bool AllBytes(const char* begin, const char* end, int (*test)(int)) {
  for (const char* p = begin; p != end; ++p) {
    if (!test(static_cast<unsigned char>(*p))) return false;
  }
  return true;
}

int IsPrintableOrSpace(int c) { return isprint(c) || isspace(c); }

bool Contains(const char* begin, const char* end, const char* word) {
  return std::search(begin, end, word, word + strlen(word)) != end;
}

void LogPendingUnprintable(LogSeverity level, const std::string& prefix,
                           size_t count) {
  LOG_V(level) << prefix << "## " << count << " consecutive unprintable ##";
}

// Bytes per row of a hex dump, and the widths of its two columns.
const size_t kHexRowBytes = 24;
const size_t kHexTextWidth = 24;
const size_t kHexDigitsWidth = 55;

}  // namespace

void LogMultiline(LogSeverity level, const char* label, bool input,
                  const void* data, size_t len, bool hex_mode,
                  LogMultilineState* state) {
  if (!LogMessage::Loggable(level)) return;
  const std::string prefix =
      std::string(label ? label : "") + (input ? " << " : " >> ");
  const int direction = input ? 1 : 0;

  if (!data) {
    if (state && state->unprintable_count_[direction] != 0) {
      LogPendingUnprintable(level, prefix,
                            state->unprintable_count_[direction]);
      state->unprintable_count_[direction] = 0;
    }
    return;
  }

  const char* bytes = static_cast<const char*>(data);
  const char* const end = bytes + len;

  if (hex_mode) {
    for (const char* row = bytes; row < end; row += kHexRowBytes) {
      const size_t count =
          std::min(kHexRowBytes, static_cast<size_t>(end - row));
      std::string text(kHexTextWidth, ' ');
      std::string hex(kHexDigitsWidth, ' ');
      for (size_t i = 0; i < count; ++i) {
        const unsigned char byte = static_cast<unsigned char>(row[i]);
        text[i] = isprint(byte) ? static_cast<char>(byte) : '.';
        const size_t at = 2 * i + i / 4;
        hex[at] = HexEncodeDigit(byte >> 4);
        hex[at + 1] = HexEncodeDigit(byte & 0xf);
      }
      LOG_V(level) << prefix << text << " " << hex << " ";
    }
    return;
  }

  size_t pending = state ? state->unprintable_count_[direction] : 0;
  for (const char* line = bytes; line < end;) {
    const char* newline =
        static_cast<const char*>(memchr(line, '\n', end - line));
    const char* line_end = newline ? newline : end;
    const size_t with_newline = (line_end - line) + (newline ? 1 : 0);
    const char* next = newline ? newline + 1 : end;

    if (pending > 0 && line_end - line <= 3) {
      pending += with_newline;
    } else if (AllBytes(line, line_end, IsPrintableOrSpace) &&
               (pending == 0 || !AllBytes(line, line_end, isspace))) {
      if (pending > 0) LogPendingUnprintable(level, prefix, pending);
      const char* trimmed = line_end;
      while (trimmed > line && isspace(static_cast<unsigned char>(trimmed[-1])))
        --trimmed;
      if (Contains(line, trimmed, "Email") ||
          Contains(line, trimmed, "Passwd")) {
        LOG_V(level) << prefix << "## omitted for privacy ##";
      } else {
        LOG_V(level) << prefix << std::string(line, trimmed);
      }
      pending = 0;
    } else {
      pending += with_newline;
    }
    line = next;
  }
  if (state) state->unprintable_count_[direction] = pending;
}

}  // namespace talk_base
