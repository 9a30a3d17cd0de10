// The export table of a PE image file, read without mapping it: sections translate the table's
// addresses into file offsets, and each one is checked against the file's bytes. The work is
// bounded by the caps below, whatever the image: the names are binary-searched, as the loader
// searches them, and each name is located once and compared within its section's raw bytes.
#include "src/trust/pe_exports.h"

namespace {

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint64_t kDirectoryCountField = 108;  // in the PE32+ optional header
constexpr uint64_t kSectionSize = 40;
constexpr uint64_t kExportDirectorySize = 40;
// The most sections the loader maps: an image with more is not one it would load.
constexpr uint64_t kMaxSections = 96;
// The name ordinals are 16-bit: more names than that could only repeat functions.
constexpr uint64_t kMaxNames = 0x10000;

uint64_t read16(const uint8_t *p) { return uint64_t(p[0]) | uint64_t(p[1]) << 8; }
uint64_t read32(const uint8_t *p) { return read16(p) | read16(p + 2) << 16; }

struct Image {
  const uint8_t *bytes;
  uint64_t size;
  uint64_t sections;  // offset of the section table
  uint64_t section_count;
  uint64_t *reads;

  // The file offset of `rva` in the first section whose raw data holds it, and how many bytes
  // from there on are both in that raw data and in the file; false when no section holds it.
  bool locate(uint64_t rva, uint64_t *offset, uint64_t *available) const {
    for (uint64_t i = 0; i < section_count; ++i) {
      ++*reads;
      const uint8_t *section = bytes + sections + i * kSectionSize;
      const uint64_t address = read32(section + 12);
      const uint64_t raw_size = read32(section + 16);
      if (rva < address || rva - address >= raw_size) continue;
      *offset = read32(section + 20) + (rva - address);
      if (*offset >= size) return false;
      *available = raw_size - (rva - address);
      if (*available > size - *offset) *available = size - *offset;
      return true;
    }
    return false;
  }
  // The file offset of `length` bytes at `rva`, all within one section's raw data.
  bool offset_of(uint64_t rva, uint64_t length, uint64_t *offset) const {
    uint64_t available = 0;
    return locate(rva, offset, &available) && available >= length;
  }
  // How the NUL-terminated name at `rva` orders against `name`, byte by byte as the loader
  // compares: below, equal or above 0. False when the name runs out of its section.
  bool compare_name(uint64_t rva, const char *name, int *order) const {
    uint64_t offset = 0;
    uint64_t available = 0;
    if (!locate(rva, &offset, &available)) return false;
    for (uint64_t i = 0; i < available; ++i) {
      const uint8_t own = bytes[offset + i];
      const uint8_t wanted = uint8_t(name[i]);
      if (own != wanted || own == 0) {
        *order = int(own) - int(wanted);
        return true;
      }
    }
    return false;
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
  uint64_t reads = 0;
  return pe_entry_verdict(bytes, size, name, &reads);
}

PeEntryVerdict pe_entry_verdict(const uint8_t *bytes, uint64_t size, const char *name,
                                uint64_t *section_reads) {
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

  Image image = {bytes, size, optional + optional_size, read16(bytes + pe + 6), section_reads};
  if (image.section_count > kMaxSections || image.sections > size ||
      (size - image.sections) / kSectionSize < image.section_count)
    return PE_ENTRY_UNKNOWN;
  uint64_t directory = 0;
  if (!image.offset_of(export_rva, kExportDirectorySize, &directory)) return PE_ENTRY_UNKNOWN;
  const uint8_t *table = bytes + directory;
  const uint64_t function_count = read32(table + 20);
  const uint64_t name_count = read32(table + 24);
  const uint64_t functions = read32(table + 28);
  if (name_count == 0) return PE_ENTRY_MISSING;
  if (name_count > kMaxNames) return PE_ENTRY_UNKNOWN;
  // The name pointers and their ordinals, each table whole within one section.
  uint64_t names = 0;
  uint64_t ordinals = 0;
  if (!image.offset_of(read32(table + 32), 4 * name_count, &names) ||
      !image.offset_of(read32(table + 36), 2 * name_count, &ordinals))
    return PE_ENTRY_UNKNOWN;

  // The names are sorted: a table out of order hides names from the loader's search as from
  // this one.
  uint64_t low = 0;
  uint64_t high = name_count;
  while (low < high) {
    const uint64_t middle = low + (high - low) / 2;
    int order = 0;
    if (!image.compare_name(read32(bytes + names + 4 * middle), name, &order))
      return PE_ENTRY_UNKNOWN;
    if (order < 0) {
      low = middle + 1;
      continue;
    }
    if (order > 0) {
      high = middle;
      continue;
    }
    const uint64_t index = read16(bytes + ordinals + 2 * middle);
    uint64_t address = 0;
    if (index >= function_count || !image.word_at(functions + 4 * index, 4, &address))
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
