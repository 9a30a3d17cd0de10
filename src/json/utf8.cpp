// Strict UTF-8 encoding and decoding, and UTF-8 to UTF-16 conversion.
#include "src/json/utf8.h"

namespace {

bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

uint32_t text_utf8_encode(uint8_t out[4], uint32_t c) {
  if (c < 0x80) {
    out[0] = static_cast<uint8_t>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<uint8_t>(0xC0 + (c >> 6));
    out[1] = static_cast<uint8_t>(0x80 + (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    if (c >= 0xD800 && c <= 0xDFFF) return 0;
    out[0] = static_cast<uint8_t>(0xE0 + (c >> 12));
    out[1] = static_cast<uint8_t>(0x80 + ((c >> 6) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 + (c & 0x3F));
    return 3;
  }
  if (c <= 0x10FFFF) {
    out[0] = static_cast<uint8_t>(0xF0 + (c >> 18));
    out[1] = static_cast<uint8_t>(0x80 + ((c >> 12) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 + ((c >> 6) & 0x3F));
    out[3] = static_cast<uint8_t>(0x80 + (c & 0x3F));
    return 4;
  }
  return 0;
}

uint32_t text_utf8_decode(uint32_t *out, const uint8_t *s, uint32_t length) {
  if (length == 0) return 0;
  const uint8_t b0 = s[0];
  if (b0 < 0x80) {
    *out = b0;
    return 1;
  }
  uint32_t need;
  uint32_t c;
  uint32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    need = 2, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    need = 3, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    need = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    return 0;  // a continuation byte first, or 0xF8 to 0xFF
  }
  for (uint32_t i = 1; i < need; ++i) {
    if (i >= length || !is_continuation(s[i])) return 0;
    c = (c << 6) | (s[i] & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *out = c;
  return need;
}

bool text_utf8_to_utf16(char16_t *dst, uint32_t capacity, const char *src, uint32_t length) {
  if (capacity == 0) return false;
  auto s = reinterpret_cast<const uint8_t *>(src);
  // ASCII is widened eight bytes at a time. The bytes are tested in order so that a NUL ends
  // the test before anything after it is read.
  while (capacity >= 9 && length >= 8) {
    int ascii = 0;
    while (ascii < 8 && s[ascii] >= 1 && s[ascii] <= 127) ++ascii;
    if (ascii < 8) break;
    for (int i = 0; i < 8; ++i) dst[i] = s[i];
    dst[8] = 0;
    dst += 8, s += 8, capacity -= 8, length -= 8;
  }
  for (;;) {
    *dst = 0;
    if (length == 0) return true;
    uint32_t c = 0;
    const uint32_t used = text_utf8_decode(&c, s, length);
    if (used == 0) return false;
    if (c == 0) return true;
    if (c < 0x10000) {
      if (capacity < 2) return false;
      *dst++ = static_cast<char16_t>(c);
      capacity -= 1;
    } else {
      if (capacity < 3) return false;
      *dst++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      *dst++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      capacity -= 2;
    }
    s += used, length -= used;
  }
}
