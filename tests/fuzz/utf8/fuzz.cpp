// UTF-8 decoding and UTF-16 conversion against an independent decoder written from the table of
// well-formed byte sequences, rather than from bit masks. The first byte gives the UTF-16
// capacity; the rest is the text.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "src/json/utf8.h"

namespace {

struct Range {
  uint8_t low, high;
};

// One row per lead-byte range: the ranges allowed for the lead and each following byte.
struct Row {
  Range bytes[4];
  int length;
};

constexpr Row kWellFormed[] = {
    {{{0x00, 0x7F}}, 1},
    {{{0xC2, 0xDF}, {0x80, 0xBF}}, 2},
    {{{0xE0, 0xE0}, {0xA0, 0xBF}, {0x80, 0xBF}}, 3},
    {{{0xE1, 0xEC}, {0x80, 0xBF}, {0x80, 0xBF}}, 3},
    {{{0xED, 0xED}, {0x80, 0x9F}, {0x80, 0xBF}}, 3},
    {{{0xEE, 0xEF}, {0x80, 0xBF}, {0x80, 0xBF}}, 3},
    {{{0xF0, 0xF0}, {0x90, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}, 4},
    {{{0xF1, 0xF3}, {0x80, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}, 4},
    {{{0xF4, 0xF4}, {0x80, 0x8F}, {0x80, 0xBF}, {0x80, 0xBF}}, 4},
};

// Bytes consumed (0 when ill-formed or incomplete) and the code point.
int reference_decode(const uint8_t *s, size_t n, uint32_t *code_point) {
  if (n == 0) return 0;
  for (const Row &row : kWellFormed) {
    if (s[0] < row.bytes[0].low || s[0] > row.bytes[0].high) continue;
    if (n < static_cast<size_t>(row.length)) return 0;
    for (int i = 1; i < row.length; ++i)
      if (s[i] < row.bytes[i].low || s[i] > row.bytes[i].high) return 0;
    static constexpr uint8_t kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t c = s[0] & kLeadBits[row.length];
    for (int i = 1; i < row.length; ++i) c = c * 64 + (s[i] - 0x80);
    *code_point = c;
    return row.length;
  }
  return 0;
}

[[noreturn]] void fail(const char *what) {
  fprintf(stderr, "%s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint32_t capacity = data[0];
  const uint8_t *text = data + 1;
  const uint32_t length = static_cast<uint32_t>(size - 1);

  // Every position decodes as the reference does, and what decodes encodes back to the same bytes.
  for (uint32_t at = 0; at < length; ++at) {
    uint32_t expected = 0, actual = 0xFFFFFFFF;
    const int n = reference_decode(text + at, length - at, &expected);
    const uint32_t m = text_utf8_decode(&actual, text + at, length - at);
    if (static_cast<uint32_t>(n) != m) fail("decode length differs");
    if (n == 0) {
      if (actual != 0xFFFFFFFF) fail("decode stored a code point on failure");
      continue;
    }
    if (actual != expected) fail("decoded code point differs");
    uint8_t bytes[4];
    if (text_utf8_encode(bytes, actual) != m) fail("encode length differs");
    for (uint32_t i = 0; i < m; ++i)
      if (bytes[i] != text[at + i]) fail("encode bytes differ");
  }

  // The conversion: the reference units up to a NUL or the end, or failure on an ill-formed
  // sequence or a capacity below the units plus the NUL.
  std::vector<char16_t> expected;
  bool valid = true;
  for (uint32_t at = 0; at < length;) {
    uint32_t c = 0;
    const int n = reference_decode(text + at, length - at, &c);
    if (n == 0) {
      valid = false;
      break;
    }
    if (c == 0) break;
    if (c < 0x10000) {
      expected.push_back(static_cast<char16_t>(c));
    } else {
      expected.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      expected.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
    at += n;
  }
  const bool should_fit = valid && expected.size() + 1 <= capacity;
  std::vector<char16_t> out(capacity ? capacity : 1, 0x5A5A);
  // Exactly sized copy so that a read past the given length is caught.
  std::vector<char> source(text, text + length);
  const bool converted =
      text_utf8_to_utf16(capacity ? out.data() : nullptr, capacity, source.data(), length);
  if (converted != should_fit) fail("conversion result differs");
  if (converted) {
    for (size_t i = 0; i < expected.size(); ++i)
      if (out[i] != expected[i]) fail("converted units differ");
    if (out[expected.size()] != 0) fail("conversion not terminated");
  }
  return 0;
}
