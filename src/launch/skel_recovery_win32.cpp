// Recovery from the pristine skel copy, safe to interrupt at any instant: every file is replaced
// whole, and appdata.json, the installation's commit record, goes last. Until it is replaced the
// old settings and crash records still call for a recovery, so an interrupted one is done again.
#include "src/launch/skel_recovery.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "src/launch/appdata.h"
#include "src/launch/ascii_case.h"
#include "src/launch/crash_counter.h"
#include "src/launch/pending_recovery.h"
#include "src/launch/recovery_checks.h"
#include "src/launch/reinstall.h"
#include "src/launch/trace.h"
#include "src/trust/busy.h"
#include "src/trust/grant_access.h"
#include "src/trust/link_trust.h"
#include "src/trust/lock.h"
#include "src/trust/replace_file.h"
#include "src/trust/safe_file.h"
#include "src/trust/signature.h"
#include "zeb/crypto_hash.h"
#include "zeb/file_list.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr char kSettingsName[] = "appdata.json";

// Records the replaced build so the application can refuse it, flushed: a power cut must not lose
// it once the files start to change. The line starts with a newline so it stands on a line of its
// own even after a file without a final one.
void append_block_line(const char *data_directory, const char *hash) {
  char line[128] = {};
  const int length = snprintf(line, sizeof line, "\n%s%s\n", BLOCK_LINE_PREFIX, hash);
  void *file = nullptr;
  if (length > 0 &&
      safe_file_open(ZEB_JoinPath(data_directory, "config.txt"), SAFE_FILE_READ | SAFE_FILE_APPEND,
                     SAFE_FILE_SHARE_READ, true, &file) == SAFE_FILE_OPENED) {
    const size_t bytes = size_t(length) < sizeof line ? size_t(length) : sizeof line - 1;
    if (safe_file_append(file, line, bytes) && !FlushFileBuffers(file))
      ZEB_LogError("append_block_line", "'FlushFileBuffers' failed with error 0x%X",
                   unsigned(GetLastError()));
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

// The entry of the file `name` in `list`, or its length.
uint32_t index_of(const ZEB_FileList *list, const char *name) {
  for (uint32_t i = 0; i < list->len; ++i)
    if (!list->files[i].dir && equal_ignoring_ascii_case(list->files[i].name, name)) return i;
  return list->len;
}

// What one recovery waits for, in all: files others hold for a moment, before and at the renames.
struct RecoveryRun {
  BusyBudget budget;
};

BusyBudget *budget_of(void *context) { return &static_cast<RecoveryRun *>(context)->budget; }

// Recovery's steps: they lock what they hold and change what they clear.
bool hold_data(void *, const char *data_directory, void **handle) {
  ZEB_Mkdir(data_directory);
  // Not swapped while recovery runs; the renames into it need write sharing.
  if (!lock_path(data_directory, true, true, handle)) return false;
  replace_file_remove_leftovers(data_directory);
  return true;
}
// Not swapped, not changed in place while it is copied.
bool hold_directory(void *, const char *path, void **handle) {
  return lock_path(path, true, false, handle);
}
// For copying: no link followed, nobody writing it while it is read.
void *open_file(void *context, const char *path) {
  for (;;) {
    void *file = nullptr;
    const SafeFileOpen opened =
        safe_file_open(path, SAFE_FILE_READ, SAFE_FILE_SHARE_READ, false, &file);
    if (opened != SAFE_FILE_IN_USE || !busy_wait(budget_of(context))) return file;
  }
}
bool verify(void *, const char *path, void *file) {
  ZEB_WideText wide(path);
  const SignatureVerdict verdict = verify_signature_verdict_open(wide.get(), file);
  trace_signature(path, verdict);
  return verdict.outcome == SIGNATURE_ACCEPTED;
}
// "lock" and "lock_client" belong to a running application; a missing one is no error.
bool hold_lock_name(void *, const char *path, void **handle) {
  return lock_hold_name(path, handle);
}
bool hash_installed(void *, const char *path, char hash[65]) {
  return ZEB_CryptoHashFile(ZEB_ALGORITHM_SHA256_HEX, path, nullptr, 0, hash, 65);
}
bool read_config(void *, const char *path, char **text) {
  void *file = nullptr;
  uint64_t size = 0;
  const bool read =
      safe_file_open(path, SAFE_FILE_READ, SAFE_FILE_SHARE_ALL, false, &file) == SAFE_FILE_OPENED &&
      safe_file_read(file, ZEB_READFILE_LIMIT, text, &size);
  handle_reset(&file);
  return read;
}
// Held with delete access, so that no launch locks it and no program opens it without sharing
// deletion until just before its rename; a directory is never replaced.
bool hold_target(void *context, const char *path, void **handle) {
  ZEB_WideText wide(path);
  for (;;) {
    ScopedHandle target(
        CreateFileW(wide.get(), DELETE | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (target.get() != INVALID_HANDLE_VALUE) {
      const uint32_t attributes = safe_file_attributes(target.get());
      if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
          FILE_ATTRIBUTE_DIRECTORY) {
        ZEB_LogError("hold_target", "'%s' is a directory", ZEB_GetFileName(path, true));
        return false;
      }
      *handle = target.release();
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    if (!busy_error(error) || !busy_wait(budget_of(context))) {
      ZEB_LogError("hold_target", "'CreateFile' failed for '%s' with error 0x%X",
                   ZEB_GetFileName(path, true), unsigned(error));
      return false;
    }
  }
}

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
                                      hold_lock_name,
                                      hash_installed,
                                      read_config,
                                      hold_target};

// Changes the data directory as the checks allowed: the mark, the block line, the lock names,
// the files, the settings last. The title of the refusal, or null.
const char *restore(const char *data_directory, const RecoveryRequest &request,
                    RecoveryCheck *check, RecoveryRun *run) {
  // A recovery being finished has its mark already.
  if (request.reason != RECOVERY_PENDING && !pending_recovery_mark(data_directory, check->block))
    return SKEL_REFUSE_COPY;
  if (check->block[0]) append_block_line(data_directory, check->block);
  if (!lock_remove_held(check->lock_names[0], "lock")) return SKEL_REFUSE_LOCKFILE;
  if (!lock_remove_held(check->lock_names[1], "lock_client")) return SKEL_REFUSE_CLIENT_LOCKFILE;
  SkelCopy copy = {check->settings_text, check->settings_size, check->sources, check->targets,
                   &run->budget};
  // Files already replaced stay, each one whole; the mark and the old settings still call for the
  // recovery to be finished.
  const uint32_t library = index_of(check->list, check->settings.so_name);
  if (library < check->list->len) copy.sources[library] = check->library;
  const bool copied = skel_copy_files(check->list, data_directory, &copy);
  if (library < check->list->len) copy.sources[library] = nullptr;  // released as `library`
  return copied ? nullptr : SKEL_REFUSE_COPY;
}

}  // namespace

bool skel_copy_files(const ZEB_FileList *list, const char *data_directory, SkelCopy *checked) {
  // Even an empty directory lists "." and "..": no entries means skel vanished or cannot be
  // read, and recovering from it would reset the counters without restoring anything.
  bool copied = list->len > 0;
  uint32_t settings = list->len;
  for (uint32_t i = 0; copied && i < list->len; ++i) {
    const ZEB_FileDesc &entry = list->files[i];
    if (entry.dir) continue;
    if (equal_ignoring_ascii_case(entry.name, kSettingsName)) {
      settings = i;
      continue;
    }
    ReplaceHold hold = {checked->targets[i], checked->budget};
    checked->targets[i] = nullptr;  // the replacement closes it before its rename
    copied = checked->sources[i] &&
             replace_file_copy(checked->sources[i], data_directory, entry.name, &hold);
    handle_reset(&hold.target);
  }
  // The commit record: only over a complete set of files.
  ReplaceHold hold = {settings < list->len ? checked->targets[settings] : nullptr, checked->budget};
  if (settings < list->len) checked->targets[settings] = nullptr;
  copied = copied && replace_file_write(checked->settings_text, checked->settings_size,
                                        data_directory, kSettingsName, &hold);
  handle_reset(&hold.target);
  return copied;
}

bool skel_recover(const char *data_directory, LaunchSettings *settings,
                  const RecoveryRequest &request) {
  RecoveryRun run;
  RecoverySteps steps = kRecoverySteps;
  steps.context = &run;
  RecoveryCheck check;
  const char *refusal = recovery_check(data_directory, settings, request, steps, &check);
  if (!refusal) refusal = restore(data_directory, request, &check, &run);
  bool restored = false;
  if (refusal) {
    refuse_with_box(refusal);  // shown while recovery still holds its locks
  } else {
    delete_counter_files(data_directory);
    pending_recovery_clear(data_directory);
    restored = appdata_read(settings, data_directory) == SETTINGS_FOUND;
    trace_recovery_done(restored);
  }
  recovery_check_release(steps, &check);
  return restored;
}
