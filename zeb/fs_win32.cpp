// Whole-file reading and writing, copying, deleting, existence tests and directory creation.
#include <windows.h>
#include <shlwapi.h>
#include <sys/stat.h>

#include <cerrno>

#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

FILE *fsutil_open(const char *path, const char *mode) {
  ZEB_WideText wide_path(path);
  ZEB_WideText wide_mode(mode);
  FILE *file = nullptr;
  const errno_t result = _wfopen_s(&file, wide_path.get(), wide_mode.get());
  if (result != 0) {
    ZEB_LogError("fsutil_open", "'_wfopen_s' failed to open '%s' with errno %d",
                 ZEB_GetFileName(path, true), result);
    return nullptr;
  }
  return file;
}

bool fsutil_size(const char *path, uint64_t *size) {
  struct _stat64 status = {};
  int stat_result;
  {
    ZEB_WideText wide_path(path);
    stat_result = _wstat64(wide_path.get(), &status);
  }
  if (stat_result != 0) {
    const int error = errno;
    if (error != ENOENT)
      ZEB_LogError("fsutil_size", "'_wstat64' failed to query '%s' with errno %d",
                   ZEB_GetFileName(path, true), error);
    *size = 0;
    return false;
  }
  *size = uint64_t(status.st_size);
  return true;
}

char *ZEB_ReadFile(const char *path, uint64_t *size_out) {
  uint64_t local_size = 0;
  uint64_t &size = size_out ? *size_out : local_size;
  if (!fsutil_size(path, &size) || size == 0 || size > ZEB_READFILE_LIMIT) return nullptr;

  FILE *file = fsutil_open(path, "rb");
  if (!file) return nullptr;
  char *buffer = static_cast<char *>(ZEB_Alloc(size + 1, 1));
  if (fread(buffer, 1, size, file) != size) {
    ZEB_LogError("ZEB_ReadFile", "'fread' failed with ferror %d", ferror(file));
    ZEB_Free(buffer);
    buffer = nullptr;
    size = 0;
  }
  fclose(file);
  return buffer;
}

bool ZEB_WriteFile(const char *path, const void *data, uint64_t size) {
  FILE *file = fsutil_open(path, "wb");
  if (!file) return false;
  const bool written = fwrite(data, 1, size, file) == size;
  if (!written) ZEB_LogError("ZEB_WriteFile", "'fwrite' failed with ferror %d", ferror(file));
  // A failed close loses buffered bytes: count it as a failed write.
  const bool closed = fclose(file) == 0;
  if (written && !closed) ZEB_LogError("ZEB_WriteFile", "'fclose' failed with errno %d", errno);
  return written && closed;
}

bool ZEB_CopyFile(const char *source, const char *destination) {
  ZEB_WideText from(source);
  ZEB_WideText to(destination);
  if (CopyFileW(from.get(), to.get(), FALSE)) return true;
  ZEB_LogError("ZEB_CopyFile", "'CopyFile' failed with error 0x%X", unsigned(GetLastError()));
  return false;
}

bool ZEB_DeleteFile(const char *path) {
  ZEB_WideText wide_path(path);
  if (DeleteFileW(wide_path.get())) return true;
  ZEB_LogError("ZEB_DeleteFile", "'DeleteFile' failed with error 0x%X", unsigned(GetLastError()));
  return false;
}

bool ZEB_FileExists(const char *path) {
  ZEB_WideText wide_path(path);
  if (PathFileExistsW(wide_path.get())) return true;
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
    ZEB_LogError("ZEB_FileExists", "'PathFileExists' failed with error 0x%X", unsigned(error));
  return false;
}

bool ZEB_Mkdir(const char *path) {
  // SHCreateDirectory creates missing parents too; shell32 exports it by ordinal 165.
  using CreateDirectoryFn = int(WINAPI *)(HWND, const wchar_t *);
  // shell32 is loaded from System32 if the process has not loaded it yet; it stays loaded.
  static const auto create_directory = reinterpret_cast<CreateDirectoryFn>(reinterpret_cast<void *>(
      GetProcAddress(LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
                     MAKEINTRESOURCEA(165))));
  int result = ERROR_PROC_NOT_FOUND;
  if (create_directory) {
    ZEB_WideText wide_path(path);
    result = create_directory(nullptr, wide_path.get());
  }
  if (result == 0) return true;
  if (result != ERROR_ALREADY_EXISTS)
    ZEB_LogError("ZEB_Mkdir", "'SHCreateDirectory' failed with error %d", result);
  return false;
}
