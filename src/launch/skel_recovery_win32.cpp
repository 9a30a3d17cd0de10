// Recovery from the pristine skel copy.
#include "src/launch/skel_recovery.h"

#include <cstdio>
#include <cstring>

#include "src/launch/appdata.h"
#include "src/trust/grant_access.h"
#include "src/trust/lock.h"
#include "src/launch/reinstall.h"
#include "src/trust/safe_file.h"
#include "src/trust/signature.h"
#include "zeb/file_list.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/unicode.h"

namespace {

constexpr size_t kLocationSize = 512;

bool refuse(const char *title, void **recovery_lock) {
  ZEB_ErrorBox(title, "%s", REINSTALL_TEXT);
  lock_close(recovery_lock);
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
  for (unsigned mode = 0; mode < 3; ++mode) {
    char path[1280] = {};
    snprintf(path, sizeof path, "%s%ccc%u.txt", data_directory, '\\', mode);
    safe_file_delete(path);  // a record another launch still holds stays
  }
}

}  // namespace

bool skel_copy_files(const char *skel, const char *data_directory) {
  ZEB_FileList *list = ZEB_GetFileList(skel, "");
  // Even an empty directory lists "." and "..": no entries means skel vanished or cannot be
  // read, and recovering from it would reset the counters without restoring anything.
  const bool listed = list->len > 0;
  for (uint32_t i = 0; i < list->len; ++i) {
    const ZEB_FileDesc &entry = list->files[i];
    if (!entry.dir) safe_file_copy(entry.path, ZEB_JoinPath(data_directory, entry.name));
  }
  ZEB_FreeFileList(&list);
  return listed;
}

void skel_location(const char *data_directory, char location[kLocationSize]) {
  if (data_directory && ZEB_FileExists(ZEB_JoinPath(data_directory, "skel"))) {
    snprintf(location, kLocationSize, "%s%cskel", data_directory, '\\');
    return;
  }
  const char *program_files = ZEB_GetDir(ZEB_DIR_PROGRAM_FILES);
  if (program_files[0] == '.') program_files = "C:\\Program Files";
  snprintf(location, kLocationSize, "%s\\%s\\skel", program_files, "Quarlo");
}

bool skel_recover(const char *data_directory, LaunchSettings *settings) {
  ZEB_Mkdir(data_directory);
  void *recovery_lock = nullptr;
  if (!lock_path(data_directory, true, false, &recovery_lock))
    return refuse("File System Error - Recovery Lock", &recovery_lock);

  char skel[kLocationSize] = {};
  skel_location(data_directory, skel);
  LaunchSettings skel_settings;
  if (appdata_read(&skel_settings, skel) != 0)
    return refuse("File System Error - Skel Missing or Broken", &recovery_lock);

  // The pristine copy is the very build that keeps failing: copying it back would not help.
  if (settings->hash[0] && strcmp(settings->hash, skel_settings.hash) == 0)
    return refuse("File System Error - Skel Crash", &recovery_lock);

  {
    ZEB_WideText library(ZEB_JoinPath(skel, skel_settings.so_name));
    if (!verify_signature(library.get()))
      return refuse("File System Error - Skel Signature", &recovery_lock);
  }

  if (!remove_lock_file(data_directory, "lock"))
    return refuse("File System Error - Lockfile", &recovery_lock);
  if (!remove_lock_file(data_directory, "lock_client"))
    return refuse("File System Error - Client Lockfile", &recovery_lock);

  char copy_from[kLocationSize] = {};
  skel_location(data_directory, copy_from);
  if (!copy_from[0] || !skel_copy_files(copy_from, data_directory))
    return refuse("File System Error - Skel Copy", &recovery_lock);

  if (settings->hash[0]) append_block_line(data_directory, settings->hash);
  delete_counter_files(data_directory);
  const bool restored = appdata_read(settings, data_directory) == 0;
  lock_close(&recovery_lock);
  return restored;
}
