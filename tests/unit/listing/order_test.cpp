#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zeb/file_list.h"
#include "zeb/memory.h"

namespace {

ZEB_FileDesc entry(const char *name, bool dir = false, uint64_t size = 0) {
  return {const_cast<char *>(""), const_cast<char *>(name), size, dir};
}

int compare(const ZEB_FileDesc &a, const ZEB_FileDesc &b) { return file_list_compare(&a, &b); }

std::vector<std::string> sorted_names(std::vector<ZEB_FileDesc> entries) {
  ZEB_Sort(entries.data(), entries.size(), sizeof(ZEB_FileDesc), file_list_compare);
  std::vector<std::string> names;
  for (const ZEB_FileDesc &e : entries) names.push_back(e.name);
  return names;
}

using Names = std::vector<std::string>;

TEST(ListingOrder, DirectoriesComeBeforeFiles) {
  EXPECT_LT(compare(entry("zz", true), entry("a")), 0);
  EXPECT_GT(compare(entry("a"), entry("zz", true)), 0);
  EXPECT_LT(compare(entry("a", true), entry("b", true)), 0);
}

TEST(ListingOrder, NamesCompareWithoutRegardToAsciiCase) {
  EXPECT_LT(compare(entry("apple"), entry("Banana")), 0);
  EXPECT_LT(compare(entry("Banana"), entry("cherry")), 0);
  EXPECT_LT(compare(entry("ab"), entry("ABC")), 0);
  // Letters fold to lower case, so an underscore sorts before both a and A.
  EXPECT_LT(compare(entry("_x"), entry("a")), 0);
  EXPECT_LT(compare(entry("_x"), entry("A")), 0);
}

TEST(ListingOrder, CaseTwinsPutHigherCodeUnitsFirst) {
  EXPECT_LT(compare(entry("abc"), entry("ABC")), 0);
  EXPECT_GT(compare(entry("ABC"), entry("abc")), 0);
  EXPECT_LT(compare(entry("aBc"), entry("ABc")), 0);
  EXPECT_EQ(compare(entry("same"), entry("same")), 0);
}

TEST(ListingOrder, OnlyAsciiLettersFold) {
  // U+00C9 and U+00E9 stay distinct and sort by code unit, after every ASCII letter.
  EXPECT_LT(compare(entry("\xC3\x89"), entry("\xC3\xA9")), 0);
  EXPECT_LT(compare(entry("z"), entry("\xC3\x89")), 0);
}

TEST(ListingOrder, NamesCompareAsUtf16CodeUnits) {
  // U+1F600 is a surrogate pair starting 0xD83D, below U+FF21; byte or code point order would
  // put it last.
  EXPECT_LT(compare(entry("\xF0\x9F\x98\x80"), entry("\xEF\xBC\xA1")), 0);
  // Bytes that are not UTF-8 count as the units of the same value: 0xFF is U+00FF.
  EXPECT_EQ(compare(entry("\xFF"), entry("\xC3\xBF")), 0);
}

TEST(ListingOrder, SortsAListingDirectoriesFirstThenNames) {
  EXPECT_EQ(sorted_names({entry("b"), entry("A"), entry(".", true), entry("z", true), entry("a"),
                          entry("..", true)}),
            Names({".", "..", "z", "a", "A", "b"}));
}

TEST(ListingOrder, EqualRecordsKeepTheirOrder) {
  std::vector<ZEB_FileDesc> entries;
  for (uint64_t i = 0; i < 40; ++i) entries.push_back(entry(i % 2 ? "twin" : "other", false, i));
  ZEB_Sort(entries.data(), entries.size(), sizeof(ZEB_FileDesc), file_list_compare);
  for (size_t i = 1; i < entries.size(); ++i) {
    if (std::string(entries[i - 1].name) == entries[i].name) {
      EXPECT_LT(entries[i - 1].size, entries[i].size) << "index " << i;
    }
  }
}

TEST(FreeFileList, ReleasesOnceAndNullsThePointer) {
  auto *list = static_cast<ZEB_FileList *>(ZEB_Alloc(1, sizeof(ZEB_FileList)));
  list->len = 2;
  list->files = static_cast<ZEB_FileDesc *>(ZEB_Alloc(2, sizeof(ZEB_FileDesc)));
  for (uint32_t i = 0; i < 2; ++i) {
    list->files[i].name = ZEB_Strdup("name");
    list->files[i].path = ZEB_Strdup("dir\\name");
  }
  ZEB_FreeFileList(&list);
  EXPECT_EQ(list, nullptr);
  ZEB_FreeFileList(&list);  // a second release does nothing
  EXPECT_EQ(list, nullptr);
  ZEB_FreeFileList(nullptr);
}

}  // namespace
