#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

TEST(Utf8ToUtf16, StrictConversion) {
  wchar_t out[16];
  EXPECT_TRUE(ZEB_MultiToWide("d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80", out, 16));
  EXPECT_EQ(std::wstring(out), L"d\u00e9j\u00e0 \U0001F600");
  char back[32];
  EXPECT_TRUE(ZEB_WideToMulti(out, back, sizeof back));
  EXPECT_STREQ(back, "d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80");
}

TEST(Utf8ToUtf16, InvalidInputFallsBackSilentlyByteForByte) {
  ZEB_LogError("marker", "before");
  wchar_t out[8];
  EXPECT_FALSE(ZEB_MultiToWide("a\xE9z\xFF", out, 8));
  EXPECT_STREQ(ZEB_GetLog(), "marker: before") << "invalid input is not reported";
  const wchar_t expected[] = {L'a', 0xE9, L'z', 0xFF, 0};
  EXPECT_EQ(std::wstring(out), std::wstring(expected));
}

TEST(Utf8ToUtf16, TooSmallOutputIsReportedAndTruncated) {
  wchar_t out[4];
  EXPECT_FALSE(ZEB_MultiToWide("abcdefgh", out, 4));
  EXPECT_STREQ(ZEB_GetLog(), "ZEB_MultiToWide: 'MultiByteToWideChar' failed with error 0x7A");
  EXPECT_EQ(std::wstring(out), L"abc");
  char narrow[3];
  EXPECT_FALSE(ZEB_WideToMulti(L"wxyz", narrow, 3));
  EXPECT_STREQ(ZEB_GetLog(), "ZEB_WideToMulti: 'WideCharToMultiByte' failed with error 0x7A");
  EXPECT_STREQ(narrow, "wx");
}

TEST(Utf16ToUtf8, LoneSurrogateFallsBack) {
  const wchar_t lone[] = {L'a', 0xD800, L'b', 0};
  char out[8];
  EXPECT_FALSE(ZEB_WideToMulti(lone, out, 8));
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(strlen(out), 3u);
}

TEST(AllocatingConversions, NullGivesNull) {
  EXPECT_EQ(ZEB_MultiToWideD(nullptr), nullptr);
  EXPECT_EQ(ZEB_MultiToWideL(nullptr), nullptr);
  EXPECT_EQ(ZEB_WideToMultiD(nullptr), nullptr);
  EXPECT_EQ(ZEB_WideToMultiL(nullptr), nullptr);
}

TEST(AllocatingConversions, HeapAndScratchFormsRoundTrip) {
  const char *text = "C:\\Users\\J\xC3\xB6rg\\AppData\\Roaming\\Quarlo";
  wchar_t *heap = ZEB_MultiToWideD(text);
  EXPECT_EQ(std::wstring(heap), L"C:\\Users\\J\u00f6rg\\AppData\\Roaming\\Quarlo");
  char *back = ZEB_WideToMultiD(heap);
  EXPECT_STREQ(back, text);
  EXPECT_STREQ(ZEB_WideToMultiL(ZEB_MultiToWideL(text)), text);
  ZEB_Free(back);
  ZEB_Free(heap);
}

TEST(AllocatingConversions, ScratchLimitsEndTheProcess) {
  const std::string fits(4095, 'a');
  EXPECT_EQ(wcslen(ZEB_MultiToWideL(fits.c_str())), 4095u);
  const std::wstring wide_fits(2047, L'b');
  EXPECT_EQ(strlen(ZEB_WideToMultiL(wide_fits.c_str())), 2047u);
  const std::string too_long(4096, 'a');
  EXPECT_EXIT(ZEB_MultiToWideL(too_long.c_str()), testing::ExitedWithCode(1), "");
  const std::wstring wide_too_long(2048, L'b');
  EXPECT_EXIT(ZEB_WideToMultiL(wide_too_long.c_str()), testing::ExitedWithCode(1), "");
}

}  // namespace
