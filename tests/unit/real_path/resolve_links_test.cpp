#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "src/trust/real_path.h"
#include "zeb/memory.h"

namespace {

// A file system described by its links: path -> target. Like Windows, it does not care
// which separator a path uses.
struct LinkTable {
  std::map<std::string, std::string> links;
  std::vector<std::string> asked;

  static char *lookup(const char *path, void *self) {
    auto *table = static_cast<LinkTable *>(self);
    table->asked.push_back(path);
    std::string key = path;
    for (char &c : key)
      if (c == '/') c = '\\';
    const auto found = table->links.find(key);
    return found == table->links.end() ? nullptr : ZEB_Strdup(found->second.c_str());
  }

  std::string resolve(const std::string &path) {
    asked.clear();
    char *result = resolve_links(ZEB_Strdup(path.c_str()), lookup, this);
    std::string text = result;
    ZEB_Free(result);
    return text;
  }
};

TEST(ResolveLinks, PathsWithoutLinksLoseOnlyTrailingSeparators) {
  LinkTable fs;
  EXPECT_EQ(fs.resolve("E:\\Apps\\Tool\\"), "E:\\Apps\\Tool");
  EXPECT_EQ(fs.resolve("E:\\Apps\\Tool\\\\/"), "E:\\Apps\\Tool");
  // The whole path first, then its prefixes from the longest; never the cut at position 0,
  // nor a bare drive, which names the current directory on that drive.
  EXPECT_EQ(fs.resolve("E:\\a\\b\\c"), "E:\\a\\b\\c");
  EXPECT_EQ(fs.asked, (std::vector<std::string>{"E:\\a\\b\\c", "E:\\a\\b", "E:\\a"}));
  EXPECT_EQ(fs.resolve("\\a\\b"), "\\a\\b");
  EXPECT_EQ(fs.asked, (std::vector<std::string>{"\\a\\b", "\\a"}));
  EXPECT_EQ(fs.resolve(""), "");
}

TEST(ResolveLinks, RootsKeepTheirSeparatorAndBareDrivesAreNeverLookedUp) {
  LinkTable fs;
  fs.links["C:"] = "D:\\StartedHere";  // the current directory on C: is a junction
  EXPECT_EQ(fs.resolve("C:\\ProgramData\\Quarlo"), "C:\\ProgramData\\Quarlo");
  EXPECT_EQ(fs.resolve("C:\\"), "C:\\");
  EXPECT_EQ(fs.resolve("C://"), "C:\\");
  EXPECT_EQ(fs.resolve("\\"), "\\");
  fs.links["C:\\Link"] = "D:\\";  // a junction to a drive root
  EXPECT_EQ(fs.resolve("C:\\Link"), "D:\\");
  EXPECT_EQ(fs.resolve("C:\\Link\\x"), "D:\\x");
  for (const std::string &asked : fs.asked) EXPECT_NE(asked, "D:");
}

TEST(ResolveLinks, SeparatorsAreWrittenAsBackslashes) {
  LinkTable fs;
  EXPECT_EQ(fs.resolve("E:/a\\b/c"), "E:\\a\\b\\c");
  fs.links["E:\\Link"] = "D:\\Real";
  EXPECT_EQ(fs.resolve("E:/Link/Sub/x"), "D:\\Real\\Sub\\x");
}

TEST(ResolveLinks, JunctionInAPrefixIsReplacedByItsTarget) {
  LinkTable fs;
  fs.links["E:\\Link"] = "D:\\Real";
  EXPECT_EQ(fs.resolve("E:\\Link\\Sub"), "D:\\Real\\Sub");
  EXPECT_EQ(fs.resolve("E:\\Link\\Sub\\"), "D:\\Real\\Sub");
  EXPECT_EQ(fs.resolve("E:\\Link"), "D:\\Real");
  EXPECT_EQ(fs.resolve("E:\\Linked\\Sub"), "E:\\Linked\\Sub") << "whole components only";
}

TEST(ResolveLinks, LongestLinkedPrefixWinsAndChainsAreFollowed) {
  LinkTable fs;
  fs.links["E:\\A"] = "X:\\one";
  fs.links["E:\\A\\B"] = "Y:\\two";
  EXPECT_EQ(fs.resolve("E:\\A\\B\\C"), "Y:\\two\\C");

  fs.links["Y:\\two"] = "Z:\\three";  // a link whose target is a link
  fs.links["Z:\\three\\C"] = "W:\\four";
  EXPECT_EQ(fs.resolve("E:\\A\\B\\C\\D"), "W:\\four\\D");
}

TEST(ResolveLinks, RelativeLinkTargetsComeBackAbsolute) {
  // E:\A\B\L -> ..\T is handed over already made absolute against E:\A\B.
  LinkTable fs;
  fs.links["E:\\A\\B\\L"] = "E:\\A\\T";
  EXPECT_EQ(fs.resolve("E:\\A\\B\\L\\file.dll"), "E:\\A\\T\\file.dll");
}

TEST(ResolveLinks, CyclesEndAtTheBound) {
  LinkTable fs;
  fs.links["E:\\X"] = "E:\\Y";
  fs.links["E:\\Y"] = "E:\\X";
  EXPECT_EQ(fs.resolve("E:\\X\\sub"), "E:\\X\\sub");  // an even number of substitutions
  EXPECT_LE(fs.asked.size(), size_t(3 * REAL_PATH_MAX_SUBSTITUTIONS));

  // A link into itself grows the path on every round; the bound stops that too.
  LinkTable growing;
  growing.links["E:\\L"] = "E:\\L\\L";
  const std::string result = growing.resolve("E:\\L\\x");
  EXPECT_EQ(result.size(),
            std::string("E:\\L\\x").size() + 2 * size_t(REAL_PATH_MAX_SUBSTITUTIONS));
}

TEST(ResolveLinks, EmptyTargetsLeaveTheirPrefixUnresolved) {
  LinkTable fs;
  fs.links["E:\\Mount"] = "";
  EXPECT_EQ(fs.resolve("E:\\Mount\\Data"), "E:\\Mount\\Data");
  EXPECT_EQ(fs.resolve("E:\\Mount"), "E:\\Mount");
  // A shorter linked prefix is still resolved.
  fs.links["E:\\Outer"] = "D:\\O";
  fs.links["E:\\Outer\\Mount"] = "";
  EXPECT_EQ(fs.resolve("E:\\Outer\\Mount\\Data"), "D:\\O\\Mount\\Data");
}

}  // namespace
