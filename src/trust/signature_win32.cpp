// Authenticode check with publisher-key pinning. The platform verifier is asked only whether
// the signed hash matches the file (no chain policy, no revocation); the publisher is then
// recognised by the primary signer's leaf public key.
#include <windows.h>
// clang-format off
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
// clang-format on

#include <cstddef>

#include "src/trust/handle.h"
#include "src/trust/signature.h"

namespace {

// The full WINTRUST_DATA: mingw-w64 declares the older form without pSignatureSettings.
struct wintrust_data_full {
  DWORD cbStruct;
  LPVOID pPolicyCallbackData;
  LPVOID pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  WINTRUST_FILE_INFO *pFile;
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR *pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
  void *pSignatureSettings;
};
static_assert(sizeof(wintrust_data_full) == 88);
static_assert(offsetof(wintrust_data_full, hWVTStateData) ==
              offsetof(WINTRUST_DATA, hWVTStateData));
static_assert(offsetof(wintrust_data_full, dwUIContext) == offsetof(WINTRUST_DATA, dwUIContext));
static_assert(sizeof(WINTRUST_FILE_INFO) == 32);
static_assert(sizeof(wchar_t) == sizeof(char16_t));

// Base64 of the primary signer's leaf public key into `text`; false when any link is missing
// or the text does not fit.
bool encode_signer_key(HANDLE state, char16_t *text, DWORD capacity) {
  CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(state);
  if (provider == nullptr) return false;
  CRYPT_PROVIDER_SGNR *signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
  if (signer == nullptr) return false;
  CRYPT_PROVIDER_CERT *leaf = WTHelperGetProvCertFromChain(signer, 0);
  if (leaf == nullptr || leaf->pCert == nullptr || leaf->pCert->pCertInfo == nullptr) return false;
  const CRYPT_BIT_BLOB &key = leaf->pCert->pCertInfo->SubjectPublicKeyInfo.PublicKey;
  DWORD count = capacity;
  return CryptBinaryToStringW(key.pbData, key.cbData, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF,
                              reinterpret_cast<LPWSTR>(text), &count) != FALSE;
}

// A PE image without a certificate table is refused without asking the verifier, which would
// refuse it too: loading and starting the verifier costs an unsigned launcher more than all its
// other checks.
bool certainly_unsigned(HANDLE file) {
  uint8_t head[4096];
  DWORD size = 0;
  OVERLAPPED at_start = {};  // reads from offset 0 whatever the handle's position
  return ReadFile(file, head, sizeof head, &size, &at_start) &&
         image_lacks_certificate_table(head, size);
}

bool certainly_unsigned(const wchar_t *path) {
  const ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.get() != INVALID_HANDLE_VALUE && certainly_unsigned(file.get());
}

// The verifier reads the file through `file` when it is not null, else by `path`.
SignatureVerdict verify(const wchar_t *path, HANDLE file_handle) {
  SignatureVerdict verdict = {SIGNATURE_VERIFIER_REFUSED, 0, 0, 0};
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path;
  file.hFile = file_handle;

  wintrust_data_full data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_HASH_ONLY_FLAG;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  HWND no_user = static_cast<HWND>(INVALID_HANDLE_VALUE);
  char16_t key_text[SIGNATURE_KEY_TEXT_CAPACITY] = {};

  verdict.verifier_status = WinVerifyTrust(no_user, &action, &data);
  const bool encoded = verdict.verifier_status == 0 &&
                       encode_signer_key(data.hWVTStateData, key_text, SIGNATURE_KEY_TEXT_CAPACITY);
  // The verifier's state is released exactly once, whatever happened above; the comparison
  // below uses only the copied text.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(no_user, &action, &data);

  if (verdict.verifier_status != 0) return verdict;
  verdict.outcome = SIGNATURE_NO_SIGNER_KEY;
  if (!encoded) return verdict;
  verdict.key_index = publisher_key_index(key_text, SIGNATURE_KEY_TEXT_CAPACITY);
  verdict.outcome = SIGNATURE_KEY_NOT_PINNED;
  if (verdict.key_index >= publisher_key_count) return verdict;
  verdict.outcome = SIGNATURE_ACCEPTED;
  while (key_text[verdict.key_length]) ++verdict.key_length;
  return verdict;
}

constexpr SignatureVerdict kUnsigned = {SIGNATURE_NO_CERTIFICATE_TABLE, 0, 0, 0};

}  // namespace

SignatureVerdict verify_signature_verdict(const wchar_t *path) {
  return certainly_unsigned(path) ? kUnsigned : verify(path, nullptr);
}

SignatureVerdict verify_signature_verdict_open(const wchar_t *path, void *file) {
  return certainly_unsigned(file) ? kUnsigned : verify(path, file);
}

bool verify_signature(const wchar_t *path) {
  return verify_signature_verdict(path).outcome == SIGNATURE_ACCEPTED;
}

bool verify_signature_open(const wchar_t *path, void *file) {
  return verify_signature_verdict_open(path, file).outcome == SIGNATURE_ACCEPTED;
}
