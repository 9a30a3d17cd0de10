// Start-up: the candidate data directories and the hardening of the process.
#include <windows.h>

#include <cstring>

#include "src/launch/launch_privilege.h"
#include "src/launch/launch_startup.h"
#include "src/trust/real_path.h"
#include "zeb/log.h"
#include "zeb/fs.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

// The resolved directory with one backslash appended, as a heap text.
char *candidate(const char *path, bool privileged) {
  char *resolved = privileged ? resolve_real_path_trusted_links(path) : resolve_real_path(path);
  const size_t length = strlen(resolved);
  if (length > 0 && resolved[length - 1] == '\\') return resolved;  // a root keeps its own
  char *with_separator = ZEB_Strdup(ZEB_JoinPath(resolved, ""));
  ZEB_Free(resolved);
  return with_separator;
}

// The variable as it is set (an empty value included), or "." when it is absent or unreadable.
char *appdata_variable() {
  const DWORD units = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (units == 0) return ZEB_Strdup(".");
  auto *value = static_cast<wchar_t *>(ZEB_Alloc(units, sizeof(wchar_t)));
  SetLastError(ERROR_SUCCESS);  // an empty value reads as length 0 without an error
  const DWORD length = GetEnvironmentVariableW(L"APPDATA", value, units);
  const bool read = length < units && GetLastError() == ERROR_SUCCESS;
  char *text = read ? ZEB_WideToMultiD(value) : ZEB_Strdup(".");
  ZEB_Free(value);
  return text;
}

// The redirection-trust mitigation (Windows 10 2004 and later); older headers lack it.
constexpr int kProcessRedirectionTrustPolicy = 16;
struct RedirectionTrustPolicy {
  DWORD flags;  // bit 0: enforce, bit 1: audit
};
constexpr DWORD kEnforceRedirectionTrust = 1;

}  // namespace

void launch_candidates(LaunchState *state) {
  // The local directory first, while the current directory is still the starting one.
  const bool privileged = state->privileged;
  state->local_dir = candidate(ZEB_GetDir(ZEB_DIR_CURRENT), privileged);
  state->machine_dir =
      candidate(ZEB_JoinPath(ZEB_GetDir(ZEB_DIR_PROGRAM_DATA), "Quarlo"), privileged);
  char *appdata = appdata_variable();
  state->user_dir = candidate(ZEB_JoinPath(appdata, "Quarlo"), privileged);
  ZEB_Free(appdata);
}

void launch_trust_redirection() {
  using SetPolicyFn = BOOL(WINAPI *)(int, void *, SIZE_T);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto set_policy = kernel ? reinterpret_cast<SetPolicyFn>(reinterpret_cast<void *>(
                                 GetProcAddress(kernel, "SetProcessMitigationPolicy")))
                           : nullptr;
  // Absent, or refused on a system that does not know the policy: both are no error.
  if (!set_policy) return;
  RedirectionTrustPolicy policy = {kEnforceRedirectionTrust};
  set_policy(kProcessRedirectionTrustPolicy, &policy, sizeof policy);
}

void launch_restrict_library_search() {
  // Only System32 is searched for libraries from here on. Older systems lack the call.
  using SetDirectoriesFn = BOOL(WINAPI *)(DWORD);
  if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
    if (auto set_directories = reinterpret_cast<SetDirectoriesFn>(
            reinterpret_cast<void *>(GetProcAddress(kernel, "SetDefaultDllDirectories"))))
      set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
}

void launch_harden() {
  wchar_t system[260] = {};
  if (!GetSystemDirectoryW(system, 260)) return;
  wchar_t windows[260] = {};
  if (!GetWindowsDirectoryW(windows, 260)) return;
  wchar_t path[520] = {};
  _snwprintf(path, 519, L"%ls;%ls", system, windows);
  SetEnvironmentVariableW(L"Path", path);
  SetCurrentDirectoryW(system);
}

void launch_start(LaunchState *state, int32_t count, char **arguments,
                  const LaunchPrivilege &assume) {
  state->list = static_cast<char **>(ZEB_Alloc(LAUNCH_LIST_ENTRIES, sizeof(char *)));
  state->count = launch_args_copy(count, arguments, state->list);
  // What was allocated, kept apart: the library may rewrite its copy of the list.
  state->owned = static_cast<char **>(ZEB_Alloc(LAUNCH_LIST_ENTRIES, sizeof(char *)));
  memcpy(state->owned, state->list, LAUNCH_LIST_ENTRIES * sizeof(char *));

  if (const char *ipc = launch_args_find(state->list, LAUNCH_IPC_MARKER)) {
    state->ipc_launch = true;
    ZEB_Log(3, "IPC name in args: %s", ipc);
  }
  state->mode = launch_mode(state->list);
  launch_counter_name(state->mode, state->counter_name);
  // Services and elevated launches may run over a data directory that users can write: links
  // users planted there must not redirect them, whatever the arguments' launch mode. Users' own
  // launches keep following their junctions.
  const LaunchPrivilege token =
      launch_token_privilege(launch_args_find(state->list, LAUNCH_SERVICE_MARKER) != nullptr);
  state->privileged = token.privileged || assume.privileged;
  // A launch that runs as a service account uses only what administrators control.
  state->service_account = token.service_account || assume.service_account;
  if (state->privileged) launch_trust_redirection();
  launch_candidates(state);
  launch_harden();
}

void launch_end(LaunchState *state) {
  for (int32_t i = 0; state->owned && i < LAUNCH_LIST_ENTRIES; ++i) ZEB_Free(state->owned[i]);
  ZEB_Free(state->owned);
  ZEB_Free(state->list);
  ZEB_Free(state->local_dir);
  ZEB_Free(state->machine_dir);
  ZEB_Free(state->user_dir);
  state->owned = state->list = nullptr;
  state->local_dir = state->machine_dir = state->user_dir = nullptr;
}
