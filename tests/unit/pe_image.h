// Small PE images for the tests, laid out as GNU ld lays them out, and a reader for the import
// table of the images the build makes. No Windows header: the native runs share it.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace pe_image {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes *bytes, size_t at, uint32_t value, int width = 4) {
  for (int i = 0; i < width; ++i) (*bytes)[at + i] = uint8_t(value >> (8 * i));
}
// 0 for a field that does not lie wholly within the bytes.
inline uint32_t get(const Bytes &bytes, size_t at, int width = 4) {
  if (at > bytes.size() || bytes.size() - at < size_t(width)) return 0;
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
  return value;
}

// The images built here: "PE\0\0" where the DOS header points, the file header, the optional
// header, its 16 data directories, then the section headers.
constexpr size_t kPe = 0x80;
constexpr size_t kFileHeader = kPe + 4;
constexpr size_t kOptional = kPe + 24;
constexpr size_t kSectionHeader = 40;
constexpr uint16_t kPe32Plus = 0x20B;
constexpr size_t directories(uint16_t magic = kPe32Plus) {
  return kOptional + (magic == kPe32Plus ? 112 : 96);
}

// The headers of an x64 DLL whose optional header has the form `magic` (0x20B PE32+, 0x10B
// PE32), with every directory and the `sections` section headers zero.
inline Bytes headers(uint16_t magic = kPe32Plus, uint16_t sections = 1) {
  const size_t table = directories(magic) + 16 * 8;
  Bytes bytes(table + sections * kSectionHeader, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  put(&bytes, 0x3C, kPe);
  put(&bytes, kPe, 0x00004550);
  put(&bytes, kFileHeader, 0x8664, 2);
  put(&bytes, kFileHeader + 2, sections, 2);
  put(&bytes, kFileHeader + 16, uint32_t(table - kOptional), 2);
  put(&bytes, kFileHeader + 18, 0x2022, 2);  // an executable DLL, large addresses
  put(&bytes, kOptional, magic, 2);
  put(&bytes, directories(magic) - 4, 16);
  return bytes;
}

// A DLL that exports `names` and the file offsets of its export tables, for tests that damage
// them.
struct Dll {
  Bytes bytes;
  size_t directory, functions, names, ordinals;
  size_t end;  // past the last name, the last byte a lookup reads
};

constexpr uint32_t kExportRva = 0x1000;

// A PE32+ DLL with `sections` sections, the last of which, at kExportRva, holds the export
// table (names in the order given: the loader expects them sorted) and after it the code that
// the i-th name's function i points into. The others hold nothing.
inline Dll dll(const std::vector<std::string> &names = {"wx_main"}, uint16_t sections = 1) {
  Dll dll = {headers(kPe32Plus, sections), 0, 0, 0, 0, 0};
  const uint32_t count = uint32_t(names.size());
  const size_t raw = (dll.bytes.size() + 0x1FF) & ~size_t(0x1FF);
  size_t text = raw + 40 + 10 * count;
  for (const std::string &name : names) text += name.size() + 1;
  const uint32_t export_size = uint32_t(text - raw);
  const uint32_t code = kExportRva + ((export_size + 15) & ~15u);
  const uint32_t raw_size = (code - kExportRva + 16 * count + 0x1FF) & ~0x1FFu;
  dll.bytes.resize(raw + raw_size, 0);

  const size_t table = directories() + 16 * 8;
  for (uint16_t i = 0; i + 1 < sections; ++i)
    put(&dll.bytes, table + i * kSectionHeader + 12, 0x100000 + i * 0x1000u);
  const size_t section = table + (sections - 1u) * kSectionHeader;
  put(&dll.bytes, section + 8, raw_size);
  put(&dll.bytes, section + 12, kExportRva);
  put(&dll.bytes, section + 16, raw_size);
  put(&dll.bytes, section + 20, uint32_t(raw));
  put(&dll.bytes, directories(), kExportRva);
  put(&dll.bytes, directories() + 4, export_size);

  const auto rva = [&](size_t offset) { return uint32_t(offset - raw + kExportRva); };
  dll.directory = raw;
  dll.functions = raw + 40;
  dll.names = dll.functions + 4 * count;
  dll.ordinals = dll.names + 4 * count;
  put(&dll.bytes, raw + 20, count);
  put(&dll.bytes, raw + 24, count);
  put(&dll.bytes, raw + 28, rva(dll.functions));
  put(&dll.bytes, raw + 32, rva(dll.names));
  put(&dll.bytes, raw + 36, rva(dll.ordinals));
  size_t string = dll.ordinals + 2 * count;
  for (uint32_t i = 0; i < count; ++i) {
    put(&dll.bytes, dll.functions + 4 * i, code + 16 * i);
    put(&dll.bytes, dll.names + 4 * i, rva(string));
    put(&dll.bytes, dll.ordinals + 2 * i, i, 2);
    for (char c : names[i]) dll.bytes[string++] = uint8_t(c);
    dll.bytes[string++] = 0;
  }
  dll.end = string;
  return dll;
}

// The file offset of `rva` through the image's section table; 0 when no section's raw data
// holds it.
inline size_t file_offset(const Bytes &bytes, uint32_t rva) {
  const size_t pe = get(bytes, 0x3C), count = get(bytes, pe + 6, 2);
  const size_t table = pe + 24 + get(bytes, pe + 20, 2);
  for (size_t section = table; section < table + count * kSectionHeader;
       section += kSectionHeader) {
    const uint32_t address = get(bytes, section + 12);
    if (rva >= address && rva - address < get(bytes, section + 16))
      return get(bytes, section + 20) + (rva - address);
  }
  return 0;
}

// The names of the DLLs a PE32+ image imports statically, in lower case.
inline std::vector<std::string> imported_dlls(const Bytes &bytes) {
  const size_t pe = get(bytes, 0x3C);
  const uint32_t imports = get(bytes, pe + 24 + 112 + 8);  // directory 1
  std::vector<std::string> names;
  for (size_t entry = file_offset(bytes, imports); entry && get(bytes, entry + 12); entry += 20) {
    std::string name;
    for (size_t at = file_offset(bytes, get(bytes, entry + 12));
         at && at < bytes.size() && bytes[at]; ++at)
      name += char(tolower(bytes[at]));
    names.push_back(name);
  }
  return names;
}

}  // namespace pe_image
