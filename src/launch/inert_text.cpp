// Visible stand-ins for characters a viewer would act on.
#include "src/launch/inert_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The length of a well-formed UTF-8 sequence at `p` and its code point, or 0.
size_t utf8_at(const unsigned char *p, uint32_t *code) {
  if (p[0] < 0x80) return *code = p[0], 1;
  const size_t length = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
  if (length == 0 || p[0] > 0xF4) return 0;
  uint32_t value = p[0] & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    value = value << 6 | (p[i] & 0x3F);
  }
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

bool acts(uint32_t code, bool percent) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x200E && code <= 0x200F) ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) ||
         (percent && code == '%');
}

}  // namespace

char *inert_text(const char *text, char *out, size_t capacity, bool percent) {
  if (capacity == 0) return out;
  size_t used = 0;
  const auto *p = reinterpret_cast<const unsigned char *>(text ? text : "");
  while (*p) {
    uint32_t code = 0;
    size_t length = utf8_at(p, &code);
    char piece[16];
    size_t size = length;
    if (length == 0) {  // not UTF-8: the byte itself
      size = size_t(snprintf(piece, sizeof piece, "\\x%02X", *p));
      length = 1;
    } else if (acts(code, percent)) {
      size = size_t(code < 0x100 ? snprintf(piece, sizeof piece, "\\x%02X", unsigned(code))
                                 : snprintf(piece, sizeof piece, "\\u{%04X}", unsigned(code)));
    } else {
      memcpy(piece, p, length);
    }
    if (used + size >= capacity) break;
    memcpy(out + used, piece, size);
    used += size;
    p += length;
  }
  out[used] = 0;
  return out;
}
