#pragma once
// Recovery: puts the pristine skel copy of the installation back into the data directory.
#include <cstdint>

#include "src/launch/launch_state.h"
#include "src/trust/busy.h"

struct ZEB_FileList;

// Why a recovery runs. It decides what a skel of the very build being replaced means: after a
// crash loop it is the build that keeps failing (refused); otherwise, after a failure to lock,
// hash, verify, load or enter the library, it is a damaged copy of a good build (copied again).
// And it decides what is blocked: only a build that crash-looped or whose signature was refused.
enum RecoveryReason : uint32_t {
  RECOVERY_MISSING_SETTINGS = 0,
  RECOVERY_CRASH_LOOP = 1,
  RECOVERY_RETRY = 2,      // the library could not be locked, hashed, loaded or entered
  RECOVERY_NONE = 3,       // no recovery is due
  RECOVERY_SIGNATURE = 4,  // the library's signature was refused
  RECOVERY_PENDING = 5,    // an earlier recovery was cut short: it is finished
};

// What a recovery is asked to do.
struct RecoveryRequest {
  RecoveryReason reason;
  bool privileged;            // a skel inside the data directory counts only under administrators
  const char *pending_block;  // for RECOVERY_PENDING: the build its mark names, or empty
};

// Restores `data_directory` (ending in a backslash) from skel and re-reads its appdata.json
// into `settings`. True when the copy was made and both settings were read back. Every refusal
// shows a "File System Error - ..." box; one after the copy began leaves whole files only, and
// the old settings, so that the next launch recovers again. A `privileged` launch restores from a
// skel inside the data directory only when nobody but administrators can change it or its files.
bool skel_recover(const char *data_directory, LaunchSettings *settings,
                  const RecoveryRequest &request);

// What recovery checked in skel and copies as it was checked: per entry of the list, the source
// held open since it was checked and the target held against others until its rename.
struct SkelCopy {
  const char *settings_text;  // skel's appdata.json as read
  uint64_t settings_size;
  void **sources;  // null for directories and appdata.json
  void **targets;  // null where there is no target yet
  BusyBudget *budget;
};

// Replaces each top-level file of the skel `list` in the data directory, whole; appdata.json
// last, from `checked`, and only when every other file was replaced. False at the first file
// that could not be replaced (logged), or when the list is empty.
bool skel_copy_files(const ZEB_FileList *list, const char *data_directory, SkelCopy *checked);

// The titles of recovery's refusals, in the order its checks run.
constexpr const char SKEL_REFUSE_RECOVERY_LOCK[] = "File System Error - Recovery Lock";
constexpr const char SKEL_REFUSE_MISSING[] = "File System Error - Skel Missing or Broken";
constexpr const char SKEL_REFUSE_CRASH[] = "File System Error - Skel Crash";
constexpr const char SKEL_REFUSE_SIGNATURE[] = "File System Error - Skel Signature";
constexpr const char SKEL_REFUSE_LOCKFILE[] = "File System Error - Lockfile";
constexpr const char SKEL_REFUSE_CLIENT_LOCKFILE[] = "File System Error - Client Lockfile";
constexpr const char SKEL_REFUSE_COPY[] = "File System Error - Skel Copy";
