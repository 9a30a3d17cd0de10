// Directory listings through FindFirstFileW / FindNextFileW.
#include <windows.h>

#include "zeb/file_list.h"
#include "zeb/fs.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr uint64_t kListingScratch = 4096;

// Appends one record; the array grows by exactly one (listings are small).
void append(ZEB_FileList *list, const char *directory, char *name, const WIN32_FIND_DATAW &found) {
  list->files = static_cast<ZEB_FileDesc *>(
      ZEB_Realloc(list->files, uint64_t(list->len) + 1, sizeof(ZEB_FileDesc)));
  ZEB_FileDesc &entry = list->files[list->len++];
  entry.name = name;
  // Made on the heap, as ZEB_JoinPath would: a scratch text would cut a long path.
  entry.path = ZEB_SprintfD("%s\\%s", directory, name);
  entry.size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  entry.dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

ZEB_FileList *ZEB_GetFileList(const char *path, const char *filter) {
  // The texts made while listing come from a private block, so they cannot overwrite the
  // caller's scratch texts (the path itself may be one).
  void *scratch = ZEB_Alloc(kListingScratch, 1);
  ZEB_SetTLocalBuffer(scratch, kListingScratch);

  auto *list = static_cast<ZEB_FileList *>(ZEB_Alloc(1, sizeof(ZEB_FileList)));
  char *directory = ZEB_Strdup(path);
  const char *fragments = filter ? filter : "";

  // The search pattern lives on the heap: in the scratch block, a long path and its UTF-16
  // form together would wrap it and overwrite each other.
  char *pattern = ZEB_SprintfD("%s\\*", directory);
  wchar_t *wide_pattern = ZEB_MultiToWideD(pattern);
  ZEB_Free(pattern);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide_pattern, &found);
  ZEB_Free(wide_pattern);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      char *name = ZEB_WideToMultiD(found.cFileName);
      const bool dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (dir || filter_match(name, fragments, "|")) {
        append(list, directory, name, found);
      } else {
        ZEB_Free(name);
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  ZEB_Free(directory);

  if (list->len > 0) ZEB_Sort(list->files, list->len, sizeof(ZEB_FileDesc), file_list_compare);

  ZEB_SetTLocalBuffer(nullptr, 0);
  ZEB_Free(scratch);
  return list;
}
