// SHA-1 and SHA-256 digests and their HMAC forms through the CNG provider (BCrypt).
#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <cstdio>

#include "zeb/crypto_hash.h"
#include "zeb/fs.h"
#include "zeb/log.h"
#include "zeb/memory.h"
#include "zeb/unicode.h"

namespace {

constexpr NTSTATUS kInvalidParameter = NTSTATUS(0xC000000DL);
constexpr uint64_t kLargestCount = 0xFFFFFFFF;  // the provider counts bytes in 32 bits
// Files are hashed in blocks of this size: large enough that the per-call cost of reading and
// hashing vanishes, small enough that no buffer grows with the file.
constexpr uint64_t kFileBlock = 256 * 1024;

// What an algorithm number asks for; false for numbers that do nothing.
struct Form {
  const wchar_t *algorithmId;
  uint64_t length;  // raw digest bytes
  bool hex;
};

bool form_of(int32_t algorithm, Form *form) {
  switch (algorithm) {
    case ZEB_ALGORITHM_SHA1:
      *form = {BCRYPT_SHA1_ALGORITHM, 20, false};
      return true;
    case ZEB_ALGORITHM_SHA1_HEX:
      *form = {BCRYPT_SHA1_ALGORITHM, 20, true};
      return true;
    case ZEB_ALGORITHM_SHA256:
      *form = {BCRYPT_SHA256_ALGORITHM, 32, false};
      return true;
    case ZEB_ALGORITHM_SHA256_HEX:
      *form = {BCRYPT_SHA256_ALGORITHM, 32, true};
      return true;
    default:
      return false;
  }
}

// A digest fed piece by piece. A provider failure is kept and reported by finish(), so that a
// file whose reading fails reports only the read, not a digest that was never finished.
class Digest {
 public:
  Digest(const wchar_t *algorithmId, const void *key, uint64_t keySize) {
    // A null key is a plain digest: its length means nothing and must not reach the provider.
    if (!key) keySize = 0;
    const ULONG flags = key ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0;
    if (!check(BCryptOpenAlgorithmProvider(&algorithm_, algorithmId, nullptr, flags),
               "BCryptOpenAlgorithmProvider"))
      return;
    // A key the provider cannot be told the length of must not be cut short silently.
    check(keySize > kLargestCount
              ? kInvalidParameter
              : BCryptCreateHash(algorithm_, &hash_, nullptr, 0,
                                 static_cast<PUCHAR>(const_cast<void *>(key)), ULONG(keySize), 0),
          "BCryptCreateHash");
  }
  ~Digest() {
    // The hash before its provider.
    if (hash_) BCryptDestroyHash(hash_);
    if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  Digest(const Digest &) = delete;
  Digest &operator=(const Digest &) = delete;

  // Inputs of 4 GiB and more go in pieces rather than truncated.
  void add(const void *input, uint64_t size) {
    if (failedCall_) return;
    auto *bytes = static_cast<PUCHAR>(const_cast<void *>(input));
    do {
      const ULONG piece = ULONG(size > kLargestCount ? kLargestCount : size);
      if (!check(BCryptHashData(hash_, bytes, piece, 0), "BCryptHashData")) return;
      bytes += piece;
      size -= piece;
    } while (size > 0);
  }

  // Writes exactly the raw digest into output; true when it was written.
  bool finish(void *output, uint64_t outputSize) {
    if (failedCall_) return report();
    DWORD digestLength = 0;
    ULONG written = 0;
    if (!check(BCryptGetProperty(hash_, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestLength),
                                 sizeof digestLength, &written, 0),
               "BCryptGetProperty"))
      return report();
    if (digestLength > outputSize) {
      ZEB_LogError("crypto_hash", "'outputSize' must be at least %u", unsigned(digestLength));
      return false;
    }
    check(BCryptFinishHash(hash_, static_cast<PUCHAR>(output), digestLength, 0),
          "BCryptFinishHash");
    return report();
  }

 private:
  // Keeps a failure; add() and finish() make no provider call after one.
  bool check(NTSTATUS status, const char *call) {
    if (BCRYPT_SUCCESS(status)) return true;
    failedCall_ = call;
    status_ = status;
    return false;
  }
  bool report() const {
    if (!failedCall_) return true;
    ZEB_LogError("crypto_hash", "'%s' failed with error 0x%X", failedCall_, unsigned(status_));
    return false;
  }

  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
  const char *failedCall_ = nullptr;
  NTSTATUS status_ = 0;
};

// The digest in the caller's form: raw bytes, or hex text (left empty, which no digest can
// match, when the provider failed).
void deliver(const Form &form, Digest *digest, void *output, uint64_t outputSize) {
  if (!form.hex) {
    digest->finish(output, outputSize);
    return;
  }
  uint8_t raw[32] = {};
  const bool ok = digest->finish(raw, form.length);
  ZEB_BytesToHex(raw, ok ? form.length : 0, static_cast<char *>(output), outputSize);
}

// The size of a file that may be hashed, or 0 when it cannot be (missing, empty, over 1 GiB).
// Reports carry the names the file layer gives the same failures, so that a file fails alike
// whether it is read whole or hashed.
uint64_t hashable_size(const char *path) {
  uint64_t size = 0;
  return fsutil_size(path, &size) && ZEB_CryptoHashableSize(size) ? size : 0;
}

// Reads size bytes in blocks, handing each to the digest when there is one.
bool read_blocks(FILE *file, uint64_t size, Digest *digest) {
  auto *block = static_cast<char *>(ZEB_Alloc(kFileBlock, 1));
  bool read = true;
  for (uint64_t left = size; left > 0 && read;) {
    const uint64_t piece = left < kFileBlock ? left : kFileBlock;
    read = fread(block, 1, piece, file) == piece;
    if (read && digest) digest->add(block, piece);
    left -= piece;
  }
  if (!read) ZEB_LogError("ZEB_ReadFile", "'fread' failed with ferror %d", ferror(file));
  ZEB_Free(block);
  return read;
}

}  // namespace

bool crypto_hash(const void *input, uint64_t inputSize, const void *key, uint64_t keySize,
                 const wchar_t *algorithmId, void *output, uint64_t outputSize) {
  Digest digest(algorithmId, key, keySize);
  digest.add(input, inputSize);
  return digest.finish(output, outputSize);
}

void ZEB_CryptoHash(int32_t algorithm, const void *input, uint64_t inputSize, const void *key,
                    uint64_t keySize, void *output, uint64_t outputSize) {
  Form form;
  if (!form_of(algorithm, &form)) return;
  Digest digest(form.algorithmId, key, keySize);
  digest.add(input, inputSize);
  deliver(form, &digest, output, outputSize);
}

bool ZEB_CryptoHashFile(int32_t algorithm, const char *path, const void *key, uint64_t keySize,
                        void *output, uint64_t outputSize) {
  const uint64_t size = hashable_size(path);
  if (size == 0) return false;
  FILE *file = fsutil_open(path, "rb");
  if (!file) return false;
  Form form;
  if (!form_of(algorithm, &form)) {
    // Numbers that do nothing still read the file: the result says whether it could be read.
    const bool read = read_blocks(file, size, nullptr);
    fclose(file);
    return read;
  }
  Digest digest(form.algorithmId, key, keySize);
  const bool read = read_blocks(file, size, &digest);
  fclose(file);
  if (read) deliver(form, &digest, output, outputSize);
  return read;
}
