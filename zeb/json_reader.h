#pragma once
// Compact JSON reader for settings files: one pass, no recursion, heap items.
//
// A root owns its whole tree; items reached through the getters are borrowed.
// Only a root (parent null) may be destroyed.
#include <cstdint>

#include "zeb/hash_table.h"

enum : int32_t {
  ZEB_JSON_NULL = 0,
  ZEB_JSON_BOOL = 1,
  ZEB_JSON_NUMBER = 2,
  ZEB_JSON_STRING = 3,
  ZEB_JSON_ARRAY = 4,
  ZEB_JSON_OBJECT = 5,
};

struct ZEB_JSONArraySize {
  uint32_t count;
  uint32_t capacity;
};

struct ZEB_JSON {
  int32_t kind;      // ZEB_JSON_NULL .. ZEB_JSON_OBJECT
  ZEB_JSON *parent;  // the array or object holding the item; null for a root
  uint8_t state;     // containers only: where the parse stands inside them
  union {
    uint8_t boolean;      // 0 or 1
    uint8_t isInteger;    // 1 when the number's text was an integer within 32 bits
    char *string;         // heap UTF-8, owned by the item
    ZEB_JSON **elements;  // heap array of element pointers
    ZEB_Hash *members;    // owned by the item
  };
  union {
    double number;                // 0 when the converted value was not finite
    ZEB_JSONArraySize array;      // element count and capacity
    ZEB_HashCursor memberCursor;  // next member to destroy
  };
  uint32_t elementCursor;  // next element to destroy
};

// Root of the tree parsed from a NUL-terminated UTF-8 text, or null (empty or blank text,
// or an error, reported as "Parse error at position %u").
ZEB_JSON *ZEB_JSONParse(const char *text);
// Reads the whole file and parses it; null when it cannot be read or does not parse.
ZEB_JSON *ZEB_JSONReadFile(const char *path);
// Destroys a root and its tree and nulls *item. A null pointer or a null *item does nothing;
// a child item is refused with a report and left alone.
void ZEB_JSONDestroy(ZEB_JSON **item);

// The member stored under key, or null (null item, not an object, no such key).
ZEB_JSON *ZEB_JSONObjGetItem(const ZEB_JSON *item, const char *key);
// Copies a string item's text (truncated and terminated when too long); true when it fit.
// Other items leave the buffer untouched and return false.
bool ZEB_JSONGetString(const ZEB_JSON *item, char *buffer, uint64_t size);
// Stores a boolean item's value and returns true; false with nothing stored otherwise.
bool ZEB_JSONGetBool(const ZEB_JSON *item, bool *value);
