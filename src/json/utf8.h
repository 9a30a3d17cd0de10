#pragma once
// Strict UTF-8 encoding and decoding, and UTF-8 to UTF-16 conversion (pure).
//
// Strict means: no overlong forms, no surrogate code points (0xD800 to 0xDFFF), nothing above
// 0x10FFFF. UTF-16 text is held in char16_t; the Win32 boundary reinterprets it as wchar_t.
#include <cstdint>

// Writes code point c as 1 to 4 bytes and returns how many, or 0 (nothing written) when c is a
// surrogate or above 0x10FFFF.
uint32_t text_utf8_encode(uint8_t out[4], uint32_t c);

// Decodes one sequence from the length bytes available at s. Returns the bytes consumed (1 to 4)
// and stores the code point, or returns 0 and stores nothing for an invalid or incomplete
// sequence. Bytes are read in order and reading stops at the first one that does not fit, so a
// NUL-terminated text may be passed with a length that is only an upper bound.
uint32_t text_utf8_decode(uint32_t *out, const uint8_t *s, uint32_t length);

// Converts length bytes of UTF-8 into NUL-terminated UTF-16 in dst, whose capacity is given in
// units with the NUL included. A NUL in the source ends the text there, so length may be an
// upper bound for a NUL-terminated text. False for invalid UTF-8 or too small a buffer; dst's
// contents are then unspecified.
bool text_utf8_to_utf16(char16_t *dst, uint32_t capacity, const char *src, uint32_t length);
