#include "zeb/json_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/log_capture.h"

namespace {

// Owns a parsed root for the length of a test.
struct Tree {
  explicit Tree(const std::string &text) : root(ZEB_JSONParse(text.c_str())) {}
  ~Tree() { ZEB_JSONDestroy(&root); }
  Tree(const Tree &) = delete;
  Tree &operator=(const Tree &) = delete;
  ZEB_JSON *root;
};

std::string error_at(unsigned position) {
  return std::string("ZEB_JSONParse: Parse error at position ") + std::to_string(position);
}

struct Failure {
  std::string text;
  unsigned position;
};

void expect_parse_error(const std::string &text, unsigned position) {
  SCOPED_TRACE(std::string("text: ") + text);
  LogCapture log;
  ZEB_JSON *root = ZEB_JSONParse(text.c_str());
  EXPECT_EQ(root, nullptr);
  ZEB_JSONDestroy(&root);
  ASSERT_EQ(log.messages.size(), 1u) << "exactly one report per failed parse";
  EXPECT_EQ(log.messages[0], error_at(position));
}

void expect_parse_errors(const std::vector<Failure> &failures) {
  for (const Failure &f : failures) expect_parse_error(f.text, f.position);
}

std::string string_of(const ZEB_JSON *item) {
  if (!item || item->kind != ZEB_JSON_STRING) return "<not a string>";
  return item->string;
}

ZEB_JSON *element(const ZEB_JSON *array, uint32_t index) {
  if (!array || array->kind != ZEB_JSON_ARRAY || index >= array->array.count) return nullptr;
  return array->elements[index];
}

TEST(JsonReaderRoots, EmptyAndBlankTextsGiveNullSilently) {
  LogCapture log;
  EXPECT_EQ(ZEB_JSONParse(""), nullptr);
  EXPECT_EQ(ZEB_JSONParse(" \t\r\n  \n"), nullptr);
  EXPECT_EQ(ZEB_JSONParse(nullptr), nullptr);
  EXPECT_TRUE(log.messages.empty());
}

TEST(JsonReaderRoots, ScalarsAreValidRoots) {
  LogCapture log;
  bool value = false;
  Tree yes(" true\n"), no("false"), null("null"), number("-12"), text("\"quarlo\"");
  EXPECT_TRUE(ZEB_JSONGetBool(yes.root, &value) && value);
  EXPECT_TRUE(ZEB_JSONGetBool(no.root, &value) && !value);
  ASSERT_NE(null.root, nullptr);
  EXPECT_EQ(null.root->kind, ZEB_JSON_NULL);
  ASSERT_NE(number.root, nullptr);
  EXPECT_EQ(number.root->number, -12.0);
  EXPECT_EQ(number.root->isInteger, 1);
  EXPECT_EQ(string_of(text.root), "quarlo");
  EXPECT_TRUE(log.messages.empty());
  expect_parse_errors({{"tru", 0}, {"nul", 0}});
}

TEST(JsonReaderErrors, StructuralErrorsReportTheOffendingByte) {
  expect_parse_errors({{"[1,]", 3},
                       {"{\"a\"}", 4},
                       {"{\"a\":}", 5},
                       {"{\"a\":1,}", 7},
                       {"[1}", 2},
                       {"]", 0},
                       {"[1]]", 3},
                       {"[,1]", 1},
                       {"[\"a\":1]", 4},
                       {"{\"a\"::1}", 5},
                       {"truex", 4},
                       {"+1", 0},
                       {".5", 0},
                       {"\xEF\xBB\xBF{}", 0}});  // a byte-order mark is not JSON
}

TEST(JsonReaderErrors, MisplacedValuesFailWhereTheValueWasRead) {
  // Literals and containers at their first byte, numbers at their last, strings at their
  // closing quote; a byte that may not end a number where it stands.
  expect_parse_errors({{"1 2", 2},
                       {"[1 23]", 4},
                       {"[true1]", 5},
                       {"{1:2}", 2},
                       {"\"a\" \"b\"", 6},
                       {"{\"a\" \"b\"}", 7},
                       {"{} []", 3}});
}

TEST(JsonReaderErrors, UnfinishedTextsFailAtTheEnd) {
  expect_parse_errors({{"[1", 2}, {"{\"a\":", 5}, {"{\"a\"", 4}, {"[\"abc", 5}});
}

TEST(JsonReaderErrors, ScansFailingOnTheLastByteAtTopLevelAreErrors) {
  // These once came back as success because the failed scan had consumed the whole text.
  expect_parse_errors({{"true \"abc", 9},
                       {"\"abc", 4},
                       {"\"abc\\", 5},
                       {"\"", 1},
                       {std::string(96, '7'), 96},
                       {std::string("1 ") + std::string(100, '7'), 98}});
}

TEST(JsonReaderObjects, LastOfDuplicateKeysWins) {
  LogCapture log;
  Tree t("{\"a\":1,\"a\":2}");
  ASSERT_NE(t.root, nullptr);
  ZEB_JSON *a = ZEB_JSONObjGetItem(t.root, "a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->number, 2.0);
  EXPECT_EQ(a->parent, t.root);

  // The replaced value goes with its whole tree (the leak checker sees any survivor).
  Tree nested("{\"a\":[1,{\"b\":[\"x\",{}]},\"y\"],\"c\":true,\"a\":{\"d\":null}}");
  ZEB_JSON *replaced = ZEB_JSONObjGetItem(nested.root, "a");
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(replaced->kind, ZEB_JSON_OBJECT);
  EXPECT_NE(ZEB_JSONObjGetItem(replaced, "d"), nullptr);
  EXPECT_TRUE(log.messages.empty());
}

TEST(JsonReaderObjects, MembersAreFoundByExactKey) {
  Tree t("{\"so_name\":\"app.dll\",\"hash\":\"ab\",\"\":1,\"caf\xC3\xA9\":2,\"x\\u0041\":3}");
  ASSERT_NE(t.root, nullptr);
  EXPECT_EQ(string_of(ZEB_JSONObjGetItem(t.root, "so_name")), "app.dll");
  EXPECT_EQ(string_of(ZEB_JSONObjGetItem(t.root, "hash")), "ab");
  EXPECT_NE(ZEB_JSONObjGetItem(t.root, ""), nullptr);
  EXPECT_NE(ZEB_JSONObjGetItem(t.root, "caf\xC3\xA9"), nullptr);
  EXPECT_NE(ZEB_JSONObjGetItem(t.root, "xA"), nullptr) << "keys are unescaped like values";
  EXPECT_EQ(ZEB_JSONObjGetItem(t.root, "so_nam"), nullptr);
  EXPECT_EQ(ZEB_JSONObjGetItem(t.root, "SO_NAME"), nullptr);
  EXPECT_EQ(ZEB_JSONObjGetItem(nullptr, "hash"), nullptr);
  EXPECT_EQ(ZEB_JSONObjGetItem(ZEB_JSONObjGetItem(t.root, "hash"), "hash"), nullptr);
}

TEST(JsonReaderNumbers, RefusedFormsFailOnTheirLastByte) {
  expect_parse_errors({{"01", 1},
                       {"[01]", 2},
                       {"-01", 2},
                       {"1.", 1},
                       {"-.5", 2},
                       {"1.e5", 3},
                       {"-", 0},
                       {"[1-2]", 3},
                       {"[1.5.3]", 5},
                       {"[1x]", 2}});
}

TEST(JsonReaderNumbers, AcceptedFormsKeepValueAndIntegerMarker) {
  struct Case {
    const char *text;
    double value;
    uint8_t integer;
  };
  const Case cases[] = {
      {"0e5", 0.0, 0},
      {"-0", 0.0, 1},
      {"1E+5", 100000.0, 0},
      {"0.5", 0.5, 0},
      {"2147483647", 2147483647.0, 1},
      {"2147483648", 2147483648.0, 0},
      {"-2147483648", -2147483648.0, 1},
      {"99999999999999999999", 1e20, 0},
      {"1e999", 0.0, 0},
  };
  LogCapture log;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Tree t(std::string("[") + c.text + "]");
    ZEB_JSON *number = element(t.root, 0);
    ASSERT_NE(number, nullptr);
    EXPECT_EQ(number->kind, ZEB_JSON_NUMBER);
    EXPECT_EQ(number->number, c.value);
    EXPECT_EQ(number->isInteger, c.integer);
  }
  EXPECT_TRUE(log.messages.empty());
}

TEST(JsonReaderNumbers, TokensAreLimitedTo95Bytes) {
  const std::string longest = std::string("1") + std::string(94, '0');
  Tree t(std::string("[") + longest + "]");
  ZEB_JSON *number = element(t.root, 0);
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(number->number, 1e94);
  EXPECT_EQ(number->isInteger, 0);
  Tree top(longest);
  ASSERT_NE(top.root, nullptr);

  expect_parse_error(std::string("[") + longest + "0]", 97);
  expect_parse_error(std::string("[") + std::string(300, '1') + "]", 97);
}

TEST(JsonReaderStrings, EscapesAreDecoded) {
  Tree t(
      "[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\", \"\\u00e9\", \"\\u20AC\", \"\\ud83d\\ude00\", "
      "\"\\u0041z\"]");
  ASSERT_NE(t.root, nullptr);
  EXPECT_EQ(string_of(element(t.root, 0)), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(string_of(element(t.root, 1)), "\xC3\xA9");
  EXPECT_EQ(string_of(element(t.root, 2)), "\xE2\x82\xAC");
  EXPECT_EQ(string_of(element(t.root, 3)), "\xF0\x9F\x98\x80");
  EXPECT_EQ(string_of(element(t.root, 4)), "Az");

  // \u0000 writes a NUL, which ends the text for every reader.
  Tree nul("\"ab\\u0000cd\"");
  EXPECT_EQ(string_of(nul.root), "ab");
}

TEST(JsonReaderStrings, RawBytesFromDelOnPassUnchanged) {
  Tree t("\"\xE9\x7F\xFF\xC3\xA9\"");
  EXPECT_EQ(string_of(t.root), "\xE9\x7F\xFF\xC3\xA9");
}

TEST(JsonReaderStrings, LongStringsGrowWithoutLosingBytes) {
  // Four output bytes per escape pair put every growth step at a different offset.
  std::string text = "\"";
  std::string expected;
  for (int i = 0; i < 700; ++i) {
    text += "\\ud83d\\ude00x\\u20ac";
    expected += "\xF0\x9F\x98\x80x\xE2\x82\xAC";
  }
  text += std::string(1000, 'q') + "\"";
  expected += std::string(1000, 'q');
  Tree t(text);
  EXPECT_EQ(string_of(t.root), expected);
}

TEST(JsonReaderStrings, BadStringsFailWhereTheScanStopped) {
  // Raw control bytes where they stand; a bad escape at the byte after the backslash; a bad
  // surrogate pair at the last digit of its first escape.
  expect_parse_errors({{"\"a\tb\"", 2},
                       {"\"a\\x\"", 3},
                       {"\"\\udc00\"", 2},
                       {"\"\\ud83d\"", 6},
                       {"\"\\ud83d\\u0041\"", 6},
                       {"\"\\u00\"", 2},
                       {"\"\\u00e9", 2},
                       {"\"\\u00g9\"", 2}});
}

TEST(JsonReaderDepth, DeepNestingParsesAndIsDestroyedIteratively) {
  constexpr int kDepth = 100000;
  {
    Tree arrays(std::string(kDepth, '[') + std::string(kDepth, ']'));
    ASSERT_NE(arrays.root, nullptr);
    int depth = 1;
    for (ZEB_JSON *item = arrays.root; item->array.count == 1; item = item->elements[0]) ++depth;
    EXPECT_EQ(depth, kDepth);
  }
  {
    std::string text;
    for (int i = 0; i < kDepth; ++i) text += "{\"k\":[";
    text += "\"leaf\"";
    for (int i = 0; i < kDepth; ++i) text += "]}";
    Tree objects(text);
    ASSERT_NE(objects.root, nullptr);
  }
  // A failure deep inside releases the whole partial tree.
  expect_parse_error(std::string(kDepth, '[') + "1,]", kDepth + 2);
  expect_parse_error(std::string(kDepth, '['), kDepth);
}

TEST(JsonReaderGetters, StringsAreCopiedWithSnprintfSemantics) {
  Tree t("[\"0123456789\", 5]");
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  EXPECT_FALSE(ZEB_JSONGetString(element(t.root, 0), buffer, 10));
  EXPECT_STREQ(buffer, "012345678");
  EXPECT_TRUE(ZEB_JSONGetString(element(t.root, 0), buffer, 11));
  EXPECT_STREQ(buffer, "0123456789");

  memset(buffer, '#', sizeof buffer);
  EXPECT_FALSE(ZEB_JSONGetString(element(t.root, 1), buffer, sizeof buffer));
  EXPECT_FALSE(ZEB_JSONGetString(nullptr, buffer, sizeof buffer));
  EXPECT_EQ(buffer[0], '#') << "non-strings leave the buffer untouched";

  bool value = true;
  EXPECT_FALSE(ZEB_JSONGetBool(element(t.root, 0), &value));
  EXPECT_FALSE(ZEB_JSONGetBool(nullptr, &value));
  EXPECT_TRUE(value);
}

TEST(JsonReaderGetters, OnlyRootsCanBeDestroyed) {
  Tree t("{\"useProgramData\":true}");
  ZEB_JSON *member = ZEB_JSONObjGetItem(t.root, "useProgramData");
  ASSERT_NE(member, nullptr);
  {
    LogCapture log;
    ZEB_JSON *child = member;
    ZEB_JSONDestroy(&child);
    EXPECT_EQ(child, member) << "the caller's pointer is left alone";
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0], "ZEB_JSONDestroy: Attempted to destroy child item");
  }
  bool value = false;
  EXPECT_TRUE(ZEB_JSONGetBool(ZEB_JSONObjGetItem(t.root, "useProgramData"), &value));
  EXPECT_TRUE(value);

  ZEB_JSON *none = nullptr;
  ZEB_JSONDestroy(&none);
  ZEB_JSONDestroy(nullptr);
  ZEB_JSON *root = ZEB_JSONParse("[]");
  ZEB_JSONDestroy(&root);
  EXPECT_EQ(root, nullptr);
}

// A settings file of the size and shape a large installation could carry.
std::string large_settings(int modules) {
  std::string text = "{\r\n\t\"so_name\": \"quarlo_app.dll\",\r\n\t\"hash\": \"";
  for (int i = 0; i < 64; ++i) text += "0123456789abcdef"[i * 7 % 16];
  text += "\",\r\n\t\"useProgramData\": false,\r\n\t\"modules\": [\r\n";
  for (int i = 0; i < modules; ++i) {
    const std::string n = std::to_string(i);
    text += std::string("\t\t{ \"name\": \"module_") + n +
            "\", \"path\": \"C:\\\\Quarlo\\\\plugins\\\\m" + n +
            ".dll\", \"enabled\": " + (i % 3 ? "true" : "false") + ", \"order\": " + n +
            ", \"weight\": " + n + ".25e-1, \"tags\": [\"a\", \"b\", null] }" +
            (i + 1 < modules ? ",\r\n" : "\r\n");
  }
  text += "\t],\r\n\t\"options\": {";
  for (int i = 0; i < 600; ++i)
    text += (i ? ", \"opt" : "\"opt") + std::to_string(i) + "\": \"v" + std::to_string(i) + "\"";
  text += "}\r\n}\r\n";
  return text;
}

TEST(JsonReaderSettings, LargeRealisticFileIsFullyReachable) {
  constexpr int kModules = 20000;
  LogCapture log;
  Tree t(large_settings(kModules));
  ASSERT_NE(t.root, nullptr);
  EXPECT_TRUE(log.messages.empty());

  char name[256];
  ASSERT_TRUE(ZEB_JSONGetString(ZEB_JSONObjGetItem(t.root, "so_name"), name, sizeof name));
  EXPECT_STREQ(name, "quarlo_app.dll");
  char hash[65];
  EXPECT_TRUE(ZEB_JSONGetString(ZEB_JSONObjGetItem(t.root, "hash"), hash, sizeof hash));
  EXPECT_EQ(strlen(hash), 64u);
  bool use_program_data = true;
  EXPECT_TRUE(ZEB_JSONGetBool(ZEB_JSONObjGetItem(t.root, "useProgramData"), &use_program_data));
  EXPECT_FALSE(use_program_data);

  const ZEB_JSON *modules = ZEB_JSONObjGetItem(t.root, "modules");
  ASSERT_NE(modules, nullptr);
  ASSERT_EQ(modules->array.count, uint32_t(kModules));
  for (int i = 0; i < kModules; i += 997) {
    const ZEB_JSON *module = element(modules, uint32_t(i));
    EXPECT_EQ(module->parent, modules);
    EXPECT_EQ(string_of(ZEB_JSONObjGetItem(module, "path")),
              std::string("C:\\Quarlo\\plugins\\m") + std::to_string(i) + ".dll");
    EXPECT_EQ(ZEB_JSONObjGetItem(module, "order")->number, double(i));
    EXPECT_DOUBLE_EQ(ZEB_JSONObjGetItem(module, "weight")->number, (i + 0.25) / 10);
    EXPECT_EQ(ZEB_JSONObjGetItem(module, "tags")->array.count, 3u);
  }
  const ZEB_JSON *options = ZEB_JSONObjGetItem(t.root, "options");
  for (int i = 0; i < 600; ++i)
    ASSERT_EQ(
        string_of(ZEB_JSONObjGetItem(options, (std::string("opt") + std::to_string(i)).c_str())),
        std::string("v") + std::to_string(i));
}

}  // namespace
