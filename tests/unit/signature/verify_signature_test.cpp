// verify_signature under the platform verifier, on copies of a small library signed with
// osslsigncode using the test publisher keys (RSA-4096, P-384 and RSA-2048 pinned; an RSA-2048
// and a P-384 key not pinned). The signed files sit beside this executable.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "src/trust/signature.h"
#include "tests/ecdsa_support.h"

namespace {

std::wstring beside_me(const wchar_t *name) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

bool verify(const wchar_t *name) { return verify_signature(beside_me(name).c_str()); }

// A private copy of a fixture, removed at the end of the test.
class FixtureCopy {
 public:
  explicit FixtureCopy(const wchar_t *name) : path_(beside_me(L"copy_") + name) {
    ok_ = CopyFileW(beside_me(name).c_str(), path_.c_str(), FALSE) != FALSE;
  }
  ~FixtureCopy() { DeleteFileW(path_.c_str()); }
  bool ok() const { return ok_; }
  const wchar_t *path() const { return path_.c_str(); }

  // Inverts one byte in place.
  bool flip(LONG offset) {
    HANDLE file = CreateFileW(path(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    unsigned char byte = 0;
    DWORD done = 0;
    bool ok = SetFilePointer(file, offset, nullptr, FILE_BEGIN) == DWORD(offset) &&
              ReadFile(file, &byte, 1, &done, nullptr) && done == 1;
    byte = static_cast<unsigned char>(~byte);
    ok = ok && SetFilePointer(file, offset, nullptr, FILE_BEGIN) == DWORD(offset) &&
         WriteFile(file, &byte, 1, &done, nullptr) && done == 1;
    CloseHandle(file);
    return ok;
  }

 private:
  std::wstring path_;
  bool ok_;
};

TEST(VerifySignature, AcceptsPinnedRsaSigners) {
  EXPECT_TRUE(verify(L"payload_rsa4096.dll"));
  EXPECT_TRUE(verify(L"payload_rsa2048.dll"));
}

TEST(VerifySignature, RefusesAFileChangedAfterSigning) {
  FixtureCopy copy(L"payload_rsa4096.dll");
  ASSERT_TRUE(copy.ok());
  ASSERT_TRUE(verify_signature(copy.path())) << "an untouched copy still verifies";
  // A byte of the DOS stub text: covered by the signed hash, not by the signature itself.
  ASSERT_TRUE(copy.flip(0x50));
  EXPECT_FALSE(verify_signature(copy.path()));
}

TEST(VerifySignature, RefusesFilesWithoutAPinnedPrimarySigner) {
  EXPECT_FALSE(verify(L"payload.dll")) << "unsigned";
  EXPECT_FALSE(verify(L"payload_rsa2048-unpinned.dll")) << "signed with a key that is not pinned";
  EXPECT_FALSE(verify(L"payload_nested_pinned.dll"))
      << "only the nested signature holds a pinned key";
  EXPECT_FALSE(verify(L"payload_chain.dll")) << "only the issuer of the signer holds a pinned key";
  EXPECT_FALSE(verify(L"no_such_payload.dll")) << "missing";
}

TEST(VerifySignature, RefusesAFileThatIsNoImage) {
  const std::wstring path = beside_me(L"not_an_image.dll");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "MZ not really", 13, &written, nullptr);
  CloseHandle(file);
  EXPECT_FALSE(verify_signature(path.c_str()));
  DeleteFileW(path.c_str());
}

TEST(VerifySignature, OnlyThePrimarySignatureCounts) {
  // The converse of the nested case above: an unpinned nested signature does not spoil it.
  EXPECT_TRUE(verify(L"payload_nested_unpinned.dll"));
}

TEST(VerifySignature, RepeatedChecksGiveTheSameAnswer) {
  // The verifier's state is released after every check; a leak or a double release shows up
  // as a changed answer or a crash over many calls.
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(verify(L"payload_rsa2048.dll")) << "call " << i;
    ASSERT_FALSE(verify(L"payload.dll")) << "call " << i;
  }
}

TEST(VerifySignature, AcceptsOnlyPinnedP384Signers) {
  SKIP_WITHOUT_ECDSA();
  EXPECT_TRUE(verify(L"payload_p384.dll"));
  // Every P-384 key text begins with the same character (the point-format byte 04): only the
  // whole text may count.
  EXPECT_FALSE(verify(L"payload_p384-unpinned.dll"));
}

}  // namespace
