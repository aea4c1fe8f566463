// The file stream over real files in a scratch directory, with the
// library's own built-in key (whose private half the tests do not have; the
// decrypting tests are in filestream_encrypted_unittest.cc).
#include "talk/base/filestream.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "scratchdir.h"
#include "talk/base/filestreamkey.h"

using talk_base::FileStream;

namespace {

// Shows the FILE* the stream holds.
class InspectableFileStream : public FileStream {
 public:
  FILE* file() const { return file_; }
};

class FileStreamTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) { return dir_.File(name); }

  // Writes |content| to |name| through a stream and closes it.
  void MakeFile(const char* name, const std::string& content) {
    FileStream stream;
    ASSERT_TRUE(stream.Open(Path(name), "wb", nullptr));
    ASSERT_EQ(talk_base::SR_SUCCESS,
              stream.WriteAll(content.data(), content.size(), nullptr,
                              nullptr));
  }

  size_t SizeOf(const char* name) {
    size_t size = 0;
    EXPECT_TRUE(FileStream::GetSizeOfPath(Path(name), &size));
    return size;
  }

  ScratchDir dir_;
};

TEST_F(FileStreamTest, ClosedStreamRefusesEverything) {
  FileStream stream;
  char buffer[4];
  size_t count = 99;
  int error = 99;
  EXPECT_EQ(talk_base::SS_CLOSED, stream.GetState());
  EXPECT_EQ(talk_base::SR_EOS, stream.Read(buffer, 4, &count, &error));
  EXPECT_EQ(talk_base::SR_EOS, stream.Write("ab", 2, &count, &error));
  EXPECT_EQ(99u, count);
  EXPECT_EQ(99, error);
  size_t value = 0;
  EXPECT_FALSE(stream.SetPosition(0));
  EXPECT_FALSE(stream.GetPosition(&value));
  EXPECT_FALSE(stream.GetSize(&value));
  EXPECT_FALSE(stream.GetAvailable(&value));
  EXPECT_FALSE(stream.GetWriteRemaining(&value));
  EXPECT_FALSE(stream.DisableBuffering());
  EXPECT_FALSE(stream.TryLock());
  EXPECT_FALSE(stream.Unlock());
  EXPECT_FALSE(stream.Flush());
  EXPECT_TRUE(stream.ReserveSize(100));
  stream.Close();  // harmless when closed
  EXPECT_EQ(talk_base::SS_CLOSED, stream.GetState());
}

TEST_F(FileStreamTest, OpenFailureGivesErrno) {
  FileStream stream;
  int error = 0;
  EXPECT_FALSE(stream.Open(Path("no/such/dir"), "rb", &error));
  EXPECT_EQ(ENOENT, error);
  EXPECT_EQ(talk_base::SS_CLOSED, stream.GetState());
  EXPECT_FALSE(stream.Open("", "rb", nullptr));
}

TEST_F(FileStreamTest, WriteThenReadBack) {
  FileStream stream;
  ASSERT_TRUE(stream.Open(Path("data"), "wb", nullptr));
  EXPECT_EQ(talk_base::SS_OPEN, stream.GetState());
  size_t written = 99;
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.Write("", 0, &written, nullptr));
  EXPECT_EQ(0u, written);
  EXPECT_EQ(talk_base::SR_SUCCESS,
            stream.WriteAll("hello\nworld", 11, &written, nullptr));
  EXPECT_EQ(11u, written);
  size_t position = 0;
  EXPECT_TRUE(stream.GetPosition(&position));
  EXPECT_EQ(11u, position);
  stream.Close();
  EXPECT_EQ(talk_base::SS_CLOSED, stream.GetState());

  ASSERT_TRUE(stream.Open(Path("data"), "rb", nullptr));
  size_t size = 0, available = 0;
  EXPECT_TRUE(stream.GetSize(&size));
  EXPECT_EQ(11u, size);
  char buffer[32] = {0};
  size_t read = 99;
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.Read(buffer, 0, &read, nullptr));
  EXPECT_EQ(0u, read);
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.Read(buffer, 5, &read, nullptr));
  EXPECT_EQ("hello", std::string(buffer, read));
  EXPECT_TRUE(stream.GetAvailable(&available));
  EXPECT_EQ(6u, available);

  EXPECT_TRUE(stream.SetPosition(6));
  EXPECT_EQ(talk_base::SR_SUCCESS,
            stream.Read(buffer, sizeof(buffer), &read, nullptr));
  EXPECT_EQ("world", std::string(buffer, read));
  EXPECT_EQ(talk_base::SR_EOS,
            stream.Read(buffer, sizeof(buffer), &read, nullptr));
  // A zero-length read still succeeds at the end.
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.Read(buffer, 0, &read, nullptr));

  // Past the end nothing is available.
  EXPECT_TRUE(stream.SetPosition(100));
  EXPECT_TRUE(stream.GetAvailable(&available));
  EXPECT_EQ(0u, available);
}

TEST_F(FileStreamTest, ReadLineSplitsAtNewlines) {
  MakeFile("lines", "ab\ncd");
  FileStream stream;
  ASSERT_TRUE(stream.Open(Path("lines"), "rb", nullptr));
  std::string line = "junk";
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadLine(&line));
  EXPECT_EQ("ab", line);
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadLine(&line));
  EXPECT_EQ("cd", line);
  EXPECT_EQ(talk_base::SR_EOS, stream.ReadLine(&line));
  EXPECT_EQ("", line);

  MakeFile("empty_line", "\nx");
  ASSERT_TRUE(stream.Open(Path("empty_line"), "rb", nullptr));
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadLine(&line));
  EXPECT_EQ("", line);
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.ReadLine(&line));
  EXPECT_EQ("x", line);
}

TEST_F(FileStreamTest, ReopeningClosesTheOldFileFirst) {
  FileStream stream;
  ASSERT_TRUE(stream.Open(Path("first"), "wb", nullptr));
  ASSERT_EQ(talk_base::SR_SUCCESS, stream.Write("x", 1, nullptr, nullptr));
  // Still in the stdio buffer.
  EXPECT_EQ(0u, SizeOf("first"));
  ASSERT_TRUE(stream.OpenShare(Path("second"), "wb", 0x7f, nullptr));
  EXPECT_EQ("x", ReadWholeFile(Path("first")));
  ASSERT_EQ(talk_base::SR_SUCCESS, stream.Write("y", 1, nullptr, nullptr));

  // A failed open closes too.
  EXPECT_FALSE(stream.Open(Path("no/such"), "wb", nullptr));
  EXPECT_EQ(talk_base::SS_CLOSED, stream.GetState());
  EXPECT_EQ("y", ReadWholeFile(Path("second")));
}

TEST_F(FileStreamTest, BufferingFlushAndUnbufferedWrites) {
  FileStream buffered;
  ASSERT_TRUE(buffered.Open(Path("buffered"), "wb", nullptr));
  ASSERT_EQ(talk_base::SR_SUCCESS, buffered.Write("abc", 3, nullptr, nullptr));
  EXPECT_EQ(0u, SizeOf("buffered"));
  EXPECT_TRUE(buffered.Flush());
  EXPECT_EQ(3u, SizeOf("buffered"));

  FileStream unbuffered;
  ASSERT_TRUE(unbuffered.Open(Path("unbuffered"), "wb", nullptr));
  EXPECT_TRUE(unbuffered.DisableBuffering());
  ASSERT_EQ(talk_base::SR_SUCCESS,
            unbuffered.Write("abc", 3, nullptr, nullptr));
  EXPECT_EQ(3u, SizeOf("unbuffered"));
}

TEST_F(FileStreamTest, FilesAreNotInheritedByCommands) {
  InspectableFileStream stream;
  ASSERT_TRUE(stream.Open(Path("log"), "wb", nullptr));
  const int flags = fcntl(fileno(stream.file()), F_GETFD);
  EXPECT_TRUE(flags & FD_CLOEXEC);
  // The mode is otherwise kept: "ab" appends.
  ASSERT_EQ(talk_base::SR_SUCCESS, stream.Write("1", 1, nullptr, nullptr));
  ASSERT_TRUE(stream.Open(Path("log"), "ab", nullptr));
  ASSERT_EQ(talk_base::SR_SUCCESS, stream.Write("2", 1, nullptr, nullptr));
  stream.Close();
  EXPECT_EQ("12", ReadWholeFile(Path("log")));
}

// A new file only: what exists under the name, a link included, is left
// as it is.
TEST_F(FileStreamTest, OpenNewMakesAFileOfItsOwnOrNothing) {
  MakeFile("target", "keep");
  ASSERT_EQ(0, symlink(Path("target").c_str(), Path("link").c_str()));
  ASSERT_EQ(0, symlink(Path("missing").c_str(), Path("dangling").c_str()));
  const char* const taken[] = {"target", "link", "dangling"};
  for (const char* name : taken) {
    FileStream stream;
    int error = 0;
    EXPECT_FALSE(stream.OpenNew(Path(name), 0600, &error)) << name;
    EXPECT_EQ(EEXIST, error) << name;
    EXPECT_EQ(talk_base::SS_CLOSED, stream.GetState());
  }
  EXPECT_EQ("keep", ReadWholeFile(Path("target")));
  EXPECT_FALSE(FileExists(Path("missing")));

  const mode_t mask = umask(0);
  InspectableFileStream stream;
  EXPECT_TRUE(stream.OpenNew(Path("new"), 0600, nullptr));
  umask(mask);
  struct stat info;
  ASSERT_EQ(0, stat(Path("new").c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 07777);
  EXPECT_TRUE(fcntl(fileno(stream.file()), F_GETFD) & FD_CLOEXEC);
  ASSERT_EQ(talk_base::SR_SUCCESS, stream.Write("ab", 2, nullptr, nullptr));
  stream.Close();
  EXPECT_EQ("ab", ReadWholeFile(Path("new")));
}

TEST_F(FileStreamTest, LockIsExclusive) {
  MakeFile("locked", "x");
  FileStream first, second;
  ASSERT_TRUE(first.Open(Path("locked"), "rb", nullptr));
  ASSERT_TRUE(second.Open(Path("locked"), "rb", nullptr));
  EXPECT_TRUE(first.TryLock());
  EXPECT_FALSE(second.TryLock());
  EXPECT_TRUE(first.Unlock());
  EXPECT_TRUE(second.TryLock());
}

TEST_F(FileStreamTest, ReadAndWriteErrorsGiveErrno) {
  MakeFile("file", "content");
  FileStream stream;
  char buffer[8];
  int error = 0;
  ASSERT_TRUE(stream.Open(Path("file"), "ab", nullptr));
  EXPECT_EQ(talk_base::SR_ERROR, stream.Read(buffer, 8, nullptr, &error));
  EXPECT_EQ(EBADF, error);

  ASSERT_TRUE(stream.Open("/dev/full", "wb", nullptr));
  ASSERT_TRUE(stream.DisableBuffering());
  error = 0;
  EXPECT_EQ(talk_base::SR_ERROR, stream.Write("abc", 3, nullptr, &error));
  EXPECT_EQ(ENOSPC, error);
}

TEST_F(FileStreamTest, SizeOfPath) {
  MakeFile("sized", std::string(1234, 'z'));
  EXPECT_EQ(1234u, SizeOf("sized"));
  size_t size = 7;
  EXPECT_FALSE(FileStream::GetSizeOfPath(Path("missing"), &size));
  EXPECT_EQ(7u, size);
}

TEST(FileStreamKey, BuiltInKeyIsA1024BitPublicKey) {
  const std::string pem = talk_base::GetFileStreamPublicKey();
  EXPECT_EQ(271u, pem.size());
  EXPECT_EQ(5, std::count(pem.begin(), pem.end(), '\n'));  // 6 lines
  EXPECT_EQ(0u, pem.find("-----BEGIN PUBLIC KEY-----\n"));
  EXPECT_EQ(pem.size() - 24, pem.rfind("-----END PUBLIC KEY-----"));

  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  ASSERT_NE(nullptr, key);
  EXPECT_EQ(EVP_PKEY_RSA, EVP_PKEY_get_base_id(key));
  EXPECT_EQ(1024, EVP_PKEY_get_bits(key));
  EVP_PKEY_free(key);
}

// Block counts by write length with the built-in key: every write is cut
// into 110-byte chunks, one 128-byte block each.
TEST_F(FileStreamTest, EncryptedWritesMakeOneBlockPerChunk) {
  const std::pair<size_t, size_t> kBlocks[] = {
      {0, 1}, {1, 1}, {109, 1}, {110, 1}, {111, 2}, {220, 2}, {221, 3},
      {1000, 10}};
  FileStream stream;
  ASSERT_TRUE(stream.Open(Path("encrypted"), "wb", nullptr));
  ASSERT_TRUE(stream.DisableBuffering());
  stream.SetEncrypt(true);
  size_t expected_size = 0;
  for (const auto& entry : kBlocks) {
    SCOPED_TRACE(entry.first);
    const std::string data(entry.first, 'd');
    size_t written = 0;
    EXPECT_EQ(talk_base::SR_SUCCESS,
              stream.Write(data.data(), data.size(), &written, nullptr));
    EXPECT_EQ(entry.second * 128, written);
    expected_size += entry.second * 128;
    EXPECT_EQ(expected_size, SizeOf("encrypted"));
  }
  // WriteAll stops after the one call that wrote more than it was given.
  size_t written = 0;
  EXPECT_EQ(talk_base::SR_SUCCESS,
            stream.WriteAll("line\n", 5, &written, nullptr));
  EXPECT_EQ(128u, written);
}

TEST_F(FileStreamTest, EncryptedWriteFailureIsAnError) {
  FileStream stream;
  ASSERT_TRUE(stream.Open("/dev/full", "wb", nullptr));
  ASSERT_TRUE(stream.DisableBuffering());
  stream.SetEncrypt(true);
  int error = 0;
  EXPECT_EQ(talk_base::SR_ERROR, stream.Write("abc", 3, nullptr, &error));
  EXPECT_EQ(ENOSPC, error);
}

}  // namespace
