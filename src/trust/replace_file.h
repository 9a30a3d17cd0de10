#pragma once
// Whole-file replacement in a directory that other accounts may write, safe at any instant of a
// crash or power cut: the new contents go to a temporary file created beside the target under a
// fresh, unpredictable name (never an existing name, never through a link), are flushed, and the
// temporary is then renamed over the target through its own handle. A reader, or the next launch,
// sees either the old file or the complete new one. The rename replaces the target's name: a link
// or a second name planted there is replaced, never written through. The temporary inherits the
// directory's permissions. Handles are typed `void *` (the platform HANDLE).
#include <cstdint>

#include "src/trust/busy.h"

// Temporaries are named "quarlo-", 16 lower-case hexadecimal digits, ".tmp".
constexpr char REPLACE_FILE_PATTERN[] = "quarlo-*.tmp";
constexpr uint32_t REPLACE_FILE_NAME_LENGTH = 27;

// Whether `name` has the exact shape of a temporary (pure): only those are ever removed.
bool replace_file_is_temporary(const char *name);

// What a replacement holds and may wait for: a handle on the target that keeps others from taking
// it, closed just before the rename (null: none), and the time the rename may wait for a brief
// holder of the target (null: a wait of its own).
struct ReplaceHold {
  void *target;
  BusyBudget *budget;
};

// Replaces `directory`\`name` with what `source` holds from its start to its end. False, logged
// with the platform's error (a full disk, a target still in use when the wait is over, a target
// that is a directory), with the target untouched and no temporary left behind.
bool replace_file_copy(void *source, const char *directory, const char *name,
                       ReplaceHold *hold = nullptr);
// The same with `size` bytes as the new contents.
bool replace_file_write(const void *bytes, uint64_t size, const char *directory, const char *name,
                        ReplaceHold *hold = nullptr);

// Removes the temporaries that an interrupted replacement left in `directory`, through handles
// that follow no link; one that cannot go (in use, another account's) is logged and stays.
void replace_file_remove_leftovers(const char *directory);
