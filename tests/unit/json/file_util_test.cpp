#include "src/json/file_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "zeb/log.h"

namespace {

// Files go to the current directory under names no other test uses; each test removes its own.
class FileAccess : public testing::Test {
 protected:
  void TearDown() override {
    for (const std::wstring &name : created_) _wremove(name.c_str());
  }
  void remember(const std::wstring &name) { created_.push_back(name); }
  // A marker report, so that a silent failure can be told from one that logged.
  static void mark() { ZEB_LogError("marker", "nothing"); }
  static std::string last_report() { return ZEB_GetLog(); }

 private:
  std::vector<std::wstring> created_;
};

TEST_F(FileAccess, OpensTheFileOfTheExactNonAsciiName) {
  const char *utf8 = "json_files_caf\xC3\xA9_\xE2\x82\xAC_\xF0\x9F\x98\x80.txt";
  const std::wstring wide = L"json_files_caf\u00E9_\u20AC_\U0001F600.txt";
  remember(wide);
  FILE *file = nullptr;
  ASSERT_TRUE(util_file_open(utf8, "a+b", &file));
  ASSERT_NE(file, nullptr);
  fputs("first", file);
  fclose(file);
  ASSERT_TRUE(util_file_open(utf8, "a+b", &file));
  fputs("+more", file);
  fclose(file);

  FILE *check = _wfopen(wide.c_str(), L"rb");
  ASSERT_NE(check, nullptr) << "the file carries the decoded name";
  char text[32] = {};
  fread(text, 1, sizeof text - 1, check);
  fclose(check);
  EXPECT_STREQ(text, "first+more") << "a+b appends";

  uint64_t size = 0;
  ASSERT_TRUE(util_file_size(utf8, &size));
  EXPECT_EQ(size, 10u);
}

TEST_F(FileAccess, LongPathsAreConvertedOnTheHeapAndOpen) {
  std::string path;
  while (path.size() < 590) path += ".\\";
  path += "json_files_long.txt";
  ASSERT_GT(path.size(), 600u);
  remember(L"json_files_long.txt");
  FILE *file = nullptr;
  ASSERT_TRUE(util_file_open(path.c_str(), "wb", &file)) << ZEB_GetLog();
  fputs("long", file);
  fclose(file);
  uint64_t size = 0;
  ASSERT_TRUE(util_file_size(path.c_str(), &size)) << ZEB_GetLog();
  EXPECT_EQ(size, 4u);
}

TEST_F(FileAccess, OpenFailuresAreLoggedWithTheFileName) {
  FILE *file = nullptr;
  mark();
  EXPECT_FALSE(util_file_open("no_such_dir\\json_files_missing.txt", "rb", &file));
  EXPECT_EQ(last_report(),
            "util_file_open: 'fopen' failed to open 'json_files_missing.txt' with errno 2");
  EXPECT_EQ(file, nullptr);
}

TEST_F(FileAccess, InvalidArgumentsFailWithoutAMessage) {
  FILE *file = nullptr;
  mark();
  EXPECT_FALSE(util_file_open("json_files_x.txt", "rb+rb+rb", &file)) << "mode of 8 characters";
  EXPECT_FALSE(util_file_open("bad\xFF.txt", "rb", &file));
  EXPECT_FALSE(util_file_open(nullptr, "rb", &file));
  EXPECT_FALSE(util_file_open("json_files_x.txt", nullptr, &file));
  uint64_t size = 0;
  EXPECT_FALSE(util_file_size("bad\xC0\x80.txt", &size));
  EXPECT_FALSE(util_file_size(nullptr, &size));
  EXPECT_EQ(last_report(), "marker: nothing");
}

TEST_F(FileAccess, AMissingFileHasNoSizeAndNoMessage) {
  uint64_t size = 77;
  mark();
  EXPECT_FALSE(util_file_size("json_files_missing.txt", &size));
  EXPECT_EQ(size, 77u);
  EXPECT_EQ(last_report(), "marker: nothing");
}

}  // namespace
