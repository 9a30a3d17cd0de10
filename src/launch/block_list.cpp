// Reading "app_block_hash=" lines.
#include "src/launch/block_list.h"

bool block_list_has(const char *text, const char *hash) {
  const size_t prefix = sizeof BLOCK_LINE_PREFIX - 1;
  bool found = false;
  block_lines_each(text, [&](const char *line, size_t length) {
    found = found ||
            (length == prefix + strlen(hash) && strncmp(line + prefix, hash, length - prefix) == 0);
  });
  return found && hash[0];
}

bool block_list_first(const char *text, char hash[BLOCK_HASH_LENGTH + 1]) {
  hash[0] = 0;
  bool first = true;
  block_lines_each(text, [&](const char *line, size_t length) {
    if (!first) return;
    first = false;
    const char *digits = line + sizeof BLOCK_LINE_PREFIX - 1;
    if (length != sizeof BLOCK_LINE_PREFIX - 1 + BLOCK_HASH_LENGTH) return;
    for (size_t i = 0; i < BLOCK_HASH_LENGTH; ++i)
      if (!((digits[i] >= '0' && digits[i] <= '9') || (digits[i] >= 'a' && digits[i] <= 'f')))
        return;
    memcpy(hash, digits, BLOCK_HASH_LENGTH);
    hash[BLOCK_HASH_LENGTH] = 0;
  });
  return hash[0] != 0;
}
