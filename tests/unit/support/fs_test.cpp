#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"

namespace {

class FileSystem : public testing::Test {
 protected:
  void SetUp() override { ZEB_LogError("marker", "nothing reported"); }
  bool nothing_reported() const { return std::string(ZEB_GetLog()) == "marker: nothing reported"; }
  harness::TempDir dir{"fs"};
};

// A file of the given size with no data written: the file system keeps it sparse.
bool make_sized_file(const std::string &path, int64_t size) {
  HANDLE file = CreateFileW(harness::widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER end;
  end.QuadPart = size;
  const bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  return ok;
}

TEST_F(FileSystem, ReadFileReturnsContentFollowedByNul) {
  const std::string path = dir.file("settings.json");
  ASSERT_TRUE(harness::write_file(path, std::string("ab\0cd", 5)));
  uint64_t size = 0;
  char *data = ZEB_ReadFile(path.c_str(), &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(data, 5), std::string("ab\0cd", 5));
  EXPECT_EQ(data[5], '\0');
  ZEB_Free(data);
  data = ZEB_ReadFile(path.c_str(), nullptr);  // the size output is optional
  EXPECT_NE(data, nullptr);
  ZEB_Free(data);
}

TEST_F(FileSystem, ReadFileOfMissingOrEmptyFileIsSilentlyNull) {
  uint64_t size = 77;
  EXPECT_EQ(ZEB_ReadFile(dir.file("missing.json").c_str(), &size), nullptr);
  EXPECT_EQ(size, 0u);
  ASSERT_TRUE(harness::write_file(dir.file("empty.json"), ""));
  size = 77;
  EXPECT_EQ(ZEB_ReadFile(dir.file("empty.json").c_str(), &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(nothing_reported());
}

TEST_F(FileSystem, ReadFileRefusesMoreThanOneGibibyte) {
  const std::string path = dir.file("huge.bin");
  ASSERT_TRUE(make_sized_file(path, int64_t(ZEB_READFILE_LIMIT) + 1));
  uint64_t size = 0;
  EXPECT_EQ(ZEB_ReadFile(path.c_str(), &size), nullptr);
  EXPECT_EQ(size, 1073741825u) << "the size output keeps the file's size";
  EXPECT_TRUE(nothing_reported());

  ASSERT_TRUE(make_sized_file(path, int64_t(ZEB_READFILE_LIMIT)));
  char *data = ZEB_ReadFile(path.c_str(), &size);
  ASSERT_NE(data, nullptr) << "exactly 1 GiB is still read";
  EXPECT_EQ(size, 1073741824u);
  EXPECT_EQ(data[ZEB_READFILE_LIMIT], '\0');
  ZEB_Free(data);
}

TEST_F(FileSystem, WriteFileCreatesAndTruncates) {
  const std::string path = dir.file("cc0.txt");
  ASSERT_TRUE(ZEB_WriteFile(path.c_str(), "first content", 13));
  std::string content;
  ASSERT_TRUE(harness::read_file(path, &content));
  EXPECT_EQ(content, "first content");
  EXPECT_TRUE(ZEB_WriteFile(path.c_str(), "", 0));
  ASSERT_TRUE(harness::read_file(path, &content));
  EXPECT_EQ(content, "");
}

TEST_F(FileSystem, WriteIntoMissingDirectoryReportsTheOpen) {
  const std::string path = dir.file("no-such-dir\\cc1.txt");
  EXPECT_FALSE(ZEB_WriteFile(path.c_str(), "x", 1));
  EXPECT_STREQ(ZEB_GetLog(), "fsutil_open: '_wfopen_s' failed to open 'cc1.txt' with errno 2");
}

TEST_F(FileSystem, CopyFileReplacesAnExistingDestination) {
  ASSERT_TRUE(harness::write_file(dir.file("skel.dll"), "pristine build"));
  ASSERT_TRUE(harness::write_file(dir.file("app.dll"), "crashing build, longer text"));
  EXPECT_TRUE(ZEB_CopyFile(dir.file("skel.dll").c_str(), dir.file("app.dll").c_str()));
  std::string content;
  ASSERT_TRUE(harness::read_file(dir.file("app.dll"), &content));
  EXPECT_EQ(content, "pristine build");

  EXPECT_FALSE(ZEB_CopyFile(dir.file("gone.dll").c_str(), dir.file("app.dll").c_str()));
  EXPECT_STREQ(ZEB_GetLog(), "ZEB_CopyFile: 'CopyFile' failed with error 0x2");
}

TEST_F(FileSystem, DeleteFileReportsAMissingFile) {
  ASSERT_TRUE(harness::write_file(dir.file("lock"), ""));
  EXPECT_TRUE(ZEB_DeleteFile(dir.file("lock").c_str()));
  EXPECT_FALSE(harness::file_exists(dir.file("lock")));
  EXPECT_FALSE(ZEB_DeleteFile(dir.file("lock").c_str()));
  EXPECT_STREQ(ZEB_GetLog(), "ZEB_DeleteFile: 'DeleteFile' failed with error 0x2");
}

TEST_F(FileSystem, FileExistsForFilesAndDirectories) {
  ASSERT_TRUE(harness::write_file(dir.file("appdata.json"), "{}"));
  EXPECT_TRUE(ZEB_FileExists(dir.file("appdata.json").c_str()));
  EXPECT_TRUE(ZEB_FileExists(dir.path().c_str()));
  EXPECT_FALSE(ZEB_FileExists(dir.file("skel").c_str()));
  EXPECT_FALSE(ZEB_FileExists(dir.file("a\\b\\c").c_str()));
  EXPECT_TRUE(nothing_reported());
}

TEST_F(FileSystem, MkdirCreatesParentsAndIgnoresExisting) {
  const std::string nested = dir.file("Quarlo\\data\\deep");
  EXPECT_TRUE(ZEB_Mkdir(nested.c_str()));
  EXPECT_TRUE(ZEB_FileExists(nested.c_str()));
  EXPECT_FALSE(ZEB_Mkdir(nested.c_str()));
  EXPECT_TRUE(nothing_reported()) << "an existing directory is no error";
}

TEST_F(FileSystem, NonAsciiNamesRoundTrip) {
  const std::string path = dir.file("d\xC3\xA9j\xC3\xA0-\xE6\x97\xA5\xE6\x9C\xAC.txt");
  ASSERT_TRUE(ZEB_WriteFile(path.c_str(), "x", 1));
  EXPECT_TRUE(harness::file_exists(path));
  EXPECT_TRUE(ZEB_FileExists(path.c_str()));
}

TEST(KnownDirectories, CurrentAndKnownFolders) {
  wchar_t current[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, current);
  EXPECT_EQ(std::string(ZEB_GetDir(ZEB_DIR_CURRENT)), harness::narrow(current));
  const std::string roaming = ZEB_GetDir(ZEB_DIR_ROAMING_APPDATA);
  EXPECT_NE(roaming.find("\\AppData\\Roaming"), std::string::npos) << roaming;
  EXPECT_STREQ(ZEB_GetDir(ZEB_DIR_PROGRAM_FILES), "C:\\Program Files");
  EXPECT_STREQ(ZEB_GetDir(ZEB_DIR_PROGRAM_DATA), "C:\\ProgramData");
}

TEST(KnownDirectories, UnknownNumberGivesDotSilently) {
  ZEB_LogError("marker", "x");
  EXPECT_STREQ(ZEB_GetDir(4), ".");
  EXPECT_STREQ(ZEB_GetDir(-1), ".");
  EXPECT_STREQ(ZEB_GetLog(), "marker: x");
}

}  // namespace
