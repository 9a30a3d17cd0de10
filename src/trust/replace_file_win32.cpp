// Replacing files whole: a new temporary beside the target, flushed, renamed over it.
#include <windows.h>
// clang-format off
#include <ntsecapi.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "src/trust/lock.h"
#include "src/trust/replace_file.h"
#include "src/trust/safe_file.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr char kTag[] = "replace_file";
constexpr int kNameAttempts = 8;

bool log_failure(const char *call, const char *name, DWORD error) {
  ZEB_LogError(kTag, "'%s' failed for '%s' with error 0x%X", call, name, unsigned(error));
  SetLastError(error);
  return false;
}

// A new, empty file under an unpredictable temporary name in `directory`: CREATE_NEW never
// opens an existing name, so neither a planted file or link nor a leftover is reused. Another
// name is drawn when one is taken.
HANDLE create_temporary(const char *directory) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    unsigned long long random = 0;
    if (!RtlGenRandom(&random, sizeof random)) {
      log_failure("RtlGenRandom", "", GetLastError());
      return INVALID_HANDLE_VALUE;
    }
    char name[REPLACE_FILE_NAME_LENGTH + 1];
    snprintf(name, sizeof name, "quarlo-%016llx.tmp", random);
    ZEB_WideText path(ZEB_JoinPath(directory, name));
    HANDLE file = CreateFileW(path.get(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      log_failure("CreateFile", name, error);
      return INVALID_HANDLE_VALUE;
    }
  }
  log_failure("CreateFile", "quarlo-*.tmp", ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

// A directory under the target's name refuses. A link there (even a directory junction) or a
// read-only file is removed as a name first, since a rename can replace neither: the link
// itself goes, never what it reaches.
bool clear_target(const wchar_t *target, const char *path) {
  const ScopedHandle entry(CreateFileW(
      target, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  // Missing, or held: the rename tells which, and waits for a brief holder.
  if (entry.get() == INVALID_HANDLE_VALUE) return true;
  const uint32_t attributes = safe_file_attributes(entry.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  const bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !link)
    return log_failure("SetFileInformationByHandle", ZEB_GetFileName(path, true), ERROR_DIRECTORY);
  return !(link || (attributes & FILE_ATTRIBUTE_READONLY)) || lock_remove_name(path);
}

// Renames the open temporary over `target`, replacing whatever name is there. A virus scanner or
// a reader may hold the target for a moment: the rename waits for it while `budget` lasts.
bool rename_over(HANDLE temporary, const wchar_t *target, const char *name, BusyBudget *budget) {
  const size_t units = wcslen(target);
  const size_t size = sizeof(FILE_RENAME_INFO) + units * sizeof(wchar_t);
  auto *rename = static_cast<FILE_RENAME_INFO *>(ZEB_Alloc(size, 1));
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = DWORD(units * sizeof(wchar_t));
  memcpy(rename->FileName, target, units * sizeof(wchar_t));
  DWORD error = ERROR_SUCCESS;
  // A target that is open anywhere refuses the rename with access denied.
  while (!SetFileInformationByHandle(temporary, FileRenameInfo, rename, DWORD(size))) {
    error = GetLastError();
    if ((!busy_error(error) && error != ERROR_ACCESS_DENIED) || !busy_wait(budget)) break;
    error = ERROR_SUCCESS;
  }
  ZEB_Free(rename);
  return error == ERROR_SUCCESS || log_failure("SetFileInformationByHandle", name, error);
}

// Fills a new temporary through `fill`, makes it durable and renames it over the target. On any
// failure the temporary is deleted through its handle.
template <typename Fill>
bool replace(const char *directory, const char *name, ReplaceHold *hold, Fill fill) {
  BusyBudget own;
  BusyBudget *budget = hold && hold->budget ? hold->budget : &own;
  ScopedHandle temporary(create_temporary(directory));
  if (temporary.get() == INVALID_HANDLE_VALUE) return false;
  char *path = ZEB_Strdup(ZEB_JoinPath(directory, name));
  ZEB_WideText target(path);
  bool replaced = fill(temporary.get());
  if (replaced && !FlushFileBuffers(temporary.get()))
    replaced = log_failure("FlushFileBuffers", name, GetLastError());
  if (hold) handle_reset(&hold->target);  // as late as can be: the rename needs it closed
  replaced = replaced && clear_target(target.get(), path) &&
             rename_over(temporary.get(), target.get(), name, budget);
  const DWORD error = GetLastError();
  if (!replaced) safe_file_delete_open(temporary.get());
  temporary.reset();
  ZEB_Free(path);
  SetLastError(error);
  return replaced;
}

}  // namespace

bool replace_file_copy(void *source, const char *directory, const char *name, ReplaceHold *hold) {
  // A failed read or write (a full disk) is logged with the platform's error by the copy.
  return replace(directory, name, hold,
                 [&](HANDLE temporary) { return safe_file_copy_open(source, temporary); });
}

bool replace_file_write(const void *bytes, uint64_t size, const char *directory, const char *name,
                        ReplaceHold *hold) {
  return replace(directory, name, hold,
                 [&](HANDLE temporary) { return safe_file_replace(temporary, bytes, size); });
}

void replace_file_remove_leftovers(const char *directory) {
  ZEB_WideText pattern(ZEB_JoinPath(directory, REPLACE_FILE_PATTERN));
  WIN32_FIND_DATAW found;
  HANDLE search =
      FindFirstFileExW(pattern.get(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;  // none: the usual case
  do {
    char *name = ZEB_WideToMultiD(found.cFileName);
    if (replace_file_is_temporary(name)) safe_file_delete(ZEB_JoinPath(directory, name));
    ZEB_Free(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}
