// The export-table check the doctor judges wx_main by, over small DLL images built here.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "src/trust/pe_exports.h"
#include "tests/unit/pe_image.h"

namespace {

using pe_image::dll;
using pe_image::kFileHeader;
using pe_image::put;

PeEntryVerdict verdict(const std::vector<uint8_t> &bytes, const char *name = "wx_main") {
  return pe_entry_verdict(bytes.data(), bytes.size(), name);
}

TEST(PeExports, FindsTheNameAndOnlyIt) {
  EXPECT_EQ(verdict(dll().bytes), PE_ENTRY_EXPORTED);
  EXPECT_EQ(verdict(dll().bytes, "wx_mai"), PE_ENTRY_MISSING);
  EXPECT_EQ(verdict(dll().bytes, "wx_main2"), PE_ENTRY_MISSING);
  auto exe = dll().bytes;
  put(&exe, kFileHeader + 18, 0x0022, 2);
  EXPECT_EQ(verdict(exe), PE_ENTRY_NO_LIBRARY);
  auto x86 = dll().bytes;
  put(&x86, kFileHeader, 0x14C, 2);
  EXPECT_EQ(verdict(x86), PE_ENTRY_NO_LIBRARY);
}

// A forwarder names another library's export: whether that one exists is not in this file.
TEST(PeExports, AForwardedExportIsUnknown) {
  auto forwarder = dll();
  put(&forwarder.bytes, forwarder.functions, pe_image::kExportRva + 8);
  EXPECT_EQ(verdict(forwarder.bytes), PE_ENTRY_UNKNOWN);
}

// Every field is checked against the bytes: a cut file (ASan watches the reads) or a table that
// points outside never reads as exported.
TEST(PeExports, TablesOutsideTheBytesAreNeverExported) {
  const auto whole = dll();
  for (size_t size = 0; size < whole.end; ++size) {
    const std::vector<uint8_t> cut(whole.bytes.begin(), whole.bytes.begin() + long(size));
    EXPECT_NE(verdict(cut), PE_ENTRY_EXPORTED) << size;
  }
  for (size_t field :
       {whole.directory + 28, whole.directory + 32, whole.directory + 36, whole.names}) {
    auto hostile = whole;
    put(&hostile.bytes, field, 0xFFFFFFF0);
    EXPECT_EQ(verdict(hostile.bytes), PE_ENTRY_UNKNOWN) << std::hex << field;
  }
  auto sections = whole.bytes;
  put(&sections, kFileHeader + 2, 0xFFFF, 2);
  EXPECT_EQ(verdict(sections), PE_ENTRY_UNKNOWN);
  auto ordinal = whole;
  put(&ordinal.bytes, ordinal.ordinals, 1, 2);  // past the function count
  EXPECT_EQ(verdict(ordinal.bytes), PE_ENTRY_UNKNOWN);
}

}  // namespace
