// The DACL that util_change_permissions_everyone writes, built in memory: Wine accepts but
// does not keep a written DACL, so the list is checked before it reaches the platform.
#include <windows.h>
// After windows.h:
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "src/trust/grant_access.h"
#include "src/trust/permissions_steps.h"

namespace {

std::wstring dacl_text(PSECURITY_DESCRIPTOR descriptor) {
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"<unreadable>";
  }
  std::wstring result = text;
  LocalFree(text);
  return result;
}

class EveryoneDacl : public testing::Test {
 protected:
  void SetUp() override {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    ASSERT_TRUE(
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone_));
  }
  void TearDown() override { FreeSid(everyone_); }

  // The rebuilt DACL as SDDL text; the old descriptor must come out of it unchanged.
  std::wstring rebuild(PSECURITY_DESCRIPTOR old, DWORD rights = kFull) {
    const std::wstring before = dacl_text(old);
    SECURITY_DESCRIPTOR updated;
    PACL list = nullptr;
    if (!util_everyone_dacl(old, everyone_, rights, &updated, &list)) return L"<failed>";
    EXPECT_EQ(dacl_text(old), before) << "the old descriptor was changed";
    std::wstring result = dacl_text(&updated);
    HeapFree(GetProcessHeap(), 0, list);
    return result;
  }

  std::wstring rebuild(const wchar_t *sddl, DWORD rights = kFull) {
    PSECURITY_DESCRIPTOR old = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &old,
                                                              nullptr)) {
      return L"<bad test input>";
    }
    std::wstring result = rebuild(old, rights);
    LocalFree(old);
    return result;
  }

  static constexpr DWORD kFull = 0x1FFFFF;  // all standard and all specific rights
  PSID everyone_ = nullptr;
};

TEST_F(EveryoneDacl, ExplicitEveryoneEntriesGiveWayToOneFullAccessEntry) {
  // An allow and a deny entry for Everyone (WD) are both dropped.
  EXPECT_EQ(rebuild(L"D:(A;;FA;;;BA)(A;;FA;;;WD)(D;;FW;;;WD)(A;;FR;;;SY)"),
            L"D:(A;;FA;;;BA)(A;;FR;;;SY)(A;;0x1fffff;;;WD)");
  EXPECT_EQ(rebuild(L"D:(A;;FR;;;WD)(A;;FR;;;WD)(D;;FA;;;WD)"), L"D:(A;;0x1fffff;;;WD)");
}

TEST_F(EveryoneDacl, TheEntryCarriesTheGrantedRightsOnly) {
  // Others may read and delete a crash record, not rewrite it; config.txt may be read and
  // written, not deleted, re-permissioned or taken over.
  EXPECT_EQ(rebuild(L"D:(A;;FA;;;SY)(A;;FA;;;WD)", GRANT_RECORD),
            L"D:(A;;FA;;;SY)(A;;0x130089;;;WD)");
  EXPECT_EQ(rebuild(L"D:(A;;FA;;;SY)", GRANT_CONFIG), L"D:(A;;FA;;;SY)(A;;0x12019f;;;WD)");
}

TEST_F(EveryoneDacl, NewEntryGoesBeforeTheInheritedEntriesWhichKeepTheirOrder) {
  // Inherited entries stay as they were, an inherited one for Everyone included.
  EXPECT_EQ(rebuild(L"D:(A;;FA;;;BA)(A;ID;FA;;;SY)(A;ID;FR;;;WD)(A;ID;FX;;;BU)"),
            L"D:(A;;FA;;;BA)(A;;0x1fffff;;;WD)(A;ID;FA;;;SY)(A;ID;FR;;;WD)(A;ID;FX;;;BU)");
  // Only the entries before the first inherited one count as explicit.
  EXPECT_EQ(rebuild(L"D:(A;ID;FR;;;SY)(D;;FA;;;WD)(A;;FR;;;BA)"),
            L"D:(A;;0x1fffff;;;WD)(A;ID;FR;;;SY)(D;;FA;;;WD)(A;;FR;;;BA)");
}

TEST_F(EveryoneDacl, NoDaclNullDaclOrEmptyDaclGiveOnlyTheEveryoneEntry) {
  EXPECT_EQ(rebuild(L"O:BA"), L"D:(A;;0x1fffff;;;WD)");
  EXPECT_EQ(rebuild(L"D:"), L"D:(A;;0x1fffff;;;WD)");

  SECURITY_DESCRIPTOR null_dacl;
  ASSERT_TRUE(InitializeSecurityDescriptor(&null_dacl, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&null_dacl, TRUE, nullptr, FALSE));
  EXPECT_EQ(rebuild(&null_dacl), L"D:(A;;0x1fffff;;;WD)");
}

TEST_F(EveryoneDacl, ProtectionAndAutoInheritanceAreCarriedOver) {
  EXPECT_EQ(rebuild(L"D:P(A;;FA;;;BA)"), L"D:P(A;;FA;;;BA)(A;;0x1fffff;;;WD)");
  // An auto-inherited DACL is also asked to stay so (AR).
  EXPECT_EQ(rebuild(L"D:AI(A;;FA;;;BA)"), L"D:ARAI(A;;FA;;;BA)(A;;0x1fffff;;;WD)");
  // A file whose inheritance was switched off usually has both bits; it must stay protected.
  EXPECT_EQ(rebuild(L"D:PAI(A;;FA;;;BA)"), L"D:PARAI(A;;FA;;;BA)(A;;0x1fffff;;;WD)");
  // A bare request to auto-inherit is not a property of the DACL and is not carried.
  EXPECT_EQ(rebuild(L"D:AR(A;;FA;;;BA)"), L"D:(A;;FA;;;BA)(A;;0x1fffff;;;WD)");
}

TEST_F(EveryoneDacl, LongListsFitTheNewList) {
  std::wstring sddl = L"D:";
  std::wstring expected = L"D:";
  for (int i = 0; i < 60; ++i) {
    sddl += L"(A;;FR;;;BA)(A;;FA;;;WD)";
    expected += L"(A;;FR;;;BA)";
  }
  for (int i = 0; i < 20; ++i) sddl += L"(A;ID;FR;;;SY)";
  expected += L"(A;;0x1fffff;;;WD)";
  for (int i = 0; i < 20; ++i) expected += L"(A;ID;FR;;;SY)";
  EXPECT_EQ(rebuild(sddl.c_str()), expected);
}

}  // namespace
