// The doctor's walk through a launch: the launcher's own start-up, decisions and recovery checks,
// with the doctor's share-all reads, stopping wherever the launcher would change something.
#include <cstdio>
#include <cstring>

#include "src/doctor/doctor.h"
#include "src/doctor/doctor_read.h"
#include "src/launch/launch_endings.h"
#include "src/launch/launch_startup.h"
#include "src/launch/recovery_checks.h"
#include "zeb/fs.h"
#include "zeb/memory.h"

namespace {

constexpr uint64_t kConfigLimit = 1 << 20;

bool launcher_checks_libraries(const char *launcher, bool *checked) {
  char *head = nullptr;
  uint64_t size = 0;
  // Only the headers matter, but the launcher is a few hundred kilobytes: read it whole.
  if (!doctor_read_file(launcher, uint64_t(64) << 20, &head, &size)) return false;
  *checked = image_checks_libraries(reinterpret_cast<const uint8_t *>(head), size);
  ZEB_Free(head);
  return true;
}

// Where a pass would stop with this library; a wx_main the table cannot tell about is assumed.
LibraryFailure library_failure(const DoctorLibrary &library) {
  return first_library_failure(
      {library.present && !library.link && !library.refused, library.hashable,
       !library.checked || library.verdict.outcome == SIGNATURE_ACCEPTED,
       library.entry != PE_ENTRY_NO_LIBRARY, library.entry != PE_ENTRY_MISSING});
}

const char *failure_text(const DoctorLibrary &library, LibraryFailure failure) {
  switch (failure) {
    case LIBRARY_LOCK:
      if (library.refused)
        return "a launch as a service account does not use it: another account may change it";
      return library.link ? "the library is a link, which the launcher's lock refuses"
                          : "the library is missing or cannot be opened";
    case LIBRARY_HASH:
      return "the library cannot be hashed: empty, over 1 GiB or unreadable";
    case LIBRARY_SIGNATURE:
      return "its signature is refused";
    case LIBRARY_LOAD:
      return "it is not an x64 DLL";
    case LIBRARY_ENTRY:
      return "it does not export wx_main";
    default:
      return nullptr;
  }
}

// Recovery's own checks, with steps that only open and read.
void examine_skel(DoctorReport *report, RecoveryReason reason) {
  const LaunchState &state = report->state;
  DoctorSkel *skel = &report->skel;
  RecoverySteps steps = doctor_recovery_steps;
  steps.context = &skel->library;
  RecoveryCheck check;
  const RecoveryRequest request = {reason, state.privileged, state.pending_block};
  skel->refusal = recovery_check(state.data_dir, &state.settings, request, steps, &check);
  memcpy(skel->location, check.skel, sizeof skel->location);
  skel->settings_read = check.settings_read;
  skel->settings = check.settings;
  memcpy(skel->blocks, check.block, sizeof skel->blocks);
  recovery_check_release(steps, &check);
}

// The doctor's exit code: 0 loads as installed, 1 restores first, 2 stops otherwise.
void end_with(DoctorReport *report, DoctorEnd end, int32_t exit_code, int32_t verdict,
              const char *box = nullptr) {
  report->end = end;
  report->exit_code = exit_code;
  report->verdict = verdict;
  report->box = box;
}

void end_with(DoctorReport *report, const PassEnd &end) {
  end_with(report, end.box ? DOCTOR_END_BOX : DOCTOR_END_EXIT, end.result, 2, end.box);
}

// A recovery for `reason`, then what the launch does with its outcome.
void recover(DoctorReport *report, RecoveryReason reason) {
  const LaunchState &state = report->state;
  report->recovery = reason;
  if (!state.ipc_launch) examine_skel(report, reason);
  const bool restored = !state.ipc_launch && !report->skel.refusal;
  int32_t result = 0;
  if (recovery_ends_pass(&state, restored, &result)) {
    // Restored without settings before: the launch ends so that the next one loads.
    const bool restores = restored && result == EXIT_NOT_LOADED;
    end_with(report, report->skel.refusal ? DOCTOR_END_BOX : DOCTOR_END_EXIT, result,
             restores ? 1 : 2, report->skel.refusal);
    return;
  }
  // Restored: skel's library, as recovery verified it, is what loads. Should it fail, the retry
  // restores it once more and it fails again.
  const LibraryFailure failure = library_failure(report->skel.library);
  if (failure == LIBRARY_RUNS)
    end_with(report, DOCTOR_END_LOAD, 0, 1);
  else
    end_with(report, library_failure_end(failure, true));
}

const char *data_dir_reason(const LaunchState &state) {
  if (state.local_layout) return "appdata.json in the starting directory";
  if (state.data_dir == state.machine_dir) return "setup.json sets useProgramData";
  return "setup.json does not set useProgramData";
}

}  // namespace

bool doctor_assess(int32_t count, char **arguments, const char *launcher,
                   const LaunchPrivilege &assumed, DoctorReport *report) {
  LaunchState &state = report->state;
  report->launcher = launcher;
  report->recovery = RECOVERY_NONE;
  report->assumed = assumed;
  launch_start(&state, count, arguments, assumed);
  if (!launcher_checks_libraries(launcher, &report->libraries_checked)) return false;

  find_settings(&state, doctor_settings_reader);
  report->data_dir_reason = data_dir_reason(state);
  if (state.settings_busy) {
    end_with(report, DOCTOR_END_BOX, EXIT_AFTER_BOX, 2, BOX_LOCK);
    return true;
  }
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
  char path[1024] = {};
  if (state.settings_found && name_acceptable) {
    snprintf(path, sizeof path, "%s", ZEB_JoinPath(state.data_dir, state.settings.so_name));
    doctor_examine_library(path, report->libraries_checked, &report->library);
  }
  if (state.service_account) {
    const DoctorDistrust distrust =
        doctor_service_account_distrust(state, path[0] ? path : nullptr);
    report->data_dir_refused = distrust.directory;
    report->library.refused = distrust.library;
    if (distrust.directory) {
      end_with(report, DOCTOR_END_BOX, EXIT_AFTER_BOX, 2, BOX_LOCK);
      return true;
    }
    // Settings another account may change are none: restored from skel instead.
    report->settings_refused = distrust.settings;
    if (distrust.settings) {
      state.settings_found = false;
      memset(&state.settings, 0, sizeof state.settings);
    }
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
  // A library another program holds is waited for, then the launch ends changing nothing.
  if (!name_acceptable || report->library.busy) {
    end_with(report, DOCTOR_END_BOX, EXIT_AFTER_BOX, 2, BOX_LOCK);
    return true;
  }
  const LibraryFailure failure = library_failure(report->library);
  if (failure == LIBRARY_RUNS) {
    if (report->library.entry == PE_ENTRY_UNKNOWN)
      report->load_note = "whether it exports wx_main is unknown from its export table";
    end_with(report, DOCTOR_END_LOAD, 0, 0);
    return true;
  }
  report->first_failure = failure_text(report->library, failure);
  const PassEnd first = library_failure_end(failure, state.retry);
  if (first.result != PASS_AGAIN) {
    end_with(report, first);
    return true;
  }
  // A first failure: the next pass recovers first, unless the local shortcut lets it try the
  // same library again.
  state.retry = true;
  if (takes_local_shortcut(&state))
    end_with(report, library_failure_end(failure, state.retry));
  else
    recover(report, RECOVERY_RETRY);
  return true;
}

void doctor_release(DoctorReport *report) {
  launch_end(&report->state);
  ZEB_Free(report->config);
}
