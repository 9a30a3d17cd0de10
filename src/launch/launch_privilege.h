#pragma once
// Whether a launch is privileged: it then follows only links that administrators control, and
// asks the system not to follow redirections that others planted.
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

// Privileged when the service marker was passed, the token is elevated, or its user or one of its
// groups is LocalSystem, LocalService, NetworkService or the SERVICE group.
bool launch_privileged(const TokenFacts &token, bool service_marker);

#ifdef _WIN32
// The same decision over this process's token. A token that cannot be read counts as privileged
// (logged): it only costs the launch the links that users made.
bool launch_token_privileged(bool service_marker);
#endif
