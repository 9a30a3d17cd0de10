// Settings files: the whole file is read into memory and parsed in one pass.
#include "zeb/fs.h"
#include "zeb/json_reader.h"
#include "zeb/memory.h"

ZEB_JSON *ZEB_JSONReadFile(const char *path) {
  char *text = ZEB_ReadFile(path, nullptr);
  if (!text) return nullptr;
  ZEB_JSON *root = ZEB_JSONParse(text);
  ZEB_Free(text);
  return root;
}
