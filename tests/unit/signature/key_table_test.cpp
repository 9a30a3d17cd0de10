// The pinned publisher keys compiled into the launcher, and the whole-text comparison.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "src/trust/signature.h"

namespace {

// Strict RFC 4648 base64 (standard alphabet, '=' padding, no line breaks); false on anything else.
bool decode_base64(const std::u16string &text, std::vector<uint8_t> *out) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.empty() || text.size() % 4 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t group = 0;
    int padding = 0;
    for (size_t j = 0; j < 4; ++j) {
      char16_t c = text[i + j];
      size_t value = c < 128 ? alphabet.find(static_cast<char>(c)) : std::string::npos;
      if (c == u'=' && i + 4 == text.size() && j >= 2) {
        ++padding;
        value = 0;
      } else if (value == std::string::npos || padding > 0) {
        return false;
      }
      group = group << 6 | static_cast<uint32_t>(value);
    }
    out->push_back(static_cast<uint8_t>(group >> 16));
    if (padding < 2) out->push_back(static_cast<uint8_t>(group >> 8));
    if (padding < 1) out->push_back(static_cast<uint8_t>(group));
  }
  return true;
}

// A DER RSAPublicKey of exactly `bits` bits with exponent 65537: SEQUENCE { INTEGER n, INTEGER e }
// with two-byte lengths, n carrying a leading zero byte because its top bit is set.
void expect_rsa_public_key(const std::vector<uint8_t> &der, uint32_t bits) {
  const size_t modulus = bits / 8;
  ASSERT_EQ(der.size(), modulus + 14);
  const size_t body = der.size() - 4, integer = modulus + 1;
  const std::vector<uint8_t> head = {0x30, 0x82, uint8_t(body >> 8),    uint8_t(body),
                                     0x02, 0x82, uint8_t(integer >> 8), uint8_t(integer),
                                     0x00};
  EXPECT_EQ(std::vector<uint8_t>(der.begin(), der.begin() + 9), head);
  EXPECT_GE(der[9], 0x80) << "the modulus must use all " << bits << " bits";
  const std::vector<uint8_t> exponent = {0x02, 0x03, 0x01, 0x00, 0x01};
  EXPECT_EQ(std::vector<uint8_t>(der.end() - 5, der.end()), exponent);
}

TEST(PinnedKeys, SevenKeysInTheirFormsAndLengths) {
  struct Form {
    size_t text_length;
    uint32_t rsa_bits;  // 0: uncompressed P-384 point
  };
  const Form forms[] = {{704, 4096}, {132, 0},    {704, 4096}, {704, 4096},
                        {704, 4096}, {360, 2048}, {360, 2048}};
  ASSERT_EQ(publisher_key_count, 7u);
  for (uint32_t i = 0; i < 7; ++i) {
    SCOPED_TRACE("key " + std::to_string(i + 1));
    ASSERT_NE(publisher_key(i), nullptr);
    const std::u16string text = publisher_key(i);
    EXPECT_EQ(text.size(), forms[i].text_length);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(decode_base64(text, &bytes)) << "not base64 without line breaks";
    if (forms[i].rsa_bits != 0) {
      expect_rsa_public_key(bytes, forms[i].rsa_bits);
    } else {
      ASSERT_EQ(bytes.size(), 97u);
      EXPECT_EQ(bytes[0], 0x04) << "uncompressed point";
    }
  }
  EXPECT_EQ(publisher_key(7), nullptr);
}

TEST(PinnedKeys, KeysAreDistinct) {
  for (uint32_t i = 0; i < publisher_key_count; ++i) {
    for (uint32_t j = i + 1; j < publisher_key_count; ++j) {
      EXPECT_NE(std::u16string(publisher_key(i)), std::u16string(publisher_key(j)))
          << "keys " << i + 1 << " and " << j + 1;
    }
  }
}

// The signer-key buffer as the verifier fills it: zeroed, of the full capacity.
std::vector<char16_t> key_buffer(const std::u16string &text) {
  std::vector<char16_t> buffer(SIGNATURE_KEY_TEXT_CAPACITY, 0);
  std::copy(text.begin(), text.begin() + std::min<size_t>(text.size(), buffer.size()),
            buffer.begin());
  return buffer;
}

bool matches(const std::u16string &text) {
  return publisher_key_matches(key_buffer(text).data(), SIGNATURE_KEY_TEXT_CAPACITY);
}

TEST(PinnedKeyComparison, OnlyTheWholeTextMatches) {
  for (uint32_t i = 0; i < publisher_key_count; ++i) {
    SCOPED_TRACE("key " + std::to_string(i + 1));
    const std::u16string pinned = publisher_key(i);
    EXPECT_TRUE(matches(pinned));
    EXPECT_FALSE(matches(pinned + u"A"));
    EXPECT_FALSE(matches(pinned + u"=="));
    EXPECT_FALSE(matches(pinned.substr(0, pinned.size() - 1)));
    EXPECT_FALSE(matches(pinned.substr(0, pinned.size() / 2)));
    std::u16string other_case = pinned;
    for (char16_t &c : other_case) {
      if (c >= u'a' && c <= u'z') {
        c = static_cast<char16_t>(c - u'a' + u'A');
        break;
      }
    }
    EXPECT_FALSE(matches(other_case));
  }
  EXPECT_FALSE(matches(u""));
  EXPECT_FALSE(publisher_key_matches(nullptr, SIGNATURE_KEY_TEXT_CAPACITY));
}

TEST(PinnedKeyComparison, TextFillingTheWholeBufferNeverMatches) {
  // Exactly the capacity with no terminator: the comparison must stop at the end of the
  // buffer (the sanitizers catch a read past it) and refuse.
  const std::u16string pinned = publisher_key(0);
  std::u16string text = pinned;
  while (text.size() < SIGNATURE_KEY_TEXT_CAPACITY) text += u'A';
  std::vector<char16_t> full(text.begin(), text.end());
  ASSERT_EQ(full.size(), SIGNATURE_KEY_TEXT_CAPACITY);
  EXPECT_FALSE(publisher_key_matches(full.data(), SIGNATURE_KEY_TEXT_CAPACITY));
  EXPECT_FALSE(matches(text + u"AAAA"));

  // A pinned text that does not fit the capacity with its NUL cannot match either.
  std::vector<char16_t> cut(pinned.begin(), pinned.end());
  EXPECT_FALSE(publisher_key_matches(cut.data(), static_cast<uint32_t>(cut.size())));
  cut.push_back(0);
  EXPECT_TRUE(publisher_key_matches(cut.data(), static_cast<uint32_t>(cut.size())));
}

}  // namespace
