#include <gtest/gtest.h>

#include <random>
#include <string>

#include "src/json/json.h"
#include "tests/unit/json/json_test_support.h"

namespace {

using json_test::round_trip_failure;

// Random JSON texts that stress what the writer must reproduce: escapes, surrogate pairs, raw
// bytes above 127, NUL in keys, duplicate keys, numbers of every shape, deep nesting, white space.
class Generator {
 public:
  explicit Generator(uint64_t seed, bool integer_keys)
      : random_(seed), integer_keys_(integer_keys) {}

  std::string text() {
    std::string out;
    space(out);
    value(out, 0);
    space(out);
    return out;
  }

 private:
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }

  void space(std::string &out) {
    static const char kSpace[] = {' ', '\t', '\n', '\r'};
    while (below(4) == 0) out += kSpace[below(4)];
  }

  void value(std::string &out, int depth) {
    const uint32_t kind = depth > 6 ? below(4) : below(7);
    switch (kind) {
      case 0:
        out += below(3) == 0 ? "null" : below(2) ? "true" : "false";
        break;
      case 1:
      case 2:
        number(out);
        break;
      case 3:
        string(out, false);
        break;
      case 4:
      case 5:
        array(out, depth);
        break;
      default:
        object(out, depth);
        break;
    }
  }

  void digits(std::string &out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) out += static_cast<char>('0' + below(10));
  }

  void number(std::string &out) {
    static const char *const kEdges[] = {"1.7976931348623157e308",
                                         "-1.7976931348623157e308",
                                         "1.79769313486231e308",
                                         "2.2250738585072014e-308",
                                         "4.9406564584124654e-324",
                                         "-0",
                                         "0.1",
                                         "9007199254740993",
                                         "1e308",
                                         "123456789012345678901234"};
    if (below(8) == 0) {
      out += kEdges[below(sizeof kEdges / sizeof *kEdges)];
      return;
    }
    if (below(2)) out += '-';
    if (below(4) == 0)
      out += '0';
    else {
      out += static_cast<char>('1' + below(9));
      digits(out, below(18));
    }
    if (below(2)) {
      out += '.';
      digits(out, 1 + below(17));
    }
    if (below(3) == 0) {
      out += below(2) ? 'e' : 'E';
      if (below(2)) out += below(2) ? '+' : '-';
      digits(out, 1 + below(3));
    }
  }

  void string(std::string &out, bool key) {
    static const char *const kPieces[] = {"a",
                                          "Z",
                                          " ",
                                          "/",
                                          "\\/",
                                          "\\\"",
                                          "\\\\",
                                          "\\b",
                                          "\\f",
                                          "\\n",
                                          "\\r",
                                          "\\t",
                                          "\\u0000",
                                          "\\u001f",
                                          "\\u00e9",
                                          "\\u20AC",
                                          "\\uFFFF",
                                          "\\ud83d\\ude00",
                                          "\\uDBFF\\uDFFF",
                                          "\xC3\xA9",
                                          "\x7F",
                                          "\x80",
                                          "\xFF",
                                          "\xF0\x9F\x98\x80",
                                          "key",
                                          "\\u0041"};
    const uint32_t pieces = key ? below(3) : below(12);
    out += '"';
    for (uint32_t i = 0; i < pieces; ++i) out += kPieces[below(sizeof kPieces / sizeof *kPieces)];
    out += '"';
  }

  void array(std::string &out, int depth) {
    out += '[';
    space(out);
    const uint32_t n = below(6);
    for (uint32_t i = 0; i < n; ++i) {
      if (i) out += ',';
      space(out);
      value(out, depth + 1);
      space(out);
    }
    out += ']';
  }

  void object(std::string &out, int depth) {
    out += '{';
    space(out);
    const uint32_t n = below(below(16) == 0 ? 90 : 6);  // sometimes enough to grow the table
    for (uint32_t i = 0; i < n; ++i) {
      if (i) out += ',';
      space(out);
      if (integer_keys_) {
        if (below(2)) out += below(2) ? '-' : '+';
        digits(out, 1 + below(21));
      } else {
        string(out, true);
      }
      space(out);
      out += ':';
      value(out, depth + 1);
      space(out);
    }
    out += '}';
  }

  std::mt19937_64 random_;
  bool integer_keys_;
};

TEST(JsonRoundTrip, GeneratedTextsSerializeToAFixedPoint) {
  int parsed = 0;
  for (uint64_t seed = 0; seed < 800; ++seed) {
    const bool integer_keys = seed % 5 == 4;
    Generator generator(seed, integer_keys);
    const std::string text = generator.text();
    const uint32_t options = integer_keys ? JSON_DOC_UINT64_KEYS : 0;
    json_test::Doc d(options);
    if (d.parse(text)) ++parsed;
    const std::string failure = round_trip_failure(text, options);
    ASSERT_EQ(failure, "") << "seed " << seed << ":\n" << text;
  }
  EXPECT_GT(parsed, 750) << "the generator writes valid JSON";
}

TEST(JsonRoundTrip, MutatedTextsThatStillParseAlsoRoundTrip) {
  std::mt19937_64 random(99);
  static const char kBytes[] = "{}[],:\"\\u0123456789eE+-.ntfx \n\t\x01\x7F\xC3\xA9";
  for (uint64_t seed = 0; seed < 1000; ++seed) {
    Generator generator(seed, false);
    std::string text = generator.text();
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const size_t at = random() % text.size();
      switch (random() % 3) {
        case 0:
          text.erase(at, 1);
          break;
        case 1:
          text.insert(at, 1, kBytes[random() % (sizeof kBytes - 1)]);
          break;
        default:
          text[at] = kBytes[random() % (sizeof kBytes - 1)];
          break;
      }
    }
    const std::string failure = round_trip_failure(text, 0);
    ASSERT_EQ(failure, "") << "seed " << seed << ":\n" << text;
  }
}

TEST(JsonRoundTrip, KnownHardCases) {
  for (const char *text :
       {"{\"a\\u0000x\":1,\"a\\u0000y\":2}", "[1.7976931348623157e308]", "[-0,5e-324]",
        "{\"a\":1,\"a\":{\"a\":[]}}", "\"\\ud83d\\ude00\\u0000\xFF\"", "[[[[[[[[[[[]]]]]]]]]]]"}) {
    EXPECT_EQ(round_trip_failure(text, 0), "") << text;
  }
  EXPECT_EQ(round_trip_failure("{1:2,-3:4}", JSON_DOC_UINT64_KEYS), "");
}

}  // namespace
