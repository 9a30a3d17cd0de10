#pragma once
// Whether a launch is privileged: it then follows only links that administrators control, and
// asks the system not to follow redirections that others planted. And whether it runs as a
// service account, which trusts only what administrators control in its data directory.
#include <cstdint>

// A SID as the platform lays it out, `size` bytes.
struct TokenSid {
  const void *sid;
  uint32_t size;
};

// What the process's token says about whom the launch runs as.
struct TokenFacts {
  TokenSid user;
  const TokenSid *groups;
  uint32_t group_count;
  bool elevated;
};

// As a service account when the token's user or one of its groups is LocalSystem, LocalService,
// NetworkService or the SERVICE group. Told by the token alone: neither the service marker nor
// elevation makes one.
bool launch_as_service_account(const TokenFacts &token);
// Privileged when the service marker was passed, the token is elevated, or the launch runs as a
// service account.
bool launch_privileged(const TokenFacts &token, bool service_marker);

// Both answers for one token.
struct LaunchPrivilege {
  bool privileged;
  bool service_account;
};

#ifdef _WIN32
// Both decisions over this process's token, read once. A token that cannot be read counts as
// privileged and as a service account (logged): it only costs the launch the links and data that
// users control.
LaunchPrivilege launch_token_privilege(bool service_marker);
#endif
