// JSON writer: compact or tab-indented text with object members sorted by key.
#include <charconv>
#include <cmath>
#include <cstring>

#include "src/json/json.h"
#include "src/json/json_scan.h"

namespace {

constexpr uint32_t kMaxIndent = 24;
// A line break at depth d writes the first min(d, 24) + 1 bytes.
constexpr char kIndent[] = "\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
static_assert(sizeof kIndent == kMaxIndent + 2, "a line feed, 24 tabs and the NUL");

// Writes in place while the buffer has room; text_append grows it otherwise.
inline void append(json_writer *writer, const char *text, uint32_t n) {
  text_buf *buf = &writer->text;
  if (buf->data && n <= text_capacity(buf) - buf->length) {
    memcpy(buf->data + buf->length, text, n);
    buf->length += n;
  } else {
    text_append(buf, text, n);
  }
}

void line_break(json_writer *writer, uint32_t depth) {
  if (!(writer->flags & JSON_WRITE_PRETTY)) return;
  append(writer, kIndent, (depth < kMaxIndent ? depth : kMaxIndent) + 1);
}

// False for infinite and NaN values (a parsed overflow), which JSON cannot express.
bool write_number(json_writer *writer, double value) {
  if (!std::isfinite(value)) return false;
  // Same text as "%.15g" (printf's %g rules at 15 significant digits), without the format parser.
  char text[32];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
  append(writer, text, static_cast<uint32_t>(result.ptr - text));
  return true;
}

void write_uint64(json_writer *writer, uint64_t value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  append(writer, text, static_cast<uint32_t>(result.ptr - text));
}

bool write_array(json_writer *writer, json_ref ref, const json_cell *array) {
  // Element i lies at block + 16 * i (as json_array_at gives it for i below the count); the
  // offsets stay put while nested writes may move the arena.
  const uint32_t block = array->w1;
  const uint32_t count = array->w3;
  append(writer, "[", 1);
  writer->depth += 1;
  for (uint32_t i = 0; i < count; ++i) {
    line_break(writer, writer->depth);
    if (!json_serialize(writer, {ref.doc, block + 16 * i})) return false;
    if (i + 1 < count) append(writer, ",", 1);
  }
  writer->depth -= 1;
  line_break(writer, writer->depth);
  append(writer, "]", 1);
  return true;
}

bool write_object(json_writer *writer, json_ref ref) {
  append(writer, "{", 1);
  writer->depth += 1;
  uint32_t block = 0;
  if (!json_obj_entries(ref, &block)) return false;
  json_doc *doc = ref.doc;
  const uint32_t noted = doc->used;
  const json_cell *object = json_resolve(ref);
  const uint32_t count = object ? object->w3 : 0;
  const bool pretty = writer->flags & JSON_WRITE_PRETTY;
  for (uint32_t i = 0; i < count; ++i) {
    // Read afresh: nested objects may have moved the arena.
    json_entry entry;
    memcpy(&entry, doc->arena + block + i * sizeof(json_entry), sizeof entry);
    line_break(writer, writer->depth);
    if (!json_serialize(writer, entry.key)) return false;
    append(writer, ": ", pretty ? 2 : 1);
    if (!json_serialize(writer, entry.value)) return false;
    if (i + 1 < count) append(writer, ",", 1);
  }
  if (doc->used != noted) return false;
  doc->used = block;  // release the member list; nested objects released theirs the same way
  writer->depth -= 1;
  line_break(writer, writer->depth);
  append(writer, "}", 1);
  return true;
}

}  // namespace

bool json_serialize(json_writer *writer, json_ref ref) {
  // Never deeper than the parser reads back, which also bounds the recursion however deep a
  // document was built.
  if (!writer || writer->depth >= JSON_MAX_DEPTH) return false;
  const json_cell *cell = json_resolve(ref);
  if (!cell) return false;
  switch (cell->kind) {
    case JSON_NULL:
      append(writer, "null", 4);
      return true;
    case JSON_BOOL:
      if (cell->sub)
        append(writer, "true", 4);
      else
        append(writer, "false", 5);
      return true;
    case JSON_STRING: {
      if (uint64_t(cell->w1) + cell->w3 >= ref.doc->used) return false;
      const char *text = reinterpret_cast<const char *>(ref.doc->arena) + cell->w1;
      return json_write_string(writer, text, text + cell->w3);
    }
    case JSON_UINT64:
      write_uint64(writer, uint64_t(cell->w3) << 32 | cell->w2);
      return true;
    case JSON_NUMBER: {
      const uint64_t bits = uint64_t(cell->w3) << 32 | cell->w2;
      double value;
      memcpy(&value, &bits, sizeof value);
      return write_number(writer, value);
    }
    case JSON_ARRAY:
      return write_array(writer, ref, cell);
    case JSON_OBJECT:
      return write_object(writer, ref);
    default:
      return true;  // a vacated key slot: nothing to write
  }
}

bool json_write_string(json_writer *writer, const char *begin, const char *end) {
  if (!writer) return false;
  // Runs are appended with 32-bit lengths, and the buffer holds less than that.
  if (end > begin && uint64_t(end - begin) > UINT32_MAX) return false;
  append(writer, "\"", 1);
  const char *p = begin;
  while (p < end) {
    const char *run = p;
    p = json_scan_run(p, end);
    if (p > run) append(writer, run, static_cast<uint32_t>(p - run));
    if (p == end) break;
    const uint8_t c = static_cast<uint8_t>(*p++);
    char escape[6] = {'\\', 0, 0, 0, 0, 0};
    switch (c) {
      case 8:
        escape[1] = 'b';
        break;
      case 9:
        escape[1] = 't';
        break;
      case 10:
        escape[1] = 'n';
        break;
      case 12:
        escape[1] = 'f';
        break;
      case 13:
        escape[1] = 'r';
        break;
      case '"':
        escape[1] = '"';
        break;
      case '\\':
        escape[1] = '\\';
        break;
      default: {
        constexpr char kHex[] = "0123456789abcdef";
        escape[1] = 'u';
        escape[2] = '0';
        escape[3] = '0';
        escape[4] = kHex[c >> 4];
        escape[5] = kHex[c & 15];
        append(writer, escape, 6);
        continue;
      }
    }
    append(writer, escape, 2);
  }
  append(writer, "\"", 1);
  return true;
}
