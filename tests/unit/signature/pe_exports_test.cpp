// The export-table check the doctor judges wx_main by, over a small DLL image built here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "src/trust/pe_exports.h"

namespace {

void put(std::vector<uint8_t> *bytes, size_t at, uint32_t value, int width = 4) {
  for (int i = 0; i < width; ++i) (*bytes)[at + i] = uint8_t(value >> (8 * i));
}

constexpr size_t kNameEnd = 0x278;  // the last byte the lookup needs, plus one

// An x64 DLL with one section (RVA 0x1000, raw at 0x200) holding an export directory of 0x100
// bytes that exports one function, `wx_main`, at `function`.
std::vector<uint8_t> dll(uint32_t function = 0x1180) {
  std::vector<uint8_t> bytes(0x400, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  put(&bytes, 0x3C, 0x40);
  put(&bytes, 0x40, 0x00004550);
  put(&bytes, 0x44, 0x8664, 2);
  put(&bytes, 0x46, 1, 2);       // one section
  put(&bytes, 0x54, 0xF0, 2);    // optional header: 112 bytes and 16 directories
  put(&bytes, 0x56, 0x2022, 2);  // a DLL
  put(&bytes, 0x58, 0x20B, 2);
  put(&bytes, 0x58 + 108, 16);
  put(&bytes, 0x58 + 112, 0x1000);  // exports
  put(&bytes, 0x58 + 116, 0x100);
  const size_t section = 0x58 + 0xF0;
  put(&bytes, section + 8, 0x200);
  put(&bytes, section + 12, 0x1000);
  put(&bytes, section + 16, 0x200);
  put(&bytes, section + 20, 0x200);
  put(&bytes, 0x200 + 20, 1);       // functions
  put(&bytes, 0x200 + 24, 1);       // names
  put(&bytes, 0x200 + 28, 0x1040);  // their tables
  put(&bytes, 0x200 + 32, 0x1050);
  put(&bytes, 0x200 + 36, 0x1060);
  put(&bytes, 0x240, function);
  put(&bytes, 0x250, 0x1070);
  put(&bytes, 0x260, 0, 2);
  memcpy(&bytes[0x270], "wx_main", 8);
  return bytes;
}

PeEntryVerdict verdict(const std::vector<uint8_t> &bytes, const char *name = "wx_main",
                       size_t size = 0) {
  return pe_entry_verdict(bytes.data(), size ? size : bytes.size(), name);
}

TEST(PeExports, FindsTheNameAndOnlyIt) {
  EXPECT_EQ(verdict(dll()), PE_ENTRY_EXPORTED);
  EXPECT_EQ(verdict(dll(), "wx_mai"), PE_ENTRY_MISSING);
  EXPECT_EQ(verdict(dll(), "wx_main2"), PE_ENTRY_MISSING);
  auto exe = dll();
  put(&exe, 0x56, 0x0022, 2);
  EXPECT_EQ(verdict(exe), PE_ENTRY_NO_LIBRARY);
  auto x86 = dll();
  put(&x86, 0x44, 0x14C, 2);
  EXPECT_EQ(verdict(x86), PE_ENTRY_NO_LIBRARY);
}

// A forwarder names another library's export: whether that one exists is not in this file.
TEST(PeExports, AForwardedExportIsUnknown) { EXPECT_EQ(verdict(dll(0x1080)), PE_ENTRY_UNKNOWN); }

// Every field is checked against the bytes: a cut file (ASan watches the reads) or a table that
// points outside never reads as exported.
TEST(PeExports, TablesOutsideTheBytesAreNeverExported) {
  const auto bytes = dll();
  for (size_t size = 0; size < kNameEnd; ++size) {
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + long(size));
    EXPECT_NE(verdict(cut), PE_ENTRY_EXPORTED) << size;
  }
  for (size_t field : {0x200 + 28, 0x200 + 32, 0x200 + 36, 0x250}) {
    auto hostile = dll();
    put(&hostile, field, 0xFFFFFFF0);
    EXPECT_EQ(verdict(hostile), PE_ENTRY_UNKNOWN) << std::hex << field;
  }
  auto sections = dll();
  put(&sections, 0x46, 0xFFFF, 2);
  EXPECT_EQ(verdict(sections), PE_ENTRY_UNKNOWN);
  auto ordinal = dll();
  put(&ordinal, 0x260, 1, 2);  // past the function count
  EXPECT_EQ(verdict(ordinal), PE_ENTRY_UNKNOWN);
}

}  // namespace
