#include "src/trust/reparse_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Buffer = std::vector<uint8_t>;

// A junction to D:\Real as FSCTL_GET_REPARSE_POINT returns it: both names NUL-terminated,
// substitute name first.
const Buffer kJunction = {
    0x03, 0x00, 0x00, 0xA0,  // IO_REPARSE_TAG_MOUNT_POINT
    0x30, 0x00, 0x00, 0x00,  // data length 48, reserved
    0x00, 0x00, 0x16, 0x00,  // substitute name: offset 0, 22 bytes
    0x18, 0x00, 0x0E, 0x00,  // print name: offset 24, 14 bytes
    '\\', 0,    '?',  0,    '?',  0, '\\', 0, 'D', 0, ':', 0, '\\', 0, 'R', 0,
    'e',  0,    'a',  0,    'l',  0, 0,    0,  //
    'D',  0,    ':',  0,    '\\', 0, 'R',  0, 'e', 0, 'a', 0, 'l',  0, 0,   0,
};

// An absolute symbolic link to C:\T: print name first, names not terminated.
const Buffer kSymlink = {
    0x0C, 0x00, 0x00, 0xA0,                    // IO_REPARSE_TAG_SYMLINK
    0x24, 0x00, 0x00, 0x00,                    // data length 36, reserved
    0x08, 0x00, 0x10, 0x00,                    // substitute name: offset 8, 16 bytes
    0x00, 0x00, 0x08, 0x00,                    // print name: offset 0, 8 bytes
    0x00, 0x00, 0x00, 0x00,                    // flags: absolute
    'C',  0,    ':',  0,    '\\', 0, 'T',  0,  //
    '\\', 0,    '?',  0,    '?',  0, '\\', 0, 'C', 0, ':', 0, '\\', 0, 'T', 0,
};

// A relative symbolic link ..\T (SYMLINK_FLAG_RELATIVE).
const Buffer kRelativeSymlink = {
    0x0C, 0x00, 0x00, 0xA0, 0x1C, 0x00, 0x00, 0x00,  // tag, data length 28
    0x08, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x00,  // substitute at 8, print at 0
    0x01, 0x00, 0x00, 0x00,                          // flags: relative
    '.',  0,    '.',  0,    '\\', 0,    'T',  0,    '.', 0, '.', 0, '\\', 0, 'T', 0,
};

std::u16string print_name(const ReparseLink &link) {
  std::u16string name(link.printNameLength / 2, u'\0');
  memcpy(name.data(), link.names + link.printNameOffset, link.printNameLength);
  return name;
}

// Decodes from a heap block of exactly the given size, so any read past it is caught.
bool decode_exact(const Buffer &bytes, size_t size, ReparseLink *link) {
  std::vector<uint8_t> exact(bytes.begin(), bytes.begin() + ptrdiff_t(size));
  exact.shrink_to_fit();
  const bool ok = decode_reparse_link(size ? exact.data() : nullptr, size, link);
  if (ok) {
    // Names must point into the block; re-anchor them to the caller's copy.
    link->names = bytes.data() + (link->names - exact.data());
  }
  return ok;
}

TEST(ReparseData, JunctionGivesItsPrintName) {
  ReparseLink link = {};
  ASSERT_TRUE(decode_exact(kJunction, kJunction.size(), &link));
  EXPECT_EQ(link.kind, REPARSE_LINK_JUNCTION);
  EXPECT_FALSE(link.relative);
  EXPECT_EQ(print_name(link), u"D:\\Real");
}

TEST(ReparseData, SymbolicLinksGiveTheirPrintNameAndRelativeFlag) {
  ReparseLink link = {};
  ASSERT_TRUE(decode_exact(kSymlink, kSymlink.size(), &link));
  EXPECT_EQ(link.kind, REPARSE_LINK_SYMLINK);
  EXPECT_FALSE(link.relative);
  EXPECT_EQ(print_name(link), u"C:\\T");

  ASSERT_TRUE(decode_exact(kRelativeSymlink, kRelativeSymlink.size(), &link));
  EXPECT_TRUE(link.relative);
  EXPECT_EQ(print_name(link), u"..\\T");

  // The returned block may be longer than the record.
  Buffer padded = kRelativeSymlink;
  padded.resize(REPARSE_BUFFER_SIZE, 0xEE);
  ASSERT_TRUE(decode_exact(padded, padded.size(), &link));
  EXPECT_EQ(print_name(link), u"..\\T");
}

TEST(ReparseData, OtherTagsAreNoLink) {
  for (uint32_t tag : {0x80000013u, 0x8000001Bu, 0x9000001Au, 0x80000017u, 0u, 0xA0000004u}) {
    Buffer other = kJunction;
    memcpy(other.data(), &tag, 4);
    ReparseLink link = {};
    EXPECT_FALSE(decode_exact(other, other.size(), &link)) << std::hex << tag;
  }
}

TEST(ReparseData, TruncatedRecordsAreNoLinkAndStayInside) {
  for (const Buffer *record : {&kJunction, &kSymlink, &kRelativeSymlink}) {
    for (size_t size = 0; size < record->size(); ++size) {
      ReparseLink link = {};
      EXPECT_FALSE(decode_exact(*record, size, &link)) << size;
    }
  }
}

TEST(ReparseData, InconsistentLengthsAreNoLink) {
  ReparseLink link = {};
  auto with = [](Buffer bytes, size_t at, uint16_t value) {
    bytes[at] = uint8_t(value);
    bytes[at + 1] = uint8_t(value >> 8);
    return bytes;
  };
  // Print name running past the name area (40 bytes for this junction), by offset or length.
  EXPECT_FALSE(decode_exact(with(kJunction, 12, 30), kJunction.size(), &link));
  EXPECT_FALSE(decode_exact(with(kJunction, 12, 0xFFFF), kJunction.size(), &link));
  EXPECT_FALSE(decode_exact(with(kJunction, 14, 0xFFFE), kJunction.size(), &link));
  // Half a UTF-16 unit.
  EXPECT_FALSE(decode_exact(with(kJunction, 14, 13), kJunction.size(), &link));
  // A data length too short for the symbolic link's fields, or longer than what was returned.
  EXPECT_FALSE(decode_exact(with(kSymlink, 4, 8), kSymlink.size(), &link));
  EXPECT_FALSE(decode_exact(with(kSymlink, 4, 37), kSymlink.size(), &link));
  // A print name ending exactly at the end of the name area is fine; an empty one too.
  const Buffer ending = with(kJunction, 12, 26);
  ASSERT_TRUE(decode_exact(ending, ending.size(), &link));
  EXPECT_EQ(print_name(link), std::u16string(u":\\Real\0", 7));
  ASSERT_TRUE(decode_exact(with(kJunction, 14, 0), kJunction.size(), &link));
  EXPECT_EQ(link.printNameLength, 0);
}

}  // namespace
