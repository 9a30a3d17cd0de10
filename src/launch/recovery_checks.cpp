// Recovery's checks in their order, over the platform steps the caller passes.
#include "src/launch/recovery_checks.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "src/launch/appdata.h"
#include "src/launch/ascii_case.h"
#include "src/launch/block_list.h"
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

bool hold_lock_name(const RecoverySteps &steps, const char *data_directory, const char *name,
                    void **handle) {
  return steps.hold_lock_name(steps.context, ZEB_JoinPath(data_directory, name), handle);
}

// The build this recovery blocks, unless config.txt blocks it already.
void decide_block(const char *data_directory, const LaunchSettings *installed,
                  const RecoveryRequest &request, const RecoverySteps &steps,
                  RecoveryCheck *check) {
  char hash[65] = {};
  if (request.reason == RECOVERY_CRASH_LOOP || request.reason == RECOVERY_SIGNATURE)
    steps.hash_installed(steps.context, ZEB_JoinPath(data_directory, installed->so_name), hash);
  if (!recovery_blocks(request, installed, hash, check->same_build)) return;
  const char *blocked = request.reason == RECOVERY_PENDING ? request.pending_block : hash;
  char *config = nullptr;
  steps.read_config(steps.context, ZEB_JoinPath(data_directory, "config.txt"), &config);
  if (!block_list_has(config, blocked)) snprintf(check->block, sizeof check->block, "%s", blocked);
  ZEB_Free(config);
}

// Every skel file held for reading and every file of the data directory it replaces held against
// others, before anything changes: a file in use refuses the recovery while nothing is changed yet.
bool hold_files(const char *data_directory, const RecoverySteps &steps, RecoveryCheck *check) {
  const uint32_t count = check->list->len;
  check->sources = static_cast<void **>(ZEB_Alloc(count, sizeof(void *)));
  check->targets = static_cast<void **>(ZEB_Alloc(count, sizeof(void *)));
  for (uint32_t i = 0; i < count; ++i) {
    const ZEB_FileDesc &entry = check->list->files[i];
    if (entry.dir) continue;
    if (!equal_ignoring_ascii_case(entry.name, kSettingsName) &&
        !equal_ignoring_ascii_case(entry.name, check->settings.so_name) &&
        !(check->sources[i] = steps.open_file(steps.context, entry.path)))
      return false;
    if (!steps.hold_target(steps.context, ZEB_JoinPath(data_directory, entry.name),
                           &check->targets[i]))
      return false;
  }
  return true;
}

}  // namespace

const char *recovery_check(const char *data_directory, const LaunchSettings *installed,
                           const RecoveryRequest &request, const RecoverySteps &steps,
                           RecoveryCheck *check) {
  *check = {};
  if (!steps.hold_data(steps.context, data_directory, &check->data))
    return SKEL_REFUSE_RECOVERY_LOCK;
  if (!pick_skel(data_directory, request.privileged, steps, check)) return SKEL_REFUSE_MISSING;
  check->settings_read = read_skel_settings(steps, check);
  if (!check->settings_read) return SKEL_REFUSE_MISSING;
  check->same_build = skel_same_build(installed, &check->settings);
  if (skel_same_build_refused(installed, &check->settings, request.reason))
    return SKEL_REFUSE_CRASH;
  if (!verify_skel_library(steps, check)) return SKEL_REFUSE_SIGNATURE;
  if (!hold_lock_name(steps, data_directory, "lock", &check->lock_names[0]))
    return SKEL_REFUSE_LOCKFILE;
  if (!hold_lock_name(steps, data_directory, "lock_client", &check->lock_names[1]))
    return SKEL_REFUSE_CLIENT_LOCKFILE;
  // Even an empty directory lists "." and "..": no entries means skel vanished or cannot be
  // read, and recovering from it would reset the counters without restoring anything.
  check->list = steps.list(steps.context, check->skel);
  if (check->list->len == 0) return SKEL_REFUSE_COPY;
  // Hashed before the targets are held: the library is one of them.
  decide_block(data_directory, installed, request, steps, check);
  if (!hold_files(data_directory, steps, check)) return SKEL_REFUSE_COPY;
  return nullptr;
}

void recovery_check_release(const RecoverySteps &steps, RecoveryCheck *check) {
  const auto close = [&](void **held) {
    if (*held) steps.close(steps.context, *held);
    *held = nullptr;
  };
  for (uint32_t i = 0; check->list && i < check->list->len; ++i) {
    if (check->sources) close(&check->sources[i]);
    if (check->targets) close(&check->targets[i]);
  }
  ZEB_Free(check->sources);
  ZEB_Free(check->targets);
  check->sources = check->targets = nullptr;
  ZEB_FreeFileList(&check->list);
  for (void **held : {&check->lock_names[0], &check->lock_names[1], &check->library,
                      &check->skel_directory, &check->data})
    close(held);
  ZEB_Free(check->settings_text);
  check->settings_text = nullptr;
}

bool skel_same_build(const LaunchSettings *installed, const LaunchSettings *skel) {
  return installed->hash[0] && strcmp(installed->hash, skel->hash) == 0;
}

bool skel_same_build_refused(const LaunchSettings *installed, const LaunchSettings *skel,
                             RecoveryReason reason) {
  return skel_same_build(installed, skel) && reason == RECOVERY_CRASH_LOOP;
}

bool recovery_blocks(const RecoveryRequest &request, const LaunchSettings *installed,
                     const char *installed_hash, bool same_build) {
  if (request.reason == RECOVERY_PENDING) return request.pending_block[0] != 0;
  return (request.reason == RECOVERY_CRASH_LOOP || request.reason == RECOVERY_SIGNATURE) &&
         !same_build && installed->hash[0] && strcmp(installed_hash, installed->hash) == 0;
}
