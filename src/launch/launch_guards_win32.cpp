// Guard points of a launch pass: crash counters and recovery, name checks and locks,
// signatures, the crash-counter record, and the release of what the pass holds.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "src/launch/crash_counter.h"
#include "src/trust/grant_access.h"
#include "src/launch/launch_guards.h"
#include "src/trust/lock.h"
#include "src/launch/reinstall.h"
#include "src/trust/signature.h"
#include "src/launch/skel_recovery.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/shared_library.h"
#include "zeb/unicode.h"

namespace {

// End the loop with a message box over the reinstall text.
bool fail_with_box(LaunchState *state, const char *title) {
  ZEB_ErrorBox(title, "%s", REINSTALL_TEXT);
  state->result = 0;
  return false;
}

// A local layout without skel loads at once, unless an IPC launch started in a directory that
// is also one of the shared data directories.
bool takes_local_shortcut(const LaunchState *state) {
  if (!state->local_layout || ZEB_FileExists(ZEB_JoinPath(state->data_dir, "skel"))) return false;
  return !(state->ipc_launch && (strcmp(state->local_dir, state->machine_dir) == 0 ||
                                 strcmp(state->local_dir, state->user_dir) == 0));
}

// Visits all three counter files; deletes those to discard. True when one reached the limit.
bool crash_loop_detected(const LaunchState *state) {
  bool detected = false;
  for (unsigned mode = 0; mode < 3; ++mode) {
    char path[1280] = {};
    snprintf(path, sizeof path, "%s%ccc%u.txt", state->data_dir, '\\', mode);
    int32_t count = 0;
    if (crash_counter_read(path, state->settings.hash, &count))
      ZEB_DeleteFile(path);
    else if (count >= CRASH_COUNTER_LIMIT)
      detected = true;
  }
  return detected;
}

bool equals_ignoring_ascii_case(const char *a, const char *b) {
  for (;; ++a, ++b) {
    const char x = (*a >= 'A' && *a <= 'Z') ? char(*a - 'A' + 'a') : *a;
    const char y = (*b >= 'A' && *b <= 'Z') ? char(*b - 'A' + 'a') : *b;
    if (x != y) return false;
    if (!x) return true;
  }
}

bool library_name_acceptable(const char *name) {
  return equals_ignoring_ascii_case(ZEB_GetFileExtension(name), ZEB_GetSOExtension()) &&
         !strchr(name, '\\') && !strchr(name, '/');
}

// The launcher's own signature decides whether libraries are checked at all; it cannot change
// while the process runs, so it is verified once.
bool launcher_is_signed() {
  static int verified = -1;
  if (verified < 0) {
    wchar_t self[1280] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, 1280);
    verified = length > 0 && length < 1280 && verify_signature(self);
  }
  return verified == 1;
}

}  // namespace

bool guard_first_failure(LaunchState *state) {
  if (state->retry) return false;
  state->retry = true;
  state->result = 1;
  return true;
}

bool guard_before_loading(LaunchState *state) {
  memset(state->counter_path, 0, sizeof state->counter_path);
  snprintf(state->counter_path, sizeof state->counter_path, "%s%c%s", state->data_dir, '\\',
           state->counter_name);

  if (!takes_local_shortcut(state)) {
    const bool recover = !state->settings_found || state->retry || crash_loop_detected(state);
    if (recover) {
      if (state->ipc_launch) {  // an IPC launch never attempts a recovery
        state->result = 7002;
        return false;
      }
      if (!skel_recover(state->data_dir, &state->settings)) {
        state->result = 0;
        return false;
      }
      if (!state->settings_found) return false;  // restored; the next launch loads (result 2)
    }
  }

  if (!library_name_acceptable(state->settings.so_name) ||
      !lock_path(state->data_dir, true, false, &state->dir_lock))
    return fail_with_box(state, "File System Error - Lock");
  if (!lock_path_recursive(state->data_dir, &state->ancestor_locks, &state->ancestor_count)) {
    fail_with_box(state, "File System Error - Recursive");
    lock_close(&state->dir_lock);  // held while the box is shown
    return false;
  }
  return true;
}

bool guard_library_path(LaunchState *state) {
  if (lock_path(state->library_path, false, false, &state->library_lock)) return true;
  guard_first_failure(state);
  return false;
}

bool guard_after_hashing(LaunchState *state) {
  if (!launcher_is_signed()) return true;
  ZEB_WideText library(state->library_path);
  if (verify_signature(library.get())) return true;
  if (!guard_first_failure(state)) fail_with_box(state, "Signature Failure");
  return false;
}

void guard_after_load_attempt(LaunchState *state) {
  lock_release_array(&state->ancestor_locks, &state->ancestor_count);
}

void guard_before_call(LaunchState *state) {
  int32_t count = 0;
  crash_counter_read(state->counter_path, state->settings.hash, &count);
  if (count < INT32_MAX) ++count;
  char record[CRASH_COUNTER_RECORD_SIZE] = {};
  const int32_t length = crash_counter_write(state->settings.hash, count, record);
  if (length > 0 && ZEB_WriteFile(state->counter_path, record, uint64_t(length)))
    grant_everyone_access(state->counter_path);
}

void guard_release(LaunchState *state) {
  lock_close(&state->library_lock);
  lock_release_array(&state->ancestor_locks, &state->ancestor_count);
  lock_close(&state->dir_lock);
}
