// The encrypted file format, read back with a test-only private key. This
// program links its own GetFileStreamPublicKey in place of the library's,
// answering the public half of the test key pair in testdata/ (or another
// key a test chooses).
#include <errno.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "scratchdir.h"
#include "talk/base/filestream.h"
#include "talk/base/filestreamkey.h"
#include "talk/base/logging.h"

namespace {

std::string TestData(const char* name) {
  return std::string(TESTDATA_DIR) + "/" + name;
}

// The key the stream loads; set by each test before its first write.
std::string g_public_key;

}  // namespace

namespace talk_base {
const char* GetFileStreamPublicKey() { return g_public_key.c_str(); }
}  // namespace talk_base

namespace {

using talk_base::FileStream;

// Decrypts a file of 128-byte blocks with the test private key; each entry
// is the plaintext of one block.
class BlockReader {
 public:
  BlockReader() {
    const std::string pem = ReadWholeFile(TestData("filestream_test_private.pem"));
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    key_ = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
  }
  ~BlockReader() { EVP_PKEY_free(key_); }
  bool ok() const { return key_ != nullptr; }

  // False when the file is not a run of blocks that all decrypt.
  bool Read(const std::string& path, std::vector<std::string>* blocks) {
    const std::string data = ReadWholeFile(path);
    if (data.size() % 128 != 0) return false;
    for (size_t at = 0; at < data.size(); at += 128) {
      EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key_, nullptr);
      unsigned char out[128];
      size_t out_len = sizeof(out);
      const bool decrypted =
          ctx && EVP_PKEY_decrypt_init(ctx) > 0 &&
          EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
          EVP_PKEY_decrypt(
              ctx, out, &out_len,
              reinterpret_cast<const unsigned char*>(data.data() + at),
              128) > 0;
      EVP_PKEY_CTX_free(ctx);
      if (!decrypted) return false;
      blocks->push_back(std::string(reinterpret_cast<char*>(out), out_len));
    }
    return true;
  }

 private:
  EVP_PKEY* key_;
};

class EncryptedFileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_public_key = ReadWholeFile(TestData("filestream_test_public.pem"));
    ASSERT_FALSE(g_public_key.empty());
    ASSERT_TRUE(reader_.ok());
  }

  void OpenEncrypted(FileStream* stream, const char* name) {
    ASSERT_TRUE(stream->Open(dir_.File(name), "wb", nullptr));
    ASSERT_TRUE(stream->DisableBuffering());
    stream->SetEncrypt(true);
  }

  std::vector<std::string> Blocks(const char* name) {
    std::vector<std::string> blocks;
    EXPECT_TRUE(reader_.Read(dir_.File(name), &blocks));
    return blocks;
  }

  static std::string Join(const std::vector<std::string>& parts) {
    std::string result;
    for (const std::string& part : parts) result += part;
    return result;
  }

  // Bytes of every value, zero included.
  static std::string Pattern(size_t length) {
    std::string data;
    for (size_t i = 0; i < length; ++i) data.push_back(static_cast<char>(i * 7));
    return data;
  }

  ScratchDir dir_;
  BlockReader reader_;
};

TEST_F(EncryptedFileStreamTest, EachWriteRoundTripsInChunksOf110) {
  const std::pair<size_t, size_t> kBlocks[] = {
      {0, 1}, {1, 1}, {109, 1}, {110, 1}, {111, 2}, {220, 2}, {221, 3},
      {500, 5}};
  for (const auto& entry : kBlocks) {
    SCOPED_TRACE(entry.first);
    FileStream stream;
    OpenEncrypted(&stream, "single");
    const std::string data = Pattern(entry.first);
    size_t written = 0;
    ASSERT_EQ(talk_base::SR_SUCCESS,
              stream.Write(data.data(), data.size(), &written, nullptr));
    EXPECT_EQ(entry.second * 128, written);
    stream.Close();

    const std::vector<std::string> blocks = Blocks("single");
    ASSERT_EQ(entry.second, blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
      const size_t expected = std::min<size_t>(110, data.size() - i * 110);
      EXPECT_EQ(expected, blocks[i].size()) << "block " << i;
    }
    EXPECT_EQ(data, Join(blocks));
  }
}

TEST_F(EncryptedFileStreamTest, ChunksNeverSpanWrites) {
  FileStream stream;
  OpenEncrypted(&stream, "writes");
  const std::string first = Pattern(50), third = Pattern(130);
  ASSERT_EQ(talk_base::SR_SUCCESS,
            stream.Write(first.data(), first.size(), nullptr, nullptr));
  ASSERT_EQ(talk_base::SR_SUCCESS, stream.Write("", 0, nullptr, nullptr));
  ASSERT_EQ(talk_base::SR_SUCCESS,
            stream.Write(third.data(), third.size(), nullptr, nullptr));
  stream.Close();
  const std::vector<std::string> blocks = Blocks("writes");
  ASSERT_EQ(4u, blocks.size());
  EXPECT_EQ(first, blocks[0]);
  EXPECT_EQ("", blocks[1]);
  EXPECT_EQ(third, blocks[2] + blocks[3]);
  EXPECT_EQ(110u, blocks[2].size());
}

TEST_F(EncryptedFileStreamTest, KeyIsLoadedOncePerStream) {
  FileStream stream;
  OpenEncrypted(&stream, "once");
  ASSERT_EQ(talk_base::SR_SUCCESS, stream.Write("a", 1, nullptr, nullptr));
  g_public_key = "not a key";
  EXPECT_EQ(talk_base::SR_SUCCESS, stream.Write("b", 1, nullptr, nullptr));
  stream.Close();
  EXPECT_EQ("ab", Join(Blocks("once")));

  // A new stream reads the (now unusable) key again.
  FileStream other;
  OpenEncrypted(&other, "unusable");
  int error = 0;
  size_t written = 99;
  EXPECT_EQ(talk_base::SR_ERROR, other.Write("c", 1, &written, &error));
  EXPECT_EQ(EINVAL, error);
  EXPECT_EQ(0u, written);
  other.Close();
  EXPECT_EQ("", ReadWholeFile(dir_.File("unusable")));
}

TEST_F(EncryptedFileStreamTest, KeysOtherThan1024BitAreRefused) {
  g_public_key = ReadWholeFile(TestData("filestream_test_2048_public.pem"));
  ASSERT_FALSE(g_public_key.empty());
  FileStream stream;
  OpenEncrypted(&stream, "big_key");
  int error = 0;
  EXPECT_EQ(talk_base::SR_ERROR, stream.Write("abc", 3, nullptr, &error));
  EXPECT_EQ(EINVAL, error);
  stream.Close();
  EXPECT_EQ("", ReadWholeFile(dir_.File("big_key")));
}

// A file size limit cuts the third block short: the write fails instead of
// reporting the bytes that did reach the file as success.
TEST_F(EncryptedFileStreamTest, ShortWriteFailsTheWrite) {
  FileStream stream;
  OpenEncrypted(&stream, "limited");
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  struct rlimit limited = saved;
  limited.rlim_cur = 2 * 128 + 50;
  sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));

  const std::string data = Pattern(400);  // 4 chunks
  size_t written = 0;
  int error = 0;
  const talk_base::StreamResult result =
      stream.Write(data.data(), data.size(), &written, &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);

  EXPECT_EQ(talk_base::SR_ERROR, result);
  EXPECT_EQ(EFBIG, error);
  EXPECT_EQ(2u * 128 + 50, written);
  stream.Close();
  EXPECT_EQ(2u * 128 + 50, ReadWholeFile(dir_.File("limited")).size());
}

TEST_F(EncryptedFileStreamTest, EncryptedLogFile) {
  using talk_base::LogMessage;
  const std::string path = dir_.File("log");
  LogMessage::SetLogTimestamps(false);
  LogMessage::ConfigureLogging("info file encrypt", path.c_str());
  const int line = __LINE__ + 1;
  LOG(LS_INFO) << "secret";
  const std::string long_text(200, 'L');
  LOG(LS_WARNING) << long_text;
  LOG(LS_VERBOSE) << "not logged";
  LogMessage::SetLogStream(nullptr, talk_base::LS_NONE);

  const std::string first =
      "INFO(filestream_encrypted_unittest.cc:" + std::to_string(line) +
      "): secret\n";
  const std::string second =
      "WARNING(filestream_encrypted_unittest.cc:" + std::to_string(line + 2) +
      "): " + long_text + "\n";
  const std::vector<std::string> blocks = Blocks("log");
  // One line per write: 1 block, then 3 for the long line.
  ASSERT_EQ(4u, blocks.size());
  EXPECT_EQ(first, blocks[0]);
  EXPECT_EQ(second, blocks[1] + blocks[2] + blocks[3]);
}

}  // namespace
