// Log capture for tests. A CaptureStream keeps what a log stream is given in
// a CaptureSink. A LogCapture collects what the base library logs while it
// exists: every severity goes to it, nothing more to standard error. Lines
// come back without their time and thread prefixes and without the line
// number, as "WARNING(thread.cc): text", so tests compare them whole. Any
// thread may log meanwhile.
#ifndef TESTS_TALK_BASE_LOGCAPTURE_H_
#define TESTS_TALK_BASE_LOGCAPTURE_H_

#include <stdio.h>
#include <string.h>

#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "talk/base/logging.h"
#include "talk/base/stream.h"

// What a line logged with the errno context |err| ends with.
inline std::string ErrnoSuffix(int err) {
  char number[16];
  snprintf(number, sizeof(number), "[0x%08x] ", static_cast<unsigned>(err));
  return std::string(" : ") + number + strerror(err);
}

// Where a CaptureStream puts what it is given; outlives the stream, which
// the log list may own and delete.
struct CaptureSink {
  std::mutex mutex;  // lines may come from several threads
  std::string text;
  bool deleted = false;
};

// A log stream that keeps every byte written to it in its sink.
class CaptureStream : public talk_base::StreamInterface {
 public:
  explicit CaptureStream(CaptureSink* sink) : sink_(sink) {}
  ~CaptureStream() override { sink_->deleted = true; }

  talk_base::StreamState GetState() const override {
    return talk_base::SS_OPEN;
  }
  talk_base::StreamResult Read(void*, size_t, size_t*, int*) override {
    return talk_base::SR_EOS;
  }
  talk_base::StreamResult Write(const void* data, size_t len,
                                size_t* written, int*) override {
    std::lock_guard<std::mutex> lock(sink_->mutex);
    sink_->text.append(static_cast<const char*>(data), len);
    if (written) *written = len;
    return talk_base::SR_SUCCESS;
  }
  void Close() override {}

 private:
  CaptureSink* sink_;
};

class LogCapture {
 public:
  LogCapture() : stream_(new CaptureStream(&sink_)) {
    talk_base::LogMessage::AddLogStream(stream_, talk_base::LS_SENSITIVE);
  }
  ~LogCapture() {
    talk_base::LogMessage::RemoveLogStream(stream_);
    delete stream_;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The lines logged from source file |file| (such as "thread.cc").
  std::vector<std::string> Lines(const std::string& file) {
    static const std::regex kLine(
        R"(^(?:\[[^\]]*\] )*([^(]*)\(([^:()]*):[0-9]+\): (.*)$)");
    std::string text;
    {
      std::lock_guard<std::mutex> lock(sink_.mutex);
      text = sink_.text;
    }
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
      if (std::regex_match(line, m, kLine) && m[2] == file) {
        lines.push_back(m[1].str() + "(" + file + "): " + m[3].str());
      }
    }
    return lines;
  }

 private:
  CaptureSink sink_;
  CaptureStream* stream_;
};

#endif  // TESTS_TALK_BASE_LOGCAPTURE_H_
