#pragma once
// The checks at fixed points of a launch pass. Each returns false when the pass must not go on;
// the result to end with is then in state->result.
#include "src/launch/launch_endings.h"
#include "src/launch/launch_state.h"

// Crash counters, recovery, library name checks, data-directory and ancestor locks.
// False ends the launch loop with state->result.
bool guard_before_loading(LaunchState *state);
// Library-file lock. False skips to the release.
bool guard_library_path(LaunchState *state);
// Signature of the library when the launcher's mapped image carries a certificate table. False
// skips to the release.
bool guard_after_hashing(LaunchState *state);
// Releases the ancestor locks, whether the load succeeded or not.
void guard_after_load_attempt(LaunchState *state);
// Writes this launch mode's crash-counter record and holds it open, before the library loads.
void guard_before_call(LaunchState *state);
// Deletes the record once wx_main has returned, or the load or the lookup of wx_main failed.
void guard_after_call(LaunchState *state);
// Releases every lock the pass still holds.
void guard_release(LaunchState *state);

// A failure of the library: the first sets the retry flag and result 1 for another pass; a second
// one sets the launch's ending and shows its box, except "Cannot load Quarlo", which the caller
// shows with the loader's message.
PassEnd guard_library_failed(LaunchState *state, LibraryFailure failure);
