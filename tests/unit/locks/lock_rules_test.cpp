// The path and reparse decisions behind the locks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "src/trust/lock.h"

namespace {

std::string trimmed(std::string path) {
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back(0);
  uint64_t length = lock_trim_separators(buffer.data());
  EXPECT_EQ(length, strlen(buffer.data()));
  return buffer.data();
}

TEST(LockPaths, TrailingSeparatorsAreTrimmedButARootKeepsOne) {
  EXPECT_EQ(trimmed("C:\\A\\B\\C"), "C:\\A\\B\\C");
  EXPECT_EQ(trimmed("C:\\A\\B\\C\\"), "C:\\A\\B\\C");
  EXPECT_EQ(trimmed("C:\\A\\B\\C\\/\\\\"), "C:\\A\\B\\C");
  EXPECT_EQ(trimmed("/srv/data//"), "/srv/data");
  EXPECT_EQ(trimmed("C:\\"), "C:\\");
  EXPECT_EQ(trimmed("d:\\\\\\"), "d:\\");
  EXPECT_EQ(trimmed("\\\\"), "\\");
  EXPECT_EQ(trimmed("C:"), "C:") << "drive-relative as given: nothing to keep";
  EXPECT_EQ(trimmed("1:\\"), "1:") << "not a drive letter";
  EXPECT_EQ(trimmed(""), "");
}

TEST(LockPaths, LockPathDropsOneSeparatorUnlessThatChangesTheDirectory) {
  EXPECT_EQ(lock_open_length("C:\\A\\B\\"), 6u);
  EXPECT_EQ(lock_open_length("C:\\A\\B\\\\"), 7u) << "only one separator is dropped";
  EXPECT_EQ(lock_open_length("C:\\A\\B/"), 6u);
  EXPECT_EQ(lock_open_length("C:\\A\\lib.dll"), 12u);
  EXPECT_EQ(lock_open_length("C:\\"), 3u) << "\"C:\" would be the drive's current directory";
  EXPECT_EQ(lock_open_length("z:/"), 3u);
  EXPECT_EQ(lock_open_length("C:\\\\"), 3u);
  EXPECT_EQ(lock_open_length("\\"), 1u);
  EXPECT_EQ(lock_open_length(""), 0u);
}

// The directories lock_path_recursive visits: the path, then each parent until the slots
// (one per separator, at least one) are used.
std::vector<std::string> walk(const std::string &path) {
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back(0);
  lock_trim_separators(buffer.data());
  const uint32_t slots = lock_slot_count(buffer.data());
  std::vector<std::string> visited = {buffer.data()};
  while (visited.size() < slots && lock_cut_at_parent(buffer.data())) {
    visited.push_back(buffer.data());
  }
  return visited;
}

TEST(LockPaths, AncestorWalkStopsBelowTheVolumeRoot) {
  using V = std::vector<std::string>;
  EXPECT_EQ(walk("C:\\A\\B\\C\\"), (V{"C:\\A\\B\\C", "C:\\A\\B", "C:\\A"}));
  EXPECT_EQ(walk("D:\\A\\B\\"), (V{"D:\\A\\B", "D:\\A"}));
  EXPECT_EQ(walk("D:\\A\\B\\\\\\"), (V{"D:\\A\\B", "D:\\A"}));
  EXPECT_EQ(walk("C:/Users/me/AppData/Roaming/Quarlo/"),
            (V{"C:/Users/me/AppData/Roaming/Quarlo", "C:/Users/me/AppData/Roaming",
               "C:/Users/me/AppData", "C:/Users/me", "C:/Users"}));
  EXPECT_EQ(walk("C:\\A"), (V{"C:\\A"}));
  EXPECT_EQ(walk("\\A\\B"), (V{"\\A\\B", "\\A"}));
}

TEST(LockPaths, AVolumeRootIsItsOwnSlot) {
  using V = std::vector<std::string>;
  EXPECT_EQ(walk("C:\\"), (V{"C:\\"}));
  EXPECT_EQ(walk("C:\\\\"), (V{"C:\\"}));
  EXPECT_EQ(walk("data"), (V{"data"}));
  EXPECT_EQ(walk("C:"), (V{"C:"}));
}

// Reparse data as FSCTL_GET_REPARSE_POINT returns it: the tag (little-endian), the length of
// the tag's own data, a reserved word, then that data.
std::vector<unsigned char> reparse_data(uint32_t tag) {
  std::vector<unsigned char> data(32, 0x5C);
  for (int i = 0; i < 4; ++i) data[i] = static_cast<unsigned char>(tag >> (8 * i));
  data[4] = 24;  // ReparseDataLength
  data[5] = data[6] = data[7] = 0;
  return data;
}

bool allowed(uint32_t tag) {
  std::vector<unsigned char> data = reparse_data(tag);
  return lock_reparse_data_allowed(true, data.data(), static_cast<uint32_t>(data.size()));
}

TEST(LockReparse, JunctionsAndSymbolicLinksAreRefused) {
  EXPECT_FALSE(allowed(0xA0000003));
  EXPECT_FALSE(allowed(0xA000000C));
}

TEST(LockReparse, OtherReparseTagsAreAccepted) {
  EXPECT_TRUE(allowed(0x80000013)) << "deduplicated file";
  EXPECT_TRUE(allowed(0x9000001A)) << "cloud placeholder";
  EXPECT_TRUE(allowed(0x8000001B)) << "app execution alias";
  EXPECT_TRUE(allowed(0x8000000A)) << "distributed file system";
  EXPECT_TRUE(allowed(0x0000000C)) << "symbolic link value without its high bits";
  EXPECT_TRUE(allowed(0xA0000004));
}

TEST(LockReparse, AFailedOrShortFetchIsRefused) {
  std::vector<unsigned char> data = reparse_data(0x80000013);
  EXPECT_FALSE(lock_reparse_data_allowed(false, data.data(), static_cast<uint32_t>(data.size())));
  EXPECT_FALSE(lock_reparse_data_allowed(true, data.data(), 3));
  EXPECT_FALSE(lock_reparse_data_allowed(true, data.data(), 0));
  EXPECT_FALSE(lock_reparse_data_allowed(true, nullptr, 16));
  EXPECT_TRUE(lock_reparse_data_allowed(true, data.data(), 4));
}

}  // namespace

#include "src/trust/safe_file.h"

namespace {

// Attributes and link counts as GetFileInformationByHandle reports them for a name opened
// without following reparse points.
TEST(SafeFileVerdict, OnlyAPlainFileWithOneNameMayBeChanged) {
  EXPECT_EQ(safe_file_verdict(0x20, 1), SAFE_FILE_PLAIN) << "archive";
  EXPECT_EQ(safe_file_verdict(0x80, 1), SAFE_FILE_PLAIN) << "normal";
  EXPECT_EQ(safe_file_verdict(0x420, 1), SAFE_FILE_REPARSE) << "symbolic link to a file";
  EXPECT_EQ(safe_file_verdict(0x410, 1), SAFE_FILE_REPARSE) << "junction";
  EXPECT_EQ(safe_file_verdict(0xFFFFFFFF, 1), SAFE_FILE_REPARSE) << "unknown attributes";
  EXPECT_EQ(safe_file_verdict(0x10, 1), SAFE_FILE_DIRECTORY);
  EXPECT_EQ(safe_file_verdict(0x20, 2), SAFE_FILE_HARD_LINK) << "a second name elsewhere";
  EXPECT_EQ(safe_file_verdict(0x20, 0), SAFE_FILE_HARD_LINK) << "no name of its own";
}

}  // namespace
