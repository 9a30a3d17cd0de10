// Pinned-key comparison: whole texts only, so neither a prefix of a pinned key nor a pinned key
// followed by more characters can pass.
#include "src/trust/signature.h"

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

bool publisher_key_matches(const char16_t *text, uint32_t capacity) {
  if (text == nullptr) return false;
  for (uint32_t i = 0; i < publisher_key_count; ++i) {
    if (texts_equal(publisher_keys[i], text, capacity)) return true;
  }
  return false;
}
