// The export table of a PE image file, read without mapping it: sections translate the table's
// addresses into file offsets, and each one is checked against the file's bytes.
#include "src/trust/pe_exports.h"

namespace {

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint64_t kDirectoryCountField = 108;  // in the PE32+ optional header
constexpr uint64_t kSectionSize = 40;
constexpr uint64_t kExportDirectorySize = 40;

uint64_t read16(const uint8_t *p) { return uint64_t(p[0]) | uint64_t(p[1]) << 8; }
uint64_t read32(const uint8_t *p) { return read16(p) | read16(p + 2) << 16; }

struct Image {
  const uint8_t *bytes;
  uint64_t size;
  uint64_t sections;  // offset of the section table
  uint64_t section_count;

  // The file offset of `length` bytes at `rva`, all within one section's raw data; false when
  // they are not.
  bool offset_of(uint64_t rva, uint64_t length, uint64_t *offset) const {
    for (uint64_t i = 0; i < section_count; ++i) {
      const uint8_t *section = bytes + sections + i * kSectionSize;
      const uint64_t address = read32(section + 12);
      const uint64_t raw_size = read32(section + 16);
      const uint64_t raw = read32(section + 20);
      if (rva < address || rva - address > raw_size || raw_size - (rva - address) < length)
        continue;
      *offset = raw + (rva - address);
      return *offset <= size && size - *offset >= length;
    }
    return false;
  }
  // Whether the NUL-terminated name at `rva` equals `name`.
  bool name_at(uint64_t rva, const char *name, bool *equal) const {
    for (uint64_t i = 0;; ++i) {
      uint64_t offset = 0;
      if (!offset_of(rva + i, 1, &offset)) return false;
      if (bytes[offset] != uint8_t(name[i])) {
        *equal = false;
        return true;
      }
      if (!name[i]) {
        *equal = true;
        return true;
      }
    }
  }
  bool word_at(uint64_t rva, uint64_t width, uint64_t *value) const {
    uint64_t offset = 0;
    if (!offset_of(rva, width, &offset)) return false;
    *value = width == 2 ? read16(bytes + offset) : read32(bytes + offset);
    return true;
  }
};

}  // namespace

PeEntryVerdict pe_entry_verdict(const uint8_t *bytes, uint64_t size, const char *name) {
  if (!bytes || size < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return PE_ENTRY_NO_LIBRARY;
  const uint64_t pe = read32(bytes + 0x3C);
  if (pe > size || size - pe < 24 + kDirectoryCountField + 4 + 8) return PE_ENTRY_UNKNOWN;
  if (read32(bytes + pe) != 0x00004550) return PE_ENTRY_NO_LIBRARY;
  const uint64_t optional = pe + 24;
  const uint64_t optional_size = read16(bytes + pe + 20);
  if (read16(bytes + pe + 4) != kMachineAmd64 || !(read16(bytes + pe + 22) & kFileDll) ||
      read16(bytes + optional) != kMagicPe32Plus)
    return PE_ENTRY_NO_LIBRARY;
  // Directory 0, the exports, right after the directory count.
  if (optional_size < kDirectoryCountField + 4 + 8) return PE_ENTRY_UNKNOWN;
  if (read32(bytes + optional + kDirectoryCountField) == 0) return PE_ENTRY_MISSING;
  const uint64_t export_rva = read32(bytes + optional + kDirectoryCountField + 4);
  const uint64_t export_size = read32(bytes + optional + kDirectoryCountField + 8);
  if (export_rva == 0 || export_size == 0) return PE_ENTRY_MISSING;

  Image image = {bytes, size, optional + optional_size, read16(bytes + pe + 6)};
  if (image.sections > size || (size - image.sections) / kSectionSize < image.section_count)
    return PE_ENTRY_UNKNOWN;
  uint64_t directory = 0;
  if (!image.offset_of(export_rva, kExportDirectorySize, &directory)) return PE_ENTRY_UNKNOWN;
  const uint8_t *table = bytes + directory;
  const uint64_t function_count = read32(table + 20);
  const uint64_t name_count = read32(table + 24);
  const uint64_t functions = read32(table + 28);
  const uint64_t names = read32(table + 32);
  const uint64_t ordinals = read32(table + 36);
  for (uint64_t i = 0; i < name_count; ++i) {
    uint64_t name_rva = 0;
    bool equal = false;
    if (!image.word_at(names + 4 * i, 4, &name_rva) || !image.name_at(name_rva, name, &equal))
      return PE_ENTRY_UNKNOWN;
    if (!equal) continue;
    uint64_t index = 0;
    uint64_t address = 0;
    if (!image.word_at(ordinals + 2 * i, 2, &index) || index >= function_count ||
        !image.word_at(functions + 4 * index, 4, &address))
      return PE_ENTRY_UNKNOWN;
    if (address == 0) return PE_ENTRY_MISSING;
    // An address inside the export directory names another library's export: a forwarder.
    if (address >= export_rva && address - export_rva < export_size) return PE_ENTRY_UNKNOWN;
    return PE_ENTRY_EXPORTED;
  }
  return PE_ENTRY_MISSING;
}

const char *pe_entry_verdict_name(PeEntryVerdict verdict) {
  switch (verdict) {
    case PE_ENTRY_EXPORTED:
      return "exported";
    case PE_ENTRY_MISSING:
      return "missing";
    case PE_ENTRY_NO_LIBRARY:
      return "not an x64 DLL";
    default:
      return "unknown";
  }
}
