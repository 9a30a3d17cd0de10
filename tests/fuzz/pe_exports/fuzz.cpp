// The doctor's export-table reader over arbitrary bytes: it never reads outside them (libFuzzer's
// buffer is exactly their size, under ASan), gives one of its four verdicts, and its work stays
// within what its caps allow. The seeds are DLLs from tests/unit/pe_image.h: one export, three
// names over two sections, a forwarder, and PE32 headers.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "src/trust/pe_exports.h"

// The export directory and the two name tables, one name per step of a binary search over at
// most 65,536 names, and the function: each located by reading at most 96 section headers.
constexpr uint64_t kMostSectionReads = 96 * (3 + 17 + 1);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  for (const char *name : {"wx_main", "", "zz_last"}) {
    uint64_t section_reads = 0;
    if (pe_entry_verdict(data, size, name, &section_reads) > PE_ENTRY_UNKNOWN ||
        section_reads > kMostSectionReads)
      abort();
  }
  return 0;
}
