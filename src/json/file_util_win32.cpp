// Opening and sizing files by UTF-8 path with _wfopen_s and _wstat64.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#include "src/json/file_util.h"
#include "src/json/utf8.h"
#include "zeb/fs.h"
#include "zeb/log.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide calls take UTF-16");

namespace {

const wchar_t *as_wide(const char16_t *text) { return reinterpret_cast<const wchar_t *>(text); }

// Releases a converted path on every way out.
struct WidePath {
  util_wide_path path;
  bool ok;
  explicit WidePath(const char *utf8) { ok = util_wide_path_init(&path, utf8); }
  ~WidePath() {
    if (ok) util_wide_path_release(&path);
  }
  WidePath(const WidePath &) = delete;
  WidePath &operator=(const WidePath &) = delete;
};

}  // namespace

bool util_file_open(const char *path, const char *mode, FILE **file) {
  if (!path || !mode || !file) return false;
  char16_t wide_mode[8];
  if (!text_utf8_to_utf16(wide_mode, 8, mode, 8)) return false;
  WidePath wide(path);
  if (!wide.ok) return false;
  FILE *stream = nullptr;
  const errno_t error = _wfopen_s(&stream, as_wide(wide.path.text), as_wide(wide_mode));
  if (!stream) {
    ZEB_LogError("util_file_open", "'fopen' failed to open '%s' with errno %d",
                 ZEB_GetFileName(path, true), static_cast<int>(error));
    return false;
  }
  *file = stream;
  return true;
}

bool util_file_size(const char *path, uint64_t *size) {
  if (!path || !size) return false;
  WidePath wide(path);
  if (!wide.ok) return false;
  struct _stat64 status = {};
  if (_wstat64(as_wide(wide.path.text), &status) != 0) {
    const int error = errno;
    if (error != ENOENT)
      ZEB_LogError("util_file_size", "'stat' failed to query '%s' with errno %d",
                   ZEB_GetFileName(path, true), error);
    return false;
  }
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}
