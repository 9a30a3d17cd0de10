#include "src/json/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/json/file_util.h"

namespace {

uint32_t decode(std::vector<uint8_t> bytes, uint32_t *c) {
  return text_utf8_decode(c, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

TEST(Utf8Decode, AcceptsWellFormedSequences) {
  uint32_t c = 0;
  EXPECT_EQ(decode({0xC3, 0xA9}, &c), 2u);
  EXPECT_EQ(c, 0xE9u);
  EXPECT_EQ(decode({0x41, 0x80}, &c), 1u);
  EXPECT_EQ(c, 0x41u);
  EXPECT_EQ(decode({0xE2, 0x82, 0xAC}, &c), 3u);
  EXPECT_EQ(c, 0x20ACu);
  EXPECT_EQ(decode({0xF4, 0x8F, 0xBF, 0xBF}, &c), 4u);
  EXPECT_EQ(c, 0x10FFFFu);
}

TEST(Utf8Decode, RejectsMalformedSequencesWithoutStoring) {
  const std::vector<std::vector<uint8_t>> bad = {
      {},                        // nothing
      {0xC0, 0x80},              // overlong NUL
      {0xE0, 0x9F, 0xBF},        // overlong three-byte form
      {0xED, 0xA0, 0x80},        // surrogate
      {0xF4, 0x90, 0x80, 0x80},  // above 0x10FFFF
      {0x80},                    // lone continuation
      {0xE2, 0x82},              // truncated
      {0xE2, 0x41, 0x82},        // not a continuation
      {0xF8, 0x88, 0x80, 0x80},  // five-byte lead
      {0xFF},
  };
  for (const auto &bytes : bad) {
    uint32_t c = 0x12345;
    EXPECT_EQ(decode(bytes, &c), 0u) << testing::PrintToString(bytes);
    EXPECT_EQ(c, 0x12345u);
  }
}

TEST(Utf8Encode, EveryScalarValueDecodesBackToItself) {
  for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
    uint8_t bytes[4];
    const uint32_t n = text_utf8_encode(bytes, c);
    if (c >= 0xD800 && c <= 0xDFFF) {
      ASSERT_EQ(n, 0u) << c;
      continue;
    }
    ASSERT_EQ(n, c < 0x80 ? 1u : c < 0x800 ? 2u : c < 0x10000 ? 3u : 4u) << c;
    uint32_t back = 0;
    ASSERT_EQ(text_utf8_decode(&back, bytes, n), n) << c;
    ASSERT_EQ(back, c);
  }
  uint8_t bytes[4];
  EXPECT_EQ(text_utf8_encode(bytes, 0x110000), 0u);
  ASSERT_EQ(text_utf8_encode(bytes, 0x10FFFF), 4u);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0xF4, 0x8F, 0xBF, 0xBF}));
}

TEST(Utf8ToUtf16, WritesSurrogatePairsAndNeedsRoomForTheNul) {
  const char smiley[] = "\xF0\x9F\x98\x80";
  char16_t out[4] = {1, 1, 1, 1};
  ASSERT_TRUE(text_utf8_to_utf16(out, 4, smiley, 4));
  EXPECT_EQ(out[0], 0xD83D);
  EXPECT_EQ(out[1], 0xDE00);
  EXPECT_EQ(out[2], 0);
  EXPECT_TRUE(text_utf8_to_utf16(out, 3, smiley, 4));
  EXPECT_FALSE(text_utf8_to_utf16(out, 2, smiley, 4));
  EXPECT_FALSE(text_utf8_to_utf16(out, 0, "", 0));
  EXPECT_TRUE(text_utf8_to_utf16(out, 1, "", 0));
  EXPECT_EQ(out[0], 0);
  EXPECT_FALSE(text_utf8_to_utf16(out, 4, "\xC3", 1)) << "truncated";
}

TEST(Utf8ToUtf16, AsciiRunsAndMixedTextConvertAtEveryCapacityBoundary) {
  const std::string text = "abcdefgh\xC3\xA9ijklmnopqrstuvwxyz";
  std::u16string expected = u"abcdefgh\u00E9ijklmnopqrstuvwxyz";
  const uint32_t exact = static_cast<uint32_t>(expected.size()) + 1;
  std::vector<char16_t> out(64, 0x7777);
  ASSERT_TRUE(text_utf8_to_utf16(out.data(), exact, text.data(), uint32_t(text.size())));
  EXPECT_EQ(std::u16string(out.data()), expected);
  for (uint32_t capacity = 1; capacity < exact; ++capacity)
    EXPECT_FALSE(text_utf8_to_utf16(out.data(), capacity, text.data(), uint32_t(text.size())))
        << capacity;
}

TEST(Utf8ToUtf16, ANulEndsTheTextSoTheLengthMayBeAnUpperBound) {
  // Exactly sized heap copy: reading past the NUL would be caught by the address sanitizer.
  const char source[] = "ab\0cdefghijk";
  std::vector<char> exact(source, source + 3);
  char16_t out[32];
  ASSERT_TRUE(text_utf8_to_utf16(out, 32, exact.data(), 8192));
  EXPECT_EQ(std::u16string(out), u"ab");
  std::vector<char> longer(source, source + sizeof source);
  ASSERT_TRUE(text_utf8_to_utf16(out, 32, longer.data(), uint32_t(longer.size())));
  EXPECT_EQ(std::u16string(out), u"ab");
}

TEST(WidePath, ShortPathsStayLocalLongOnesGoToTheHeap) {
  util_wide_path wide;
  ASSERT_TRUE(util_wide_path_init(&wide, "C:\\data\\caf\xC3\xA9.txt"));
  EXPECT_EQ(wide.heap, nullptr);
  EXPECT_EQ(std::u16string(wide.text), u"C:\\data\\caf\u00E9.txt");
  util_wide_path_release(&wide);

  const std::string long_path = "C:\\" + std::string(597, 'p');
  ASSERT_TRUE(util_wide_path_init(&wide, long_path.c_str()));
  EXPECT_NE(wide.heap, nullptr);
  EXPECT_EQ(std::u16string(wide.text), u"C:\\" + std::u16string(597, u'p'));
  util_wide_path_release(&wide);

  EXPECT_FALSE(util_wide_path_init(&wide, "bad\xFFname"));
  EXPECT_FALSE(util_wide_path_init(&wide, (std::string(600, 'q') + "\xC0\x80").c_str()));
}

}  // namespace
