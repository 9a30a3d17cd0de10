// The JSON parser on arbitrary bytes: no crash or sanitizer report, a located message for every
// failure, and for every accepted text the round-trip property (see json_test_support.h).
// The first byte chooses the options (1 integer keys, 2 also check table order, 4 pretty); the
// rest is the text.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "src/json/json.h"
#include "tests/unit/json/json_test_support.h"

namespace {

[[noreturn]] void fail(const std::string &what) {
  fprintf(stderr, "%s\n", what.c_str());
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint32_t options = data[0] & 1 ? JSON_DOC_UINT64_KEYS : 0;
  const bool check_table_order = data[0] & 2;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

  json_test::Doc d(options);
  if (!d.parse(text)) {
    if (d.error().find(" at line ") == std::string::npos)
      fail("failure without a located message: '" + d.error() + "'");
    return 0;
  }
  const std::string failure = json_test::round_trip_failure(text, options);
  if (!failure.empty()) fail("round trip broken: " + failure);

  // Table order is not a fixed point (reinsertion can probe differently), but it must hold the
  // same members: read back, it sorts to the same text.
  if (check_table_order && !json_test::has_infinite(d.root)) {
    const std::string sorted = json_test::serialize(d.root);
    d.doc()->options |= JSON_DOC_KEEP_ORDER;
    const std::string kept = json_test::serialize(d.root, data[0] & 4);
    json_test::Doc back(options);
    if (!back.parse(kept)) fail("table-order output does not parse: " + back.error());
    if (!json_test::has_infinite(back.root) && json_test::serialize(back.root) != sorted)
      fail("table-order output holds other members:\n" + sorted + "\n" + kept);
  }
  return 0;
}
