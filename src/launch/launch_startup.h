#pragma once
#include "src/launch/launch_state.h"

// The three candidate data directories, resolved through links, each ending in a backslash. In a
// service launch (state->mode) only links that administrators own are followed: one that a user
// planted stays in the path, where the data-directory locks refuse it.
void launch_candidates(LaunchState *state);
// Library search limited to System32, Path set to the system and Windows directories,
// System32 made the current directory.
void launch_harden();
// For a service launch: the process no longer follows junctions and other redirections that
// non-administrators created, where the system offers that.
void launch_trust_redirection();
