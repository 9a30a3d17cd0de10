// Which files the launcher may change through their names.
#include "src/trust/safe_file.h"

namespace {

constexpr uint32_t kAttributeDirectory = 0x10;       // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kAttributeReparse = 0x400;        // FILE_ATTRIBUTE_REPARSE_POINT
constexpr uint32_t kAttributesInvalid = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES

}  // namespace

SafeFileVerdict safe_file_verdict(uint32_t attributes, uint32_t link_count) {
  // Unknown attributes could hide a reparse point: treat them as one.
  if (attributes == kAttributesInvalid || (attributes & kAttributeReparse))
    return SAFE_FILE_REPARSE;
  if (attributes & kAttributeDirectory) return SAFE_FILE_DIRECTORY;
  // A second name may sit outside the data directory, where the change was never meant to go.
  if (link_count != 1) return SAFE_FILE_HARD_LINK;
  return SAFE_FILE_PLAIN;
}
