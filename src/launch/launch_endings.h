#pragma once
// How a launch pass ends, named once for the launcher and the doctor: the exit codes of the
// launcher's own, the boxes that end a launch, and which failures of the library ask for another
// pass that recovers first.
#include <cstdint>

#include "src/launch/launch_state.h"

constexpr int32_t EXIT_AFTER_BOX = 0;  // a box was shown, or recovery failed
constexpr int32_t PASS_AGAIN = 1;      // another pass follows (also wx_main asking for one)
constexpr int32_t EXIT_NOT_LOADED = 2;
constexpr int32_t EXIT_IPC_NEEDS_RECOVERY = 7002;

inline constexpr char BOX_LOCK[] = "File System Error - Lock";
inline constexpr char BOX_RECURSIVE[] = "File System Error - Recursive";
inline constexpr char BOX_SIGNATURE[] = "Signature Failure";
inline constexpr char BOX_CANNOT_LOAD[] = "Cannot load Quarlo";

// Where a pass fails with its library, in the order a pass meets them.
enum LibraryFailure : uint32_t {
  LIBRARY_LOCK = 0,       // missing, a link, or held against the lock
  LIBRARY_HASH = 1,       // cannot be read whole for its digest
  LIBRARY_SIGNATURE = 2,  // refused by the publisher check
  LIBRARY_LOAD = 3,       // the loader refuses it
  LIBRARY_ENTRY = 4,      // no wx_main
  LIBRARY_RUNS = 5,       // none: wx_main is called
};

// What is known of a library, stage by stage; the first stage that fails is where the pass stops.
struct LibraryFacts {
  bool lockable;
  bool hashable;
  bool signature_passes;  // accepted, or not checked at all
  bool loadable;
  bool has_entry;
};
LibraryFailure first_library_failure(const LibraryFacts &facts);

// How a pass ends.
struct PassEnd {
  int32_t result;   // the exit code, or PASS_AGAIN
  const char *box;  // shown before the launch ends, or null
};
// A failure of the library: the first one of a launch (the retry flag clear) asks for another
// pass, which recovers first unless the local shortcut applies; a second one ends the launch.
PassEnd library_failure_end(LibraryFailure failure, bool retry);

// Where a pass that needed a recovery goes: an IPC launch never attempts one; a recovery that
// failed ends the launch (its box is shown); one that restored missing settings ends it so that
// the next launch loads them. True when the pass ends, with its result in `*result`; false when it
// goes on to load.
bool recovery_ends_pass(const LaunchState *state, bool restored, int32_t *result);
