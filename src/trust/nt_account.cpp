// Whole-SID comparison: neither a longer SID that begins like an account nor a SID of another
// authority with the same numbers matches.
#include "src/trust/nt_account.h"

#include <cstring>

namespace {

uint32_t read_le32(const uint8_t *bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
         uint32_t(bytes[3]) << 24;
}

}  // namespace

bool nt_account_is(const void *sid, uint32_t size, const NtAccount &account) {
  const auto *bytes = static_cast<const uint8_t *>(sid);
  if (!bytes || size < 8 || bytes[0] != 1 || bytes[1] != account.count || size < 8u + 4u * bytes[1])
    return false;
  static constexpr uint8_t kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  if (memcmp(bytes + 2, kNtAuthority, sizeof kNtAuthority) != 0) return false;
  for (uint8_t i = 0; i < account.count; ++i)
    if (read_le32(bytes + 8 + 4 * i) != account.parts[i]) return false;
  return true;
}
