#include "zeb/crypto_hash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <io.h>
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/log_capture.h"
#include "zeb/fs.h"
#include "zeb/memory.h"

namespace {

std::string hex_of(const void *bytes, size_t size) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < size; ++i) {
    snprintf(pair, sizeof pair, "%02x", static_cast<const unsigned char *>(bytes)[i]);
    text += pair;
  }
  return text;
}

std::string digest_text(int32_t algorithm, const std::string &input) {
  char text[65];
  memset(text, '#', sizeof text);
  ZEB_CryptoHash(algorithm, input.data(), input.size(), nullptr, 0, text, sizeof text);
  return text;
}

std::string raw_digest(int32_t algorithm, const std::string &input, const std::string *key,
                       size_t length) {
  unsigned char raw[32];
  ZEB_CryptoHash(algorithm, input.data(), input.size(), key ? key->data() : nullptr,
                 key ? key->size() : 0, raw, length);
  return hex_of(raw, length);
}

// The example messages of FIPS 180-4 and their published digests.
struct Example {
  std::string message;
  const char *sha1;
  const char *sha256;
};

std::vector<Example> fips_examples() {
  return {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
}

TEST(CryptoHash, FipsExamplesInEveryForm) {
  LogCapture log;
  for (const Example &e : fips_examples()) {
    SCOPED_TRACE(e.message.substr(0, 16));
    EXPECT_EQ(digest_text(ZEB_ALGORITHM_SHA1_HEX, e.message), e.sha1);
    EXPECT_EQ(digest_text(ZEB_ALGORITHM_SHA256_HEX, e.message), e.sha256);
    EXPECT_EQ(raw_digest(ZEB_ALGORITHM_SHA1, e.message, nullptr, 20), e.sha1);
    EXPECT_EQ(raw_digest(ZEB_ALGORITHM_SHA256, e.message, nullptr, 32), e.sha256);
  }
  EXPECT_TRUE(log.messages.empty());
}

std::string bytes(size_t count, unsigned char value) { return std::string(count, char(value)); }

TEST(CryptoHash, HmacSha256MatchesRfc4231) {
  std::string key4;
  for (int i = 1; i <= 25; ++i) key4 += char(i);
  struct Case {
    std::string key, data;
    const char *mac;
  };
  const Case cases[] = {
      {bytes(20, 0x0b), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {bytes(20, 0xaa), bytes(50, 0xdd),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {key4, bytes(50, 0xcd), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {bytes(20, 0x0c), "Test With Truncation", "a3b6167473100ee06e0c796c2955552b"},
      {bytes(131, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {bytes(131, 0xaa),
       "This is a test using a larger than block-size key and a larger than block-size data. "
       "The key needs to be hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  int number = 1;
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("test case ") + std::to_string(number++));
    const std::string expected = c.mac;
    // Case 5 publishes only the first 128 bits.
    EXPECT_EQ(raw_digest(ZEB_ALGORITHM_SHA256, c.data, &c.key, 32).substr(0, expected.size()),
              expected);
    char text[65];
    ZEB_CryptoHash(ZEB_ALGORITHM_SHA256_HEX, c.data.data(), c.data.size(), c.key.data(),
                   c.key.size(), text, sizeof text);
    EXPECT_EQ(std::string(text).substr(0, expected.size()), expected);
  }
}

TEST(CryptoHash, NullKeyIsAPlainDigestWhateverItsLength) {
  LogCapture log;
  const std::string abc = "abc";
  for (uint64_t length : {uint64_t(16), uint64_t(1) << 33}) {
    char text[65] = {};
    ZEB_CryptoHash(ZEB_ALGORITHM_SHA256_HEX, abc.data(), abc.size(), nullptr, length, text,
                   sizeof text);
    EXPECT_EQ(text, std::string(fips_examples()[0].sha256)) << length;
  }
  EXPECT_TRUE(log.messages.empty());
}

TEST(CryptoHash, RawFormsWriteExactlyTheDigestOrNothing) {
  const std::string abc = "abc";
  unsigned char out[40];
  memset(out, 0xCC, sizeof out);
  {
    LogCapture log;
    ZEB_CryptoHash(ZEB_ALGORITHM_SHA256, abc.data(), abc.size(), nullptr, 0, out, 31);
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], "crypto_hash: 'outputSize' must be at least 32");
    for (unsigned char b : out) ASSERT_EQ(b, 0xCC);
  }
  {
    LogCapture log;
    ZEB_CryptoHash(ZEB_ALGORITHM_SHA1, abc.data(), abc.size(), nullptr, 0, out, 19);
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], "crypto_hash: 'outputSize' must be at least 20");
  }
  ZEB_CryptoHash(ZEB_ALGORITHM_SHA1, abc.data(), abc.size(), nullptr, 0, out, sizeof out);
  EXPECT_EQ(hex_of(out, 20), fips_examples()[0].sha1);
  for (size_t i = 20; i < sizeof out; ++i) ASSERT_EQ(out[i], 0xCC) << i;
}

TEST(CryptoHash, HexFormsFollowTheTextBufferRules) {
  const std::string abc = "abc";
  const std::string sha256 = fips_examples()[0].sha256;
  char text[66];
  memset(text, '#', sizeof text);
  {
    LogCapture log;
    ZEB_CryptoHash(ZEB_ALGORITHM_SHA256_HEX, abc.data(), abc.size(), nullptr, 0, text, 64);
    EXPECT_EQ(text, sha256.substr(0, 62));
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], "ZEB_BytesToHex: 'hex' not large enough, truncated");
  }
  ZEB_CryptoHash(ZEB_ALGORITHM_SHA256_HEX, abc.data(), abc.size(), nullptr, 0, text, 65);
  EXPECT_EQ(text, sha256);
  EXPECT_EQ(text[65], '#');
}

TEST(CryptoHash, UnknownAlgorithmsDoNothing) {
  const std::string abc = "abc";
  for (int32_t algorithm : {4, -1, 100}) {
    unsigned char out[65];
    memset(out, 0xCC, sizeof out);
    LogCapture log;
    ZEB_CryptoHash(algorithm, abc.data(), abc.size(), nullptr, 0, out, sizeof out);
    EXPECT_TRUE(log.messages.empty());
    for (unsigned char b : out) ASSERT_EQ(b, 0xCC) << algorithm;
  }
}

// The build writes a sample file and its digests as the host's sha256sum and sha1sum give them.
std::string host_digest(const char *sidecar) {
  char *text = ZEB_ReadFile(sidecar, nullptr);
  if (!text) return "<no sidecar>";
  std::string digest(text);
  ZEB_Free(text);
  return digest.substr(0, digest.find(' '));
}

TEST(CryptoHashFile, DigestMatchesTheHostTools) {
  const std::string sha256 = host_digest(DIGEST_SAMPLE ".sha256");
  const std::string sha1 = host_digest(DIGEST_SAMPLE ".sha1");
  ASSERT_EQ(sha256.size(), 64u);
  ASSERT_EQ(sha1.size(), 40u);
  char text[65];
  ASSERT_TRUE(
      ZEB_CryptoHashFile(ZEB_ALGORITHM_SHA256_HEX, DIGEST_SAMPLE, nullptr, 0, text, sizeof text));
  EXPECT_EQ(text, sha256);
  ASSERT_TRUE(ZEB_CryptoHashFile(ZEB_ALGORITHM_SHA1_HEX, DIGEST_SAMPLE, nullptr, 0, text, 41));
  EXPECT_EQ(text, sha1);
  unsigned char raw[32];
  ASSERT_TRUE(ZEB_CryptoHashFile(ZEB_ALGORITHM_SHA256, DIGEST_SAMPLE, nullptr, 0, raw, 32));
  EXPECT_EQ(hex_of(raw, 32), sha256);
}

TEST(CryptoHashFile, UnreadableFilesLeaveTheOutputUntouchedAndSayNothing) {
  const std::string empty = std::string(DIGEST_SAMPLE) + ".empty";
  ASSERT_TRUE(ZEB_WriteFile(empty.c_str(), "", 0));
  // One byte over the read limit; extended without writing, so it costs no disk space.
  const std::string large = std::string(DIGEST_SAMPLE) + ".large";
  FILE *file = fopen(large.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(_chsize_s(_fileno(file), int64_t(ZEB_READFILE_LIMIT) + 1), 0);
  fclose(file);

  char text[65];
  memset(text, '#', sizeof text);
  LogCapture log;
  for (const std::string &path : {empty, large, std::string(DIGEST_SAMPLE ".missing")})
    EXPECT_FALSE(
        ZEB_CryptoHashFile(ZEB_ALGORITHM_SHA256_HEX, path.c_str(), nullptr, 0, text, sizeof text))
        << path;
  EXPECT_TRUE(log.messages.empty());
  for (char c : text) ASSERT_EQ(c, '#');
  ZEB_DeleteFile(empty.c_str());
  ZEB_DeleteFile(large.c_str());
}

}  // namespace
