#pragma once
// quarlo-doctor: what a launch would do now, worked out with the launcher's own decisions and
// without changing anything.
#include <cstdint>

#include "src/launch/crash_counter.h"
#include "src/launch/launch_decisions.h"
#include "src/launch/launch_endings.h"
#include "src/launch/launch_privilege.h"
#include "src/trust/pe_exports.h"
#include "src/trust/signature.h"

// A library as the doctor found it: present, hashed, signature, entry point, held.
struct DoctorLibrary {
  char path[1024];
  bool present;   // the name opens
  bool link;      // a junction or symbolic link, which the launcher's lock refuses
  bool hashable;  // read whole, and of a size the launcher hashes
  char sha256[65];
  bool checked;  // the launcher checks its signature
  SignatureVerdict verdict;
  PeEntryVerdict entry;
  bool held;  // a running launch holds it
  bool busy;  // another program holds it against the launcher's lock
  bool refused;  // another account may change it: a launch as a service account does not use it
};

// What recovery would find in skel, and the box it would refuse with (null: it restores).
struct DoctorSkel {
  char location[512];
  bool settings_read;
  LaunchSettings settings;
  DoctorLibrary library;
  char blocks[65];  // the build the recovery blocks, or empty
  const char *refusal;
};

// How the launch would end.
enum DoctorEnd : uint32_t {
  DOCTOR_END_LOAD = 0,  // the library loaded and wx_main called
  DOCTOR_END_BOX = 1,   // a message box, then the exit code
  DOCTOR_END_EXIT = 2,  // an exit code of its own
};

struct DoctorReport {
  LaunchState state;          // the launcher's state after the pass the doctor follows
  LaunchPrivilege assumed;     // --privileged, --service-account; otherwise the token decided
  const char *launcher;       // its image decides whether libraries are checked
  bool libraries_checked;
  const char *data_dir_reason;
  bool data_dir_held;
  const char *data_dir_refused;  // why a launch as a service account refuses it, or null
  bool settings_refused;         // another account may change them: treated as missing
  RecordProbe records[CRASH_COUNTER_MODES];
  bool local_shortcut;
  DoctorLibrary library;      // the installed library (when settings were found)
  const char *first_failure;  // why the installed copy would fail, forcing a retry
  RecoveryReason recovery;    // RECOVERY_NONE when no recovery runs
  DoctorSkel skel;            // when a recovery runs
  char *config;               // config.txt as read, or null (ZEB_Free)
  DoctorEnd end;
  const char *box;        // for DOCTOR_END_BOX
  int32_t exit_code;      // the launcher's
  int32_t verdict;        // the doctor's: 0 loads, 1 restores first, 2 stops
  const char *load_note;  // why a load is expected but not certain, or null
};

// Follows the launch the launcher at `launcher` would make with `count` arguments (its own name
// first) from the current directory. False when the doctor cannot judge: the launcher's image
// unreadable.
bool doctor_assess(int32_t count, char **arguments, const char *launcher,
                   const LaunchPrivilege &assumed, DoctorReport *report);
void doctor_release(DoctorReport *report);
