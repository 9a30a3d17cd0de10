// Compact JSON reader: a single left-to-right pass with an explicit container stack (the
// parent links), and an equally iterative tree destruction, so nesting depth is bounded only
// by memory.
#include "zeb/json_reader.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zeb/log.h"
#include "zeb/memory.h"

namespace {

constexpr uint32_t kObjectBuckets = 64;
constexpr uint32_t kArrayGrowth = 64;
constexpr uint64_t kStringGrowth = 64;
constexpr uint32_t kNumberBuffer = 96;  // a number token has at most 95 bytes

// Container parse states.
constexpr uint8_t kOpened = 0;
constexpr uint8_t kAfterComma = 1;
constexpr uint8_t kAfterKey = 2;
constexpr uint8_t kAfterColon = 3;
constexpr uint8_t kAfterValue = 4;

enum CharClass : uint8_t {
  kOther = 0,
  kOpen = 1,
  kClose = 2,
  kBoolStart = 3,
  kColon = 4,
  kComma = 5,
  kQuote = 6,
  kNullStart = 7,
  kNumberStart = 8,
  kNumberInner = 9,
  kBlank = 10,
};

constexpr auto kClasses = [] {
  struct Table {
    uint8_t of[256] = {};
  } table;
  table.of[uint8_t('{')] = table.of[uint8_t('[')] = kOpen;
  table.of[uint8_t('}')] = table.of[uint8_t(']')] = kClose;
  table.of[uint8_t('t')] = table.of[uint8_t('f')] = kBoolStart;
  table.of[uint8_t(':')] = kColon;
  table.of[uint8_t(',')] = kComma;
  table.of[uint8_t('"')] = kQuote;
  table.of[uint8_t('n')] = kNullStart;
  table.of[uint8_t('-')] = kNumberStart;
  for (char c = '0'; c <= '9'; ++c) table.of[uint8_t(c)] = kNumberStart;
  table.of[uint8_t('+')] = table.of[uint8_t('.')] = kNumberInner;
  table.of[uint8_t('E')] = table.of[uint8_t('e')] = kNumberInner;
  table.of[0] = table.of[uint8_t('\t')] = table.of[uint8_t('\n')] = kBlank;
  table.of[uint8_t('\r')] = table.of[uint8_t(' ')] = kBlank;
  return table;
}();

uint8_t class_of(char c) { return kClasses.of[uint8_t(c)]; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

ZEB_JSON *new_item(int32_t kind) {
  auto *item = static_cast<ZEB_JSON *>(ZEB_Alloc(1, sizeof(ZEB_JSON)));
  item->kind = kind;
  return item;
}

// Destroys item and everything below it, whatever its parent. The parent links lead back
// up and the per-container cursors remember where each container's walk stands.
void destroy_tree(ZEB_JSON *top) {
  ZEB_JSON *item = top;
  for (;;) {
    ZEB_JSON *const parent = item == top ? nullptr : item->parent;
    ZEB_JSON *child = nullptr;
    switch (item->kind) {
      case ZEB_JSON_STRING:
        ZEB_Free(item->string);
        break;
      case ZEB_JSON_ARRAY:
        while (!child && item->elementCursor < item->array.count)
          child = item->elements[item->elementCursor++];
        if (!child) ZEB_Free(item->elements);
        break;
      case ZEB_JSON_OBJECT: {
        const char *key = nullptr;
        while (!child && ZEB_HashGetNextKey(item->members, &item->memberCursor, &key))
          child = static_cast<ZEB_JSON *>(ZEB_HashGet(item->members, key));
        if (!child) ZEB_HashDestroy(&item->members, nullptr);
        break;
      }
      default:
        break;
    }
    if (child) {
      item = child;
      continue;
    }
    ZEB_Free(item);
    if (!parent) return;
    item = parent;
  }
}

struct Parser {
  const char *text;
  uint64_t len;
  uint64_t pos = 0;
  ZEB_JSON *root = nullptr;
  ZEB_JSON *current = nullptr;  // innermost open container
  int32_t depth = 0;
  char *pendingKey = nullptr;
};

// Hangs a new item into the tree; a refused item is destroyed.
bool attach(Parser &p, ZEB_JSON *item) {
  ZEB_JSON *const container = p.current;
  if (!container) {
    if (p.root) {
      destroy_tree(item);
      return false;
    }
    p.root = item;
    return true;
  }
  if (container->kind == ZEB_JSON_ARRAY) {
    ZEB_JSONArraySize &size = container->array;
    if ((container->state != kOpened && container->state != kAfterComma) ||
        (size.count == size.capacity && size.capacity > UINT32_MAX - kArrayGrowth)) {
      destroy_tree(item);
      return false;
    }
    if (size.count == size.capacity) {
      size.capacity += kArrayGrowth;
      container->elements = static_cast<ZEB_JSON **>(
          ZEB_Realloc(container->elements, size.capacity, sizeof(ZEB_JSON *)));
    }
    item->parent = container;
    container->elements[size.count++] = item;
  } else {
    if (!p.pendingKey || container->state != kAfterColon) {
      destroy_tree(item);
      return false;
    }
    item->parent = container;
    // The last of duplicate keys wins; the value it replaces goes with its tree.
    auto *replaced = static_cast<ZEB_JSON *>(ZEB_HashSet(container->members, p.pendingKey, item));
    if (replaced) destroy_tree(replaced);
    ZEB_Free(p.pendingKey);
    p.pendingKey = nullptr;
  }
  container->state = kAfterValue;
  return true;
}

// Converts exactly four bytes of hex digits (as the runtime's unsigned conversion reads them).
bool read_hex4(const char *digits, unsigned long *value) {
  char work[5];
  memcpy(work, digits, 4);
  work[4] = '\0';
  char *end = nullptr;
  *value = strtoul(work, &end, 16);
  return end == work + 4;
}

void append_utf8(char *out, uint64_t &length, uint32_t code) {
  if (code <= 0x7F) {
    out[length++] = char(code);
  } else if (code <= 0x7FF) {
    out[length++] = char(0xC0 | (code >> 6));
    out[length++] = char(0x80 | (code & 0x3F));
  } else if (code <= 0xFFFF) {
    out[length++] = char(0xE0 | (code >> 12));
    out[length++] = char(0x80 | ((code >> 6) & 0x3F));
    out[length++] = char(0x80 | (code & 0x3F));
  } else {
    out[length++] = char(0xF0 | (code >> 18));
    out[length++] = char(0x80 | ((code >> 12) & 0x3F));
    out[length++] = char(0x80 | ((code >> 6) & 0x3F));
    out[length++] = char(0x80 | (code & 0x3F));
  }
}

// A \u escape with the position at the u; leaves it on the escape's last digit.
bool read_unicode_escape(Parser &p, char *out, uint64_t &length) {
  if (!(p.pos + 5 < p.len)) return false;
  unsigned long high = 0;
  if (!read_hex4(p.text + p.pos + 1, &high)) return false;
  if (high > 0xFFFF || (high >= 0xDC00 && high <= 0xDFFF)) return false;
  p.pos += 4;
  uint32_t code = uint32_t(high);
  if (high >= 0xD800 && high <= 0xDBFF) {
    const char *next = p.text + p.pos;
    if (!(p.pos + 7 < p.len) || next[1] != '\\' || next[2] != 'u') return false;
    unsigned long low = 0;
    if (!read_hex4(next + 3, &low) || low < 0xDC00 || low > 0xDFFF) return false;
    p.pos += 6;
    code = 0x10000 + ((uint32_t(high) & 0x3FF) << 10) + (uint32_t(low) & 0x3FF);
  }
  append_utf8(out, length, code);
  return true;
}

// The byte a backslash escape other than \u stands for; 0 for an invalid escape.
char decode_escape(char escape) {
  constexpr char kPairs[][2] = {{'"', '"'},  {'\\', '\\'}, {'/', '/'},  {'b', '\b'},
                                {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'}};
  for (const auto &pair : kPairs)
    if (pair[0] == escape) return pair[1];
  return 0;
}

// A string with the position at its opening quote; on success the position is at
// the closing quote and *result holds the heap text.
bool scan_string(Parser &p, char **result) {
  ++p.pos;
  char *out = nullptr;
  uint64_t length = 0;
  uint64_t capacity = 0;
  while (p.pos < p.len) {
    // Room for the longest step (four bytes) and the terminator.
    if (length + 4 >= capacity) {
      capacity += kStringGrowth;
      out = static_cast<char *>(ZEB_Realloc(out, capacity, 1));
    }
    const char c = p.text[p.pos];
    if (uint8_t(c) < 0x20) break;  // control characters must be escaped
    if (c == '"') {
      out[length] = '\0';
      *result = out;
      return true;
    }
    if (c == '\\') {
      if (++p.pos >= p.len) break;
      const char escape = p.text[p.pos];
      if (escape == 'u') {
        if (!read_unicode_escape(p, out, length)) break;
      } else {
        const char decoded = decode_escape(escape);
        if (!decoded) break;
        out[length++] = decoded;
      }
    } else {
      out[length++] = c;  // UTF-8 passes through unvalidated
    }
    ++p.pos;
  }
  ZEB_Free(out);
  return false;
}

// A number token with the position at its first byte; on success the position is
// at its last byte. A rejected token leaves the position at its last byte, or at the byte
// that may not follow it.
ZEB_JSON *read_number(Parser &p) {
  char work[kNumberBuffer];
  uint32_t n = 0;
  for (;;) {
    const char c = p.pos < p.len ? p.text[p.pos] : '\0';
    const uint8_t cls = class_of(c);
    if (cls == kNumberStart || cls == kNumberInner) {
      if (n == kNumberBuffer - 1) {
        ++p.pos;  // the token reached 96 bytes: the failure lies past its 96th byte
        return nullptr;
      }
      work[n++] = c;
      ++p.pos;
      continue;
    }
    if (cls == kClose || cls == kComma || cls == kBlank) break;
    return nullptr;
  }
  work[n] = '\0';
  --p.pos;

  if (work[n - 1] == '.') return nullptr;
  if (n >= 2 && ((work[0] == '0' && is_digit(work[1])) || (work[0] == '-' && work[1] == '.')))
    return nullptr;
  if (n >= 3 && work[0] == '-' && work[1] == '0' && is_digit(work[2])) return nullptr;
  if (n >= 3 && is_digit(work[0]) && work[1] == '.' && (work[2] == 'E' || work[2] == 'e'))
    return nullptr;

  char *end = nullptr;
  const long long integer = strtoll(work, &end, 10);
  if (end == work + n && integer >= INT32_MIN && integer <= INT32_MAX) {
    ZEB_JSON *item = new_item(ZEB_JSON_NUMBER);
    item->isInteger = 1;
    item->number = double(integer);
    return item;
  }
  const double value = strtod(work, &end);
  if (end != work + n) return nullptr;
  ZEB_JSON *item = new_item(ZEB_JSON_NUMBER);
  item->number = std::isfinite(value) ? value : 0.0;
  return item;
}

bool close_container(Parser &p, char bracket) {
  --p.depth;
  ZEB_JSON *const container = p.current;
  if (!container || p.depth < 0) return false;
  const int32_t expected = bracket == ']' ? ZEB_JSON_ARRAY : ZEB_JSON_OBJECT;
  if (container->kind != expected) return false;
  // State 0 or 4 only: refuses a trailing comma, a dangling key and a dangling colon.
  if (container->state != kOpened && container->state != kAfterValue) return false;
  p.current = container->parent;
  ++p.pos;
  return true;
}

// One token at the position; false on an error, with the position where it was found.
bool step(Parser &p) {
  const char c = p.text[p.pos];
  switch (class_of(c)) {
    case kBlank:
      ++p.pos;
      return true;
    case kOpen: {
      ZEB_JSON *container;
      if (c == '{') {
        container = new_item(ZEB_JSON_OBJECT);
        container->members = ZEB_HashCreate(kObjectBuckets);
      } else {
        container = new_item(ZEB_JSON_ARRAY);
      }
      if (!attach(p, container)) return false;
      ++p.depth;
      p.current = container;
      ++p.pos;
      return true;
    }
    case kClose:
      return close_container(p, c);
    case kColon:
      if (!p.current || p.current->state != kAfterKey) return false;
      p.current->state = kAfterColon;
      ++p.pos;
      return true;
    case kComma:
      if (!p.current || p.current->state != kAfterValue) return false;
      p.current->state = kAfterComma;
      ++p.pos;
      return true;
    case kBoolStart: {
      const uint64_t left = p.len - p.pos;
      uint64_t token;
      uint8_t value;
      if (left >= 4 && memcmp(p.text + p.pos, "true", 4) == 0) {
        token = 4;
        value = 1;
      } else if (left >= 5 && memcmp(p.text + p.pos, "false", 5) == 0) {
        token = 5;
        value = 0;
      } else {
        return false;
      }
      ZEB_JSON *item = new_item(ZEB_JSON_BOOL);
      item->boolean = value;
      if (!attach(p, item)) return false;
      p.pos += token;
      return true;
    }
    case kNullStart:
      if (p.len - p.pos < 4 || memcmp(p.text + p.pos, "null", 4) != 0) return false;
      if (!attach(p, new_item(ZEB_JSON_NULL))) return false;
      p.pos += 4;
      return true;
    case kQuote: {
      char *text = nullptr;
      if (!scan_string(p, &text)) return false;
      ZEB_JSON *const container = p.current;
      if (container && container->kind == ZEB_JSON_OBJECT &&
          (container->state == kOpened || container->state == kAfterComma)) {
        p.pendingKey = text;
        container->state = kAfterKey;
      } else {
        ZEB_JSON *item = new_item(ZEB_JSON_STRING);
        item->string = text;
        if (!attach(p, item)) return false;
      }
      ++p.pos;
      return true;
    }
    case kNumberStart: {
      ZEB_JSON *item = read_number(p);
      if (!item || !attach(p, item)) return false;
      ++p.pos;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

ZEB_JSON *ZEB_JSONParse(const char *text) {
  if (!text) return nullptr;
  Parser p{text, strlen(text)};
  if (p.len == 0) return nullptr;

  bool failed = false;
  while (p.pos < p.len && !failed) failed = !step(p);

  // A scan that fails on the last byte also leaves the whole text consumed, so the failure
  // itself is what decides, not only the position.
  if (failed || p.pendingKey || p.depth != 0 || p.pos != p.len) {
    const uint64_t position = p.pos > UINT32_MAX ? UINT32_MAX : p.pos;
    ZEB_LogError("ZEB_JSONParse", "Parse error at position %u", unsigned(position));
    if (p.root) destroy_tree(p.root);
    ZEB_Free(p.pendingKey);
    return nullptr;
  }
  return p.root;
}

void ZEB_JSONDestroy(ZEB_JSON **item) {
  if (!item || !*item) return;
  if ((*item)->parent) {
    ZEB_LogError("ZEB_JSONDestroy", "Attempted to destroy child item");
    return;
  }
  destroy_tree(*item);
  *item = nullptr;
}

ZEB_JSON *ZEB_JSONObjGetItem(const ZEB_JSON *item, const char *key) {
  if (!item || item->kind != ZEB_JSON_OBJECT) return nullptr;
  return static_cast<ZEB_JSON *>(ZEB_HashGet(item->members, key));
}

bool ZEB_JSONGetString(const ZEB_JSON *item, char *buffer, uint64_t size) {
  if (!item || item->kind != ZEB_JSON_STRING) return false;
  const int written = snprintf(buffer, size, "%s", item->string);
  return written >= 0 && uint64_t(written) < size;
}

bool ZEB_JSONGetBool(const ZEB_JSON *item, bool *value) {
  if (!item || item->kind != ZEB_JSON_BOOL) return false;
  *value = item->boolean != 0;
  return true;
}
