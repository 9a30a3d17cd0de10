// Recovery's checks in their order, over the platform steps the caller passes.
#include "src/launch/recovery_checks.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "src/launch/appdata.h"
#include "zeb/file_list.h"
#include "zeb/fs.h"
#include "zeb/memory.h"

namespace {

constexpr char kSettingsName[] = "appdata.json";

// The skel inside the data directory.
void skel_inside(const char *data_directory, char location[SKEL_LOCATION_SIZE]) {
  snprintf(location, SKEL_LOCATION_SIZE, "%s%cskel", data_directory, '\\');
}

// Whether nobody but the administering accounts can change the skel directory, replace it in the
// data directory, or change any file in it: only then may a privileged launch restore from a skel
// that sits among files users may write.
bool skel_admin_only(const RecoverySteps &steps, const RecoveryCheck &check) {
  bool trusted = steps.admin_only(steps.context, check.skel_directory, check.data);
  ZEB_FileList *list = trusted ? steps.list(steps.context, check.skel) : nullptr;
  for (uint32_t i = 0; trusted && i < list->len; ++i) {
    if (list->files[i].dir) continue;
    void *file = steps.open_file(steps.context, list->files[i].path);
    trusted = file && steps.admin_only(steps.context, file, check.skel_directory);
    if (file) steps.close(steps.context, file);
  }
  ZEB_FreeFileList(&list);
  return trusted;
}

// skel inside the data directory when it has one, else under Program Files; a privileged launch
// passes over one inside that users could change, as if it were absent.
bool pick_skel(const char *data_directory, bool privileged, const RecoverySteps &steps,
               RecoveryCheck *check) {
  char inside[SKEL_LOCATION_SIZE] = {};
  skel_inside(data_directory, inside);
  const bool inside_first = steps.exists(steps.context, inside);
  if (inside_first)
    memcpy(check->skel, inside, sizeof inside);
  else
    steps.program_files_skel(steps.context, check->skel);
  if (!steps.hold_directory(steps.context, check->skel, &check->skel_directory)) return false;
  if (!privileged || !inside_first || skel_admin_only(steps, *check)) return true;
  steps.close(steps.context, check->skel_directory);
  check->skel_directory = nullptr;
  steps.program_files_skel(steps.context, check->skel);
  return steps.hold_directory(steps.context, check->skel, &check->skel_directory);
}

// skel's settings, read once: the bytes checked are the bytes written back.
bool read_skel_settings(const RecoverySteps &steps, RecoveryCheck *check) {
  void *file = steps.open_file(steps.context, ZEB_JoinPath(check->skel, kSettingsName));
  const bool read = file && steps.read(steps.context, file, APPDATA_SIZE_LIMIT,
                                       &check->settings_text, &check->settings_size);
  if (file) steps.close(steps.context, file);
  return read && appdata_parse(&check->settings, check->settings_text) == 0;
}

// skel's library, opened once and verified through that handle; recovery copies from it.
bool verify_skel_library(const RecoverySteps &steps, RecoveryCheck *check) {
  char *path = ZEB_Strdup(ZEB_JoinPath(check->skel, check->settings.so_name));
  check->library = steps.open_file(steps.context, path);
  const bool accepted = check->library && steps.verify(steps.context, path, check->library);
  ZEB_Free(path);
  return accepted;
}

bool clear_lock_name(const RecoverySteps &steps, const char *data_directory, const char *name) {
  return steps.clear_lock_name(steps.context, ZEB_JoinPath(data_directory, name));
}

}  // namespace

const char *recovery_check(const char *data_directory, const LaunchSettings *installed,
                           RecoveryReason reason, bool privileged, const RecoverySteps &steps,
                           RecoveryCheck *check) {
  *check = {};
  if (!steps.hold_data(steps.context, data_directory, &check->data))
    return SKEL_REFUSE_RECOVERY_LOCK;
  if (!pick_skel(data_directory, privileged, steps, check)) return SKEL_REFUSE_MISSING;
  check->settings_read = read_skel_settings(steps, check);
  if (!check->settings_read) return SKEL_REFUSE_MISSING;
  check->same_build = skel_same_build(installed, &check->settings);
  if (skel_same_build_refused(installed, &check->settings, reason)) return SKEL_REFUSE_CRASH;
  if (!verify_skel_library(steps, check)) return SKEL_REFUSE_SIGNATURE;
  if (!clear_lock_name(steps, data_directory, "lock")) return SKEL_REFUSE_LOCKFILE;
  if (!clear_lock_name(steps, data_directory, "lock_client")) return SKEL_REFUSE_CLIENT_LOCKFILE;
  // Even an empty directory lists "." and "..": no entries means skel vanished or cannot be
  // read, and recovering from it would reset the counters without restoring anything.
  check->list = steps.list(steps.context, check->skel);
  if (check->list->len == 0) return SKEL_REFUSE_COPY;
  return nullptr;
}

void recovery_check_release(const RecoverySteps &steps, RecoveryCheck *check) {
  ZEB_FreeFileList(&check->list);
  for (void **held : {&check->library, &check->skel_directory, &check->data}) {
    if (*held) steps.close(steps.context, *held);
    *held = nullptr;
  }
  ZEB_Free(check->settings_text);
  check->settings_text = nullptr;
}

bool skel_same_build(const LaunchSettings *installed, const LaunchSettings *skel) {
  return installed->hash[0] && strcmp(installed->hash, skel->hash) == 0;
}

bool skel_same_build_refused(const LaunchSettings *installed, const LaunchSettings *skel,
                             RecoveryReason reason) {
  return skel_same_build(installed, skel) && reason != RECOVERY_RETRY;
}
