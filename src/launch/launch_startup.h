#pragma once
#include "src/launch/launch_state.h"

// The three candidate data directories, resolved through links, each ending in a backslash.
void launch_candidates(LaunchState *state);
// Library search limited to System32, Path set to the system and Windows directories,
// System32 made the current directory.
void launch_harden();
// For a service launch: the process no longer follows junctions and other redirections that
// non-administrators created, where the system offers that.
void launch_trust_redirection();
