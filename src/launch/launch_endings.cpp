// The endings of a pass.
#include "src/launch/launch_endings.h"

LibraryFailure first_library_failure(const LibraryFacts &facts) {
  if (!facts.lockable) return LIBRARY_LOCK;
  if (!facts.hashable) return LIBRARY_HASH;
  if (!facts.signature_passes) return LIBRARY_SIGNATURE;
  if (!facts.loadable) return LIBRARY_LOAD;
  if (!facts.has_entry) return LIBRARY_ENTRY;
  return LIBRARY_RUNS;
}

PassEnd library_failure_end(LibraryFailure failure, bool retry) {
  if (!retry) return {PASS_AGAIN, nullptr};
  switch (failure) {
    case LIBRARY_SIGNATURE:
      return {EXIT_AFTER_BOX, BOX_SIGNATURE};
    case LIBRARY_LOAD:
      return {EXIT_NOT_LOADED, BOX_CANNOT_LOAD};
    default:
      return {EXIT_NOT_LOADED, nullptr};
  }
}

bool recovery_ends_pass(const LaunchState *state, bool restored, int32_t *result) {
  if (state->ipc_launch)
    *result = EXIT_IPC_NEEDS_RECOVERY;
  else if (!restored)
    *result = EXIT_AFTER_BOX;
  else if (!state->settings_found)
    *result = EXIT_NOT_LOADED;
  else
    return false;
  return true;
}
