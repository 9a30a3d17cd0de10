// The JSON parser on arbitrary bytes: no crash or sanitizer report, a located message for every
// failure, and for every accepted text the round-trip property (see json_test_support.h).
// The first byte chooses the document options; the rest is the text.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "src/util/json.h"
#include "tests/unit/json/json_test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint32_t options =
      (data[0] & 1 ? JSON_DOC_UINT64_KEYS : 0) | (data[0] & 2 ? JSON_DOC_KEEP_ORDER : 0);
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

  {
    json_test::Doc d(options);
    if (!d.parse(text) && d.error().find(" at line ") == std::string::npos) {
      fprintf(stderr, "failure without a located message: '%s'\n", d.error().c_str());
      abort();
    }
  }
  const std::string failure = json_test::round_trip_failure(text, options);
  if (!failure.empty()) {
    fprintf(stderr, "round trip broken: %s\n", failure.c_str());
    abort();
  }
  return 0;
}
