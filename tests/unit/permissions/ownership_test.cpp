// The permission operations on real files under Wine: their early returns, their reports,
// and the privilege switch.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "src/trust/grant_access.h"
#include "src/trust/permissions.h"
#include "src/trust/permissions_steps.h"
#include "zeb/log.h"

namespace {

using Messages = std::vector<std::string>;

void record(const char *message, void *opaque) {
  static_cast<Messages *>(opaque)->push_back(message);
}

// Access that Everyone is granted by the DACL the platform reports for `path`.
ACCESS_MASK everyone_access(const std::wstring &path) {
  BYTE buffer[4096];
  DWORD needed = 0;
  if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof(buffer), &needed))
    return 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(buffer, &present, &dacl, &defaulted) || !present || !dacl)
    return 0;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  ACCESS_MASK granted = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE *entry = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void **>(&entry)) &&
        entry->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&entry->SidStart, everyone)) {
      granted |= entry->Mask;
    }
  }
  FreeSid(everyone);
  return granted;
}

// A handle for the security changes, as the launcher opens the files it checked.
HANDLE open_checked(const wchar_t *path) {
  return CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

class FilePermissions : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    static int counter = 0;
    path_ = std::wstring(temp) + L"quarlo-permissions-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(++counter) + L".txt";
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    missing_ = std::wstring(temp) + L"quarlo-permissions-absent.txt";
    ZEB_SetLogCallback(record, &messages_);
  }
  void TearDown() override {
    ZEB_SetLogCallback(nullptr, nullptr);
    DeleteFileW(path_.c_str());
  }

  std::wstring path_;
  std::wstring missing_;
  Messages messages_;
};

TEST_F(FilePermissions, EveryoneGainsTheGrantedAccessToAFile) {
  // Wine keeps no DACL but maps Everyone's rights onto the Unix mode, so write access for
  // Everyone shows up afterwards.
  if (everyone_access(path_) & FILE_WRITE_DATA) GTEST_SKIP() << "Everyone may write already";
  EXPECT_TRUE(util_change_permissions_everyone(path_.c_str(), GRANT_CONFIG));
  EXPECT_EQ(messages_, Messages());
  EXPECT_TRUE(everyone_access(path_) & FILE_WRITE_DATA);
}

TEST_F(FilePermissions, MissingFileReportsTheFailedSizeQuery) {
  EXPECT_FALSE(util_change_permissions_everyone(missing_.c_str(), GRANT_CONFIG));
  EXPECT_EQ(messages_,
            Messages({"util_change_permissions_everyone: GetFileSecurity() failed. Error 2"}));
}

TEST_F(FilePermissions, TakingOwnershipLeavesEveryoneReadAccessOnly) {
  ASSERT_TRUE(util_change_permissions_everyone(path_.c_str(), GRANT_CONFIG));
  EXPECT_TRUE(util_take_ownership(path_.c_str()));
  EXPECT_EQ(messages_, Messages());
  const ACCESS_MASK granted = everyone_access(path_);
  EXPECT_TRUE(granted & FILE_READ_DATA);
  EXPECT_FALSE(granted & FILE_WRITE_DATA);
}

TEST_F(FilePermissions, TakingOwnershipDeclinesNetworkPathsAndMissingFiles) {
  EXPECT_TRUE(util_take_ownership(L"\\\\server\\share\\Quarlo\\cc0.txt"));
  EXPECT_TRUE(util_take_ownership(missing_.c_str()));
  EXPECT_TRUE(util_take_ownership((missing_ + L"\\").c_str()));
  EXPECT_EQ(messages_, Messages());
}

TEST_F(FilePermissions, OwnerChangeWithThePrivilegeThenSetsTheList) {
  PACL list = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                       0, 0, 0, 0, 0, 0, &admins));
  BYTE buffer[64];
  list = reinterpret_cast<PACL>(buffer);
  ASSERT_TRUE(InitializeAcl(list, sizeof(buffer), ACL_REVISION));
  ASSERT_TRUE(AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, admins));
  HANDLE file = open_checked(path_.c_str());
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(util_owner_then_dacl(file, admins, list));
  CloseHandle(file);
  EXPECT_EQ(messages_, Messages());
  FreeSid(admins);
}

// Removes the take-ownership privilege from the process token for good, so it runs in the
// child process of a death test.
void owner_change_without_privilege(const wchar_t *path) {
  Messages messages;
  ZEB_SetLogCallback(record, &messages);
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
  TOKEN_PRIVILEGES removal = {};
  removal.PrivilegeCount = 1;
  LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &removal.Privileges[0].Luid);
  removal.Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
  if (!AdjustTokenPrivileges(token, FALSE, &removal, sizeof(removal), nullptr, nullptr)) _exit(3);
  CloseHandle(token);

  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                           0, 0, &admins);
  HANDLE file = open_checked(path);
  const bool done = util_owner_then_dacl(file, admins, nullptr);
  CloseHandle(file);
  DeleteFileW(path);  // the child process made its own file and skips the fixture's cleanup
  for (const std::string &message : messages) fprintf(stderr, "[%s]\n", message.c_str());
  const Messages expected = {"util_set_privilege: The token does not have the specified privilege.",
                             "util_take_ownership: User is not an administrator."};
  _exit(!done && messages == expected ? 0 : 4);
}

TEST_F(FilePermissions, OwnerChangeWithoutThePrivilegeReportsBothSteps) {
  EXPECT_EXIT(owner_change_without_privilege(path_.c_str()), testing::ExitedWithCode(0), "");
}

TEST(TakeOwnershipPrivilege, SwitchesThePrivilegeOnAndOff) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  LUID id;
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &id));
  auto enabled = [&] {
    BYTE buffer[1024];
    DWORD needed = 0;
    if (!GetTokenInformation(token, TokenPrivileges, buffer, sizeof(buffer), &needed)) return false;
    const auto *privileges = reinterpret_cast<TOKEN_PRIVILEGES *>(buffer);
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES &entry = privileges->Privileges[i];
      if (entry.Luid.LowPart == id.LowPart && entry.Luid.HighPart == id.HighPart)
        return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
  };
  EXPECT_TRUE(util_set_privilege(token, true));
  EXPECT_TRUE(enabled());
  EXPECT_TRUE(util_set_privilege(token, false));
  EXPECT_FALSE(enabled());
  CloseHandle(token);
}

TEST(TakeOwnershipPrivilege, ReportsTokensThatCannotTakeIt) {
  Messages messages;
  ZEB_SetLogCallback(record, &messages);

  HANDLE query_only = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &query_only));
  EXPECT_FALSE(util_set_privilege(query_only, true));
  CloseHandle(query_only);

  // A copy of the process token with the privilege removed altogether.
  HANDLE process = nullptr;
  HANDLE stripped = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process));
  ASSERT_TRUE(DuplicateTokenEx(process, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                               TokenPrimary, &stripped));
  CloseHandle(process);
  TOKEN_PRIVILEGES removal = {};
  removal.PrivilegeCount = 1;
  ASSERT_TRUE(
      LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &removal.Privileges[0].Luid));
  removal.Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
  ASSERT_TRUE(AdjustTokenPrivileges(stripped, FALSE, &removal, sizeof(removal), nullptr, nullptr));
  EXPECT_FALSE(util_set_privilege(stripped, true));
  CloseHandle(stripped);

  ZEB_SetLogCallback(nullptr, nullptr);
  EXPECT_EQ(messages, Messages({"util_set_privilege: AdjustTokenPrivileges error: 5\n",
                                "util_set_privilege: The token does not have the specified "
                                "privilege."}));
}

}  // namespace
