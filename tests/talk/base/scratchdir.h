// Test helpers for files: a fresh directory under the system's temporary
// directory (or another), removed with everything in it when the object
// goes, and a whole-file reader.
#ifndef TESTS_TALK_BASE_SCRATCHDIR_H_
#define TESTS_TALK_BASE_SCRATCHDIR_H_

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

// A temporary directory in memory where the machine has one (/dev/shm),
// else the usual one: for tests that make and remove tens of thousands of
// entries, which on a disk may cost a device round trip each.
inline std::filesystem::path MemoryTempDirectory() {
  const std::filesystem::path memory = "/dev/shm";
  std::error_code error;
  if (std::filesystem::is_directory(memory, error) &&
      access(memory.c_str(), W_OK | X_OK) == 0)
    return memory;
  return std::filesystem::temp_directory_path();
}

class ScratchDir {
 public:
  explicit ScratchDir(const std::filesystem::path& under =
                          std::filesystem::temp_directory_path()) {
    std::string pattern = (under / "talk_base_test.XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

// The whole content of |path|; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

#endif  // TESTS_TALK_BASE_SCRATCHDIR_H_
