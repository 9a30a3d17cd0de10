// Releasing directory listings.
#include "zeb/file_list.h"

#include "zeb/memory.h"

void ZEB_FreeFileList(ZEB_FileList **list) {
  if (!list || !*list) return;
  ZEB_FileList *owned = *list;
  for (uint32_t i = 0; i < owned->len; ++i) {
    ZEB_Free(owned->files[i].path);
    ZEB_Free(owned->files[i].name);
  }
  ZEB_Free(owned->files);
  ZEB_Free(owned);
  *list = nullptr;
}
