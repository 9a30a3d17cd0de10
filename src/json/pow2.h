#pragma once
#include <cstdint>

// Smallest power of two not below need (need > 0), on 32 bits: the growth rule of the arena and
// the text buffer.
constexpr uint32_t util_round_up_pow2(uint32_t need) {
  uint32_t v = need - 1;
  v |= v >> 1;
  v |= v >> 2;
  v |= v >> 4;
  v |= v >> 8;
  v |= v >> 16;
  return v + 1;
}
static_assert(util_round_up_pow2(4097) == 8192 && util_round_up_pow2(4096) == 4096);
