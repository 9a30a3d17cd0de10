#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "src/launch/crash_counter.h"
#include "zeb/log.h"

namespace {

const std::string kHash(64, 'c');

TEST(CrashCounterFile, ReadsTheRecordOnDisk) {
  harness::TempDir dir("cc");
  char buffer[CRASH_COUNTER_RECORD_SIZE] = {};
  const int32_t length = crash_counter_write(kHash.c_str(), 2, buffer);
  ASSERT_TRUE(harness::write_file(dir.file("cc0.txt"), std::string(buffer, size_t(length))));
  int32_t count = -1;
  EXPECT_FALSE(crash_counter_read(dir.file("cc0.txt").c_str(), kHash.c_str(), &count));
  EXPECT_EQ(count, 2);
}

TEST(CrashCounterFile, MissingOrEmptyFilesAreDiscarded) {
  harness::TempDir dir("cc");
  int32_t count = -1;
  EXPECT_TRUE(crash_counter_read(dir.file("cc1.txt").c_str(), kHash.c_str(), &count));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(std::string(ZEB_GetLog()).find("util_file_size"), std::string::npos)
      << "no size query for a file that could not be opened";
  ASSERT_TRUE(harness::write_file(dir.file("cc2.txt"), ""));
  count = -1;
  EXPECT_TRUE(crash_counter_read(dir.file("cc2.txt").c_str(), kHash.c_str(), &count));
  EXPECT_EQ(count, 0);
}

}  // namespace
