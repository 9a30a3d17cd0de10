#include "src/json/text_buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Buffer {
  text_buf buf = {};
  ~Buffer() { free(buf.data); }
  std::string text() const { return std::string(buf.data, buf.length); }
};

TEST(TextBufferGrowth, FirstPrintfIntoAnEmptyBufferAllocates4096) {
  Buffer b;
  EXPECT_EQ(text_printf(&b.buf, "count %d", 2), 7);
  EXPECT_EQ(text_capacity(&b.buf), 4096u);
  EXPECT_EQ(b.text(), "count 2");
  EXPECT_EQ(b.buf.data[7], '\0') << "printf leaves a NUL after the text";
}

TEST(TextBufferGrowth, CapacityIsThePowerOfTwoAboveTheNeedAndTextSurvives) {
  Buffer b;
  const std::string first(5000, 'a');
  text_append(&b.buf, first.data(), 5000);
  EXPECT_EQ(text_capacity(&b.buf), 8192u);
  const std::string second(4000, 'b');
  text_append(&b.buf, second.data(), 4000);
  EXPECT_EQ(text_capacity(&b.buf), 16384u);
  EXPECT_EQ(b.text(), first + second);
  text_append(&b.buf, "x", 0);
  EXPECT_EQ(b.buf.length, 9000u);
}

TEST(TextBufferGrowth, AppendDoesNotTerminateTheText) {
  Buffer b;
  text_append(&b.buf, "abcdef", 6);
  b.buf.length = 2;
  text_append(&b.buf, "Z", 1);
  EXPECT_EQ(b.text(), "abZ");
  EXPECT_EQ(b.buf.data[3], 'd') << "append writes only its own bytes";
}

TEST(TextBufferGrowth, OutputNeedsRoomForItsNul) {
  Buffer b;
  text_append(&b.buf, "x", 1);
  // room is 4095: 4094 bytes fit in place, 4095 do not (the NUL needs a place).
  const std::string fits(4094, 'f');
  EXPECT_EQ(text_printf(&b.buf, "%s", fits.c_str()), 4094);
  EXPECT_EQ(text_capacity(&b.buf), 4096u);
  EXPECT_EQ(b.text(), "x" + fits);

  Buffer c;
  text_append(&c.buf, "x", 1);
  const std::string full(4095, 'g');
  EXPECT_EQ(text_printf(&c.buf, "%s", full.c_str()), 4095);
  EXPECT_EQ(text_capacity(&c.buf), 8192u);
  EXPECT_EQ(c.text(), "x" + full);
  EXPECT_EQ(c.buf.data[c.buf.length], '\0');
}

#ifndef _WIN32
TEST(TextBufferFailures, FormattingErrorAppendsNothing) {
  Buffer b;
  text_append(&b.buf, "keep", 4);
  // A wide character the C locale cannot convert makes vsnprintf fail.
  const wchar_t wide[] = {wchar_t(0x100), 0};
  EXPECT_EQ(text_printf(&b.buf, "%ls", wide), 0);
  EXPECT_EQ(b.text(), "keep");
}
#endif

TEST(TextBufferFailures, GrowthBeyondWhatCanBeHeldEndsTheProcess) {
  EXPECT_EXIT(
      {
        Buffer b;
        text_append(&b.buf, "ab", 2);
        // The size wraps 32 bits: the buffer must not be written through.
        text_reserve(&b.buf, 0xFFFFFFFFu);
      },
      testing::ExitedWithCode(1), "");
}

}  // namespace
