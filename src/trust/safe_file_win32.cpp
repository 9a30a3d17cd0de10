// Opening, checking and changing files through one handle, never through a planted link.
#include <windows.h>

#include "src/trust/safe_file.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr char kTag[] = "safe_file_open";
constexpr DWORD kCopyBlock = 1 << 16;

const char *verdict_text(SafeFileVerdict verdict) {
  switch (verdict) {
    case SAFE_FILE_REPARSE:
      return "is a link";
    case SAFE_FILE_DIRECTORY:
      return "is a directory";
    case SAFE_FILE_HARD_LINK:
      return "has another name";
    default:
      return "is a plain file";
  }
}

// The last component of a path, for messages.
const char *file_name(const wchar_t *path) { return ZEB_GetFileName(ZEB_WideToMultiL(path), true); }

bool write_all(HANDLE file, const void *bytes, uint64_t size) {
  const char *next = static_cast<const char *>(bytes);
  while (size > 0) {
    const DWORD piece = size > kCopyBlock ? kCopyBlock : DWORD(size);
    DWORD written = 0;
    if (!WriteFile(file, next, piece, &written, nullptr) || written != piece) {
      ZEB_LogError("safe_file_write", "'WriteFile' failed with error 0x%X",
                   unsigned(GetLastError()));
      return false;
    }
    next += piece;
    size -= piece;
  }
  return true;
}

bool seek(HANDLE file, DWORD method) {
  LARGE_INTEGER origin = {};
  if (SetFilePointerEx(file, origin, nullptr, method)) return true;
  ZEB_LogError("safe_file_write", "'SetFilePointerEx' failed with error 0x%X",
               unsigned(GetLastError()));
  return false;
}

}  // namespace

SafeFileOpen safe_file_open_wide(const wchar_t *path, uint32_t access, uint32_t share, bool create,
                                 void **file, bool *existed) {
  *file = nullptr;
  // No reparse point at the end of the name is followed: a link is opened as itself, so that
  // the check below sees it.
  ScopedHandle handle(
      CreateFileW(path, access, share, nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  // Set for an existing file also when one would have been created.
  if (existed) *existed = !create || GetLastError() == ERROR_ALREADY_EXISTS;
  if (handle.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return SAFE_FILE_MISSING;
    if (error == ERROR_SHARING_VIOLATION) return SAFE_FILE_IN_USE;
    ZEB_LogError(kTag, "'CreateFile' failed to open '%s' with error 0x%X", file_name(path),
                 unsigned(error));
    SetLastError(error);
    return SAFE_FILE_FAILED;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.get(), &info)) {
    const DWORD error = GetLastError();
    ZEB_LogError(kTag, "'GetFileInformationByHandle' failed for '%s' with error 0x%X",
                 file_name(path), unsigned(error));
    handle.reset();
    SetLastError(error);
    return SAFE_FILE_FAILED;
  }
  const SafeFileVerdict verdict = safe_file_verdict(info.dwFileAttributes, info.nNumberOfLinks);
  if (verdict != SAFE_FILE_PLAIN) {
    ZEB_LogError(kTag, "'%s' %s: left alone", file_name(path), verdict_text(verdict));
    handle.reset();
    SetLastError(ERROR_ACCESS_DENIED);
    return SAFE_FILE_REFUSED;
  }
  *file = handle.release();
  return SAFE_FILE_OPENED;
}

SafeFileOpen safe_file_open(const char *path, uint32_t access, uint32_t share, bool create,
                            void **file, bool *existed) {
  ZEB_WideText wide(path);
  return safe_file_open_wide(wide.get(), access, share, create, file, existed);
}

void *safe_file_reopen(void *file, uint32_t access) {
  HANDLE handle = ReOpenFile(file, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

uint32_t safe_file_attributes(void *handle) {
  // Asked for alone: the full information record also queries the volume, which costs more
  // than the open. A file system that cannot answer the short query is asked for the full one.
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag))
    return tag.FileAttributes;
  BY_HANDLE_FILE_INFORMATION info = {};
  return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                   : INVALID_FILE_ATTRIBUTES;
}

bool safe_file_read(void *file, uint64_t limit, char **bytes, uint64_t *size) {
  *bytes = nullptr;
  *size = 0;
  LARGE_INTEGER length = {};
  if (!GetFileSizeEx(file, &length) || !seek(file, FILE_BEGIN)) return false;
  if (uint64_t(length.QuadPart) > limit) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  char *block = static_cast<char *>(ZEB_Alloc(uint64_t(length.QuadPart) + 1, 1));
  uint64_t done = 0;
  while (done < uint64_t(length.QuadPart)) {
    const uint64_t left = uint64_t(length.QuadPart) - done;
    DWORD read = 0;
    const bool ok =
        ReadFile(file, block + done, left > kCopyBlock ? kCopyBlock : DWORD(left), &read, nullptr);
    if (!ok || read == 0) {
      const DWORD error = ok ? DWORD(ERROR_HANDLE_EOF) : GetLastError();
      ZEB_Free(block);
      SetLastError(error);  // a lock violation tells a busy file from a broken one
      return false;
    }
    done += read;
  }
  *bytes = block;
  *size = done;
  return true;
}

bool safe_file_replace(void *file, const void *bytes, uint64_t size) {
  if (!seek(file, FILE_BEGIN)) return false;
  if (!SetEndOfFile(file)) {
    ZEB_LogError("safe_file_write", "'SetEndOfFile' failed with error 0x%X",
                 unsigned(GetLastError()));
    return false;
  }
  return write_all(file, bytes, size);
}

bool safe_file_append(void *file, const void *bytes, uint64_t size) {
  return seek(file, FILE_END) && write_all(file, bytes, size);
}

bool safe_file_copy_open(void *from, void *to) {
  // A block at a time: no buffer the size of the file.
  if (!seek(from, FILE_BEGIN) || !seek(to, FILE_BEGIN)) return false;
  if (!SetEndOfFile(to)) {
    ZEB_LogError("safe_file_copy", "'SetEndOfFile' failed with error 0x%X",
                 unsigned(GetLastError()));
    return false;
  }
  char *block = static_cast<char *>(ZEB_Alloc(kCopyBlock, 1));
  bool copied = false;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(from, block, kCopyBlock, &read, nullptr)) {
      ZEB_LogError("safe_file_copy", "'ReadFile' failed with error 0x%X", unsigned(GetLastError()));
      break;
    }
    if (read == 0) {
      copied = true;
      break;
    }
    if (!write_all(to, block, read)) break;
  }
  ZEB_Free(block);
  return copied;
}

bool safe_file_delete_open(void *file) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
    return true;
  ZEB_LogError("safe_file_delete", "'SetFileInformationByHandle' failed with error 0x%X",
               unsigned(GetLastError()));
  return false;
}

bool safe_file_delete(const char *path) {
  void *file = nullptr;
  const SafeFileOpen opened =
      safe_file_open(path, SAFE_FILE_DELETE, SAFE_FILE_SHARE_ALL, false, &file);
  if (opened == SAFE_FILE_MISSING || opened == SAFE_FILE_IN_USE)
    ZEB_LogError("safe_file_delete", "'%s' is %s", ZEB_GetFileName(path, true),
                 opened == SAFE_FILE_MISSING ? "missing" : "in use");
  if (opened != SAFE_FILE_OPENED) return false;
  const bool deleted = safe_file_delete_open(file);
  handle_reset(&file);
  return deleted;
}
