#pragma once
// JSON documents: a whole document in one growing arena of 16-byte cells plus string bytes,
// reached through handles (document + byte offset), with a parser and a writer.
//
// Handles stay valid for the document's whole life: they hold offsets, not addresses, and
// cells that move (array growth, object table growth) leave forwarding cells behind. Nothing in
// the arena is freed on its own; replaced values stay as dead space until json_destroy.
//
// Typical use, reading a record:
//   json_ref root = json_create();
//   if (json_parse(root, bytes, bytes + size)) {
//     const char *hash, *hash_end;
//     double count;
//     if (json_get_string(json_obj_get(root, "hash"), &hash, &hash_end)) ...
//     if (json_get_number(json_obj_get(root, "count"), &count)) ...
//   }
//   json_destroy(root);
//
// Writing a record:
//   json_ref root = json_create(), member;
//   if (json_obj_at(root, "hash", &member))
//     json_set_string(member, text, text + n, json_string_hash(text, text + n));
//   if (json_obj_at(root, "count", &member)) json_set_number(member, 2);
//   json_writer writer = {};
//   writer.flags = JSON_WRITE_PRETTY;
//   bool ok = json_serialize(&writer, root);  // text in writer.text, not NUL-terminated
//   ...
//   free(writer.text.data);
//   json_destroy(root);
//
// Every operation checks the handle it is given and fails (false, null or the invalid handle)
// when it is not valid. Operations that treat a value as an object or an array turn a value of
// another kind into an empty one first; reading a scalar of the wrong kind changes nothing.
#include <cstdint>

#include "src/json/text_buffer.h"

enum json_kind : uint8_t {
  JSON_NULL = 0,
  JSON_BOOL = 1,     // value in sub (0 false, 1 true)
  JSON_STRING = 2,   // w1 text offset, w2 djb2 hash, w3 length without the NUL
  JSON_UINT64 = 3,   // w2 low half, w3 high half; used for unsigned integer object keys
  JSON_NUMBER = 4,   // IEEE double in w2 (low half) and w3
  JSON_ARRAY = 5,    // w1 element block, w2 capacity in cells, w3 count
  JSON_OBJECT = 6,   // w1 table, w2 slots (0 or a power of two >= 256), w3 members; sub key kind
  JSON_REMOVED = 7,  // a vacated key slot
  JSON_FORWARD = 8,  // w1 offset of the cell that replaced this one
};

// json_doc::options bits.
constexpr uint32_t JSON_DOC_UINT64_KEYS = 1;  // the parser accepts unquoted unsigned integer keys
constexpr uint32_t JSON_DOC_KEEP_ORDER = 4;   // the writer keeps table order instead of sorting

// json_writer::flags bits.
constexpr uint32_t JSON_WRITE_PRETTY = 2;  // line breaks and tab indentation
// Nesting the parser reads and the writer writes: what one writes, the other reads back.
constexpr uint32_t JSON_MAX_DEPTH = 500;

struct json_doc {
  uint8_t *arena;     // reallocated as it grows; released by json_destroy
  uint32_t capacity;  // bytes allocated; a power of two once allocated
  uint32_t used;      // bytes in use; new space is always taken here
  text_buf error;     // "<message> at line <n> column <n>" of the last failed parse
  uint32_t options;   // JSON_DOC_* bits, 0 at creation; set the field directly
};

// A value: its document and the byte offset of its cell. Passed by value, owns nothing.
// The invalid handle is {nullptr, 0}.
struct json_ref {
  json_doc *doc;
  uint32_t offset;
};

struct json_cell {
  uint8_t kind;  // json_kind
  uint8_t sub;
  uint16_t unused;
  uint32_t w1;
  uint32_t w2;
  uint32_t w3;
};
static_assert(sizeof(json_cell) == 16, "cells are addressed as offset + 16 * index");

// One member as listed by json_obj_entries.
struct json_entry {
  json_ref key;
  json_ref value;
};
static_assert(sizeof(json_entry) == 32, "members are listed as 32-byte pairs");

// djb2 over the bytes taken as signed 8-bit values: h = h * 33 + byte from 5381, 32 bits.
uint32_t json_string_hash(const char *begin, const char *end);

// ---- Document and arena ----

// A new document with a 16384-byte arena; returns its root, a null value at offset 0. The
// invalid handle when the document itself cannot be allocated.
json_ref json_create();
// Releases the document, its arena and its error text. Every handle into it becomes dangling.
void json_destroy(json_ref ref);
// True when ref names a document and either offset is 0 or offset < used.
bool json_ref_valid(json_ref ref);
// The value's cell, following and compressing forwarding chains (at most 16 steps), or null.
// The address is valid only until the next operation that may grow the arena.
json_cell *json_resolve(json_ref ref);
// Reserves size zero-filled bytes at used rounded up to align (a power of two).
bool json_arena_alloc(json_ref ref, uint32_t size, uint32_t align, uint32_t *offset);
// Copies n bytes to the arena at used, unaligned.
bool json_arena_append(json_ref ref, const void *bytes, uint32_t n);

// ---- Values ----

// Copies the text and a NUL into the arena and makes the value a string with the given hash
// (json_string_hash of the same text). False when the handle does not resolve or memory runs
// out; the value is then unchanged.
bool json_set_string(json_ref ref, const char *begin, const char *end, uint32_t hash);
// Makes the value a number; NaN and infinite values are stored as 0.
void json_set_number(json_ref ref, double value);
// Makes the value a boolean.
void json_set_bool(json_ref ref, bool value);
// The text of a string value (NUL-terminated at *end; may hold NUL bytes of its own).
bool json_get_string(json_ref ref, const char **begin, const char **end);
// The value of a number.
bool json_get_number(json_ref ref, double *value);
// The value of a JSON_UINT64 cell, else 0.
uint64_t json_get_uint64(json_ref ref);
// True only for a true boolean.
bool json_get_bool(json_ref ref);

// ---- Arrays ----

// Element index, created (null) when needed; capacity grows to at least 64, then doubles.
json_ref json_array_at(json_ref ref, uint32_t index);
// Moves the elements to a new block of cells elements (not fewer than the count).
bool json_array_grow(json_ref ref, uint32_t cells);

// ---- Objects ----

// The value of member key, or the invalid handle. Adds nothing.
json_ref json_obj_get(json_ref ref, const char *key);
// Get-or-add member key; *out is the member's value (null for a new member).
bool json_obj_at(json_ref ref, const char *key, json_ref *out);
// The same with a key that is a JSON_STRING cell whose text is already in the arena.
bool json_obj_at_key(json_ref ref, const json_cell *key, json_ref *out);
// The same with an unsigned 64-bit key.
bool json_obj_at_u64(json_ref ref, uint64_t key, json_ref *out);
// Makes the value an object with tables of key_kind (JSON_STRING or JSON_UINT64) and room for
// one more member. A table of the other key kind is dropped.
bool json_obj_reserve(json_ref ref, uint8_t key_kind);
// Slot search: the member's slot, or the free slot where the key would go.
bool json_obj_find_str(json_ref ref, const char *begin, const char *end, uint32_t hash,
                       uint32_t *slot);
bool json_obj_find_u64(json_ref ref, uint64_t key, uint32_t *slot);
// Lists the members as json_entry pairs in a scratch block at the end of the arena, sorted by
// key unless the document has JSON_DOC_KEEP_ORDER. The caller releases the block by setting
// used back to *offset.
bool json_obj_entries(json_ref ref, uint32_t *offset);
// qsort comparators over json_entry pairs. Keys compare by their whole length, NUL bytes
// included. Equal keys are a broken invariant and end the process.
int json_key_compare_str(const void *a, const void *b);
int json_key_compare_u64(const void *a, const void *b);

// ---- Parser ----

// Parses one JSON text into target. On failure the document's error text holds
// "<message> at line <n> column <n>" and target may be partly filled. The text needs no NUL and
// may lie in the target's own document (it is then parsed from a copy).
bool json_parse(json_ref target, const char *begin, const char *end);

// The parser's state for one json_parse call.
struct json_lexer {
  json_ref ref;
  const char *begin;
  const char *end;  // exclusive; trailing whitespace is trimmed before parsing
  const char *cursor;
  const char *line_start;
  int32_t line;         // line feeds passed, saturating at INT32_MAX
  const char *message;  // null until a failure
  uint32_t key_hash;    // djb2 of the string being read
  uint32_t depth;       // nesting level of the value being read; the top level is 1
};

bool json_parse_value(json_lexer *lexer, json_ref target);
// json_parse_value with the 500-level nesting guard.
bool json_parse_nested(json_lexer *lexer, json_ref target);
// Reads a quoted string, appending its bytes and a NUL to the arena and hashing them.
bool json_parse_string(json_lexer *lexer);
bool json_parse_number(json_lexer *lexer, json_cell *cell);

// ---- Writer ----

struct json_writer {
  text_buf text;   // receives the output; the caller owns and frees text.data
  uint32_t flags;  // JSON_WRITE_PRETTY
  uint32_t depth;  // 0 at the start
};

// Appends the value's JSON text. False for a null writer, a handle that does not resolve, an
// object whose members cannot be listed, a number that is not finite, or nesting deeper than the
// parser's 500 levels; what was written stays in the buffer. Numbers are written with "%.15g".
bool json_serialize(json_writer *writer, json_ref ref);
// Appends the bytes as a quoted, escaped JSON string. False for a null writer or 4 GiB of text.
bool json_write_string(json_writer *writer, const char *begin, const char *end);
