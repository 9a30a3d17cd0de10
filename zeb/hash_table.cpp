// String-keyed pointer table: fixed buckets, one entry array per bucket grown one entry at a time.
#include "zeb/hash_table.h"

#include <cstring>

#include "zeb/memory.h"

namespace {

bool keys_equal(const char *a, const char *b) {
  if (!a || !b) return a == b;
  return strcmp(a, b) == 0;
}

ZEB_HashBucket *bucket_of(const ZEB_Hash *table, const char *key) {
  return &table->buckets[ZEB_HashString(key) % table->bucketCount];
}

}  // namespace

uint32_t ZEB_HashString(const char *key) {
  if (!key) return 0;
  uint32_t hash = 5381;
  // Bytes count as signed, so keys with bytes from 0x80 on hash the same on every platform.
  for (const char *p = key; *p; ++p)
    hash = hash * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)));
  return hash;
}

ZEB_Hash *ZEB_HashCreate(uint32_t bucketCount) {
  if (bucketCount == 0) bucketCount = 100;
  auto *table = static_cast<ZEB_Hash *>(ZEB_Alloc(1, sizeof(ZEB_Hash)));
  table->bucketCount = bucketCount;
  table->buckets = static_cast<ZEB_HashBucket *>(ZEB_Alloc(bucketCount, sizeof(ZEB_HashBucket)));
  return table;
}

void *ZEB_HashSet(ZEB_Hash *table, const char *key, void *value) {
  if (!table) return nullptr;
  ZEB_HashBucket *bucket = bucket_of(table, key);
  for (uint32_t i = 0; i < bucket->count; ++i) {
    ZEB_HashEntry &entry = bucket->entries[i];
    if (keys_equal(entry.key, key)) {
      void *old = entry.value;
      entry.value = value;
      return old;
    }
  }
  bucket->entries = static_cast<ZEB_HashEntry *>(
      ZEB_Realloc(bucket->entries, uint64_t(bucket->count) + 1, sizeof(ZEB_HashEntry)));
  bucket->entries[bucket->count] = {key ? ZEB_Strdup(key) : nullptr, value};
  ++bucket->count;
  return nullptr;
}

void *ZEB_HashGet(const ZEB_Hash *table, const char *key) {
  if (!table) return nullptr;
  const ZEB_HashBucket *bucket = bucket_of(table, key);
  for (uint32_t i = 0; i < bucket->count; ++i)
    if (keys_equal(bucket->entries[i].key, key)) return bucket->entries[i].value;
  return nullptr;
}

bool ZEB_HashGetNextKey(const ZEB_Hash *table, ZEB_HashCursor *cursor, const char **key) {
  *key = nullptr;
  if (!table) return false;
  while (cursor->bucket < table->bucketCount) {
    const ZEB_HashBucket &bucket = table->buckets[cursor->bucket];
    while (cursor->entry < bucket.count) {
      const char *found = bucket.entries[cursor->entry++].key;
      if (found) {
        *key = found;
        return true;
      }
    }
    ++cursor->bucket;
    cursor->entry = 0;
  }
  return false;
}

void ZEB_HashDestroy(ZEB_Hash **table, ZEB_HashValueFunction valueFunction) {
  if (!table || !*table) return;
  ZEB_Hash *t = *table;
  for (uint32_t b = 0; b < t->bucketCount; ++b) {
    ZEB_HashBucket &bucket = t->buckets[b];
    for (uint32_t i = 0; i < bucket.count; ++i) {
      ZEB_Free(bucket.entries[i].key);
      if (valueFunction && bucket.entries[i].value) valueFunction(bucket.entries[i].value);
    }
    ZEB_Free(bucket.entries);
  }
  ZEB_Free(t->buckets);
  ZEB_Free(t);
  *table = nullptr;
}
