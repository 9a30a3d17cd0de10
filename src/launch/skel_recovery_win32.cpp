// Recovery from the pristine skel copy, safe to interrupt at any instant: every file is replaced
// whole, and appdata.json, the installation's commit record, goes last. Until it is replaced the
// old settings and crash records still call for a recovery, so an interrupted one is done again.
#include "src/launch/skel_recovery.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "src/launch/appdata.h"
#include "src/launch/crash_counter.h"
#include "src/launch/recovery_checks.h"
#include "src/launch/reinstall.h"
#include "src/launch/trace.h"
#include "src/trust/grant_access.h"
#include "src/trust/link_trust.h"
#include "src/trust/lock.h"
#include "src/trust/replace_file.h"
#include "src/trust/safe_file.h"
#include "src/trust/signature.h"
#include "zeb/file_list.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr char kSettingsName[] = "appdata.json";

// Records the replaced build so the application can refuse it; the line starts with a newline
// so it stands on a line of its own even after a file without a final one.
void append_block_line(const char *data_directory, const char *hash) {
  char line[128] = {};
  const int length = snprintf(line, sizeof line, "\napp_block_hash=%s\n", hash);
  void *file = nullptr;
  if (length > 0 &&
      safe_file_open(ZEB_JoinPath(data_directory, "config.txt"), SAFE_FILE_READ | SAFE_FILE_APPEND,
                     SAFE_FILE_SHARE_READ, true, &file) == SAFE_FILE_OPENED) {
    const size_t bytes = size_t(length) < sizeof line ? size_t(length) : sizeof line - 1;
    safe_file_append(file, line, bytes);
    grant_everyone_access(file, GRANT_CONFIG);
  }
  handle_reset(&file);
}

void delete_counter_files(const char *data_directory) {
  for (unsigned mode = 0; mode < CRASH_COUNTER_MODES; ++mode) {
    char path[CRASH_COUNTER_PATH_SIZE];
    crash_counter_path(data_directory, mode, path);
    safe_file_delete(path);  // a record another launch still holds stays
  }
}

// Opens a skel file for copying: no link followed, nobody writing it while it is read.
void *open_source(const char *path) {
  void *file = nullptr;
  safe_file_open(path, SAFE_FILE_READ, SAFE_FILE_SHARE_READ, false, &file);
  return file;
}

bool same_name(const char *a, const char *b) { return _stricmp(a, b) == 0; }

// Recovery's steps: they lock what they hold and change what they clear.
bool hold_data(void *, const char *data_directory, void **handle) {
  ZEB_Mkdir(data_directory);
  if (!lock_path(data_directory, true, false, handle)) return false;
  replace_file_remove_leftovers(data_directory);
  return true;
}
// Not swapped, not changed in place while it is copied.
bool hold_directory(void *, const char *path, void **handle) {
  return lock_path(path, true, false, handle);
}
void *open_file(void *, const char *path) { return open_source(path); }
bool verify(void *, const char *path, void *file) {
  ZEB_WideText wide(path);
  const SignatureVerdict verdict = verify_signature_verdict_open(wide.get(), file);
  trace_signature(path, verdict);
  return verdict.outcome == SIGNATURE_ACCEPTED;
}
// "lock" and "lock_client" belong to a running application; a missing one is no error.
bool clear_lock_name(void *, const char *path) { return lock_remove_name(path); }

const RecoverySteps kRecoverySteps = {nullptr,
                                      hold_data,
                                      recovery_step_exists,
                                      recovery_step_program_files_skel,
                                      hold_directory,
                                      open_file,
                                      recovery_step_read,
                                      recovery_step_close,
                                      recovery_step_admin_only,
                                      recovery_step_list,
                                      verify,
                                      clear_lock_name};

}  // namespace

bool skel_copy_files(const ZEB_FileList *list, const char *data_directory,
                     const SkelCopy *checked) {
  // Even an empty directory lists "." and "..": no entries means skel vanished or cannot be
  // read, and recovering from it would reset the counters without restoring anything.
  bool copied = list->len > 0;
  for (uint32_t i = 0; copied && i < list->len; ++i) {
    const ZEB_FileDesc &entry = list->files[i];
    if (entry.dir || same_name(entry.name, kSettingsName)) continue;
    const bool checked_library = checked->library && same_name(entry.name, checked->library_name);
    void *source = checked_library ? checked->library : open_source(entry.path);
    copied = source && replace_file_copy(source, data_directory, entry.name);
    if (!checked_library) handle_reset(&source);
  }
  // The commit record: only over a complete set of files.
  return copied && replace_file_write(checked->settings_text, checked->settings_size,
                                      data_directory, kSettingsName);
}

bool skel_recover(const char *data_directory, LaunchSettings *settings, RecoveryReason reason,
                  bool privileged) {
  RecoveryCheck check;
  const char *refusal =
      recovery_check(data_directory, settings, reason, privileged, kRecoverySteps, &check);
  bool restored = false;
  if (!refusal) {
    // The block line comes before the first file changes, so that no interruption can lose it; a
    // recovery done again repeats it, which is harmless.
    if (settings->hash[0] && !check.same_build) append_block_line(data_directory, settings->hash);
    const SkelCopy checked = {check.settings_text, check.settings_size, check.settings.so_name,
                              check.library};
    // Files already replaced stay, each one whole; the settings and records still call for a
    // recovery.
    if (!skel_copy_files(check.list, data_directory, &checked)) refusal = SKEL_REFUSE_COPY;
  }
  if (refusal) {
    refuse_with_box(refusal);  // shown while recovery still holds its locks
  } else {
    delete_counter_files(data_directory);
    restored = appdata_read(settings, data_directory) == 0;
    trace_recovery_done(restored);
  }
  recovery_check_release(kRecoverySteps, &check);
  return restored;
}
