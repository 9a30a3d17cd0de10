#include <gtest/gtest.h>

#include "zeb/file_list.h"

namespace {

TEST(NameFilter, FragmentsMatchAsCaseSensitiveSubstrings) {
  EXPECT_TRUE(filter_match("app.dll", "dll|exe", "|"));
  EXPECT_TRUE(filter_match("dllhost.txt", "dll|exe", "|"));
  EXPECT_TRUE(filter_match("setup.exe", "dll|exe", "|"));
  EXPECT_FALSE(filter_match("APP.DLL", "dll|exe", "|"));
  EXPECT_FALSE(filter_match("readme.md", "dll|exe", "|"));
  EXPECT_FALSE(filter_match("", "txt", "|"));
  // A fragment is one run of characters, not a set of them.
  EXPECT_FALSE(filter_match("d-l-l", "dll", "|"));
}

TEST(NameFilter, FilterWithoutFragmentsAdmitsEverything) {
  for (const char *filter : {"", "|", "|||"}) {
    EXPECT_TRUE(filter_match("anything.bin", filter, "|")) << "filter '" << filter << "'";
    EXPECT_TRUE(filter_match("", filter, "|")) << "filter '" << filter << "'";
  }
  EXPECT_TRUE(filter_match("anything.bin", nullptr, "|"));
}

TEST(NameFilter, RunsOfSeparatorsMakeNoEmptyFragments) {
  // An empty fragment would be a substring of every name.
  EXPECT_FALSE(filter_match("notes.md", "||txt||json|", "|"));
  EXPECT_TRUE(filter_match("cc0.json", "||txt||json|", "|"));
  EXPECT_TRUE(filter_match("a.txt", "|txt", "|"));
}

TEST(NameFilter, AnySeparatorCharacterSplits) {
  EXPECT_TRUE(filter_match("x.json", "txt, json;ini", ", ;"));
  EXPECT_TRUE(filter_match("x.ini", "txt, json;ini", ", ;"));
  EXPECT_FALSE(filter_match("x.json", "txt, json;ini", "|"));  // the whole filter is one fragment
}

}  // namespace
