// The order of listing entries: directories first, then names compared as the Windows
// runtime's _wcsicmp does in its default locale, with a case-sensitive tie-break.
#include <cstring>

#include "zeb/file_list.h"
#include "zeb/memory.h"

namespace {

// Length of the valid UTF-8 sequence at `text` and its code point, or 0 when the bytes
// there are not one (overlong forms, surrogates and values above U+10FFFF included).
int decode_one(const unsigned char *text, uint32_t *code_point) {
  const unsigned char lead = text[0];
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  int length;
  uint32_t value;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    const unsigned char next = text[i];  // a terminator fails the range test and stops here
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  *code_point = value;
  return length;
}

// Heap UTF-16 copy as the platform conversion makes it: strict UTF-8 decoding, or, for
// text that is not valid UTF-8, every byte widened to the unit of the same value.
char16_t *utf16_copy(const char *text) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(text);
  const size_t length = strlen(text);
  auto *out = static_cast<char16_t *>(ZEB_Alloc(length + 1, sizeof(char16_t)));
  size_t units = 0;
  for (size_t i = 0; i < length;) {
    uint32_t code_point;
    const int used = decode_one(bytes + i, &code_point);
    if (used == 0) {
      for (size_t j = 0; j < length; ++j) out[j] = bytes[j];
      out[length] = 0;
      return out;
    }
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      out[units++] = char16_t(0xD800 + (code_point >> 10));
      out[units++] = char16_t(0xDC00 + (code_point & 0x3FF));
    } else {
      out[units++] = char16_t(code_point);
    }
    i += used;
  }
  out[units] = 0;
  return out;
}

// The default ("C") locale folds only A to Z, to lower case.
int fold(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit + (u'a' - u'A') : unit; }

int compare_folded(const char16_t *a, const char16_t *b) {
  for (;; ++a, ++b) {
    const int difference = fold(*a) - fold(*b);
    if (difference != 0 || *a == 0) return difference;
  }
}

int compare_units(const char16_t *a, const char16_t *b) {
  for (; *a == *b && *a != 0; ++a, ++b) {
  }
  return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

}  // namespace

int file_list_compare(const void *a, const void *b) {
  const auto *first = static_cast<const ZEB_FileDesc *>(a);
  const auto *second = static_cast<const ZEB_FileDesc *>(b);
  if (first->dir && !second->dir) return -1;
  if (second->dir && !first->dir) return 1;
  char16_t *first_name = utf16_copy(first->name);
  char16_t *second_name = utf16_copy(second->name);
  int order = compare_folded(first_name, second_name);
  // Names equal but for letter case: the higher code units (lower case) come first.
  if (order == 0) order = -compare_units(first_name, second_name);
  ZEB_Free(second_name);
  ZEB_Free(first_name);
  return order;
}
