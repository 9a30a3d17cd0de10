// What the launcher's hardening must withstand: a forged signature over an intact file, DLLs
// planted where a dependency would be looked for, data directories held by another process,
// and locks that outlive their pass.
#include <gtest/gtest.h>

#include <string>

#include "scenario.h"

namespace {

using scenario::Installation;
using scenario::read;

const char *kReinstallText =
    "Quarlo is either out of date or corrupt. Please try reinstalling from "
    "https://quarlo.app/download.";

uint32_t le32(const std::string &bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
         uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

// File offset of a byte inside the signer's signature value: the last 512-byte OCTET STRING
// of the PKCS#7 blob in the certificate table (an RSA-4096 signature). The certificate table
// is outside the signed content, so the file digest stays what was signed. 0 when not found.
long signature_value_offset(const std::string &image) {
  if (image.size() < 0x40) return 0;
  const size_t pe = le32(image, 0x3C);
  const size_t optional = pe + 4 + 20;
  if (optional + 152 > image.size() || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
    return 0;
  const size_t security = optional + 112 + 4 * 8;  // PE32+ data directory 4
  const size_t table = le32(image, security), size = le32(image, security + 4);
  if (table == 0 || table + size > image.size()) return 0;
  const std::string blob = image.substr(table + 8, size - 8);  // past WIN_CERTIFICATE's header
  const size_t header = blob.rfind(std::string("\x04\x82\x02\x00", 4));
  if (header == std::string::npos || header + 4 + 512 > blob.size()) return 0;
  return long(table + 8 + header + 4 + 256);
}

TEST(Hardening, ALibraryWithAnAlteredSignatureValueIsRefused) {
  Installation install;
  const std::string data = install.user_data();
  install.install_app(data, {"return=0"}, "app.dll", scenario::kHashA,
                      scenario::signed_app("rsa4096"));
  std::string image;
  ASSERT_TRUE(harness::read_file(data + "\\app.dll", &image));
  const long offset = signature_value_offset(image);
  ASSERT_GT(offset, 0) << "no RSA-4096 signature value in the certificate table";
  ASSERT_TRUE(scenario::flip_byte(data + "\\app.dll", offset));
  install.install_skel(install.program_files() + "\\skel", scenario::signed_app("rsa4096"));

  const auto launch = install.run("", "", scenario::signed_launcher());
  EXPECT_EQ(launch.exit_code, 9u) << "the restored, signed build ran instead";
  EXPECT_TRUE(launch.dialogs.empty());
  EXPECT_EQ(install.log(data).size(), 1u);
}

// Windows looks beside the program first for a DLL that is not a known DLL, so a bcrypt.dll
// planted there would run before the launcher's first line if it were a static import. Wine
// looks there only when told to prefer a native DLL of that name.
TEST(Hardening, DependenciesAreNotLoadedFromBesideTheLibraryOrTheLauncher) {
  Installation install;
  const std::string data = install.user_data();
  install.install_app(data, {"loadlib=quarlo_planted.dll return=4"});
  harness::TempDir launcher_dir("planted");
  const std::string launcher = launcher_dir.file("quarlo.exe");
  ASSERT_TRUE(CopyFileW(scenario::quarlo_path().c_str(), harness::widen(launcher).c_str(), FALSE));
  const std::wstring planted = harness::host_path(QUARLO_NO_ENTRY_APP);
  for (const std::string &dir : {data, launcher_dir.path()}) {
    ASSERT_TRUE(
        CopyFileW(planted.c_str(), harness::widen(dir + "\\quarlo_planted.dll").c_str(), FALSE));
  }
  ASSERT_TRUE(CopyFileW(harness::host_path(QUARLO_PLANTED_DLL).c_str(),
                        harness::widen(launcher_dir.file("bcrypt.dll")).c_str(), FALSE));

  // Wine's per-program override, since the test cannot change the variable WINEDLLOVERRIDES
  // that Wine reads for a child process.
  const wchar_t *overrides = L"Software\\Wine\\AppDefaults\\quarlo.exe\\DllOverrides";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, overrides, L"bcrypt", REG_SZ, L"native,builtin",
                            sizeof L"native,builtin"),
            ERROR_SUCCESS);
  const auto launch = install.run("", "", harness::widen(launcher));
  RegDeleteKeyW(HKEY_CURRENT_USER, overrides);

  EXPECT_EQ(read(launcher_dir.file("planted_ran.txt")), "(missing)");
  EXPECT_EQ(launch.exit_code, 4u);
  EXPECT_EQ(read(data + "\\test_app_probe.txt"), "quarlo_planted.dll=126\n");
}

// An open with delete access to the directory, or to the one above it, as a process about to
// move it would hold.
HANDLE hold_for_delete(const std::string &dir) {
  return CreateFileW(harness::widen(dir).c_str(), DELETE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Nothing in a data directory that cannot be locked is changed, not even a record to discard.
TEST(Hardening, AHeldDataDirectoryOrAncestorEndsTheLaunchWithItsBox) {
  struct Case {
    bool ancestor;
    const char *title;
    const char *stale_record_after;
  };
  for (const Case &c : {Case{false, "File System Error - Lock", "stale"},
                        Case{true, "File System Error - Recursive", "(missing)"}}) {
    SCOPED_TRACE(c.title);
    Installation install;
    const std::string data = install.user_data();
    install.install_app(data, {"return=5"});
    harness::write_file(data + "\\cc1.txt", "stale");
    HANDLE held = hold_for_delete(c.ancestor ? data.substr(0, data.rfind('\\')) : data);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
    const auto launch = install.run();
    CloseHandle(held);
    EXPECT_EQ(launch.exit_code, 0u);
    ASSERT_EQ(launch.dialogs.size(), 1u);
    EXPECT_EQ(launch.dialogs[0].title, c.title);
    EXPECT_EQ(launch.dialogs[0].text, kReinstallText);
    EXPECT_TRUE(install.log(data).empty());
    EXPECT_EQ(read(data + "\\cc1.txt"), c.stale_record_after);
  }
}

TEST(Hardening, ARelaunchedPassHoldsNoLockOfThePassBefore) {
  // The first pass names another library for the next one; that one then opens the first
  // library, and the directory above the data directory, for deletion.
  Installation install;
  const std::string data = install.user_data();
  install.install_app(data, {"rewrite=second.dll return=1", "probe=app.dll return=3"});
  ASSERT_TRUE(CopyFileW(harness::widen(scenario::test_app_path()).c_str(),
                        harness::widen(data + "\\second.dll").c_str(), FALSE));
  EXPECT_EQ(install.run().exit_code, 3u);
  EXPECT_EQ(read(data + "\\test_app_probe.txt"), "app.dll=0\nparent=0\n");
}

}  // namespace
