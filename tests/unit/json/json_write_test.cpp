#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "src/json/json.h"
#include "tests/unit/json/json_test_support.h"

namespace {

using json_test::cell;
using json_test::Doc;
using json_test::serialize;

// One document for all the numbers: a writer test should not spend its time creating documents.
std::string number_text(double value) {
  static Doc d;
  json_ref element = json_array_at(d.root, 0);
  cell(element)->kind = JSON_NUMBER;  // bypasses the finite check of json_set_number
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  cell(element)->w2 = static_cast<uint32_t>(bits);
  cell(element)->w3 = static_cast<uint32_t>(bits >> 32);
  const std::string text = serialize(element);
  return text;
}

std::string printf_text(double value) {
  char text[64];
  snprintf(text, sizeof text, "%.15g", value);
  return text;
}

TEST(JsonWriteScalars, LiteralsAndTheFreshRoot) {
  Doc d;
  EXPECT_EQ(serialize(d.root), "null");
  cell(d.root)->kind = JSON_BOOL;
  cell(d.root)->sub = 1;
  EXPECT_EQ(serialize(d.root), "true");
  cell(d.root)->sub = 0;
  EXPECT_EQ(serialize(d.root), "false");
  cell(d.root)->kind = JSON_REMOVED;
  EXPECT_EQ(serialize(d.root), "") << "nothing, and no failure";
}

TEST(JsonWriteScalars, NumbersUseFifteenSignificantDigits) {
  EXPECT_EQ(number_text(0.1), "0.1");
  EXPECT_EQ(number_text(1e20), "1e+20");
  EXPECT_EQ(number_text(2), "2");
  EXPECT_EQ(number_text(std::ldexp(1.0, 60)), "1.15292150460685e+18");
  EXPECT_EQ(number_text(-0.0), "-0");
  EXPECT_EQ(number_text(1e-5), "1e-05");
  EXPECT_EQ(number_text(0.0001), "0.0001");
  EXPECT_EQ(number_text(123456789012345.0), "123456789012345");
  EXPECT_EQ(number_text(1234567890123456.0), "1.23456789012346e+15");
  EXPECT_EQ(number_text(5e-324), "4.94065645841247e-324");
  // Not JSON: the write fails. The largest double prints above itself and reads back infinite.
  EXPECT_EQ(number_text(1.7976931348623157e308), "1.79769313486232e+308");
  for (double value : {HUGE_VAL, -HUGE_VAL, double(NAN)}) EXPECT_EQ(number_text(value), "<failed>");
}

TEST(JsonWriteScalars, NumbersMatchTheRuntimesPercentG) {
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> unit(-1, 1);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    double value;
    if (i % 2) {
      uint64_t bits = random();
      memcpy(&value, &bits, sizeof bits);
      if (!std::isfinite(value)) continue;
    } else {
      value = std::round(unit(random) * 1e6) * std::pow(10.0, exponent(random));
    }
    ASSERT_EQ(number_text(value), printf_text(value)) << value;
  }
}

std::string string_text(const std::string &bytes) {
  json_writer writer = {};
  EXPECT_TRUE(json_write_string(&writer, bytes.data(), bytes.data() + bytes.size()));
  std::string text(writer.text.data, writer.text.length);
  free(writer.text.data);
  return text;
}

TEST(JsonWriteStrings, OnlyControlBytesQuotesAndBackslashesAreEscaped) {
  EXPECT_EQ(string_text("\t\"\x01"), "\"\\t\\\"\\u0001\"");
  EXPECT_EQ(string_text("a/b\x7F\xC3\xA9"), "\"a/b\x7F\xC3\xA9\"");
  EXPECT_EQ(string_text("\b\f\n\r\\\x1F"), "\"\\b\\f\\n\\r\\\\\\u001f\"");
  EXPECT_EQ(string_text(std::string("a\0b", 3)), "\"a\\u0000b\"");
  EXPECT_EQ(string_text(""), "\"\"");
  // Long plain runs with an escape on either side of an 8-byte boundary.
  const std::string run(37, 'r');
  EXPECT_EQ(string_text(run + "\n" + run), "\"" + run + "\\n" + run + "\"");
  EXPECT_FALSE(json_write_string(nullptr, "a", "a" + 1));
}

// The launcher's crash-counter record, built the way the launcher builds it.
TEST(JsonWriteRecords, PrettyCrashCounterRecordIsExact) {
  Doc d;
  const std::string hash(64, 'f');
  json_ref member = {};
  ASSERT_TRUE(json_obj_at(d.root, "hash", &member));
  ASSERT_TRUE(json_set_string(member, hash.data(), hash.data() + 64,
                              json_string_hash(hash.data(), hash.data() + 64)));
  ASSERT_TRUE(json_obj_at(d.root, "count", &member));
  json_set_number(member, 2);
  const uint32_t used = d.doc()->used;
  const std::string text = serialize(d.root, true);
  EXPECT_EQ(text, "{\n\t\"count\": 2,\n\t\"hash\": \"" + hash + "\"\n}");
  EXPECT_EQ(text.size(), 92u);
  EXPECT_EQ(d.doc()->used, (used + 7) & ~7u) << "the member list is released (its alignment stays)";

  Doc back;
  ASSERT_TRUE(back.parse(text));
  const char *begin, *end;
  ASSERT_TRUE(json_get_string(json_obj_get(back.root, "hash"), &begin, &end));
  EXPECT_EQ(std::string(begin, end), hash);
  double count = 0;
  ASSERT_TRUE(json_get_number(json_obj_get(back.root, "count"), &count));
  EXPECT_EQ(count, 2);
}

TEST(JsonWriteLayout, CompactAndPrettyForms) {
  Doc d;
  ASSERT_TRUE(d.parse("{\"c\":{},\"a\":[1,{\"b\":null},[]],\"e\":[]}"));
  EXPECT_EQ(serialize(d.root), "{\"a\":[1,{\"b\":null},[]],\"c\":{},\"e\":[]}");
  EXPECT_EQ(serialize(d.root, true),
            "{\n\t\"a\": [\n\t\t1,\n\t\t{\n\t\t\t\"b\": null\n\t\t},\n\t\t[\n\t\t]\n\t],"
            "\n\t\"c\": {\n\t},\n\t\"e\": [\n\t]\n}");
  Doc empty;
  ASSERT_TRUE(empty.parse("[]"));
  EXPECT_EQ(serialize(empty.root, true), "[\n]");
}

TEST(JsonWriteLayout, IndentationStopsAt24Tabs) {
  Doc d;
  ASSERT_TRUE(d.parse(std::string(30, '[') + "1" + std::string(30, ']')));
  const std::string text = serialize(d.root, true);
  std::string deepest(26, '\t');
  deepest.front() = '\n';
  deepest.back() = '1';
  EXPECT_NE(text.find(deepest), std::string::npos);
  EXPECT_EQ(text.find(std::string(25, '\t')), std::string::npos);
  Doc back;
  ASSERT_TRUE(back.parse(text));
  EXPECT_EQ(serialize(back.root), std::string(30, '[') + "1" + std::string(30, ']'));
}

TEST(JsonWriteLayout, NoDeeperThanTheParserReads) {
  Doc d;
  ASSERT_TRUE(d.parse(std::string(500, '[') + std::string(500, ']')));
  const std::string text = serialize(d.root);
  EXPECT_EQ(text.size(), 1000u);
  json_ref innermost = d.root;
  for (int i = 1; i < 500; ++i) innermost = json_array_at(innermost, 0);
  json_array_at(innermost, 0);  // level 501, built through the API
  EXPECT_EQ(serialize(d.root).rfind("<failed>", 0), 0u);
}

TEST(JsonWriteLayout, AMemberListMovedByANestedWriteIsReadAfresh) {
  Doc d;
  const std::string text = "{\"a\":{\"x\":1,\"y\":2},\"b\":3}";
  ASSERT_TRUE(d.parse(text));
  // The outer member list fills the arena; the inner one reallocates it.
  uint32_t at = 0;
  ASSERT_TRUE(json_arena_alloc(d.root, d.doc()->capacity - d.doc()->used - 64, 1, &at));
  EXPECT_EQ(serialize(d.root), text);
}

TEST(JsonWriteLayout, MembersAreSortedUnlessTableOrderIsKept) {
  Doc d;
  // "z" hashes to slot 31 and "aa" to slot 39 of a 256-slot table.
  ASSERT_EQ(json_string_hash("z", "z" + 1) & 255, 31u);
  ASSERT_EQ(json_string_hash("aa", "aa" + 2) & 255, 39u);
  ASSERT_TRUE(d.parse("{\"b\":1,\"a\":2}"));
  EXPECT_EQ(serialize(d.root), "{\"a\":2,\"b\":1}");
  ASSERT_TRUE(d.parse("{\"aa\":1,\"z\":2}"));
  EXPECT_EQ(serialize(d.root), "{\"aa\":1,\"z\":2}");
  d.doc()->options = JSON_DOC_KEEP_ORDER;
  EXPECT_EQ(serialize(d.root), "{\"z\":2,\"aa\":1}");
}

TEST(JsonWriteFailures, AValueThatDoesNotResolveStopsTheWriteAndKeepsThePartialText) {
  Doc d;
  ASSERT_TRUE(d.parse("[1,2,3]"));
  json_cell *second = cell(json_array_at(d.root, 1));
  second->kind = JSON_FORWARD;
  second->w1 = d.doc()->used + 64;
  EXPECT_EQ(serialize(d.root), "<failed>[1,");

  Doc o;
  ASSERT_TRUE(o.parse("{\"a\":1,\"b\":2}"));
  json_cell *b = cell(json_obj_get(o.root, "b"));
  b->kind = JSON_FORWARD;
  b->w1 = o.doc()->used;
  json_writer writer = {};
  text_append(&writer.text, "x=", 2);
  EXPECT_FALSE(json_serialize(&writer, o.root));
  EXPECT_EQ(std::string(writer.text.data, writer.text.length), "x={\"a\":1,\"b\":");
  free(writer.text.data);
}

}  // namespace
