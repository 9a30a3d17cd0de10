// Lower-case hexadecimal text of a byte block.
#include "zeb/crypto_hash.h"
#include "zeb/log.h"

void ZEB_BytesToHex(const void *bytes, uint64_t size, char *hex, uint64_t hexSize) {
  static constexpr char kDigits[] = "0123456789abcdef";
  // Without room even for the terminator nothing may be written.
  if (hexSize == 0) {
    if (size != 0) ZEB_LogError("ZEB_BytesToHex", "'hex' not large enough, truncated");
    return;
  }
  const auto *in = static_cast<const uint8_t *>(bytes);
  for (uint64_t i = 0; i < size; ++i) {
    // Whole bytes only, and always room for the NUL.
    if (2 * i + 2 >= hexSize) {
      ZEB_LogError("ZEB_BytesToHex", "'hex' not large enough, truncated");
      hex[2 * i] = '\0';
      return;
    }
    hex[2 * i] = kDigits[in[i] >> 4];
    hex[2 * i + 1] = kDigits[in[i] & 0x0F];
  }
  hex[2 * size] = '\0';
}
