// Junction and symbolic-link records inside FSCTL_GET_REPARSE_POINT output. Every field is
// checked against the bytes actually returned, since a damaged or foreign record must read
// as "no link" rather than lead outside the buffer.
#include "src/trust/reparse_data.h"

namespace {

// Header: tag (4), data length (2), reserved (2). Then, for both kinds, substitute-name
// offset and length and print-name offset and length (2 each); a symbolic link adds a flags
// word (4) before its name area.
constexpr uint64_t kHeaderSize = 8;
constexpr uint64_t kJunctionFields = 8;
constexpr uint64_t kSymlinkFields = 12;

uint16_t read16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t *p) { return uint32_t(read16(p)) | (uint32_t(read16(p + 2)) << 16); }

}  // namespace

bool decode_reparse_link(const void *data, uint64_t size, ReparseLink *link) {
  if (!data || size < kHeaderSize) return false;
  const auto *bytes = static_cast<const uint8_t *>(data);
  const uint32_t tag = read32(bytes);
  const uint64_t dataLength = read16(bytes + 4);
  if (kHeaderSize + dataLength > size) return false;

  uint64_t fields;
  if (tag == REPARSE_TAG_MOUNT_POINT)
    fields = kJunctionFields;
  else if (tag == REPARSE_TAG_SYMLINK)
    fields = kSymlinkFields;
  else
    return false;
  if (dataLength < fields) return false;

  const uint8_t *body = bytes + kHeaderSize;
  const uint16_t printNameOffset = read16(body + 4);
  const uint16_t printNameLength = read16(body + 6);
  const uint64_t nameAreaSize = dataLength - fields;
  // Only the print name is read; it must lie wholly inside the name area, in whole UTF-16 units.
  if (uint64_t(printNameOffset) + printNameLength > nameAreaSize) return false;
  if (printNameLength % 2 != 0) return false;

  link->kind = tag == REPARSE_TAG_MOUNT_POINT ? REPARSE_LINK_JUNCTION : REPARSE_LINK_SYMLINK;
  link->relative =
      tag == REPARSE_TAG_SYMLINK && (read32(body + 8) & REPARSE_SYMLINK_FLAG_RELATIVE) != 0;
  link->names = body + fields;
  link->printNameOffset = printNameOffset;
  link->printNameLength = printNameLength;
  return true;
}
