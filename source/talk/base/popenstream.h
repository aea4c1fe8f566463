// A shell command's pipe as a base-library stream.
//
// POpenStream runs a command through popen and reads its output or writes
// its input through the file stream's operations. Closing the pipe waits for
// the command and keeps the status pclose returned, which GetWaitStatus
// answers until the next command is closed.
//
// Threads: one thread at a time; nothing here locks.
#ifndef TALK_BASE_POPENSTREAM_H_
#define TALK_BASE_POPENSTREAM_H_

#include <string>

#include "talk/base/filestream.h"

namespace talk_base {

class POpenStream : public FileStream {
 public:
  POpenStream() : wait_status_(-1) {}
  ~POpenStream() override;

  // Closes any open pipe, then runs |command| with the popen |mode|. On
  // failure |error| gets errno.
  bool Open(const std::string& command, const char* mode,
            int* error) override;
  // As Open; the share flags are ignored.
  bool OpenShare(const std::string& command, const char* mode, int shflag,
                 int* error) override;

  // The status pclose returned for the last closed command (-1 before).
  int GetWaitStatus() const { return wait_status_; }

 protected:
  void DoClose() override;

 private:
  int wait_status_;
};

}  // namespace talk_base

#endif  // TALK_BASE_POPENSTREAM_H_
