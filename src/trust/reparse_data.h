#pragma once
// Decoding of the raw output of FSCTL_GET_REPARSE_POINT for junctions and symbolic links.
#include <cstdint>

constexpr uint32_t REPARSE_TAG_MOUNT_POINT = 0xA0000003;  // junction
constexpr uint32_t REPARSE_TAG_SYMLINK = 0xA000000C;
constexpr uint32_t REPARSE_SYMLINK_FLAG_RELATIVE = 1;
constexpr uint32_t REPARSE_BUFFER_SIZE = 16384;  // the platform maximum for reparse data

enum ReparseLinkKind : int32_t {
  REPARSE_LINK_JUNCTION = 1,
  REPARSE_LINK_SYMLINK = 2,
};

// Where a link's print name lies inside the decoded buffer.
struct ReparseLink {
  int32_t kind;              // ReparseLinkKind
  bool relative;             // symbolic links only: target relative to the link's directory
  const uint8_t *names;      // the name area
  uint16_t printNameOffset;  // bytes into the name area
  uint16_t printNameLength;  // bytes, a whole number of UTF-16 units
};

// Decodes size bytes of reparse data. False (no link) for other tags and for a buffer whose
// lengths or offsets do not fit inside it; never reads outside [data, data + size).
bool decode_reparse_link(const void *data, uint64_t size, ReparseLink *link);
