// Which links a privileged launch follows, over descriptors written as SDDL text.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h.
#include <sddl.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "src/trust/grant_access.h"
#include "src/trust/link_trust.h"
#include "src/trust/owner_trust.h"

namespace {

const std::wstring kAdminOnly = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
// C:\ProgramData: users may add files and folders, not delete others' or change its DACL.
const std::wstring kProgramData =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
    L"(A;CI;0x116;;;BU)";

class Descriptor {
 public:
  explicit Descriptor(const std::wstring &sddl) {
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor_, nullptr))
        << "SDDL not understood";
  }
  ~Descriptor() { LocalFree(descriptor_); }
  const void *get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Owned by SYSTEM, with a null DACL. Built by hand: Wine reads "D:NO_ACCESS_CONTROL" as an empty
// DACL, which allows nothing, where Windows makes it null.
class NullDacl {
 public:
  NullDacl() {
    InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
    ConvertStringSidToSidW(L"S-1-5-18", &system_);
    SetSecurityDescriptorOwner(&descriptor_, system_, FALSE);
    SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
  }
  ~NullDacl() { LocalFree(system_); }
  const void *get() const { return &descriptor_; }

 private:
  SECURITY_DESCRIPTOR descriptor_ = {};
  PSID system_ = nullptr;
};

class Sid {
 public:
  explicit Sid(const wchar_t *text) { EXPECT_TRUE(ConvertStringSidToSidW(text, &sid_)); }
  ~Sid() { LocalFree(sid_); }
  const void *get() const { return sid_; }

 private:
  PSID sid_ = nullptr;
};

bool trusted(const std::wstring &link, const std::wstring &directory = L"O:SY" + kProgramData) {
  return link_trusted(Descriptor(link).get(), Descriptor(directory).get());
}

TEST(LinkTrust, AdministeringOwnersWithAdministratorOnlyRightsAreTrusted) {
  for (const wchar_t *owner :
       {L"O:SY", L"O:BA", L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"}) {
    SCOPED_TRACE(owner);
    EXPECT_TRUE(trusted(owner + kAdminOnly));
  }
  // Reading, and rights that apply only to what is created inside, change nothing.
  EXPECT_TRUE(trusted(L"O:SYD:(A;;FA;;;SY)(A;;GRGX;;;WD)(A;OICIIO;GA;;;BU)"));
  EXPECT_FALSE(trusted(L"O:BU" + kAdminOnly)) << "owned by Users";
  EXPECT_FALSE(trusted(L"O:S-1-5-21-1-2-3-1001" + kAdminOnly)) << "owned by a user";
  EXPECT_FALSE(link_trusted(nullptr, nullptr));
}

TEST(LinkTrust, ALinkThatAnotherAccountMayChangeIsNotTrusted) {
  // Write data, write extended attributes, write attributes (each enough to set a reparse
  // point or change it), change the DACL, take ownership, delete, and the generic forms.
  for (const wchar_t *right : {L"0x2", L"0x10", L"0x100", L"WD", L"WO", L"SD", L"GW", L"GA"}) {
    SCOPED_TRACE(right);
    EXPECT_FALSE(trusted(L"O:SY" + kAdminOnly + L"(A;;" + right + L";;;S-1-5-21-1-2-3-1001)"));
  }
  // A denial is not credited: only what is allowed counts.
  EXPECT_FALSE(trusted(L"O:SYD:(D;;FA;;;BU)(A;;FA;;;SY)(A;;FA;;;BU)"));
  EXPECT_FALSE(link_trusted(NullDacl().get(), Descriptor(L"O:SY" + kProgramData).get()))
      << "a null DACL allows everything";
  EXPECT_FALSE(trusted(L"O:SY")) << "no DACL";
  // What a SYSTEM-made directory under C:\ProgramData inherits lets users write its
  // attributes: made into a junction by a user, it is still owned by SYSTEM.
  EXPECT_FALSE(
      trusted(L"O:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)"
              L"(A;OICIID;0x1200a9;;;BU)(A;CIID;0x116;;;BU)"));
}

TEST(LinkTrust, ADirectoryWhoseEntriesAnotherAccountMayRemoveIsNotTrusted) {
  const std::wstring link = L"O:SY" + kAdminOnly;
  EXPECT_TRUE(directory_trusted(Descriptor(L"O:SY" + kProgramData).get()));
  for (const wchar_t *right : {L"0x40", L"GA", L"WD", L"WO"}) {  // delete child, and ways to it
    SCOPED_TRACE(right);
    EXPECT_FALSE(
        directory_trusted(Descriptor(L"O:SY" + kProgramData + L"(A;;" + right + L";;;BU)").get()));
    EXPECT_FALSE(trusted(link, L"O:BA" + kAdminOnly + L"(A;;" + right + L";;;BU)"));
  }
  // An owner may re-permission what it owns: a directory a user made, or one whose owner is
  // unknown, is no better than one open to all.
  for (const wchar_t *owner : {L"O:S-1-5-21-1-2-3-1001", L"O:BU", L""}) {
    SCOPED_TRACE(owner);
    EXPECT_FALSE(directory_trusted(Descriptor(owner + kProgramData).get()));
    EXPECT_FALSE(trusted(link, owner + kAdminOnly));
  }
  EXPECT_FALSE(directory_trusted(NullDacl().get()));
  EXPECT_FALSE(link_trusted(Descriptor(link).get(), NullDacl().get()));
  EXPECT_TRUE(trusted(link, L"O:SY" + kAdminOnly + L"(A;OICIIO;GA;;;BU)")) << "inherit-only";
}

// What a file made in C:\ProgramData\Quarlo inherits, and Everyone's entry for `rights`.
std::wstring record_dacl(uint32_t rights) {
  wchar_t grant[32];
  swprintf(grant, 32, L"(A;;0x%x;;;WD)", unsigned(rights));
  return L"D:AI" + std::wstring(grant) + L"(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
}

const std::wstring kUser = L"S-1-5-21-1-2-3-1001", kOther = L"S-1-5-21-1-2-3-1002";

bool counts(const std::wstring &record, const std::wstring &own = kUser) {
  return record_trusted(Descriptor(record).get(), Sid(own.c_str()).get());
}

TEST(OwnerTrust, ARecordCountsWhenOnlyItsOwnLaunchOrAdministratorsCanHaveWrittenIt) {
  EXPECT_TRUE(counts(L"O:" + kUser + record_dacl(GRANT_RECORD))) << "its own";
  EXPECT_FALSE(counts(L"O:" + kOther + record_dacl(GRANT_RECORD))) << "another user's";
  for (const std::wstring &own : {kUser, std::wstring(L"S-1-5-18")}) {  // a user's, SYSTEM's
    SCOPED_TRACE(own);
    EXPECT_TRUE(counts(L"O:SY" + record_dacl(GRANT_RECORD), own));
    // What was granted before, and config.txt, which a user could rewrite and rename over it.
    EXPECT_FALSE(counts(L"O:SY" + record_dacl(0x1FFFFF), own));
    EXPECT_FALSE(counts(L"O:BA" + record_dacl(GRANT_CONFIG), own));
  }
  for (const wchar_t *right : {L"0x2", L"0x4", L"WD", L"WO"}) {
    SCOPED_TRACE(right);
    EXPECT_FALSE(counts(L"O:SY" + kAdminOnly + L"(A;;" + right + L";;;" + kOther + L")"));
    EXPECT_TRUE(counts(L"O:SY" + kAdminOnly + L"(A;;" + right + L";;;" + kUser + L")"));
  }
  EXPECT_FALSE(record_trusted(NullDacl().get(), Sid(kUser.c_str()).get()));
  EXPECT_FALSE(record_trusted(nullptr, Sid(kUser.c_str()).get()));

  // Through a handle, with this process's own account: Wine makes its user the owner of a file.
  wchar_t path[MAX_PATH + 32];
  wcscpy(path + GetTempPathW(MAX_PATH, path), L"quarlo-owner-trust.txt");
  HANDLE record = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(record, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(record_trusted_open(record));
  CloseHandle(record);
}

TEST(OwnerTrust, ALockDirectoryIsOursUnlessAnotherAccountOwnsIt) {
  for (const std::wstring &owner : {L"O:" + kUser, std::wstring(L"O:SY"), std::wstring(L"O:BA"),
                                    std::wstring(), L"O:" + kOther}) {
    SCOPED_TRACE(owner);
    EXPECT_EQ(lock_directory_ours(Descriptor(owner + kProgramData).get(), Sid(kUser.c_str()).get()),
              owner != L"O:" + kOther);
  }
}

}  // namespace
