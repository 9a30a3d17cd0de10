// SHA-1 and SHA-256 digests and their HMAC forms through the CNG provider (BCrypt).
#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <cstring>

#include "zeb/crypto_hash.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"

namespace {

constexpr NTSTATUS kInvalidParameter = NTSTATUS(0xC000000DL);
constexpr uint64_t kLargestCount = 0xFFFFFFFF;  // the provider counts bytes in 32 bits

struct AlgorithmHandle {
  BCRYPT_ALG_HANDLE handle = nullptr;
  ~AlgorithmHandle() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
};

struct HashHandle {
  BCRYPT_HASH_HANDLE handle = nullptr;
  ~HashHandle() {
    if (handle) BCryptDestroyHash(handle);
  }
};

bool failed(NTSTATUS status, const char *call) {
  if (BCRYPT_SUCCESS(status)) return false;
  ZEB_LogError("crypto_hash", "'%s' failed with error 0x%X", call, unsigned(status));
  return true;
}

}  // namespace

bool crypto_hash(const void *input, uint64_t inputSize, const void *key, uint64_t keySize,
                 const wchar_t *algorithmId, void *output, uint64_t outputSize) {
  // Declared first so the hash is destroyed before its provider is closed.
  AlgorithmHandle algorithm;
  HashHandle hash;
  // A null key is a plain digest: its length means nothing and must not reach the provider.
  if (!key) keySize = 0;
  const ULONG flags = key ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0;
  if (failed(BCryptOpenAlgorithmProvider(&algorithm.handle, algorithmId, nullptr, flags),
             "BCryptOpenAlgorithmProvider"))
    return false;

  // A key the provider cannot be told the length of must not be cut short silently.
  const NTSTATUS created =
      keySize > kLargestCount
          ? kInvalidParameter
          : BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0,
                             static_cast<PUCHAR>(const_cast<void *>(key)), ULONG(keySize), 0);
  if (failed(created, "BCryptCreateHash")) return false;

  // One call for any input below 4 GiB; larger inputs go in pieces rather than truncated.
  auto *bytes = static_cast<PUCHAR>(const_cast<void *>(input));
  uint64_t left = inputSize;
  do {
    const ULONG piece = ULONG(left > kLargestCount ? kLargestCount : left);
    if (failed(BCryptHashData(hash.handle, bytes, piece, 0), "BCryptHashData")) return false;
    bytes += piece;
    left -= piece;
  } while (left > 0);

  DWORD digestLength = 0;
  ULONG written = 0;
  if (failed(BCryptGetProperty(hash.handle, BCRYPT_HASH_LENGTH,
                               reinterpret_cast<PUCHAR>(&digestLength), sizeof digestLength,
                               &written, 0),
             "BCryptGetProperty"))
    return false;

  if (digestLength > outputSize) {
    ZEB_LogError("crypto_hash", "'outputSize' must be at least %u", unsigned(digestLength));
    return false;
  }
  return !failed(BCryptFinishHash(hash.handle, static_cast<PUCHAR>(output), digestLength, 0),
                 "BCryptFinishHash");
}

void ZEB_CryptoHash(int32_t algorithm, const void *input, uint64_t inputSize, const void *key,
                    uint64_t keySize, void *output, uint64_t outputSize) {
  switch (algorithm) {
    case ZEB_ALGORITHM_SHA1:
      crypto_hash(input, inputSize, key, keySize, BCRYPT_SHA1_ALGORITHM, output, outputSize);
      return;
    case ZEB_ALGORITHM_SHA256:
      crypto_hash(input, inputSize, key, keySize, BCRYPT_SHA256_ALGORITHM, output, outputSize);
      return;
    case ZEB_ALGORITHM_SHA1_HEX:
    case ZEB_ALGORITHM_SHA256_HEX: {
      const bool sha1 = algorithm == ZEB_ALGORITHM_SHA1_HEX;
      const uint64_t length = sha1 ? 20 : 32;
      uint8_t digest[32] = {};
      // On a provider failure the text is left empty, which no digest can match.
      const bool ok =
          crypto_hash(input, inputSize, key, keySize,
                      sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM, digest, length);
      ZEB_BytesToHex(digest, ok ? length : 0, static_cast<char *>(output), outputSize);
      return;
    }
    default:
      return;
  }
}

bool ZEB_CryptoHashFile(int32_t algorithm, const char *path, const void *key, uint64_t keySize,
                        void *output, uint64_t outputSize) {
  uint64_t size = 0;
  char *data = ZEB_ReadFile(path, &size);
  if (!data) return false;
  ZEB_CryptoHash(algorithm, data, size, key, keySize, output, outputSize);
  ZEB_Free(data);
  return true;
}
