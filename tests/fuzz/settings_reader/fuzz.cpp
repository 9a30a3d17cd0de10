// Feeds arbitrary bytes to the settings reader and walks whatever tree comes back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "zeb/json_reader.h"

namespace {

// Touches every item through the public getters, without recursion (trees can be very deep).
void walk(const ZEB_JSON *item) {
  char buffer[16];
  bool flag;
  while (item) {
    ZEB_JSONGetString(item, buffer, sizeof buffer);
    ZEB_JSONGetBool(item, &flag);
    if (item->kind == ZEB_JSON_ARRAY && item->array.count > 0) {
      item = item->elements[item->array.count - 1];
    } else if (item->kind == ZEB_JSON_OBJECT) {
      ZEB_HashCursor cursor = {0, 0};
      const char *key = nullptr;
      const ZEB_JSON *last = nullptr;
      while (ZEB_HashGetNextKey(item->members, &cursor, &key)) last = ZEB_JSONObjGetItem(item, key);
      item = last;
    } else {
      item = nullptr;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);  // the reader wants a NUL
  ZEB_JSON *root = ZEB_JSONParse(text.c_str());
  walk(root);
  ZEB_JSONDestroy(&root);
  return 0;
}
