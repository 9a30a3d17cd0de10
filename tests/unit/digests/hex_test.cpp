#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/unit/log_capture.h"
#include "zeb/crypto_hash.h"

namespace {

const char kTruncated[] = "ZEB_BytesToHex: 'hex' not large enough, truncated";

TEST(BytesToHex, AllByteValuesInLowerCaseHighNibbleFirst) {
  unsigned char bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<unsigned char>(i);
  char hex[513];
  LogCapture log;
  ZEB_BytesToHex(bytes, sizeof bytes, hex, sizeof hex);
  EXPECT_TRUE(log.messages.empty());
  ASSERT_EQ(strlen(hex), 512u);
  EXPECT_EQ(std::string(hex, 8), "00010203");
  EXPECT_EQ(std::string(hex + 2 * 0x9E, 6), "9e9fa0");
  EXPECT_EQ(std::string(hex + 2 * 0xFD), "fdfeff");
}

TEST(BytesToHex, EmptyInputWritesOnlyTheTerminator) {
  char hex[4] = {'x', 'x', 'x', 'x'};
  ZEB_BytesToHex(nullptr, 0, hex, sizeof hex);
  EXPECT_EQ(hex[0], '\0');
  EXPECT_EQ(hex[1], 'x');
}

TEST(BytesToHex, ShortBuffersKeepWholeBytesAndReport) {
  const unsigned char bytes[] = {0xAB, 0xCD, 0xEF};
  struct Case {
    uint64_t capacity;
    const char *text;
  };
  // A capacity of 2n + 1 holds n bytes; never half a byte.
  const Case cases[] = {{1, ""}, {2, ""}, {3, "ab"}, {4, "ab"}, {5, "abcd"}, {6, "abcd"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.capacity);
    char hex[8];
    memset(hex, '#', sizeof hex);
    LogCapture log;
    ZEB_BytesToHex(bytes, sizeof bytes, hex, c.capacity);
    EXPECT_STREQ(hex, c.text);
    EXPECT_EQ(hex[c.capacity], '#') << "nothing written past the capacity";
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], kTruncated);
  }
  char hex[7];
  LogCapture log;
  ZEB_BytesToHex(bytes, sizeof bytes, hex, sizeof hex);
  EXPECT_STREQ(hex, "abcdef");
  EXPECT_TRUE(log.messages.empty());
}

TEST(BytesToHex, ZeroCapacityWritesNothing) {
  const unsigned char byte = 0x5A;
  char hex = '#';
  LogCapture log;
  ZEB_BytesToHex(&byte, 1, &hex, 0);
  EXPECT_EQ(hex, '#');
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0], kTruncated);
}

}  // namespace
