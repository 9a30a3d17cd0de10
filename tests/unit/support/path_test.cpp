#include <gtest/gtest.h>

#include <string>

#include "zeb/fs.h"

namespace {

TEST(PathStrings, JoinKeepsDoubledSeparators) {
  EXPECT_STREQ(ZEB_JoinPath("X:\\x\\", "f"), "X:\\x\\\\f");
  EXPECT_STREQ(ZEB_JoinPath("C:\\Users\\me\\AppData\\Roaming", "Quarlo"),
               "C:\\Users\\me\\AppData\\Roaming\\Quarlo");
  EXPECT_STREQ(ZEB_JoinPath("D:\\dir", ""), "D:\\dir\\");
}

TEST(PathStrings, JoinIsCutToTheScratchBuffer) {
  std::string long_part(9000, 'p');
  EXPECT_EQ(std::string(ZEB_JoinPath(long_part.c_str(), "f")).size(), 8191u);
}

TEST(PathStrings, FileNameIsTheLastBackslashComponent) {
  EXPECT_STREQ(ZEB_GetFileName("X:\\a\\b.tar.gz", false), "b.tar");
  EXPECT_STREQ(ZEB_GetFileName("X:\\a\\b.tar.gz", true), "b.tar.gz");
  EXPECT_STREQ(ZEB_GetFileName("a/b.txt", true), "a/b.txt") << "slash is no separator";
  EXPECT_STREQ(ZEB_GetFileName("noext", false), "noext");
  EXPECT_STREQ(ZEB_GetFileName("C:\\dir\\", true), "");
}

TEST(PathStrings, ExtensionFollowsTheLastDotAnywhere) {
  EXPECT_STREQ(ZEB_GetFileExtension("dir.d\\file"), "d\\file");
  EXPECT_STREQ(ZEB_GetFileExtension("quarlo.DLL"), "DLL");
  EXPECT_STREQ(ZEB_GetFileExtension("app.dll.txt"), "txt");
  EXPECT_STREQ(ZEB_GetFileExtension("nodot"), "");
}

}  // namespace
