// The header check that refuses an unsigned image without asking the verifier.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "src/trust/signature.h"
#include "tests/unit/pe_image.h"

namespace {

using pe_image::put;

// Headers as the linker lays them out, with one section header and the certificate table's
// directory entry as given.
std::vector<uint8_t> image(uint16_t magic, uint32_t certificates, uint32_t certificatesSize) {
  std::vector<uint8_t> bytes = pe_image::headers(magic);
  put(&bytes, pe_image::directories(magic) + 4 * 8, certificates);
  put(&bytes, pe_image::directories(magic) + 4 * 8 + 4, certificatesSize);
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
  bytes[pe_image::kPe + 1] = 'X';
  EXPECT_FALSE(lacks(bytes));

  // Cut anywhere before the end of the certificate entry: never decided, never read past the
  // end (the sanitizers watch the native run).
  const std::vector<uint8_t> whole = image(0x20B, 0, 0);
  for (size_t size = 0; size < pe_image::directories() + 5 * 8; ++size)
    EXPECT_FALSE(lacks(std::vector<uint8_t>(whole.begin(), whole.begin() + size))) << size;
}

}  // namespace
