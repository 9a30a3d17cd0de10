// Small PE images for the tests, laid out as GNU ld lays them out, and a reader for the import
// table of the images the build makes. No Windows header: the native runs share it.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pe_image {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes *bytes, size_t at, uint32_t value, int width = 4) {
  for (int i = 0; i < width; ++i) (*bytes)[at + i] = uint8_t(value >> (8 * i));
}
// 0 for a field that does not lie wholly within the bytes.
inline uint32_t get(const Bytes &bytes, size_t at, int width = 4) {
  uint32_t value = 0;
  if (at <= bytes.size() && bytes.size() - at >= size_t(width))
    for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[at + i];
  return value;
}

// "PE\0\0" where the DOS header points, the file header, the optional header and its 16 data
// directories, then the section headers.
constexpr size_t kPe = 0x80, kFileHeader = kPe + 4, kOptional = kPe + 24, kSectionHeader = 40;
constexpr uint16_t kPe32Plus = 0x20B;
constexpr uint32_t kExportRva = 0x1000;
constexpr size_t directories(uint16_t magic = kPe32Plus) {
  return kOptional + (magic == kPe32Plus ? 112 : 96);
}

// The headers of an x64 DLL whose optional header has the form `magic` (0x20B PE32+, 0x10B
// PE32), with every directory and the `sections` section headers zero.
inline Bytes headers(uint16_t magic = kPe32Plus, uint16_t sections = 1) {
  Bytes bytes(directories(magic) + 16 * 8 + sections * kSectionHeader, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  put(&bytes, 0x3C, kPe);
  put(&bytes, kPe, 0x00004550);
  put(&bytes, kFileHeader, 0x8664, 2);
  put(&bytes, kFileHeader + 2, sections, 2);
  put(&bytes, kFileHeader + 16, uint32_t(directories(magic) + 16 * 8 - kOptional), 2);
  put(&bytes, kFileHeader + 18, 0x2022, 2);  // an executable DLL, large addresses
  put(&bytes, kOptional, magic, 2);
  put(&bytes, directories(magic) - 4, 16);
  return bytes;
}

// A DLL and the file offsets of its export tables, for tests that damage them.
struct Dll {
  Bytes bytes;
  size_t directory, functions, names, ordinals;
};

// A PE32+ DLL with `sections` sections, the last of which, at kExportRva, holds the export table
// and nothing else: the names in the order given (the loader expects them sorted), the i-th
// naming function i, which lies past the table. The file ends with the last name.
inline Dll dll(const std::vector<std::string> &names = {"wx_main"}, uint16_t sections = 1) {
  Dll dll = {headers(kPe32Plus, sections), 0, 0, 0, 0};
  const uint32_t count = uint32_t(names.size());
  const size_t raw = (dll.bytes.size() + 0x1FF) & ~size_t(0x1FF), table = directories() + 16 * 8;
  dll.directory = raw;
  dll.functions = raw + 40;
  dll.names = dll.functions + 4 * count;
  dll.ordinals = dll.names + 4 * count;
  size_t end = dll.ordinals + 2 * count;
  for (const std::string &name : names) end += name.size() + 1;
  dll.bytes.resize(end);
  const uint32_t size = uint32_t(end - raw);
  const auto rva = [&](size_t offset) { return uint32_t(offset - raw) + kExportRva; };
  for (uint16_t i = 0; i + 1 < sections; ++i)
    put(&dll.bytes, table + i * kSectionHeader + 12, 0x100000 + i * 0x1000u);
  const size_t last = table + (sections - 1u) * kSectionHeader;
  for (size_t field : {last + 8, last + 16, directories() + 4}) put(&dll.bytes, field, size);
  put(&dll.bytes, last + 12, kExportRva);
  put(&dll.bytes, last + 20, uint32_t(raw));
  put(&dll.bytes, directories(), kExportRva);
  put(&dll.bytes, raw + 20, count);
  put(&dll.bytes, raw + 24, count);
  put(&dll.bytes, raw + 28, rva(dll.functions));
  put(&dll.bytes, raw + 32, rva(dll.names));
  put(&dll.bytes, raw + 36, rva(dll.ordinals));
  for (size_t i = 0, text = dll.ordinals + 2 * count; i < count; text += names[i++].size() + 1) {
    put(&dll.bytes, dll.functions + 4 * i, kExportRva + size + uint32_t(i));
    put(&dll.bytes, dll.names + 4 * i, rva(text));
    put(&dll.bytes, dll.ordinals + 2 * i, uint32_t(i), 2);
    memcpy(&dll.bytes[text], names[i].c_str(), names[i].size() + 1);
  }
  return dll;
}

// The file offset of `rva` through the image's section table; 0 when no section's raw data
// holds it.
inline size_t file_offset(const Bytes &bytes, uint32_t rva) {
  const size_t pe = get(bytes, 0x3C), first = pe + 24 + get(bytes, pe + 20, 2);
  for (size_t at = first; at < first + get(bytes, pe + 6, 2) * kSectionHeader; at += 40) {
    if (rva >= get(bytes, at + 12) && rva - get(bytes, at + 12) < get(bytes, at + 16))
      return get(bytes, at + 20) + (rva - get(bytes, at + 12));
  }
  return 0;
}

// The names of the DLLs a PE32+ image imports statically, in lower case.
inline std::vector<std::string> imported_dlls(const Bytes &bytes) {
  std::vector<std::string> names;
  const uint32_t imports = get(bytes, get(bytes, 0x3C) + 24 + 112 + 8);  // directory 1
  for (size_t entry = file_offset(bytes, imports); entry && get(bytes, entry + 12); entry += 20) {
    names.emplace_back();
    for (size_t at = file_offset(bytes, get(bytes, entry + 12)); at && get(bytes, at, 1); ++at)
      names.back() += char(tolower(bytes[at]));
  }
  return names;
}

}  // namespace pe_image
