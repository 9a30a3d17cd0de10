// Anti-swap locks: handles opened without delete sharing on the object itself, never following
// a reparse point, and refused when the object is a junction or a symbolic link.
#include <windows.h>
// After windows.h, which they build on.
#include <shlwapi.h>
#include <winioctl.h>

#include <cstring>

#include "src/trust/lock.h"
#include "src/trust/owner_trust.h"
#include "src/trust/safe_file.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

bool lock_object_allowed(void *handle) {
  const DWORD attributes = safe_file_attributes(handle);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  alignas(8) unsigned char data[LOCK_REPARSE_BUFFER_SIZE];
  DWORD returned = 0;
  bool fetched = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof(data),
                                 &returned, nullptr) != FALSE;
  return lock_reparse_data_allowed(fetched, data, returned);
}

namespace {

constexpr char kRemoveTag[] = "lock_remove_name";
// FileDispositionInfoEx, which older headers lack.
constexpr auto kDispositionInfoEx = FILE_INFO_BY_HANDLE_CLASS(21);

// Marks the open name for deletion whatever its read-only attribute. Where the extended call is
// missing (before Windows 10 1809, Wine 8), the attribute is cleared through the same handle
// first; for a file with other names that clears it for them too, their bytes stay.
bool delete_name(HANDLE handle, const char *path) {
  FILE_DISPOSITION_INFO_EX extended = {FILE_DISPOSITION_FLAG_DELETE |
                                       FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                       FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
  if (SetFileInformationByHandle(handle, kDispositionInfoEx, &extended, sizeof extended))
    return true;
  FILE_BASIC_INFO basic = {};  // times left zero: unchanged
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    const DWORD rest = basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
    basic = {};
    basic.FileAttributes = rest ? rest : FILE_ATTRIBUTE_NORMAL;  // zero would mean unchanged
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
      ZEB_LogError(kRemoveTag, "'SetFileInformationByHandle' failed for '%s' with error 0x%X",
                   ZEB_GetFileName(path, true), unsigned(GetLastError()));
      return false;
    }
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
    return true;
  ZEB_LogError(kRemoveTag, "'SetFileInformationByHandle' failed to delete '%s' with error 0x%X",
               ZEB_GetFileName(path, true), unsigned(GetLastError()));
  return false;
}

}  // namespace

bool lock_hold_name(const char *path, void **handle) {
  *handle = nullptr;
  ZEB_WideText wide(path);
  // The name itself: a link is opened as the link, a second name as that name.
  ScopedHandle held(
      CreateFileW(wide.get(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (held.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    ZEB_LogError(kRemoveTag, "'CreateFile' failed to open '%s' with error 0x%X",
                 ZEB_GetFileName(path, true), unsigned(error));
    return false;
  }
  const DWORD attributes = safe_file_attributes(held.get());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
          FILE_ATTRIBUTE_DIRECTORY) {
    // Another account's directory is not the application's lock file: it stays, and stops
    // nothing. One that this account or an administrator owns is, and is never removed.
    const bool ours = attributes == INVALID_FILE_ATTRIBUTES || lock_directory_ours_open(held.get());
    ZEB_LogError(kRemoveTag, "'%s' is %s directory: left alone", ZEB_GetFileName(path, true),
                 ours ? "a" : "another account's");
    return !ours;
  }
  *handle = held.release();
  return true;
}

bool lock_remove_held(void *handle, const char *path) {
  return !handle || delete_name(handle, path);
}

bool lock_remove_name(const char *path) {
  void *handle = nullptr;
  if (!lock_hold_name(path, &handle)) return false;
  const bool removed = lock_remove_held(handle, path);
  handle_close(handle);
  return removed;
}

bool lock_path(const char *path, bool is_directory, bool share_write, void **handle_out,
               uint32_t *error) {
  *handle_out = nullptr;
  uint32_t ignored = 0;
  uint32_t &failure = error ? *error : ignored;
  failure = ERROR_INVALID_PARAMETER;
  if (path == nullptr) return false;
  ZEB_WideText wide(path);
  // The dropped character is an ASCII separator, so it is also the last UTF-16 unit.
  wchar_t *text = const_cast<wchar_t *>(wide.get());
  if (lock_open_length(path) < strlen(path)) text[wcslen(text) - 1] = 0;

  DWORD share = FILE_SHARE_READ | (share_write ? FILE_SHARE_WRITE : 0);
  DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (is_directory ? FILE_FLAG_BACKUP_SEMANTICS : 0);
  ScopedHandle handle(
      CreateFileW(text, GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    failure = GetLastError();
    return false;
  }
  if (!lock_object_allowed(handle.get())) {
    failure = ERROR_ACCESS_DENIED;
    return false;
  }
  failure = ERROR_SUCCESS;
  *handle_out = handle.release();
  return true;
}

bool lock_path_recursive(const char *path, void ***array_out, uint32_t *count_out) {
  *array_out = nullptr;
  *count_out = 0;
  if (path == nullptr) return false;
  {
    ZEB_WideText wide(path);
    if (PathIsNetworkPathW(wide.get())) return true;
  }

  char *copy = ZEB_Strdup(path);
  lock_trim_separators(copy);
  const uint32_t slots = lock_slot_count(copy);
  void **array = static_cast<void **>(ZEB_Alloc(slots, sizeof(void *)));

  uint32_t count = 1;
  bool locked = lock_path(copy, true, true, &array[0]);
  while (locked && count < slots && lock_cut_at_parent(copy)) {
    locked = lock_path(copy, true, true, &array[count]);
    if (locked) ++count;
  }
  ZEB_Free(copy);

  if (!locked) {
    lock_release_array(&array, &count);
    return false;
  }
  *array_out = array;
  *count_out = count;
  return true;
}

void lock_release_array(void ***array, uint32_t *count) {
  if (*array != nullptr) {
    for (uint32_t i = 0; i < *count; ++i) handle_reset(&(*array)[i]);
    ZEB_Free(*array);
  }
  *array = nullptr;
  *count = 0;
}
