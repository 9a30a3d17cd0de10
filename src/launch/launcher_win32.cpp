// The launch sequence: start-up, then passes of settings, checks, load and wx_main until the
// library stops asking for a relaunch.
#include <cstdio>
#include <cstring>

#include "src/launch/launch_decisions.h"
#include "src/launch/launch_endings.h"
#include "src/launch/launch_guards.h"
#include "src/launch/launch_startup.h"
#include "src/launch/launcher.h"
#include "src/launch/trace.h"
#include "zeb/crypto_hash.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/shared_library.h"

namespace {

using WxMain = int32_t (*)(int32_t *count, char **list, const char *data_directory,
                           const char *library_hash);

constexpr const char *kCannotLoadText =
    "Error:\n%s\n\nThis version of Quarlo appears to be incompatible with your machine.\n"
    "Please contact support.";

void report_load_failure(const char *message) {
  trace_refusal(BOX_CANNOT_LOAD);
  printf("%s\n", message);
  fflush(stdout);
  ZEB_ErrorBox(BOX_CANNOT_LOAD, kCannotLoadText, message);
}

// Load, look up and call the library. The result stays as the pass left it on failure.
void load_and_run(LaunchState *state) {
  // The record comes before the load: a build that dies while loading leaves it behind, and it
  // counts toward a crash loop like one that dies inside wx_main.
  guard_before_call(state);
  state->library = ZEB_SOLoad(state->library_path);
  guard_after_load_attempt(state);
  if (!state->library) {
    // Copied at once: the last message lives in the scratch ring, and removing the record may
    // log over it.
    char *message = ZEB_Strdup(ZEB_GetLog());
    guard_after_call(state);
    if (guard_library_failed(state, LIBRARY_LOAD).box) report_load_failure(message);
    ZEB_Free(message);
    return;
  }
  auto wx_main = reinterpret_cast<WxMain>(ZEB_SOGetSymbol(state->library, "wx_main"));
  if (!wx_main) {
    guard_after_call(state);
    guard_library_failed(state, LIBRARY_ENTRY);
    ZEB_SOUnload(&state->library);
    return;
  }
  state->result = wx_main(&state->count, state->list, state->data_dir, state->library_hash);
  trace("wx_main returned %d", state->result);
  state->retry = false;
  guard_after_call(state);
  ZEB_SOUnload(&state->library);
}

bool hash_library(LaunchState *state) {
  if (ZEB_CryptoHashFile(ZEB_ALGORITHM_SHA256_HEX, state->library_path, nullptr, 0,
                         state->library_hash, sizeof state->library_hash))
    return true;
  guard_library_failed(state, LIBRARY_HASH);
  return false;
}

// One pass of the launch loop; the outcome is in state->result.
void run_pass(LaunchState *state) {
  memset(state->counter_path, 0, sizeof state->counter_path);
  memset(state->library_hash, 0, sizeof state->library_hash);
  find_settings(state);
  trace_settings(state);
  if (guard_before_loading(state)) {
    state->library_path = ZEB_Strdup(ZEB_JoinPath(state->data_dir, state->settings.so_name));
    if (guard_library_path(state) && hash_library(state) && guard_after_hashing(state))
      load_and_run(state);
    ZEB_Free(state->library_path);
    state->library_path = nullptr;
  }
  guard_release(state);
}

}  // namespace

int32_t launcher_main(int32_t count, char **arguments) {
  launch_restrict_library_search();
  LaunchState state = {};
  trace_start();
  launch_start(&state, count, arguments);
  trace_launch(&state);

  do {
    run_pass(&state);
  } while (state.result == PASS_AGAIN);

  launch_end(&state);
  trace("exit code %d", state.result);
  return state.result;
}
