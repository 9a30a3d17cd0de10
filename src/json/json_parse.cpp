// JSON parser: recursive descent over UTF-8 bytes into a document, one message per kind of fault.
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "src/json/json.h"
#include "src/json/json_scan.h"
#include "src/json/utf8.h"

namespace {

constexpr const char *kNothingToParse = "after whitespace was removed, nothing remained to parse";
constexpr const char *kNoClosingBrace = "{ has no corresponding }";
constexpr const char *kNoClosingBracket = "[ has no corresponding ]";
constexpr const char *kNoClosingQuote = "\" has no corresponding \"";
constexpr const char *kWeird = "json is weird";
constexpr const char *kExtraneous = "extraneous text found after a successful parse";
constexpr const char *kTooDeep =
    "at more than 500 nesting levels deep, this JSON is unlikely a sincere attempt to convey "
    "information";
constexpr const char *kExpectedNull = "expected 'null'";
constexpr const char *kExpectedBool = "expected 'true' or 'false'";
constexpr const char *kExpectedComma = "expected a comma (,)";
constexpr const char *kExpectedColon = "expected a colon (:)";
constexpr const char *kExpectedValue =
    "expected null, true, false, a number, a string (\"...\"), an array ([...]), or an object "
    "({...})";
constexpr const char *kExpectedUint64 = "expected a uint64";
constexpr const char *kNotANumber = "not a number, according to the JSON spec";
constexpr const char *kNoLeadingQuote =
    "leading \" expected before string, but reached end of text instead";
constexpr const char *kUnescaped = "unescaped character found in string";
constexpr const char *kNoTrailingQuote =
    "trailing \" expected after string, but reached end of text instead";
constexpr const char *kLowSurrogateFirst =
    "second half of UTF-16 surrogate pair found in string where first should be";
constexpr const char *kNoLowSurrogate =
    "second half of UTF-16 surrogate pair in string didn't follow first half";
constexpr const char *kBadLowSurrogate =
    "second half of UTF-16 surrogate pair in string outside of valid range";
constexpr const char *kEscapeAtEnd =
    "expected one of \",\\,/,b,f,n,r,t,u after \\ in string, but reached end of text instead";
constexpr const char *kBadEscape =
    "expected one of \",\\,/,b,f,n,r,t,u after \\ in string, but found something else instead";
// The arena could not grow (or a handle stopped resolving): no message of the grammar applies.
constexpr const char *kNoMemory = "not enough memory to store the parsed value";

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool fail(json_lexer *lexer, const char *message) {
  lexer->message = message;
  return false;
}

void skip_space(json_lexer *lexer) {
  const char *p = lexer->cursor;
  const char *const end = lexer->end;
  while (p < end) {
    const char c = *p;
    if (c == ' ') {
      // Indentation comes in long runs of spaces: step over eight at a time.
      uint64_t w;
      while (end - p >= 8 && (memcpy(&w, p, 8), w == 0x2020202020202020ull)) p += 8;
      if (p < end && *p == ' ') ++p;
    } else if (c == '\t' || c == '\r') {
      ++p;
    } else if (c == '\n') {
      ++p;
      if (lexer->line < INT32_MAX) lexer->line += 1;  // saturates: the report stays positive
      lexer->line_start = p;
    } else {
      break;
    }
  }
  lexer->cursor = p;
}

uint32_t fold_byte(uint32_t h, char c) {
  return h * 33 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
}

// djb2 continued over [p, end), four bytes per step to break the multiply chain.
uint32_t fold_run(uint32_t h, const char *p, const char *end) {
  auto b = [](const char *q) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*q)));
  };
  while (end - p >= 4) {
    h = h * (33u * 33 * 33 * 33) + b(p) * (33u * 33 * 33) + b(p + 1) * (33u * 33) + b(p + 2) * 33 +
        b(p + 3);
    p += 4;
  }
  while (p < end) h = fold_byte(h, *p++);
  return h;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A \uXXXX escape starting at p, with at least six bytes available.
bool read_unicode_escape(const char *p, uint32_t *unit) {
  if (p[0] != '\\' || p[1] != 'u') return false;
  uint32_t value = 0;
  for (int i = 2; i < 6; ++i) {
    const int digit = hex_value(p[i]);
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  *unit = value;
  return true;
}

bool append(json_lexer *lexer, const void *bytes, uint32_t n) {
  return json_arena_append(lexer->ref, bytes, n) || fail(lexer, kNoMemory);
}

// Converts a number whose syntax has been checked. Correctly rounded like the runtime's strtod;
// values out of range take strtod itself so that overflow and underflow come out as it gives them.
// False only when there is no memory for the copy strtod needs.
bool convert_number(const char *begin, const char *end, double *value) {
  const auto result = std::from_chars(begin, end, *value);
  if (result.ec == std::errc() && result.ptr == end) return true;
  // The text is not NUL-terminated: strtod gets a terminated copy.
  const size_t n = static_cast<size_t>(end - begin);
  char local[64];
  char *copy = n < sizeof local ? local : static_cast<char *>(malloc(n + 1));
  if (!copy) return false;
  memcpy(copy, begin, n);
  copy[n] = 0;
  *value = strtod(copy, nullptr);
  if (copy != local) free(copy);
  return true;
}

// An unquoted object key, read as the runtime's strtoull in base 10 would read it: leading
// white space, an optional sign ('-' negates modulo 2^64), digits, saturating at the maximum.
// Bounded by the end of the text, which need not be NUL-terminated.
bool read_uint64_key(json_lexer *lexer, uint64_t *key) {
  const char *p = lexer->cursor;
  const char *const end = lexer->end;
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == end || !is_digit(*p)) return fail(lexer, kExpectedUint64);
  uint64_t value = 0;
  bool overflow = false;
  for (; p < end && is_digit(*p); ++p) {
    const uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (value > (UINT64_MAX - digit) / 10) overflow = true;
    value = value * 10 + digit;
  }
  if (overflow)
    value = UINT64_MAX;
  else if (negative)
    value = 0 - value;
  *key = value;
  lexer->cursor = p;
  return true;
}

bool parse_string_value(json_lexer *lexer, json_ref target) {
  json_doc *doc = target.doc;
  const uint32_t start = doc->used;
  lexer->key_hash = 5381;
  if (!json_parse_string(lexer)) {
    doc->used = start;  // the partial text is discarded
    return false;
  }
  json_cell *cell = json_resolve(target);
  if (!cell) return fail(lexer, kNoMemory);
  *cell = json_cell{};
  cell->kind = JSON_STRING;
  cell->w1 = start;
  cell->w2 = lexer->key_hash;
  cell->w3 = doc->used - start - 1;
  return true;
}

// After an element or member: a comma goes on, the closing bracket ends the container (closed),
// anything else is an error.
bool after_item(json_lexer *lexer, char closer, bool *closed) {
  skip_space(lexer);
  if (lexer->cursor < lexer->end && (*lexer->cursor == closer || *lexer->cursor == ',')) {
    *closed = *lexer->cursor == closer;
    ++lexer->cursor;
    return true;
  }
  return fail(lexer, kExpectedComma);
}

bool parse_array(json_lexer *lexer, json_ref target) {
  ++lexer->cursor;
  json_cell *cell = json_resolve(target);
  if (!cell) return fail(lexer, kNoMemory);
  *cell = json_cell{};
  cell->kind = JSON_ARRAY;
  skip_space(lexer);
  if (lexer->cursor < lexer->end && *lexer->cursor == ']') {
    ++lexer->cursor;
    return true;
  }
  for (uint32_t i = 0;; ++i) {
    const json_ref element = json_array_at(target, i);
    if (!element.doc) return fail(lexer, kNoMemory);
    if (!json_parse_nested(lexer, element)) return false;
    bool closed = false;
    if (!after_item(lexer, ']', &closed)) return false;
    if (closed) return true;
  }
}

bool parse_object(json_lexer *lexer, json_ref target) {
  json_doc *doc = target.doc;
  ++lexer->cursor;
  json_cell *cell = json_resolve(target);
  if (!cell) return fail(lexer, kNoMemory);
  *cell = json_cell{};
  cell->kind = JSON_OBJECT;
  skip_space(lexer);
  if (lexer->cursor < lexer->end && *lexer->cursor == '}') {
    ++lexer->cursor;
    return true;
  }
  for (;;) {
    skip_space(lexer);
    const char *const key_start = lexer->cursor;
    const uint32_t start = doc->used;
    lexer->key_hash = 5381;
    json_cell key = {};
    uint64_t number_key = 0;
    const bool string_key = json_parse_string(lexer);
    if (string_key) {
      key.kind = JSON_STRING;
      key.w1 = start;
      key.w2 = lexer->key_hash;
      key.w3 = doc->used - start - 1;
    } else {
      doc->used = start;
      if (!(doc->options & JSON_DOC_UINT64_KEYS)) return false;
      // The string reader moved into the key; a number is read from the key's first byte.
      lexer->cursor = key_start;
      if (!read_uint64_key(lexer, &number_key)) return false;
    }
    skip_space(lexer);
    if (lexer->cursor == lexer->end || *lexer->cursor != ':') return fail(lexer, kExpectedColon);
    ++lexer->cursor;
    json_ref value;
    const bool added = string_key ? json_obj_at_key(target, &key, &value)
                                  : json_obj_at_u64(target, number_key, &value);
    if (!added) return fail(lexer, kNoMemory);
    if (!json_parse_nested(lexer, value)) return false;
    bool closed = false;
    if (!after_item(lexer, '}', &closed)) return false;
    if (closed) return true;
  }
}

bool starts_with(const json_lexer *lexer, const char *word, size_t n) {
  return static_cast<size_t>(lexer->end - lexer->cursor) >= n &&
         memcmp(lexer->cursor, word, n) == 0;
}

bool set_literal(json_lexer *lexer, json_ref target, uint8_t kind, uint8_t sub, size_t n) {
  json_cell *cell = json_resolve(target);
  if (!cell) return fail(lexer, kNoMemory);
  *cell = json_cell{};
  cell->kind = kind;
  cell->sub = sub;
  lexer->cursor += n;
  return true;
}

// True when [begin, end) overlaps the document's arena.
bool lies_in_arena(const json_doc *doc, const char *begin, const char *end) {
  if (!doc || !doc->arena || begin == end) return false;
  const auto arena = reinterpret_cast<uintptr_t>(doc->arena);
  return reinterpret_cast<uintptr_t>(
      begin)<arena + doc->capacity &&reinterpret_cast<uintptr_t>(end)>
      arena;
}

bool report(json_lexer *lexer) {
  json_doc *doc = lexer->ref.doc;
  if (!doc) return false;
  doc->error.length = 0;
  // Both positions saturate at INT32_MAX rather than wrap.
  const int64_t line = int64_t(lexer->line) + 1;
  const int64_t column = int64_t(lexer->cursor - lexer->line_start) + 1;
  text_printf(&doc->error, "%s at line %d column %d", lexer->message ? lexer->message : kNoMemory,
              static_cast<int>(line < INT32_MAX ? line : INT32_MAX),
              static_cast<int>(column < INT32_MAX ? column : INT32_MAX));
  return false;
}

}  // namespace

bool json_parse_string(json_lexer *lexer) {
  const char *p = lexer->cursor;
  const char *const end = lexer->end;
  if (p == end || *p != '"') return fail(lexer, kNoLeadingQuote);
  ++p;
  lexer->cursor = p;
  uint32_t hash = lexer->key_hash;
  for (;;) {
    const char *const run = p;
    p = json_scan_run(p, end);
    if (p == end) {
      lexer->cursor = run;
      return fail(lexer, kNoTrailingQuote);
    }
    const char stop = *p;
    if (static_cast<uint8_t>(stop) < 32) {
      lexer->cursor = run;
      return fail(lexer, kUnescaped);
    }
    if (p > run) {
      // Appends take 32-bit lengths; the arena could not hold such a run anyway.
      if (uint64_t(p - run) > UINT32_MAX) {
        lexer->cursor = run;
        return fail(lexer, kNoMemory);
      }
      if (!append(lexer, run, static_cast<uint32_t>(p - run))) return false;
      hash = fold_run(hash, run, p);
    }
    if (stop == '"') {
      if (!append(lexer, "", 1)) return false;
      lexer->cursor = p + 1;
      lexer->key_hash = hash;
      return true;
    }
    // A backslash: a unicode escape when six bytes of one are there, else a simple escape.
    uint32_t unit = 0;
    if (end - p >= 6 && read_unicode_escape(p, &unit)) {
      p += 6;
      uint32_t code_point = unit;
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        lexer->cursor = p;
        return fail(lexer, kLowSurrogateFirst);
      }
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        uint32_t low = 0;
        if (end - p < 6 || !read_unicode_escape(p, &low)) {
          lexer->cursor = p;
          return fail(lexer, kNoLowSurrogate);
        }
        p += 6;
        if (low < 0xDC00 || low > 0xDFFF) {
          lexer->cursor = p;
          return fail(lexer, kBadLowSurrogate);
        }
        code_point = 0x10000 + ((unit & 0x3FF) << 10) + (low & 0x3FF);
      }
      uint8_t bytes[4];
      const uint32_t n = text_utf8_encode(bytes, code_point);
      if (!append(lexer, bytes, n)) return false;
      for (uint32_t i = 0; i < n; ++i) hash = fold_byte(hash, static_cast<char>(bytes[i]));
      continue;
    }
    ++p;
    if (p == end) {
      lexer->cursor = p;
      return fail(lexer, kEscapeAtEnd);
    }
    char byte;
    switch (*p++) {
      case '"':
        byte = '"';
        break;
      case '\\':
        byte = '\\';
        break;
      case '/':
        byte = '/';
        break;
      case 'b':
        byte = 8;
        break;
      case 'f':
        byte = 12;
        break;
      case 'n':
        byte = 10;
        break;
      case 'r':
        byte = 13;
        break;
      case 't':
        byte = 9;
        break;
      default:
        lexer->cursor = p;
        return fail(lexer, kBadEscape);
    }
    if (!append(lexer, &byte, 1)) return false;
    hash = fold_byte(hash, byte);
  }
}

bool json_parse_number(json_lexer *lexer, json_cell *cell) {
  const char *const s = lexer->cursor;
  const char *const end = lexer->end;
  const char *p = s;
  if (p < end && *p == '-') ++p;
  if (p == end) return fail(lexer, kNotANumber);
  if (*p == '0') {
    ++p;
    if (p < end && is_digit(*p)) return fail(lexer, kNotANumber);
  } else if (is_digit(*p)) {
    while (p < end && is_digit(*p)) ++p;
  } else {
    return fail(lexer, kNotANumber);
  }
  if (p < end && *p == '.') {
    ++p;
    if (p == end || !is_digit(*p)) return fail(lexer, kNotANumber);
    while (p < end && is_digit(*p)) ++p;
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (p == end || !is_digit(*p)) return fail(lexer, kNotANumber);
    while (p < end && is_digit(*p)) ++p;
  }
  if (p < end && !(is_space(*p) || *p == ',' || *p == ']' || *p == '}'))
    return fail(lexer, kNotANumber);
  // An exponent too large gives an infinite value: no range check, as the runtime converts it.
  double value = 0;
  if (!convert_number(s, p, &value)) return fail(lexer, kNoMemory);
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  *cell = json_cell{};
  cell->kind = JSON_NUMBER;
  cell->w2 = static_cast<uint32_t>(bits);
  cell->w3 = static_cast<uint32_t>(bits >> 32);
  lexer->cursor = p;
  return true;
}

bool json_parse_value(json_lexer *lexer, json_ref target) {
  skip_space(lexer);
  if (lexer->cursor == lexer->end) return fail(lexer, kExpectedValue);
  switch (*lexer->cursor) {
    case '"':
      return parse_string_value(lexer, target);
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      json_cell *cell = json_resolve(target);
      if (!cell) return fail(lexer, kNoMemory);
      return json_parse_number(lexer, cell);
    }
    case '[':
      return parse_array(lexer, target);
    case '{':
      return parse_object(lexer, target);
    case 'n':
      if (starts_with(lexer, "null", 4)) return set_literal(lexer, target, JSON_NULL, 0, 4);
      return fail(lexer, kExpectedNull);
    case 't':
    case 'f':
      if (starts_with(lexer, "true", 4)) return set_literal(lexer, target, JSON_BOOL, 1, 4);
      if (starts_with(lexer, "false", 5)) return set_literal(lexer, target, JSON_BOOL, 0, 5);
      return fail(lexer, kExpectedBool);
    default:
      return fail(lexer, kExpectedValue);
  }
}

bool json_parse_nested(json_lexer *lexer, json_ref target) {
  const uint32_t depth = lexer->depth;
  lexer->depth = depth + 1;
  if (depth >= JSON_MAX_DEPTH) return fail(lexer, kTooDeep);
  const bool ok = json_parse_value(lexer, target);
  lexer->depth = depth;
  return ok;
}

bool json_parse(json_ref target, const char *begin, const char *end) {
  if (!begin || end < begin) end = begin;
  // Text inside the target's own arena (a string value holding JSON) would move under the
  // parser as the arena grows: parse a copy of it.
  if (lies_in_arena(target.doc, begin, end)) {
    const size_t n = static_cast<size_t>(end - begin);
    char *copy = static_cast<char *>(malloc(n));
    if (!copy) {
      json_lexer lexer = {};
      lexer.ref = target;
      lexer.cursor = lexer.line_start = begin;
      fail(&lexer, kNoMemory);
      return report(&lexer);
    }
    memcpy(copy, begin, n);
    const bool ok = json_parse(target, copy, copy + n);
    free(copy);
    return ok;
  }
  json_lexer lexer = {};
  lexer.ref = target;
  lexer.begin = begin;
  lexer.end = end;
  lexer.cursor = begin;
  lexer.line_start = begin;

  skip_space(&lexer);
  while (lexer.end > lexer.cursor && is_space(lexer.end[-1])) --lexer.end;
  if (lexer.cursor == lexer.end) {
    fail(&lexer, kNothingToParse);
    return report(&lexer);
  }
  const char first = *lexer.cursor;
  const char last = lexer.end[-1];
  if (first == '{' && last != '}')
    fail(&lexer, kNoClosingBrace);
  else if (first == '[' && last != ']')
    fail(&lexer, kNoClosingBracket);
  else if (first == '"' && last != '"')
    fail(&lexer, kNoClosingQuote);
  else if (!json_resolve(target))
    fail(&lexer, kWeird);
  if (lexer.message) return report(&lexer);

  lexer.depth = 1;
  const bool ok = json_parse_value(&lexer, target);
  lexer.depth = 0;
  if (!ok) return report(&lexer);
  if (lexer.cursor == lexer.end) return true;
  fail(&lexer, kExtraneous);
  return report(&lexer);
}
