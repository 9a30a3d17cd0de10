// Path and reparse decisions behind the anti-swap locks.
#include "src/trust/lock.h"

#include <cstring>

bool lock_is_root_stem(const char *path, uint64_t length) {
  if (length == 0) return true;
  if (length != 2 || path[1] != ':') return false;
  char drive = path[0];
  return (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
}

uint64_t lock_open_length(const char *path) {
  uint64_t length = strlen(path);
  if (length == 0 || !lock_is_separator(path[length - 1])) return length;
  // "X:\" without its separator is the current directory of drive X, "\" without it is no path.
  if (lock_is_root_stem(path, length - 1)) return length;
  return length - 1;
}

uint64_t lock_trim_separators(char *path) {
  uint64_t length = strlen(path);
  while (length > 0 && lock_is_separator(path[length - 1])) --length;
  if (path[length] != 0 && lock_is_root_stem(path, length)) ++length;
  path[length] = 0;
  return length;
}

uint32_t lock_slot_count(const char *trimmed) {
  uint32_t count = 0;
  for (; *trimmed != 0; ++trimmed) count += lock_is_separator(*trimmed) ? 1 : 0;
  // A bare name or "X:" has no separator left, yet the directory itself must still be locked.
  return count > 0 ? count : 1;
}

bool lock_cut_at_parent(char *path) {
  for (uint64_t i = strlen(path); i > 1;) {
    --i;
    if (lock_is_separator(path[i])) {
      path[i] = 0;
      return true;
    }
  }
  return false;
}

bool lock_reparse_data_allowed(bool fetched, const void *data, uint32_t bytes_returned) {
  if (!fetched || data == nullptr || bytes_returned < sizeof(uint32_t)) return false;
  // The tag is the first 32-bit word of the reparse data, in the machine's (little-endian) order.
  const unsigned char *bytes = static_cast<const unsigned char *>(data);
  uint32_t tag = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                 static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return tag != LOCK_REPARSE_TAG_MOUNT_POINT && tag != LOCK_REPARSE_TAG_SYMLINK;
}
