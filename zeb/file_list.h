#pragma once
// Sorted directory listings, the library's stable sort, and the name filter and order they use.
#include <cstdint>

struct ZEB_FileDesc {
  char *path;  // heap: the listed directory, a backslash and the name
  char *name;  // heap: the entry name as the platform reports it
  uint64_t size;
  bool dir;
};

struct ZEB_FileList {
  ZEB_FileDesc *files;  // sorted; null when there are no entries
  uint32_t len;
};

// Entries of one directory, "." and ".." included, directories first; files are kept only
// when their names contain one of the "|"-separated fragments of `filter` (null or empty
// keeps all). Never null: a missing or unreadable directory gives an empty list. The
// caller's scratch texts survive the call.
ZEB_FileList *ZEB_GetFileList(const char *path, const char *filter);
// Releases the list and every text in it, and nulls *list. Null or *list null: nothing.
void ZEB_FreeFileList(ZEB_FileList **list);

// Stable in-place sort of `num` elements of `size` bytes.
void ZEB_Sort(void *base, uint64_t num, uint64_t size, int (*compare)(const void *, const void *));
// True when `name` contains one of the fragments of `filter` split at any character of
// `separators` (case-sensitive), or when the filter has no fragment at all.
bool filter_match(const char *name, const char *filter, const char *separators);
// Listing order of two ZEB_FileDesc: directories first, then names without regard to ASCII
// letter case, then the higher code units first among names that differ only in case.
int file_list_compare(const void *a, const void *b);
