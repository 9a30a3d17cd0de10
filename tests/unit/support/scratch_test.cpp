#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zeb/memory.h"

namespace {

// Each test starts from a known ring position: a full-size block resets the offset to 8192.
unsigned char *reset_ring() {
  return static_cast<unsigned char *>(zeb_tlocal(ZEB_TLOCAL_CAPACITY));
}

TEST(ScratchRing, FullCapacityBlockIsTheWholeBuffer) {
  unsigned char *start = reset_ring();
  EXPECT_EQ(reset_ring(), start) << "a block of exactly 8192 bytes always starts the buffer";
  for (uint64_t i = 0; i < ZEB_TLOCAL_CAPACITY; ++i) ASSERT_EQ(start[i], 0);
}

TEST(ScratchRing, OversizedBlockEndsTheProcess) {
  EXPECT_EXIT(zeb_tlocal(ZEB_TLOCAL_CAPACITY + 1), testing::ExitedWithCode(1), "");
}

TEST(ScratchRing, BlocksFollowEachOtherAndWrap) {
  unsigned char *start = reset_ring();
  auto *a = static_cast<unsigned char *>(zeb_tlocal(8000));  // wraps to offset 0
  EXPECT_EQ(a, start);
  auto *b = static_cast<unsigned char *>(zeb_tlocal(100));
  EXPECT_EQ(b, start + 8000) << "blocks are not rounded to any alignment";
  auto *c = static_cast<unsigned char *>(zeb_tlocal(100));
  EXPECT_EQ(c, start) << "8000 + 100 + 100 does not fit: the ring wraps to offset 0";
}

TEST(ScratchRing, LargeBlocksOverwriteEachOther) {
  reset_ring();
  auto *first = static_cast<char *>(zeb_tlocal(5000));
  memset(first, 'a', 4999);
  auto *second = static_cast<char *>(zeb_tlocal(5000));
  EXPECT_EQ(first, second);
  EXPECT_EQ(first[0], 0) << "the new block is zero-filled over the old one";
}

TEST(ScratchStrings, StrdupLCutsToTheBuffer) {
  std::string text(10000, 'q');
  char *copy = ZEB_StrdupL(text.c_str());
  EXPECT_EQ(strlen(copy), 8191u);
  EXPECT_EQ(std::string(copy), text.substr(0, 8191));
  EXPECT_STREQ(ZEB_StrdupL(""), "");
}

TEST(ScratchStrings, SprintfLFormatsIntoTheRing) {
  char *text = ZEB_SprintfL("%s%ccc%u.txt", "C:\\data\\", '\\', 2u);
  EXPECT_STREQ(text, "C:\\data\\\\cc2.txt");
  std::string big(8191, 'z');
  EXPECT_EQ(strlen(ZEB_SprintfL("%s", big.c_str())), 8191u);
  EXPECT_EXIT(ZEB_SprintfL("%s!", big.c_str()), testing::ExitedWithCode(1), "");
}

TEST(ScratchRing, InstalledBufferLeavesDefaultRingUntouched) {
  reset_ring();
  char *before = ZEB_StrdupL("made before installation");
  char installed[4096];
  ZEB_SetTLocalBuffer(installed, sizeof installed);
  for (int i = 0; i < 50; ++i) {
    char *text = ZEB_SprintfL("listing entry %d with a fairly long name", i);
    ASSERT_GE(text, installed);
    ASSERT_LT(text, installed + sizeof installed);
  }
  EXPECT_EXIT(zeb_tlocal(4097), testing::ExitedWithCode(1), "") << "the installed capacity applies";
  ZEB_SetTLocalBuffer(nullptr, 0);
  EXPECT_STREQ(before, "made before installation");
  char *after = static_cast<char *>(zeb_tlocal(1));
  EXPECT_EQ(after, before + strlen("made before installation") + 1)
      << "the default ring continues at its old offset";
}

}  // namespace
