#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "zeb/file_list.h"
#include "zeb/memory.h"

namespace {

struct Record {
  int key;
  int position;  // where the record stood before sorting
};

int by_key(const void *a, const void *b) {
  const int x = static_cast<const Record *>(a)->key;
  const int y = static_cast<const Record *>(b)->key;
  return (x > y) - (x < y);
}

// Odd-sized elements: three bytes, ordered by the first byte only.
int by_first_byte(const void *a, const void *b) {
  return int(*static_cast<const unsigned char *>(a)) - int(*static_cast<const unsigned char *>(b));
}

TEST(StableSort, MatchesStdStableSortOnManyEqualKeys) {
  std::mt19937 random(20240611);
  for (const int count : {2, 3, 17, 256, 5000}) {
    for (const int distinct : {1, 3, 50}) {
      std::vector<Record> records(count);
      for (int i = 0; i < count; ++i) records[i] = {int(random() % distinct), i};
      std::vector<Record> expected = records;
      std::stable_sort(expected.begin(), expected.end(),
                       [](const Record &a, const Record &b) { return a.key < b.key; });
      ZEB_Sort(records.data(), records.size(), sizeof(Record), by_key);
      for (int i = 0; i < count; ++i) {
        ASSERT_EQ(records[i].key, expected[i].key) << count << " records, index " << i;
        ASSERT_EQ(records[i].position, expected[i].position) << count << " records, index " << i;
      }
    }
  }
}

TEST(StableSort, SortsElementsOfAnySize) {
  std::mt19937 random(7);
  std::vector<unsigned char> bytes(3 * 400);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    bytes[i] = static_cast<unsigned char>(random() % 4);
    bytes[i + 1] = static_cast<unsigned char>(i / 3 >> 8);
    bytes[i + 2] = static_cast<unsigned char>(i / 3);
  }
  ZEB_Sort(bytes.data(), bytes.size() / 3, 3, by_first_byte);
  for (size_t i = 3; i < bytes.size(); i += 3) {
    const int previous_tag = bytes[i - 2] << 8 | bytes[i - 1];
    const int tag = bytes[i + 1] << 8 | bytes[i + 2];
    ASSERT_LE(bytes[i - 3], bytes[i]);
    if (bytes[i - 3] == bytes[i]) {
      ASSERT_LT(previous_tag, tag);
    }
  }
}

}  // namespace
