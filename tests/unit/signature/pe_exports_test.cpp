// The export-table check the doctor judges wx_main by, over small DLL images built here.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
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
  for (size_t size = 0; size < whole.bytes.size(); ++size) {
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

// The work is bounded by the caps on sections and names, never by the image's bytes: a crafted
// DLL cannot make the doctor read a section header for every byte of every name.
TEST(PeExports, ManySectionsAndNamesAreReadInBoundedWork) {
  std::vector<std::string> names;
  for (int i = 0; i < 4000; ++i) names.push_back("export_" + std::to_string(10000 + i));
  names.push_back("wx_main");
  const auto many = dll(names, 96);
  uint64_t section_reads = 0;
  EXPECT_EQ(pe_entry_verdict(many.bytes.data(), many.bytes.size(), "wx_main", &section_reads),
            PE_ENTRY_EXPORTED);
  EXPECT_LE(section_reads, names.size() + 96);
  for (const std::string &name : names)
    EXPECT_EQ(verdict(many.bytes, name.c_str()), PE_ENTRY_EXPORTED);
  for (const char *name : {"", "a", "export_10000a", "export_1", "wx_mainx", "zz"})
    EXPECT_EQ(verdict(many.bytes, name), PE_ENTRY_MISSING) << name;
  // More sections than the loader maps, or more names than 16-bit ordinals tell apart.
  EXPECT_EQ(verdict(dll(names, 97).bytes), PE_ENTRY_UNKNOWN);
  EXPECT_EQ(verdict(dll(std::vector<std::string>(0x10001, "wx_main")).bytes), PE_ENTRY_UNKNOWN);
}

}  // namespace
