// The pending-recovery mark.
#include <windows.h>

#include <cstdio>

#include "src/launch/pending_recovery.h"
#include "src/trust/owner_trust.h"
#include "src/trust/replace_file.h"
#include "src/trust/safe_file.h"
#include "zeb/fs.h"
#include "zeb/memory.h"

namespace {

constexpr uint64_t kMarkLimit = 4096;

}  // namespace

bool pending_recovery_read(const char *data_directory, char block[BLOCK_HASH_LENGTH + 1]) {
  block[0] = 0;
  void *file = nullptr;
  const SafeFileOpen opened = safe_file_open(ZEB_JoinPath(data_directory, PENDING_RECOVERY_NAME),
                                             SAFE_FILE_READ, SAFE_FILE_SHARE_ALL, false, &file);
  if (opened == SAFE_FILE_MISSING) return false;
  // Another account's mark neither starts nor steers a recovery, as its crash records do not.
  if (file && !record_trusted_open(file)) {
    handle_reset(&file);
    return false;
  }
  char *text = nullptr;
  uint64_t size = 0;
  if (file && safe_file_read(file, kMarkLimit, &text, &size)) block_list_first(text, block);
  ZEB_Free(text);
  handle_reset(&file);
  return true;  // a mark that cannot be read still says a recovery was cut short
}

bool pending_recovery_mark(const char *data_directory, const char *block) {
  // Whole or not at all: a mark cut short would lose the build it blocks.
  char text[sizeof BLOCK_LINE_PREFIX + BLOCK_HASH_LENGTH + 1] = {};
  if (block[0]) snprintf(text, sizeof text, "%s%s\n", BLOCK_LINE_PREFIX, block);
  return replace_file_write(text, strlen(text), data_directory, PENDING_RECOVERY_NAME);
}

void pending_recovery_clear(const char *data_directory) {
  safe_file_delete(ZEB_JoinPath(data_directory, PENDING_RECOVERY_NAME));
}
