// The process token's facts for the privilege decisions.
#include <windows.h>

#include "src/launch/launch_privilege.h"
#include "src/trust/handle.h"
#include "zeb/log.h"
#include "zeb/memory.h"

namespace {

constexpr char kTag[] = "launch_token_privilege";

// One class of token information in a heap block of its size, or null (logged).
void *token_information(HANDLE token, TOKEN_INFORMATION_CLASS kind, const char *name) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  void *block = size ? ZEB_Alloc(size, 1) : nullptr;
  if (block && GetTokenInformation(token, kind, block, size, &size)) return block;
  ZEB_LogError(kTag, "'GetTokenInformation' failed for %s with error 0x%X", name,
               unsigned(GetLastError()));
  ZEB_Free(block);
  return nullptr;
}

}  // namespace

LaunchPrivilege launch_token_privilege(bool service_marker) {
  LaunchPrivilege answers = {true, true};
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
    ZEB_LogError(kTag, "'OpenProcessToken' failed with error 0x%X", unsigned(GetLastError()));
    return answers;
  }
  const ScopedHandle token(opened);
  auto *user = static_cast<TOKEN_USER *>(token_information(token.get(), TokenUser, "the user"));
  auto *groups =
      static_cast<TOKEN_GROUPS *>(token_information(token.get(), TokenGroups, "the groups"));
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const bool elevation_read =
      GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size);
  if (!elevation_read)
    ZEB_LogError(kTag, "'GetTokenInformation' failed for the elevation with error 0x%X",
                 unsigned(GetLastError()));

  if (user && groups && elevation_read) {
    auto *sids = static_cast<TokenSid *>(ZEB_Alloc(groups->GroupCount + 1, sizeof(TokenSid)));
    for (DWORD i = 0; i < groups->GroupCount; ++i)
      sids[i] = {groups->Groups[i].Sid, GetLengthSid(groups->Groups[i].Sid)};
    const TokenFacts facts = {{user->User.Sid, GetLengthSid(user->User.Sid)},
                              sids,
                              groups->GroupCount,
                              elevation.TokenIsElevated != 0};
    answers = {launch_privileged(facts, service_marker), launch_as_service_account(facts)};
    ZEB_Free(sids);
  }
  ZEB_Free(user);
  ZEB_Free(groups);
  return answers;
}
