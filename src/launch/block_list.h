#pragma once
// "app_block_hash=" lines: config.txt's list of the builds the application refuses, and the
// pending-recovery mark, which names the build its recovery blocks.
#include <cstddef>
#include <cstring>

constexpr char BLOCK_LINE_PREFIX[] = "app_block_hash=";
constexpr size_t BLOCK_HASH_LENGTH = 64;

// Calls `visit(line, length)` for each block line of `text` (null: none), its line break and a
// carriage return before it left out.
template <typename Visit>
void block_lines_each(const char *text, Visit visit) {
  for (const char *line = text; line && *line;) {
    const char *end = strchr(line, '\n');
    const size_t length = end ? size_t(end - line) : strlen(line);
    if (strncmp(line, BLOCK_LINE_PREFIX, sizeof BLOCK_LINE_PREFIX - 1) == 0) {
      size_t kept = length;
      if (kept && line[kept - 1] == '\r') --kept;
      visit(line, kept);
    }
    line = end ? end + 1 : line + length;
  }
}

// Whether `text` blocks `hash` already: a block line naming exactly it.
bool block_list_has(const char *text, const char *hash);
// The build the first block line of `text` names, when it names one of 64 lower-case hexadecimal
// digits; otherwise false and `hash` empty.
bool block_list_first(const char *text, char hash[BLOCK_HASH_LENGTH + 1]);
