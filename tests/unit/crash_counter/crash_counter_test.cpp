#include "src/launch/crash_counter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace {

const std::string kHash = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string record(const char *hash, int32_t count) {
  char buffer[CRASH_COUNTER_RECORD_SIZE];
  memset(buffer, 'X', sizeof buffer);
  const int32_t length = crash_counter_write(hash, count, buffer);
  return length > 0 ? std::string(buffer, size_t(length)) : std::string();
}

// Discard flag and count of a record text read against kHash.
std::pair<bool, int32_t> read(const std::string &text, const char *expected = kHash.c_str()) {
  int32_t count = -99;
  const bool discard = crash_counter_parse(text.data(), text.size(), expected, &count);
  return {discard, count};
}

TEST(CrashCounterWrite, ExactPrettyRecord) {
  const std::string text = record(kHash.c_str(), 2);
  EXPECT_EQ(text, "{\n\t\"count\": 2,\n\t\"hash\": \"" + kHash + "\"\n}");
  EXPECT_EQ(text.size(), 92u);
  EXPECT_EQ(record(kHash.c_str(), -2147483647 - 1).size(), 102u) << "the longest count";
  EXPECT_EQ(record(nullptr, 1), "{\n\t\"count\": 1\n}");
}

TEST(CrashCounterWrite, RecordsThatWouldOverflowTheBufferAreRefused) {
  // Every quote is written as two bytes: 64 of them make a record longer than 127 bytes.
  const std::string quotes(64, '"');
  EXPECT_EQ(record(quotes.c_str(), 1), "");
  const std::string controls(20, '\x01');  // six bytes each once escaped
  EXPECT_EQ(record(controls.c_str(), 1), "");
  // Escaped, but still short enough.
  EXPECT_EQ(record("a\"b", 3), "{\n\t\"count\": 3,\n\t\"hash\": \"a\\\"b\"\n}");
}

TEST(CrashCounterRead, WrittenRecordsReadBack) {
  for (int32_t count : {0, 1, 2, 3, 1000, -1, 2147483647}) {
    EXPECT_EQ(read(record(kHash.c_str(), count)), std::make_pair(false, count)) << count;
  }
}

TEST(CrashCounterRead, CountsRoundToNearestEven) {
  auto with_count = [](const std::string &count) {
    return "{\"hash\": \"" + kHash + "\", \"count\": " + count + "}";
  };
  EXPECT_EQ(read(with_count("2.5")), std::make_pair(false, 2));
  EXPECT_EQ(read(with_count("3.5")), std::make_pair(false, 4));
  EXPECT_EQ(read(with_count("-2.5")), std::make_pair(false, -2));
  EXPECT_EQ(read(with_count("2.4999")), std::make_pair(false, 2));
  EXPECT_EQ(read(with_count("-1")), std::make_pair(false, -1));
  EXPECT_EQ(read(with_count("1e10")), std::make_pair(false, 0)) << "outside 32 bits";
  EXPECT_EQ(read(with_count("2147483647.5")), std::make_pair(false, 0)) << "rounds out of range";
  EXPECT_EQ(read(with_count("-2147483648")), std::make_pair(false, -2147483647 - 1));
  EXPECT_EQ(read(with_count("1e999")), std::make_pair(false, 0)) << "not finite";
}

TEST(CrashCounterRead, MembersInAnyOrderOthersIgnored) {
  EXPECT_EQ(read("{\"other\": [1, 2, {}], \"count\": 7, \"x\": null, \"hash\": \"" + kHash + "\"}"),
            std::make_pair(false, 7));
}

TEST(CrashCounterRead, DefectiveRecordsAreDiscardedWithCountZero) {
  const std::string good_hash = "\"hash\": \"" + kHash + "\"";
  const std::string cases[] = {
      "",
      "not json",
      "{\"count\": 2}",
      "{" + good_hash + "}",
      "{" + good_hash + ", \"count\": \"2\"}",
      "{" + good_hash + ", \"count\": true}",
      "{\"hash\": 5, \"count\": 2}",
      "[" + good_hash + "]",
      "{" + good_hash + ", \"count\": 2",
      "{\"hash\": \"" + kHash + "0\", \"count\": 2}",  // 65 characters, first 64 matching
      "{\"hash\": \"" + std::string(64, 'f') + "\", \"count\": 9}",  // another build
  };
  for (const auto &text : cases) EXPECT_EQ(read(text), std::make_pair(true, 0)) << text;
  EXPECT_EQ(read(record(kHash.c_str(), 2), nullptr), std::make_pair(true, 0))
      << "no expected hash: always discarded";
}

TEST(CrashCounterRead, CountOutputIsOptional) {
  const std::string text = record(kHash.c_str(), 2);
  EXPECT_FALSE(crash_counter_parse(text.data(), text.size(), kHash.c_str(), nullptr));
}

}  // namespace
