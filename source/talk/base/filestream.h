// A stdio file as a base-library stream.
//
// FileStream wraps a FILE*: closed after construction, open after a
// successful Open, closed again by Close or a failed Open. Operations on a
// closed stream give SR_EOS (Read, Write) or false. The file is opened
// close-on-exec, so commands started later do not inherit it.
//
// Encrypted mode (SetEncrypt(true)): every Write is cut into chunks of 110
// bytes (the last chunk of a write holds the rest, 0 bytes for an empty
// write) and each chunk goes to the file as one 128-byte RSA PKCS#1 v1.5
// block under the built-in 1024-bit public key (filestreamkey.h). The file
// is a plain run of blocks; a reader decrypts block by block and joins the
// plaintexts. Write then reports the bytes that went into the file, which
// exceeds the bytes given. A block that cannot be made or written fails the
// write with SR_ERROR and nothing further is written.
//
// Threads: one thread at a time; nothing here locks.
#ifndef TALK_BASE_FILESTREAM_H_
#define TALK_BASE_FILESTREAM_H_

#include <openssl/ossl_typ.h>

#include <cstdio>
#include <string>

#include "talk/base/stream.h"

namespace talk_base {

class FileStream : public StreamInterface {
 public:
  // Size of one encrypted block and of the plaintext chunk it carries.
  static constexpr size_t kEncryptedBlockSize = 128;
  static constexpr size_t kEncryptedChunkSize = 110;

  FileStream();
  ~FileStream() override;

  StreamState GetState() const override;
  StreamResult Read(void* buffer, size_t buffer_len, size_t* read,
                    int* error) override;
  StreamResult Write(const void* data, size_t data_len, size_t* written,
                     int* error) override;
  void Close() override;
  bool SetPosition(size_t position) override;
  bool GetPosition(size_t* position) const override;
  bool GetSize(size_t* size) const override;
  bool GetAvailable(size_t* size) const override;
  bool ReserveSize(size_t size) override;

  // Closes any open file, then opens |filename| with the stdio |mode|. On
  // failure |error| gets errno.
  virtual bool Open(const std::string& filename, const char* mode,
                    int* error);
  // Closes any open file, then creates |filename| with |permissions| and
  // opens it for writing, as mode "wb" would. Fails (EEXIST, ELOOP) when the
  // name is taken, by a symbolic link too: nothing existing is followed or
  // truncated. On failure |error| gets errno.
  bool OpenNew(const std::string& filename, int permissions, int* error);
  // As Open; the share flags are ignored.
  virtual bool OpenShare(const std::string& filename, const char* mode,
                         int shflag, int* error);
  // Turns stdio buffering off, so that each write reaches the file.
  virtual bool DisableBuffering();

  void SetEncrypt(bool encrypt) { encrypt_ = encrypt; }

  // Exclusive non-blocking flock on the open file.
  bool TryLock();
  bool Unlock();
  bool Flush();

  static bool GetSizeOfPath(const std::string& filename, size_t* size);

 protected:
  virtual void DoClose();

  // |mode| with "e" (close-on-exec) added: the package manager and the
  // shell commands started later must not inherit our files and pipes.
  static std::string CloseOnExecMode(const char* mode);

  FILE* file_;

 private:
  // Writes |data| as encrypted blocks; |written| gets the bytes put into the
  // file, also when a later block fails.
  StreamResult WriteEncrypted(const void* data, size_t data_len,
                              size_t* written, int* error);
  bool LoadKey();

  RSA* key_;
  bool key_loaded_;
  bool encrypt_;
};

}  // namespace talk_base

#endif  // TALK_BASE_FILESTREAM_H_
