#include "talk/base/filestream.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "talk/base/filestreamkey.h"

// The encrypted block format is defined by the low-level RSA calls, which
// OpenSSL 3 deprecates; this file keeps them.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace talk_base {

FileStream::FileStream()
    : file_(nullptr), key_(nullptr), key_loaded_(false), encrypt_(false) {}

FileStream::~FileStream() {
  // A subclass has closed its own handle already; this closes a plain file.
  FileStream::Close();
  RSA_free(key_);
}

std::string FileStream::CloseOnExecMode(const char* mode) {
  std::string result(mode ? mode : "");
  if (result.find('e') == std::string::npos) result += 'e';
  return result;
}

bool FileStream::Open(const std::string& filename, const char* mode,
                      int* error) {
  Close();
  file_ = fopen64(filename.c_str(), CloseOnExecMode(mode).c_str());
  if (!file_ && error) *error = errno;
  return file_ != nullptr;
}

bool FileStream::OpenNew(const std::string& filename, int permissions,
                         int* error) {
  Close();
  const int fd =
      open(filename.c_str(),
           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_LARGEFILE,
           permissions);
  if (fd >= 0) {
    file_ = fdopen(fd, "wb");
    if (!file_) {
      const int saved = errno;
      close(fd);
      errno = saved;
    }
  }
  if (!file_ && error) *error = errno;
  return file_ != nullptr;
}

bool FileStream::OpenShare(const std::string& filename, const char* mode,
                           int, int* error) {
  return Open(filename, mode, error);
}

bool FileStream::DisableBuffering() {
  if (!file_) return false;
  return setvbuf(file_, nullptr, _IONBF, 0) == 0;
}

StreamState FileStream::GetState() const {
  return file_ ? SS_OPEN : SS_CLOSED;
}

StreamResult FileStream::Read(void* buffer, size_t buffer_len, size_t* read,
                              int* error) {
  if (!file_) return SR_EOS;
  const size_t count = fread(buffer, 1, buffer_len, file_);
  if (count > 0 || buffer_len == 0) {
    if (read) *read = count;
    return SR_SUCCESS;
  }
  if (feof(file_)) return SR_EOS;
  if (error) *error = errno;
  return SR_ERROR;
}

StreamResult FileStream::Write(const void* data, size_t data_len,
                               size_t* written, int* error) {
  if (!file_) return SR_EOS;
  if (encrypt_) return WriteEncrypted(data, data_len, written, error);
  const size_t count = data_len ? fwrite(data, 1, data_len, file_) : 0;
  if (count == 0 && data_len > 0) {
    if (error) *error = errno;
    return SR_ERROR;
  }
  if (written) *written = count;
  return SR_SUCCESS;
}

void FileStream::Close() {
  if (file_) {
    DoClose();
    file_ = nullptr;
  }
}

void FileStream::DoClose() { fclose(file_); }

bool FileStream::SetPosition(size_t position) {
  if (!file_) return false;
  return fseeko64(file_, static_cast<off64_t>(position), SEEK_SET) == 0;
}

bool FileStream::GetPosition(size_t* position) const {
  if (!file_) return false;
  const off64_t result = ftello64(file_);
  if (result < 0) return false;
  if (position) *position = static_cast<size_t>(result);
  return true;
}

bool FileStream::GetSize(size_t* size) const {
  if (!file_) return false;
  struct stat64 file_stats;
  if (fstat64(fileno(file_), &file_stats) != 0) return false;
  if (size) *size = static_cast<size_t>(file_stats.st_size);
  return true;
}

bool FileStream::GetAvailable(size_t* size) const {
  size_t file_size = 0, position = 0;
  if (!GetSize(&file_size) || !GetPosition(&position)) return false;
  // Past the end (after a seek) nothing is available, not a huge count.
  if (size) *size = file_size > position ? file_size - position : 0;
  return true;
}

bool FileStream::ReserveSize(size_t) { return true; }

bool FileStream::TryLock() {
  return file_ && flock(fileno(file_), LOCK_EX | LOCK_NB) == 0;
}

bool FileStream::Unlock() {
  return file_ && flock(fileno(file_), LOCK_UN) == 0;
}

bool FileStream::Flush() { return file_ && fflush(file_) == 0; }

bool FileStream::GetSizeOfPath(const std::string& filename, size_t* size) {
  struct stat64 file_stats;
  if (stat64(filename.c_str(), &file_stats) != 0) return false;
  if (size) *size = static_cast<size_t>(file_stats.st_size);
  return true;
}

bool FileStream::LoadKey() {
  if (key_loaded_ && key_) return true;
  const char* pem = GetFileStreamPublicKey();
  BIO* bio = BIO_new_mem_buf(pem, -1);
  if (!bio) return false;
  RSA_free(key_);
  key_ = PEM_read_bio_RSA_PUBKEY(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  // Each block goes through a buffer of exactly one block; any other key
  // size would not fit the format.
  if (key_ && RSA_size(key_) != static_cast<int>(kEncryptedBlockSize)) {
    RSA_free(key_);
    key_ = nullptr;
  }
  key_loaded_ = true;
  // Leave no stale entries in this thread's OpenSSL error queue.
  if (!key_) ERR_clear_error();
  return key_ != nullptr;
}

StreamResult FileStream::WriteEncrypted(const void* data, size_t data_len,
                                        size_t* written, int* error) {
  size_t total = 0;
  int err = LoadKey() ? 0 : EINVAL;
  // An empty write still makes one block, of an empty chunk.
  static const unsigned char kNoData = 0;
  const unsigned char* bytes =
      data_len ? static_cast<const unsigned char*>(data) : &kNoData;
  for (size_t offset = 0; !err;) {
    const size_t chunk = std::min(kEncryptedChunkSize, data_len - offset);
    unsigned char block[kEncryptedBlockSize] = {0};
    if (RSA_public_encrypt(static_cast<int>(chunk), bytes + offset, block,
                           key_, RSA_PKCS1_PADDING) !=
        static_cast<int>(sizeof(block))) {
      ERR_clear_error();
      err = EIO;
      break;
    }
    errno = 0;
    const size_t count = fwrite(block, 1, sizeof(block), file_);
    total += count;
    if (count != sizeof(block)) {
      err = errno ? errno : EIO;
      break;
    }
    offset += chunk;
    if (offset >= data_len) break;
  }
  if (written) *written = total;
  if (!err) return SR_SUCCESS;
  if (error) *error = err;
  return SR_ERROR;
}

}  // namespace talk_base
