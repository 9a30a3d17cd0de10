#pragma once
// String-keyed table of pointers with a fixed number of buckets (djb2 hash, no rehashing).
// Keys are copied and owned by the table; values are not.
#include <cstdint>

struct ZEB_HashEntry {
  char *key;
  void *value;
};

struct ZEB_HashBucket {
  uint32_t count;
  ZEB_HashEntry *entries;  // grows by one entry per new key
};

struct ZEB_Hash {
  uint32_t bucketCount;
  ZEB_HashBucket *buckets;
};

// Position of a walk over the table's keys; start at {0, 0}.
struct ZEB_HashCursor {
  uint32_t bucket;
  uint32_t entry;
};

using ZEB_HashValueFunction = void (*)(void *value);

// djb2 over the key's bytes taken as signed 8-bit values; a null key hashes to 0.
uint32_t ZEB_HashString(const char *key);
// A table with bucketCount empty buckets (100 when 0).
ZEB_Hash *ZEB_HashCreate(uint32_t bucketCount);
// Stores value under key; returns the value it replaced, or null for a new key.
void *ZEB_HashSet(ZEB_Hash *table, const char *key, void *value);
// The value stored under key, or null.
void *ZEB_HashGet(const ZEB_Hash *table, const char *key);
// Next key from the cursor on; false (and *key null) when every bucket is done.
bool ZEB_HashGetNextKey(const ZEB_Hash *table, ZEB_HashCursor *cursor, const char **key);
// Releases keys, entry arrays, buckets and the table, passing every non-null value to
// valueFunction when one is given; nulls *table. A null pointer or table does nothing.
void ZEB_HashDestroy(ZEB_Hash **table, ZEB_HashValueFunction valueFunction);
