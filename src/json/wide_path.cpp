// Conversion of UTF-8 paths for the wide-character file calls.
#include <cstdlib>
#include <cstring>

#include "src/json/file_util.h"
#include "src/json/utf8.h"

namespace {

// Source length for the first try: the conversion stops at the path's NUL, so this only has to
// be larger than any path that fits the local buffer.
constexpr uint32_t kLocalSourceLength = 8192;

}  // namespace

bool util_wide_path_init(util_wide_path *wide, const char *path) {
  wide->heap = nullptr;
  wide->text = wide->local;
  if (text_utf8_to_utf16(wide->local, 512, path, kLocalSourceLength)) return true;
  // Too long for the local buffer, or invalid: one unit per byte is always enough.
  const size_t units = strlen(path) + 1;
  if (units > UINT32_MAX) return false;
  wide->heap = static_cast<char16_t *>(calloc(units, sizeof(char16_t)));
  if (!wide->heap) return false;
  const uint32_t n = static_cast<uint32_t>(units);
  if (!text_utf8_to_utf16(wide->heap, n, path, n)) {
    util_wide_path_release(wide);
    return false;
  }
  wide->text = wide->heap;
  return true;
}

void util_wide_path_release(util_wide_path *wide) {
  free(wide->heap);
  wide->heap = nullptr;
  wide->text = wide->local;
}
