// Pinned-key comparison: whole texts only, so neither a prefix of a pinned key nor a pinned key
// followed by more characters can pass.
#include "src/trust/signature.h"

#include <cstdio>

const char16_t *publisher_key(uint32_t index) {
  return index < publisher_key_count ? publisher_keys[index] : nullptr;
}

static bool texts_equal(const char16_t *pinned, const char16_t *text, uint32_t capacity) {
  for (uint32_t i = 0; i < capacity; ++i) {
    if (text[i] != pinned[i]) return false;
    if (pinned[i] == 0) return true;
  }
  return false;  // no room left for the NUL that ends the pinned text
}

uint32_t publisher_key_index(const char16_t *text, uint32_t capacity) {
  if (text == nullptr) return publisher_key_count;
  for (uint32_t i = 0; i < publisher_key_count; ++i) {
    if (texts_equal(publisher_keys[i], text, capacity)) return i;
  }
  return publisher_key_count;
}

bool publisher_key_matches(const char16_t *text, uint32_t capacity) {
  return publisher_key_index(text, capacity) < publisher_key_count;
}

void signature_verdict_text(const SignatureVerdict &verdict, char *text, uint32_t capacity) {
  switch (verdict.outcome) {
    case SIGNATURE_ACCEPTED:
      snprintf(text, capacity, "accepted (pinned key %u, %u characters)", verdict.key_index,
               verdict.key_length);
      return;
    case SIGNATURE_NO_CERTIFICATE_TABLE:
      snprintf(text, capacity, "refused: not signed (no certificate table)");
      return;
    case SIGNATURE_VERIFIER_REFUSED:
      snprintf(text, capacity, "refused: 'WinVerifyTrust' failed with error 0x%X",
               uint32_t(verdict.verifier_status));
      return;
    case SIGNATURE_NO_SIGNER_KEY:
      snprintf(text, capacity, "refused: the signer's key cannot be read");
      return;
    case SIGNATURE_KEY_NOT_PINNED:
      snprintf(text, capacity, "refused: signed by a key that is not pinned");
      return;
  }
  snprintf(text, capacity, "refused");
}

namespace {

uint32_t little_endian(const uint8_t *bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

}  // namespace

bool image_lacks_certificate_table(const uint8_t *head, uint64_t size) {
  if (head == nullptr || size < 64 || head[0] != 'M' || head[1] != 'Z') return false;
  // "PE\0\0" at the offset the DOS header names, the 20-byte file header, the optional header.
  const uint64_t pe = little_endian(head + 0x3C, 4);
  if (pe > size || size - pe < 26 || little_endian(head + pe, 4) != 0x00004550) return false;
  const uint64_t optional = pe + 24;
  const uint64_t optionalSize = little_endian(head + pe + 20, 2);
  // The directory count and the directories follow the fields of the PE32 or PE32+ form.
  uint64_t count;
  switch (little_endian(head + optional, 2)) {
    case 0x10B:
      count = optional + 92;
      break;
    case 0x20B:
      count = optional + 108;
      break;
    default:
      return false;
  }
  // Directory 4, eight bytes from the table's start: offset and size of the certificates.
  const uint64_t entry = count + 4 + 4 * 8;
  if (entry + 8 > optional + optionalSize || entry + 8 > size) return false;
  return little_endian(head + count, 4) > 4 && little_endian(head + entry, 4) == 0 &&
         little_endian(head + entry + 4, 4) == 0;
}

bool image_checks_libraries(const uint8_t *image, uint64_t size) {
  constexpr uint64_t kHeaderPage = 0x1000;
  return !image_lacks_certificate_table(image, size < kHeaderPage ? size : kHeaderPage);
}
