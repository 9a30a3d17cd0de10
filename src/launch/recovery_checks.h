#pragma once
// Recovery's checks, in the order recovery runs them, over a table of platform steps. Recovery
// passes steps that lock and change; the doctor passes steps that only open and read. Both thus
// reach the same verdicts in the same order, and a refusal is the same box for both.
#include <cstddef>
#include <cstdint>

#include "src/launch/launch_state.h"
#include "src/launch/skel_recovery.h"

struct ZEB_FileList;

constexpr size_t SKEL_LOCATION_SIZE = 512;

// Every platform call the checks make. Handles are the platform's, typed `void *`; each step gets
// `context` first.
struct RecoverySteps {
  void *context;
  // Holds the data directory for the whole recovery. Recovery creates a missing one and locks it
  // against being swapped; the doctor opens it without locking. False: "Recovery Lock".
  bool (*hold_data)(void *context, const char *data_directory, void **handle);
  // Whether an entry of that name exists: a skel inside the data directory comes first.
  bool (*exists)(void *context, const char *path);
  // The skel under Program Files.
  void (*program_files_skel)(void *context, char skel[SKEL_LOCATION_SIZE]);
  // Holds skel's directory, never through a link at its name: recovery so that nothing in it
  // changes while it is copied.
  bool (*hold_directory)(void *context, const char *path, void **handle);
  // A skel file opened for reading, never through a link at its name, with nobody writing it
  // meanwhile; null on failure.
  void *(*open_file)(void *context, const char *path);
  // The whole of an open file, up to `limit` bytes, in a heap block with a terminating zero.
  bool (*read)(void *context, void *file, uint64_t limit, char **bytes, uint64_t *size);
  void (*close)(void *context, void *handle);
  // Whether nobody but the administering accounts can change `object` or remove it from the
  // directory open as `directory` (the descriptors of both are read).
  bool (*admin_only)(void *context, void *object, void *directory);
  // skel's entries (never null).
  ZEB_FileList *(*list)(void *context, const char *directory);
  // Whether skel's library, open as `file`, is signed by a pinned key.
  bool (*verify)(void *context, const char *path, void *file);
  // Holds the lock name `path` of the data directory for its removal (null: there is none); false
  // when it cannot go. The doctor asks whether it could.
  bool (*hold_lock_name)(void *context, const char *path, void **handle);
  // The SHA-256 of the installed library, as text; false when it cannot be taken.
  bool (*hash_installed)(void *context, const char *path, char hash[65]);
  // The text of config.txt (heap), or false.
  bool (*read_config)(void *context, const char *path, char **text);
  // Holds a file of the data directory that the copy will replace, so that nobody takes it before
  // its rename (null: there is none); false when it is a directory or held by another program.
  bool (*hold_target)(void *context, const char *path, void **handle);
};

// What the checks found and hold, released with recovery_check_release.
struct RecoveryCheck {
  void *data;  // the data directory as held (null when the doctor found none to open)
  char skel[SKEL_LOCATION_SIZE];
  void *skel_directory;
  char *settings_text;  // skel's appdata.json as read: the bytes written back
  uint64_t settings_size;
  bool settings_read;
  LaunchSettings settings;  // skel's
  bool same_build;          // skel holds the installed build
  void *library;            // skel's library, open since it was verified
  void *lock_names[2];      // "lock" and "lock_client", held for their removal
  ZEB_FileList *list;       // skel's entries, the copy's worklist
  void **sources;           // per entry: the skel file held for copying (the library is `library`)
  void **targets;           // per entry: the data directory's file of that name, held
  char block[65];           // the build the recovery blocks, or empty
};

// Runs recovery's checks on `data_directory` (ending in a backslash) for a recovery of `installed`,
// stopping at the first that fails: the data directory held, skel chosen and held, its settings
// read, the same-build rule, its library verified, the lock names held, skel listed, every skel
// file and every file it replaces held. Nothing is changed: the copy begins only when everything
// can change. Also decides the build the recovery blocks (recovery_blocks). Returns the title of
// the refusal, or null when the copy may begin. A privileged launch takes a skel inside the data
// directory only when administrators alone control it and its files.
const char *recovery_check(const char *data_directory, const LaunchSettings *installed,
                           const RecoveryRequest &request, const RecoverySteps &steps,
                           RecoveryCheck *check);
// Closes what the check holds and frees what it read.
void recovery_check_release(const RecoverySteps &steps, RecoveryCheck *check);

#ifdef _WIN32
// The steps that only read, the same for recovery and the doctor.
bool recovery_step_exists(void *context, const char *path);
void recovery_step_program_files_skel(void *context, char skel[SKEL_LOCATION_SIZE]);
bool recovery_step_read(void *context, void *file, uint64_t limit, char **bytes, uint64_t *size);
void recovery_step_close(void *context, void *handle);
bool recovery_step_admin_only(void *context, void *object, void *directory);
ZEB_FileList *recovery_step_list(void *context, const char *directory);
#endif

// Whether skel holds the very build installed.
bool skel_same_build(const LaunchSettings *installed, const LaunchSettings *skel);
// The pristine copy of a build that keeps failing would not help: refused after a crash loop.
// After any other failure the installed copy of that build was found damaged, and copying it
// again is the repair.
bool skel_same_build_refused(const LaunchSettings *installed, const LaunchSettings *skel,
                             RecoveryReason reason);
// Only a build proven bad is blocked: the installed library is the build the settings name (its
// SHA-256 `installed_hash`), and that build crash-looped or its signature was refused; skel's own
// build never is. A finished recovery blocks what its mark names.
bool recovery_blocks(const RecoveryRequest &request, const LaunchSettings *installed,
                     const char *installed_hash, bool same_build);
