#include "talk/base/popenstream.h"

#include <errno.h>
#include <stdio.h>

namespace talk_base {

POpenStream::~POpenStream() {
  // The base destructor would fclose the pipe; pclose it here instead.
  Close();
}

bool POpenStream::Open(const std::string& command, const char* mode,
                       int* error) {
  Close();
  file_ = popen(command.c_str(), CloseOnExecMode(mode).c_str());
  if (!file_ && error) *error = errno;
  return file_ != nullptr;
}

bool POpenStream::OpenShare(const std::string& command, const char* mode,
                            int, int* error) {
  return Open(command, mode, error);
}

void POpenStream::DoClose() { wait_status_ = pclose(file_); }

}  // namespace talk_base
