// JSON documents: the arena, handles and forwarding, scalars, arrays and object tables.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "src/json/json.h"
#include "src/json/pow2.h"
#include "src/json/logfatal.h"

namespace {

constexpr const char *kSource = "../src/util/json";
constexpr uint32_t kInitialArena = 16384;
// Offsets are 32-bit and capacities powers of two, so the arena stops at 2 GiB.
constexpr uint64_t kMaxArena = 0x80000000u;
constexpr uint32_t kMinArrayCells = 64;
constexpr uint32_t kMinTableSlots = 256;
constexpr int kMaxForwards = 16;
constexpr json_ref kInvalid = {nullptr, 0};

json_cell *cell_at(json_doc *doc, uint32_t offset) {
  return reinterpret_cast<json_cell *>(doc->arena + offset);
}

uint32_t offset_of(json_doc *doc, const json_cell *cell) {
  return static_cast<uint32_t>(reinterpret_cast<const uint8_t *>(cell) - doc->arena);
}

// A cell must lie wholly inside the used part of the arena, at an 8-aligned offset.
bool holds_cell(const json_doc *doc, uint32_t offset) {
  return (offset & 7) == 0 && uint64_t(offset) + sizeof(json_cell) <= doc->used;
}

void reset(json_cell *cell, uint8_t kind) {
  *cell = json_cell{};
  cell->kind = kind;
}

void store_u64(json_cell *cell, uint64_t bits) {
  cell->w2 = static_cast<uint32_t>(bits);
  cell->w3 = static_cast<uint32_t>(bits >> 32);
}

uint64_t load_u64(const json_cell *cell) { return uint64_t(cell->w3) << 32 | cell->w2; }

// Makes the arena at least need bytes large; used is not touched.
bool ensure_capacity(json_doc *doc, uint64_t need) {
  if (need <= doc->capacity) return true;
  if (need > kMaxArena) return false;
  const uint32_t capacity = util_round_up_pow2(static_cast<uint32_t>(need));
  auto *arena = static_cast<uint8_t *>(realloc(doc->arena, capacity));
  if (!arena) return false;
  doc->arena = arena;
  doc->capacity = capacity;
  return true;
}

// Takes size zero-filled bytes at used rounded up to align.
bool take(json_doc *doc, uint32_t size, uint32_t align, uint32_t *offset) {
  const uint64_t at = (uint64_t(doc->used) + align - 1) & ~uint64_t(align - 1);
  const uint64_t need = at + size;
  if (!ensure_capacity(doc, need)) return false;
  if (need > doc->used) memset(doc->arena + doc->used, 0, need - doc->used);
  doc->used = static_cast<uint32_t>(need);
  *offset = static_cast<uint32_t>(at);
  return true;
}

// Remembers where a caller's text lies when it is inside the arena, so that it can be found
// again after the arena has moved.
struct TextSource {
  const char *begin;
  uint32_t arena_offset;
  bool in_arena;

  TextSource(const json_doc *doc, const char *text)
      : begin(text), arena_offset(0), in_arena(false) {
    auto p = reinterpret_cast<const uint8_t *>(text);
    if (doc->arena && p >= doc->arena && p < doc->arena + doc->capacity) {
      in_arena = true;
      arena_offset = static_cast<uint32_t>(p - doc->arena);
    }
  }
  const char *get(const json_doc *doc) const {
    return in_arena ? reinterpret_cast<const char *>(doc->arena) + arena_offset : begin;
  }
};

json_cell *coerce(json_ref ref, uint8_t kind) {
  json_cell *cell = json_resolve(ref);
  if (cell && cell->kind != kind) reset(cell, kind);
  return cell;
}

uint32_t hash_u64(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  x ^= x >> 31;
  return static_cast<uint32_t>(x);
}

uint32_t key_slot_offset(const json_cell *object, uint32_t slot) { return object->w1 + 16 * slot; }

uint32_t value_slot_offset(const json_cell *object, uint32_t slot) {
  return object->w1 + 16 * (object->w2 + slot);
}

// Linear probing from hash over the object's key slots: the slot holding a key of `kind` that
// `matches`, or else the first vacated slot passed, or else the empty slot that ends the probe.
template <typename Matches>
bool probe(json_doc *doc, const json_cell *object, uint32_t hash, uint8_t kind, Matches matches,
           uint32_t *slot) {
  const uint32_t size = object->w2;
  if (size == 0) return false;
  const uint32_t mask = size - 1;
  uint32_t removed = UINT32_MAX;
  for (uint32_t i = 0; i < size; ++i) {
    const uint32_t s = (hash + i) & mask;
    const json_cell *k = cell_at(doc, key_slot_offset(object, s));
    if (k->kind == JSON_NULL) {
      *slot = removed != UINT32_MAX ? removed : s;
      return true;
    }
    if (k->kind == kind) {
      if (matches(k)) {
        *slot = s;
        return true;
      }
    } else if (k->kind == JSON_REMOVED && removed == UINT32_MAX) {
      removed = s;
    }
  }
  return false;
}

// String keys compare by stored hash, then by their whole length: keys that hold NUL bytes (from
// \u0000) and differ after one stay distinct members.
bool find_str(json_doc *doc, const json_cell *object, const char *key, uint32_t length,
              uint32_t hash, uint32_t *slot) {
  return probe(
      doc, object, hash, JSON_STRING,
      [&](const json_cell *k) {
        return k->w2 == hash && k->w3 == length && memcmp(doc->arena + k->w1, key, length) == 0;
      },
      slot);
}

bool find_u64(json_doc *doc, const json_cell *object, uint64_t key, uint32_t *slot) {
  return probe(
      doc, object, hash_u64(key), JSON_UINT64,
      [&](const json_cell *k) { return load_u64(k) == key; }, slot);
}

// The text of a string key cell, or the empty text for anything else.
void key_text(json_ref key, const uint8_t **text, uint32_t *length) {
  // Key slots listed by json_obj_entries are the cells themselves; a full resolve only for others.
  const json_cell *cell = key.doc && holds_cell(key.doc, key.offset) &&
                                  cell_at(key.doc, key.offset)->kind != JSON_FORWARD
                              ? cell_at(key.doc, key.offset)
                              : json_resolve(key);
  if (cell && cell->kind == JSON_STRING && uint64_t(cell->w1) + cell->w3 < key.doc->used) {
    *text = key.doc->arena + cell->w1;
    *length = cell->w3;
  } else {
    *text = reinterpret_cast<const uint8_t *>("");
    *length = 0;
  }
}

}  // namespace

uint32_t json_string_hash(const char *begin, const char *end) {
  uint32_t h = 5381;
  for (const char *p = begin; p < end; ++p)
    h = h * 33 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)));
  return h;
}

// ---- Document and arena ----

json_ref json_create() {
  auto *doc = static_cast<json_doc *>(calloc(1, sizeof(json_doc)));
  if (!doc) return kInvalid;
  const json_ref root = {doc, 0};
  uint32_t offset = 0;
  // Reserve the first block now; if that fails the root allocation below tries again.
  if (json_arena_alloc(root, kInitialArena, 1, &offset)) doc->used = 0;
  doc->error.length = 0;
  json_arena_alloc(root, sizeof(json_cell), 8, &offset);
  return root;
}

void json_destroy(json_ref ref) {
  if (!json_ref_valid(ref)) return;
  free(ref.doc->error.data);
  free(ref.doc->arena);
  free(ref.doc);
}

bool json_ref_valid(json_ref ref) {
  return ref.doc && (ref.offset == 0 || ref.offset < ref.doc->used);
}

json_cell *json_resolve(json_ref ref) {
  if (!json_ref_valid(ref)) return nullptr;
  json_doc *doc = ref.doc;
  if (!holds_cell(doc, ref.offset)) return nullptr;
  json_cell *cell = cell_at(doc, ref.offset);
  if (cell->kind != JSON_FORWARD) return cell;

  uint32_t visited[kMaxForwards];
  int count = 0;
  uint32_t at = ref.offset;
  while (cell->kind == JSON_FORWARD) {
    if (count == kMaxForwards) return nullptr;
    visited[count++] = at;
    at = cell->w1;
    if (!holds_cell(doc, at)) return nullptr;
    cell = cell_at(doc, at);
  }
  // Point every earlier forwarding cell straight at the result, so the next walk takes one step.
  if (count >= 2) {
    const json_cell last = *cell_at(doc, visited[count - 1]);
    for (int i = 0; i < count - 1; ++i) *cell_at(doc, visited[i]) = last;
  }
  return cell;
}

bool json_arena_alloc(json_ref ref, uint32_t size, uint32_t align, uint32_t *offset) {
  if (!json_ref_valid(ref) || !offset) return false;
  if (align == 0 || (align & (align - 1)) != 0) return false;  // not a power of two
  return take(ref.doc, size, align, offset);
}

bool json_arena_append(json_ref ref, const void *bytes, uint32_t n) {
  if (!json_ref_valid(ref)) return false;
  json_doc *doc = ref.doc;
  if (n == 0) return true;
  const TextSource source(doc, static_cast<const char *>(bytes));
  if (!ensure_capacity(doc, uint64_t(doc->used) + n)) return false;
  memmove(doc->arena + doc->used, source.get(doc), n);
  doc->used += n;
  return true;
}

// ---- Values ----

bool json_set_string(json_ref ref, const char *begin, const char *end, uint32_t hash) {
  if (!json_resolve(ref)) return false;
  if (!begin || end < begin) return false;
  const uint64_t length = static_cast<uint64_t>(end - begin);
  json_doc *doc = ref.doc;
  const TextSource source(doc, begin);
  const uint64_t need = uint64_t(doc->used) + length + 1;
  if (!ensure_capacity(doc, need)) return false;
  const uint32_t at = doc->used;
  memmove(doc->arena + at, source.get(doc), length);
  doc->arena[at + length] = 0;
  doc->used = static_cast<uint32_t>(need);
  json_cell *cell = json_resolve(ref);
  reset(cell, JSON_STRING);
  cell->w1 = at;
  cell->w2 = hash;
  cell->w3 = static_cast<uint32_t>(length);
  return true;
}

void json_set_number(json_ref ref, double value) {
  json_cell *cell = json_resolve(ref);
  if (!cell) return;
  if (!std::isfinite(value)) value = 0;
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  reset(cell, JSON_NUMBER);
  store_u64(cell, bits);
}

bool json_get_string(json_ref ref, const char **begin, const char **end) {
  const json_cell *cell = json_resolve(ref);
  if (!cell || cell->kind != JSON_STRING || !begin || !end) return false;
  if (uint64_t(cell->w1) + cell->w3 >= ref.doc->used) return false;
  *begin = reinterpret_cast<const char *>(ref.doc->arena) + cell->w1;
  *end = *begin + cell->w3;
  return true;
}

bool json_get_number(json_ref ref, double *value) {
  const json_cell *cell = json_resolve(ref);
  if (!cell || cell->kind != JSON_NUMBER || !value) return false;
  const uint64_t bits = load_u64(cell);
  memcpy(value, &bits, sizeof bits);
  return true;
}

uint64_t json_get_uint64(json_ref ref) {
  const json_cell *cell = json_resolve(ref);
  return cell && cell->kind == JSON_UINT64 ? load_u64(cell) : 0;
}

void json_set_bool(json_ref ref, bool value) {
  json_cell *cell = json_resolve(ref);
  if (!cell) return;
  reset(cell, JSON_BOOL);
  cell->sub = value ? 1 : 0;
}

bool json_get_bool(json_ref ref) {
  const json_cell *cell = json_resolve(ref);
  return cell && cell->kind == JSON_BOOL && cell->sub != 0;
}

// ---- Arrays ----

json_ref json_array_at(json_ref ref, uint32_t index) {
  json_cell *array = coerce(ref, JSON_ARRAY);
  if (!array) return kInvalid;
  if (index >= array->w2) {
    // No block above 2^27 cells fits a 2 GiB arena.
    if (index >= (1u << 27)) return kInvalid;
    uint32_t cells = util_round_up_pow2(index + 1);
    if (cells < kMinArrayCells) cells = kMinArrayCells;
    const uint32_t array_offset = offset_of(ref.doc, array);
    if (!json_array_grow(ref, cells)) return kInvalid;
    array = cell_at(ref.doc, array_offset);
  }
  if (array->w3 < index + 1) array->w3 = index + 1;
  return {ref.doc, array->w1 + 16 * index};
}

bool json_array_grow(json_ref ref, uint32_t cells) {
  json_cell *array = coerce(ref, JSON_ARRAY);
  if (!array) return false;
  // A smaller block would cut off elements in use.
  if (cells < array->w3 || cells > (1u << 27)) return false;
  json_doc *doc = ref.doc;
  const uint32_t array_offset = offset_of(doc, array);
  uint32_t block = 0;
  if (!take(doc, 16 * cells, 8, &block)) return false;
  array = cell_at(doc, array_offset);
  const uint32_t old_block = array->w1;
  const uint32_t count = array->w3;
  if (count > 0) memcpy(doc->arena + block, doc->arena + old_block, 16 * size_t(count));
  for (uint32_t i = 0; i < count; ++i) {
    json_cell *old = cell_at(doc, old_block + 16 * i);
    reset(old, JSON_FORWARD);
    old->w1 = block + 16 * i;
  }
  array->w1 = block;
  array->w2 = cells;
  return true;
}

// ---- Objects ----

bool json_obj_reserve(json_ref ref, uint8_t key_kind) {
  json_cell *object = coerce(ref, JSON_OBJECT);
  if (!object) return false;
  if (object->sub != key_kind) {
    object->sub = key_kind;
    object->w2 = 0;
    object->w3 = 0;
  }
  if (object->w3 < object->w2 / 4) return true;

  const uint32_t old_size = object->w2;
  const uint32_t size = old_size * 2 < kMinTableSlots ? kMinTableSlots : old_size * 2;
  if (size > (1u << 26)) return false;  // 32 bytes a slot within 2 GiB
  json_doc *doc = ref.doc;
  const uint32_t object_offset = offset_of(doc, object);
  uint32_t table = 0;
  if (!take(doc, 32 * size, 8, &table)) return false;
  object = cell_at(doc, object_offset);
  const uint32_t old_table = object->w1;
  object->w1 = table;
  object->w2 = size;

  json_cell old_object = *object;
  old_object.w1 = old_table;
  old_object.w2 = old_size;
  for (uint32_t j = 0; j < old_size; ++j) {
    json_cell *key = cell_at(doc, key_slot_offset(&old_object, j));
    if (key->kind != object->sub) continue;
    uint32_t k = 0;
    const bool found =
        key->kind == JSON_STRING
            ? find_str(doc, object, reinterpret_cast<const char *>(doc->arena) + key->w1, key->w3,
                       key->w2, &k)
            : find_u64(doc, object, load_u64(key), &k);
    if (!found) return false;
    json_cell *value = cell_at(doc, value_slot_offset(&old_object, j));
    *cell_at(doc, key_slot_offset(object, k)) = *key;
    *cell_at(doc, value_slot_offset(object, k)) = *value;
    reset(key, JSON_FORWARD);
    key->w1 = key_slot_offset(object, k);
    reset(value, JSON_FORWARD);
    value->w1 = value_slot_offset(object, k);
  }
  return true;
}

bool json_obj_find_str(json_ref ref, const char *begin, const char *end, uint32_t hash,
                       uint32_t *slot) {
  const json_cell *object = coerce(ref, JSON_OBJECT);
  if (!object || !begin || end < begin || !slot) return false;
  return find_str(ref.doc, object, begin, static_cast<uint32_t>(end - begin), hash, slot);
}

bool json_obj_find_u64(json_ref ref, uint64_t key, uint32_t *slot) {
  const json_cell *object = coerce(ref, JSON_OBJECT);
  if (!object || !slot) return false;
  return find_u64(ref.doc, object, key, slot);
}

json_ref json_obj_get(json_ref ref, const char *key) {
  if (!key) return kInvalid;
  const uint32_t length = static_cast<uint32_t>(strlen(key));
  const uint32_t hash = json_string_hash(key, key + length);
  const json_cell *object = coerce(ref, JSON_OBJECT);
  if (!object) return kInvalid;
  uint32_t slot = 0;
  if (!find_str(ref.doc, object, key, length, hash, &slot)) return kInvalid;
  if (cell_at(ref.doc, key_slot_offset(object, slot))->kind != JSON_STRING) return kInvalid;
  return {ref.doc, value_slot_offset(object, slot)};
}

bool json_obj_at(json_ref ref, const char *key, json_ref *out) {
  if (!key || !out || !json_ref_valid(ref)) return false;
  json_doc *doc = ref.doc;
  const uint32_t length = static_cast<uint32_t>(strlen(key));
  const uint32_t hash = json_string_hash(key, key + length);
  // The key may be text of this very document, which the reservation can move.
  const TextSource source(doc, key);
  if (!json_obj_reserve(ref, JSON_STRING)) return false;
  json_cell *object = json_resolve(ref);
  uint32_t slot = 0;
  if (!find_str(doc, object, source.get(doc), length, hash, &slot)) return false;
  const uint32_t key_offset = key_slot_offset(object, slot);
  if (cell_at(doc, key_offset)->kind != JSON_STRING) {
    const char *text = source.get(doc);
    if (!json_set_string({doc, key_offset}, text, text + length, hash)) return false;
    object = json_resolve(ref);
    object->w3 += 1;
  }
  *out = {doc, value_slot_offset(object, slot)};
  return true;
}

bool json_obj_at_key(json_ref ref, const json_cell *key, json_ref *out) {
  if (!key || !out || key->kind != JSON_STRING || !json_ref_valid(ref)) return false;
  const json_cell copy = *key;
  json_doc *doc = ref.doc;
  if (uint64_t(copy.w1) + copy.w3 >= doc->used) return false;
  if (!json_obj_reserve(ref, JSON_STRING)) return false;
  json_cell *object = json_resolve(ref);
  uint32_t slot = 0;
  const char *text = reinterpret_cast<const char *>(doc->arena) + copy.w1;
  if (!find_str(doc, object, text, copy.w3, copy.w2, &slot)) return false;
  json_cell *slot_key = cell_at(doc, key_slot_offset(object, slot));
  if (slot_key->kind != JSON_STRING) {
    *slot_key = copy;
    object->w3 += 1;
  }
  *out = {doc, value_slot_offset(object, slot)};
  return true;
}

bool json_obj_at_u64(json_ref ref, uint64_t key, json_ref *out) {
  if (!out) return false;
  if (!json_obj_reserve(ref, JSON_UINT64)) return false;
  json_doc *doc = ref.doc;
  json_cell *object = json_resolve(ref);
  uint32_t slot = 0;
  if (!find_u64(doc, object, key, &slot)) return false;
  json_cell *slot_key = cell_at(doc, key_slot_offset(object, slot));
  if (slot_key->kind != JSON_UINT64) {
    reset(slot_key, JSON_UINT64);
    store_u64(slot_key, key);
    object->w3 += 1;
  }
  *out = {doc, value_slot_offset(object, slot)};
  return true;
}

bool json_obj_entries(json_ref ref, uint32_t *offset) {
  json_cell *object = coerce(ref, JSON_OBJECT);
  if (!object || !offset) return false;
  json_doc *doc = ref.doc;
  const uint32_t count = object->w3;
  if (uint64_t(count) * sizeof(json_entry) > kMaxArena) return false;
  const uint32_t object_offset = offset_of(doc, object);
  uint32_t block = 0;
  if (!take(doc, count * uint32_t(sizeof(json_entry)), 8, &block)) return false;
  object = cell_at(doc, object_offset);

  auto *entries = reinterpret_cast<json_entry *>(doc->arena + block);
  uint32_t n = 0;
  for (uint32_t j = 0; j < object->w2 && n < count; ++j) {
    if (cell_at(doc, key_slot_offset(object, j))->kind != object->sub) continue;
    entries[n].key = {doc, key_slot_offset(object, j)};
    entries[n].value = {doc, value_slot_offset(object, j)};
    ++n;
  }
  if (!(doc->options & JSON_DOC_KEEP_ORDER)) {
    if (object->sub == JSON_STRING)
      qsort(entries, n, sizeof(json_entry), json_key_compare_str);
    else if (object->sub == JSON_UINT64)
      qsort(entries, n, sizeof(json_entry), json_key_compare_u64);
  }
  *offset = block;
  return true;
}

int json_key_compare_str(const void *a, const void *b) {
  if (!a || !b) util_logfatal(kSource, __LINE__, "parameter must not be null");
  const uint8_t *text_a, *text_b;
  uint32_t length_a, length_b;
  key_text(static_cast<const json_entry *>(a)->key, &text_a, &length_a);
  key_text(static_cast<const json_entry *>(b)->key, &text_b, &length_b);
  // The whole length counts, so keys that differ only after a NUL byte still differ. Keys are
  // short and mostly differ early: the first bytes are compared here, the rest by memcmp.
  const uint32_t common = length_a < length_b ? length_a : length_b;
  uint32_t i = 0;
  for (; i < common && i < 8; ++i)
    if (text_a[i] != text_b[i]) return text_a[i] < text_b[i] ? -1 : 1;
  const int order = memcmp(text_a + i, text_b + i, common - i);
  if (order != 0) return order;
  if (length_a != length_b) return length_a < length_b ? -1 : 1;
  util_logfatal(kSource, __LINE__, "shouldn't be duplicate keys in a JSON object");
}

int json_key_compare_u64(const void *a, const void *b) {
  if (!a || !b) util_logfatal(kSource, __LINE__, "parameter must not be null");
  const uint64_t key_a = json_get_uint64(static_cast<const json_entry *>(a)->key);
  const uint64_t key_b = json_get_uint64(static_cast<const json_entry *>(b)->key);
  if (key_a == key_b)
    util_logfatal(kSource, __LINE__, "shouldn't be duplicate keys in a JSON object");
  return key_a < key_b ? -1 : 1;
}
