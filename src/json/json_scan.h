#pragma once
// Scanning for runs of plain string bytes, shared by the JSON parser and writer: a run ends at a
// control byte (below 32), a double quote or a backslash.
#include <cstdint>
#include <cstring>

constexpr bool json_ends_run(uint8_t c) { return c < 32 || c == '"' || c == '\\'; }

// The first byte at or after p that ends a run, or end. Eight bytes at a time while none of
// them can end the run.
inline const char *json_scan_run(const char *p, const char *end) {
  constexpr uint64_t ones = 0x0101010101010101ull;
  constexpr uint64_t highs = 0x8080808080808080ull;
  while (end - p >= 8) {
    uint64_t w;
    memcpy(&w, p, sizeof w);
    const uint64_t quote = w ^ (ones * '"');
    const uint64_t backslash = w ^ (ones * '\\');
    // Exact for "some byte is below 32 / zero"; the byte loop below finds which.
    const uint64_t hits =
        ((w - ones * 32) & ~w) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash);
    if (hits & highs) break;
    p += 8;
  }
  while (p < end && !json_ends_run(static_cast<uint8_t>(*p))) ++p;
  return p;
}
