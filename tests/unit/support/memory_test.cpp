#include <gtest/gtest.h>

#include <cstring>

#include "zeb/log.h"
#include "zeb/memory.h"

namespace {

TEST(HeapMemory, AllocReturnsZeroFilledBlocks) {
  auto *block = static_cast<unsigned char *>(ZEB_Alloc(100, 3));
  for (int i = 0; i < 300; ++i) ASSERT_EQ(block[i], 0) << i;
  ZEB_Free(block);
  // Zero sizes are no failure: a distinct block comes back.
  void *empty = ZEB_Alloc(0, 16);
  EXPECT_NE(empty, nullptr);
  ZEB_Free(empty);
}

TEST(HeapMemory, ReallocKeepsContentsAndReleasesOnZero) {
  auto *block = static_cast<char *>(ZEB_Alloc(4, 1));
  memcpy(block, "abc", 4);
  block = static_cast<char *>(ZEB_Realloc(block, 1000, 2));
  EXPECT_STREQ(block, "abc");
  const std::string before = ZEB_GetLog();
  EXPECT_EQ(ZEB_Realloc(block, 0, 16), nullptr);
  EXPECT_EQ(before, ZEB_GetLog()) << "releasing with size 0 reports nothing";
  ZEB_Free(nullptr);
}

TEST(HeapMemory, ExhaustionEndsTheProcessWithCodeOne) {
  EXPECT_EXIT(ZEB_Alloc(uint64_t(1) << 62, 4), testing::ExitedWithCode(1), "");
  EXPECT_EXIT(
      {
        void *block = ZEB_Alloc(1, 1);
        ZEB_Realloc(block, uint64_t(1) << 61, 4);
      },
      testing::ExitedWithCode(1), "");
}

TEST(HeapStrings, StrdupCopiesThroughTheTerminator) {
  char *copy = ZEB_Strdup("quarlo");
  EXPECT_STREQ(copy, "quarlo");
  char *empty = ZEB_Strdup("");
  EXPECT_STREQ(empty, "");
  ZEB_Free(copy);
  ZEB_Free(empty);
}

TEST(HeapStrings, FormattedStringsHaveExactLength) {
  char *text = ZEB_SprintfD("%s-%04d-%.15g", "cc", 7, 0.1);
  EXPECT_STREQ(text, "cc-0007-0.1");
  ZEB_Free(text);
  std::string long_text(20000, 'x');
  text = ZEB_SprintfD("[%s]", long_text.c_str());
  EXPECT_EQ(strlen(text), 20002u);
  ZEB_Free(text);
}

}  // namespace
