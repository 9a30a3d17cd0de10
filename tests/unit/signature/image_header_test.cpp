// The header check that refuses an unsigned image without asking the verifier.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "src/trust/signature.h"

namespace {

void put(std::vector<uint8_t> *bytes, size_t at, uint32_t value, int width = 4) {
  for (int i = 0; i < width; ++i) (*bytes)[at + i] = uint8_t(value >> (8 * i));
}

// Headers as the linker lays them out: the DOS header naming 0x80, "PE\0\0", the file header,
// an optional header of the given form with 16 directories, then one section header.
std::vector<uint8_t> image(uint16_t magic, uint32_t certificates, uint32_t certificatesSize) {
  const size_t optional = 0x80 + 24, directories = optional + (magic == 0x20B ? 112 : 96);
  std::vector<uint8_t> bytes(directories + 16 * 8 + 40, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  put(&bytes, 0x3C, 0x80);
  put(&bytes, 0x80, 0x00004550);
  put(&bytes, 0x80 + 20, uint32_t(directories + 16 * 8 - optional), 2);
  put(&bytes, optional, magic, 2);
  put(&bytes, directories - 4, 16);
  put(&bytes, directories + 4 * 8, certificates);
  put(&bytes, directories + 4 * 8 + 4, certificatesSize);
  return bytes;
}

bool lacks(const std::vector<uint8_t> &bytes) {
  return image_lacks_certificate_table(bytes.data(), bytes.size());
}

TEST(ImageHeader, OnlyAWholeImageWithAnEmptyCertificateTableIsDecided) {
  for (uint16_t magic : {0x10B, 0x20B}) {
    SCOPED_TRACE(magic);
    EXPECT_TRUE(lacks(image(magic, 0, 0)));
    EXPECT_FALSE(lacks(image(magic, 0x3000, 0x1A00)));
    EXPECT_FALSE(lacks(image(magic, 0x3000, 0)));
  }
  std::vector<uint8_t> bytes = image(0x20B, 0, 0);
  put(&bytes, 0x3C, 0xFFFFFFF0);
  EXPECT_FALSE(lacks(bytes));
  bytes = image(0x20B, 0, 0);
  bytes[0x81] = 'X';
  EXPECT_FALSE(lacks(bytes));

  // Cut anywhere before the end of the certificate entry: never decided, never read past the
  // end (the sanitizers watch the native run).
  const std::vector<uint8_t> whole = image(0x20B, 0, 0);
  for (size_t size = 0; size < 0x80 + 24 + 112 + 5 * 8; ++size)
    EXPECT_FALSE(lacks(std::vector<uint8_t>(whole.begin(), whole.begin() + size))) << size;
}

}  // namespace
