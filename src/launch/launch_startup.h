#pragma once
#include <cstdint>

#include "src/launch/launch_privilege.h"
#include "src/launch/launch_state.h"

// Start-up after the library search is restricted, the same for the launcher and the doctor: the
// argument list copied (at most 128 entries, "LOADER_V15" appended), the launch mode, the
// privilege decisions from the token (what `assume` sets is taken as set, for the doctor's
// options), the redirection trust of a privileged launch, the candidate data directories, and
// last the hardened Path and current directory. launch_end frees what it allocated.
void launch_start(LaunchState *state, int32_t count, char **arguments,
                  const LaunchPrivilege &assume = {});
void launch_end(LaunchState *state);

// Library search limited to System32: first, before any call that may load a library.
void launch_restrict_library_search();
// The three candidate data directories, resolved through links, each ending in a backslash. In a
// privileged launch (state->privileged) only links that administrators control are followed: one
// that a user planted or could change stays in the path, where the data-directory locks refuse it.
void launch_candidates(LaunchState *state);
// Path set to the system and Windows directories, System32 made the current directory: after
// the candidates, which take the starting directory.
void launch_harden();
// For a privileged launch: the process no longer follows junctions and other redirections that
// non-administrators created, where the system offers that.
void launch_trust_redirection();
