#pragma once
// SHA-1 and SHA-256 digests (plain or HMAC) as raw bytes or lower-case hexadecimal text.
#include <cstdint>

#include "zeb/fs.h"

enum ZEB_Algorithm : int32_t {
  ZEB_ALGORITHM_SHA1 = 0,        // 20 raw bytes
  ZEB_ALGORITHM_SHA1_HEX = 1,    // 40 digits and NUL: 41 bytes
  ZEB_ALGORITHM_SHA256 = 2,      // 32 raw bytes
  ZEB_ALGORITHM_SHA256_HEX = 3,  // 64 digits and NUL: 65 bytes
};

// Digest of input (HMAC under key when key is not null) into output. Other algorithm
// numbers do nothing. Failures are only logged.
void ZEB_CryptoHash(int32_t algorithm, const void *input, uint64_t inputSize, const void *key,
                    uint64_t keySize, void *output, uint64_t outputSize);
// Whether a file of `size` bytes may be hashed whole: not empty, at most 1 GiB.
inline bool ZEB_CryptoHashableSize(uint64_t size) { return size > 0 && size <= ZEB_READFILE_LIMIT; }
// Digest of a whole file, read in blocks of a fixed size; false, with output untouched, when the
// file cannot be read (missing, unreadable, or a size ZEB_CryptoHashableSize refuses).
bool ZEB_CryptoHashFile(int32_t algorithm, const char *path, const void *key, uint64_t keySize,
                        void *output, uint64_t outputSize);
// Lower-case hex text of size bytes; hexSize counts the NUL. A short buffer keeps whole
// bytes only and logs the truncation.
void ZEB_BytesToHex(const void *bytes, uint64_t size, char *hex, uint64_t hexSize);

#ifdef _WIN32
// The provider call behind ZEB_CryptoHash: writes the raw digest named by algorithmId
// ("SHA1", "SHA256"); true when it was written.
bool crypto_hash(const void *input, uint64_t inputSize, const void *key, uint64_t keySize,
                 const wchar_t *algorithmId, void *output, uint64_t outputSize);
#endif
