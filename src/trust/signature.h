#pragma once
// Publisher check of a signed file: the Authenticode file hash must be intact and the
// primary signer's leaf certificate must hold one of the publisher keys built into the
// launcher. Trust rests on the pinned keys, not on certificate chains.
#include <cstdint>

// Capacity, in UTF-16 units with the terminating NUL, of the signer-key text. A key whose
// base64 text needs more cannot be accepted.
constexpr uint32_t SIGNATURE_KEY_TEXT_CAPACITY = 1024;

// The accepted publisher keys: NUL-terminated UTF-16 texts, each the standard base64 (no line
// breaks) of the bytes a certificate's SubjectPublicKeyInfo bit string carries for the key.
// Exactly one key-table source defines them; the shipped launcher links the production one.
extern const char16_t *const publisher_keys[];
extern const uint32_t publisher_key_count;

// The pinned text at `index`, or null past the end of the table.
const char16_t *publisher_key(uint32_t index);

// True when `text` (at most `capacity` units are read) equals one pinned text exactly,
// terminating NUL included: no prefix, no extension, case-sensitive.
bool publisher_key_matches(const char16_t *text, uint32_t capacity);
// The index of the pinned text that `text` equals (as above), or publisher_key_count.
uint32_t publisher_key_index(const char16_t *text, uint32_t capacity);

// True only when `head`, the first `size` bytes of a file, show a PE image whose certificate
// table is empty: such a file carries no Authenticode signature. False for anything else,
// including headers that `head` does not hold whole, which only the verifier can judge.
bool image_lacks_certificate_table(const uint8_t *head, uint64_t size);

// Whether a launcher image, its first `size` bytes as mapped or read, checks the libraries it
// loads: it does when it carries a certificate table. Only the headers are read, which the loader
// maps as one page at least, so that the mapped image and its file give the same answer.
bool image_checks_libraries(const uint8_t *image, uint64_t size);

// Why a file was accepted or refused, for the launch trace and the event log.
enum SignatureOutcome : uint32_t {
  SIGNATURE_ACCEPTED = 0,
  SIGNATURE_NO_CERTIFICATE_TABLE = 1,  // a PE image that carries no signature at all
  SIGNATURE_VERIFIER_REFUSED = 2,      // the platform verifier's status tells why
  SIGNATURE_NO_SIGNER_KEY = 3,         // verified, but the signer's key could not be read
  SIGNATURE_KEY_NOT_PINNED = 4,        // verified, signed by a key the launcher does not pin
};
struct SignatureVerdict {
  SignatureOutcome outcome;
  uint32_t key_index;       // the pinned key that matched, when accepted
  uint32_t key_length;      // its length in base64 characters, which tells its form
  int32_t verifier_status;  // the platform verifier's answer (0 when it passed or was not asked)
};
// "accepted (pinned key 0, 704 characters)" or "refused: ..." into `text`.
void signature_verdict_text(const SignatureVerdict &verdict, char *text, uint32_t capacity);

#ifdef _WIN32
// True when `path` (NUL-terminated UTF-16) carries an Authenticode signature whose file hash
// verifies and whose primary signer holds a pinned key; false in every other case. Silent:
// logs nothing and sets no error state.
bool verify_signature(const wchar_t *path);
// The same for the file open as `file` (read access), so that what was checked is what the
// caller goes on to read; `path` names it for the verifier.
bool verify_signature_open(const wchar_t *path, void *file);
// The verdicts behind verify_signature and verify_signature_open, with their reasons. Equally
// silent.
SignatureVerdict verify_signature_verdict(const wchar_t *path);
SignatureVerdict verify_signature_verdict_open(const wchar_t *path, void *file);
#endif
