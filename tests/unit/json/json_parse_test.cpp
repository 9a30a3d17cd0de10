#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "src/json/json.h"
#include "tests/unit/json/json_test_support.h"

namespace {

using json_test::cell;
using json_test::Doc;
using json_test::serialize;

std::string bytes_of(json_ref ref) {
  const char *begin, *end;
  if (!json_get_string(ref, &begin, &end)) return "<none>";
  return std::string(begin, end);
}

double number_of(json_ref ref) {
  double value = -12345;
  EXPECT_TRUE(json_get_number(ref, &value));
  return value;
}

// Parses from an exactly sized heap copy, so that any read past the end is caught.
bool parse_exact(Doc &d, const std::string &text) {
  std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
  memcpy(copy.get(), text.data(), text.size());
  return json_parse(d.root, copy.get(), copy.get() + text.size());
}

struct Failure {
  std::string text;
  std::string report;
};

const char *const kExpectedValue =
    "expected null, true, false, a number, a string (\"...\"), an array ([...]), or an object "
    "({...})";
const char *const kNotANumber = "not a number, according to the JSON spec";

TEST(JsonParseMessages, EachFaultIsReportedAtItsLineAndColumn) {
  const std::string value = kExpectedValue;
  const std::string nan = kNotANumber;
  const std::vector<Failure> cases = {
      {"", "after whitespace was removed, nothing remained to parse at line 1 column 1"},
      {"\n\n  ", "after whitespace was removed, nothing remained to parse at line 3 column 3"},
      {" \t\r\n", "after whitespace was removed, nothing remained to parse at line 2 column 1"},
      {"{\"a\":1} x", "{ has no corresponding } at line 1 column 1"},
      {"  [1", "[ has no corresponding ] at line 1 column 3"},
      {"\"abc", "\" has no corresponding \" at line 1 column 1"},
      {"[1] [2]", "extraneous text found after a successful parse at line 1 column 4"},
      {"nullx", "extraneous text found after a successful parse at line 1 column 5"},
      {"[nul]", "expected 'null' at line 1 column 2"},
      {"[tru]", "expected 'true' or 'false' at line 1 column 2"},
      {"fals", "expected 'true' or 'false' at line 1 column 1"},
      {"[truex]", "expected a comma (,) at line 1 column 6"},
      {"[1 2]", "expected a comma (,) at line 1 column 4"},
      {"{\"a\":1 \"b\":2}", "expected a comma (,) at line 1 column 8"},
      {"{\"a\" 1}", "expected a colon (:) at line 1 column 6"},
      {"[1,]", value + " at line 1 column 4"},
      {".5", value + " at line 1 column 1"},
      {"[\n 1,\n  x]", value + " at line 3 column 3"},
      {"[\"\xC3\xA9\", x]", value + " at line 1 column 8"},
      {"{1:2}",
       "leading \" expected before string, but reached end of text instead at line 1 "
       "column 2"},
      {"{\"a\":1,}",
       "leading \" expected before string, but reached end of text instead at line 1 "
       "column 8"},
      {"01", nan + " at line 1 column 1"},
      {"1.", nan + " at line 1 column 1"},
      {"-", nan + " at line 1 column 1"},
      {"1e", nan + " at line 1 column 1"},
      {"1e+", nan + " at line 1 column 1"},
      {"1x", nan + " at line 1 column 1"},
      {"[-01]", nan + " at line 1 column 2"},
      {"[1.e5]", nan + " at line 1 column 2"},
      {"[--1]", nan + " at line 1 column 2"},
      {"[1]x]", "extraneous text found after a successful parse at line 1 column 4"},
      {"\"a\tb\"", "unescaped character found in string at line 1 column 2"},
      {"\"ab\\n\tc\"", "unescaped character found in string at line 1 column 6"},
      {"\"abc\\\"",
       "trailing \" expected after string, but reached end of text instead at line 1 "
       "column 7"},
      {"\"\\ude00\"",
       "second half of UTF-16 surrogate pair found in string where first should be "
       "at line 1 column 8"},
      {"\"\\ud83dx\"",
       "second half of UTF-16 surrogate pair in string didn't follow first half at "
       "line 1 column 8"},
      {"\"\\ud83d\\u0041\"",
       "second half of UTF-16 surrogate pair in string outside of valid "
       "range at line 1 column 14"},
      {"\"\\x\"",
       "expected one of \",\\,/,b,f,n,r,t,u after \\ in string, but found something "
       "else instead at line 1 column 4"},
      {"\"\\u12\"",
       "expected one of \",\\,/,b,f,n,r,t,u after \\ in string, but found something "
       "else instead at line 1 column 4"},
  };
  for (const Failure &c : cases) {
    Doc d;
    EXPECT_FALSE(parse_exact(d, c.text)) << c.text;
    EXPECT_EQ(d.error(), c.report) << c.text;
  }
}

TEST(JsonParseMessages, UnquotedKeysNeedTheOptionAndDigits) {
  Doc d(JSON_DOC_UINT64_KEYS);
  EXPECT_FALSE(d.parse("{\"a\":1,\n x:2}"));
  EXPECT_EQ(d.error(), "expected a uint64 at line 2 column 2");
  // A quoted key that fails is not a number, whatever follows the failure.
  EXPECT_FALSE(d.parse("{\"\\q1:2}"));
  EXPECT_EQ(d.error(), "expected a uint64 at line 1 column 2");
  EXPECT_FALSE(d.parse("{\"ab\\q\":1}"));
  EXPECT_EQ(d.error(), "expected a uint64 at line 1 column 2");
}

// A lexer over `text` into the document's root, for driving the readers directly.
json_lexer lexer_over(const Doc &d, const std::string &text) {
  json_lexer lexer = {};
  lexer.ref = d.root;
  lexer.begin = lexer.cursor = lexer.line_start = text.data();
  lexer.end = text.data() + text.size();
  return lexer;
}

TEST(JsonParseMessages, TheLineCountStopsAtItsLimit) {
  Doc d;
  const std::string text = "\n\n1";
  json_lexer lexer = lexer_over(d, text);
  lexer.line = INT32_MAX - 1;
  EXPECT_TRUE(json_parse_value(&lexer, d.root));
  EXPECT_EQ(lexer.line, INT32_MAX);
}

TEST(JsonParseMessages, AnInvalidTargetIsWeird) {
  Doc d;
  const json_ref outside = {d.doc(), 4096};
  const std::string text = "  {}";
  EXPECT_FALSE(json_parse(outside, text.data(), text.data() + text.size()));
  EXPECT_EQ(d.error(), "json is weird at line 1 column 3");
  const json_ref no_document = {};
  EXPECT_FALSE(json_parse(no_document, text.data(), text.data() + text.size()));
}

TEST(JsonParseMessages, ABackslashAtTheVeryEndOfTheText) {
  // A top-level text cannot end in a backslash inside a string (the bracket check stops it
  // first), so the string reader is driven directly.
  Doc d;
  const std::string text = "\"ab\\";
  json_lexer lexer = lexer_over(d, text);
  lexer.key_hash = 5381;
  EXPECT_FALSE(json_parse_string(&lexer));
  EXPECT_STREQ(lexer.message,
               "expected one of \",\\,/,b,f,n,r,t,u after \\ in string, but reached end of text "
               "instead");
  EXPECT_EQ(lexer.cursor, lexer.end);
}

TEST(JsonParseMessages, ASuccessfulParseKeepsTheLastFailureText) {
  Doc d;
  EXPECT_FALSE(d.parse("[1,]"));
  const std::string failure = d.error();
  EXPECT_TRUE(d.parse("[1]"));
  EXPECT_EQ(d.error(), failure);
  EXPECT_FALSE(d.parse("x"));
  EXPECT_EQ(d.error(), std::string(kExpectedValue) + " at line 1 column 1");
}

std::string nested(int levels, const std::string &inner = "") {
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

TEST(JsonParseNesting, FiveHundredLevelsParseAndTheNextIsRefused) {
  Doc d;
  EXPECT_TRUE(d.parse(nested(500))) << d.error();
  const std::string refused =
      "at more than 500 nesting levels deep, this JSON is unlikely a sincere attempt to convey "
      "information at line 1 column 501";
  EXPECT_FALSE(d.parse(nested(501)));
  EXPECT_EQ(d.error(), refused);
  EXPECT_FALSE(d.parse(nested(500, "1")));
  EXPECT_EQ(d.error(), refused);

  std::string objects;
  for (int i = 0; i < 499; ++i) objects += "{\"k\":";
  objects += "[]" + std::string(499, '}');
  EXPECT_TRUE(d.parse(objects)) << d.error();
}

TEST(JsonParseNumbers, StrictSyntaxAndRuntimeConversion) {
  Doc d;
  ASSERT_TRUE(
      d.parse("[-0, 0.5e-3, 1E+2, 1e999, -1e999, 12345678901234567890, 0, 1e-400,"
              "\t2.5 ,7\n]"))
      << d.error();
  EXPECT_TRUE(std::signbit(number_of(json_array_at(d.root, 0))));
  EXPECT_EQ(number_of(json_array_at(d.root, 0)), 0.0);
  EXPECT_EQ(number_of(json_array_at(d.root, 1)), 0.0005);
  EXPECT_EQ(number_of(json_array_at(d.root, 2)), 100.0);
  EXPECT_EQ(number_of(json_array_at(d.root, 3)), HUGE_VAL);
  EXPECT_EQ(number_of(json_array_at(d.root, 4)), -HUGE_VAL);
  EXPECT_EQ(number_of(json_array_at(d.root, 5)), 12345678901234567890.0);
  EXPECT_EQ(number_of(json_array_at(d.root, 6)), 0.0);
  EXPECT_EQ(number_of(json_array_at(d.root, 7)), 0.0);
  EXPECT_EQ(number_of(json_array_at(d.root, 8)), 2.5);
  EXPECT_EQ(number_of(json_array_at(d.root, 9)), 7.0);
  // Correct rounding at the halfway point between two doubles, and a long mantissa.
  ASSERT_TRUE(
      d.parse("[9007199254740993, 0.1000000000000000055511151231257827, 2.2250738585072011e-308]"));
  EXPECT_EQ(number_of(json_array_at(d.root, 0)), 9007199254740992.0);
  EXPECT_EQ(number_of(json_array_at(d.root, 1)), 0.1);
  EXPECT_EQ(number_of(json_array_at(d.root, 2)), 2.2250738585072011e-308);
}

TEST(JsonParseNumbers, TextNeedNotBeTerminated) {
  for (const char *text : {"123", "-4.5e2", "0", "true", "false", "null", "\"x\"", "[7]"}) {
    Doc d;
    EXPECT_TRUE(parse_exact(d, text)) << text << ": " << d.error();
  }
  Doc d;
  ASSERT_TRUE(parse_exact(d, "-4.5e2"));
  EXPECT_EQ(number_of(d.root), -450.0);
  Doc keys(JSON_DOC_UINT64_KEYS);
  EXPECT_TRUE(parse_exact(keys, "{12:1}"));
}

TEST(JsonParseStrings, EscapesAndSurrogatePairsDecodeToUtf8) {
  Doc d;
  ASSERT_TRUE(
      d.parse("[\"\\u00e9\", \"\\ud83d\\ude00\", \"\\\"\\\\\\/\\b\\f\\n\\r\\t\", "
              "\"a\\u0000b\", \"\xC3\xA9\x7F\\u20AC\", \"\"]"))
      << d.error();
  EXPECT_EQ(bytes_of(json_array_at(d.root, 0)), "\xC3\xA9");
  EXPECT_EQ(bytes_of(json_array_at(d.root, 1)), "\xF0\x9F\x98\x80");
  EXPECT_EQ(bytes_of(json_array_at(d.root, 2)), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(bytes_of(json_array_at(d.root, 3)), std::string("a\0b", 3));
  EXPECT_EQ(bytes_of(json_array_at(d.root, 4)), "\xC3\xA9\x7F\xE2\x82\xAC");
  EXPECT_EQ(bytes_of(json_array_at(d.root, 5)), "");
  // The stored hash covers the decoded bytes, so escaped keys are found by their plain text.
  for (uint32_t i = 0; i < 6; ++i) {
    const std::string text = bytes_of(json_array_at(d.root, i));
    EXPECT_EQ(cell(json_array_at(d.root, i))->w2,
              json_string_hash(text.data(), text.data() + text.size()));
  }
}

TEST(JsonParseStrings, AFailedStringGivesBackItsArenaSpace) {
  Doc d;
  EXPECT_FALSE(d.parse("\"abcdefgh\\q\""));
  EXPECT_EQ(d.doc()->used, 16u);
  EXPECT_EQ(cell(d.root)->kind, JSON_NULL);
}

TEST(JsonParseObjects, MembersAreFoundByKeyAndTheLastDuplicateWins) {
  Doc d;
  ASSERT_TRUE(d.parse("{\"a\\u0062\":1,\"a\":1,\"a\":[2],\"hash\":\"h\"}")) << d.error();
  EXPECT_EQ(cell(d.root)->w3, 3u);
  EXPECT_EQ(number_of(json_obj_get(d.root, "ab")), 1.0);
  EXPECT_EQ(serialize(json_obj_get(d.root, "a")), "[2]");
  EXPECT_EQ(bytes_of(json_obj_get(d.root, "hash")), "h");
}

TEST(JsonParseObjects, UnsignedKeysWithTheOption) {
  Doc d(JSON_DOC_UINT64_KEYS);
  ASSERT_TRUE(d.parse("{1:2, -1 : 3, +5:4, 99999999999999999999999:5, \"s\":6}")) << d.error();
  // The string key dropped the table of integer keys.
  EXPECT_EQ(serialize(d.root), "{\"s\":6}");
  ASSERT_TRUE(d.parse("{1:2, -1 : 3, +5:4, 99999999999999999999999:5, 18446744073709551615:6}"));
  EXPECT_EQ(serialize(d.root), "{1:2,5:4,18446744073709551615:6}");
  json_ref value = {};
  ASSERT_TRUE(json_obj_at_u64(d.root, 1, &value));
  EXPECT_EQ(number_of(value), 2.0);
}

TEST(JsonParseTargets, AnyValueCanBeFilledAndIsReplacedWhole) {
  Doc d;
  ASSERT_TRUE(d.parse("{\"keep\":1,\"slot\":{\"x\":1}}"));
  const json_ref slot = json_obj_get(d.root, "slot");
  const std::string text = "[true,false,null]";
  ASSERT_TRUE(json_parse(slot, text.data(), text.data() + text.size()));
  EXPECT_EQ(serialize(d.root), "{\"keep\":1,\"slot\":[true,false,null]}");
  EXPECT_TRUE(json_get_bool(json_array_at(slot, 0)));
  EXPECT_FALSE(json_get_bool(json_array_at(slot, 1)));
}

TEST(JsonParseTargets, TextHeldInTheSameDocument) {
  Doc d;
  json_ref text = {}, parsed = {};
  ASSERT_TRUE(json_obj_at(d.root, "text", &text));
  std::string inner = "[0";
  for (int i = 0; i < 3000; ++i) inner += ",0";  // element blocks outgrow the first arena
  inner += "]";
  ASSERT_TRUE(json_set_string(text, inner.data(), inner.data() + inner.size(), 0));
  ASSERT_TRUE(json_obj_at(d.root, "parsed", &parsed));
  const char *begin, *end;
  ASSERT_TRUE(json_get_string(text, &begin, &end));
  EXPECT_TRUE(json_parse(parsed, begin, end)) << d.error();
  EXPECT_EQ(serialize(parsed), inner);
}

// Allocations above 64 MiB fail here as they would when memory runs out.
#if defined(__SANITIZE_ADDRESS__) && defined(__linux__)
extern "C" const char *__asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=64";
}

TEST(JsonParseNumbers, ALongNumberWithoutMemoryForItsCopyFails) {
  // An overflowing number goes to strtod through a terminated copy of its text.
  const size_t size = (64u << 20) + 2;
  auto *text = static_cast<char *>(
      mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(text, MAP_FAILED);
  memset(text, '0', size);
  text[0] = '1';
  Doc d;
  EXPECT_FALSE(json_parse(d.root, text, text + size));
  EXPECT_EQ(d.error(), "not enough memory to store the parsed value at line 1 column 1");
  munmap(text, size);
}
#endif

#if defined(__linux__)
// A quoted string of 2^32 + 2^20 plain bytes in 1 MiB of memory: the same block mapped 4097
// times, between a page that ends in a quote and one that starts with one.
class FourGiBString {
 public:
  FourGiBString() {
    base_ = static_cast<char *>(mmap(nullptr, kSize, PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    const int fd = memfd_create("run", 0);
    if (base_ == MAP_FAILED || fd < 0 || ftruncate(fd, kBlock) != 0) abort();
    void *fill = mmap(nullptr, kBlock, PROT_WRITE, MAP_SHARED, fd, 0);
    if (fill == MAP_FAILED) abort();
    memset(fill, 'a', kBlock);
    munmap(fill, kBlock);
    for (size_t i = 0; i < kBlocks; ++i)
      if (mmap(base_ + kPage + i * kBlock, kBlock, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) ==
          MAP_FAILED)
        abort();
    close(fd);
    *begin() = '"';
    end()[-1] = '"';
  }
  ~FourGiBString() { munmap(base_, kSize); }
  char *begin() const { return base_ + kPage - 1; }
  char *end() const { return base_ + kPage + kBlocks * kBlock + 1; }

 private:
  static constexpr size_t kPage = 4096, kBlock = 1u << 20, kBlocks = 4097;
  static constexpr size_t kSize = kPage + kBlocks * kBlock + kPage;
  char *base_;
};

TEST(JsonLimits, TheWriterRefusesFourGiBOfText) {
  const FourGiBString text;
  json_writer writer = {};
  EXPECT_FALSE(json_write_string(&writer, text.begin() + 1, text.end() - 1));
  free(writer.text.data);
}

// Scans 4 GiB: the slowest case of the suite (about 8 s in the sanitizer build), kept because
// nothing smaller reaches the 32-bit limit.
TEST(JsonLimits, TheParserRefusesARunOfFourGiB) {
  const FourGiBString text;
  Doc d;
  EXPECT_FALSE(json_parse(d.root, text.begin(), text.end()));
  EXPECT_EQ(d.error(), "not enough memory to store the parsed value at line 1 column 2");
}
#endif

}  // namespace
