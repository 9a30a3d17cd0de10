#pragma once
// A recovery that has begun to change the data directory leaves a mark until skel's appdata.json
// is in place. A launch that finds it finishes that recovery first, whatever started it, and
// blocks what the mark names rather than anything new: otherwise a recovery that a refused library
// started, ended after the library changed, would leave skel's library under the old settings.
#include "src/launch/block_list.h"

constexpr char PENDING_RECOVERY_NAME[] = "recovery.pending";

// Whether the mark is in `data_directory` (ending in a backslash), read with full sharing, and no
// other standard account can have written it (the rule of crash records); the build it names
// into `block` (empty: none).
bool pending_recovery_read(const char *data_directory, char block[BLOCK_HASH_LENGTH + 1]);
// Writes the mark naming `block` (empty: none) and flushes it, never through a link. False, with
// nothing changed, when it cannot be written.
bool pending_recovery_mark(const char *data_directory, const char *block);
// Removes the mark.
void pending_recovery_clear(const char *data_directory);
