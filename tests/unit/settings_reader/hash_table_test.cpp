#include "zeb/hash_table.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

TEST(HashTable, KeysHashAsSignedBytes) {
  EXPECT_EQ(ZEB_HashString(nullptr), 0u);
  EXPECT_EQ(ZEB_HashString(""), 5381u);
  EXPECT_EQ(ZEB_HashString("a"), 5381u * 33 + 97);
  // 0xE9 counts as -23: the bucket of a non-ASCII key must not depend on char signedness.
  EXPECT_EQ(ZEB_HashString("\xE9"), 5381u * 33 - 23);
}

TEST(HashTable, SetReplacesAndReturnsThePreviousValue) {
  ZEB_Hash *table = ZEB_HashCreate(0);
  ASSERT_EQ(table->bucketCount, 100u);
  int one = 1, two = 2;
  char key[] = "name";
  EXPECT_EQ(ZEB_HashSet(table, key, &one), nullptr);
  key[0] = 'N';  // the table keeps its own copy of the key
  EXPECT_EQ(ZEB_HashGet(table, "name"), &one);
  EXPECT_EQ(ZEB_HashGet(table, "Name"), nullptr);
  EXPECT_EQ(ZEB_HashSet(table, "name", &two), &one);
  EXPECT_EQ(ZEB_HashGet(table, "name"), &two);
  EXPECT_EQ(ZEB_HashGet(table, "nam"), nullptr);
  ZEB_HashDestroy(&table, nullptr);
  EXPECT_EQ(table, nullptr);
}

TEST(HashTable, CollidingKeysShareABucketAndStayApart) {
  // One bucket: every key collides, so lookups must compare whole keys.
  ZEB_Hash *table = ZEB_HashCreate(1);
  int values[50];
  for (int i = 0; i < 50; ++i) {
    const std::string key = std::string("k") + std::to_string(i);
    EXPECT_EQ(ZEB_HashSet(table, key.c_str(), &values[i]), nullptr);
  }
  EXPECT_EQ(table->buckets[0].count, 50u);
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(ZEB_HashGet(table, (std::string("k") + std::to_string(i)).c_str()), &values[i]);
  ZEB_HashDestroy(&table, nullptr);
}

TEST(HashTable, WalkVisitsEveryKeyOnceAcrossBuckets) {
  ZEB_Hash *table = ZEB_HashCreate(7);
  std::map<std::string, int> seen;
  for (int i = 0; i < 200; ++i)
    ZEB_HashSet(table, (std::string("key") + std::to_string(i)).c_str(), &seen);
  ZEB_HashSet(table, "key5", nullptr);  // a replaced value does not add an entry

  ZEB_HashCursor cursor = {0, 0};
  const char *key = nullptr;
  while (ZEB_HashGetNextKey(table, &cursor, &key)) ++seen[key];
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(seen.size(), 200u);
  for (const auto &[name, count] : seen) EXPECT_EQ(count, 1) << name;
  // A finished cursor stays finished.
  key = "stale";
  EXPECT_FALSE(ZEB_HashGetNextKey(table, &cursor, &key));
  EXPECT_EQ(key, nullptr);
  ZEB_HashDestroy(&table, nullptr);
}

int released = 0;
void count_release(void *value) {
  ++released;
  delete static_cast<int *>(value);
}

TEST(HashTable, DestroyPassesEveryNonNullValueToTheValueFunction) {
  ZEB_Hash *table = ZEB_HashCreate(3);
  for (int i = 0; i < 10; ++i) ZEB_HashSet(table, std::to_string(i).c_str(), new int(i));
  ZEB_HashSet(table, "empty", nullptr);
  released = 0;
  ZEB_HashDestroy(&table, count_release);
  EXPECT_EQ(released, 10);
  EXPECT_EQ(table, nullptr);
  ZEB_HashDestroy(&table, count_release);  // a null table does nothing
  ZEB_HashDestroy(nullptr, count_release);
  EXPECT_EQ(released, 10);
}

}  // namespace
