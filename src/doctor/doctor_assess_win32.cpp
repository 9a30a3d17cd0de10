// The doctor's walk through a launch: the launcher's own start-up and decisions, with the
// doctor's share-all reads, stopping wherever the launcher would change something.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "src/doctor/doctor.h"
#include "src/doctor/doctor_read.h"
#include "src/launch/appdata.h"
#include "src/launch/launch_privilege.h"
#include "src/launch/launch_startup.h"
#include "src/trust/lock.h"
#include "zeb/crypto_hash.h"
#include "zeb/file_list.h"
#include "zeb/fs.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

// The headers are mapped as one page at least: the launcher judges its image from that much.
constexpr uint64_t kHeaderPage = 0x1000;
// The launcher hashes libraries of up to 1 GiB.
constexpr uint64_t kLibraryLimit = uint64_t(1) << 30;
constexpr uint64_t kConfigLimit = 1 << 20;

bool launcher_checks_libraries(const char *launcher, bool *checked) {
  char *head = nullptr;
  uint64_t size = 0;
  // Only the headers matter, but the launcher is a few hundred kilobytes: read it whole.
  if (!doctor_read_file(launcher, uint64_t(64) << 20, &head, &size)) return false;
  *checked = !image_lacks_certificate_table(reinterpret_cast<const uint8_t *>(head),
                                            size < kHeaderPage ? size : kHeaderPage);
  ZEB_Free(head);
  return true;
}

// Reads, hashes, verifies and inspects a library; the file is open only for each read.
void examine_library(const char *path, bool checked, DoctorLibrary *library) {
  snprintf(library->path, sizeof library->path, "%s", path);
  library->checked = checked;
  library->entry = PE_ENTRY_UNKNOWN;
  char *bytes = nullptr;
  uint64_t size = 0;
  library->present = doctor_read_file(path, kLibraryLimit, &bytes, &size) && size > 0;
  library->held = doctor_probe(path) == SAFE_FILE_IN_USE;
  if (!library->present) {
    ZEB_Free(bytes);
    return;
  }
  ZEB_CryptoHash(ZEB_ALGORITHM_SHA256_HEX, bytes, size, nullptr, 0, library->sha256,
                 sizeof library->sha256);
  library->entry = pe_entry_verdict(reinterpret_cast<const uint8_t *>(bytes), size, "wx_main");
  ZEB_Free(bytes);
  if (!checked) return;
  void *file = nullptr;
  ZEB_WideText wide(path);
  if (safe_file_open_wide(wide.get(), SAFE_FILE_READ, SAFE_FILE_SHARE_ALL, false, &file) ==
      SAFE_FILE_OPENED)
    library->verdict = verify_signature_verdict_open(wide.get(), file);
  else
    library->verdict = verify_signature_verdict(wide.get());
  safe_file_close(&file);
}

bool signature_passes(const DoctorLibrary &library) {
  return !library.checked || library.verdict.outcome == SIGNATURE_ACCEPTED;
}

// Why the installed copy would fail to lock, hash, verify, load or enter: null when it loads.
const char *library_failure(const DoctorLibrary &library) {
  if (!library.present) return "the library is missing or unreadable";
  if (!signature_passes(library)) return "its signature is refused";
  if (library.entry == PE_ENTRY_NO_LIBRARY) return "it is not an x64 DLL";
  if (library.entry == PE_ENTRY_MISSING) return "it does not export wx_main";
  return nullptr;
}

// Whether recovery could remove a lock file: absent, or a file that nobody holds against it.
bool lock_file_removable(const char *data_directory, const char *name) {
  char path[1024] = {};
  snprintf(path, sizeof path, "%s", ZEB_JoinPath(data_directory, name));
  ZEB_WideText wide(path);
  const DWORD attributes = GetFileAttributesW(wide.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  return doctor_probe(path) != SAFE_FILE_IN_USE;
}

// Recovery's checks in its own order, with its own decisions, up to the copy.
void examine_skel(const DoctorReport *report, RecoveryReason reason, DoctorSkel *skel) {
  const char *data = report->state.data_dir;
  void *data_handle = doctor_open_directory(data);
  void *skel_handle = nullptr;
  const bool found = skel_pick(data, report->state.privileged, data_handle, doctor_skel_openers,
                               &skel_handle, skel->location);
  lock_close(&skel_handle);
  lock_close(&data_handle);
  char *text = nullptr;
  uint64_t size = 0;
  skel->settings_read =
      found &&
      doctor_read_file(ZEB_JoinPath(skel->location, "appdata.json"), kConfigLimit, &text, &size) &&
      appdata_parse(&skel->settings, text) == 0;
  ZEB_Free(text);
  if (!skel->settings_read) {
    skel->refusal = SKEL_REFUSE_MISSING;
    return;
  }
  if (skel_same_build_refused(&report->state.settings, &skel->settings, reason)) {
    skel->refusal = SKEL_REFUSE_CRASH;
    return;
  }
  // Recovery verifies skel's library whatever the launcher's image.
  char path[1024] = {};
  snprintf(path, sizeof path, "%s", ZEB_JoinPath(skel->location, skel->settings.so_name));
  examine_library(path, true, &skel->library);
  if (!skel->library.present || skel->library.verdict.outcome != SIGNATURE_ACCEPTED) {
    skel->refusal = SKEL_REFUSE_SIGNATURE;
    return;
  }
  if (!lock_file_removable(data, "lock")) {
    skel->refusal = SKEL_REFUSE_LOCKFILE;
    return;
  }
  if (!lock_file_removable(data, "lock_client")) {
    skel->refusal = SKEL_REFUSE_CLIENT_LOCKFILE;
    return;
  }
  ZEB_FileList *list = ZEB_GetFileList(skel->location, "");
  if (list->len == 0) skel->refusal = SKEL_REFUSE_COPY;
  ZEB_FreeFileList(&list);
}

void end_with(DoctorReport *report, DoctorEnd end, int32_t exit_code, int32_t verdict,
              const char *box = nullptr) {
  report->end = end;
  report->exit_code = exit_code;
  report->verdict = verdict;
  report->box = box;
}

// A recovery for `reason`, then what the launch does with its outcome.
void recover(DoctorReport *report, RecoveryReason reason) {
  report->recovery = reason;
  if (report->state.ipc_launch) return end_with(report, DOCTOR_END_EXIT, 7002, 2);
  examine_skel(report, reason, &report->skel);
  if (report->skel.refusal) return end_with(report, DOCTOR_END_BOX, 0, 2, report->skel.refusal);
  // Restored without settings before: the launch ends so that the next one loads.
  if (!report->state.settings_found) return end_with(report, DOCTOR_END_EXIT, 2, 1);
  // Restored: skel's library, as verified, is what loads.
  if (library_failure(report->skel.library)) return end_with(report, DOCTOR_END_EXIT, 2, 2);
  end_with(report, DOCTOR_END_LOAD, 0, 1);
}

const char *data_dir_reason(const LaunchState &state) {
  if (state.local_layout) return "appdata.json in the starting directory";
  if (state.data_dir == state.machine_dir) return "setup.json sets useProgramData";
  return "setup.json does not set useProgramData";
}

}  // namespace

bool doctor_assess(int32_t count, char **arguments, const char *launcher, bool privileged_option,
                   DoctorReport *report) {
  LaunchState &state = report->state;
  report->launcher = launcher;
  report->recovery = RECOVERY_NONE;
  state.list = static_cast<char **>(ZEB_Alloc(LAUNCH_LIST_ENTRIES, sizeof(char *)));
  state.count = launch_args_copy(count, arguments, state.list);
  state.ipc_launch = launch_args_find(state.list, LAUNCH_IPC_MARKER) != nullptr;
  state.mode = launch_mode(state.list);
  launch_counter_name(state.mode, state.counter_name);
  report->privileged_by_option = privileged_option;
  state.privileged =
      privileged_option ||
      launch_token_privileged(launch_args_find(state.list, LAUNCH_SERVICE_MARKER) != nullptr);
  if (state.privileged) launch_trust_redirection();
  launch_candidates(&state);
  if (!launcher_checks_libraries(launcher, &report->libraries_checked)) return false;
  launch_harden();

  find_settings(&state, doctor_settings_reader);
  report->data_dir_reason = data_dir_reason(state);
  report->data_dir_held = doctor_probe(state.data_dir) == SAFE_FILE_IN_USE;
  for (uint32_t mode = 0; mode < CRASH_COUNTER_MODES; ++mode) {
    char path[CRASH_COUNTER_PATH_SIZE];
    crash_counter_path(state.data_dir, mode, path);
    report->records[mode] = record_probe(path, state.settings.hash, false);
  }
  uint64_t size = 0;
  doctor_read_file(ZEB_JoinPath(state.data_dir, "config.txt"), kConfigLimit, &report->config,
                   &size);

  // The installed library, even where a recovery replaces it: support asks what was there.
  const bool name_acceptable = library_name_acceptable(state.settings.so_name);
  if (state.settings_found && name_acceptable) {
    char path[1024] = {};
    snprintf(path, sizeof path, "%s", ZEB_JoinPath(state.data_dir, state.settings.so_name));
    examine_library(path, report->libraries_checked, &report->library);
  }

  // The first pass. No lock is held, so recovery_reason deletes nothing.
  report->local_shortcut = takes_local_shortcut(&state);
  if (!report->local_shortcut) {
    const RecoveryReason reason = recovery_reason(&state);
    if (reason != RECOVERY_NONE) {
      recover(report, reason);
      return true;
    }
  }
  if (!name_acceptable) {
    end_with(report, DOCTOR_END_BOX, 0, 2, "File System Error - Lock");
    return true;
  }
  report->first_failure = library_failure(report->library);
  if (!report->first_failure) {
    if (report->library.entry == PE_ENTRY_UNKNOWN)
      report->load_note = "whether it exports wx_main is unknown from its export table";
    end_with(report, DOCTOR_END_LOAD, 0, 0);
    return true;
  }
  // A first failure: the next pass restores this build's copy first.
  state.retry = true;
  recover(report, RECOVERY_RETRY);
  return true;
}

void doctor_release(DoctorReport *report) {
  for (int32_t i = 0; i < LAUNCH_LIST_ENTRIES && report->state.list; ++i)
    ZEB_Free(report->state.list[i]);
  ZEB_Free(report->state.list);
  ZEB_Free(report->state.local_dir);
  ZEB_Free(report->state.machine_dir);
  ZEB_Free(report->state.user_dir);
  ZEB_Free(report->config);
}
