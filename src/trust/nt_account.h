#pragma once
// Well-known accounts of the NT authority (S-1-5-...), compared with SIDs as the platform lays
// them out: revision 1, the count of sub-authorities, the 48-bit authority big-endian, then the
// sub-authorities as 32-bit little-endian numbers.
#include <cstdint>

struct NtAccount {
  uint8_t count;
  uint32_t parts[6];
};

constexpr NtAccount NT_ACCOUNT_SYSTEM = {1, {18}};
constexpr NtAccount NT_ACCOUNT_LOCAL_SERVICE = {1, {19}};
constexpr NtAccount NT_ACCOUNT_NETWORK_SERVICE = {1, {20}};
constexpr NtAccount NT_ACCOUNT_SERVICE_GROUP = {1, {6}};
constexpr NtAccount NT_ACCOUNT_ADMINISTRATORS = {2, {32, 544}};
constexpr NtAccount NT_ACCOUNT_TRUSTED_INSTALLER = {
    6, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

// Whether the `size` bytes at `sid` hold exactly `account`.
bool nt_account_is(const void *sid, uint32_t size, const NtAccount &account);
