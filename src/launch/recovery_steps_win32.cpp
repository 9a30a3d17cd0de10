// The steps of recovery's checks that only read, shared by recovery and the doctor.
#include <cstdio>

#include "src/launch/recovery_checks.h"
#include "src/trust/handle.h"
#include "src/trust/link_trust.h"
#include "src/trust/safe_file.h"
#include "zeb/file_list.h"
#include "zeb/fs.h"

bool recovery_step_exists(void *, const char *path) { return ZEB_FileExists(path); }

void recovery_step_program_files_skel(void *, char skel[SKEL_LOCATION_SIZE]) {
  const char *program_files = ZEB_GetDir(ZEB_DIR_PROGRAM_FILES);
  if (program_files[0] == '.') program_files = "C:\\Program Files";
  snprintf(skel, SKEL_LOCATION_SIZE, "%s\\%s\\skel", program_files, "Quarlo");
}

bool recovery_step_read(void *, void *file, uint64_t limit, char **bytes, uint64_t *size) {
  return safe_file_read(file, limit, bytes, size);
}

void recovery_step_close(void *, void *handle) { handle_close(handle); }

bool recovery_step_admin_only(void *, void *object, void *directory) {
  return link_trusted_open(object, directory);
}

ZEB_FileList *recovery_step_list(void *, const char *directory) {
  return ZEB_GetFileList(directory, "");
}
