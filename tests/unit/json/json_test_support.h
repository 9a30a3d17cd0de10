#pragma once
// Helpers shared by the JSON unit tests and the parser fuzz target.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "src/json/json.h"

namespace json_test {

// Owns one document for the length of a test.
struct Doc {
  json_ref root;
  explicit Doc(uint32_t options = 0) : root(json_create()) {
    if (root.doc) root.doc->options = options;
  }
  ~Doc() { json_destroy(root); }
  Doc(const Doc &) = delete;
  Doc &operator=(const Doc &) = delete;

  json_doc *doc() const { return root.doc; }
  bool parse(const std::string &text) {
    return json_parse(root, text.data(), text.data() + text.size());
  }
  std::string error() const { return std::string(root.doc->error.data, root.doc->error.length); }
};

// The value's text, or "<failed>" followed by what was written when the writer fails.
inline std::string serialize(json_ref ref, bool pretty = false) {
  json_writer writer = {};
  writer.flags = pretty ? JSON_WRITE_PRETTY : 0;
  const bool ok = json_serialize(&writer, ref);
  std::string text(writer.text.data ? writer.text.data : "", writer.text.length);
  free(writer.text.data);
  return ok ? text : "<failed>" + text;
}

inline json_cell *cell(json_ref ref) { return json_resolve(ref); }

// True when any number in the value is infinite (a parsed overflow such as 1e999).
inline bool has_infinite(json_ref ref) {
  const json_cell *c = json_resolve(ref);
  if (!c) return false;
  if (c->kind == JSON_NUMBER) {
    double value = 0;
    json_get_number(ref, &value);
    return std::isinf(value);
  }
  if (c->kind == JSON_ARRAY) {
    const uint32_t count = c->w3;
    for (uint32_t i = 0; i < count; ++i)
      if (has_infinite(json_array_at(ref, i))) return true;
    return false;
  }
  if (c->kind == JSON_OBJECT) {
    const uint32_t count = c->w3;
    uint32_t block = 0;
    if (!json_obj_entries(ref, &block)) return false;
    bool found = false;
    for (uint32_t i = 0; i < count && !found; ++i) {
      json_entry entry;
      memcpy(&entry, ref.doc->arena + block + i * sizeof(json_entry), sizeof entry);
      found = has_infinite(entry.value);
    }
    ref.doc->used = block;
    return found;
  }
  return false;
}

// The round-trip property: text that parses serializes to text that parses again and serializes
// to the same bytes, compact and pretty. Returns "" when it holds (or does not apply: the text
// does not parse, or holds a number that overflows to infinity on the first or second parse,
// which the writer refuses); otherwise a description.
inline std::string round_trip_failure(const std::string &text, uint32_t options) {
  Doc first(options);
  if (!first.parse(text) || has_infinite(first.root)) return "";
  for (bool pretty : {false, true}) {
    const std::string once = serialize(first.root, pretty);
    if (once.rfind("<failed>", 0) == 0) return "first write failed: " + once;
    Doc second(options);
    if (!second.parse(once)) return "output does not parse: " + second.error() + "\n" + once;
    // A number within rounding of the largest double prints at 15 digits above it.
    if (has_infinite(second.root)) continue;
    const std::string twice = serialize(second.root, pretty);
    if (twice != once) return "second write differs:\n" + once + "\n" + twice;
  }
  return "";
}

}  // namespace json_test
