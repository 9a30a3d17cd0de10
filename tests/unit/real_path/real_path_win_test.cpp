#include <gtest/gtest.h>
#include <windows.h>
// After windows.h.
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

#include "src/trust/real_path.h"
#include "zeb/fs.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

std::string take(char *text) {
  std::string copy = text ? text : "<null>";
  ZEB_Free(text);
  return copy;
}

// A name area holding the print name at an odd offset, as a record may place it.
struct NameArea {
  std::vector<uint8_t> bytes;
  uint16_t offset = 3;
  uint16_t length = 0;
  explicit NameArea(const std::u16string &name) : bytes(3, 0xEE) {
    length = uint16_t(name.size() * 2);
    bytes.resize(offset + length + 6, 0xEE);
    memcpy(bytes.data() + offset, name.data(), length);
  }
};

std::string link_target(const char *link, bool relative, const std::u16string &name) {
  NameArea area(name);
  return take(make_link_target_path(link, relative, area.bytes.data(), area.offset, area.length));
}

TEST(MakeLinkTargetPath, AbsoluteTargetsAreTakenAsWritten) {
  EXPECT_EQ(link_target("E:\\A\\L", false, u"C:\\Target\\Dir"), "C:\\Target\\Dir");
  EXPECT_EQ(link_target("E:\\A\\L", false, u"D:\\Donn\u00e9es\\\u4e2d"),
            "D:\\Donn\xC3\xA9"
            "es\\\xE4\xB8\xAD");
  EXPECT_EQ(link_target("E:\\A\\L", false, u""), "");
}

TEST(MakeLinkTargetPath, RelativeTargetsStartAtTheLinksDirectory) {
  EXPECT_EQ(link_target("E:\\A\\B\\L", true, u"..\\T"), "E:\\A\\T");
  EXPECT_EQ(link_target("E:/A/B/L", true, u"..\\T"), "E:\\A\\T");
  EXPECT_EQ(link_target("E:\\A\\B\\L", true, u".\\T"), "E:\\A\\B\\T");
  EXPECT_EQ(link_target("E:\\A\\B\\L", true, u"sub\\x"), "E:\\A\\B\\sub\\x");
  EXPECT_EQ(link_target("E:\\A\\B\\L", true, u"..\\..\\..\\..\\T"), "E:\\T");
}

class RealPathOnDisk : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, current), 0u);
    char *narrow = ZEB_WideToMultiD(current);
    cwd = narrow;
    ZEB_Free(narrow);
    base = cwd + "\\rp_dirs";
    leaf = base + "\\a\\b";
    for (const std::string &dir : {base, base + "\\a", leaf}) {
      ZEB_WideText wide(dir.c_str());
      CreateDirectoryW(wide.get(), nullptr);
    }
    ASSERT_TRUE(ZEB_FileExists(leaf.c_str()));
    ASSERT_TRUE(ZEB_WriteFile((leaf + "\\file.txt").c_str(), "x", 1));
  }
  std::string cwd, base, leaf;
};

TEST_F(RealPathOnDisk, LocalDirectoriesComeBackAbsoluteWithoutTrailingSeparators) {
  EXPECT_EQ(take(resolve_real_path(leaf.c_str())), leaf);
  EXPECT_EQ(take(resolve_real_path((leaf + "\\").c_str())), leaf);
  EXPECT_EQ(take(resolve_real_path((leaf + "\\\\").c_str())), leaf);
  EXPECT_EQ(take(resolve_real_path((base + "\\a\\.\\b\\..\\b\\").c_str())), leaf);
  EXPECT_EQ(take(resolve_real_path("rp_dirs/a/b/")), leaf);
  EXPECT_EQ(take(resolve_real_path("rp_dirs\\a\\b\\c\\..")), leaf);
  EXPECT_EQ(take(resolve_real_path(".")), cwd);
  EXPECT_EQ(take(resolve_real_path("C:\\")), "C:\\") << "a root keeps its separator";
}

TEST_F(RealPathOnDisk, PlainFilesAndDirectoriesAreNoLinks) {
  EXPECT_EQ(read_link_target(leaf.c_str()), nullptr);
  EXPECT_EQ(read_link_target((leaf + "\\").c_str()), nullptr);
  EXPECT_EQ(read_link_target((leaf + "\\file.txt").c_str()), nullptr);
  EXPECT_EQ(read_link_target((leaf + "\\missing").c_str()), nullptr);
  EXPECT_EQ(read_link_target(""), nullptr);
}

TEST(RealPathNetwork, NetworkPathsAreLeftAsTheFullPathRoutineGivesThem) {
  EXPECT_EQ(take(resolve_real_path("\\\\server\\share\\dir\\")), "\\\\server\\share\\dir\\");
  EXPECT_EQ(take(resolve_real_path("\\\\server\\share\\a\\..\\dir")), "\\\\server\\share\\dir");
  EXPECT_EQ(read_link_target("\\\\server\\share\\dir"), nullptr);
}

TEST(RealPathLimits, TooLongPathsGiveTheEmptyText) {
  const std::string long_path = "C:\\" + std::string(1300, 'p');
  EXPECT_EQ(take(resolve_real_path(long_path.c_str())), "");
}

// SIDs as the platform lays them out: only the machine's administering accounts may own a link
// that a service launch follows.
TEST(RealPathLinkOwner, OnlyAdministeringAccountsAreTrusted) {
  auto trusted = [](const wchar_t *text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text, &sid)) return false;
    const bool result = real_path_trusted_owner(sid, GetLengthSid(sid));
    LocalFree(sid);
    return result;
  };
  EXPECT_TRUE(trusted(L"S-1-5-18"));
  EXPECT_TRUE(trusted(L"S-1-5-32-544"));
  EXPECT_TRUE(trusted(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"));
  EXPECT_FALSE(trusted(L"S-1-5-21-1004336348-1177238915-682003330-1001")) << "a user";
  EXPECT_FALSE(trusted(L"S-1-5-32-545")) << "Users";
  EXPECT_FALSE(trusted(L"S-1-1-0")) << "Everyone";
  EXPECT_FALSE(trusted(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-1")) << "a service";
  EXPECT_FALSE(real_path_trusted_owner(nullptr, 0));
}

}  // namespace
