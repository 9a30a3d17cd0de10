// Recovery from the pristine skel copy, safe to interrupt at any instant: every file is replaced
// whole, and appdata.json, the installation's commit record, goes last. Until it is replaced the
// old settings and crash records still call for a recovery, so an interrupted one is done again.
#include "src/launch/skel_recovery.h"

#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <cstring>

#include "src/launch/appdata.h"
#include "src/launch/crash_counter.h"
#include "src/launch/reinstall.h"
#include "src/trust/grant_access.h"
#include "src/trust/link_trust.h"
#include "src/trust/lock.h"
#include "src/trust/replace_file.h"
#include "src/trust/safe_file.h"
#include "src/trust/signature.h"
#include "src/launch/trace.h"
#include "zeb/file_list.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr size_t kLocationSize = 512;
constexpr char kSettingsName[] = "appdata.json";

// What recovery holds from its checks to its end; released on every way out.
struct Recovery {
  void *lock = nullptr;       // the data directory
  void *skel_lock = nullptr;  // the skel directory: not swapped, not changed in place
  void *library = nullptr;    // skel's library, open since it was verified
  char *settings_text = nullptr;
  uint64_t settings_size = 0;
  ~Recovery() {
    safe_file_close(&library);
    ZEB_Free(settings_text);
    lock_close(&skel_lock);
    lock_close(&lock);
  }
};

bool refuse(const char *title) {
  trace_refusal(title);
  ZEB_ErrorBox(title, "%s", REINSTALL_TEXT);
  return false;
}

// "lock" and "lock_client" belong to a running application; a missing one is no error.
bool remove_lock_file(const char *data_directory, const char *name) {
  return lock_remove_name(ZEB_JoinPath(data_directory, name));
}

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
    grant_everyone_access(file);
  }
  safe_file_close(&file);
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

// skel's settings, read once: the bytes checked are the bytes written back.
bool read_skel_settings(const char *skel, Recovery *recovery, LaunchSettings *settings) {
  void *file = open_source(ZEB_JoinPath(skel, kSettingsName));
  const bool read = file && safe_file_read(file, APPDATA_SIZE_LIMIT, &recovery->settings_text,
                                           &recovery->settings_size);
  safe_file_close(&file);
  return read && appdata_parse(settings, recovery->settings_text) == 0;
}

// skel's library, opened once and verified through that handle; recovery copies from it.
bool verify_skel_library(const char *skel, const char *so_name, Recovery *recovery) {
  const char *path = ZEB_JoinPath(skel, so_name);
  recovery->library = open_source(path);
  ZEB_WideText wide(path);
  return recovery->library && trace_verify_library(wide.get(), recovery->library);
}

// The owner and DACL of the object open as `handle` (LocalFree), or null.
PSECURITY_DESCRIPTOR descriptor_of(void *handle) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return nullptr;
  return descriptor;
}

bool same_name(const char *a, const char *b) { return _stricmp(a, b) == 0; }

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
    if (!checked_library) safe_file_close(&source);
  }
  // The commit record: only over a complete set of files.
  return copied && replace_file_write(checked->settings_text, checked->settings_size,
                                      data_directory, kSettingsName);
}

namespace {

// The skel inside the data directory, as skel's location names it.
void skel_inside(const char *data_directory, char location[kLocationSize]) {
  snprintf(location, kLocationSize, "%s%cskel", data_directory, '\\');
}

void program_files_skel(char location[kLocationSize]) {
  const char *program_files = ZEB_GetDir(ZEB_DIR_PROGRAM_FILES);
  if (program_files[0] == '.') program_files = "C:\\Program Files";
  snprintf(location, kLocationSize, "%s\\%s\\skel", program_files, "Quarlo");
}

// Locks a directory for the whole recovery: not swapped, not changed in place.
bool lock_directory(const char *path, void **handle) {
  return lock_path(path, true, false, handle);
}

const SkelOpeners kRecoveryOpeners = {lock_directory, open_source};

// Whether nobody but the administering accounts can change the skel directory open as
// `skel_lock`, replace it in the data directory open as `data_lock`, or change any file in it:
// only then may a privileged launch restore from a skel that sits among files users may write.
bool skel_admin_only(void *data_lock, void *skel_lock, const char *skel, const SkelOpeners &open) {
  PSECURITY_DESCRIPTOR around = descriptor_of(data_lock);
  PSECURITY_DESCRIPTOR own = descriptor_of(skel_lock);
  bool trusted = link_trusted(own, around);
  ZEB_FileList *list = trusted ? ZEB_GetFileList(skel, "") : nullptr;
  for (uint32_t i = 0; trusted && i < list->len; ++i) {
    if (list->files[i].dir) continue;
    void *file = open.file(list->files[i].path);
    PSECURITY_DESCRIPTOR file_descriptor = file ? descriptor_of(file) : nullptr;
    trusted = link_trusted(file_descriptor, own);
    LocalFree(file_descriptor);
    safe_file_close(&file);
  }
  ZEB_FreeFileList(&list);
  LocalFree(own);
  LocalFree(around);
  return trusted;
}

}  // namespace

bool skel_pick(const char *data_directory, bool privileged, void *data_handle,
               const SkelOpeners &open, void **skel_handle, char skel[kLocationSize]) {
  skel_location(data_directory, skel);
  if (!open.directory(skel, skel_handle)) return false;
  char inside[kLocationSize] = {};
  skel_inside(data_directory, inside);
  if (!privileged || strcmp(skel, inside) != 0 ||
      skel_admin_only(data_handle, *skel_handle, skel, open))
    return true;
  lock_close(skel_handle);
  program_files_skel(skel);
  return open.directory(skel, skel_handle);
}

bool skel_same_build(const LaunchSettings *installed, const LaunchSettings *skel) {
  return installed->hash[0] && strcmp(installed->hash, skel->hash) == 0;
}

bool skel_same_build_refused(const LaunchSettings *installed, const LaunchSettings *skel,
                             RecoveryReason reason) {
  return skel_same_build(installed, skel) && reason != RECOVERY_RETRY;
}

void skel_location(const char *data_directory, char location[kLocationSize]) {
  if (data_directory && ZEB_FileExists(ZEB_JoinPath(data_directory, "skel"))) {
    skel_inside(data_directory, location);
    return;
  }
  program_files_skel(location);
}

bool skel_recover(const char *data_directory, LaunchSettings *settings, RecoveryReason reason,
                  bool privileged) {
  ZEB_Mkdir(data_directory);
  Recovery recovery;
  if (!lock_path(data_directory, true, false, &recovery.lock))
    return refuse(SKEL_REFUSE_RECOVERY_LOCK);
  replace_file_remove_leftovers(data_directory);

  char skel[kLocationSize] = {};
  LaunchSettings skel_settings;
  // A privileged launch restores from a skel inside the data directory only when administrators
  // alone control it; otherwise it is passed over, as if absent.
  if (!skel_pick(data_directory, privileged, recovery.lock, kRecoveryOpeners, &recovery.skel_lock,
                 skel) ||
      !read_skel_settings(skel, &recovery, &skel_settings))
    return refuse(SKEL_REFUSE_MISSING);

  const bool same_build = skel_same_build(settings, &skel_settings);
  if (skel_same_build_refused(settings, &skel_settings, reason)) return refuse(SKEL_REFUSE_CRASH);

  if (!verify_skel_library(skel, skel_settings.so_name, &recovery))
    return refuse(SKEL_REFUSE_SIGNATURE);

  if (!remove_lock_file(data_directory, "lock")) return refuse(SKEL_REFUSE_LOCKFILE);
  if (!remove_lock_file(data_directory, "lock_client")) return refuse(SKEL_REFUSE_CLIENT_LOCKFILE);

  ZEB_FileList *list = ZEB_GetFileList(skel, "");
  if (list->len == 0) {
    ZEB_FreeFileList(&list);
    return refuse(SKEL_REFUSE_COPY);
  }
  // The block line comes before the first file changes, so that no interruption can lose it; a
  // recovery done again repeats it, which is harmless.
  if (settings->hash[0] && !same_build) append_block_line(data_directory, settings->hash);
  const SkelCopy checked = {recovery.settings_text, recovery.settings_size, skel_settings.so_name,
                            recovery.library};
  const bool copied = skel_copy_files(list, data_directory, &checked);
  ZEB_FreeFileList(&list);
  // Files already replaced stay, each one whole; the settings and records still call for a
  // recovery.
  if (!copied) return refuse(SKEL_REFUSE_COPY);

  delete_counter_files(data_directory);
  return trace_recovery_done(appdata_read(settings, data_directory) == 0);
}
