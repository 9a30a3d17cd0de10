// Which tokens launch with privileges that a user's planted link must not redirect.
#include "src/launch/launch_privilege.h"

#include "src/trust/nt_account.h"

namespace {

bool service_account(const TokenSid &sid) {
  static constexpr NtAccount kServiceAccounts[] = {NT_ACCOUNT_SYSTEM, NT_ACCOUNT_LOCAL_SERVICE,
                                                   NT_ACCOUNT_NETWORK_SERVICE,
                                                   NT_ACCOUNT_SERVICE_GROUP};
  for (const NtAccount &account : kServiceAccounts)
    if (nt_account_is(sid.sid, sid.size, account)) return true;
  return false;
}

}  // namespace

bool launch_as_service_account(const TokenFacts &token) {
  if (service_account(token.user)) return true;
  for (uint32_t i = 0; i < token.group_count; ++i)
    if (service_account(token.groups[i])) return true;
  return false;
}

bool launch_privileged(const TokenFacts &token, bool service_marker) {
  return service_marker || token.elevated || launch_as_service_account(token);
}
