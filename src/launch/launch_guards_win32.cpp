// Guard points of a launch pass: crash counters and recovery, name checks and locks,
// signatures, the crash-counter record, and the release of what the pass holds.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "src/launch/ascii_case.h"
#include "src/launch/crash_counter.h"
#include "src/trust/busy.h"
#include "src/trust/grant_access.h"
#include "src/launch/launch_decisions.h"
#include "src/launch/launch_endings.h"
#include "src/launch/launch_guards.h"
#include "src/launch/pending_recovery.h"
#include "src/trust/link_trust.h"
#include "src/trust/lock.h"
#include "src/trust/owner_trust.h"
#include "src/trust/replace_file.h"
#include "src/launch/reinstall.h"
#include "src/trust/safe_file.h"
#include "src/trust/signature.h"
#include "src/launch/skel_recovery.h"
#include "src/launch/trace.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/shared_library.h"
#include "zeb/unicode.h"

namespace {

// End the loop with a message box over the reinstall text.
bool fail_with_box(LaunchState *state, const char *title) {
  refuse_with_box(title);
  state->result = EXIT_AFTER_BOX;
  return false;
}

// A file that another program held for longer than the launch waits: the launch ends without
// changing anything, neither retrying nor recovering.
bool fail_busy(LaunchState *state, const char *path) {
  trace_busy(path);
  return fail_with_box(state, BOX_LOCK);
}

// Directory names compared as the file system compares them: ordinal, ignoring case.
bool same_directory(const char *a, const char *b) {
  ZEB_WideText wide_a(a);
  ZEB_WideText wide_b(b);
  return CompareStringOrdinal(wide_a.get(), -1, wide_b.get(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool takes_local_shortcut(const LaunchState *state) {
  if (!state->local_layout || ZEB_FileExists(ZEB_JoinPath(state->data_dir, "skel"))) return false;
  return !(state->ipc_launch && (same_directory(state->local_dir, state->machine_dir) ||
                                 same_directory(state->local_dir, state->user_dir)));
}

// A record that another launch still holds open (it is inside wx_main) is live: it neither counts
// nor goes.
RecordProbe record_probe(const char *path, const char *hash, bool may_delete) {
  RecordProbe probe = {};
  void *file = nullptr;
  const SafeFileOpen opened =
      safe_file_open(path, SAFE_FILE_READ | SAFE_FILE_DELETE, SAFE_FILE_SHARE_ALL, false, &file);
  probe.present = opened != SAFE_FILE_MISSING;
  probe.live = opened == SAFE_FILE_IN_USE;
  probe.discard = true;
  if (opened != SAFE_FILE_OPENED) {
    trace_record_unread(path);
    return probe;
  }
  probe.foreign = !record_trusted_open(file);
  if (probe.foreign) {
    trace_record_foreign(path);
  } else {
    probe.discard = crash_counter_read_open(file, hash, &probe.count);
    if (probe.discard && may_delete) safe_file_delete_open(file);
    trace_record(path, probe.count, probe.discard, may_delete);
  }
  handle_reset(&file);
  return probe;
}

bool record_reached_limit(const char *path, const char *hash, bool may_delete) {
  return record_probe(path, hash, may_delete).count >= CRASH_COUNTER_LIMIT;
}

namespace {

// Visits all three counter files. True when one reached the limit.
bool crash_loop_detected(const LaunchState *state) {
  bool detected = false;
  for (unsigned mode = 0; mode < CRASH_COUNTER_MODES; ++mode) {
    char path[CRASH_COUNTER_PATH_SIZE];
    crash_counter_path(state->data_dir, mode, path);
    if (record_reached_limit(path, state->settings.hash, state->dir_lock != nullptr))
      detected = true;
  }
  return detected;
}

}  // namespace

// A recovery cut short is finished first, whatever started it; then a retry: the previous pass
// found this very build's copy unusable.
RecoveryReason recovery_reason(LaunchState *state) {
  if (pending_recovery_read(state->data_dir, state->pending_block)) return RECOVERY_PENDING;
  if (!state->settings_found) return RECOVERY_MISSING_SETTINGS;
  if (state->retry) return state->retry_signature ? RECOVERY_SIGNATURE : RECOVERY_RETRY;
  return crash_loop_detected(state) ? RECOVERY_CRASH_LOOP : RECOVERY_NONE;
}

bool library_name_acceptable(const char *name) {
  return equal_ignoring_ascii_case(ZEB_GetFileExtension(name), ZEB_GetSOExtension()) &&
         !strchr(name, '\\') && !strchr(name, '/');
}

namespace {

// Whether libraries are checked comes from the launcher's image as the loader mapped it, which no
// other process can hold or change; its file can be held open so that reading it fails. An image
// with a certificate table checks every library; only one without, a development build, skips
// the check. The file's own signature is not verified: its failure could change nothing.
bool launcher_is_signed() {
  const auto *image = reinterpret_cast<const uint8_t *>(GetModuleHandleW(nullptr));
  return image_checks_libraries(image, UINT64_MAX);
}

}  // namespace

PassEnd guard_library_failed(LaunchState *state, LibraryFailure failure) {
  const PassEnd end = library_failure_end(failure, state->retry);
  state->result = end.result;
  if (end.result == PASS_AGAIN) {
    state->retry = true;
    state->retry_signature = failure == LIBRARY_SIGNATURE;
    trace_retry();
  } else if (end.box && end.box != BOX_CANNOT_LOAD) {
    refuse_with_box(end.box);
  }
  return end;
}

namespace {

// Whether appdata.json, as a launch as a service account meets it, is only administrators' to
// change: the rule of links, over the file and the data directory the pass holds.
bool settings_trusted(const LaunchState *state) {
  char *path = ZEB_Strdup(ZEB_JoinPath(state->data_dir, "appdata.json"));
  void *file = nullptr;
  const bool trusted = safe_file_open(path, SAFE_FILE_INSPECT, SAFE_FILE_SHARE_ALL, false, &file) ==
                           SAFE_FILE_OPENED &&
                       link_trusted_open(file, state->dir_lock);
  handle_reset(&file);
  if (!trusted) trace_untrusted(path);
  ZEB_Free(path);
  return trusted;
}

constexpr uint32_t kRecordAccess = SAFE_FILE_READ | SAFE_FILE_WRITE;

// This mode's record, opened or created for this launch to write. Another account's record under
// its name counts for nothing here: it is deleted where that is allowed, and a record of this
// launch's own replaces it; where it cannot go, the launch runs without a record (logged).
bool open_own_record(LaunchState *state) {
  bool existed = false;
  const SafeFileOpen opened =
      safe_file_open(state->counter_path, kRecordAccess, SAFE_FILE_SHARE_READ, true,
                     &state->counter_file, &existed);
  const bool foreign = opened == SAFE_FILE_OPENED
                           ? existed && !record_trusted_open(state->counter_file)
                           : opened == SAFE_FILE_FAILED && GetLastError() == ERROR_ACCESS_DENIED;
  if (!foreign) return opened == SAFE_FILE_OPENED;
  handle_reset(&state->counter_file);
  // One this launch may not open for writing may still be deleted, as every launch's records may.
  void *other = nullptr;
  const bool deleted = safe_file_open(state->counter_path, SAFE_FILE_INSPECT | SAFE_FILE_DELETE,
                                      SAFE_FILE_SHARE_ALL, false, &other) == SAFE_FILE_OPENED &&
                       !record_trusted_open(other) && safe_file_delete_open(other);
  handle_reset(&other);
  trace_record_replaced(state->counter_path, deleted);
  return deleted && safe_file_open(state->counter_path, kRecordAccess, SAFE_FILE_SHARE_READ, true,
                                   &state->counter_file) == SAFE_FILE_OPENED;
}

}  // namespace

bool guard_before_loading(LaunchState *state) {
  if (state->settings_busy) return fail_busy(state, ZEB_JoinPath(state->data_dir, "appdata.json"));
  crash_counter_path(state->data_dir, state->mode, state->counter_path);
  // Nothing in the data directory changes before the directory itself is locked: the lock keeps
  // it from being swapped for a junction while records are deleted. One that does not exist yet
  // is created and locked by recovery.
  // What an interrupted recovery left behind goes while the directory is held.
  if (lock_path(state->data_dir, true, true, &state->dir_lock)) {
    if (state->service_account) {
      if (const char *why = directory_distrust_open(state->dir_lock)) {
        trace_directory_refused(state->data_dir, why);
        return fail_with_box(state, BOX_LOCK);
      }
      // Settings another account could have written are none: restored from skel instead.
      if (state->settings_found && !settings_trusted(state)) {
        state->settings_found = false;
        memset(&state->settings, 0, sizeof state->settings);
      }
    }
    replace_file_remove_leftovers(state->data_dir);
  }

  if (!takes_local_shortcut(state)) {
    const RecoveryReason reason = recovery_reason(state);
    if (reason != RECOVERY_NONE) {
      trace_recovery(state, reason);
      // An IPC launch never attempts a recovery.
      const RecoveryRequest request = {reason, state->privileged, state->pending_block};
      const bool restored =
          !state->ipc_launch && skel_recover(state->data_dir, &state->settings, request);
      if (recovery_ends_pass(state, restored, &state->result)) return false;
    }
  }

  if (!library_name_acceptable(state->settings.so_name) ||
      (!state->dir_lock && !lock_path(state->data_dir, true, true, &state->dir_lock)))
    return fail_with_box(state, BOX_LOCK);
  if (!lock_path_recursive(state->data_dir, &state->ancestor_locks, &state->ancestor_count)) {
    fail_with_box(state, BOX_RECURSIVE);
    handle_reset(&state->dir_lock);  // held while the box is shown
    return false;
  }
  return true;
}

bool guard_library_path(LaunchState *state) {
  BusyBudget budget;
  uint32_t error = 0;
  while (!lock_path(state->library_path, false, false, &state->library_lock, &error)) {
    if (!busy_error(error)) {
      guard_library_failed(state, LIBRARY_LOCK);
      return false;
    }
    if (!busy_wait(&budget)) return fail_busy(state, state->library_path);
  }
  // A library another account could have changed is not loaded by a service account: as one
  // that cannot be locked, it is replaced from skel.
  if (state->service_account && !link_trusted_open(state->library_lock, state->dir_lock)) {
    trace_untrusted(state->library_path);
    handle_reset(&state->library_lock);
    guard_library_failed(state, LIBRARY_LOCK);
    return false;
  }
  return true;
}

bool guard_after_hashing(LaunchState *state) {
  const bool checks_libraries = launcher_is_signed();
  trace_library(state, checks_libraries);
  if (!checks_libraries) return true;
  ZEB_WideText library(state->library_path);
  const SignatureVerdict verdict = verify_signature_verdict(library.get());
  trace_signature(state->library_path, verdict);
  if (verdict.outcome == SIGNATURE_ACCEPTED) return true;
  guard_library_failed(state, LIBRARY_SIGNATURE);
  return false;
}

void guard_after_load_attempt(LaunchState *state) {
  lock_release_array(&state->ancestor_locks, &state->ancestor_count);
}

void guard_before_call(LaunchState *state) {
  // The record stays open without write or delete sharing while wx_main runs: other launches
  // see it as live, and nobody can change or remove it, while anyone may still read it. When
  // another launch of this mode holds it, this one runs without a record.
  if (!open_own_record(state)) return;
  int32_t count = 0;
  crash_counter_read_open(state->counter_file, state->settings.hash, &count);
  if (count < INT32_MAX) ++count;
  char record[CRASH_COUNTER_RECORD_SIZE] = {};
  const int32_t length = crash_counter_write(state->settings.hash, count, record);
  if (length > 0 && safe_file_replace(state->counter_file, record, uint64_t(length))) {
    grant_everyone_access(state->counter_file, GRANT_RECORD);
    return;
  }
  guard_after_call(state);  // a record that could not be written is none
}

void guard_after_call(LaunchState *state) {
  if (state->counter_file) {
    // Emptied first, so that in the moment between closing and deleting it no other launch can
    // count it: an empty record is discarded.
    safe_file_replace(state->counter_file, "", 0);
    handle_reset(&state->counter_file);
  }
  safe_file_delete(state->counter_path);  // refused while another launch holds its own
}

void guard_release(LaunchState *state) {
  handle_reset(&state->counter_file);
  handle_reset(&state->library_lock);
  lock_release_array(&state->ancestor_locks, &state->ancestor_count);
  handle_reset(&state->dir_lock);
}
