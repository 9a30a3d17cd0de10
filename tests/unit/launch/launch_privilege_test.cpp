#include "src/launch/launch_privilege.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Sid = std::vector<uint8_t>;

// A SID laid out as the platform lays it out: revision, count, 48-bit authority big-endian,
// sub-authorities little-endian.
Sid sid(uint8_t authority, const std::vector<uint32_t> &parts) {
  Sid bytes = {1, uint8_t(parts.size()), 0, 0, 0, 0, 0, authority};
  for (uint32_t part : parts)
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(part >> shift));
  return bytes;
}

const Sid kUser = sid(5, {21, 1111, 2222, 3333, 1001});
// What a standard user's token carries: Everyone, Interactive, Authenticated Users, Users, and
// Administrators (deny-only in a filtered administrator's token).
const std::vector<Sid> kUserGroups = {sid(1, {0}), sid(5, {4}), sid(5, {11}), sid(5, {32, 545}),
                                      sid(5, {32, 544})};

// The facts of a token with `user` and `groups`; `refs` holds the groups' references.
TokenFacts token(const Sid &user, const std::vector<Sid> &groups, bool elevated,
                 std::vector<TokenSid> *refs) {
  for (const Sid &group : groups) refs->push_back({group.data(), uint32_t(group.size())});
  return {{user.data(), uint32_t(user.size())}, refs->data(), uint32_t(refs->size()), elevated};
}

bool privileged(const Sid &user, const std::vector<Sid> &groups, bool elevated,
                bool marker = false) {
  std::vector<TokenSid> refs;
  return launch_privileged(token(user, groups, elevated, &refs), marker);
}

bool service_account(const Sid &user, const std::vector<Sid> &groups, bool elevated = false) {
  std::vector<TokenSid> refs;
  return launch_as_service_account(token(user, groups, elevated, &refs));
}

TEST(LaunchPrivilege, AStandardUserLaunchIsPrivilegedOnlyWithTheServiceMarker) {
  EXPECT_FALSE(privileged(kUser, kUserGroups, false));
  EXPECT_FALSE(privileged(kUser, {}, false));
  EXPECT_TRUE(privileged(kUser, kUserGroups, false, true));
  // Neither the marker nor elevation makes a launch run as a service account.
  EXPECT_FALSE(service_account(kUser, kUserGroups, true));
}

TEST(LaunchPrivilege, ServiceAccountsTheServiceGroupAndElevationArePrivileged) {
  EXPECT_TRUE(privileged(kUser, kUserGroups, true)) << "elevated";
  for (uint32_t account : {18u, 19u, 20u}) {  // LocalSystem, LocalService, NetworkService
    SCOPED_TRACE(account);
    EXPECT_TRUE(privileged(sid(5, {account}), {}, false)) << "as the user";
    EXPECT_TRUE(service_account(sid(5, {account}), {}));
    std::vector<Sid> groups = kUserGroups;
    groups.push_back(sid(5, {account}));
    EXPECT_TRUE(privileged(kUser, groups, false)) << "as the last group";
    EXPECT_TRUE(service_account(kUser, groups));
  }
  // A service's own account, with the SERVICE group among others.
  EXPECT_TRUE(
      privileged(sid(5, {80, 1, 2, 3, 4, 5}), {sid(1, {0}), sid(5, {6}), sid(5, {11})}, false));
  EXPECT_TRUE(service_account(kUser, {sid(1, {0}), sid(5, {6})}));
}

TEST(LaunchPrivilege, SidsThatOnlyResembleAServiceAccountAreNot) {
  Sid cut = sid(5, {6});  // the SERVICE group without its last byte
  cut.pop_back();
  const std::vector<Sid> near_misses = {
      sid(5, {18, 0}),   // a longer SID that begins like LocalSystem
      sid(5, {32, 18}),  // a builtin alias ending in the same number
      sid(16, {18}),     // another authority
      cut,
  };
  for (const Sid &group : near_misses) {
    std::vector<Sid> groups = kUserGroups;
    groups.push_back(group);
    EXPECT_FALSE(privileged(kUser, groups, false));
    EXPECT_FALSE(privileged(group, {}, false));
    EXPECT_FALSE(service_account(group, {}));
  }
}

}  // namespace
